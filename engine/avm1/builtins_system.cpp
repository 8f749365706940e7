// System (capabilities, security) and the player-facing services movies probe:
// ExternalInterface, FileReference, PrintJob, ContextMenu, Accessibility.
//
// This player runs without a browser or dialogs: there is no script container
// for ExternalInterface, a file dialog is always cancelled (the movie hears
// onCancel on a later tick) and printing is refused. The engine never opens a
// window of its own.
#include "engine/avm1/builtins.h"
#include "engine/avm1/builtins_gfx.h"
#include "engine/avm1/display_clip.h"
#include "engine/avm1/interpreter.h"
#include "engine/avm1/net.h"
#include "engine/avm1/script_engine.h"
#include "engine/core/limits.h"
#include "engine/display/display_object.h"
#include "engine/display/player.h"
#include "engine/swf/movie.h"

#include <QUrl>

using namespace swf::avm1::prop;

namespace swf::avm1::builtins {
namespace {

// A class whose constructor runs on the object `new` made (no native constructor).
FunctionObject* defineClassOn(Vm& vm, Object* on, const QString& name, NativeFn init, Object* prototype) {
    FunctionObject* f = vm.newNative(init, prototype);
    vm.defineValue(on, name, Value(f), kDontEnum);
    return f;
}

// A read-only property computed by `getter` (assignments are ignored).
void defineGetter(Vm& vm, Object* on, const QString& name, NativeFn getter, uint32_t flags = 0) {
    Property& p = on->define(vm.key(name), name, Value(), flags);
    p.getter = vm.newNative(getter);
}

// ---- System.security ---------------------------------------------------------------------

Value securitySandboxType(Vm& vm, CallArgs&) {
    return Value(QString::fromLatin1(Sandbox::typeName(Sandbox::typeOf(askerOf(vm)))));
}

// A policy file for its site, read when a load to that site needs it.
Value securityLoadPolicyFile(Vm& vm, CallArgs& a) {
    if (!vm.engine || a.size() < 1) return Value();
    const Movie* root = vm.engine->player().movie().get();
    if (auto resolved = Loader::resolve(root ? root->url : std::string(), vm.toString(a.at(0)).toStdString()))
        vm.engine->player().loader().sandbox().addPolicyFile(*resolved);
    return Value();
}

Value doNothing(Vm&, CallArgs&) { return Value(); }
Value returnFalse(Vm&, CallArgs&) { return Value(false); }

// `$version` and System.capabilities describe one player: its platform
// code names the same system as `os` and `manufacturer`.
constexpr const char* kPlayerVersion = "LNX 9,0,999,0";

// ---- ExternalInterface -----------------------------------------------------------------------
// No container hosts this player: `available` is false, calls give null and
// callbacks cannot be registered. The XML helpers that the interface uses to
// pass values are real, as movies call them directly.

QString escapeXml(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        switch (c.unicode()) {
        case '&': out += QStringLiteral("&amp;"); break;
        case '<': out += QStringLiteral("&lt;"); break;
        case '>': out += QStringLiteral("&gt;"); break;
        case '"': out += QStringLiteral("&quot;"); break;
        case '\'': out += QStringLiteral("&apos;"); break;
        default: out += c;
        }
    }
    return out;
}

// The five entities only, in one pass, names matched exactly.
QString unescapeXml(const QString& s) {
    static const struct { const char* entity; char16_t ch; } entities[] = {
        {"&amp;", u'&'}, {"&quot;", u'"'}, {"&apos;", u'\''}, {"&lt;", u'<'}, {"&gt;", u'>'},
    };
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        bool replaced = false;
        if (s[i] == u'&')
            for (const auto& e : entities) {
                QLatin1String name(e.entity);
                if (QStringView(s).mid(i).startsWith(name)) {
                    out += QChar(e.ch);
                    i += name.size() - 1;
                    replaced = true;
                    break;
                }
            }
        if (!replaced) out += s[i];
    }
    return out;
}

// An empty text has no XML form: the helpers give null for it.
Value escapedOrNull(Vm& vm, const Value& v, QString (*convert)(const QString&)) {
    QString s = vm.toString(v);
    return s.isEmpty() ? Value::null() : Value(convert(s));
}

Value eiEscapeXml(Vm& vm, CallArgs& a) { return a.size() ? escapedOrNull(vm, a.at(0), escapeXml) : Value::null(); }
Value eiUnescapeXml(Vm& vm, CallArgs& a) { return a.size() ? escapedOrNull(vm, a.at(0), unescapeXml) : Value::null(); }

QString toXml(Vm& vm, const Value& v, int depth);

QString arrayToXml(Vm& vm, const Value& v, int depth) {
    QString out = QStringLiteral("<array>");
    Object* o = v.asObject();
    int n = o ? std::clamp(vm.toInt(vm.getMember(v, QStringLiteral("length"))), 0, int(limits::kMaxArrayLength)) : 0;
    if (v.isString()) n = int(v.asString().size());
    for (int i = 0; i < n && size_t(out.size()) < limits::kMaxStringLength; ++i)
        out += QStringLiteral("<property id=\"%1\">%2</property>")
                   .arg(i)
                   .arg(o ? toXml(vm, vm.getMember(v, QString::number(i)), depth + 1) : QStringLiteral("<undefined/>"));
    return out + QStringLiteral("</array>");
}

// The arguments of a call: every element after the first (the function name).
QString argumentsToXml(Vm& vm, const Value& v, int depth) {
    QString out = QStringLiteral("<arguments>");
    Object* o = v.asObject();
    int n = o ? std::clamp(vm.toInt(vm.getMember(v, QStringLiteral("length"))), 0, int(limits::kMaxArrayLength)) : 0;
    if (v.isString()) n = int(v.asString().size());
    for (int i = 1; i < n && size_t(out.size()) < limits::kMaxStringLength; ++i)
        out += o ? toXml(vm, vm.getMember(v, QString::number(i)), depth + 1) : QStringLiteral("<undefined/>");
    return out + QStringLiteral("</arguments>");
}

QString objectToXml(Vm& vm, const Value& v, int depth) {
    QString out = QStringLiteral("<object>");
    if (Object* o = v.asObject()) {
        auto keys = vm.enumerableKeys(o);
        // for..in order: the newest member first.
        for (auto it = keys.rbegin(); it != keys.rend() && size_t(out.size()) < limits::kMaxStringLength; ++it)
            out += QStringLiteral("<property id=\"%1\">%2</property>")
                       .arg(*it, toXml(vm, vm.getMember(v, *it), depth + 1));
    }
    return out + QStringLiteral("</object>");
}

QString toXml(Vm& vm, const Value& v, int depth) {
    if (depth > limits::kMaxProtoDepth || vm.hasException()) return QStringLiteral("<null/>");
    switch (v.type()) {
    case Type::Undefined: return QStringLiteral("<undefined/>");
    case Type::Null: return QStringLiteral("<null/>");
    case Type::Boolean: return v.asBool() ? QStringLiteral("<true/>") : QStringLiteral("<false/>");
    case Type::Number: return QStringLiteral("<number>%1</number>").arg(vm.toString(v));
    case Type::String: {
        Value e = escapedOrNull(vm, v, escapeXml);
        return QStringLiteral("<string>%1</string>").arg(e.isNull() ? QStringLiteral("null") : e.asString());
    }
    case Type::Object: break;
    }
    Object* o = v.asObject();
    if (o->kind() == Kind::Function) return QStringLiteral("<null/>");
    if (o->kind() == Kind::Array) return arrayToXml(vm, v, depth);
    return objectToXml(vm, v, depth);
}

// XML back to values: <property id="..."> children for arrays and objects,
// <null/>, <true/>, <string>text</string> ... for the rest. Nodes are read
// through their members, so any XML node (or look-alike object) works.
Value toAs(Vm& vm, const Value& node, int depth);

bool nodeNamed(Vm& vm, const Value& node, const char* name) {
    Value n = vm.getMember(node, QStringLiteral("nodeName"));
    if (n.isObject()) n = vm.toPrimitive(n);
    return n.isString() && n.asString() == QLatin1String(name);
}

// Calls `each(child)` for the node's children, a bounded number of them.
template <typename Fn>
void forEachChild(Vm& vm, const Value& node, Fn each) {
    Value children = vm.getMember(node, QStringLiteral("childNodes"));
    if (!children.isObject()) return;
    int n = std::clamp(vm.toInt(vm.getMember(children, QStringLiteral("length"))), 0, int(limits::kMaxArrayLength));
    for (int i = 0; i < n && !vm.hasException() && !vm.halted(); ++i) each(vm.getMember(children, QString::number(i)));
}

// Children as <property id="name">value</property> into `out`.
Value propertiesToAs(Vm& vm, const Value& node, Object* out, int depth) {
    forEachChild(vm, node, [&](const Value& child) {
        Value id = vm.getMember(vm.getMember(child, QStringLiteral("attributes")), QStringLiteral("id"));
        vm.setMember(out, vm.toString(id), toAs(vm, vm.getMember(child, QStringLiteral("firstChild")), depth + 1));
    });
    return Value(out);
}

Value toAs(Vm& vm, const Value& node, int depth) {
    if (depth > limits::kMaxProtoDepth || vm.hasException()) return Value();
    if (nodeNamed(vm, node, "null")) return Value::null();
    if (nodeNamed(vm, node, "true")) return Value(true);
    if (nodeNamed(vm, node, "false")) return Value(false);
    if (nodeNamed(vm, node, "string")) return Value(vm.toString(vm.getMember(node, QStringLiteral("firstChild"))));
    if (nodeNamed(vm, node, "number"))
        return Value(vm.toNumber(Value(vm.toString(vm.getMember(node, QStringLiteral("firstChild"))))));
    if (nodeNamed(vm, node, "array")) return propertiesToAs(vm, node, vm.newArray(), depth);
    if (nodeNamed(vm, node, "object")) return propertiesToAs(vm, node, vm.newObject(), depth);
    return Value();
}

Value eiToAs(Vm& vm, CallArgs& a) { return toAs(vm, a.at(0), 0); }
Value eiArrayToAs(Vm& vm, CallArgs& a) { return propertiesToAs(vm, a.at(0), vm.newArray(), 0); }
Value eiObjectToAs(Vm& vm, CallArgs& a) { return propertiesToAs(vm, a.at(0), vm.newObject(), 0); }
Value eiArgumentsToAs(Vm& vm, CallArgs& a) {
    ArrayObject* out = vm.newArray();
    forEachChild(vm, a.at(0), [&](const Value& child) { out->items.push_back(toAs(vm, child, 1)); });
    return Value(out);
}

Value eiToXml(Vm& vm, CallArgs& a) { return Value(toXml(vm, a.at(0), 0)); }
Value eiArrayToXml(Vm& vm, CallArgs& a) { return Value(arrayToXml(vm, a.at(0), 0)); }
Value eiArgumentsToXml(Vm& vm, CallArgs& a) { return Value(argumentsToXml(vm, a.at(0), 0)); }
Value eiObjectToXml(Vm& vm, CallArgs& a) { return Value(objectToXml(vm, a.at(0), 0)); }
Value eiCall(Vm&, CallArgs&) { return Value::null(); }

// ---- FileReference / FileReferenceList --------------------------------------------------------

// An own member of a filter; a getter that throws makes the filter invalid.
std::optional<Value> ownMember(Vm& vm, Object* o, const QString& name) {
    Property* p = o->find(vm.key(name));
    if (!p) return std::nullopt;
    if (!p->isVirtual()) return p->value;
    Value v = vm.call(Value(p->getter), Value(o), {});
    if (vm.takeException()) return std::nullopt;
    return v;
}

enum class Filters { Valid, Invalid, Threw };

// browse() filters: an array of objects, each with its own non-empty
// `description` and `extension`. Conversions that throw reach the movie.
Filters checkFilters(Vm& vm, CallArgs& a) {
    if (a.size() == 0) return Filters::Valid;
    auto* list = dynamic_cast<ArrayObject*>(a.at(0).asObject());
    if (!list || list->items.empty()) return Filters::Invalid;
    for (const Value& item : std::vector<Value>(list->items)) {
        Object* f = item.asObject();
        if (!f) return Filters::Invalid;
        for (const char* field : {"description", "extension"}) {
            auto v = ownMember(vm, f, QString::fromLatin1(field));
            if (!v) return Filters::Invalid;
            QString s = vm.toString(*v);
            if (vm.hasException()) return Filters::Threw;
            if (s.isEmpty()) return Filters::Invalid;
        }
        if (auto mac = ownMember(vm, f, QStringLiteral("macType")); mac && !mac->isUndefined()) {
            vm.toString(*mac);
            if (vm.hasException()) return Filters::Threw;
        }
    }
    return Filters::Valid;
}

// The dialog a browse would open is cancelled: listeners hear onCancel on the next tick.
void cancelLater(Vm& vm, Object* self) {
    ScriptTimer t;
    t.repeat = false;
    t.target = Value(self);
    t.method = QStringLiteral("broadcastMessage");
    t.args = {Value(QStringLiteral("onCancel")), Value(self)};
    vm.addTimer(std::move(t));
}

void makeBroadcaster(Vm& vm, Object* self) {
    Value bc = broadcasterClass(vm);
    Value arg(self);
    vm.callMethod(bc, QStringLiteral("initialize"), std::span<const Value>(&arg, 1));
}

// A class whose prototype is a broadcaster: its instances share the listener
// methods but each gets its own list.
void makeBroadcasterPrototype(Vm& vm, Object* proto) {
    makeBroadcaster(vm, proto);
    for (const char* name : {"_listeners", "addListener", "removeListener", "broadcastMessage"})
        if (Property* p = proto->find(vm.key(QString::fromLatin1(name)))) p->flags |= kDontDelete;
}

Value fileRefInit(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    vm.setMember(self, QStringLiteral("_listeners"), Value(vm.newArray()));
    // The file's details read undefined until a file is chosen, which never happens here.
    for (const char* name : {"creationDate", "creator", "modificationDate", "name", "size", "type"})
        defineGetter(vm, self, QString::fromLatin1(name), doNothing);
    vm.setMember(self, QStringLiteral("postData"), Value(QStringLiteral("undefined")));
    return Value();
}

Value fileRefListInit(Vm& vm, CallArgs& a) {
    if (Object* self = a.thisObject()) makeBroadcaster(vm, self);
    return Value();
}

Value fileRefBrowse(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value(false);
    Filters f = checkFilters(vm, a);
    if (f != Filters::Valid) return f == Filters::Threw ? Value() : Value(false);
    cancelLater(vm, self);
    return Value(true);
}

// download() asks where to save first; that dialog is cancelled too.
Value fileRefDownload(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self || a.size() == 0) return Value(false);
    QString url = vm.toString(a.at(0));
    if (url.isEmpty()) return Value(false);
    cancelLater(vm, self);
    return Value(true);
}

// ---- PrintJob ------------------------------------------------------------------------------
// Printing is refused: start() answers false and the page sizes stay 0.

Value printStart(Vm&, CallArgs&) { return Value(false); }
Value printPageSize(Vm&, CallArgs&) { return Value(0); }

// The page properties are put on PrintJob.prototype (whatever object it is
// then) by the first constructor call that finds them missing.
Value printJobInit(Vm& vm, CallArgs& a) {
    Object* proto = a.callee ? vm.getMember(Value(a.callee), QStringLiteral("prototype")).asObject() : nullptr;
    if (!proto || proto->find(vm.key(QStringLiteral("orientation")))) return Value();
    // for..in lists the newest first: orientation, pageWidth, pageHeight, paperWidth, paperHeight.
    for (const char* name : {"paperHeight", "paperWidth", "pageHeight", "pageWidth", "orientation"})
        defineGetter(vm, proto, QString::fromLatin1(name), printPageSize);
    return Value();
}

// ---- ContextMenu / ContextMenuItem --------------------------------------------------------

const char* const kBuiltInItems[] = {"print", "forward_back", "rewind", "loop", "play", "quality", "zoom", "save"};

Object* newBuiltInItems(Vm& vm, Object* from) {
    Object* items = vm.newObject();
    for (const char* name : kBuiltInItems) {
        QString n = QString::fromLatin1(name);
        vm.setMember(items, n, from ? Value(vm.toBool(vm.getMember(Value(from), n))) : Value(true));
    }
    return items;
}

Value menuInit(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    vm.setMember(self, QStringLiteral("onSelect"), a.at(0));
    vm.setMember(self, QStringLiteral("customItems"), Value(vm.newArray()));
    vm.setMember(self, QStringLiteral("builtInItems"), Value(newBuiltInItems(vm, nullptr)));
    return Value();
}

Value menuHideBuiltIns(Vm& vm, CallArgs& a) {
    Object* items = vm.getMember(a.thisv, QStringLiteral("builtInItems")).asObject();
    if (!items) return Value();
    for (const char* name : kBuiltInItems) vm.setMember(items, QString::fromLatin1(name), Value(false));
    return Value();
}

Value menuCopy(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    Value ctor = vm.getMember(vm.getMember(Value(vm.global()), QStringLiteral("ContextMenu")), QStringLiteral("prototype"));
    Object* copy = vm.newObject(ctor.asObject());
    vm.setMember(copy, QStringLiteral("onSelect"), vm.getMember(a.thisv, QStringLiteral("onSelect")));
    Object* builtIns = vm.getMember(a.thisv, QStringLiteral("builtInItems")).asObject();
    vm.setMember(copy, QStringLiteral("builtInItems"), Value(newBuiltInItems(vm, builtIns)));
    std::vector<Value> custom;
    if (auto* items = dynamic_cast<ArrayObject*>(vm.getMember(a.thisv, QStringLiteral("customItems")).asObject()))
        for (const Value& item : std::vector<Value>(items->items))
            custom.push_back(item.isObject() ? vm.callMethod(item, QStringLiteral("copy"), {}) : item);
    vm.setMember(copy, QStringLiteral("customItems"), Value(vm.newArray(std::move(custom))));
    return Value(copy);
}

// ContextMenuItem(caption, onSelect, separatorBefore = false, enabled = true, visible = true)
void setItemFields(Vm& vm, Object* item, std::span<const Value> args) {
    auto at = [&](size_t i) { return i < args.size() ? args[i] : Value(); };
    vm.setMember(item, QStringLiteral("caption"), at(0));
    vm.setMember(item, QStringLiteral("onSelect"), at(1));
    vm.setMember(item, QStringLiteral("separatorBefore"), at(2).isUndefined() ? Value(false) : Value(vm.toBool(at(2))));
    vm.setMember(item, QStringLiteral("enabled"), at(3).isUndefined() ? Value(true) : Value(vm.toBool(at(3))));
    vm.setMember(item, QStringLiteral("visible"), at(4).isUndefined() ? Value(true) : Value(vm.toBool(at(4))));
}

Value menuItemInit(Vm& vm, CallArgs& a) {
    if (Object* self = a.thisObject()) setItemFields(vm, self, a.args);
    return Value();
}

Value menuItemCopy(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    Object* copy = vm.newObject(self->proto());
    std::vector<Value> fields;
    for (const char* name : {"caption", "onSelect", "separatorBefore", "enabled", "visible"})
        fields.push_back(vm.getMember(a.thisv, QString::fromLatin1(name)));
    setItemFields(vm, copy, fields);
    return Value(copy);
}

// ---- install ----------------------------------------------------------------------------------

void installSecurity(Vm& vm, Object* system) {
    Object* security = vm.newObject();
    vm.defineValue(system, QStringLiteral("security"), Value(security), kDontEnum);
    defineGetter(vm, security, QStringLiteral("sandboxType"), securitySandboxType, kHidden);
    // The domain lists are not kept (movies here are not sandboxed from each
    // other); a call names at least one domain to succeed.
    for (const char* name : {"allowDomain", "allowInsecureDomain"})
        vm.defineMethod(security, QString::fromLatin1(name), [](Vm&, CallArgs& a) { return Value(a.size() > 0); });
    vm.defineMethod(security, QStringLiteral("loadPolicyFile"), securityLoadPolicyFile);
}

// System.capabilities, and its summary as the query string `serverString`
// (short keys, t/f for flags, escaped text).
void installCapabilities(Vm& vm, Object* system) {
    Object* caps = vm.newObject();
    vm.defineValue(system, QStringLiteral("capabilities"), Value(caps), kDontEnum);
    struct Capability { const char* name; const char* key; Value v; };
    const Capability capabilities[] = {
        {"version", "V", Value(QString::fromLatin1(kPlayerVersion))}, {"os", "OS", Value(QStringLiteral("Linux"))},
        {"manufacturer", "M", Value(QStringLiteral("Swiftreel Linux"))},
        {"playerType", "PT", Value(QStringLiteral("StandAlone"))}, {"language", "L", Value(QStringLiteral("en"))},
        {"screenResolutionX", "R", Value(1920)}, {"screenResolutionY", nullptr, Value(1080)},
        {"screenDPI", "DP", Value(72)}, {"screenColor", "COL", Value(QStringLiteral("color"))},
        {"hasAudio", "A", Value(true)}, {"hasMP3", "MP3", Value(true)}, {"hasVideoEncoder", "VE", Value(false)},
        {"isDebugger", "DEB", Value(false)}, {"hasAccessibility", "ACC", Value(false)},
        {"avHardwareDisable", "AVD", Value(true)}, {"localFileReadDisable", "LFD", Value(false)},
        {"pixelAspectRatio", "AR", Value(1)}, {"hasPrinting", "PR", Value(false)},
        {"hasStreamingAudio", "SA", Value(true)}, {"hasStreamingVideo", "SV", Value(false)},
        {"hasEmbeddedVideo", "EV", Value(false)}, {"hasAudioEncoder", "AE", Value(false)},
        {"hasScreenPlayback", "SP", Value(false)}, {"hasScreenBroadcast", "SB", Value(false)},
        {"hasIME", "IME", Value(false)}, {"windowlessDisable", "WD", Value(true)}, {"hasTLS", "TLS", Value(true)},
    };
    QStringList summary;
    for (const Capability& c : capabilities) {
        vm.setMember(caps, QString::fromLatin1(c.name), c.v);
        if (!c.key) continue;
        QString text = c.v.isBool() ? QString(QChar(c.v.asBool() ? u't' : u'f')) : vm.toString(c.v);
        if (c.key == std::string_view("R")) text += u'x' + vm.toString(capabilities[6].v); // width x height
        summary << QString::fromLatin1(c.key) + u'=' + QString::fromLatin1(QUrl::toPercentEncoding(text));
    }
    vm.setMember(caps, QStringLiteral("serverString"), Value(summary.join(u'&')));
}

// System.Product: a handle on an installable player component. Nothing is
// ever installed here, so both requests are refused.
void installProduct(Vm& vm, Object* system) {
    Object* proto = vm.newObject();
    defineClassOn(vm, system, QStringLiteral("Product"), doNothing, proto);
    vm.defineMethod(proto, QStringLiteral("download"), returnFalse);
    vm.defineMethod(proto, QStringLiteral("launch"), returnFalse);
}

void installExternalInterface(Vm& vm) {
    Object* ei = vm.newObject();
    vm.defineValue(gfx::package(vm, QStringLiteral("flash.external")), QStringLiteral("ExternalInterface"), Value(ei), kDontEnum);
    vm.defineValue(ei, QStringLiteral("available"), Value(false), kHidden | kReadOnly);
    struct { const char* name; NativeFn fn; } methods[] = {
        {"addCallback", returnFalse}, {"call", eiCall}, {"_escapeXML", eiEscapeXml}, {"_unescapeXML", eiUnescapeXml},
        {"_toXML", eiToXml}, {"_arrayToXML", eiArrayToXml}, {"_argumentsToXML", eiArgumentsToXml},
        {"_objectToXML", eiObjectToXml}, {"_toAS", eiToAs}, {"_arrayToAS", eiArrayToAs},
        {"_argumentsToAS", eiArgumentsToAs}, {"_objectToAS", eiObjectToAs},
    };
    for (auto& m : methods) vm.defineMethod(ei, QString::fromLatin1(m.name), m.fn);
}

void installFileReference(Vm& vm) {
    Object* net = gfx::package(vm, QStringLiteral("flash.net"));
    Object* ref = vm.newObject();
    defineClassOn(vm, net, QStringLiteral("FileReference"), fileRefInit, ref);
    makeBroadcasterPrototype(vm, ref);
    vm.defineMethod(ref, QStringLiteral("browse"), fileRefBrowse);
    vm.defineMethod(ref, QStringLiteral("download"), fileRefDownload);
    vm.defineMethod(ref, QStringLiteral("upload"), returnFalse); // nothing was ever selected
    vm.defineMethod(ref, QStringLiteral("cancel"), doNothing);

    Object* list = vm.newObject();
    defineClassOn(vm, net, QStringLiteral("FileReferenceList"), fileRefListInit, list);
    vm.defineMethod(list, QStringLiteral("browse"), fileRefBrowse);
}

void installPrintJob(Vm& vm) {
    Object* proto = vm.newObject();
    defineClassOn(vm, vm.global(), QStringLiteral("PrintJob"), printJobInit, proto);
    vm.defineMethod(proto, QStringLiteral("start"), printStart);
    vm.defineMethod(proto, QStringLiteral("addPage"), returnFalse);
    vm.defineMethod(proto, QStringLiteral("send"), doNothing);
}

void installContextMenu(Vm& vm) {
    Object* menu = vm.newObject();
    defineClassOn(vm, vm.global(), QStringLiteral("ContextMenu"), menuInit, menu);
    vm.defineMethod(menu, QStringLiteral("hideBuiltInItems"), menuHideBuiltIns);
    vm.defineMethod(menu, QStringLiteral("copy"), menuCopy);

    Object* item = vm.newObject();
    defineClassOn(vm, vm.global(), QStringLiteral("ContextMenuItem"), menuItemInit, item);
    vm.defineMethod(item, QStringLiteral("copy"), menuItemCopy);
}

} // namespace

void installSystem(Vm& vm, ScriptEngine& engine) {
    (void)engine;
    Object* system = vm.newObject();
    vm.defineValue(vm.global(), QStringLiteral("System"), Value(system), kDontEnum);
    installCapabilities(vm, system);
    installSecurity(vm, system);
    installProduct(vm, system);
    vm.setMember(system, QStringLiteral("useCodepage"), Value(false));
    // Movies before version 6 never had exactSettings (it changed how they read domains).
    vm.defineValue(system, QStringLiteral("exactSettings"), Value(true), kVersion6);
    vm.defineMethod(system, QStringLiteral("setClipboard"), doNothing);
    vm.defineMethod(system, QStringLiteral("showSettings"), doNothing);
    // Each movie's main timeline carries the player's version as `$version`.
    if (vm.root()) vm.defineValue(vm.root(), QStringLiteral("$version"), Value(QString::fromLatin1(kPlayerVersion)), kDontEnum);

    Object* accessibility = vm.newObject();
    vm.defineValue(vm.global(), QStringLiteral("Accessibility"), Value(accessibility), kDontEnum);
    // The methods came with version 6 movies.
    vm.defineMethod(accessibility, QStringLiteral("isActive"), returnFalse, kVersion6);
    vm.defineMethod(accessibility, QStringLiteral("updateProperties"), doNothing, kVersion6);
    vm.defineMethod(accessibility, QStringLiteral("sendEvent"), doNothing, kVersion6);
    vm.sealBuiltinObject(accessibility, kDontDelete | kReadOnly); // its methods stay enumerable

    installExternalInterface(vm);
    installFileReference(vm);
    installPrintJob(vm);
    installContextMenu(vm);
}

} // namespace swf::avm1::builtins
