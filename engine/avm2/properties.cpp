// Property access by multiname, calls and construction, and the traits
// made from ABC classes and scripts.
#include "engine/avm2/builtins.h"
#include "engine/avm2/vm.h"

#include "engine/core/limits.h"

#include <algorithm>
#include <functional>

namespace swf::avm2 {

namespace {

// A name only in the AS3 namespace reaches XML's methods, not its children.
bool isAs3Name(const Name& name) {
    return name.nsCount == 1 && !name.anyNs && name.nss[0].uri == QLatin1String("http://adobe.com/AS3/2006/builtin");
}

bool arrayIndex(const QString& s, uint32_t& out) {
    if (s.isEmpty() || s.size() > 10) return false;
    if (s.size() > 1 && s[0] == u'0') return false;
    uint64_t v = 0;
    for (QChar c : s) {
        if (c < u'0' || c > u'9') return false;
        v = v * 10 + uint64_t(c.unicode() - '0');
    }
    if (v >= 4294967295u) return false;
    out = uint32_t(v);
    return true;
}

QString dotted(const ClassObject* c) {
    QString q = c->qualifiedName();
    return q.replace(QLatin1String("::"), QLatin1String("."));
}

QString className(Vm& vm, const Value& v) {
    ClassObject* c = vm.classOf(v);
    if (v.isObject())
        if (auto* k = v.o->as<ClassObject>()) return dotted(k) + QStringLiteral("$");
    return c ? dotted(c) : QStringLiteral("Object");
}

} // namespace

const Binding* Vm::findBinding(Object* obj, const Name& name) {
    Traits* t = obj->traits;
    if (!t || name.anyName) return nullptr;
    auto it = t->byName.constFind(name.name);
    if (it == t->byName.constEnd()) return nullptr;
    const Binding* found = nullptr;
    for (uint32_t i : *it) {
        const Binding& b = t->bindings[i];
        if (name.matches(b.ns)) {
            if (found && !(found->ns == b.ns)) {
                // Several namespaces of the set match: public wins when present, else ambiguous.
                if (b.ns.isPublic()) found = &b;
                continue;
            }
            found = &b;
        }
    }
    if (!found) {
        // Built-in members live in the public namespace; code compiled with
        // AS3 namespace references finds them there.
        for (size_t k = 0; k < name.nsCount; ++k)
            if (name.nss[k].category() == 0 && name.nss[k].uri == QLatin1String("http://adobe.com/AS3/2006/builtin"))
                for (uint32_t i : *it)
                    if (t->bindings[i].ns.isPublic()) return &t->bindings[i];
    }
    return found;
}

Value Vm::callBinding(Object* holder, const Binding& b, const Value& self, Args args) {
    (void)holder;
    return invoke(b.method, self, args, b.home ? &b.home->scope : nullptr, b.home);
}

Value Vm::stringProperty(const QString& s, const Name& name, bool& found) {
    found = false;
    if (!name.includesPublic()) return {};
    uint32_t idx;
    if (arrayIndex(name.name, idx)) {
        found = true;
        return idx < uint32_t(s.size()) ? Value::string(QString(s[qsizetype(idx)])) : Value();
    }
    return {};
}

Value Vm::lookupTraitOrProto(Object* o, const Name& name, const Value& self, bool& found) {
    found = true;
    if (const Binding* b = findBinding(o, name)) {
        switch (b->kind) {
        case Binding::Kind::Slot: return o->slotValues[b->slot];
        case Binding::Kind::Method: return Value::object(methodClosure(*b, self));
        case Binding::Kind::Accessor:
            if (!b->getter) throwError(ErrorType::ReferenceError, 1077, {name.name, className(*this, self)});
            return invoke(b->getter, self, {}, b->home ? &b->home->scope : nullptr, b->home);
        }
    }
    if (name.includesPublic() && !name.anyName) {
        for (Object* p = o; p; p = p->proto) {
            if (p != o && p->traits && p->as<ClassObject>() == nullptr) {
                // prototype objects carry no traits of their own
            }
            if (Value* v = p->dynamic.find(name.name)) return *v;
        }
    }
    found = false;
    return {};
}

// A property of a boolean, number or string: its class's traits and prototype. An int or
// uint also reaches Number's prototype, as every number shares it.
Value Vm::primitiveProperty(const Value& obj, const Name& name, bool& found) {
    found = false;
    if (obj.isString()) {
        Value v = stringProperty(obj.s, name, found);
        if (found) return v;
    }
    ClassObject* c = classOf(obj);
    Object holder;
    holder.traits = &c->instanceTraits;
    holder.proto = c->prototype;
    Value v = lookupTraitOrProto(&holder, name, obj, found);
    if (found || !obj.isNumber() || c == builtin("Number")) return v;
    holder.proto = builtin("Number")->prototype;
    return lookupTraitOrProto(&holder, name, obj, found);
}

Value Vm::getProperty(const Value& obj, const Name& name) {
    switch (obj.kind) {
    case Value::Kind::Undefined: throwError(ErrorType::TypeError, 1010);
    case Value::Kind::Null: throwError(ErrorType::TypeError, 1009);
    case Value::Kind::Object: break;
    default: {
        bool found = false;
        Value v = primitiveProperty(obj, name, found);
        if (found) return v;
        throwError(ErrorType::ReferenceError, 1069, {name.name, dotted(classOf(obj))});
    }
    }
    Object* o = obj.o;
    if (auto* x = o->as<XmlObject>(); x && !isAs3Name(name)) return xmlGet(*this, *x, name);
    if (auto r = proxyOperation(*this, o, name, "getProperty")) return *r;
    if (auto* d = o->as<DictionaryObject>(); d && name.key.isObject()) {
        for (const auto& [k, v] : d->objectKeys)
            if (k == name.key.o) return v;
        return {};
    }
    if (name.includesPublic() && !name.anyName) {
        uint32_t idx;
        if (auto* a = o->as<ArrayObject>(); a && arrayIndex(name.name, idx)) {
            if (const Value* e = a->element(idx)) return *e;
        } else if (auto* vec = o->as<VectorObject>(); vec && !name.name.isEmpty() && (name.name[0].isDigit() || name.name[0] == u'-')) {
            double d = stringToNumber(name.name);
            if (d >= 0 && d == std::trunc(d) && d < double(vec->items.size())) return vec->items[size_t(d)];
            if (d == std::trunc(d) || std::isnan(d) == false)
                throwError(ErrorType::RangeError, 1125, {name.name, QString::number(vec->items.size())});
        } else if (auto* ba = o->as<ByteArrayObject>(); ba && !name.name.isEmpty() && name.name[0].isDigit()) {
            if (auto byte = byteArrayIndexGet(*ba, stringToNumber(name.name))) return *byte;
        } else if (auto* c = o->as<ClassObject>(); c && name.name == QLatin1String("prototype")) {
            return Value::object(c->prototype);
        } else if (auto* f = o->as<FunctionObject>(); f && name.name == QLatin1String("prototype") && !f->bound) {
            if (!f->prototypeObject) {
                f->prototypeObject = newObject();
                f->prototypeObject->dynamic.set(QStringLiteral("constructor"), obj, false);
            }
            return Value::object(f->prototypeObject);
        } else if (auto* d = o->as<DictionaryObject>(); d && !name.name.isEmpty()) {
            // string and number keys are plain dynamic properties
        }
    }
    bool found = false;
    Value v = lookupTraitOrProto(o, name, obj, found);
    if (found) return v;
    if (o->sealed && !name.anyName) throwError(ErrorType::ReferenceError, 1069, {name.name, className(*this, obj)});
    return {};
}

void Vm::setProperty(const Value& obj, const Name& name, const Value& v, bool init) {
    switch (obj.kind) {
    case Value::Kind::Undefined: throwError(ErrorType::TypeError, 1010);
    case Value::Kind::Null: throwError(ErrorType::TypeError, 1009);
    case Value::Kind::Object: break;
    default: {
        ClassObject* c = classOf(obj);
        Object holder;
        holder.traits = &c->instanceTraits;
        if (const Binding* b = findBinding(&holder, name); b && b->kind == Binding::Kind::Accessor && b->setter) {
            Value args[1] = {v};
            invoke(b->setter, obj, args, nullptr, nullptr);
            return;
        }
        throwError(ErrorType::ReferenceError, 1056, {name.name, dotted(c)});
    }
    }
    Object* o = obj.o;
    if (auto* x = o->as<XmlObject>()) {
        xmlSet(*this, *x, name, v);
        return;
    }
    if (auto* d = o->as<DictionaryObject>(); d && name.key.isObject()) {
        for (auto& [k, val] : d->objectKeys)
            if (k == name.key.o) { val = v; return; }
        d->objectKeys.emplace_back(name.key.o, v);
        return;
    }
    if (const Value args[1] = {v}; proxyOperation(*this, o, name, "setProperty", args)) return;
    if (const Binding* b = findBinding(o, name)) {
        switch (b->kind) {
        case Binding::Kind::Slot: {
            SlotInfo& si = o->traits->slotDefs[b->slot];
            if (si.isConst && !init) throwError(ErrorType::ReferenceError, 1074, {name.name, className(*this, obj)});
            if (!si.typeResolved) {
                si.type = si.typeName && si.unit ? resolveType(*si.unit, si.typeName, false) : nullptr;
                si.typeResolved = true;
            }
            o->slotValues[b->slot] = coerceTo(v, si.type);
            return;
        }
        case Binding::Kind::Method:
            throwError(ErrorType::ReferenceError, 1037, {name.name, className(*this, obj)});
        case Binding::Kind::Accessor: {
            if (!b->setter) throwError(ErrorType::ReferenceError, 1074, {name.name, className(*this, obj)});
            Value args[1] = {v};
            invoke(b->setter, obj, args, b->home ? &b->home->scope : nullptr, b->home);
            return;
        }
        }
    }
    // A class's prototype is a read-only property; a function's takes any object, and what
    // `new` makes of the function inherits from it.
    if (o->as<ClassObject>() && name.name == QLatin1String("prototype") && name.includesPublic())
        throwError(ErrorType::ReferenceError, 1074, {name.name, className(*this, obj)});
    if (auto* f = o->as<FunctionObject>(); f && !f->bound && v.isObject() && name.name == QLatin1String("prototype") && name.includesPublic()) {
        f->prototypeObject = v.o;
        return;
    }
    if (name.includesPublic() && !name.anyName) {
        uint32_t idx;
        if (auto* a = o->as<ArrayObject>(); a && arrayIndex(name.name, idx)) {
            arraySetElement(*this, *a, idx, v);
            return;
        }
        if (auto* vec = o->as<VectorObject>(); vec && !name.name.isEmpty() && (name.name[0].isDigit() || name.name[0] == u'-')) {
            double d = stringToNumber(name.name);
            ClassObject* et = vec->klass ? vec->klass->elementType : nullptr;
            if (d >= 0 && d == std::trunc(d) && d < double(vec->items.size())) { vec->items[size_t(d)] = coerceTo(v, et); return; }
            if (d == double(vec->items.size()) && !vec->fixed && d < double(limits::kMaxArrayLength)) { vec->items.push_back(coerceTo(v, et)); return; }
            throwError(ErrorType::RangeError, 1125, {name.name, QString::number(vec->items.size())});
        }
        if (auto* ba = o->as<ByteArrayObject>(); ba && !name.name.isEmpty() && name.name[0].isDigit())
            if (byteArrayIndexSet(*this, *ba, stringToNumber(name.name), v)) return;
    }
    if (o->sealed || !name.includesPublic()) throwError(ErrorType::ReferenceError, 1056, {name.name, className(*this, obj)});
    o->dynamic.set(name.name, v);
}

bool Vm::deleteProperty(const Value& obj, const Name& name) {
    if (obj.isUndefined()) throwError(ErrorType::TypeError, 1010);
    if (obj.isNull()) throwError(ErrorType::TypeError, 1009);
    if (!obj.isObject()) return false;
    Object* o = obj.o;
    if (auto* x = o->as<XmlObject>()) return xmlDelete(*this, *x, name);
    if (auto r = proxyOperation(*this, o, name, "deleteProperty")) return toBoolean(*r);
    if (auto* d = o->as<DictionaryObject>(); d && name.key.isObject()) {
        std::erase_if(d->objectKeys, [&](const auto& kv) { return kv.first == name.key.o; });
        return true;
    }
    if (findBinding(o, name)) return false;
    if (name.name == QLatin1String("prototype") && (o->as<ClassObject>() || o->as<FunctionObject>())) return false;
    if (!name.includesPublic()) return false;
    uint32_t idx;
    if (auto* a = o->as<ArrayObject>(); a && arrayIndex(name.name, idx)) {
        arrayDeleteElement(*a, idx);
        return true;
    }
    // A sealed object has no dynamic properties to delete.
    if (o->sealed) return false;
    o->dynamic.remove(name.name);
    return true;
}

bool Vm::hasProperty(const Value& obj, const Name& name) {
    if (obj.isNullish()) return false;
    if (obj.isString()) {
        bool found;
        stringProperty(obj.s, name, found);
        if (found) return true;
    }
    Object holder;
    Object* o = nullptr;
    if (obj.isObject()) {
        o = obj.o;
        if (auto* d = o->as<DictionaryObject>(); d && name.key.isObject()) {
            for (const auto& kv : d->objectKeys)
                if (kv.first == name.key.o) return true;
            return false;
        }
        if (auto* x = o->as<XmlObject>()) return xmlHas(*x, name);
        if (auto r = proxyOperation(*this, o, name, "hasProperty")) return toBoolean(*r);
    } else {
        ClassObject* c = classOf(obj);
        holder.traits = &c->instanceTraits;
        holder.proto = c->prototype;
        o = &holder;
    }
    if (findBinding(o, name)) return true;
    if (!name.includesPublic()) return false;
    uint32_t idx;
    if (auto* a = o->as<ArrayObject>(); a && arrayIndex(name.name, idx) && a->element(idx)) return true;
    if (auto* v = o->as<VectorObject>(); v && arrayIndex(name.name, idx)) return idx < v->items.size();
    for (Object* p = o; p; p = p->proto)
        if (p->dynamic.find(name.name)) return true;
    return false;
}

Value Vm::callProperty(const Value& obj, const Name& name, Args args, bool lex) {
    if (obj.isUndefined()) throwError(ErrorType::TypeError, 1010);
    if (obj.isNull()) throwError(ErrorType::TypeError, 1009);
    if (obj.isObject()) {
        if (const Binding* b = findBinding(obj.o, name); b && b->kind == Binding::Kind::Method)
            return invoke(b->method, obj, args, b->home ? &b->home->scope : nullptr, b->home);
        if (auto r = proxyOperation(*this, obj.o, name, "callProperty", args)) return *r;
    } else {
        ClassObject* c = classOf(obj);
        Object holder;
        holder.traits = &c->instanceTraits;
        if (const Binding* b = findBinding(&holder, name); b && b->kind == Binding::Kind::Method)
            return invoke(b->method, obj, args, nullptr, nullptr);
    }
    // E4X: a method XML lacks is String's when the XML has simple content (ECMA-357 11.2.2.1).
    if (auto* x = obj.isObject() ? obj.o->as<XmlObject>() : nullptr)
        if (!findBinding(x, name) && x->nodes.size() == 1 && avm2lib::xml::hasSimpleContent(*x->nodes.front()))
            return callProperty(Value::string(toString(obj)), name, args, lex);
    Value f = getProperty(obj, name);
    if (!f.isObject() || !(f.o->as<FunctionObject>() || f.o->as<ClassObject>())) {
        if (obj.isObject() && f.isUndefined() && !hasProperty(obj, name))
            throwError(ErrorType::TypeError, 1006, {name.name});
        throwError(ErrorType::TypeError, 1006, {name.name});
    }
    return call(f, lex ? Value::null() : obj, args);
}

Value Vm::constructProperty(const Value& obj, const Name& name, Args args) {
    // A name a primitive lacks is undefined here, and undefined is no constructor.
    bool found = false;
    Value f = obj.isObject() || obj.isNullish() ? getProperty(obj, name) : primitiveProperty(obj, name, found);
    return construct(f, args);
}

// A Proxy enumerates through its nextNameIndex, nextName and nextValue.
static std::optional<Value> proxyEnumeration(Vm& vm, Object* obj, const char* method, int index) {
    if (!obj->as<ProxyObject>()) return std::nullopt;
    const Value args[1] = {Value::number(index)};
    return proxyCall(vm, obj, method, args);
}

// The sparse element an enumeration index names (past the dense elements).
static const std::pair<const uint32_t, Value>& sparseAt(const ArrayObject& a, size_t index) {
    return *std::next(a.sparse.begin(), long(index - a.items.size()));
}

int Vm::nextIndex(Object* obj, int index) {
    if (auto r = proxyEnumeration(*this, obj, "nextNameIndex", index)) return std::max(0, toInt(*r));
    size_t i = size_t(index);
    if (auto* x = obj->as<XmlObject>()) return i < x->nodes.size() ? int(i + 1) : 0;
    size_t arrayLen = 0;
    if (auto* a = obj->as<ArrayObject>()) arrayLen = a->items.size() + a->sparse.size();
    if (auto* v = obj->as<VectorObject>()) arrayLen = v->items.size();
    if (auto* d = obj->as<DictionaryObject>()) {
        if (i < d->objectKeys.size()) return int(i + 1);
        i -= std::min(i, d->objectKeys.size());
        const auto& entries = obj->dynamic.entries();
        for (size_t k = i; k < entries.size(); ++k)
            if (!entries[k].deleted && entries[k].enumerable) return int(d->objectKeys.size() + k + 1);
        return 0;
    }
    if (auto* a = obj->as<ArrayObject>()) {
        for (; i < a->items.size(); ++i)
            if (!a->items[i].isHole()) return int(i + 1);
        if (i < arrayLen) return int(i + 1); // the sparse elements are all present
    } else if (i < arrayLen) {
        return int(i + 1);
    }
    const auto& entries = obj->dynamic.entries();
    for (size_t k = i - std::min(i, arrayLen); k < entries.size(); ++k)
        if (!entries[k].deleted && entries[k].enumerable) return int(arrayLen + k + 1);
    return 0;
}

Value Vm::nameAt(Object* obj, int index) {
    if (auto r = proxyEnumeration(*this, obj, "nextName", index)) return *r;
    size_t i = size_t(index - 1);
    if (obj->as<XmlObject>()) return Value::string(QString::number(i));
    if (auto* d = obj->as<DictionaryObject>()) {
        if (i < d->objectKeys.size()) return Value::object(d->objectKeys[i].first);
        i -= d->objectKeys.size();
        const auto& e = obj->dynamic.entries();
        if (i < e.size()) {
            uint32_t idx;
            if (arrayIndex(e[i].name, idx)) return Value::number(idx);
            return Value::string(e[i].name);
        }
        return {};
    }
    size_t arrayLen = 0;
    if (auto* a = obj->as<ArrayObject>()) arrayLen = a->items.size() + a->sparse.size();
    if (auto* v = obj->as<VectorObject>()) arrayLen = v->items.size();
    if (i < arrayLen) {
        if (obj->as<VectorObject>()) return Value::number(double(i));
        if (auto* a = obj->as<ArrayObject>(); a && i >= a->items.size()) return Value::string(QString::number(sparseAt(*a, i).first));
        return Value::string(QString::number(i));
    }
    const auto& e = obj->dynamic.entries();
    i -= arrayLen;
    return i < e.size() ? Value::string(e[i].name) : Value();
}

Value Vm::valueAt(Object* obj, int index) {
    if (auto r = proxyEnumeration(*this, obj, "nextValue", index)) return *r;
    size_t i = size_t(index - 1);
    if (auto* x = obj->as<XmlObject>()) return i < x->nodes.size() ? makeXml(*this, x->nodes[i]) : Value();
    if (auto* d = obj->as<DictionaryObject>()) {
        if (i < d->objectKeys.size()) return d->objectKeys[i].second;
        i -= d->objectKeys.size();
        const auto& e = obj->dynamic.entries();
        return i < e.size() ? e[i].value : Value();
    }
    if (auto* a = obj->as<ArrayObject>(); a && i < a->items.size()) return a->items[i].read();
    if (auto* a = obj->as<ArrayObject>(); a && i < a->items.size() + a->sparse.size()) return sparseAt(*a, i).second;
    size_t arrayLen = 0;
    if (auto* a = obj->as<ArrayObject>()) arrayLen = a->items.size() + a->sparse.size();
    if (auto* v = obj->as<VectorObject>()) {
        if (i < v->items.size()) return v->items[i];
        arrayLen = v->items.size();
    }
    const auto& e = obj->dynamic.entries();
    i -= arrayLen;
    return i < e.size() ? e[i].value : Value();
}

// ---- Calls ----------------------------------------------------------------------

Value Vm::call(const Value& f, const Value& self, Args args) {
    if (f.isObject()) {
        if (auto* fn = f.o->as<FunctionObject>())
            return invoke(fn->method, fn->bound ? fn->boundThis : self, args, &fn->scope, fn->home, fn);
        if (auto* c = f.o->as<ClassObject>()) {
            if (c->call) return c->call(*this, f, args);
            if (c == builtin("Math")) throwError(ErrorType::TypeError, 1075);
            if (args.size() != 1) throwError(ErrorType::ArgumentError, 1112, {QString::number(args.size())});
            return coerceTo(args[0], c);
        }
    }
    throwError(ErrorType::TypeError, 1006, {QStringLiteral("value")});
}

Value Vm::construct(const Value& f, Args args) {
    if (f.isObject()) {
        if (auto* c = f.o->as<ClassObject>()) {
            // An interface has no constructor to run: its missing body is what Flash reports.
            if (c->isInterface) throwError(ErrorType::VerifyError, 1001, {c->name + QStringLiteral("()")});
            if (c == builtin("Math")) throwError(ErrorType::TypeError, 1076);
            if (!c->iinit) throwError(ErrorType::TypeError, 1115, {dotted(c)});
            Object* o = allocateInstance(c);
            Value self = Value::object(o);
            Value r = invoke(c->iinit, self, args, &c->scope, c);
            if (c->iinit->native && !r.isUndefined()) return r; // natives that make their own value (String, Number...)
            return self;
        }
        if (auto* fn = f.o->as<FunctionObject>()) {
            if (fn->bound || fn->method->native) throwError(ErrorType::TypeError, 1115, {QStringLiteral("value")});
            Value protoV = getPublic(f, QStringLiteral("prototype"));
            Object* o = newObject();
            if (protoV.isObject()) o->proto = protoV.o;
            Value self = Value::object(o);
            Value r = invoke(fn->method, self, args, &fn->scope, fn->home);
            return r.isObject() ? r : self;
        }
    }
    throwError(ErrorType::TypeError, 1007);
}

Value Vm::invoke(Method* m, const Value& self, Args args, const ScopeChain* scope, ClassObject* home, FunctionObject* callee) {
    // Making the stack-overflow error itself runs the Error constructor: it
    // gets a little room past the limit, and overflowing that halts.
    if (m_depth >= limits::kMaxCallDepth + (m_makingError ? kErrorHeadroom : 0)) {
        if (m_makingError) throw ScriptHalt{"the stack overflowed while an error was being made"};
        throwError(ErrorType::Error, 1023);
    }
    struct DepthGuard {
        Vm& vm;
        explicit DepthGuard(Vm& v) : vm(v) { ++vm.m_depth; }
        ~DepthGuard() { --vm.m_depth; }
    } guard(*this);
    if (m->native) {
        if (int(args.size()) < m->required)
            throwError(ErrorType::ArgumentError, 1063,
                       {(home ? home->name + u'/' : QString()) + m->name + QStringLiteral("()"), QString::number(m->required), QString::number(args.size())});
        if (m->label.isEmpty()) return m->native(*this, self, args);
        // A named native shows in stack traces like a compiled method.
        m_frames.push_back(FrameInfo{m, home, 0, QString()});
        struct FramePop {
            std::vector<FrameInfo>& frames;
            ~FramePop() { frames.pop_back(); }
        } pop{m_frames};
        return m->native(*this, self, args);
    }
    static const ScopeChain empty;
    return interpret(*m->unit, *m, self, args, scope ? *scope : empty, home, callee);
}

// ---- ABC helpers ----------------------------------------------------------------

Value Vm::constant(AbcUnit& unit, const ConstantRef& c) {
    const AbcFile& f = *unit.abc;
    switch (c.kind) {
    case 0x01: return Value::string(f.strings[c.index]);
    case 0x03: return Value::number(f.ints[c.index]);
    case 0x04: return Value::number(f.uints[c.index]);
    case 0x06: return Value::number(f.doubles[c.index]);
    case 0x0A: return Value::boolean(false);
    case 0x0B: return Value::boolean(true);
    case 0x0C: return Value::null();
    case 0x05: case 0x08: case 0x16: case 0x17: case 0x18: case 0x19: case 0x1A: {
        auto* ns = make<NamespaceObject>();
        ns->ns = f.namespaces[c.index];
        if (ClassObject* k = builtin("Namespace")) { ns->klass = k; ns->proto = k->prototype; }
        return Value::object(ns);
    }
    default: return {};
    }
}

ClassObject* Vm::resolveType(AbcUnit& unit, uint32_t multiname, bool strict) {
    if (multiname == 0) return nullptr;
    const Multiname& mn = unit.abc->multinames[multiname];
    if (mn.kind == MnKind::TypeName) {
        Value base = Value::object(resolveType(unit, mn.typeBase, strict));
        std::vector<Value> params;
        for (uint32_t p : mn.typeParams) {
            ClassObject* t = resolveType(unit, p, strict);
            params.push_back(t ? Value::object(t) : Value::null());
        }
        if (!base.isObject()) return nullptr;
        Value r = applyType(base, params);
        return r.o->as<ClassObject>();
    }
    if (mn.anyName) return nullptr;
    Name name;
    name.name = mn.name;
    name.nss = mn.nss.data();
    name.nsCount = mn.nss.size();
    name.anyNs = mn.anyNs;
    if (name.name == QLatin1String("void") || name.name == QLatin1String("*")) return nullptr;
    Object* holder = findDefinition(name);
    if (holder) {
        Value v = getProperty(Value::object(holder), name);
        if (v.isObject())
            if (auto* c = v.o->as<ClassObject>()) return c;
    }
    // Classes of this block that are not made yet (a type named before its class exists).
    if (strict) throwError(ErrorType::VerifyError, 1014, {mn.name});
    return nullptr;
}

namespace {
Value slotDefault(const AbcFile& f, uint32_t typeName) {
    if (typeName == 0) return {};
    const Multiname& mn = f.multinames[typeName];
    if (mn.kind != MnKind::QName || (!mn.nss.empty() && !mn.nss[0].uri.isEmpty())) return Value::null();
    if (mn.name == QLatin1String("int") || mn.name == QLatin1String("uint")) return Value::number(0);
    if (mn.name == QLatin1String("Number")) return Value::number(std::nan(""));
    if (mn.name == QLatin1String("Boolean")) return Value::boolean(false);
    if (mn.name == QLatin1String("*")) return {};
    return Value::null();
}
} // namespace

void Vm::buildTraits(AbcUnit& unit, Traits& traits, const std::vector<Trait>& list, ClassObject* home, Object* holder,
                     const ScopeChain* scope, uint32_t baseSlots) {
    const AbcFile& f = *unit.abc;
    for (const Trait& t : list) {
        const Multiname& mn = f.multinames[t.name];
        Binding b;
        b.ns = mn.nss.empty() ? publicNs() : mn.nss[0];
        b.name = mn.name;
        b.home = home;
        b.dispId = t.id;
        switch (t.kind) {
        case TraitKind::Slot: case TraitKind::Const: case TraitKind::Class: case TraitKind::Function: {
            uint32_t index;
            if (t.id == 0) index = uint32_t(traits.slotDefs.size());
            else index = t.id - 1 >= baseSlots ? t.id - 1 : baseSlots + t.id - 1;
            if (index >= (1u << 20)) index = uint32_t(traits.slotDefs.size()); // a lying slot id
            if (traits.slotDefs.size() <= index) traits.slotDefs.resize(size_t(index) + 1);
            SlotInfo& si = traits.slotDefs[index];
            si.name = mn.name;
            si.unit = &unit;
            si.isConst = t.kind == TraitKind::Const;
            if (t.kind == TraitKind::Slot || t.kind == TraitKind::Const) {
                si.typeName = t.typeName;
                si.initial = t.value.kind || t.value.index ? constant(unit, t.value) : slotDefault(f, t.typeName);
                if (t.value.kind == 0 && t.value.index == 0) si.initial = slotDefault(f, t.typeName);
            } else if (t.kind == TraitKind::Function && scope) {
                si.initial = Value::object(newFunction(unit.methods[t.index].get(), *scope, home));
            } else {
                si.initial = Value::null();
            }
            b.kind = Binding::Kind::Slot;
            b.slot = index;
            break;
        }
        case TraitKind::Method:
            b.kind = Binding::Kind::Method;
            b.method = unit.methods[t.index].get();
            break;
        case TraitKind::Getter:
            b.kind = Binding::Kind::Accessor;
            b.getter = unit.methods[t.index].get();
            break;
        case TraitKind::Setter:
            b.kind = Binding::Kind::Accessor;
            b.setter = unit.methods[t.index].get();
            break;
        }
        if (t.kind == TraitKind::Method || t.kind == TraitKind::Getter || t.kind == TraitKind::Setter) {
            Method* m = unit.methods[t.index].get();
            QString prefix = t.kind == TraitKind::Getter ? QStringLiteral("get ") : t.kind == TraitKind::Setter ? QStringLiteral("set ") : QString();
            QString owner = home ? home->qualifiedName() + (holder == home ? QStringLiteral("$") : QString()) : QStringLiteral("global");
            m->label = owner + u'/' + prefix + mn.name;
        }
        traits.add(b);
    }
    (void)holder;
}

Traits* Vm::activationTraits(AbcUnit& unit, int body) {
    auto& t = unit.activationTraits[size_t(body)];
    if (!t) {
        t = std::make_unique<Traits>();
        buildTraits(unit, *t, unit.abc->bodies[size_t(body)].traits, nullptr, nullptr, nullptr, 0);
    }
    return t.get();
}

// An interface of this block that a class implements before the script made it: an
// interface has no base and no static state, so it is made now, in the global scope.
ClassObject* Vm::interfaceAhead(AbcUnit& unit, uint32_t multiname, const ScopeChain& scope) {
    const AbcFile& f = *unit.abc;
    const Multiname& wanted = f.multinames[multiname];
    for (uint32_t k = 0; k < f.instances.size(); ++k) {
        const InstanceInfo& inst = f.instances[k];
        const Multiname& mn = f.multinames[inst.name];
        if (!inst.isInterface() || unit.classes[k] || mn.name != wanted.name || mn.nss.empty()) continue;
        if (std::find(wanted.nss.begin(), wanted.nss.end(), mn.nss[0]) == wanted.nss.end()) continue;
        if (std::find(m_interfacesAhead.begin(), m_interfacesAhead.end(), &unit.classes[k]) != m_interfacesAhead.end()) return nullptr;
        m_interfacesAhead.push_back(&unit.classes[k]); // a cycle of interfaces ends here
        ScopeChain global;
        if (!scope.empty()) global.push_back(scope.front());
        ClassObject* c = newClass(unit, k, nullptr, global);
        m_interfacesAhead.pop_back();
        return c;
    }
    return nullptr;
}

ClassObject* Vm::newClass(AbcUnit& unit, uint32_t index, ClassObject* base, const ScopeChain& scope) {
    const AbcFile& f = *unit.abc;
    // An interface made ahead of its newclass is that class.
    if (ClassObject* made = unit.classes[index]; made && made->isInterface) return made;
    const InstanceInfo& inst = f.instances[index];
    const ClassInfo& ci = f.classes[index];
    const Multiname& mn = f.multinames[inst.name];
    if (base && base->isFinal) throwError(ErrorType::VerifyError, 1103, {mn.name});
    if (base && base->isInterface) throwError(ErrorType::VerifyError, 1110, {mn.name, base->name});
    ClassObject* c = make<ClassObject>();
    c->ns = mn.nss.empty() ? publicNs() : mn.nss[0];
    c->name = mn.name;
    c->base = base;
    c->traits = &c->classTraits;
    ClassObject* classClass = builtin("Class");
    c->klass = classClass;
    c->proto = classClass->prototype;
    c->isInterface = inst.isInterface();
    c->isFinal = inst.flags & 2;
    c->instancesSealed = inst.isSealed();
    c->allocate = base ? base->allocate : nullptr;
    for (uint32_t i : inst.interfaces) {
        ClassObject* iface = resolveType(unit, i, false);
        if (!iface) iface = interfaceAhead(unit, i, scope);
        if (iface && !iface->isInterface) throwError(ErrorType::VerifyError, 1111, {mn.name, iface->name});
        if (iface) c->interfaces.push_back(iface);
    }
    c->scope = scope;
    c->scope.push_back(ScopeEntry{Value::object(c), false});
    uint32_t baseSlots = 0;
    if (base) {
        c->instanceTraits = base->instanceTraits;
        baseSlots = uint32_t(base->instanceTraits.slotDefs.size());
    }
    buildTraits(unit, c->instanceTraits, inst.traits, c, nullptr, &c->scope, baseSlots);
    // A call through an interface names the method in the interface's
    // namespace: it reaches the class's public method of that name.
    std::function<void(ClassObject*)> alias = [&](ClassObject* iface) {
        for (const Binding& ib : iface->instanceTraits.bindings) {
            Object holder;
            holder.traits = &c->instanceTraits;
            if (const Binding* pb = findBinding(&holder, Name::publicName(ib.name)); pb && !(pb->ns == ib.ns)) {
                Binding copy = *pb;
                copy.ns = ib.ns;
                c->instanceTraits.add(copy);
            }
        }
        for (ClassObject* super : iface->interfaces) alias(super);
    };
    if (!c->isInterface)
        for (ClassObject* iface : c->interfaces) alias(iface);
    c->prototype = newObject();
    c->prototype->proto = base ? base->prototype : builtin("Object")->prototype;
    c->prototype->dynamic.set(QStringLiteral("constructor"), Value::object(c), false);
    c->iinit = unit.methods[inst.iinit].get();
    c->iinit->label = c->qualifiedName();
    unit.methods[ci.cinit]->label = c->qualifiedName() + QStringLiteral("$cinit");
    buildTraits(unit, c->classTraits, ci.traits, c, c, &c->scope, 0);
    initSlots(c);
    unit.classes[index] = c;
    invoke(unit.methods[ci.cinit].get(), Value::object(c), {}, &c->scope, c);
    return c;
}

} // namespace swf::avm2
