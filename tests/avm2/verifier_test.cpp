// The verifier refuses malformed method bodies with the Flash player's
// VerifyError numbers, before any of their code runs.
#include "engine/avm2/opcodes.h"
#include "engine/avm2/vm.h"
#include "tests/avm2/abc_builder.h"

#include <gtest/gtest.h>

namespace {

using namespace swf::avm2;
using avm2test::ScriptSpec;

struct Outcome {
    bool threw = false;
    QString errorClass;
    int errorId = 0;
    QStringList traces;
};

Outcome runScript(const ScriptSpec& spec) {
    Outcome out;
    Vm vm([&](const QString& line) { out.traces << line; });
    auto abc = avm2test::buildAbc(spec);
    try {
        auto unit = vm.load(abc, false);
        EXPECT_TRUE(unit.ok()) << unit.error().message;
    } catch (const ScriptThrow& t) {
        out.threw = true;
        if (t.value.isObject()) {
            out.errorClass = vm.classOf(t.value)->name;
            out.errorId = int(vm.toNumber(vm.getPublic(t.value, QStringLiteral("errorID"))));
        }
    }
    return out;
}

struct Refusal {
    const char* what;
    std::vector<uint8_t> code;
    int errorId;
    uint32_t maxStack = 4, localCount = 1, maxScope = 2;
    uint8_t flags = 0;
};

class VerifierRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(VerifierRefusal, ThrowsVerifyErrorBeforeRunning) {
    const Refusal& r = GetParam();
    ScriptSpec spec;
    spec.strings = {"trace", "ran"};
    // Every body starts by tracing, so a refusal after running would show.
    spec.code = {op::findpropstrict, 1, op::pushstring, 2, op::callpropvoid, 1, 1};
    spec.code.insert(spec.code.end(), r.code.begin(), r.code.end());
    spec.maxStack = r.maxStack;
    spec.localCount = r.localCount;
    spec.maxScope = r.maxScope;
    spec.flags = r.flags;
    Outcome out = runScript(spec);
    EXPECT_TRUE(out.threw) << r.what;
    EXPECT_EQ(out.errorClass, QStringLiteral("VerifyError")) << r.what;
    EXPECT_EQ(out.errorId, r.errorId) << r.what;
    EXPECT_TRUE(out.traces.isEmpty()) << r.what << ": code ran before verification";
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, VerifierRefusal,
    testing::Values(
        Refusal{"falls off the end", {op::nop}, 1020},
        Refusal{"illegal opcode", {0xFF, op::returnvoid}, 1011},
        Refusal{"unassigned opcode", {0x00, op::returnvoid}, 1011},
        Refusal{"operand runs past the code", {op::pushbyte}, 1012},
        Refusal{"branch outside the code", {op::jump, 0x40, 0, 0, op::returnvoid}, 1021},
        Refusal{"branch into an instruction", {op::jump, 1, 0, 0, op::pushbyte, 1, op::returnvoid}, 1021},
        Refusal{"stack underflow", {op::pop, op::returnvoid}, 1024},
        Refusal{"stack overflow", {op::pushnull, op::pushnull, op::pushnull, op::returnvoid}, 1023, 2},
        Refusal{"register out of range", {op::getlocal, 5, op::returnvalue}, 1025},
        Refusal{"setlocal past local_count", {op::pushnull, op::setlocal2, op::returnvoid}, 1025},
        Refusal{"scope stack overflow", {op::getlocal0, op::pushscope, op::getlocal0, op::pushscope, op::returnvoid}, 1017, 4, 1, 1},
        Refusal{"scope stack underflow", {op::popscope, op::returnvoid}, 1018},
        Refusal{"getscopeobject beyond the depth", {op::getscopeobject, 0, op::returnvalue}, 1019},
        Refusal{"newactivation without the flag", {op::newactivation, op::returnvalue}, 1113},
        Refusal{"dxns without the flag", {op::dxns, 1, op::returnvoid}, 1015},
        Refusal{"string index out of range", {op::pushstring, 9, op::returnvalue}, 1032},
        Refusal{"unbalanced stack at a join", {op::pushtrue, op::iftrue, 2, 0, 0, op::pushnull, op::nop, op::returnvoid}, 1030},
        Refusal{"hasnext2 on one register", {op::hasnext2, 0, 0, op::returnvoid}, 1124, 4, 1},
        Refusal{"method index out of range", {op::newfunction, 7, op::returnvalue}, 1027}),
    [](const testing::TestParamInfo<Refusal>& info) {
        std::string n = info.param.what;
        for (char& c : n) if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return n;
    });

TEST(Verifier, ExceptionHandlerOutsideTheCodeIsRefused) {
    ScriptSpec spec;
    spec.code = {op::returnvoid};
    spec.handlers = {{0, 1, 9}};
    Outcome out = runScript(spec);
    EXPECT_EQ(out.errorId, 1054);
}

TEST(Verifier, WellFormedBodyRunsAndBranchesMeetBalanced) {
    ScriptSpec spec;
    spec.strings = {"trace", "ran"};
    // if (true) push 1 else push 2; trace(it)
    spec.code = {op::findpropstrict, 1, op::pushtrue, op::iffalse, 6, 0, 0, op::pushbyte, 1, op::jump, 2, 0, 0,
                 op::pushbyte, 2, op::callpropvoid, 1, 1, op::returnvoid};
    Outcome out = runScript(spec);
    EXPECT_FALSE(out.threw);
    EXPECT_EQ(out.traces, QStringList{QStringLiteral("1")});
}

} // namespace
