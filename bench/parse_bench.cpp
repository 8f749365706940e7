// Parse time of a large movie made in code: 2000 curved shapes, 40 bitmaps
// and 500 frames of moves, stored uncompressed, zlib and LZMA.
#include "engine/swf/parser.h"
#include "tests/support/swf_writer.h"

#include <benchmark/benchmark.h>

namespace {

using namespace swf;
using namespace swf::test;

Bytes largeMovie(Compression c) {
    SwfWriter w(10, {0, 1280 * 20, 0, 720 * 20}, 24);
    w.compression(c);
    for (uint16_t id = 1; id <= 2000; ++id) {
        ShapeBuilder s;
        FillStyle g;
        g.type = FillType::RadialGradient;
        g.gradient.stops = {{0, {255, 0, 0, 255}}, {255, {0, 0, uint8_t(id), 200}}};
        uint32_t fill = s.addFill(g);
        s.addLine(20, {0, 0, 0, 255});
        for (int k = 0; k < 6; ++k) s.circle(400 * k, 0, 300 + id % 200, fill).line(1);
        w.defineShape(id, s, 3);
    }
    Bytes pixels(256 * 256 * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 31 + i / 1024);
    for (uint16_t id = 3000; id < 3040; ++id) w.defineBitsLossless(id, 2, 5, 256, 256, pixels);
    for (uint16_t d = 1; d <= 200; ++d) w.placeObject2(Place{.depth = d, .characterId = d});
    w.showFrame();
    for (int f = 1; f < 500; ++f) {
        for (uint16_t d = 1; d <= 200; d += 4)
            w.placeObject2(Place{.depth = d, .move = true, .matrix = Matrix{1, 0, 0, 1, double(f * 20), double(d * 10)}});
        w.showFrame();
    }
    return w.bytes();
}

void parse(benchmark::State& state, Compression c) {
    const Bytes file = largeMovie(c);
    for (auto _ : state) {
        auto movie = parseMovie(file, "large.swf");
        if (!movie) state.SkipWithError(movie.error().message.c_str());
        benchmark::DoNotOptimize(movie);
    }
    state.counters["fileKB"] = double(file.size()) / 1024;
}

BENCHMARK_CAPTURE(parse, uncompressed, Compression::None)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, zlib, Compression::Zlib)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, lzma, Compression::Lzma)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
