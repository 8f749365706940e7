// Stroke outlines of our own rasterizer: the area caps, joins and miter
// limits add, and the device width of each scale mode.
#include "tests/render/render_test_support.h"

#include "engine/render/outline_cache.h"
#include "engine/render/raster_backend.h"
#include "engine/render/scanline.h"
#include "engine/render/stroke.h"

#include <gtest/gtest.h>

#include <numbers>

using namespace swf;
using namespace swf::render;
using namespace swf::render::test;

namespace {

constexpr double kPi = std::numbers::pi;

Polylines polyline(std::vector<QPointF> points, bool closed = false) {
    const auto n = uint32_t(points.size());
    return Polylines{std::move(points), {n}, {uint8_t(closed)}};
}

// Area (pixels) the stroke covers, filled non-zero with exact coverage.
double strokeArea(const Polylines& line, const StrokeStyle& style) {
    Contours outline;
    strokeLines(line, style, 0.01, outline);
    std::vector<Segment> segments;
    uint32_t start = 0;
    for (uint32_t end : outline.ends) {
        for (uint32_t k = start; k < end; ++k) {
            const QPointF p = outline.points[k], q = outline.points[k + 1 < end ? k + 1 : start];
            segments.push_back({float(p.x()), float(p.y()), float(q.x()), float(q.y())});
        }
        start = end;
    }
    QImage img(120, 120, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    const Paint black = Paint::solid(0xff000000);
    const CoverPath path{segments, FillRule::NonZero, &black};
    fillPaths(Canvas{reinterpret_cast<uint32_t*>(img.bits()), img.bytesPerLine() / 4, {}, img.rect()}, {&path, 1},
              {255});
    double sum = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) sum += qAlpha(img.pixel(x, y)) / 255.0;
    return sum;
}

StrokeStyle style(CapStyle cap, JoinStyle join, double miterLimit = 3) {
    return StrokeStyle{10, cap, cap, join, miterLimit};
}

struct AreaCase {
    const char* name;
    Polylines line;
    StrokeStyle style;
    double area;
};

class StrokeArea : public ::testing::TestWithParam<AreaCase> {};

TEST_P(StrokeArea, IsTheUnionOfItsPieces) {
    EXPECT_NEAR(strokeArea(GetParam().line, GetParam().style), GetParam().area, 1.0) << GetParam().name;
}

// A 40 px line 10 px wide; a right-angled corner of two such lines (their
// rectangles overlap by 5x5 at the corner, the join fills the outer notch).
const Polylines kStraight = polyline({{20, 50}, {60, 50}});
const Polylines kCorner = polyline({{20, 20}, {60, 20}, {60, 60}});
const Polylines kTurnBack = polyline({{20, 50}, {60, 50}, {30, 50}});
const Polylines kSquare = polyline({{20, 20}, {60, 20}, {60, 60}, {20, 60}}, true);
const Polylines kDot = polyline({{50, 50}, {50, 50}});

// A quarter circle around (10, 10) in 64 chords.
Polylines quarterCircle(double radius) {
    std::vector<QPointF> points;
    for (int i = 0; i <= 64; ++i)
        points.emplace_back(10 + radius * std::cos(kPi / 2 * i / 64), 10 + radius * std::sin(kPi / 2 * i / 64));
    return polyline(points);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StrokeArea,
    ::testing::Values(AreaCase{"no caps", kStraight, style(CapStyle::None, JoinStyle::Round), 400},
                      AreaCase{"square caps", kStraight, style(CapStyle::Square, JoinStyle::Round), 500},
                      AreaCase{"round caps", kStraight, style(CapStyle::Round, JoinStyle::Round), 400 + 25 * kPi},
                      AreaCase{"bevel join", kCorner, style(CapStyle::None, JoinStyle::Bevel), 775 + 12.5},
                      AreaCase{"miter join", kCorner, style(CapStyle::None, JoinStyle::Miter), 775 + 25},
                      AreaCase{"round join", kCorner, style(CapStyle::None, JoinStyle::Round), 775 + 25 * kPi / 4},
                      // The tip reaches 7.07 px, the limit of 0.6 widths cuts it at 6.
                      AreaCase{"cut miter", kCorner, style(CapStyle::None, JoinStyle::Miter, 0.6),
                               775 + 25 - (7.0711 - 6) * (7.0711 - 6)},
                      AreaCase{"turning back", kTurnBack, style(CapStyle::None, JoinStyle::Bevel), 400},
                      AreaCase{"closed ring", kSquare, style(CapStyle::Round, JoinStyle::Miter), 2500 - 900},
                      // Quarter rings: the inner side's corners cross within the
                      // chords, or (narrower than the stroke) turn through them.
                      AreaCase{"wide arc", quarterCircle(40), style(CapStyle::None, JoinStyle::Round),
                               kPi / 4 * (45 * 45 - 35 * 35)},
                      AreaCase{"tight arc", quarterCircle(6), style(CapStyle::None, JoinStyle::Round),
                               kPi / 4 * (11 * 11 - 1)},
                      AreaCase{"round dot", kDot, style(CapStyle::Round, JoinStyle::Round), 25 * kPi},
                      AreaCase{"square dot", kDot, style(CapStyle::Square, JoinStyle::Round), 100},
                      AreaCase{"dot without caps", kDot, style(CapStyle::None, JoinStyle::Round), 0}));

TEST(Stroke, CentreLinesCloseLoopsUnlessTold) {
    StyledPath loop{0, rectEdges(0, 0, 100, 100)};
    loop.edges.push_back(line({200, 0}, {300, 0}));
    const Polylines closed = centreLines(loop, 1, false);
    ASSERT_EQ(closed.ends.size(), 2u);
    EXPECT_EQ(closed.closed, (std::vector<uint8_t>{1, 0}));
    EXPECT_EQ(centreLines(loop, 1, true).closed, (std::vector<uint8_t>{0, 0}));
}

TEST(Stroke, CurvesFollowTheTolerance) {
    // A quarter-circle-like curve: a finer tolerance gives more points.
    StyledPath curve{0, {Edge{{0, 0}, {1000, 0}, {1000, 1000}, true}}};
    EXPECT_LT(centreLines(curve, 10, false).points.size(), centreLines(curve, 0.1, false).points.size());
}

// A shape drawn alone over nothing, 64x40 pixels.
QImage drawAlone(std::shared_ptr<const ShapeDef> shape, Matrix m, Quality quality = Quality::Best) {
    QImage img(64, 40, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    RasterBackend backend;
    backend.draw(CommandList{Rgba{0, 0, 0, 0}, {drawShape(std::move(shape), m)}}, img, quality);
    return img;
}

// Rows a horizontal line covers in column 30, as a sum of coverage.
double lineThickness(const LineStyle& ls, Matrix m, Quality quality = Quality::Best) {
    const QImage img =
        drawAlone(lineShape({{10 / m.a / 20, 20 / m.d / 20}, {50 / m.a / 20, 20 / m.d / 20}}, ls), m, quality);
    double sum = 0;
    for (int y = 0; y < img.height(); ++y) sum += qAlpha(img.pixel(30, y)) / 255.0;
    return sum;
}

struct WidthCase {
    const char* name;
    uint16_t width;              // twips
    bool noHScale, noVScale;
    double sx, sy;               // device pixels per pixel of the shape
    double pixels;
};

class StrokeWidth : public ::testing::TestWithParam<WidthCase> {};

TEST_P(StrokeWidth, FollowsTheScaleMode) {
    const WidthCase& c = GetParam();
    LineStyle ls;
    ls.width = c.width;
    ls.noHScale = c.noHScale;
    ls.noVScale = c.noVScale;
    ls.startCap = ls.endCap = CapStyle::None;
    EXPECT_NEAR(lineThickness(ls, Matrix{0.05 * c.sx, 0, 0, 0.05 * c.sy, 0, 0}), c.pixels, 0.1) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Modes, StrokeWidth,
                         ::testing::Values(WidthCase{"normal", 40, false, false, 2, 2, 4},
                                           WidthCase{"none", 40, true, true, 2, 2, 2},
                                           WidthCase{"vertical only", 40, true, false, 4, 1, 2},
                                           WidthCase{"horizontal only", 40, false, true, 4, 1, 8},
                                           WidthCase{"hairline", 0, false, false, 3, 3, 1},
                                           WidthCase{"thinner than a pixel", 4, false, false, 1, 1, 1}));

TEST(Stroke, AliasedHairlineOnWholeCoordinatesIsOneRow) {
    // Its edges run through pixel centres: only one of the two rows is in.
    LineStyle ls;
    EXPECT_EQ(lineThickness(ls, pixels(), Quality::Low), 1.0);
}

struct HintCase {
    uint16_t width;     // twips
    double y;           // the line's centre (pixels)
    int firstRow, rows; // the rows it covers, whole
};

class PixelHinting : public ::testing::TestWithParam<HintCase> {};

TEST_P(PixelHinting, CoversWholePixels) {
    // The width is rounded to whole pixels, and the line moved so that both
    // its edges fall between pixels.
    const HintCase& c = GetParam();
    LineStyle ls;
    ls.width = c.width;
    ls.pixelHinting = true;
    ls.startCap = ls.endCap = CapStyle::None;
    const QImage img = drawAlone(lineShape({{10, c.y}, {50, c.y}}, ls), pixels());
    for (int y = c.firstRow - 1; y <= c.firstRow + c.rows; ++y) {
        const bool inside = y >= c.firstRow && y < c.firstRow + c.rows;
        EXPECT_EQ(qAlpha(img.pixel(30, y)), inside ? 255 : 0) << "row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, PixelHinting,
                         ::testing::Values(HintCase{20, 20, 20, 1},    // one pixel between two rows
                                           HintCase{40, 20.3, 19, 2},  // two pixels: edges on whole rows
                                           HintCase{50, 20.7, 19, 3},  // 2.5 pixels rounds to 3
                                           HintCase{10, 20.2, 20, 1})); // never below one pixel

} // namespace
