#include "engine/avm1/vm.h"

#include "engine/avm1/clip_object.h"
#include "engine/avm1/interpreter.h"
#include "engine/core/limits.h"
#include "engine/core/number_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_set>

namespace swf::avm1 {

namespace {
// Timer callbacks run by one advanceTimers() call at most.
constexpr int kMaxTimerCallsPerAdvance = 1000;
} // namespace

Vm::Vm(int swfVersion, VmHost host)
    : m_host(std::move(host)), m_rootVersion(swfVersion), m_version(swfVersion),
      m_caseSensitive(swfVersion >= 7) {
    m_maxCallDepth = limits::kMaxCallDepth;
    installBuiltins();
}

Vm::~Vm() = default;

// ---- Heap ----------------------------------------------------------------------

Object* Vm::newObject(Object* proto) { return make<Object>(proto ? proto : objectProto); }

ArrayObject* Vm::newArray(std::vector<Value> items) {
    auto* a = make<ArrayObject>(arrayProto);
    a->items = std::move(items);
    // Every array the player makes names its class as an own member.
    if (const Property* ctor = arrayProto ? arrayProto->find(key(QStringLiteral("constructor"))) : nullptr)
        defineValue(a, QStringLiteral("constructor"), ctor->value, prop::kHidden);
    return a;
}

void Vm::giveFunctionMembers(FunctionObject* f) {
    // A function's __proto__ is seen from SWF 6 on; its constructor is Function.
    if (Property* p = f->find(protoKey())) p->flags |= prop::kVersion6;
    const QString ctorKey = key(QStringLiteral("constructor"));
    const Property* function = functionProto->find(ctorKey);
    if (function && !f->find(ctorKey)) defineValue(f, QStringLiteral("constructor"), function->value, prop::kHidden);
}

FunctionObject* Vm::newNative(NativeFn fn, Object* prototype) {
    auto* f = make<FunctionObject>(functionProto, fn);
    giveFunctionMembers(f);
    if (prototype) {
        defineValue(f, QStringLiteral("prototype"), Value(prototype), prop::kDontEnum | prop::kDontDelete);
        defineValue(prototype, QStringLiteral("constructor"), Value(f), prop::kDontEnum | prop::kDontDelete);
    }
    return f;
}

Object* Vm::newError(const QString& message) {
    Object* e = make<Object>(errorProto, Kind::Error);
    setMember(e, QStringLiteral("message"), Value(message));
    return e;
}

// ---- Heap budget -------------------------------------------------------------------

namespace {
// The property index an object makes with its first member: a hash table
// block of about this size, more than the rest of a small object.
constexpr size_t kIndexTableBytes = 1700;

// Adds up what the heap holds. Strings are shared by reference counting:
// a long one met again at the same address counts once.
struct HeapMeter {
    size_t bytes = 0;
    std::unordered_set<const void*> seen;
    void string(const QString& s) {
        if (s.size() >= 64 && !seen.insert(s.constData()).second) return;
        bytes += stringBytes(s.size());
    }
    void value(const Value& v) {
        bytes += sizeof(Value);
        if (v.isString()) string(v.asString());
    }
    void values(const std::vector<Value>& vs) {
        for (const Value& v : vs) value(v);
    }
    void object(const Object& o) {
        bytes += sizeof(Object) + kObjectOverheadBytes + o.properties().size() * kPropertyBytes;
        if (o.indexed()) bytes += kIndexTableBytes;
        for (const Property& p : o.properties()) {
            string(p.name);
            if (p.value.isString()) string(p.value.asString());
        }
        if (o.primitive.isString()) string(o.primitive.asString());
        if (auto* a = dynamic_cast<const ArrayObject*>(&o)) values(a->items);
        if (auto* f = dynamic_cast<const FunctionObject*>(&o); f && f->script()) bytes += f->script()->code.size();
    }
};
} // namespace

size_t Vm::measureHeap() const {
    HeapMeter meter;
    for (const auto& o : m_heap) meter.object(*o);
    for (const ExecFrame* f = m_frame; f; f = f->caller) {
        meter.values(f->stack);
        meter.values(f->registers);
    }
    meter.values(m_sharedStack);
    for (const ScriptTimer& t : m_timers) meter.values(t.args);
    return meter.bytes;
}

void Vm::remeasureFor(size_t bytes) {
    if (m_budget.fits(bytes) || m_budget.bytesSinceMeasure() < limits::kHeapMeasureSlack) return;
    m_budget.setMeasured(measureHeap(), m_heap.size());
}

bool Vm::allocate(size_t bytes) {
    remeasureFor(bytes);
    if (m_budget.chargeBytes(bytes)) return true;
    halt(m_budget.breach());
    return false;
}

bool Vm::allocateString(qsizetype chars, qsizetype length) {
    if (chars < 0 || length < 0) return true;
    if (size_t(chars) + size_t(length) > limits::kMaxStringLength) {
        halt(QStringLiteral("a string would pass %1 characters").arg(limits::kMaxStringLength));
        return false;
    }
    return allocate(stringBytes(chars));
}

void Vm::chargeNewString(const QString& s) {
    // A string held anywhere else (a variable, a member, a literal) is not new.
    if (s.isEmpty() || !s.isDetached()) return;
    allocate(stringBytes(s.size()));
}

void Vm::chargeObject(size_t bytes) {
    remeasureFor(bytes);
    if (!m_budget.chargeObject(bytes)) halt(m_budget.breach());
}

void Vm::removeRoot(Object* o) {
    auto it = std::find(m_roots.begin(), m_roots.end(), o);
    if (it != m_roots.end()) m_roots.erase(it);
}

void Vm::collect(const std::vector<Object*>& extraRoots) {
    if (m_frame) return; // never while a script runs
    if (m_halted)
        for (auto& o : m_heap) o->dropMembers();
    std::vector<Object*> work;
    MarkFn mark = [&work](Object* o) {
        if (o && !o->marked) { o->marked = true; work.push_back(o); }
    };
    mark(m_global);
    for (Object* p : {objectProto, functionProto, arrayProto, stringProto, numberProto, booleanProto,
                      dateProto, errorProto, clipProto, buttonProto, textFieldProto, emptySuper})
        mark(p);
    mark(m_root);
    for (Object* o : m_roots) mark(o);
    for (Object* o : extraRoots) mark(o);
    for (auto& [name, cls] : registeredClasses) mark(cls);
    for (auto& [id, fn] : nativeIds) mark(fn);
    for (const ScriptTimer& t : m_timers) {
        mark(t.target.asObject());
        for (const Value& v : t.args) mark(v.asObject());
    }
    if (m_exception) mark(m_exception->asObject());
    for (const Value& v : m_sharedStack) mark(v.asObject());
    for (auto& [level, clip] : m_levels) mark(clip);
    while (!work.empty()) {
        Object* o = work.back();
        work.pop_back();
        o->markChildren(mark);
    }
    std::erase_if(m_heap, [](const std::unique_ptr<Object>& o) { return !o->marked; });
    for (auto& o : m_heap) o->marked = false;
    m_budget.setMeasured(measureHeap(), m_heap.size());
}

// ---- Built-in helpers ------------------------------------------------------------

void Vm::sealBuiltinObject(Object* o, uint32_t flags) {
    // Made as `new Object` is, with its own constructor, then every member flagged at once.
    const QString ctorKey = key(QStringLiteral("constructor"));
    if (const Property* c = objectProto->find(ctorKey); c && !o->find(ctorKey))
        defineValue(o, QStringLiteral("constructor"), c->value, prop::kHidden);
    changeFlags(o, flags, 0);
}

void Vm::changeFlags(Object* on, uint32_t set, uint32_t clear) {
    for (Property& p : on->properties()) p.flags = (p.flags & ~clear) | set;
    if (auto* a = dynamic_cast<ArrayObject*>(on)) a->lengthFlags = (a->lengthFlags & ~clear) | set;
}

void Vm::defineValue(Object* on, const QString& name, const Value& v, uint32_t flags) {
    on->define(key(name), name, v, flags);
}

FunctionObject* Vm::defineMethod(Object* on, const QString& name, NativeFn fn, uint32_t flags) {
    FunctionObject* f = newNative(fn);
    defineValue(on, name, Value(f), flags);
    return f;
}

FunctionObject* Vm::defineClass(const QString& name, NativeFn call, NativeFn construct, Object* prototype) {
    FunctionObject* f = newNative(call, prototype);
    f->constructor = construct;
    defineValue(m_global, name, Value(f), prop::kDontEnum);
    return f;
}

// ---- Conversions -----------------------------------------------------------------

QString Vm::numberToString(double n) { return QString::fromLatin1(swf::numberToStringAvm1(n)); }

QString Vm::numberToString(double n, int radix) {
    return QString::fromLatin1(swf::numberToStringRadixAvm1(n, radix));
}

double Vm::stringToNumber(const QString& s) const {
    if (m_version < 5) {
        // SWF 4 reads a leading decimal number and ignores the rest ("150a" is 150, "abc" is 0).
        QByteArray b = s.toLatin1();
        const char* p = b.constData();
        char* end = nullptr;
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
        if ((p[0] == '0') && (p[1] == 'x' || p[1] == 'X')) return 0;
        double d = std::strtod(p, &end);
        if (end == p) return 0;
        if (std::isinf(d) && !std::isdigit(static_cast<unsigned char>(*p)) && *p != '-' && *p != '+' && *p != '.')
            return 0; // strtod accepts "inf"; Flash does not
        return d;
    }
    int i = 0;
    const int n = s.size();
    while (i < n && (s[i] == u' ' || s[i] == u'\t' || s[i] == u'\n' || s[i] == u'\r')) ++i;
    if (i == n) return std::nan("");
    QStringView rest = QStringView(s).mid(i);
    bool negative = false;
    QStringView body = rest;
    if (body.startsWith(u'-') || body.startsWith(u'+')) { negative = body[0] == u'-'; body = body.mid(1); }
    if (body.size() > 2 && body[0] == u'0' && (body[1] == u'x' || body[1] == u'X')) {
        bool ok = false;
        qint64 v = body.mid(2).toLongLong(&ok, 16);
        if (!ok) return std::nan("");
        // Hexadecimal strings are 32-bit signed.
        double d = double(int32_t(uint32_t(v)));
        return negative ? -d : d;
    }
    // A leading zero with only octal digits reads as a 32-bit signed octal
    // number ("010" is 8), unless whitespace comes first (" 010" is 10).
    if (i == 0 && body.size() > 1 && body[0] == u'0') {
        bool octal = true;
        for (QChar c : body) if (c < u'0' || c > u'7') { octal = false; break; }
        if (octal) {
            uint32_t v = 0;
            for (QChar c : body) v = v * 8 + uint32_t(c.unicode() - u'0');
            const double d = double(int32_t(v));
            return negative ? -d : d;
        }
    }
    // Digits, one dot, an exponent; nothing else (no "Infinity", no trailing text).
    int j = 0;
    const int m = body.size();
    bool digits = false;
    while (j < m && body[j].isDigit()) { ++j; digits = true; }
    if (j < m && body[j] == u'.') {
        ++j;
        while (j < m && body[j].isDigit()) { ++j; digits = true; }
    }
    if (!digits) return std::nan("");
    if (j < m && (body[j] == u'e' || body[j] == u'E')) {
        int k = j + 1;
        if (k < m && (body[k] == u'-' || body[k] == u'+')) ++k;
        if (k < m && body[k].isDigit()) {
            while (k < m && body[k].isDigit()) ++k;
            j = k;
        }
    }
    if (j != m) return std::nan("");
    double d = body.toString().toDouble();
    return negative ? -d : d;
}

double Vm::toNumber(const Value& v) {
    switch (v.type()) {
    case Type::Undefined: return m_version >= 7 ? std::nan("") : 0.0;
    case Type::Null: return m_version >= 7 ? std::nan("") : 0.0;
    case Type::Boolean: return v.asBool() ? 1 : 0;
    case Type::Number: return v.asNumber();
    case Type::String: return stringToNumber(v.asString());
    case Type::Object: return primitiveToNumber(toPrimitive(v, Hint::Number));
    }
    return 0;
}

double Vm::primitiveToNumber(const Value& p) {
    // An object that stays an object after valueOf has no number; SWF 4 reads
    // it as 0, and SWF 5 a function as 0.
    if (p.isObject())
        return m_version < 5 || (m_version < 6 && p.asObject()->kind() == Kind::Function) ? 0.0 : std::nan("");
    return toNumber(p);
}

// The `this` a valueOf of `v` runs on: a built-in one sees through `super`
// to the method's own `this` (Object's valueOf gives that object); a
// script's method, and every toString, gets `super` itself.
static Value valueOfThis(const Value& v, const Value& method) {
    auto* sup = dynamic_cast<SuperObject*>(v.asObject());
    auto* fn = dynamic_cast<FunctionObject*>(method.asObject());
    return sup && fn && fn->native() ? sup->thisv : v;
}

QString Vm::toString(const Value& v) {
    switch (v.type()) {
    case Type::Undefined: return m_version >= 7 ? QStringLiteral("undefined") : QString();
    case Type::Null: return QStringLiteral("null");
    case Type::Boolean:
        if (m_version < 5) return v.asBool() ? QStringLiteral("1") : QStringLiteral("0");
        return v.asBool() ? QStringLiteral("true") : QStringLiteral("false");
    case Type::Number: return numberToString(v.asNumber());
    case Type::String: return v.asString();
    case Type::Object: {
        Object* o = v.asObject();
        // A movie clip is a value type of its own: it reads as its target path
        // (a removed one as "") and never runs a script's toString.
        if (o->kind() == Kind::Clip)
            if (auto* c = dynamic_cast<ClipObject*>(o)) return c->removed() ? QString() : c->targetPath();
        // A String object gives its own text, whatever its toString says.
        if (o->kind() == Kind::String && o->primitive.isString()) return o->primitive.asString();
        if (auto* c = dynamic_cast<ClipObject*>(o)) {
            // Other display objects read as their target path, unless a script gave them a
            // toString (Object's own, which buttons inherit, is not one).
            Value ts = conversionMethod(o, QStringLiteral("toString"));
            auto objectToString = nativeIds.find({101, 4});
            if (isCallable(ts) && !(objectToString != nativeIds.end() && ts.asObject() == objectToString->second)) {
                Value r = call(ts, v, {});
                if (r.isString()) return r.asString();
            }
            return c->targetPath();
        }
        // Only toString is asked; anything but a string from it names the type.
        Value ts = conversionMethod(o, QStringLiteral("toString"));
        if (isCallable(ts)) {
            Value r = call(ts, v, {});
            if (r.isString()) return r.asString();
        }
        return o->kind() == Kind::Function ? QStringLiteral("[type Function]") : QStringLiteral("[type Object]");
    }
    }
    return {};
}

bool Vm::toBool(const Value& v) {
    switch (v.type()) {
    case Type::Undefined:
    case Type::Null: return false;
    case Type::Boolean: return v.asBool();
    case Type::Number: return v.asNumber() != 0 && !std::isnan(v.asNumber());
    case Type::String:
        if (m_version >= 7) return !v.asString().isEmpty();
        { double d = stringToNumber(v.asString()); return d != 0 && !std::isnan(d); }
    case Type::Object: return true;
    }
    return false;
}

Value Vm::conversionMethod(Object* o, const QString& name) {
    // Conversions look the method up on the object and its prototypes only (never __resolve).
    Value out;
    if (o->getSpecial(*this, name, out)) return out;
    Object* holder = nullptr;
    Property* p = findProperty(o, name, &holder);
    if (!p) return Value();
    if (p->isVirtual()) return getterValue(holder, *p, Value(o));
    return p->value;
}

Value Vm::toPrimitive(const Value& v, Hint hint) {
    Object* o = v.asObject();
    if (!o || o->kind() == Kind::Clip) return v; // a movie clip is already a primitive
    if (hint != Hint::Number && dynamic_cast<ClipObject*>(o)) return Value(toString(v));
    // Dates give their text first (SWF 6 on; SWF 5 reads their time like any
    // other object's valueOf); everything else its valueOf. A missing
    // method gives undefined; an object result stands for the object itself
    // (which a later ToString or ToNumber converts again), a clip for itself.
    const bool useString = hint == Hint::String || (hint == Hint::None && o->kind() == Kind::Date && m_version >= 6);
    Value fn = conversionMethod(o, useString ? QStringLiteral("toString") : QStringLiteral("valueOf"));
    if (!isCallable(fn)) return Value();
    Value r = call(fn, useString ? v : valueOfThis(v, fn), {});
    return r.isObject() && r.asObject()->kind() != Kind::Clip ? v : r;
}

Object* Vm::toObject(const Value& v) {
    switch (v.type()) {
    case Type::Object: return v.asObject();
    case Type::String: {
        Object* o = make<Object>(stringProto, Kind::String);
        o->primitive = v;
        defineValue(o, QStringLiteral("length"), Value(double(v.asString().size())), prop::kHidden | prop::kReadOnly);
        return o;
    }
    case Type::Number: { Object* o = make<Object>(numberProto, Kind::Number); o->primitive = v; return o; }
    case Type::Boolean: { Object* o = make<Object>(booleanProto, Kind::Boolean); o->primitive = v; return o; }
    default: return nullptr;
    }
}

int32_t Vm::toInt32(const Value& v) {
    double d = toNumber(v);
    if (!std::isfinite(d)) return 0;
    d = std::trunc(d);
    double m = std::fmod(d, 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return int32_t(uint32_t(m));
}

int Vm::toInt(const Value& v) {
    double d = toNumber(v);
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return 2147483647;
    if (d <= -2147483648.0) return -2147483647 - 1;
    return int(std::trunc(d));
}

QString Vm::typeOf(const Value& v) {
    switch (v.type()) {
    case Type::Undefined: return QStringLiteral("undefined");
    case Type::Null: return QStringLiteral("null");
    case Type::Boolean: return QStringLiteral("boolean");
    case Type::Number: return QStringLiteral("number");
    case Type::String: return QStringLiteral("string");
    case Type::Object: {
        Object* o = currentObject(v.asObject());
        // A reference to a removed display object with nothing at its path is a clip reference.
        auto* c = dynamic_cast<ClipObject*>(o);
        if (o->kind() == Kind::Clip || (c && c->removed())) return QStringLiteral("movieclip");
        return o->kind() == Kind::Function ? QStringLiteral("function") : QStringLiteral("object");
    }
    }
    return {};
}

// ---- Members ---------------------------------------------------------------------

bool Vm::visible(const Property& p) const {
    const uint32_t f = p.flags;
    if ((f & prop::kVersion6) && m_version < 6) return false;
    if ((f & prop::kNotVersion6) && m_version == 6) return false;
    if ((f & prop::kVersion7) && m_version < 7) return false;
    if ((f & prop::kVersion8) && m_version < 8) return false;
    if ((f & prop::kVersion9) && m_version < 9) return false;
    if ((f & prop::kVersion10) && m_version < 10) return false;
    return true;
}

Property* Vm::findProperty(Object* obj, const QString& name, Object** holder, bool anyVersion) {
    const QString k = key(name);
    int depth = 0;
    for (Object* o = obj; o && depth < limits::kMaxProtoDepth; o = o->proto(), ++depth) {
        if (Property* p = o->find(k); p && (anyVersion || visible(*p))) {
            if (holder) *holder = o;
            return p;
        }
    }
    return nullptr;
}

Value Vm::getMember(const Value& objv, const QString& name) {
    Object* obj = currentObject(objv.asObject());
    if (!obj) {
        switch (objv.type()) {
        case Type::String:
            if (name == u"length") return Value(double(objv.asString().size()));
            obj = stringProto;
            break;
        case Type::Number: obj = numberProto; break;
        case Type::Boolean: obj = booleanProto; break;
        default: return Value();
        }
    }
    if (namesEqual(name, protoKey())) {
        // A primitive's own prototype is that of the wrapper it stands for;
        // `super` stands for the parent prototype itself, its __proto__ one further up.
        if (!objv.isObject()) return Value(obj);
        if (dynamic_cast<SuperObject*>(obj)) return obj->proto() && obj->proto()->proto() ? Value(obj->proto()->proto()) : Value();
    }
    Value out;
    // A getter added by addProperty hides the built-in member of the same name (an array's length).
    const Property* own = obj->find(key(name));
    if (!(own && own->isVirtual() && visible(*own)) && obj->getSpecial(*this, name, out)) return out;
    Object* holder = nullptr;
    Property* p = findProperty(obj, name, &holder);
    if (!p) {
        // Prototype objects may be special too (a clip used as a prototype).
        int depth = 0;
        for (Object* o = obj->proto(); o && depth < limits::kMaxProtoDepth; o = o->proto(), ++depth)
            if (o->kind() == Kind::Array || o->kind() == Kind::Clip)
                if (o->getSpecial(*this, name, out)) return out;
        if (name != u"__resolve") {
            // __resolve answers even when version flags hide it.
            Object* resolveHolder = nullptr;
            Property* rp = findProperty(obj, QStringLiteral("__resolve"), &resolveHolder, true);
            Value resolve = !rp ? Value() : rp->isVirtual() ? getterValue(resolveHolder, *rp, objv) : rp->value;
            if (isCallable(resolve)) {
                Value arg(name);
                return call(resolve, objv, std::span<const Value>(&arg, 1));
            }
        }
        return Value();
    }
    if (p->isVirtual()) {
        // A getter runs on the real `this` when reached through super, with its own super.
        auto* sup = dynamic_cast<SuperObject*>(obj);
        return getterValue(holder, *p, sup ? sup->thisv : objv, holder->proto());
    }
    return p->value;
}

Value Vm::getterValue(Object* holder, const Property& p, const Value& thisv, Object* superProto) {
    return callAccessor(holder, p, p.getter, thisv, {}, superProto);
}

Value Vm::callAccessor(Object* holder, const Property& p, Object* accessor, const Value& thisv,
                       std::span<const Value> args, Object* superProto) {
    if (!holder || p.runningAccessors > limits::kMaxGetterDepth) return Value();
    const QString k = key(p.name);
    ++holder->find(k)->runningAccessors;
    Value r = call(Value(accessor), thisv, args, superProto);
    // The call may have deleted or replaced the slot: a new one starts its own count.
    if (Property* after = holder->find(k); after && after->runningAccessors > 0) --after->runningAccessors;
    return r;
}

Object* Vm::currentObject(Object* obj) {
    if (obj && (obj->kind() == Kind::Clip || obj->kind() == Kind::TextField))
        if (auto* c = dynamic_cast<ClipObject*>(obj)) return c->current(*this);
    return obj;
}

void Vm::setMember(Object* obj, const QString& name, const Value& value) {
    obj = currentObject(obj);
    // A timeline keeps no variable without a name.
    if (!obj || (name.isEmpty() && obj->kind() == Kind::Clip)) return;
    const QString k = key(name);
    Value v = value;
    // Watches see the old and new value and may replace it.
    for (size_t i = 0; i < obj->watches.size(); ++i) {
        if (obj->watches[i].key != k) continue;
        Object::Watch w = obj->watches[i];
        // The watch sees the stored value: a getter is not asked for it.
        Value old;
        if (Property* p = findProperty(obj, name)) old = p->value;
        else obj->getSpecial(*this, name, old);
        Value args[] = {Value(name), old, v, w.data};
        // A watch does not fire again while its own callback runs.
        obj->watches.erase(obj->watches.begin() + long(i));
        v = call(Value(w.callback), Value(obj), args);
        obj->watches.insert(obj->watches.begin() + long(std::min(i, obj->watches.size())), w);
        break;
    }
    Property* own = obj->find(k);
    // A setter of the same name goes before an array's built-in members, but
    // a clip's built-in properties take every assignment.
    const bool setterFirst = own && own->isVirtual() && !dynamic_cast<ClipObject*>(obj);
    if (!setterFirst && obj->setSpecial(*this, name, v)) return;
    // A setter reached through super runs on the real `this`.
    auto* sup = dynamic_cast<SuperObject*>(obj);
    const Value setterThis = sup ? sup->thisv : Value(obj);
    if (Property* p = obj->find(k)) {
        if (p->isVirtual()) {
            if (p->setter) callAccessor(obj, *p, p->setter, setterThis, std::span<const Value>(&v, 1), obj->proto());
            return;
        }
        if (p->flags & prop::kReadOnly) return;
        if (!visible(*p)) { p->flags = 0; }
        obj->assign(*p, v);
        return;
    }
    // The first getter/setter of that name anywhere up the prototypes handles
    // the assignment, even behind a plain inherited value; one without a
    // setter refuses it.
    int depth = 0;
    Object* o = obj->proto();
    for (; o && depth < limits::kMaxProtoDepth; o = o->proto(), ++depth) {
        Property* p = o->find(k);
        if (!p || !visible(*p) || !p->isVirtual()) continue;
        if (p->setter) callAccessor(o, *p, p->setter, setterThis, std::span<const Value>(&v, 1), o->proto());
        return;
    }
    // A longer chain stops the movie's scripts, as deep recursion does.
    if (o) { halt(QStringLiteral("prototype chain too deep")); return; }
    if (!allocate(kPropertyBytes + (obj->properties().size() == kLinearMembers ? kIndexTableBytes : 0))) return;
    obj->define(k, name, v, 0);
}

bool Vm::hasOwnProperty(Object* obj, const QString& name) {
    if (!obj) return false;
    // A member hidden from this version still counts as own.
    if (obj->find(key(name))) return true;
    return obj->hasSpecial(*this, name);
}

bool Vm::hasProperty(Object* obj, const QString& name) {
    if (!obj) return false;
    if (obj->hasSpecial(*this, name)) return true;
    return findProperty(obj, name) != nullptr;
}

bool Vm::deleteMember(Object* obj, const QString& name) {
    if (!obj) return false;
    const QString k = key(name);
    if (Property* p = obj->find(k)) {
        if (p->flags & prop::kDontDelete) return false;
        return obj->erase(k);
    }
    return obj->deleteSpecial(*this, name);
}

std::vector<QString> Vm::enumerableKeys(Object* obj) {
    std::vector<QString> out;
    std::unordered_set<QString> seen;
    int depth = 0;
    for (Object* o = obj; o && depth < limits::kMaxProtoDepth; o = o->proto(), ++depth) {
        std::vector<QString> special;
        o->specialKeys(*this, special);
        for (const QString& s : special)
            if (seen.insert(key(s)).second) out.push_back(s);
        for (const Property& p : o->properties()) {
            const QString k = key(p.name);
            if (!seen.insert(k).second) continue;
            // Version flags do not hide a member from for..in; only DontEnum does.
            if (p.flags & prop::kDontEnum) continue;
            out.push_back(p.name);
        }
    }
    return out;
}

Object* Vm::wrapThroughGlobal(const Value& v) {
    const char* ctorName = nullptr;
    switch (v.type()) {
    case Type::Object: return v.asObject();
    case Type::String: ctorName = "String"; break;
    case Type::Number: ctorName = "Number"; break;
    case Type::Boolean: ctorName = "Boolean"; break;
    default: return nullptr;
    }
    Value made = construct(getMember(Value(m_global), QString::fromLatin1(ctorName)), std::span<const Value>(&v, 1));
    return made.asObject();
}

bool Vm::instanceOfAction(const Value& v, const Value& ctorV) {
    Object* o = v.asObject();
    if (!o) return false;
    Object* ctor = wrapThroughGlobal(ctorV);
    if (!ctor) return false;
    if (auto* c = dynamic_cast<ClipObject*>(ctor); c && c->removed()) return false;
    const Property* slot = ctor->find(key(QStringLiteral("prototype")));
    if (!slot || slot->isVirtual()) return false;
    // A clip kept as a prototype is a reference by path, never the same object.
    if (!slot->value.isObject()) {
        wrapThroughGlobal(slot->value); // made and dropped: nothing matches a fresh object
        return false;
    }
    if (dynamic_cast<ClipObject*>(slot->value.asObject())) return false;
    // A removed clip has lost its prototypes.
    if (auto* clip = dynamic_cast<ClipObject*>(o); clip && clip->removed()) return false;
    return instanceOf(v, ctor);
}

bool Vm::instanceOf(const Value& v, Object* ctor) {
    Object* o = v.asObject();
    if (!o || !ctor) return false;
    Value protoV = getMember(Value(ctor), QStringLiteral("prototype"));
    Object* proto = protoV.asObject();
    if (!proto) return false;
    int depth = 0;
    for (Object* p = o->proto(); p && depth < limits::kMaxProtoDepth; p = p->proto(), ++depth) {
        if (p == proto) return true;
        // `implements`: the constructor of a prototype on the chain lists interfaces.
        Value c = getMember(Value(p), QStringLiteral("constructor"));
        if (Object* co = c.asObject()) {
            std::vector<Object*> stack(co->interfaces.begin(), co->interfaces.end());
            int guard = 0;
            while (!stack.empty() && guard++ < 1000) {
                Object* i = stack.back();
                stack.pop_back();
                if (i == ctor) return true;
                Value ip = getMember(Value(i), QStringLiteral("prototype"));
                if (ip.asObject() == proto) return true;
                stack.insert(stack.end(), i->interfaces.begin(), i->interfaces.end());
            }
        }
    }
    return false;
}

// ---- Calls -----------------------------------------------------------------------

bool Vm::isCallable(const Value& v) const {
    Object* o = v.asObject();
    return o && o->kind() == Kind::Function;
}

Value Vm::call(const Value& fnv, const Value& thisv, std::span<const Value> args, Object* superProto) {
    auto* fn = dynamic_cast<FunctionObject*>(fnv.asObject());
    const bool constructs = std::exchange(m_constructNext, false);
    if (!fn || m_halted) return Value();
    if (m_depth >= m_maxCallDepth) {
        halt(QStringLiteral("%1 levels of recursion were exceeded in one action list").arg(m_maxCallDepth));
        return Value();
    }
    ScriptRun run(m_budget);
    ++m_depth;
    Value r;
    if (fn->native()) {
        CallArgs ca{thisv, args, fn};
        r = fn->native()(*this, ca);
    } else if (fn->script()) {
        m_constructNext = constructs;
        r = runFunction(fn, thisv, args, superProto);
    }
    --m_depth;
    return r;
}

Value Vm::callMethod(const Value& obj, const QString& name, std::span<const Value> args) {
    Value fn = getMember(obj, name);
    if (!isCallable(fn)) return Value();
    Object* holder = nullptr;
    if (Object* o = obj.asObject()) findProperty(o, name, &holder);
    return call(fn, obj, args, holder ? holder->proto() : nullptr);
}

Value Vm::construct(const Value& ctorv, std::span<const Value> args) {
    auto* fn = dynamic_cast<FunctionObject*>(ctorv.asObject());
    if (!fn || m_halted) return Value();
    Value protoV = getMember(ctorv, QStringLiteral("prototype"));
    if (fn->constructor) {
        if (m_depth >= limits::kMaxCallDepth) { halt(QStringLiteral("recursion limit")); return Value(); }
        ScriptRun run(m_budget);
        ++m_depth;
        CallArgs ca{Value(), args, fn};
        Value r = fn->constructor(*this, ca);
        --m_depth;
        // Only an instance made here is marked, not an object handed back (new Object(o)).
        if (Object* made = r.asObject(); made && made->proto() && made->proto() == protoV.asObject() &&
                                          !made->find(key(QStringLiteral("__constructor__"))))
            markConstructed(made, ctorv);
        return r;
    }
    Object* o = make<Object>(protoV.asObject());
    markConstructed(o, ctorv);
    m_constructNext = true;
    call(ctorv, Value(o), args, protoV.asObject() ? protoV.asObject()->proto() : nullptr);
    return Value(o);
}

void Vm::markConstructed(Object* o, const Value& ctorv) {
    // `new` records the constructor on the instance: __constructor__ (seen
    // from SWF 6 on) always, `constructor` only for movies before SWF 7,
    // which read it from the prototype instead.
    defineValue(o, QStringLiteral("__constructor__"), ctorv, prop::kDontEnum | prop::kVersion6);
    if (m_version < 7) defineValue(o, QStringLiteral("constructor"), ctorv, prop::kDontEnum);
}

void Vm::setMaxCallDepth(int depth) { m_maxCallDepth = std::clamp(depth, 1, limits::kMaxCallDepth); }

// ---- Limits and host ---------------------------------------------------------------

void Vm::throwValue(const Value& v) { m_exception = v; }

std::optional<Value> Vm::takeException() {
    auto e = std::move(m_exception);
    m_exception.reset();
    return e;
}

void Vm::beginFrame() {
    m_budget.beginTick();
    // What one frame's scripts leave on the shared stack is gone by the next frame.
    m_sharedStack.clear();
}

void Vm::halt(const QString& reason) {
    if (m_halted) return;
    m_halted = true;
    log(LogLevel::Warning, QStringLiteral("Scripts halted: %1").arg(reason));
    // Nothing runs again: what timers and the shared stack hold can go.
    m_timers.clear();
    m_sharedStack.clear();
}

bool Vm::countAction() { return chargeWork(1); }

bool Vm::chargeWork(uint64_t units) {
    if (m_halted) return false;
    if (!m_budget.chargeWork(units)) {
        halt(m_budget.breach());
        return false;
    }
    // A long run lets the host answer its window now and then.
    m_busyWork += units;
    if (m_busyWork >= limits::kWorkPerClockCheck && m_host.busy) {
        m_busyWork = 0;
        m_host.busy();
    }
    return true;
}

void Vm::trace(const QString& line) {
    if (m_host.trace) m_host.trace(line);
}

void Vm::log(LogLevel level, const QString& message) {
    if (m_host.log) m_host.log(level, message.toStdString());
}

void Vm::unimplemented(const QString& what) {
    if (std::find(m_unimplemented.begin(), m_unimplemented.end(), what) != m_unimplemented.end()) return;
    m_unimplemented.push_back(what);
    log(LogLevel::Unimplemented, what);
}

void Vm::openUrl(const QString& url, const QString& window) {
    const QString scheme = url.section(u':', 0, 0).trimmed().toLower();
    if (url.contains(u':') && (scheme == u"http" || scheme == u"https" || scheme == u"mailto")) {
        if (m_host.openUrl) m_host.openUrl(url, window);
        return;
    }
    log(LogLevel::Warning, QStringLiteral("getURL refused: %1").arg(url.left(200)));
}

// ---- Timers ----------------------------------------------------------------------

int Vm::addTimer(ScriptTimer t) {
    if (m_timers.size() >= limits::kMaxScriptTimers) return 0;
    t.id = m_nextTimerId++;
    t.dueMs = m_clockMs + std::max(t.intervalMs, 1.0);
    m_timers.push_back(std::move(t));
    return m_timers.back().id;
}

void Vm::removeTimer(int id) {
    std::erase_if(m_timers, [id](const ScriptTimer& t) { return t.id == id; });
}

void Vm::advanceTimers(double ms, const std::function<void()>& afterEach) {
    const double end = m_clockMs + ms;
    // Timers fire in due order, each as often as it fell due in this span
    // (a 1 ms interval runs many times in one frame), up to a bound per call.
    for (int fired = 0; fired < kMaxTimerCallsPerAdvance && !m_halted; ++fired) {
        auto next = std::min_element(m_timers.begin(), m_timers.end(),
                                     [](const ScriptTimer& a, const ScriptTimer& b) { return a.dueMs < b.dueMs; });
        if (next == m_timers.end() || next->dueMs > end) break;
        m_clockMs = std::max(m_clockMs, next->dueMs);
        ScriptTimer t = *next;
        if (t.repeat) next->dueMs = m_clockMs + std::max(t.intervalMs, 1.0);
        else m_timers.erase(next);
        if (t.method.isEmpty()) call(t.target, Value(), t.args);
        else callMethod(t.target, t.method, t.args);
        takeException();
        if (afterEach) afterEach();
    }
    m_clockMs = end;
}

} // namespace swf::avm1
