// The budget both script engines share: work per tick, heap bytes and
// objects, and a first breach that stays.
#include "engine/core/limits.h"
#include "engine/core/script_budget.h"

#include <gtest/gtest.h>

namespace {

using swf::ScriptBudget;
namespace limits = swf::limits;

TEST(ScriptBudget, WorkIsCountedPerTickAndAShortTickStaysWithin) {
    ScriptBudget b;
    swf::ScriptRun run(b);
    for (int tick = 0; tick < 3; ++tick) {
        b.beginTick();
        EXPECT_TRUE(b.chargeWork(limits::kMaxScriptWorkPerTick - 10));
        EXPECT_TRUE(b.chargeWork(10));
    }
    EXPECT_FALSE(b.breached());
    EXPECT_FALSE(b.chargeWork(1));
    EXPECT_TRUE(b.breach().contains(QStringLiteral("actions")));
}

TEST(ScriptBudget, FirstBreachStaysAcrossTicksAndKinds) {
    ScriptBudget b;
    EXPECT_FALSE(b.chargeBytes(limits::kMaxScriptHeapBytes + 1));
    const QString first = b.breach();
    EXPECT_TRUE(first.contains(QStringLiteral("heap")));
    b.beginTick();
    b.setMeasured(0, 0);
    EXPECT_FALSE(b.chargeWork(1));
    EXPECT_FALSE(b.chargeBytes(1));
    EXPECT_EQ(b.breach(), first);
}

TEST(ScriptBudget, HeapBytesCountFromTheLastMeasurement) {
    ScriptBudget b;
    const size_t mb = 1u << 20;
    ASSERT_TRUE(b.chargeBytes(limits::kMaxScriptHeapBytes - mb));
    EXPECT_EQ(b.bytesSinceMeasure(), limits::kMaxScriptHeapBytes - mb);
    EXPECT_TRUE(b.fits(mb));
    EXPECT_FALSE(b.fits(mb + 1));
    // A measurement found most of it freed: room again, nothing breached.
    b.setMeasured(10 * mb, 5);
    EXPECT_EQ(b.heapBytes(), 10 * mb);
    EXPECT_TRUE(b.chargeBytes(100 * mb));
    EXPECT_FALSE(b.breached());
}

TEST(ScriptBudget, ObjectsAreCountedUpToTheLimit) {
    ScriptBudget b;
    b.setMeasured(0, limits::kMaxScriptObjects - 1);
    EXPECT_TRUE(b.chargeObject(16));
    EXPECT_EQ(b.objects(), limits::kMaxScriptObjects);
    EXPECT_FALSE(b.chargeObject(16));
    EXPECT_TRUE(b.breach().contains(QStringLiteral("objects")));
}

} // namespace
