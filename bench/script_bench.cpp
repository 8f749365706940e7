// ActionScript speed: a tight loop of arithmetic, member stores and calls,
// and a frame of 200 clips whose enterFrame handlers move them.
// Run pinned for steady figures: taskset -c 0 bench/script_bench
#include "engine/avm1/clip_object.h"
#include "engine/avm1/script_engine.h"
#include "engine/avm1/vm.h"
#include "engine/display/player.h"
#include "engine/swf/place_object.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <benchmark/benchmark.h>

namespace {

using avm1test::Asm;

constexpr uint8_t kAdd2 = 0x47, kMultiply = 0x0C, kLess2 = 0x48, kNot = 0x12, kIncrement = 0x50;

// for (i = 0; i < n; i++) { o.x = f(i) * 2 + o.x; }  with f = function (a) { return a + 1; }
Asm loopProgram(int n) {
    Asm body;
    body.getVariable("o").push("x");
    body.getVariable("i").push(1).push("f").callFunction().push(2).op(kMultiply);
    body.getVariable("o").push("x").getMember().op(kAdd2).setMember();
    body.push("i").getVariable("i").op(kIncrement).setVariable();

    Asm cond;
    cond.getVariable("i").push(n).op(kLess2).op(kNot);

    Asm a;
    a.push("f").defineFunction("", {"a"}, Asm().getVariable("a").push(1).op(kAdd2).op(0x3E)).setVariable();
    a.push("o").push(0).op(0x43).setVariable();
    a.getVariable("o").push("x").push(0).setMember();
    a.push("i").push(0).setVariable();
    // cond; if (!cond) jump end; body; jump back to cond.
    const int back = -int(cond.size() + 5 + body.size() + 5);
    a.raw(cond.body()).ifTrue(int16_t(body.size() + 5)).raw(body.body()).jump(int16_t(back));
    a.getVariable("o").push("x").getMember().trace();
    return a;
}

void BM_ScriptLoop(benchmark::State& state) {
    const int n = int(state.range(0));
    const std::vector<uint8_t> code = loopProgram(n).bytes();
    QString result;
    swf::avm1::VmHost host;
    host.trace = [&](const QString& s) { result = s; };
    swf::avm1::Vm vm(8, host);
    auto* root = vm.make<swf::avm1::ClipObject>(vm.clipProto);
    vm.setRoot(root);
    for (auto _ : state) {
        vm.beginFrame();
        vm.runActions(code, root, 8);
    }
    // o.x sums 2 * (i + 1) over the loop: n * (n + 1).
    if (result != QString::number(double(n) * (n + 1), 'g', 15)) state.SkipWithError("wrong result");
    state.counters["iterations/s"] = benchmark::Counter(double(n) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScriptLoop)->Arg(100000)->Unit(benchmark::kMillisecond);

// 200 clips, each with onClipEvent(enterFrame) { _x += 1; _rotation += 2; }: one frame.
void BM_EnterFrame200Clips(benchmark::State& state) {
    swf::test::SwfWriter clip(8);
    swf::test::ShapeBuilder square;
    square.rect(0, 0, 200, 200, square.addSolidFill({0, 0, 255, 255}));
    swf::test::SwfWriter w(8, {0, 640 * 20, 0, 480 * 20}, 24);
    w.defineShape(1, square);
    clip.placeObject2({.depth = 1, .characterId = 1}).showFrame();
    w.defineSprite(2, clip);
    Asm handler;
    // _x += 1 as compilers write it: SetProperty("", 0, GetProperty("", 0) + 1); _rotation is property 10.
    for (auto [property, step] : {std::pair{0, 1}, std::pair{10, 2}})
        handler.push("").push(property).push("").push(property).op(0x22).push(step).op(kAdd2).op(0x23);
    for (int i = 0; i < 200; ++i)
        w.placeObject2({.depth = uint16_t(i + 1),
                        .characterId = 2,
                        .matrix = swf::Matrix{1, 0, 0, 1, double(i % 20) * 600, double(i / 20) * 900},
                        .clipActions = {{swf::clip_event::EnterFrame, handler.bytes()}}});
    w.showFrame();
    swf::Player player{swf::HostCallbacks{}};
    player.setScriptHostFactory(swf::avm1ScriptHostFactory());
    if (!player.load(w.bytes(), "bench.swf")) {
        state.SkipWithError("movie did not load");
        return;
    }
    player.setViewport(640, 480);
    player.runFrame(); // places the clips; their handlers run from the next frame
    for (auto _ : state) player.runFrame();
    auto* first = player.root()->childAtDepth(1);
    if (!first || first->x() < double(state.iterations())) state.SkipWithError("the handlers did not run");
}
BENCHMARK(BM_EnterFrame200Clips)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
