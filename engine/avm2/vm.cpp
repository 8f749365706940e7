#include "engine/avm2/vm.h"

#include "engine/avm2/builtins.h"
#include "engine/avm2/errors.h"
#include "engine/core/limits.h"

#include <algorithm>
#include <unordered_set>

namespace swf::avm2 {

namespace {
const QString kAs3Ns = QStringLiteral("http://adobe.com/AS3/2006/builtin");

} // namespace

bool Name::includesPublic() const {
    if (anyNs) return true;
    for (size_t i = 0; i < nsCount; ++i)
        if (nss[i].isPublic() || (nss[i].category() == 0 && nss[i].uri == kAs3Ns)) return true;
    return false;
}

Name Name::publicName(const QString& n) {
    Name name;
    name.name = n;
    name.own = Namespace{NsKind::Package, QString(), 0};
    name.nss = &name.own;
    name.nsCount = 1;
    return name;
}

// ---- Object walks -----------------------------------------------------------------

void Object::visit(const std::function<void(const Value&)>& f) const {
    for (const Value& v : slotValues) f(v);
    for (const auto& e : dynamic.entries()) f(e.value);
    if (proto) f(Value::object(proto));
    if (klass) f(Value::object(klass));
}
void FunctionObject::visit(const std::function<void(const Value&)>& f) const {
    Object::visit(f);
    for (const auto& s : scope) f(s.object);
    if (home) f(Value::object(home));
    f(boundThis);
    if (prototypeObject) f(Value::object(prototypeObject));
}
void ClassObject::visit(const std::function<void(const Value&)>& f) const {
    Object::visit(f);
    if (base) f(Value::object(base));
    for (auto* i : interfaces) f(Value::object(i));
    if (prototype) f(Value::object(prototype));
    for (const auto& s : scope) f(s.object);
    if (elementType) f(Value::object(elementType));
    for (auto& [k, v] : applied) { f(Value::object(k)); f(Value::object(v)); }
    if (appliedAny) f(Value::object(appliedAny));
    for (const auto& s : instanceTraits.slotDefs) f(s.initial);
    for (const auto& s : classTraits.slotDefs) f(s.initial);
}
void ArrayObject::visit(const std::function<void(const Value&)>& f) const {
    Object::visit(f);
    for (const Value& v : items) f(v);
    for (const auto& [i, v] : sparse) f(v);
}
void VectorObject::visit(const std::function<void(const Value&)>& f) const {
    Object::visit(f);
    for (const Value& v : items) f(v);
}
void BoxedObject::visit(const std::function<void(const Value&)>& f) const {
    Object::visit(f);
    f(value);
}
void DictionaryObject::visit(const std::function<void(const Value&)>& f) const {
    Object::visit(f);
    for (const auto& [k, v] : objectKeys) {
        if (!weakKeys) f(Value::object(k));
        f(v);
    }
}

void DispatcherObject::visit(const std::function<void(const Value&)>& f) const {
    Object::visit(f);
    for (const auto& l : listeners) f(l.fn);
    for (const auto& [k, v] : frameScripts) f(v);
}

bool ClassObject::isSubclassOf(const ClassObject* other) const {
    for (const ClassObject* c = this; c; c = c->base) {
        if (c == other) return true;
        for (const ClassObject* i : c->interfaces)
            if (i->isSubclassOf(other)) return true;
    }
    return false;
}

// ---- Vm ----------------------------------------------------------------------------

Vm::Vm(std::function<void(const QString&)> trace) : m_trace(std::move(trace)) { installBuiltins(); }

Vm::~Vm() = default;

Result<AbcUnit*> Vm::load(std::span<const uint8_t> bytes, bool lazy) {
    auto parsed = parseAbc(bytes, m_privateIds);
    if (!parsed) return parsed.error();
    m_privateIds += (*parsed)->namespaces.size() + 1;
    auto unit = std::make_unique<AbcUnit>();
    unit->abc = *parsed;
    const AbcFile& abc = *unit->abc;
    for (size_t i = 0; i < abc.methods.size(); ++i) {
        auto m = std::make_unique<Method>();
        m->abc = unit->abc;
        m->unit = unit.get();
        m->index = int(i);
        m->name = abc.methods[i].name;
        m->label = QStringLiteral("Function/<anonymous>");
        m->arity = int(abc.methods[i].paramTypes.size());
        unit->methods.push_back(std::move(m));
    }
    unit->classes.assign(abc.instances.size(), nullptr);
    unit->scriptState.assign(abc.scripts.size(), 0);
    unit->verified.assign(abc.bodies.size(), 0);
    unit->instructionStarts.resize(abc.bodies.size());
    unit->verifyErrors.resize(abc.bodies.size());
    unit->activationTraits.resize(abc.bodies.size());
    AbcUnit* u = unit.get();
    units.push_back(std::move(unit));
    for (size_t s = 0; s < abc.scripts.size(); ++s) {
        auto traits = std::make_unique<Traits>();
        Object* global = make<Object>();
        global->proto = builtin("Object")->prototype;
        global->klass = globalClass();
        buildTraits(*u, *traits, abc.scripts[s].traits, nullptr, global, nullptr, 0);
        global->traits = traits.get();
        u->activationTraits.push_back(std::move(traits)); // kept alive with the unit
        initSlots(global);
        u->scriptGlobals.push_back(global);
        for (const Trait& t : abc.scripts[s].traits) {
            const Multiname& mn = abc.multinames[t.name];
            m_definitions.push_back(Definition{mn.nss.empty() ? publicNs() : mn.nss[0], mn.name, u, s});
        }
    }
    if (!lazy) runScript(*u, abc.scripts.size() - 1);
    return u;
}

// The class of script global objects: named "global", like Object otherwise, and no definition.
ClassObject* Vm::globalClass() {
    if (!m_globalClass) {
        ClassObject* object = builtin("Object");
        m_globalClass = make<ClassObject>();
        m_globalClass->name = QStringLiteral("global");
        m_globalClass->base = object;
        m_globalClass->prototype = object->prototype;
        m_globalClass->instancesSealed = false;
        m_globalClass->klass = builtin("Class");
        m_globalClass->proto = m_globalClass->klass ? m_globalClass->klass->prototype : nullptr;
    }
    return m_globalClass;
}

void Vm::runScript(AbcUnit& unit, size_t index) {
    if (unit.scriptState[index] != 0) return;
    unit.scriptState[index] = 1;
    Object* global = unit.scriptGlobals[index];
    ScopeChain scope{ScopeEntry{Value::object(global), false}};
    Method* m = unit.methods[unit.abc->scripts[index].init].get();
    m->label = QStringLiteral("global$init");
    try {
        invoke(m, Value::object(global), {}, &scope, nullptr);
    } catch (...) {
        unit.scriptState[index] = 2;
        throw;
    }
    unit.scriptState[index] = 2;
}

Object* Vm::newObject() {
    Object* o = make<Object>();
    ClassObject* c = builtin("Object");
    o->klass = c;
    o->proto = c ? c->prototype : nullptr;
    return o;
}

ArrayObject* Vm::newArray(std::vector<Value> items) {
    ArrayObject* a = make<ArrayObject>();
    ClassObject* c = builtin("Array");
    a->klass = c;
    a->proto = c->prototype;
    a->traits = &c->instanceTraits;
    a->items = std::move(items);
    return a;
}

FunctionObject* Vm::newNative(const QString& name, NativeFn fn, int arity) {
    auto m = std::make_unique<Method>();
    m->native = fn;
    m->name = name;
    m->arity = arity;
    FunctionObject* f = make<FunctionObject>();
    f->method = m.get();
    nativeMethods.push_back(std::move(m));
    if (ClassObject* c = builtin("Function")) {
        f->klass = c;
        f->proto = c->prototype;
        f->traits = &c->instanceTraits;
    }
    return f;
}

FunctionObject* Vm::newFunction(Method* m, ScopeChain scope, ClassObject* home) {
    FunctionObject* f = make<FunctionObject>();
    f->method = m;
    f->scope = std::move(scope);
    f->home = home;
    ClassObject* c = builtin("Function");
    f->klass = c;
    f->proto = c->prototype;
    f->traits = &c->instanceTraits;
    return f;
}

FunctionObject* Vm::methodClosure(const Binding& b, const Value& self) {
    FunctionObject* f = newFunction(b.method, b.home ? b.home->scope : ScopeChain{}, b.home);
    f->bound = true;
    f->boundThis = self;
    return f;
}

void Vm::collectGarbage(const std::vector<Value>& extraRoots) {
    std::vector<Object*> work;
    auto push = [&](const Value& v) {
        if (v.kind == Value::Kind::Object && v.o && !v.o->marked) {
            v.o->marked = true;
            work.push_back(v.o);
        }
    };
    push(Value::object(m_toplevel));
    for (auto* c : m_builtinClasses) push(Value::object(c));
    for (const auto& u : units) {
        for (auto* c : u->classes) if (c) push(Value::object(c));
        for (auto* g : u->scriptGlobals) push(Value::object(g));
        for (const auto& [at, scope] : u->catchScopes) push(Value::object(scope.klass));
    }
    for (const Value& v : extraRoots) push(v);
    for (const auto& t : timers) { push(t.fn); for (const Value& a : t.args) push(a); }
    if (currentDomain) push(Value::object(currentDomain));
    if (m_globalClass) push(Value::object(m_globalClass));
    push(domainMemory);
    std::vector<Value> hostRoots;
    for (auto& provider : rootProviders) provider(hostRoots);
    for (const Value& v : hostRoots) push(v);
    while (!work.empty()) {
        Object* o = work.back();
        work.pop_back();
        o->visit(push);
    }
    // Weak dictionary keys go with their objects.
    for (const auto& obj : m_heap)
        if (obj->marked)
            if (auto* d = obj->as<DictionaryObject>(); d && d->weakKeys)
                std::erase_if(d->objectKeys, [](const auto& kv) { return !kv.first->marked; });
    size_t bytes = 0;
    std::erase_if(m_heap, [&](const std::unique_ptr<Object>& o) {
        if (!o->marked) return true;
        o->marked = false;
        bytes += o->approxBytes();
        return false;
    });
    m_budget.setMeasured(bytes, m_heap.size());
}

// ---- Conversions -------------------------------------------------------------------

QString Vm::toString(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Undefined: return QStringLiteral("undefined");
    case Value::Kind::Null: return QStringLiteral("null");
    case Value::Kind::Boolean: return v.b ? QStringLiteral("true") : QStringLiteral("false");
    case Value::Kind::Number: return numberToString(v.d);
    case Value::Kind::String: return v.s;
    case Value::Kind::Object: return toString(toPrimitive(v, true));
    }
    return {};
}

double Vm::toNumber(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Undefined: return std::nan("");
    case Value::Kind::Null: return 0;
    case Value::Kind::Boolean: return v.b ? 1 : 0;
    case Value::Kind::Number: return v.d;
    case Value::Kind::String: return stringToNumber(v.s);
    case Value::Kind::Object: return toNumber(toPrimitive(v, false));
    }
    return 0;
}

bool Vm::toBoolean(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Undefined: case Value::Kind::Null: return false;
    case Value::Kind::Boolean: return v.b;
    case Value::Kind::Number: return !(v.d == 0 || std::isnan(v.d));
    case Value::Kind::String: return !v.s.isEmpty();
    case Value::Kind::Object: return true;
    }
    return false;
}

Value Vm::toPrimitive(const Value& v, bool hintString) {
    if (!v.isObject()) return v;
    // XML's names are its children: its toString is reached as a method.
    if (v.o->as<XmlObject>()) return callProperty(v, Name::publicName(QStringLiteral("toString")), {});
    if (auto* d = v.o->as<DateObject>(); d) hintString = true;
    const char* order[2] = {"valueOf", "toString"};
    if (hintString) std::swap(order[0], order[1]);
    // Each is called as a method: one that is there but no function is TypeError #1006.
    for (const char* name : order) {
        Value f = getPublic(v, QString::fromLatin1(name));
        if (!f.isObject() || !(f.o->as<FunctionObject>() || f.o->as<ClassObject>()))
            throwError(ErrorType::TypeError, 1006, {QString::fromLatin1(name)});
        Value r = call(f, v, {});
        if (!r.isObject()) return r;
    }
    throwError(ErrorType::TypeError, 1050, {describeForError(v)});
}

QString Vm::typeOf(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Undefined: return QStringLiteral("undefined");
    case Value::Kind::Null: return QStringLiteral("object");
    case Value::Kind::Boolean: return QStringLiteral("boolean");
    case Value::Kind::Number: return QStringLiteral("number");
    case Value::Kind::String: return QStringLiteral("string");
    case Value::Kind::Object:
        if (v.o->as<FunctionObject>()) return QStringLiteral("function");
        if (v.o->as<ClassObject>()) return QStringLiteral("object");
        if (v.o->type() == Object::Type::Xml) return QStringLiteral("xml");
        return QStringLiteral("object");
    }
    return {};
}

bool Vm::strictEquals(const Value& a, const Value& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case Value::Kind::Undefined: case Value::Kind::Null: return true;
    case Value::Kind::Boolean: return a.b == b.b;
    case Value::Kind::Number: return a.d == b.d;
    case Value::Kind::String: return a.s == b.s;
    case Value::Kind::Object: {
        if (a.o == b.o) return true;
        // Method closures of one method on one object are the same function.
        auto* fa = a.o->as<FunctionObject>();
        auto* fb = b.o->as<FunctionObject>();
        if (fa && fb && fa->bound && fb->bound && fa->method == fb->method) return strictEquals(fa->boundThis, fb->boundThis);
        if (auto* na = a.o->as<NamespaceObject>(); na)
            if (auto* nb = b.o->as<NamespaceObject>(); nb) return na->ns.uri == nb->ns.uri;
        if (auto* qa = a.o->as<QNameObject>(); qa)
            if (auto* qb = b.o->as<QNameObject>(); qb) return qa->localName == qb->localName && qa->ns.uri == qb->ns.uri && qa->anyNs == qb->anyNs;
        return false;
    }
    }
    return false;
}

bool Vm::looseEquals(const Value& a, const Value& b) {
    using K = Value::Kind;
    if (a.isObject() && b.isObject())
        if (auto* xa = a.o->as<XmlObject>())
            if (auto* xb = b.o->as<XmlObject>()) return xmlEquals(*this, *xa, *xb);
    if (a.kind == b.kind) return strictEquals(a, b);
    if (a.isNullish() && b.isNullish()) return true;
    if (a.isNullish() || b.isNullish()) return false;
    if (a.kind == K::Number && b.kind == K::String) return a.d == toNumber(b);
    if (a.kind == K::String && b.kind == K::Number) return toNumber(a) == b.d;
    if (a.kind == K::Boolean) return looseEquals(Value::number(a.b ? 1 : 0), b);
    if (b.kind == K::Boolean) return looseEquals(a, Value::number(b.b ? 1 : 0));
    if ((a.kind == K::Number || a.kind == K::String) && b.kind == K::Object) return looseEquals(a, toPrimitive(b));
    if (a.kind == K::Object && (b.kind == K::Number || b.kind == K::String)) return looseEquals(toPrimitive(a), b);
    return false;
}

int Vm::lessThan(const Value& a0, const Value& b0) {
    Value a = toPrimitive(a0), b = toPrimitive(b0);
    if (a.isString() && b.isString()) return a.s < b.s ? 1 : 0;
    double x = toNumber(a), y = toNumber(b);
    if (std::isnan(x) || std::isnan(y)) return -1;
    return x < y ? 1 : 0;
}

Value Vm::add(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) return Value::number(a.d + b.d);
    // XML + XML joins them into a list (ECMA-357 11.4.1).
    if (a.isObject() && b.isObject())
        if (auto* xa = a.o->as<XmlObject>())
            if (auto* xb = b.o->as<XmlObject>()) {
                avm2lib::xml::NodeList joined = xa->nodes;
                joined.insert(joined.end(), xb->nodes.begin(), xb->nodes.end());
                return makeXmlList(*this, std::move(joined));
            }
    if (a.isString() || b.isString() || (a.isObject() && a.o->as<DateObject>()) || (b.isObject() && b.o->as<DateObject>())) {
        QString s = toString(a) + toString(b);
        if (size_t(s.size()) > limits::kMaxStringLength) throwError(ErrorType::RangeError, 1000);
        return Value::string(s);
    }
    Value pa = toPrimitive(a), pb = toPrimitive(b);
    if (pa.isString() || pb.isString()) {
        QString s = toString(pa) + toString(pb);
        if (size_t(s.size()) > limits::kMaxStringLength) throwError(ErrorType::RangeError, 1000);
        return Value::string(s);
    }
    return Value::number(toNumber(pa) + toNumber(pb));
}

ClassObject* Vm::classOf(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Undefined: case Value::Kind::Null: return nullptr;
    case Value::Kind::Boolean: return builtin("Boolean");
    case Value::Kind::Number: return v.isInt() ? builtin("int") : v.isUint() ? builtin("uint") : builtin("Number");
    case Value::Kind::String: return builtin("String");
    case Value::Kind::Object: return v.o->klass ? v.o->klass : builtin("Object");
    }
    return nullptr;
}

bool Vm::isInstanceOf(const Value& v, ClassObject* c) {
    if (!c) return !v.isUndefined();
    if (v.isNullish()) return false;
    if (c == builtin("Object")) return true;
    if (v.isNumber()) {
        if (c == builtin("Number")) return true;
        if (c == builtin("int")) return v.isInt();
        if (c == builtin("uint")) return v.isUint();
        return false;
    }
    ClassObject* k = classOf(v);
    return k && k->isSubclassOf(c);
}

Value Vm::coerceTo(const Value& v, ClassObject* type) {
    if (!type) return v;
    const QString& n = type->name;
    if (type->ns.uri.isEmpty()) {
        if (n == QLatin1String("int")) return Value::number(toInt(v));
        if (n == QLatin1String("uint")) return Value::number(toUint(v));
        if (n == QLatin1String("Number")) return Value::number(toNumber(v));
        if (n == QLatin1String("Boolean")) return Value::boolean(toBoolean(v));
        if (n == QLatin1String("String")) return v.isNullish() ? Value::null() : Value::string(toString(v));
        if (n == QLatin1String("Object")) return v.isUndefined() ? Value::null() : v;
    }
    if (v.isNullish()) return Value::null();
    if (isInstanceOf(v, type)) return v;
    throwError(ErrorType::TypeError, 1034, {describeForError(v), type->qualifiedName().replace(QLatin1String("::"), QLatin1String("."))});
}

QString Vm::describeForError(const Value& v) {
    if (v.isObject()) {
        if (auto* c = v.o->as<ClassObject>()) return c->name;
        if (v.o->as<FunctionObject>()) return QStringLiteral("Function-") + QString::number(reinterpret_cast<uintptr_t>(v.o) % 1000);
        ClassObject* k = classOf(v);
        // The player names an object by class and an address it does not reveal.
        return QStringLiteral("%1@00000000000").arg(k ? k->qualifiedName().replace(QLatin1String("::"), QLatin1String(".")) : QStringLiteral("Object"));
    }
    if (v.isString()) return QStringLiteral("\"") + v.s + u'"';
    return toString(v);
}

// ---- Definitions ----------------------------------------------------------------

ClassObject* Vm::builtin(const char* name) { return m_builtinClasses.value(QString::fromLatin1(name)); }

void Vm::defineBuiltin(const Namespace& ns, const QString& name, const Value& v) {
    Traits* t = m_toplevel->traits;
    Binding b;
    b.kind = Binding::Kind::Slot;
    b.ns = ns;
    b.name = name;
    b.slot = uint32_t(t->slotDefs.size());
    SlotInfo si;
    si.name = name;
    si.isConst = true;
    si.initial = v;
    t->slotDefs.push_back(si);
    t->add(b);
    m_toplevel->slotValues.push_back(v);
}

Object* Vm::findDefinition(const Name& name) {
    if (findBinding(m_toplevel, name)) return m_toplevel;
    for (const Definition& d : m_definitions) {
        if (!name.anyName && d.name != name.name) continue;
        if (!name.matches(d.ns)) continue;
        runScript(*d.unit, d.script);
        return d.unit->scriptGlobals[d.script];
    }
    return nullptr;
}

ClassObject* Vm::classByQualifiedName(const QString& qualified) {
    QString q = qualified;
    q.replace(QLatin1String("::"), QLatin1String("."));
    int dot = q.lastIndexOf(u'.');
    Name name;
    name.name = dot < 0 ? q : q.mid(dot + 1);
    name.own = packageNs(dot < 0 ? QString() : q.left(dot));
    name.nss = &name.own;
    name.nsCount = 1;
    Object* holder = findDefinition(name);
    if (!holder) return nullptr;
    Value v = getProperty(Value::object(holder), name);
    return v.isObject() ? v.o->as<ClassObject>() : nullptr;
}

ClassObject* Vm::defineClass(const QString& qualifiedName, ClassObject* base, Object* (*allocate)(Vm&, ClassObject*),
                             NativeFn ctor, int ctorArity) {
    ClassObject* c = make<ClassObject>();
    int dot = qualifiedName.lastIndexOf(u'.');
    c->ns = packageNs(dot < 0 ? QString() : qualifiedName.left(dot));
    c->name = dot < 0 ? qualifiedName : qualifiedName.mid(dot + 1);
    c->base = base;
    c->traits = &c->classTraits;
    c->allocate = allocate ? allocate : (base ? base->allocate : nullptr);
    c->instancesSealed = false;
    if (base) c->instanceTraits = base->instanceTraits;
    c->prototype = make<Object>();
    c->prototype->proto = base ? base->prototype : nullptr;
    c->prototype->dynamic.set(QStringLiteral("constructor"), Value::object(c), false);
    if (ClassObject* classClass = builtin("Class")) {
        c->klass = classClass;
        c->proto = classClass->prototype;
    }
    if (ctor) {
        auto m = std::make_unique<Method>();
        m->native = ctor;
        m->name = c->name;
        m->arity = ctorArity;
        c->iinit = m.get();
        nativeMethods.push_back(std::move(m));
    } else if (base) {
        c->iinit = base->iinit;
    }
    m_builtinClasses.insert(qualifiedName, c);
    defineBuiltin(c->ns, c->name, Value::object(c));
    return c;
}

// How stack traces name a built-in class's members: the core classes' methods are
// in the AS3 namespace ("Array/http://adobe.com/AS3/2006/builtin::push"), statics
// are on the class object ("Error$/throwError").
static QString nativeOwner(const ClassObject* c) { return c->qualifiedName(); }
static QString nativeMethodLabel(const ClassObject* c, const QString& name) {
    return nativeOwner(c) + (c->ns.uri.isEmpty() ? QStringLiteral("/http://adobe.com/AS3/2006/builtin::") : QStringLiteral("/")) + name;
}

void Vm::defineMethod(ClassObject* c, const QString& name, NativeFn fn, int arity) {
    FunctionObject* f = newNative(name, fn, arity);
    f->method->label = nativeMethodLabel(c, name);
    c->prototype->dynamic.set(name, Value::object(f), false);
}

namespace {
Method* nativeMethod(Vm& vm, const QString& name, NativeFn fn, int arity) {
    auto m = std::make_unique<Method>();
    m->native = fn;
    m->name = name;
    m->arity = arity;
    Method* raw = m.get();
    vm.nativeMethods.push_back(std::move(m));
    return raw;
}
} // namespace

void Vm::defineFixedMethod(ClassObject* c, const QString& name, NativeFn fn, int arity, const Namespace* ns) {
    const QString prefix = ns && !ns->uri.isEmpty() ? ns->uri + QStringLiteral("::") : QString();
    addNativeMethod(c->instanceTraits, name, fn, arity, nullptr, ns)->label = nativeOwner(c) + u'/' + prefix + name;
}

void Vm::defineAccessor(ClassObject* c, const QString& name, NativeFn getter, NativeFn setter) {
    addNativeAccessor(c->instanceTraits, name, getter, setter);
    const Binding& b = c->instanceTraits.bindings[c->instanceTraits.byName.value(name).back()];
    if (b.getter) b.getter->label = nativeOwner(c) + QStringLiteral("/get ") + name;
    if (b.setter) b.setter->label = nativeOwner(c) + QStringLiteral("/set ") + name;
}

void Vm::addNativeAccessor(Traits& traits, const QString& name, NativeFn getter, NativeFn setter) {
    Binding b;
    b.kind = Binding::Kind::Accessor;
    b.ns = publicNs();
    b.name = name;
    if (getter) b.getter = nativeMethod(*this, name, getter, 0);
    if (setter) b.setter = nativeMethod(*this, name, setter, 1);
    traits.add(b);
}

void Vm::defineStatic(ClassObject* c, const QString& name, NativeFn fn, int arity, int required) {
    Method* m = addNativeMethod(c->classTraits, name, fn, arity, c);
    m->required = required;
    m->label = nativeOwner(c) + QStringLiteral("$/") + name;
}

Method* Vm::addNativeMethod(Traits& traits, const QString& name, NativeFn fn, int arity, ClassObject* home, const Namespace* ns) {
    Binding b;
    b.kind = Binding::Kind::Method;
    b.ns = ns ? *ns : publicNs();
    b.name = name;
    b.method = nativeMethod(*this, name, fn, arity);
    b.home = home;
    traits.add(b);
    return b.method;
}

void Vm::defineStaticAccessor(ClassObject* c, const QString& name, NativeFn getter, NativeFn setter) {
    addNativeAccessor(c->classTraits, name, getter, setter);
}

// A public slot at the end of `traits`.
static void addPublicSlot(Traits& traits, const Namespace& ns, const QString& name, const Value& initial, bool isConst) {
    Binding b;
    b.kind = Binding::Kind::Slot;
    b.ns = ns;
    b.name = name;
    b.slot = uint32_t(traits.slotDefs.size());
    SlotInfo si;
    si.name = name;
    si.isConst = isConst;
    si.initial = initial;
    traits.slotDefs.push_back(si);
    traits.add(b);
}

void Vm::defineConstant(ClassObject* c, const QString& name, const Value& v) {
    addPublicSlot(c->classTraits, publicNs(), name, v, true);
    c->slotValues.push_back(v);
}

void Vm::defineSlot(ClassObject* c, const QString& name, const Value& initial) {
    addPublicSlot(c->instanceTraits, publicNs(), name, initial, false);
}

Object* Vm::allocateInstance(ClassObject* c) {
    Object* o = c->allocate ? c->allocate(*this, c) : make<Object>();
    o->klass = c;
    o->proto = c->prototype;
    o->traits = &c->instanceTraits;
    o->sealed = c->instancesSealed;
    initSlots(o);
    return o;
}

void Vm::initSlots(Object* obj) {
    if (!obj->traits) return;
    obj->slotValues.resize(obj->traits->slotDefs.size());
    for (size_t i = 0; i < obj->traits->slotDefs.size(); ++i) obj->slotValues[i] = obj->traits->slotDefs[i].initial;
}

// ---- Errors -----------------------------------------------------------------------

Value Vm::makeError(ErrorType type, int id, const QStringList& params) {
    static const char* classNames[] = {"Error", "TypeError", "ReferenceError", "ArgumentError", "RangeError",
                                       "VerifyError", "EvalError", "SecurityError", "SyntaxError", "URIError",
                                       "flash.errors.IOError", "flash.errors.EOFError", "flash.errors.MemoryError"};
    ClassObject* c = builtin(classNames[int(type)]);
    QString message = errorText(id, params);
    Value args[2] = {Value::string(message), Value::number(id)};
    struct Making {
        int& count;
        explicit Making(int& c) : count(c) { ++count; }
        ~Making() { --count; }
    } making(m_makingError);
    return construct(Value::object(c), args);
}

void Vm::throwError(ErrorType type, int id, const QStringList& params) { throw ScriptThrow{makeError(type, id, params)}; }

QString Vm::stackTrace() {
    QString out;
    for (auto it = m_frames.rbegin(); it != m_frames.rend(); ++it) {
        out += QStringLiteral("\n\tat ") + it->method->label + QStringLiteral("()");
        if (!it->file.isEmpty() && it->line > 0) {
            // debugfile reads "folder;package;file": the player joins the parts as a path.
            QStringList parts = it->file.split(u';', Qt::SkipEmptyParts);
            out += QStringLiteral("[%1:%2]").arg(parts.join(u'\\')).arg(it->line);
        }
    }
    return out;
}

QString Vm::uncaughtText(const Value& v) {
    if (v.isObject())
        if (auto* e = v.o->as<ErrorObject>()) return toString(v) + e->stackTrace;
    return toString(v);
}

Value Vm::applyType(const Value& factory, Args params) {
    ClassObject* g = factory.isObject() ? factory.o->as<ClassObject>() : nullptr;
    if (!g || !g->isGeneric) throwError(ErrorType::TypeError, 1127);
    if (params.size() != 1)
        throwError(ErrorType::TypeError, 1128, {g->name, QStringLiteral("1"), QString::number(params.size())});
    ClassObject* t = params[0].isObject() ? params[0].o->as<ClassObject>() : nullptr;
    if (!t && !params[0].isNull()) throwError(ErrorType::TypeError, 1034, {describeForError(params[0]), QStringLiteral("Class")});
    ClassObject*& slot = t ? g->applied[t] : g->appliedAny;
    if (slot) return Value::object(slot);
    QString elem = t ? t->qualifiedName() : QStringLiteral("*");
    // A Vector of objects is a Vector.<*>; the int, uint and Number ones are classes of their own.
    ClassObject* base = g->base;
    if (t && t != builtin("int") && t != builtin("uint") && t != builtin("Number")) {
        const Value any[1] = {Value::null()};
        base = applyType(factory, any).o->as<ClassObject>();
    }
    ClassObject* c = make<ClassObject>();
    c->ns = g->ns;
    c->name = QStringLiteral("Vector.<%1>").arg(elem);
    c->base = base;
    c->klass = g->klass;
    c->proto = g->proto;
    c->traits = &c->classTraits;
    c->instanceTraits = g->instanceTraits;
    c->classTraits = g->classTraits;
    c->slotValues = g->slotValues;
    c->prototype = g->prototype;
    c->allocate = g->allocate;
    c->call = g->call;
    c->iinit = g->iinit;
    c->instancesSealed = g->instancesSealed;
    c->isFinal = true;
    c->elementType = t;
    c->interfaces = g->interfaces;
    slot = c;
    return Value::object(c);
}

} // namespace swf::avm2
