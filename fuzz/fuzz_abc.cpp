// fuzz_abc: a libFuzzer target for the ActionScript 3 VM. The first byte
// picks what the rest is: an ABC block loaded and run as it stands, or the
// code of a script's init method inside a fixed block (so that mutations
// reach the verifier and the interpreter instead of the pool parser).
#include "engine/avm2/vm.h"
#include "engine/core/limits.h"
#include "tests/avm2/abc_builder.h"

#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<uint8_t> block;
    if (data[0] & 1) {
        avm2test::ScriptSpec spec;
        spec.strings = {"trace", "length", "Array", "push", "x", "Object", "toString"};
        spec.code.assign(data + 1, data + size);
        spec.maxStack = 16;
        spec.localCount = 8;
        spec.maxScope = 8;
        spec.flags = 0x02 | 0x40; // activation and dxns allowed
        spec.handlers = {{0, uint32_t(spec.code.size()), 0}};
        block = avm2test::buildAbc(spec);
    } else {
        block.assign(data + 1, data + size);
    }
    swf::avm2::Vm vm([](const QString&) {});
    // Short runs: all but 200000 instructions of the tick's work are spent up front.
    vm.budget().chargeWork(swf::limits::kMaxScriptWorkPerTick - 200000);
    try {
        auto unit = vm.load(block, false);
        (void)unit;
    } catch (const swf::avm2::ScriptThrow&) {
    } catch (const swf::avm2::ScriptHalt&) {
    }
    return 0;
}
