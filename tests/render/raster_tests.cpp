// Rules of the scanline rasterizer beyond the pixel checks both backends
// share: coverage steps per quality, the gradient colour table, strokes
// resolved as one area, bands drawn in parallel, absurd scales.
#include "tests/render/render_test_support.h"

#include "engine/render/paint.h"
#include "engine/render/raster_backend.h"

#include <QThreadPool>
#include <gtest/gtest.h>

#include <cmath>

using namespace swf;
using namespace swf::render;
using namespace swf::render::test;

namespace {

const Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255}, kBlack{0, 0, 0, 255},
    kClear{0, 0, 0, 0};

QImage rasterise(const CommandList& list, int w, int h, Quality q = Quality::High, QThreadPool* pool = nullptr) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::magenta);
    RasterBackend backend;
    backend.setThreadPool(pool);
    backend.draw(list, img, q);
    return img;
}

struct StepCase {
    Quality quality;
    int alpha;   // of a pixel 0.3 covered
};

class CoverageSteps : public ::testing::TestWithParam<StepCase> {};

TEST_P(CoverageSteps, RoundCoverageAsTheQualitySamples) {
    // The rectangle ends at x = 10.3 px: pixel 10 is 30 % covered. Low draws
    // it out, medium rounds to quarters (2x2 samples), high and best to
    // sixteenths (4x4).
    auto shape = rectShape(0, 0, 10.3, 10, solid(kBlack));
    QImage img = rasterise(CommandList{kClear, {drawShape(shape)}}, 20, 10, GetParam().quality);
    EXPECT_EQ(qAlpha(img.pixel(10, 5)), GetParam().alpha);
    EXPECT_EQ(qAlpha(img.pixel(5, 5)), 255);
    EXPECT_EQ(qAlpha(img.pixel(11, 5)), 0);
}

INSTANTIATE_TEST_SUITE_P(Raster, CoverageSteps,
                         ::testing::Values(StepCase{Quality::Low, 0}, StepCase{Quality::Medium, 64},
                                           StepCase{Quality::High, 80}, StepCase{Quality::Best, 80}));

// Low quality takes each pixel's centre: a pixel is in when the path winds
// around it there (an edge through a centre counts the pixel on its right),
// so parts of one path drawn over each other count once, however much of
// the pixel they cover.
TEST(Raster, AliasedPixelsAreInWhenTheirCentreIs) {
    struct Case {
        double right; // the rectangle's right edge, px
        int copies;   // times the rectangle is repeated in one fill (even-odd)
        bool in;      // pixel 20 (centre 20.5)
    } cases[] = {{20.3, 1, false}, {20.3, 3, false}, {20.6, 1, true}, {20.6, 3, true}, {20.5, 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.right << " x" << c.copies);
        auto shape = rectShape(0, 0, c.right, 10, solid(kBlack));
        std::vector<Edge>& edges = shape->layers[0].fills[0].edges;
        const std::vector<Edge> one = edges;
        for (int k = 1; k < c.copies; ++k) edges.insert(edges.end(), one.begin(), one.end());
        QImage img = rasterise(CommandList{kClear, {drawShape(shape)}}, 30, 10, Quality::Low);
        EXPECT_EQ(qAlpha(img.pixel(20, 5)), c.in ? 255 : 0);
        EXPECT_EQ(qAlpha(img.pixel(19, 5)), 255);
    }
    // A hairline that runs back over itself stays one pixel wide, with no
    // pixel past its ends.
    LineStyle hairline;
    hairline.width = 1;
    hairline.color = kBlack;
    const std::vector<std::vector<Point>> lines = {
        {{10, 10}, {10, 40}, {10, 20}}, {{10, 40}, {10, 10}, {20, 10}, {10, 10}, {10, 30}}};
    for (const auto& points : lines) {
        QImage img = rasterise(CommandList{kClear, {drawShape(lineShape(points, hairline))}}, 30, 50, Quality::Low);
        for (int y : {15, 25, 35}) {
            EXPECT_EQ(qAlpha(img.pixel(10, y)), 255) << y;
            EXPECT_EQ(qAlpha(img.pixel(9, y)), 0) << y;
            EXPECT_EQ(qAlpha(img.pixel(11, y)), 0) << y;
        }
        EXPECT_EQ(qAlpha(img.pixel(10, 9)), 0);
    }
}

struct PointCase {
    const char* name;
    std::vector<Segment> polygon;   // device pixels, closed
    QPoint pixel;
    int exactAlpha, pointsAlpha;    // area in sixteenths, and points of a 4x4 grid inside
};

class PointCoverage : public ::testing::TestWithParam<PointCase> {};

std::vector<Segment> closedPolygon(std::initializer_list<QPointF> pts) {
    std::vector<Segment> out;
    std::vector<QPointF> v(pts);
    for (size_t i = 0; i < v.size(); ++i) {
        const QPointF a = v[i], b = v[(i + 1) % v.size()];
        out.push_back({float(a.x()), float(a.y()), float(b.x()), float(b.y())});
    }
    return out;
}

TEST_P(PointCoverage, CountsTheGridPointsInside) {
    // Glyphs count sample points at the centres of a 4x4 grid in each pixel;
    // shapes take the exact area. The two differ where an edge passes
    // between sample points.
    const PointCase& c = GetParam();
    for (bool points : {false, true}) {
        QImage img(16, 16, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        const Paint black = Paint::solid(0xff000000);
        const CoverPath path{c.polygon, FillRule::NonZero, &black};
        fillPaths(Canvas{reinterpret_cast<uint32_t*>(img.bits()), img.bytesPerLine() / 4, {}, img.rect()},
                  {&path, 1}, {16, points});
        EXPECT_EQ(qAlpha(img.pixel(c.pixel)), points ? c.pointsAlpha : c.exactAlpha) << c.name << " points " << points;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Raster, PointCoverage,
    ::testing::Values(
        // x = 10.3 passes one column of points (10.125) of pixel 10.
        PointCase{"right edge", closedPolygon({{0, 0}, {10.3, 0}, {10.3, 10}, {0, 10}}), {10, 5}, 80, 64},
        // y = 2.6 leaves the rows at 2.625 and 2.875 inside.
        PointCase{"top edge", closedPolygon({{0, 2.6}, {10, 2.6}, {10, 10}, {0, 10}}), {5, 2}, 96, 128},
        // x + y = 8 through pixel (3, 4): half its area, 6 of its points.
        PointCase{"diagonal", closedPolygon({{0, 0}, {8, 0}, {0, 8}}), {3, 4}, 128, 96},
        // An edge right of the box the path spans keeps its pixels full.
        PointCase{"past the target", closedPolygon({{1, 0}, {30, 0}, {30, 10}, {1, 10}}), {15, 5}, 255, 255}),
    [](const auto& info) { return std::to_string(info.index); });

struct TableCase {
    const char* name;
    std::vector<GradientStop> stops;
    int entry;
    Rgba expected;
};

class GradientTableRule : public ::testing::TestWithParam<TableCase> {};

TEST_P(GradientTableRule, GivesTheEntry) {
    Gradient g;
    g.stops = GetParam().stops;
    GradientTable table = gradientTable(g, {});
    QRgb p = qUnpremultiply(table[size_t(GetParam().entry)]);
    Rgba got{uint8_t(qRed(p)), uint8_t(qGreen(p)), uint8_t(qBlue(p)), uint8_t(qAlpha(p))};
    EXPECT_LE(diff(got, GetParam().expected), 1) << GetParam().name << ": " << got;
}

INSTANTIATE_TEST_SUITE_P(
    Raster, GradientTableRule,
    ::testing::Values(
        TableCase{"before the first stop", {{100, kRed}, {200, kBlue}}, 50, kRed},
        TableCase{"after the last stop", {{100, kRed}, {200, kBlue}}, 250, kBlue},
        TableCase{"half way", {{0, kRed}, {254, kBlue}}, 127, Rgba{128, 0, 128, 255}},
        TableCase{"equal ratios: the first keeps its entry", {{0, kRed}, {128, kGreen}, {128, kBlue}, {255, kBlack}},
                  128, kGreen},
        TableCase{"equal ratios: the second moves to the next", {{0, kRed}, {128, kGreen}, {128, kBlue}, {255, kBlack}},
                  129, kBlue},
        TableCase{"out of order: moved after the previous", {{0, kRed}, {200, kGreen}, {100, kBlue}}, 201, kBlue},
        TableCase{"pushed past the end: dropped", {{254, kRed}, {0, kBlue}, {0, kGreen}}, 255, kBlue},
        TableCase{"no stops: black", {}, 10, kBlack}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(Raster, LinearRgbTableBlendsInLinearLight) {
    Gradient g;
    g.stops = {{0, kRed}, {254, kBlue}};
    g.interpolation = Interpolation::LinearRgb;
    QRgb mid = gradientTable(g, {})[127];
    // Half of full red in linear light is 188 in sRGB.
    EXPECT_NEAR(qRed(mid), 188, 2);
    EXPECT_NEAR(qBlue(mid), 188, 2);
}

TEST(Raster, GradientTableTakesTheColourTransform) {
    Gradient g;
    g.stops = {{0, kRed}, {255, kRed}};
    ColorTransform half;
    half.aMult = 0.5;
    QRgb p = gradientTable(g, half)[0];
    EXPECT_NEAR(qAlpha(p), 128, 1);
    EXPECT_NEAR(qRed(p), 128, 1); // premultiplied
}

TEST(Raster, CrossingStrokeIsOneArea) {
    // A half-transparent stroke crossing itself: where it overlaps itself it
    // is as transparent as elsewhere (the outline is filled non-zero, once).
    LineStyle style;
    style.width = 80; // 4 px
    style.color = Rgba{0, 0, 255, 128};
    auto shape = lineShape({{2, 2}, {18, 18}, {18, 2}, {2, 18}}, style);
    QImage img = rasterise(CommandList{kClear, {drawShape(shape)}}, 20, 20);
    EXPECT_NEAR(qAlpha(img.pixel(10, 10)), 128, 2);
    EXPECT_NEAR(qAlpha(img.pixel(5, 5)), 128, 2);
}

// Many overlapping shapes of several kinds over a 200x160 target.
CommandList busyScene(int frame) {
    CommandList list{Rgba{250, 250, 240, 255}, {}};
    for (int i = 0; i < 40; ++i) {
        FillStyle fill = solid(Rgba{uint8_t(i * 6), uint8_t(255 - i * 5), uint8_t(i * 3), uint8_t(i % 3 ? 255 : 140)});
        if (i % 4 == 1) {
            fill.type = FillType::RadialGradient;
            double s = 600.0 / 16384;
            fill.gradient.matrix = {s, 0, 0, s, 300, 300};
            fill.gradient.stops = {{0, Rgba{255, 255, 255, 255}}, {255, Rgba{0, 40, 120, 200}}};
        }
        auto shape = rectShape(0, 0, 30, 20, fill);
        double angle = 0.1 * i + 0.05 * frame;
        double ca = std::cos(angle) / 20, sa = std::sin(angle) / 20;
        list.commands.push_back(drawShape(shape, Matrix{ca, sa, -sa, ca, 7.3 * i - 40 + frame, 3.9 * i}));
    }
    return list;
}

TEST(Raster, BandsOnAThreadPoolDrawTheSamePicture) {
    QThreadPool pool;
    pool.setMaxThreadCount(4);
    for (int frame : {0, 7}) {
        QImage alone = rasterise(busyScene(frame), 200, 160);
        QImage banded = rasterise(busyScene(frame), 200, 160, Quality::High, &pool);
        EXPECT_EQ(alone, banded) << "frame " << frame;
    }
}

TEST(Raster, LooksLikeTheQPainterBackend) {
    // The two backends draw the same scene nearly alike (edges differ by
    // their antialiasing only).
    CommandList list = busyScene(3);
    QImage raster = rasterise(list, 200, 160);
    QImage qpainter(200, 160, QImage::Format_ARGB32_Premultiplied);
    makeBackend(BackendKind::QPainter)->draw(list, qpainter, Quality::High);
    double total = 0;
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 200; ++x) total += diff(at(raster, x, y), at(qpainter, x, y));
    EXPECT_LT(total / (200 * 160), 3.0);
}

TEST(Raster, HugeScalesAreClippedToTheTarget) {
    // A 10 px square scaled a million times covers the whole target; its
    // edges lie far outside and cost nothing.
    auto shape = rectShape(-10, -10, 10, 10, solid(kRed));
    for (double k : {1e4, 1e6, 1e9}) {
        QImage img = rasterise(CommandList{kClear, {drawShape(shape, Matrix{k / 20, 0, 0, k / 20, 5, 5})}}, 32, 32);
        EXPECT_COLOR_NEAR(at(img, 0, 0), kRed, 0) << k;
        EXPECT_COLOR_NEAR(at(img, 31, 31), kRed, 0) << k;
    }
}

} // namespace
