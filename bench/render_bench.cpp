// Drawing speed of both backends (raster, qpainter): the sample movie of
// moving and turning shapes, 200 moving gradient-filled curved shapes at
// 640x480 and 1280x720, drawn from a worker of Qt's global thread pool as the
// player does (and from the calling thread, for comparison), and large
// stage-sized shapes. Run pinned for steady figures: taskset -c 0 render_bench
#include "engine/display/player.h"
#include "engine/render/backend.h"
#include "engine/render/bounds.h"
#include "engine/render/text_layout.h"

#include <QGuiApplication>
#include <QThreadPool>
#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <future>
#include <memory>
#include <random>

using namespace swf;
using namespace swf::render;

namespace {

// A closed blob of `lobes` quadratic curves around (0, 0), radius about r twips.
std::vector<Edge> blob(double r, int lobes, double wobble) {
    std::vector<Edge> edges;
    auto pointAt = [&](double a, double rr) { return Point{std::cos(a) * rr, std::sin(a) * rr}; };
    for (int i = 0; i < lobes; ++i) {
        double a0 = 2 * M_PI * i / lobes, a1 = 2 * M_PI * (i + 1) / lobes, am = (a0 + a1) / 2;
        Edge e;
        e.from = pointAt(a0, r);
        e.to = pointAt(a1, r);
        e.control = pointAt(am, r * (1 + (i % 2 ? wobble : -wobble)) / std::cos(M_PI / lobes));
        e.curved = true;
        edges.push_back(e);
    }
    return edges;
}

FillStyle gradientFill(int kind, double r, uint8_t alpha) {
    FillStyle f;
    f.type = kind % 2 ? FillType::RadialGradient : FillType::LinearGradient;
    double s = 2 * r / 32768;
    f.gradient.matrix = {s, s * 0.3, -s * 0.3, s, 0, 0};
    f.gradient.stops = {{0, Rgba{255, uint8_t(40 * kind), 0, alpha}}, {128, Rgba{0, 200, 255, alpha}},
                        {255, Rgba{20, 0, uint8_t(100 + kind), alpha}}};
    return f;
}

std::shared_ptr<ShapeDef> shapeOf(std::vector<Edge> edges, FillStyle fill, double r, bool stroke) {
    auto s = std::make_shared<ShapeDef>();
    int32_t b = int32_t(r * 1.4) + 100;
    s->bounds = Rect{-b, b, -b, b};
    ShapeLayer layer;
    layer.fillStyles.push_back(fill);
    layer.fills.push_back({0, edges});
    if (stroke) {
        LineStyle l;
        l.width = 60;
        l.color = Rgba{0, 0, 0, 255};
        layer.lineStyles.push_back(l);
        layer.lines.push_back({0, edges});
    }
    s->layers.push_back(std::move(layer));
    return s;
}

// The movie of 200 shapes 30-80 px across on a 640x480 stage, some semi-transparent,
// one in eight with a round stroke.
struct Scene {
    struct Item {
        std::shared_ptr<ShapeDef> shape;
        double x, y, vx, vy;
    };
    std::vector<Item> items;

    Scene() {
        std::mt19937 rng(42);
        std::uniform_real_distribution<double> u(0, 1);
        for (int i = 0; i < 200; ++i) {
            double r = (15 + 25 * u(rng)) * 20;
            uint8_t alpha = i % 3 == 0 ? 160 : 255;
            items.push_back({shapeOf(blob(r, 8, 0.25), gradientFill(i % 5, r, alpha), r, i % 8 == 0),
                             u(rng) * 12800, u(rng) * 9600, (u(rng) - 0.5) * 200, (u(rng) - 0.5) * 200});
        }
    }

    // Frame n: every shape moved; with `turning`, also turned a little (so
    // no cached picture of a shape can be reused).
    CommandList frame(int n, double stageScale, bool turning = false) const {
        CommandList list;
        list.background = Rgba{240, 240, 230, 255};
        for (const Item& it : items) {
            double x = std::fmod(it.x + it.vx * n + 128000, 12800), y = std::fmod(it.y + it.vy * n + 96000, 9600);
            double k = stageScale / 20, angle = turning ? n * 0.05 : 0;
            double ca = std::cos(angle) * k, sa = std::sin(angle) * k;
            list.commands.push_back(DrawShape{it.shape, Matrix{ca, sa, -sa, ca, x * k, y * k}, {}, {}});
        }
        return list;
    }
};

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Runs `work` on a worker of Qt's global pool and waits for it; returns the
// worker's CPU time in ms (steadier than wall time on a busy machine).
double onPool(const std::function<void()>& work) {
    std::promise<double> done;
    QThreadPool::globalInstance()->start([&] {
        double start = threadCpuMs();
        work();
        done.set_value(threadCpuMs() - start);
    });
    return done.get_future().get();
}

void reportCpu(benchmark::State& state, double totalCpuMs) {
    state.counters["worker_cpu_ms"] = totalCpuMs / std::max<double>(1, double(state.iterations()));
}

BackendKind kindOf(const benchmark::State& state) { return state.range(2) ? BackendKind::QPainter : BackendKind::Raster; }

void renderMoving(benchmark::State& state, bool pool, Quality quality, bool turning = false) {
    const int w = int(state.range(0)), h = int(state.range(1));
    static const Scene scene;
    QImage target(w, h, QImage::Format_ARGB32_Premultiplied);
    std::unique_ptr<RenderBackend> backend = makeBackend(kindOf(state));
    int n = 0;
    double cpu = 0;
    for (auto _ : state) {
        CommandList list = scene.frame(n++, h / 480.0, turning);
        auto draw = [&] { backend->draw(list, target, quality); };
        if (pool) {
            cpu += onPool(draw);
        } else {
            double start = threadCpuMs();
            draw();
            cpu += threadCpuMs() - start;
        }
        benchmark::DoNotOptimize(target.constBits());
    }
    reportCpu(state, cpu);
}

void BM_MovingShapes_Pool(benchmark::State& s) { renderMoving(s, true, Quality::High); }
void BM_MovingShapes_CallingThread(benchmark::State& s) { renderMoving(s, false, Quality::High); }
void BM_MovingShapes_Pool_Low(benchmark::State& s) { renderMoving(s, true, Quality::Low); }
void BM_TurningShapes_Pool(benchmark::State& s) { renderMoving(s, true, Quality::High, true); }
void BM_TurningShapes_Pool_Low(benchmark::State& s) { renderMoving(s, true, Quality::Low, true); }
// Arguments: width, height, backend (0 raster, 1 qpainter).
void bothBackends(benchmark::internal::Benchmark* b, std::vector<std::pair<int, int>> sizes) {
    b->ArgNames({"w", "h", "qpainter"});
    for (int kind : {0, 1})
        for (auto [w, h] : sizes) b->Args({w, h, kind});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
const std::vector<std::pair<int, int>> kBothSizes{{640, 480}, {1280, 720}};
BENCHMARK(BM_MovingShapes_Pool)->Apply([](auto* b) { bothBackends(b, kBothSizes); });
BENCHMARK(BM_MovingShapes_CallingThread)->Apply([](auto* b) { bothBackends(b, kBothSizes); });
BENCHMARK(BM_MovingShapes_Pool_Low)->Apply([](auto* b) { bothBackends(b, {{1280, 720}}); });
BENCHMARK(BM_TurningShapes_Pool)->Apply([](auto* b) { bothBackends(b, kBothSizes); });
BENCHMARK(BM_TurningShapes_Pool_Low)->Apply([](auto* b) { bothBackends(b, {{1280, 720}}); });

// The sample movie of 200 gradient shapes with strokes that move and turn
// every frame, played as the player does: each iteration advances one frame
// (1/24 s) and draws it whole on the calling thread. draw_ms is the drawing
// alone.
void BM_ShapesMovie(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    Player player;
    if (!player.loadFile(SWIFTREEL_SAMPLES_DIR "/shapes.swf")) {
        state.SkipWithError("shapes.swf did not load");
        return;
    }
    player.setViewport(w, h);
    player.setQuality(Quality::High);
    player.play();
    std::unique_ptr<RenderBackend> backend = makeBackend(kindOf(state));
    QImage target;
    // Half a second of play first, so that every shape has been seen once.
    for (int i = 0; i < 12; ++i) {
        player.advance(1000.0 / 24);
        if (std::optional<RenderJob> job = player.prepareRender()) job->execute(*backend, target);
    }
    double drawMs = 0;
    for (auto _ : state) {
        player.advance(1000.0 / 24);
        std::optional<RenderJob> job = player.prepareRender();
        if (!job) continue;
        job->full = true;
        double start = threadCpuMs();
        job->execute(*backend, target);
        drawMs += threadCpuMs() - start;
        benchmark::DoNotOptimize(target.constBits());
    }
    state.counters["draw_ms"] = drawMs / std::max<double>(1, double(state.iterations()));
}
BENCHMARK(BM_ShapesMovie)->Apply([](auto* b) { bothBackends(b, kBothSizes); });

// 20 stage-sized curved gradient shapes at 1280x720, and one very detailed
// shape of 2000 curves.
void BM_LargeShapes(benchmark::State& state) {
    const bool detailed = state.range(0) != 0;
    std::vector<std::shared_ptr<ShapeDef>> shapes;
    if (detailed) {
        shapes.push_back(shapeOf(blob(6000, 2000, 0.01), gradientFill(1, 6000, 255), 6000, false));
    } else {
        for (int i = 0; i < 20; ++i)
            shapes.push_back(shapeOf(blob(5000, 12, 0.2), gradientFill(i, 5000, i % 2 ? 200 : 255), 5000, false));
    }
    QImage target(1280, 720, QImage::Format_ARGB32_Premultiplied);
    std::unique_ptr<RenderBackend> backend = makeBackend(kindOf(state));
    int n = 0;
    double cpu = 0;
    for (auto _ : state) {
        CommandList list;
        double k = 1.5 / 20;
        for (size_t i = 0; i < shapes.size(); ++i)
            list.commands.push_back(DrawShape{shapes[i], Matrix{k, 0, 0, k, double(640 + (n + int(i) * 7) % 40), 360}, {}, {}});
        ++n;
        cpu += onPool([&] { backend->draw(list, target, Quality::High); });
        benchmark::DoNotOptimize(target.constBits());
    }
    reportCpu(state, cpu);
}
BENCHMARK(BM_LargeShapes)->ArgsProduct({{0, 1}, {0}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();

// A frame where one shape of 200 moved: find the dirty rectangle, redraw it.
void BM_OneShapeMoved_DirtyRedraw(benchmark::State& state) {
    static const Scene scene;
    QImage target(1280, 720, QImage::Format_ARGB32_Premultiplied);
    std::unique_ptr<RenderBackend> backend = makeBackend(kindOf(state));
    CommandList previous = scene.frame(0, 1.5);
    backend->draw(previous, target, Quality::High);
    int n = 0;
    double cpu = 0;
    for (auto _ : state) {
        CommandList current = previous;
        auto& moved = std::get<DrawShape>(current.commands[100]);
        moved.matrix.tx += (n++ % 2) ? -3 : 3;
        QRect dirty = dirtyRect(previous, current, target.rect());
        cpu += onPool([&] { backend->draw(current, target, Quality::High, dirty); });
        previous = std::move(current);
    }
    reportCpu(state, cpu);
}
BENCHMARK(BM_OneShapeMoved_DirtyRedraw)->Args({0, 0, 0})->Args({0, 0, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

// Laying out a 2000-character paragraph with word wrap in a device font.
void BM_TextLayout(benchmark::State& state) {
    EditTextState s;
    s.wordWrap = s.multiline = true;
    s.bounds = Rect{0, 8000, 0, 8000};
    s.format.size = 240;
    QString text;
    for (int i = 0; i < 75; ++i) text += QStringLiteral("lorem ipsum dolor sit amet ");
    s.runs = plainRuns(text, s.format);
    for (auto _ : state) {
        TextLayout l = layoutEditText(s, Matrix{0.05, 0, 0, 0.05, 0, 0}, {});
        benchmark::DoNotOptimize(l.lines.size());
    }
}
BENCHMARK(BM_TextLayout)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    // Device fonts need a GUI application; the offscreen platform needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
