// The bytecode loop: one call of Vm::interpret runs one method body with
// its own registers, operand stack and scope stack.
#include "engine/avm2/builtins.h"
#include "engine/avm2/code_reader.h"
#include "engine/avm2/opcodes.h"
#include "engine/avm2/vm.h"

#include "engine/core/limits.h"

#include <bit>
#include <cstring>

namespace swf::avm2 {

namespace {

using Code = CodeReader;

QString methodLabel(const Method& m, ClassObject*) { return m.label + QStringLiteral("()"); }

} // namespace

Value Vm::interpret(AbcUnit& unit, Method& m, const Value& selfIn, Args args, const ScopeChain& outer, ClassObject* home,
                     FunctionObject* callee) {
    const AbcFile& f = *unit.abc;
    const MethodInfo& info = f.methods[size_t(m.index)];
    if (info.body < 0) throwError(ErrorType::VerifyError, 1067, {methodLabel(m, home)}); // no body to run
    const int bodyIndex = info.body;
    const MethodBody& body = f.bodies[size_t(bodyIndex)];
    if (unit.verified[size_t(bodyIndex)] == 0) {
        auto failure = verify(unit, bodyIndex);
        unit.verified[size_t(bodyIndex)] = failure ? -1 : 1;
        if (failure) unit.verifyErrors[size_t(bodyIndex)] = {failure->id, failure->params};
    }
    if (unit.verified[size_t(bodyIndex)] < 0) {
        const auto& [id, params] = unit.verifyErrors[size_t(bodyIndex)];
        throwError(ErrorType::VerifyError, id, params);
    }

    // Registers: this, the arguments coerced to their types, rest or arguments.
    const size_t paramCount = info.paramTypes.size();
    const size_t required = paramCount - info.optionals.size();
    // Function closures take any number of arguments as ECMAScript functions do (missing ones
    // are undefined); methods refuse a count outside their declaration.
    const bool takesMore = info.has(MethodFlag::NeedRest) || info.has(MethodFlag::NeedArguments) ||
                           info.has(MethodFlag::IgnoreRest) || m.closure;
    if ((args.size() < required && !m.closure) || (args.size() > paramCount && !takesMore))
        throwError(ErrorType::ArgumentError, 1063, {methodLabel(m, home), QString::number(required), QString::number(args.size())});
    std::vector<Value> regs(std::max<size_t>(body.localCount, paramCount + 2));
    regs[0] = selfIn.isNullish() && !outer.empty() ? outer.front().object : selfIn;
    for (size_t i = 0; i < paramCount; ++i) {
        Value v = i < args.size() ? args[i] : i >= required ? constant(unit, info.optionals[i - required]) : Value();
        if (uint32_t t = info.paramTypes[i]) v = coerceTo(v, resolveType(unit, t));
        regs[i + 1] = v;
    }
    if (info.has(MethodFlag::NeedRest)) {
        std::vector<Value> rest;
        for (size_t i = paramCount; i < args.size(); ++i) rest.push_back(args[i]);
        regs[paramCount + 1] = Value::object(newArray(std::move(rest)));
    } else if (info.has(MethodFlag::NeedArguments)) {
        ArrayObject* a = newArray(std::vector<Value>(args.begin(), args.end()));
        if (callee) a->dynamic.set(QStringLiteral("callee"), Value::object(callee), false);
        regs[paramCount + 1] = Value::object(a);
    }

    std::vector<Value> stack;
    stack.reserve(body.maxStack);
    std::vector<ScopeEntry> scopes;
    scopes.reserve(body.maxScopeDepth - body.initScopeDepth);
    m_frames.push_back(FrameInfo{&m, home, 0, QString()});
    struct FramePop {
        Vm& vm;
        ~FramePop() { vm.m_frames.pop_back(); }
    } framePop{*this};
    ClassObject* returnType = nullptr;
    bool returnTypeResolved = false;

    auto pop = [&]() -> Value {
        Value v = std::move(stack.back());
        stack.pop_back();
        return v;
    };
    auto popArgs = [&](uint32_t n) {
        std::vector<Value> a(std::make_move_iterator(stack.end() - n), std::make_move_iterator(stack.end()));
        stack.resize(stack.size() - n);
        return a;
    };
    // The multiname of an instruction, with runtime parts popped.
    auto name = [&](uint32_t index) -> Name {
        const Multiname& mn = f.multinames[index];
        Name n;
        n.name = mn.name;
        n.nss = mn.nss.data();
        n.nsCount = mn.nss.size();
        n.anyName = mn.anyName;
        n.anyNs = mn.anyNs;
        n.attribute = mn.attribute;
        if (mn.runtimeName) {
            Value v = pop();
            if (v.isObject())
                if (auto* q = v.o->as<QNameObject>()) {
                    n.name = q->localName;
                    n.own = q->ns;
                    n.nss = &n.own;
                    n.nsCount = 1;
                    n.anyNs = q->anyNs;
                    n.anyName = false;
                    if (mn.runtimeNs) pop();
                    return n;
                }
            if (v.isObject() && v.o->type() != Object::Type::Xml) n.key = v;
            n.name = toString(v);
            n.anyName = false;
        }
        if (mn.runtimeNs) {
            Value v = pop();
            if (!v.isObject() || !v.o->as<NamespaceObject>()) throwError(ErrorType::TypeError, 1080);
            n.own = v.o->as<NamespaceObject>()->ns;
            n.nss = &n.own;
            n.nsCount = 1;
            n.anyNs = false;
        }
        return n;
    };
    // Scope lookup: local scopes from the top, then the captured chain, then the definitions.
    auto findScope = [&](const Name& n, bool strict) -> Value {
        auto has = [&](const ScopeEntry& s, bool global) {
            if (!s.object.isObject()) return false;
            if (s.with || global) return hasProperty(s.object, n);
            return findBinding(s.object.o, n) != nullptr;
        };
        for (auto it = scopes.rbegin(); it != scopes.rend(); ++it)
            if (has(*it, outer.empty() && it == scopes.rend() - 1)) return it->object;
        for (auto it = outer.rbegin(); it != outer.rend(); ++it)
            if (has(*it, it == outer.rend() - 1)) return it->object;
        if (Object* def = findDefinition(n)) return Value::object(def);
        if (strict) throwError(ErrorType::ReferenceError, 1065, {n.name});
        return outer.empty() ? (scopes.empty() ? Value() : scopes.front().object) : outer.front().object;
    };
    auto superClass = [&]() -> ClassObject* {
        if (!home || !home->base) throwError(ErrorType::ReferenceError, 1035, {methodLabel(m, home)});
        return home->base;
    };
    auto superBinding = [&](const Name& n) -> const Binding* {
        ClassObject* base = superClass();
        Object holder;
        holder.traits = &base->instanceTraits;
        return findBinding(&holder, n);
    };
    // The bytes [addr, addr + size) of the current domain's memory; the whole access must fit.
    auto domainMemory = [&](uint32_t addr, uint32_t size) -> uint8_t* {
        ByteArrayObject* mem = domainMemoryBuffer();
        if (!mem || uint64_t(addr) + size > mem->data.length()) throwError(ErrorType::RangeError, 1506);
        return mem->data.mutableBytes().data() + addr;
    };
    auto slotOf = [&](const Value& obj, uint32_t slot) -> Value& {
        if (obj.isUndefined()) throwError(ErrorType::TypeError, 1010);
        if (obj.isNull()) throwError(ErrorType::TypeError, 1009);
        if (!obj.isObject() || slot == 0 || slot > obj.o->slotValues.size())
            throwError(ErrorType::VerifyError, 1026, {QString::number(slot), QString::number(obj.isObject() ? obj.o->slotValues.size() : 0), describeForError(obj)});
        return obj.o->slotValues[slot - 1];
    };
    auto setSlot = [&](const Value& obj, uint32_t slot, const Value& v) {
        Value& s = slotOf(obj, slot);
        SlotInfo& si = obj.o->traits->slotDefs[slot - 1];
        if (!si.typeResolved) {
            si.type = si.typeName && si.unit ? resolveType(*si.unit, si.typeName, false) : nullptr;
            si.typeResolved = true;
        }
        s = coerceTo(v, si.type);
    };

    const auto& code = body.code;
    uint32_t pc = 0;
    for (;;) {
        uint32_t insStart = 0;
        try {
            for (;;) {
                chargeWork();
                insStart = pc;
                Code c(code, pc);
                const uint8_t opcode = c.u8();
                auto branch = [&](bool taken) {
                    int32_t off = c.s24();
                    pc = taken ? uint32_t(int64_t(c.pc) + off) : c.pc;
                };
                auto compare = [&](auto test) {
                    Value b = pop(), a = pop();
                    branch(test(a, b));
                };
                switch (opcode) {
                case op::bkpt: case op::nop: case op::label: case op::timestamp: pc = c.pc; break;
                case op::bkptline: c.u30(); pc = c.pc; break;
                case op::debug: c.u8(); c.u30(); c.u8(); c.u30(); pc = c.pc; break;
                case op::debugline: m_frames.back().line = int(c.u30()); pc = c.pc; break;
                case op::debugfile: m_frames.back().file = f.strings[c.u30()]; pc = c.pc; break;
                case op::throw_: {
                    Value v = pop();
                    if (v.isObject())
                        if (auto* e = v.o->as<ErrorObject>(); e && e->stackTrace.isEmpty()) e->stackTrace = stackTrace();
                    throw ScriptThrow{v};
                }
                case op::getsuper: {
                    uint32_t idx = c.u30();
                    Name n = name(idx);
                    Value obj = pop();
                    if (obj.isNullish()) throwError(obj.isNull() ? ErrorType::TypeError : ErrorType::TypeError, obj.isNull() ? 1009 : 1010);
                    const Binding* b = superBinding(n);
                    if (!b) throwError(ErrorType::ReferenceError, 1069, {n.name, superClass()->name});
                    if (b->kind == Binding::Kind::Accessor) {
                        if (!b->getter) throwError(ErrorType::ReferenceError, 1077, {n.name, superClass()->name});
                        stack.push_back(invoke(b->getter, obj, {}, b->home ? &b->home->scope : nullptr, b->home));
                    } else if (b->kind == Binding::Kind::Method) {
                        stack.push_back(Value::object(methodClosure(*b, obj)));
                    } else {
                        stack.push_back(obj.o->slotValues[b->slot]);
                    }
                    pc = c.pc;
                    break;
                }
                case op::setsuper: {
                    uint32_t idx = c.u30();
                    Value v = pop();
                    Name n = name(idx);
                    Value obj = pop();
                    if (obj.isNullish()) throwError(ErrorType::TypeError, obj.isNull() ? 1009 : 1010);
                    const Binding* b = superBinding(n);
                    if (b && b->kind == Binding::Kind::Accessor && b->setter) {
                        Value a[1] = {v};
                        invoke(b->setter, obj, a, b->home ? &b->home->scope : nullptr, b->home);
                    } else if (b && b->kind == Binding::Kind::Slot) {
                        obj.o->slotValues[b->slot] = v;
                    } else {
                        setProperty(obj, n, v);
                    }
                    pc = c.pc;
                    break;
                }
                case op::dxns: c.u30(); pc = c.pc; break;
                case op::dxnslate: pop(); pc = c.pc; break;
                case op::kill: regs[c.u30()] = Value(); pc = c.pc; break;
                case op::ifnlt: compare([&](auto& a, auto& b) { return lessThan(a, b) != 1; }); break;
                case op::ifnle: compare([&](auto& a, auto& b) { return lessThan(b, a) != 0; }); break;
                case op::ifngt: compare([&](auto& a, auto& b) { return lessThan(b, a) != 1; }); break;
                case op::ifnge: compare([&](auto& a, auto& b) { return lessThan(a, b) != 0; }); break;
                case op::jump: branch(true); break;
                case op::iftrue: branch(toBoolean(pop())); break;
                case op::iffalse: branch(!toBoolean(pop())); break;
                case op::ifeq: compare([&](auto& a, auto& b) { return looseEquals(a, b); }); break;
                case op::ifne: compare([&](auto& a, auto& b) { return !looseEquals(a, b); }); break;
                case op::iflt: compare([&](auto& a, auto& b) { return lessThan(a, b) == 1; }); break;
                case op::ifle: compare([&](auto& a, auto& b) { return lessThan(b, a) == 0; }); break;
                case op::ifgt: compare([&](auto& a, auto& b) { return lessThan(b, a) == 1; }); break;
                case op::ifge: compare([&](auto& a, auto& b) { return lessThan(a, b) == 0; }); break;
                case op::ifstricteq: compare([&](auto& a, auto& b) { return strictEquals(a, b); }); break;
                case op::ifstrictne: compare([&](auto& a, auto& b) { return !strictEquals(a, b); }); break;
                case op::lookupswitch: {
                    int32_t def = c.s24();
                    uint32_t n = c.u30();
                    double index = toNumber(pop());
                    int32_t off = def;
                    if (index >= 0 && index <= double(n) && index == std::trunc(index)) {
                        c.pc += uint32_t(index) * 3;
                        off = c.s24();
                    }
                    pc = uint32_t(int64_t(insStart) + off);
                    break;
                }
                case op::pushwith: case op::pushscope: {
                    Value v = pop();
                    if (v.isNullish()) throwError(ErrorType::TypeError, v.isNull() ? 1009 : 1010);
                    scopes.push_back(ScopeEntry{v, opcode == op::pushwith});
                    pc = c.pc;
                    break;
                }
                case op::popscope: scopes.pop_back(); pc = c.pc; break;
                case op::nextname: case op::nextvalue: {
                    int index = toInt(pop());
                    Value obj = pop();
                    if (!obj.isObject()) stack.push_back(Value());
                    else stack.push_back(opcode == op::nextname ? nameAt(obj.o, index) : valueAt(obj.o, index));
                    pc = c.pc;
                    break;
                }
                case op::hasnext: {
                    int index = toInt(pop());
                    Value obj = pop();
                    stack.push_back(Value::number(obj.isObject() ? nextIndex(obj.o, index) : 0));
                    pc = c.pc;
                    break;
                }
                case op::hasnext2: {
                    uint32_t objReg = c.u30(), idxReg = c.u30();
                    Value obj = regs[objReg];
                    int index = toInt(regs[idxReg]);
                    bool more = false;
                    while (obj.isObject()) {
                        int next = nextIndex(obj.o, index);
                        if (next) { index = next; more = true; break; }
                        Object* p = obj.o->proto;
                        // Prototype members made by the built-ins do not enumerate; stop at Object.prototype.
                        obj = p ? Value::object(p) : Value::null();
                        index = 0;
                    }
                    if (!more) { obj = Value::null(); index = 0; }
                    regs[objReg] = obj;
                    regs[idxReg] = Value::number(index);
                    stack.push_back(Value::boolean(more));
                    pc = c.pc;
                    break;
                }
                case op::pushnull: stack.push_back(Value::null()); pc = c.pc; break;
                case op::pushundefined: stack.push_back(Value()); pc = c.pc; break;
                case op::pushbyte: stack.push_back(Value::number(int8_t(c.u8()))); pc = c.pc; break;
                case op::pushshort: stack.push_back(Value::number(int32_t(c.u30()))); pc = c.pc; break; // a 32-bit value taken as signed
                case op::pushtrue: stack.push_back(Value::boolean(true)); pc = c.pc; break;
                case op::pushfalse: stack.push_back(Value::boolean(false)); pc = c.pc; break;
                case op::pushnan: stack.push_back(Value::number(std::nan(""))); pc = c.pc; break;
                case op::pop: stack.pop_back(); pc = c.pc; break;
                case op::dup: stack.push_back(stack.back()); pc = c.pc; break;
                case op::swap: std::swap(stack[stack.size() - 1], stack[stack.size() - 2]); pc = c.pc; break;
                case op::pushstring: stack.push_back(Value::string(f.strings[c.u30()])); pc = c.pc; break;
                case op::pushint: stack.push_back(Value::number(f.ints[c.u30()])); pc = c.pc; break;
                case op::pushuint: stack.push_back(Value::number(f.uints[c.u30()])); pc = c.pc; break;
                case op::pushdouble: stack.push_back(Value::number(f.doubles[c.u30()])); pc = c.pc; break;
                case op::pushnamespace: stack.push_back(constant(unit, ConstantRef{0x08, c.u30()})); pc = c.pc; break;
                // Domain memory is little-endian; integer loads of 8 and 16 bits zero-extend.
                case op::li8: case op::li16: case op::li32: case op::lf32: case op::lf64: {
                    const int32_t addr = toInt(pop());
                    const uint32_t size = opcode == op::li8 ? 1 : opcode == op::li16 ? 2 : opcode == op::lf64 ? 8 : 4;
                    const uint8_t* p = domainMemory(uint32_t(addr), size);
                    uint64_t bits = 0;
                    for (uint32_t i = 0; i < size; ++i) bits |= uint64_t(p[i]) << (8 * i);
                    double v = opcode == op::lf64 ? std::bit_cast<double>(bits)
                               : opcode == op::lf32 ? double(std::bit_cast<float>(uint32_t(bits)))
                               : opcode == op::li32 ? double(int32_t(uint32_t(bits))) : double(bits);
                    stack.push_back(Value::number(v));
                    pc = c.pc;
                    break;
                }
                case op::si8: case op::si16: case op::si32: case op::sf32: case op::sf64: {
                    const int32_t addr = toInt(pop());
                    const Value value = pop();
                    const uint32_t size = opcode == op::si8 ? 1 : opcode == op::si16 ? 2 : opcode == op::sf64 ? 8 : 4;
                    uint64_t bits = opcode == op::sf64   ? std::bit_cast<uint64_t>(toNumber(value))
                                    : opcode == op::sf32 ? std::bit_cast<uint32_t>(float(toNumber(value)))
                                                         : uint64_t(uint32_t(toInt(value)));
                    uint8_t* p = domainMemory(uint32_t(addr), size);
                    for (uint32_t i = 0; i < size; ++i) p[i] = uint8_t(bits >> (8 * i));
                    pc = c.pc;
                    break;
                }
                case op::newfunction: {
                    ScopeChain chain = outer;
                    chain.insert(chain.end(), scopes.begin(), scopes.end());
                    Method* fm = unit.methods[c.u30()].get();
                    fm->closure = true;
                    stack.push_back(Value::object(newFunction(fm, std::move(chain), nullptr)));
                    pc = c.pc;
                    break;
                }
                case op::call: {
                    uint32_t n = c.u30();
                    auto a = popArgs(n);
                    Value recv = pop(), fn = pop();
                    pc = c.pc;
                    stack.push_back(call(fn, recv, a));
                    break;
                }
                case op::construct: {
                    uint32_t n = c.u30();
                    auto a = popArgs(n);
                    Value fn = pop();
                    pc = c.pc;
                    if (!fn.isObject()) throwError(ErrorType::TypeError, fn.isNullish() ? (fn.isNull() ? 1009 : 1010) : 1007);
                    stack.push_back(construct(fn, a));
                    break;
                }
                case op::callmethod: {
                    uint32_t disp = c.u30(), n = c.u30();
                    auto a = popArgs(n);
                    Value recv = pop();
                    pc = c.pc;
                    if (recv.isNullish()) throwError(ErrorType::TypeError, recv.isNull() ? 1009 : 1010);
                    const Binding* found = nullptr;
                    if (recv.isObject() && recv.o->traits)
                        for (const Binding& b : recv.o->traits->bindings)
                            if (b.dispId == disp && b.kind == Binding::Kind::Method) found = &b;
                    if (!found) throwError(ErrorType::VerifyError, 1051, {QString::number(disp)});
                    stack.push_back(invoke(found->method, recv, a, found->home ? &found->home->scope : nullptr, found->home));
                    break;
                }
                case op::callstatic: {
                    uint32_t idx = c.u30(), n = c.u30();
                    auto a = popArgs(n);
                    Value recv = pop();
                    pc = c.pc;
                    if (recv.isNullish()) throwError(ErrorType::TypeError, recv.isNull() ? 1009 : 1010);
                    stack.push_back(invoke(unit.methods[idx].get(), recv, a, &outer, nullptr));
                    break;
                }
                case op::callsuper: case op::callsupervoid: {
                    uint32_t idx = c.u30(), n = c.u30();
                    auto a = popArgs(n);
                    Name nm = name(idx);
                    Value recv = pop();
                    pc = c.pc;
                    if (recv.isNullish()) throwError(ErrorType::TypeError, recv.isNull() ? 1009 : 1010);
                    const Binding* b = superBinding(nm);
                    Value r;
                    if (b && b->kind == Binding::Kind::Method) {
                        r = invoke(b->method, recv, a, b->home ? &b->home->scope : nullptr, b->home);
                    } else if (b && b->kind == Binding::Kind::Accessor && b->getter) {
                        r = call(invoke(b->getter, recv, {}, b->home ? &b->home->scope : nullptr, b->home), recv, a);
                    } else {
                        throwError(ErrorType::ReferenceError, 1070, {nm.name, superClass()->name});
                    }
                    if (opcode == op::callsuper) stack.push_back(r);
                    break;
                }
                case op::callproperty: case op::callproplex: case op::callpropvoid: {
                    uint32_t idx = c.u30(), n = c.u30();
                    auto a = popArgs(n);
                    Name nm = name(idx);
                    Value obj = pop();
                    pc = c.pc;
                    Value r = callProperty(obj, nm, a, opcode == op::callproplex);
                    if (opcode != op::callpropvoid) stack.push_back(r);
                    break;
                }
                case op::returnvoid: case op::returnvalue: {
                    Value r = opcode == op::returnvalue ? pop() : Value();
                    if (!returnTypeResolved) {
                        returnType = resolveType(unit, info.returnType, false);
                        returnTypeResolved = true;
                    }
                    if (returnType) r = coerceTo(r, returnType);
                    return r;
                }
                case op::constructsuper: {
                    uint32_t n = c.u30();
                    auto a = popArgs(n);
                    Value obj = pop();
                    pc = c.pc;
                    if (obj.isNullish()) throwError(ErrorType::TypeError, obj.isNull() ? 1009 : 1010);
                    ClassObject* base = superClass();
                    if (base->iinit) invoke(base->iinit, obj, a, &base->scope, base);
                    break;
                }
                case op::constructprop: {
                    uint32_t idx = c.u30(), n = c.u30();
                    auto a = popArgs(n);
                    Name nm = name(idx);
                    Value obj = pop();
                    pc = c.pc;
                    stack.push_back(constructProperty(obj, nm, a));
                    break;
                }
                case op::sxi1: stack.back() = Value::number(-(toInt(stack.back()) & 1)); pc = c.pc; break;
                case op::sxi8: stack.back() = Value::number(int8_t(toInt(stack.back()))); pc = c.pc; break;
                case op::sxi16: stack.back() = Value::number(int16_t(toInt(stack.back()))); pc = c.pc; break;
                case op::applytype: {
                    uint32_t n = c.u30();
                    auto a = popArgs(n);
                    Value factory = pop();
                    pc = c.pc;
                    stack.push_back(applyType(factory, a));
                    break;
                }
                case op::newobject: {
                    uint32_t n = c.u30();
                    auto a = popArgs(2 * n);
                    Object* o = newObject();
                    for (uint32_t i = 0; i < n; ++i) o->dynamic.set(toString(a[2 * i]), a[2 * i + 1]);
                    stack.push_back(Value::object(o));
                    pc = c.pc;
                    break;
                }
                case op::newarray: {
                    uint32_t n = c.u30();
                    stack.push_back(Value::object(newArray(popArgs(n))));
                    pc = c.pc;
                    break;
                }
                case op::newactivation: {
                    Object* act = make<Object>();
                    act->traits = activationTraits(unit, bodyIndex);
                    act->sealed = true;
                    initSlots(act);
                    stack.push_back(Value::object(act));
                    pc = c.pc;
                    break;
                }
                case op::newclass: {
                    uint32_t idx = c.u30();
                    Value base = pop();
                    ScopeChain chain = outer;
                    chain.insert(chain.end(), scopes.begin(), scopes.end());
                    ClassObject* b = base.isObject() ? base.o->as<ClassObject>() : nullptr;
                    if (!base.isNull() && !b) throwError(ErrorType::VerifyError, 1108);
                    pc = c.pc;
                    stack.push_back(Value::object(newClass(unit, idx, b, chain)));
                    break;
                }
                case op::getdescendants: {
                    uint32_t idx = c.u30();
                    Name nm = name(idx);
                    Value obj = pop();
                    pc = c.pc;
                    if (auto r = obj.isObject() ? proxyOperation(*this, obj.o, nm, "getDescendants") : std::nullopt) stack.push_back(*r);
                    else stack.push_back(xmlDescendants(*this, obj, nm));
                    break;
                }
                case op::newcatch: {
                    const uint32_t handler = c.u30();
                    AbcUnit::CatchScope& shape = unit.catchScopes[{bodyIndex, handler}];
                    if (!shape.traits) {
                        const ExceptionInfo& e = body.exceptions[handler];
                        shape.traits = std::make_unique<Traits>();
                        shape.klass = make<ClassObject>();
                        if (e.varName) {
                            const Multiname& vn = f.multinames[e.varName];
                            Binding b;
                            b.kind = Binding::Kind::Slot;
                            b.ns = vn.nss.empty() ? publicNs() : vn.nss[0];
                            b.name = vn.name;
                            SlotInfo si;
                            si.name = vn.name;
                            si.typeName = e.excType;
                            si.unit = &unit;
                            shape.traits->slotDefs.push_back(si);
                            shape.traits->add(b);
                            shape.klass->name = vn.name;
                        }
                    }
                    Object* scope = make<Object>();
                    scope->traits = shape.traits.get();
                    scope->klass = shape.klass;
                    scope->sealed = true;
                    initSlots(scope);
                    stack.push_back(Value::object(scope));
                    pc = c.pc;
                    break;
                }
                case op::findpropstrict: case op::findproperty: {
                    Name n = name(c.u30());
                    pc = c.pc;
                    stack.push_back(findScope(n, opcode == op::findpropstrict));
                    break;
                }
                case op::finddef: {
                    Name n = name(c.u30());
                    pc = c.pc;
                    Object* def = findDefinition(n);
                    if (!def) throwError(ErrorType::ReferenceError, 1065, {n.name});
                    stack.push_back(Value::object(def));
                    break;
                }
                case op::getlex: {
                    Name n = name(c.u30());
                    pc = c.pc;
                    Value holder = findScope(n, true);
                    stack.push_back(getProperty(holder, n));
                    break;
                }
                case op::setproperty: case op::initproperty: {
                    uint32_t idx = c.u30();
                    Value v = pop();
                    Name n = name(idx);
                    Value obj = pop();
                    pc = c.pc;
                    setProperty(obj, n, v, opcode == op::initproperty);
                    break;
                }
                case op::getlocal: stack.push_back(regs[c.u30()]); pc = c.pc; break;
                case op::setlocal: regs[c.u30()] = pop(); pc = c.pc; break;
                case op::getglobalscope:
                    stack.push_back(!outer.empty() ? outer.front().object : !scopes.empty() ? scopes.front().object : Value());
                    pc = c.pc;
                    break;
                case op::getscopeobject: stack.push_back(scopes[c.u8()].object); pc = c.pc; break;
                case op::getouterscope: {
                    uint32_t i = c.u30();
                    if (i >= outer.size()) throwError(ErrorType::VerifyError, 1019, {QString::number(i)});
                    stack.push_back(outer[i].object);
                    pc = c.pc;
                    break;
                }
                case op::getproperty: {
                    Name n = name(c.u30());
                    Value obj = pop();
                    pc = c.pc;
                    stack.push_back(getProperty(obj, n));
                    break;
                }
                case op::deleteproperty: {
                    Name n = name(c.u30());
                    Value obj = pop();
                    pc = c.pc;
                    stack.push_back(Value::boolean(deleteProperty(obj, n)));
                    break;
                }
                case op::getslot: {
                    uint32_t s = c.u30();
                    Value obj = pop();
                    pc = c.pc;
                    stack.push_back(slotOf(obj, s));
                    break;
                }
                case op::setslot: {
                    uint32_t s = c.u30();
                    Value v = pop(), obj = pop();
                    pc = c.pc;
                    setSlot(obj, s, v);
                    break;
                }
                case op::getglobalslot: case op::setglobalslot: {
                    uint32_t s = c.u30();
                    Value global = !outer.empty() ? outer.front().object : !scopes.empty() ? scopes.front().object : Value();
                    if (global.isUndefined()) throwError(ErrorType::VerifyError, 1114);
                    pc = c.pc;
                    if (opcode == op::getglobalslot) stack.push_back(slotOf(global, s));
                    else setSlot(global, s, pop());
                    break;
                }
                case op::convert_s: stack.back() = Value::string(toString(stack.back())); pc = c.pc; break;
                case op::esc_xelem: case op::esc_xattr: {
                    QString s = toString(stack.back()), out;
                    for (QChar ch : s) {
                        if (ch == u'&') out += QStringLiteral("&amp;");
                        else if (ch == u'<') out += QStringLiteral("&lt;");
                        else if (ch == u'>' && opcode == op::esc_xelem) out += QStringLiteral("&gt;");
                        else if (opcode == op::esc_xattr && ch == u'"') out += QStringLiteral("&quot;");
                        else if (opcode == op::esc_xattr && ch == u'\n') out += QStringLiteral("&#xA;");
                        else if (opcode == op::esc_xattr && ch == u'\r') out += QStringLiteral("&#xD;");
                        else if (opcode == op::esc_xattr && ch == u'\t') out += QStringLiteral("&#x9;");
                        else out += ch;
                    }
                    stack.back() = Value::string(out);
                    pc = c.pc;
                    break;
                }
                case op::convert_i: case op::coerce_i: stack.back() = Value::number(toInt(stack.back())); pc = c.pc; break;
                case op::convert_u: case op::coerce_u: stack.back() = Value::number(toUint(stack.back())); pc = c.pc; break;
                case op::convert_d: case op::coerce_d: stack.back() = Value::number(toNumber(stack.back())); pc = c.pc; break;
                case op::convert_b: case op::coerce_b: stack.back() = Value::boolean(toBoolean(stack.back())); pc = c.pc; break;
                case op::convert_o:
                    if (stack.back().isNullish()) throwError(ErrorType::TypeError, stack.back().isNull() ? 1009 : 1010);
                    pc = c.pc;
                    break;
                case op::checkfilter:
                    if (!stack.back().isObject() || stack.back().o->type() != Object::Type::Xml)
                        throwError(ErrorType::TypeError, 1123, {describeForError(stack.back())});
                    pc = c.pc;
                    break;
                case op::coerce: {
                    uint32_t idx = c.u30();
                    pc = c.pc;
                    ClassObject* t = resolveType(unit, idx);
                    stack.back() = coerceTo(stack.back(), t);
                    break;
                }
                case op::coerce_a: pc = c.pc; break;
                case op::coerce_s:
                    stack.back() = stack.back().isNullish() ? Value::null() : Value::string(toString(stack.back()));
                    pc = c.pc;
                    break;
                case op::coerce_o: if (stack.back().isUndefined()) stack.back() = Value::null(); pc = c.pc; break;
                case op::astype: {
                    uint32_t idx = c.u30();
                    pc = c.pc;
                    ClassObject* t = resolveType(unit, idx);
                    if (!isInstanceOf(stack.back(), t)) stack.back() = Value::null();
                    break;
                }
                case op::astypelate: {
                    Value t = pop();
                    pc = c.pc;
                    ClassObject* k = t.isObject() ? t.o->as<ClassObject>() : nullptr;
                    if (!k) throwError(ErrorType::TypeError, 1041);
                    if (!isInstanceOf(stack.back(), k)) stack.back() = Value::null();
                    break;
                }
                case op::negate: stack.back() = Value::number(-toNumber(stack.back())); pc = c.pc; break;
                case op::increment: stack.back() = Value::number(toNumber(stack.back()) + 1); pc = c.pc; break;
                case op::decrement: stack.back() = Value::number(toNumber(stack.back()) - 1); pc = c.pc; break;
                case op::inclocal: { Value& r = regs[c.u30()]; r = Value::number(toNumber(r) + 1); pc = c.pc; break; }
                case op::declocal: { Value& r = regs[c.u30()]; r = Value::number(toNumber(r) - 1); pc = c.pc; break; }
                case op::typeof_: stack.back() = Value::string(typeOf(stack.back())); pc = c.pc; break;
                case op::not_: stack.back() = Value::boolean(!toBoolean(stack.back())); pc = c.pc; break;
                case op::bitnot: stack.back() = Value::number(~toInt(stack.back())); pc = c.pc; break;
                case op::add: { Value b = pop(); stack.back() = add(stack.back(), b); pc = c.pc; break; }
                case op::subtract: { Value b = pop(); stack.back() = Value::number(toNumber(stack.back()) - toNumber(b)); pc = c.pc; break; }
                case op::multiply: { Value b = pop(); stack.back() = Value::number(toNumber(stack.back()) * toNumber(b)); pc = c.pc; break; }
                case op::divide: { Value b = pop(); stack.back() = Value::number(toNumber(stack.back()) / toNumber(b)); pc = c.pc; break; }
                case op::modulo: { Value b = pop(); stack.back() = Value::number(std::fmod(toNumber(stack.back()), toNumber(b))); pc = c.pc; break; }
                case op::lshift: { Value b = pop(); stack.back() = Value::number(int32_t(uint32_t(toInt(stack.back())) << (toUint(b) & 31))); pc = c.pc; break; }
                case op::rshift: { Value b = pop(); stack.back() = Value::number(toInt(stack.back()) >> (toUint(b) & 31)); pc = c.pc; break; }
                case op::urshift: { Value b = pop(); stack.back() = Value::number(toUint(stack.back()) >> (toUint(b) & 31)); pc = c.pc; break; }
                case op::bitand_: { Value b = pop(); stack.back() = Value::number(toInt(stack.back()) & toInt(b)); pc = c.pc; break; }
                case op::bitor_: { Value b = pop(); stack.back() = Value::number(toInt(stack.back()) | toInt(b)); pc = c.pc; break; }
                case op::bitxor_: { Value b = pop(); stack.back() = Value::number(toInt(stack.back()) ^ toInt(b)); pc = c.pc; break; }
                case op::equals: { Value b = pop(); stack.back() = Value::boolean(looseEquals(stack.back(), b)); pc = c.pc; break; }
                case op::strictequals: { Value b = pop(); stack.back() = Value::boolean(strictEquals(stack.back(), b)); pc = c.pc; break; }
                case op::lessthan: { Value b = pop(); stack.back() = Value::boolean(lessThan(stack.back(), b) == 1); pc = c.pc; break; }
                case op::lessequals: { Value b = pop(); stack.back() = Value::boolean(lessThan(b, stack.back()) == 0); pc = c.pc; break; }
                case op::greaterthan: { Value b = pop(); stack.back() = Value::boolean(lessThan(b, stack.back()) == 1); pc = c.pc; break; }
                case op::greaterequals: { Value b = pop(); stack.back() = Value::boolean(lessThan(stack.back(), b) == 0); pc = c.pc; break; }
                case op::instanceof: {
                    Value t = pop(), v = pop();
                    pc = c.pc;
                    Object* proto = nullptr;
                    if (t.isObject() && t.o->as<ClassObject>()) proto = t.o->as<ClassObject>()->prototype;
                    else if (t.isObject() && t.o->as<FunctionObject>()) {
                        Value p = getPublic(t, QStringLiteral("prototype"));
                        proto = p.isObject() ? p.o : nullptr;
                    } else throwError(ErrorType::TypeError, 1040);
                    bool r = false;
                    Object* start = v.isObject() ? v.o->proto : nullptr;
                    // Every number has Number's prototype chain, whether it is an int or not.
                    if (v.isNumber()) start = builtin("Number")->prototype;
                    else if (!v.isObject() && !v.isNullish()) start = classOf(v)->prototype;
                    for (Object* p = start; p && !r; p = p->proto) r = p == proto;
                    stack.push_back(Value::boolean(r));
                    break;
                }
                case op::istype: {
                    uint32_t idx = c.u30();
                    pc = c.pc;
                    ClassObject* t = resolveType(unit, idx);
                    stack.back() = Value::boolean(isInstanceOf(stack.back(), t));
                    break;
                }
                case op::istypelate: {
                    Value t = pop();
                    pc = c.pc;
                    ClassObject* k = t.isObject() ? t.o->as<ClassObject>() : nullptr;
                    if (!k) throwError(ErrorType::TypeError, 1041);
                    stack.back() = Value::boolean(isInstanceOf(stack.back(), k));
                    break;
                }
                case op::in: {
                    Value obj = pop(), n = pop();
                    pc = c.pc;
                    if (obj.isNullish()) throwError(ErrorType::TypeError, obj.isNull() ? 1009 : 1010);
                    if (auto* d = obj.isObject() ? obj.o->as<DictionaryObject>() : nullptr; d && n.isObject()) {
                        bool found = false;
                        for (const auto& kv : d->objectKeys) found |= kv.first == n.o;
                        stack.push_back(Value::boolean(found));
                        break;
                    }
                    Name nm = Name::publicName(toString(n));
                    stack.push_back(Value::boolean(hasProperty(obj, nm)));
                    break;
                }
                case op::increment_i: stack.back() = Value::number(int32_t(uint32_t(toInt(stack.back())) + 1u)); pc = c.pc; break;
                case op::decrement_i: stack.back() = Value::number(int32_t(uint32_t(toInt(stack.back())) - 1u)); pc = c.pc; break;
                case op::inclocal_i: { Value& r = regs[c.u30()]; r = Value::number(int32_t(uint32_t(toInt(r)) + 1u)); pc = c.pc; break; }
                case op::declocal_i: { Value& r = regs[c.u30()]; r = Value::number(int32_t(uint32_t(toInt(r)) - 1u)); pc = c.pc; break; }
                case op::negate_i: stack.back() = Value::number(int32_t(0u - uint32_t(toInt(stack.back())))); pc = c.pc; break;
                case op::add_i: { Value b = pop(); stack.back() = Value::number(int32_t(uint32_t(toInt(stack.back())) + uint32_t(toInt(b)))); pc = c.pc; break; }
                case op::subtract_i: { Value b = pop(); stack.back() = Value::number(int32_t(uint32_t(toInt(stack.back())) - uint32_t(toInt(b)))); pc = c.pc; break; }
                case op::multiply_i: { Value b = pop(); stack.back() = Value::number(int32_t(uint32_t(toInt(stack.back())) * uint32_t(toInt(b)))); pc = c.pc; break; }
                case op::getlocal0: case op::getlocal1: case op::getlocal2: case op::getlocal3:
                    stack.push_back(regs[opcode - op::getlocal0]);
                    pc = c.pc;
                    break;
                case op::setlocal0: case op::setlocal1: case op::setlocal2: case op::setlocal3:
                    regs[opcode - op::setlocal0] = pop();
                    pc = c.pc;
                    break;
                default:
                    throwError(ErrorType::VerifyError, 1011, {methodLabel(m, home), QString::number(opcode), QString::number(insStart)});
                }
            }
        } catch (ScriptThrow& thrown) {
            const ExceptionInfo* handler = nullptr;
            for (const ExceptionInfo& e : body.exceptions) {
                if (insStart < e.from || insStart >= e.to) continue;
                if (e.excType) {
                    ClassObject* t = nullptr;
                    try {
                        t = resolveType(unit, e.excType, false);
                    } catch (ScriptThrow&) {
                        continue;
                    }
                    if (t && !isInstanceOf(thrown.value, t)) continue;
                }
                handler = &e;
                break;
            }
            if (!handler) throw;
            stack.clear();
            scopes.clear();
            stack.push_back(thrown.value);
            pc = handler->target;
        }
    }
}

} // namespace swf::avm2
