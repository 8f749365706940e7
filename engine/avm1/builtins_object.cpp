// Object, Function, Error, Boolean and the global functions.
#include "engine/avm1/builtins.h"
#include "engine/avm1/clip_object.h"
#include "engine/avm1/interpreter.h"
#include "engine/core/limits.h"

#include <QUrl>

#include <algorithm>
#include <cmath>

namespace swf::avm1 {

void Vm::installBuiltins() {
    objectProto = make<Object>(nullptr);
    functionProto = make<Object>(objectProto);
    // _global is a bare object: no prototype, so it prints as [type Object].
    m_global = make<Object>(nullptr);
    emptySuper = make<Object>(nullptr);
    builtins::installObject(*this);
    builtins::installArray(*this);
    builtins::installString(*this);
    builtins::installDate(*this);
    builtins::installClip(*this);
    builtins::installMedia(*this);
    builtins::recordNativeIds(*this);
    // Functions made before Function itself get their constructor now.
    for (const auto& o : m_heap)
        if (auto* f = dynamic_cast<FunctionObject*>(o.get())) giveFunctionMembers(f);
}

namespace builtins {
namespace {

using namespace prop;

// ---- Object ------------------------------------------------------------------------

Value objectConstruct(Vm& vm, CallArgs& a) {
    if (a.size() && !a.at(0).isNullish()) return Value(vm.toObject(a.at(0)));
    return Value(vm.newObject());
}
// Object(undefined) and Object(null) called as a function give a bare object
// with no prototype: it has no valueOf, so it adds as undefined.
Value objectCall(Vm& vm, CallArgs& a) {
    if (a.size() && a.at(0).isNullish()) return Value(vm.make<Object>(nullptr));
    return objectConstruct(vm, a);
}

Value objectToString(Vm&, CallArgs& a) {
    Object* o = a.thisObject();
    // `super` in a method of a function is of the function's type.
    if (auto* sup = dynamic_cast<SuperObject*>(o)) o = sup->thisv.asObject();
    if (o && o->kind() == Kind::Function) return Value(QStringLiteral("[type Function]"));
    return Value(QStringLiteral("[object Object]"));
}

Value objectValueOf(Vm&, CallArgs& a) { return a.thisv; }

Value objectHasOwnProperty(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o || !a.size()) return Value(false);
    return Value(vm.hasOwnProperty(o, vm.toString(a.at(0))));
}

Value objectIsPropertyEnumerable(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o || !a.size()) return Value(false);
    QString name = vm.toString(a.at(0));
    // Only DontEnum counts: a member hidden from this version is still enumerable here.
    if (const Property* p = o->find(vm.key(name))) return Value(!(p->flags & kDontEnum));
    return Value(o->kind() == Kind::Array && arrayIndex(name) >= 0 && o->hasSpecial(vm, name));
}

// Walks the __proto__ members as this movie sees them: one hidden from its
// version ends the chain.
Value objectIsPrototypeOf(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    Object* v = a.at(0).asObject();
    if (!o || !v) return Value(false);
    int depth = 0;
    for (Object* at = v; at && depth < limits::kMaxProtoDepth; ++depth) {
        const Property* link = at->find(protoKey());
        if (!link || !vm.visible(*link)) break;
        at = at->proto();
        if (at == o) return Value(true);
    }
    return Value(false);
}

Value objectAddProperty(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o || a.size() < 2) return Value(false);
    QString name = vm.toString(a.at(0));
    Object* getter = a.at(1).asObject();
    Object* setter = a.at(2).asObject();
    if (name.isEmpty() || !getter || getter->kind() != Kind::Function) return Value(false);
    // The setter must be a function or null (read-only property).
    if (!a.at(2).isNull() && (!setter || setter->kind() != Kind::Function)) return Value(false);
    if (a.at(2).isNull()) setter = nullptr;
    const QString k = vm.key(name);
    Property* p = o->find(k);
    if (p && (p->flags & kReadOnly) && !p->isVirtual()) return Value(false);
    uint32_t flags = p ? p->flags : 0;
    // The slot keeps its old value (a watch reports it as the old value).
    Property& np = o->define(k, name, p ? p->value : Value(), flags);
    np.getter = getter;
    np.setter = setter;
    return Value(true);
}

Value objectWatch(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o || a.size() < 2) return Value(false);
    Object* cb = a.at(1).asObject();
    if (!cb || cb->kind() != Kind::Function) return Value(false);
    const QString k = vm.key(vm.toString(a.at(0)));
    for (auto& w : o->watches)
        if (w.key == k) { w.callback = cb; w.data = a.at(2); return Value(true); }
    o->watches.push_back({k, cb, a.at(2)});
    return Value(true);
}

Value objectUnwatch(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o || !a.size()) return Value(false);
    const QString k = vm.key(vm.toString(a.at(0)));
    for (size_t i = 0; i < o->watches.size(); ++i)
        if (o->watches[i].key == k) { o->watches.erase(o->watches.begin() + long(i)); return Value(true); }
    return Value(false);
}

Value objectRegisterClass(Vm& vm, CallArgs& a) {
    if (a.size() < 2) return Value(false);
    QString name = Vm::registeredClassKey(vm.version(), vm.toString(a.at(0)));
    const Value& ctor = a.at(1);
    // Only a function registers; null or undefined forgets the symbol's class.
    if (vm.isCallable(ctor)) vm.registeredClasses[name] = ctor.asObject();
    else if (ctor.isNull() || ctor.isUndefined()) vm.registeredClasses.erase(name);
    else return Value(false);
    return Value(true);
}

// ---- Function ---------------------------------------------------------------------

Value functionCall(Vm& vm, CallArgs& a) {
    Value thisArg = a.at(0);
    std::span<const Value> rest = a.size() > 1 ? a.args.subspan(1) : std::span<const Value>();
    return vm.call(a.thisv, thisArg, rest);
}

Value functionApply(Vm& vm, CallArgs& a) {
    std::vector<Value> args;
    if (Object* arr = a.at(1).asObject()) {
        int n = vm.toInt(vm.getMember(Value(arr), QStringLiteral("length")));
        n = std::clamp(n, 0, int(limits::kMaxArrayLength));
        // The arguments are copied twice: here and into the callee's `arguments`.
        if (!vm.chargeWork(size_t(n)) || !vm.allocate(2 * size_t(n) * sizeof(Value))) return Value();
        args.reserve(size_t(n));
        for (int i = 0; i < n; ++i) args.push_back(vm.getMember(Value(arr), QString::number(i)));
    }
    return vm.call(a.thisv, a.at(0), args);
}

Value functionCtor(Vm& vm, CallArgs&) { return Value(vm.newObject()); }

// ---- Error -------------------------------------------------------------------------

Value errorCtor(Vm& vm, CallArgs& a) {
    Object* e = vm.make<Object>(vm.errorProto, Kind::Error);
    if (a.size() && !a.at(0).isUndefined()) vm.setMember(e, QStringLiteral("message"), a.at(0));
    return Value(e);
}
Value errorToString(Vm& vm, CallArgs& a) {
    return Value(vm.toString(vm.getMember(a.thisv, QStringLiteral("message"))));
}

// ---- Boolean -----------------------------------------------------------------------

// Boolean() with no argument gives undefined, not false.
Value booleanCall(Vm& vm, CallArgs& a) { return a.size() ? Value(vm.toBool(a.at(0))) : Value(); }
Value booleanCtor(Vm& vm, CallArgs& a) {
    Object* o = vm.make<Object>(vm.booleanProto, Kind::Boolean);
    o->primitive = Value(a.size() ? vm.toBool(a.at(0)) : false);
    return Value(o);
}
Value booleanValueOf(Vm&, CallArgs& a) {
    if (a.thisv.isBool()) return a.thisv;
    Object* o = a.thisObject();
    return o && o->kind() == Kind::Boolean ? o->primitive : Value();
}
Value booleanToString(Vm& vm, CallArgs& a) {
    Value v = booleanValueOf(vm, a);
    if (!v.isBool()) return Value();
    return Value(v.asBool() ? QStringLiteral("true") : QStringLiteral("false"));
}

// ---- Global functions ------------------------------------------------------------

Value globalParseInt(Vm& vm, CallArgs& a) {
    QString s = vm.toString(a.at(0));
    int radix = a.size() > 1 && !a.at(1).isUndefined() ? vm.toInt(a.at(1)) : 0;
    int i = 0;
    const int n = s.size();
    while (i < n && s[i].isSpace()) ++i;
    bool negative = false;
    if (i < n && (s[i] == u'-' || s[i] == u'+')) { negative = s[i] == u'-'; ++i; }
    if (radix == 0) {
        if (i + 1 < n && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) { radix = 16; i += 2; }
        else if (i + 1 < n && s[i] == u'0' && s[i + 1].isDigit()) {
            // A leading zero means octal, when every digit is octal.
            bool octal = true;
            for (int j = i; j < n && s[j].isDigit(); ++j) if (s[j] > u'7') octal = false;
            radix = octal ? 8 : 10;
        } else radix = 10;
    } else if (radix == 16 && i + 1 < n && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
        i += 2;
    }
    if (radix < 2 || radix > 36) return Value(std::nan(""));
    double result = 0;
    bool any = false;
    for (; i < n; ++i) {
        int d;
        char16_t c = s[i].unicode();
        if (c >= u'0' && c <= u'9') d = c - u'0';
        else if (c >= u'a' && c <= u'z') d = c - u'a' + 10;
        else if (c >= u'A' && c <= u'Z') d = c - u'A' + 10;
        else break;
        if (d >= radix) break;
        result = result * radix + d;
        any = true;
    }
    if (!any) return Value(std::nan(""));
    return Value(negative ? -result : result);
}

Value globalParseFloat(Vm& vm, CallArgs& a) {
    QString s = vm.toString(a.at(0));
    int i = 0;
    const int n = s.size();
    while (i < n && s[i].isSpace()) ++i;
    int start = i;
    if (i < n && (s[i] == u'-' || s[i] == u'+')) ++i;
    bool digits = false;
    while (i < n && s[i].isDigit()) { ++i; digits = true; }
    if (i < n && s[i] == u'.') {
        ++i;
        while (i < n && s[i].isDigit()) { ++i; digits = true; }
    }
    if (!digits) return Value(std::nan(""));
    if (i < n && (s[i] == u'e' || s[i] == u'E')) {
        int j = i + 1;
        if (j < n && (s[j] == u'-' || s[j] == u'+')) ++j;
        if (j < n && s[j].isDigit()) {
            while (j < n && s[j].isDigit()) ++j;
            i = j;
        }
    }
    return Value(s.mid(start, i - start).toDouble());
}

Value globalIsNaN(Vm& vm, CallArgs& a) { return Value(std::isnan(vm.toNumber(a.at(0)))); }
Value globalIsFinite(Vm& vm, CallArgs& a) { return Value(std::isfinite(vm.toNumber(a.at(0)))); }

Value globalEscape(Vm& vm, CallArgs& a) {
    QByteArray bytes = vm.version() >= 6 ? vm.toString(a.at(0)).toUtf8() : vm.toString(a.at(0)).toLatin1();
    auto plain = [](unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    // Each escaped byte takes three characters: size the result before making it.
    const qsizetype length = bytes.size() + 2 * std::count_if(bytes.begin(), bytes.end(), [&](char c) { return !plain(uchar(c)); });
    if (!vm.chargeWork(size_t(bytes.size()) / 16) || !vm.allocateString(length)) return Value();
    QString out;
    out.reserve(length);
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char c : bytes) {
        if (plain(c)) out += QChar(c);
        else { out += u'%'; out += QChar(hex[c >> 4]); out += QChar(hex[c & 15]); }
    }
    return Value(out);
}

Value globalUnescape(Vm& vm, CallArgs& a) {
    const QString s = vm.toString(a.at(0));
    const bool utf8 = vm.version() >= 6;
    auto hexDigit = [](QChar c) {
        const char16_t u = c.unicode();
        return u >= u'0' && u <= u'9' ? int(u - u'0')
             : u >= u'a' && u <= u'f' ? int(u - u'a' + 10)
             : u >= u'A' && u <= u'F' ? int(u - u'A' + 10)
                                      : -1;
    };
    // From SWF 6 the bytes that %XX gives are UTF-8; before, each is one character.
    QByteArray bytes;
    QString out;
    auto flush = [&]() { out += QString::fromUtf8(bytes); bytes.clear(); };
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == u'%' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0) {
            const int byte = hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]);
            if (utf8) bytes.append(char(byte));
            else out += QChar(char16_t(byte));
            i += 2;
            continue;
        }
        if (utf8) bytes.append(QString(s[i]).toUtf8());
        else out += s[i];
    }
    flush();
    return Value(out);
}

Value makeTimer(Vm& vm, CallArgs& a, bool repeat) {
    ScriptTimer t;
    t.repeat = repeat;
    size_t next;
    if (vm.isCallable(a.at(0))) {
        t.target = a.at(0);
        next = 1;
    } else if (a.at(0).isObject() && a.size() >= 3) {
        t.target = a.at(0);
        t.method = vm.toString(a.at(1));
        next = 2;
    } else {
        return Value();
    }
    t.intervalMs = vm.toNumber(a.at(next));
    if (std::isnan(t.intervalMs)) t.intervalMs = 0;
    for (size_t i = next + 1; i < a.size(); ++i) t.args.push_back(a.at(i));
    int id = vm.addTimer(std::move(t));
    return id ? Value(id) : Value();
}

Value globalSetInterval(Vm& vm, CallArgs& a) { return makeTimer(vm, a, true); }
Value globalSetTimeout(Vm& vm, CallArgs& a) { return makeTimer(vm, a, false); }
Value globalClearInterval(Vm& vm, CallArgs& a) {
    vm.removeTimer(vm.toInt(a.at(0)));
    return Value();
}

Value globalASSetPropFlags(Vm& vm, CallArgs& a) {
    Object* o = a.at(0).asObject();
    if (!o) return Value();
    // Converted in this order: flags to set, flags to clear, then the names.
    uint32_t set = uint32_t(vm.toInt(a.at(2)));
    uint32_t clear = uint32_t(vm.toInt(a.at(3)));
    const Value& names = a.at(1);
    if (names.isNull()) {
        vm.changeFlags(o, set, clear);
        return Value();
    }
    QStringList list;
    if (Object* arr = names.asObject(); arr && arr->kind() == Kind::Array) {
        int n = vm.toInt(vm.getMember(names, QStringLiteral("length")));
        for (int i = 0; i < n && i < int(limits::kMaxArrayLength); ++i)
            list << vm.toString(vm.getMember(Value(arr), QString::number(i)));
    } else {
        list = vm.toString(names).split(u',');
    }
    auto* array = dynamic_cast<ArrayObject*>(o);
    for (const QString& name : list) {
        if (Property* p = o->find(vm.key(name))) p->flags = (p->flags & ~clear) | set;
        else if (array && name == u"length") array->lengthFlags = (array->lengthFlags & ~clear) | set;
    }
    return Value();
}

Value globalUpdateAfterEvent(Vm&, CallArgs&) { return Value(); }

Value globalGetTimer(Vm& vm, CallArgs&) { return Value(std::floor(vm.clockMs())); }

Value globalTrace(Vm& vm, CallArgs& a) {
    vm.trace(a.at(0).isUndefined() ? QStringLiteral("undefined") : vm.toString(a.at(0)));
    return Value();
}

// The built-in methods scripts can reach by number through ASnative(category, index).
struct NativeId {
    int category;
    int index;
    const char* holder; // a global class; its prototype holds the method unless `onClass`
    const char* method;
    bool onClass = false;
};
// Recorded in Vm::nativeIds once every class is installed.
const NativeId kNativeIds[] = {
    {101, 0, "Object", "watch"}, {101, 1, "Object", "unwatch"}, {101, 2, "Object", "addProperty"},
    {101, 3, "Object", "valueOf"}, {101, 4, "Object", "toString"}, {101, 5, "Object", "hasOwnProperty"},
    {101, 6, "Object", "isPrototypeOf"}, {101, 7, "Object", "isPropertyEnumerable"},
    {101, 8, "Object", "registerClass", true},
    {103, 0, "Date", "getFullYear"}, {103, 1, "Date", "getYear"}, {103, 2, "Date", "getMonth"},
    {103, 3, "Date", "getDate"}, {103, 4, "Date", "getDay"}, {103, 5, "Date", "getHours"},
    {103, 6, "Date", "getMinutes"}, {103, 7, "Date", "getSeconds"}, {103, 8, "Date", "getMilliseconds"},
    {103, 9, "Date", "setFullYear"}, {103, 10, "Date", "setMonth"}, {103, 11, "Date", "setDate"},
    {103, 12, "Date", "setHours"}, {103, 13, "Date", "setMinutes"}, {103, 14, "Date", "setSeconds"},
    {103, 15, "Date", "setMilliseconds"}, {103, 16, "Date", "getTime"}, {103, 17, "Date", "setTime"},
    {103, 18, "Date", "getTimezoneOffset"}, {103, 19, "Date", "toString"}, {103, 20, "Date", "setYear"},
    {103, 128, "Date", "getUTCFullYear"}, {103, 129, "Date", "getUTCYear"}, {103, 130, "Date", "getUTCMonth"},
    {103, 131, "Date", "getUTCDate"}, {103, 132, "Date", "getUTCDay"}, {103, 133, "Date", "getUTCHours"},
    {103, 134, "Date", "getUTCMinutes"}, {103, 135, "Date", "getUTCSeconds"},
    {103, 136, "Date", "getUTCMilliseconds"}, {103, 137, "Date", "setUTCFullYear"},
    {103, 138, "Date", "setUTCMonth"}, {103, 139, "Date", "setUTCDate"}, {103, 140, "Date", "setUTCHours"},
    {103, 141, "Date", "setUTCMinutes"}, {103, 142, "Date", "setUTCSeconds"},
    {103, 143, "Date", "setUTCMilliseconds"},
    {200, 0, "Math", "abs", true}, {200, 1, "Math", "min", true}, {200, 2, "Math", "max", true},
    {200, 3, "Math", "sin", true}, {200, 4, "Math", "cos", true}, {200, 5, "Math", "atan2", true},
    {200, 6, "Math", "tan", true}, {200, 7, "Math", "exp", true}, {200, 8, "Math", "log", true},
    {200, 9, "Math", "sqrt", true}, {200, 10, "Math", "round", true}, {200, 11, "Math", "random", true},
    {200, 12, "Math", "floor", true}, {200, 13, "Math", "ceil", true}, {200, 14, "Math", "atan", true},
    {200, 15, "Math", "asin", true}, {200, 16, "Math", "acos", true}, {200, 17, "Math", "pow", true},
    {301, 3, "LoadVars", "decode"},
};

// ASnative(2, 0): whether the function calling it runs for `new`.
Value asNew(Vm& vm, CallArgs&) {
    const ExecFrame* f = vm.currentFrame();
    return Value(f && f->constructing);
}

// The function of a native id, as the player started with it (a script that
// deleted or replaced the class member does not change it); undefined when
// unknown. Each call makes a new function object running that code.
Value nativeById(Vm& vm, int category, int index) {
    if (category == 2 && index == 0) return Value(vm.newNative(asNew));
    if (auto it = vm.nativeIds.find({category, index}); it != vm.nativeIds.end()) {
        auto* original = dynamic_cast<FunctionObject*>(it->second);
        if (!original || !original->native()) return Value(it->second);
        FunctionObject* f = vm.newNative(original->native());
        f->data = original->data;
        f->constructor = original->constructor;
        return Value(static_cast<Object*>(f));
    }
    vm.unimplemented(QStringLiteral("ASnative(%1, %2)").arg(category).arg(index));
    return Value();
}

Value globalASnative(Vm& vm, CallArgs& a) { return nativeById(vm, vm.toInt(a.at(0)), vm.toInt(a.at(1))); }

// ASSetNative(object, category, "a,b,c", first): object.a = ASnative(category, first) and so on;
// an empty name skips its number.
Value globalASSetNative(Vm& vm, CallArgs& a) {
    Object* o = a.at(0).asObject();
    if (!o) return Value();
    const int category = vm.toInt(a.at(1));
    const QStringList names = vm.toString(a.at(2)).split(u',');
    int index = vm.toInt(a.at(3));
    for (const QString& name : names) {
        if (vm.hasException()) break;
        if (!name.isEmpty()) vm.setMember(o, name, nativeById(vm, category, index));
        ++index;
    }
    return Value();
}

Value globalAsBroadcasterInitialize(Vm& vm, CallArgs& a);

// AsBroadcaster: listeners kept in `_listeners`, broadcastMessage calls each.
bool sameValue(const Value& x, const Value& y) {
    if (x.type() != y.type()) return false;
    switch (x.type()) {
    case Type::Object: return x.asObject() == y.asObject();
    case Type::Number: return x.asNumber() == y.asNumber();
    case Type::String: return x.asString() == y.asString();
    case Type::Boolean: return x.asBool() == y.asBool();
    default: return true;
    }
}

Value broadcasterAdd(Vm& vm, CallArgs& a) {
    Value listV = vm.getMember(a.thisv, QStringLiteral("_listeners"));
    auto* list = dynamic_cast<ArrayObject*>(listV.asObject());
    if (!list) return Value(false);
    for (const Value& v : list->items)
        if (sameValue(v, a.at(0))) return Value(true);
    list->items.push_back(a.at(0));
    return Value(true);
}
Value broadcasterRemove(Vm& vm, CallArgs& a) {
    Value listV = vm.getMember(a.thisv, QStringLiteral("_listeners"));
    auto* list = dynamic_cast<ArrayObject*>(listV.asObject());
    if (!list) return Value(false);
    for (size_t i = 0; i < list->items.size(); ++i)
        if (sameValue(list->items[i], a.at(0))) {
            list->items.erase(list->items.begin() + long(i));
            return Value(true);
        }
    return Value(false);
}
Value broadcasterBroadcast(Vm& vm, CallArgs& a) {
    Value listV = vm.getMember(a.thisv, QStringLiteral("_listeners"));
    Object* list = listV.asObject();
    if (!list || !a.size()) return Value();
    QString method = vm.toString(a.at(0));
    // Any object with a length and numbered members lists listeners, not only an Array.
    std::vector<Value> listeners;
    if (auto* arr = dynamic_cast<ArrayObject*>(list)) {
        listeners = arr->items;
    } else {
        const int n = std::clamp(vm.toInt(vm.getMember(listV, QStringLiteral("length"))), 0, int(limits::kMaxArrayLength));
        for (int i = 0; i < n && vm.chargeWork(1); ++i) listeners.push_back(vm.getMember(listV, QString::number(i)));
    }
    std::span<const Value> rest = a.args.subspan(1);
    // True once a listener was there to be called; undefined and null are no listeners.
    bool called = false;
    for (const Value& l : listeners) {
        if (l.isNullish()) continue;
        vm.callMethod(l, method, rest);
        called = true;
    }
    return called ? Value(true) : Value();
}

Value globalAsBroadcasterInitialize(Vm& vm, CallArgs& a) {
    Object* o = a.at(0).asObject();
    if (!o) return Value();
    // The listener methods come from AsBroadcaster as it is now; broadcastMessage is always the built-in one.
    Value bc = broadcasterClass(vm);
    for (const char* name : {"addListener", "removeListener"})
        vm.defineValue(o, QString::fromLatin1(name), vm.getMember(bc, QString::fromLatin1(name)), kDontEnum);
    // broadcastMessage is asked of ASnative as it is now: a script that replaced it gets what its own gives.
    const Value ids[] = {Value(101), Value(12)};
    Value broadcast = vm.call(vm.getMember(Value(vm.global()), QStringLiteral("ASnative")), Value(), ids);
    vm.defineValue(o, QStringLiteral("broadcastMessage"), broadcast, kDontEnum);
    vm.defineValue(o, QStringLiteral("_listeners"), Value(vm.newArray()), kDontEnum);
    return Value();
}

} // namespace

void recordNativeIds(Vm& vm) {
    auto own = [&](Object* o, const char* name) {
        const Property* p = o ? o->find(vm.key(QString::fromLatin1(name))) : nullptr;
        return p && !p->isVirtual() ? p->value.asObject() : nullptr;
    };
    for (const NativeId& n : kNativeIds) {
        Object* holder = own(vm.global(), n.holder);
        if (!n.onClass) holder = own(holder, "prototype");
        if (Object* fn = own(holder, n.method); fn && vm.isCallable(Value(fn))) vm.nativeIds[{n.category, n.index}] = fn;
    }
}

void installObject(Vm& vm) {
    Object* g = vm.global();
    Object* op = vm.objectProto;
    FunctionObject* objectCtor = vm.defineClass(QStringLiteral("Object"), objectCall, objectConstruct, op);
    vm.defineMethod(op, QStringLiteral("toString"), objectToString);
    vm.defineMethod(op, QStringLiteral("toLocaleString"), objectToString);
    vm.defineMethod(op, QStringLiteral("valueOf"), objectValueOf);
    vm.defineMethod(op, QStringLiteral("hasOwnProperty"), objectHasOwnProperty, kHidden | kVersion6);
    vm.defineMethod(op, QStringLiteral("isPropertyEnumerable"), objectIsPropertyEnumerable, kHidden | kVersion6);
    vm.defineMethod(op, QStringLiteral("isPrototypeOf"), objectIsPrototypeOf, kHidden | kVersion6);
    vm.defineMethod(op, QStringLiteral("addProperty"), objectAddProperty, kHidden | kVersion6);
    vm.defineMethod(op, QStringLiteral("watch"), objectWatch, kHidden | kVersion6);
    vm.defineMethod(op, QStringLiteral("unwatch"), objectUnwatch, kHidden | kVersion6);
    vm.defineMethod(objectCtor, QStringLiteral("registerClass"), objectRegisterClass);

    Object* fp = vm.functionProto;
    FunctionObject* function = vm.defineClass(QStringLiteral("Function"), functionCtor, functionCtor, fp);
    // SWF 5 movies have no Function global (functions still reach its prototype).
    vm.defineValue(vm.global(), QStringLiteral("Function"), Value(function), kDontEnum | kVersion6);
    vm.defineMethod(fp, QStringLiteral("call"), functionCall, kHidden | kVersion6);
    vm.defineMethod(fp, QStringLiteral("apply"), functionApply, kHidden | kVersion6);

    vm.errorProto = vm.newObject();
    vm.defineClass(QStringLiteral("Error"), errorCtor, errorCtor, vm.errorProto);
    vm.defineValue(vm.errorProto, QStringLiteral("name"), Value(QStringLiteral("Error")), kDontEnum);
    vm.defineValue(vm.errorProto, QStringLiteral("message"), Value(QStringLiteral("Error")), kDontEnum);
    vm.defineMethod(vm.errorProto, QStringLiteral("toString"), errorToString);

    vm.booleanProto = vm.newObject();
    vm.booleanProto->primitive = Value(false);
    vm.defineClass(QStringLiteral("Boolean"), booleanCall, booleanCtor, vm.booleanProto);
    vm.defineMethod(vm.booleanProto, QStringLiteral("valueOf"), booleanValueOf);
    vm.defineMethod(vm.booleanProto, QStringLiteral("toString"), booleanToString);

    vm.defineMethod(g, QStringLiteral("parseInt"), globalParseInt, kDontEnum);
    vm.defineMethod(g, QStringLiteral("parseFloat"), globalParseFloat, kDontEnum);
    vm.defineMethod(g, QStringLiteral("isNaN"), globalIsNaN, kDontEnum);
    vm.defineMethod(g, QStringLiteral("isFinite"), globalIsFinite, kDontEnum);
    vm.defineMethod(g, QStringLiteral("escape"), globalEscape, kDontEnum);
    vm.defineMethod(g, QStringLiteral("unescape"), globalUnescape, kDontEnum);
    vm.defineMethod(g, QStringLiteral("setInterval"), globalSetInterval, kDontEnum);
    vm.defineMethod(g, QStringLiteral("clearInterval"), globalClearInterval, kDontEnum);
    vm.defineMethod(g, QStringLiteral("setTimeout"), globalSetTimeout, kDontEnum | kVersion8);
    vm.defineMethod(g, QStringLiteral("clearTimeout"), globalClearInterval, kDontEnum | kVersion8);
    vm.defineMethod(g, QStringLiteral("ASSetPropFlags"), globalASSetPropFlags, kDontEnum);
    vm.defineMethod(g, QStringLiteral("ASnative"), globalASnative, kDontEnum);
    vm.defineMethod(g, QStringLiteral("ASSetNative"), globalASSetNative, kDontEnum);
    vm.defineMethod(g, QStringLiteral("updateAfterEvent"), globalUpdateAfterEvent, kDontEnum);
    vm.defineMethod(g, QStringLiteral("getTimer"), globalGetTimer, kDontEnum);
    vm.defineMethod(g, QStringLiteral("trace"), globalTrace, kDontEnum);
    vm.defineValue(g, QStringLiteral("NaN"), Value(std::nan("")), kDontEnum);
    vm.defineValue(g, QStringLiteral("Infinity"), Value(HUGE_VAL), kDontEnum);

    // A function (with a prototype) whose statics do the work.
    FunctionObject* bc = vm.newNative([](Vm&, CallArgs&) { return Value(); }, vm.newObject());
    // AsBroadcaster came with SWF 6.
    vm.defineValue(g, QStringLiteral("AsBroadcaster"), Value(bc), kDontEnum | kVersion6);
    vm.defineMethod(bc, QStringLiteral("initialize"), globalAsBroadcasterInitialize);
    vm.defineMethod(bc, QStringLiteral("addListener"), broadcasterAdd);
    vm.defineMethod(bc, QStringLiteral("removeListener"), broadcasterRemove);
    vm.nativeIds[{101, 12}] = vm.defineMethod(bc, QStringLiteral("broadcastMessage"), broadcasterBroadcast);
}

} // namespace builtins
} // namespace swf::avm1
