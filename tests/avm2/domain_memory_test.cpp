// Domain memory: the load and store instructions address the ByteArray the
// current domain names, little-endian, each access range-checked whole.
#include "engine/avm2/opcodes.h"
#include "engine/avm2/vm.h"
#include "tests/avm2/abc_builder.h"

#include <gtest/gtest.h>

namespace {

using namespace swf::avm2;

constexpr uint32_t kMemoryLength = 16;

struct MemoryRun {
    QStringList traces;
    int errorId = 0; // the uncaught error's number, 0 when none
};

// Runs `code` with `trace` as multiname 1; `withMemory` gives the domain a zeroed buffer.
MemoryRun runWithMemory(std::vector<uint8_t> code, bool withMemory = true) {
    MemoryRun out;
    Vm vm([&](const QString& line) { out.traces << line; });
    if (withMemory) {
        auto* mem = vm.make<ByteArrayObject>();
        mem->data.setLength(kMemoryLength);
        vm.domainMemory = Value::object(mem);
    }
    avm2test::ScriptSpec spec;
    spec.strings = {"trace"};
    spec.code = std::move(code);
    spec.maxStack = 6;
    try {
        auto unit = vm.load(avm2test::buildAbc(spec), false);
        EXPECT_TRUE(unit.ok()) << unit.error().message;
    } catch (const ScriptThrow& t) {
        out.errorId = int(vm.toNumber(vm.getPublic(t.value, QStringLiteral("errorID"))));
    }
    return out;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> pushInt(int32_t v) {
    avm2test::Bytes b;
    b.u8(op::pushshort).u30(uint32_t(v));
    return b.data;
}

TEST(DomainMemory, StoresThenLoadsFollowTheWidthAndSignRules) {
    struct Case { const char* what; std::vector<uint8_t> value; uint8_t store; std::vector<uint8_t> load; const char* traced; };
    const std::vector<uint8_t> oneThird = {op::pushbyte, 1, op::pushbyte, 3, op::divide};
    const Case cases[] = {
        {"si8 keeps the low byte; li8 zero-extends", pushInt(0x1FF), op::si8, {op::li8}, "255"},
        {"si16 keeps 16 bits; li16 zero-extends", pushInt(-2), op::si16, {op::li16}, "65534"},
        {"little-endian: the first byte is the lowest", pushInt(0x80DE), op::si16, {op::li8}, "222"},
        {"li32 is signed", pushInt(-5), op::si32, {op::li32}, "-5"},
        {"sf32 rounds to single precision", oneThird, op::sf32, {op::lf32}, "0.3333333432674408"},
        {"sf64 keeps the double", oneThird, op::sf64, {op::lf64}, "0.3333333333333333"},
        {"sxi8 extends bit 7", pushInt(0x80), op::si8, {op::li8, op::sxi8}, "-128"},
        {"sxi16 extends bit 15", pushInt(0x8001), op::si16, {op::li16, op::sxi16}, "-32767"},
        {"sxi1 extends bit 0", pushInt(1), op::si8, {op::li8, op::sxi1}, "-1"},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> address = {op::pushbyte, 4};
        MemoryRun run = runWithMemory(c.value + address + std::vector<uint8_t>{c.store, op::findpropstrict, 1} + address + c.load +
                                std::vector<uint8_t>{op::callpropvoid, 1, 1, op::returnvoid});
        EXPECT_EQ(run.errorId, 0) << c.what;
        EXPECT_EQ(run.traces, QStringList{QString::fromLatin1(c.traced)}) << c.what;
    }
}

TEST(DomainMemory, AccessesOutsideTheBufferAreRangeError1506) {
    struct Case { const char* what; std::vector<uint8_t> code; bool withMemory; };
    const uint8_t last = kMemoryLength - 1;
    const Case cases[] = {
        {"a load past the end", {op::pushbyte, uint8_t(kMemoryLength), op::li8, op::pop, op::returnvoid}, true},
        {"a 32-bit load reaching past the end", {op::pushbyte, uint8_t(kMemoryLength - 3), op::li32, op::pop, op::returnvoid}, true},
        {"a negative address", {op::pushbyte, uint8_t(-1), op::li8, op::pop, op::returnvoid}, true},
        {"a 16-bit store on the last byte", {op::pushbyte, 1, op::pushbyte, last, op::si16, op::returnvoid}, true},
        {"any access without memory", {op::pushbyte, 0, op::li8, op::pop, op::returnvoid}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(runWithMemory(c.code, c.withMemory).errorId, 1506) << c.what;
    // The last whole word still fits.
    EXPECT_EQ(runWithMemory({op::pushbyte, uint8_t(kMemoryLength - 4), op::li32, op::pop, op::returnvoid}).errorId, 0);
}

} // namespace
