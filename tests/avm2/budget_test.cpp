// The VM spends the runtime's shared script budget: a method that never
// ends halts the movie's scripts with the budget's reason, and a
// collection measures the heap the budget counts from.
#include "engine/avm2/vm.h"
#include "engine/core/limits.h"
#include "tests/avm2/abc_builder.h"

#include <gtest/gtest.h>

namespace {

using namespace swf::avm2;

// label; jump back to it: an endless loop the verifier accepts.
std::vector<uint8_t> endlessLoop(std::vector<uint8_t> body) {
    std::vector<uint8_t> code = {0x09};
    code.insert(code.end(), body.begin(), body.end());
    const int32_t back = -int32_t(code.size() + 4);
    code.insert(code.end(), {0x10, uint8_t(back), uint8_t(back >> 8), uint8_t(back >> 16)});
    return code;
}

TEST(Avm2Budget, EndlessLoopsHaltWithTheSharedBudgetsReason) {
    const std::vector<uint8_t> bodies[] = {
        {},                 // nothing but the jump
        {0x55, 0x00, 0x29}, // newobject 0; pop: objects made on each turn
        {0x24, 0x01, 0x29}, // pushbyte 1; pop
    };
    for (const auto& body : bodies) {
        Vm vm([](const QString&) {});
        vm.budget().chargeWork(swf::limits::kMaxScriptWorkPerTick - 5000);
        avm2test::ScriptSpec spec;
        spec.code = endlessLoop(body);
        std::string reason;
        try {
            (void)vm.load(avm2test::buildAbc(spec), false);
        } catch (const ScriptHalt& h) {
            reason = h.reason;
        }
        EXPECT_NE(reason.find("actions in one frame"), std::string::npos) << body.size();
        EXPECT_TRUE(vm.budget().breached());
    }
}

TEST(Avm2Budget, CollectionMeasuresWhatTheHeapHolds) {
    Vm vm([](const QString&) {});
    const size_t before = vm.budget().objects();
    for (int i = 0; i < 100; ++i) vm.newObject();
    EXPECT_EQ(vm.budget().objects(), before + 100);
    vm.collectGarbage({});
    EXPECT_EQ(vm.budget().objects(), vm.heapObjects());
    EXPECT_LT(vm.heapObjects(), before + 100);
    EXPECT_EQ(vm.budget().bytesSinceMeasure(), 0u);
}

} // namespace
