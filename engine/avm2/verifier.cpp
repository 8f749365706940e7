// Checks a method body before it first runs, as Flash's verifier does:
// every instruction decodes inside the code, branches and handlers land
// on instructions, operands index their pools, and the operand and scope
// stacks keep one depth wherever paths meet and stay within the body's
// declared sizes.
#include "engine/avm2/code_reader.h"
#include "engine/avm2/opcodes.h"
#include "engine/avm2/vm.h"

#include <deque>

namespace swf::avm2 {

namespace {

struct Decoded {
    uint32_t pc = 0, next = 0;
    uint8_t code = 0;
    uint32_t a = 0, b = 0;          // operands
    std::vector<uint32_t> targets;  // branch targets
};

using Failure = Vm::VerifyFailure;

} // namespace

std::optional<Vm::VerifyFailure> Vm::verify(AbcUnit& unit, int bodyIndex) {
    const AbcFile& f = *unit.abc;
    const MethodBody& body = f.bodies[size_t(bodyIndex)];
    const MethodInfo& info = f.methods[body.method];
    const auto& code = body.code;
    const QString methodName = unit.methods[body.method]->label + QStringLiteral("()");
    if (code.empty()) return Failure{1043, {QStringLiteral("0")}};
    if (info.has(MethodFlag::NeedArguments) && info.has(MethodFlag::NeedRest)) return Failure{1044, {QString::number(body.method), QString::number(info.flags)}};
    uint32_t params = uint32_t(info.paramTypes.size());
    uint32_t needRegs = params + 1 + ((info.has(MethodFlag::NeedRest) || info.has(MethodFlag::NeedArguments)) ? 1 : 0);
    if (body.localCount < needRegs) return Failure{1025, {QString::number(needRegs - 1)}};

    // Pass 1: decode every instruction in order.
    std::vector<Decoded> ins;
    std::vector<int32_t> at(code.size() + 1, -1); // instruction index by start address
    CodeReader d(code, 0);
    while (d.pc < code.size()) {
        Decoded x;
        x.pc = d.pc;
        x.code = d.u8();
        const OpInfo& oi = opInfo(x.code);
        if (!oi.name)
            return Failure{1011, {methodName, QString::number(x.code), QString::number(x.pc)}};
        switch (oi.operands) {
        case Operands::None: break;
        case Operands::U8: x.a = d.u8(); break;
        case Operands::U30: x.a = d.u30(); break;
        case Operands::U30U30: case Operands::MnArgs: x.a = d.u30(); x.b = d.u30(); break;
        case Operands::Mn: x.a = d.u30(); break;
        case Operands::Branch: {
            int32_t off = d.s24();
            x.targets.push_back(uint32_t(int64_t(d.pc) + off));
            break;
        }
        case Operands::Switch: {
            int32_t def = d.s24();
            x.targets.push_back(uint32_t(int64_t(x.pc) + def));
            uint32_t n = d.u30();
            if (n > code.size()) return Failure{1012, {}};
            for (uint32_t i = 0; i <= n && d.ok(); ++i) x.targets.push_back(uint32_t(int64_t(x.pc) + d.s24()));
            break;
        }
        case Operands::Debug: d.u8(); x.a = d.u30(); d.u8(); d.u30(); break;
        }
        if (!d.ok()) return Failure{1012, {}};
        x.next = d.pc;
        at[x.pc] = int32_t(ins.size());
        ins.push_back(std::move(x));
    }

    // Operand checks.
    auto cpool = [&](uint32_t i, size_t size) -> std::optional<Failure> {
        if (i >= size) return Failure{1032, {QString::number(i), QString::number(size)}};
        return std::nullopt;
    };
    for (const Decoded& x : ins) {
        const OpInfo& oi = opInfo(x.code);
        std::optional<Failure> bad;
        switch (oi.ref) {
        case Ref::Int: bad = cpool(x.a, f.ints.size()); break;
        case Ref::Uint: bad = cpool(x.a, f.uints.size()); break;
        case Ref::Double: bad = cpool(x.a, f.doubles.size()); break;
        case Ref::String: bad = cpool(x.a, f.strings.size()); break;
        case Ref::Namespace: bad = cpool(x.a, f.namespaces.size()); break;
        case Ref::Method: if (x.a >= f.methods.size()) bad = Failure{1027, {QString::number(x.a), QString::number(f.methods.size())}}; break;
        case Ref::Class: if (x.a >= f.instances.size()) bad = Failure{1032, {QString::number(x.a), QString::number(f.instances.size())}}; break;
        case Ref::Exception: if (x.a >= body.exceptions.size()) bad = Failure{1032, {QString::number(x.a), QString::number(body.exceptions.size())}}; break;
        case Ref::Register:
            if (x.a >= body.localCount || (oi.operands == Operands::U30U30 && x.b >= body.localCount))
                bad = Failure{1025, {QString::number(std::max(x.a, x.b))}};
            else if (x.code == op::hasnext2 && x.a == x.b) bad = Failure{1124, {}};
            break;
        default: break;
        }
        if (bad) return bad;
        if (oi.operands == Operands::Mn || oi.operands == Operands::MnArgs) {
            if (x.a == 0 || x.a >= f.multinames.size()) return Failure{1032, {QString::number(x.a), QString::number(f.multinames.size())}};
            const Multiname& mn = f.multinames[x.a];
            bool runtime = mn.runtimeNs || mn.runtimeName;
            if ((x.code == op::getlex || x.code == op::finddef || x.code == op::coerce || x.code == op::astype || x.code == op::istype) && runtime)
                return Failure{1078, {QString::fromLatin1(oi.name), mn.name}};
        }
        if ((x.code >= op::getlocal0 && x.code <= op::getlocal3 && uint32_t(x.code - op::getlocal0) >= body.localCount) ||
            (x.code >= op::setlocal0 && x.code <= op::setlocal3 && uint32_t(x.code - op::setlocal0) >= body.localCount))
            return Failure{1025, {QString::number(x.code & 3)}};
        if (x.code == op::newactivation && !info.has(MethodFlag::NeedActivation)) return Failure{1113, {}};
        if ((x.code == op::dxns || x.code == op::dxnslate) && !info.has(MethodFlag::SetDxns)) return Failure{1015, {methodName}};
        for (uint32_t t : x.targets)
            if (t >= code.size() || at[t] < 0) return Failure{1021, {}};
    }
    for (const ExceptionInfo& e : body.exceptions)
        if (e.from > e.to || e.to > code.size() || e.target >= code.size() || at[e.target] < 0) return Failure{1054, {}};

    // Pass 2: operand and scope stack depths along every path.
    const int maxScope = int(body.maxScopeDepth - body.initScopeDepth);
    std::vector<std::pair<int, int>> depth(ins.size(), {-1, -1});
    std::deque<std::pair<size_t, std::pair<int, int>>> work;
    work.push_back({0, {0, 0}});
    for (const ExceptionInfo& e : body.exceptions) work.push_back({size_t(at[e.target]), {1, 0}});
    size_t steps = 0, edges = ins.size() + body.exceptions.size() + 1;
    for (const Decoded& x : ins) edges += x.targets.size();
    while (!work.empty()) {
        auto [i, st] = work.front();
        work.pop_front();
        while (true) {
            if (++steps > edges) break; // every edge is walked once at most
            auto& seen = depth[i];
            if (seen.first >= 0) {
                if (seen.first != st.first) return Failure{1030, {QString::number(st.first), QString::number(seen.first)}};
                if (seen.second != st.second) return Failure{1031, {QString::number(st.second), QString::number(seen.second)}};
                break;
            }
            seen = st;
            const Decoded& x = ins[i];
            const OpInfo& oi = opInfo(x.code);
            int pops = oi.pops, pushes = oi.pushes;
            if (oi.operands == Operands::Mn || oi.operands == Operands::MnArgs) {
                const Multiname& mn = f.multinames[x.a];
                pops += (mn.runtimeNs ? 1 : 0) + (mn.runtimeName ? 1 : 0);
            }
            if (oi.operands == Operands::MnArgs) pops += int(x.b);
            switch (x.code) {
            case op::call: case op::construct: case op::constructsuper: case op::applytype: pops += int(x.a); break;
            case op::callmethod: case op::callstatic: pops += int(x.b); break;
            case op::newobject: pops += 2 * int(x.a); break;
            case op::newarray: pops += int(x.a); break;
            default: break;
            }
            if (pops > st.first) return Failure{1024, {}};
            st.first += pushes - pops;
            if (st.first > int(body.maxStack)) return Failure{1023, {}};
            if (x.code == op::pushscope || x.code == op::pushwith) {
                if (++st.second > maxScope) return Failure{1017, {}};
            } else if (x.code == op::popscope) {
                if (--st.second < 0) return Failure{1018, {}};
            } else if (x.code == op::getscopeobject && int(x.a) >= st.second) {
                return Failure{1019, {QString::number(x.a)}};
            }
            for (uint32_t t : x.targets) work.push_back({size_t(at[t]), st});
            if (oi.terminal) break;
            if (x.next >= code.size()) return Failure{1020, {}};
            i = size_t(at[x.next]);
        }
    }
    auto& starts = unit.instructionStarts[size_t(bodyIndex)];
    starts.assign(code.size(), 0);
    for (const Decoded& x : ins) starts[x.pc] = 1;
    return std::nullopt;
}

} // namespace swf::avm2
