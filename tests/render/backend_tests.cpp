// Pixel checks of a backend (built once for each): fills, gradients, bitmaps,
// strokes, colour transforms, masks, blend modes and filters on small images.
#include "tests/render/render_test_support.h"

#include "engine/render/bounds.h"
#include "engine/render/filters.h"

#include <gtest/gtest.h>

using namespace swf;
using namespace swf::render;
using namespace swf::render::test;

namespace {

const Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255}, kWhite{255, 255, 255, 255},
    kBlack{0, 0, 0, 255};

CommandList listOf(std::vector<Command> cmds, Rgba bg = kWhite) { return CommandList{bg, std::move(cmds)}; }

TEST(Backend, SolidFillCoversItsShapeOnly) {
    QImage img = renderList(listOf({drawShape(rectShape(2, 2, 10, 10, solid(kRed)))}), 20, 20);
    EXPECT_COLOR_NEAR(at(img, 5, 5), kRed, 0);
    EXPECT_COLOR_NEAR(at(img, 15, 15), kWhite, 0);
    EXPECT_COLOR_NEAR(at(img, 1, 5), kWhite, 0);
}

TEST(Backend, BackgroundFillsTheTarget) {
    QImage img = renderList(listOf({}, Rgba{10, 20, 30, 255}), 8, 8);
    EXPECT_COLOR_NEAR(at(img, 7, 7), (Rgba{10, 20, 30, 255}), 0);
}

TEST(Backend, OverlappingContoursOfOneFillCutHoles) {
    // A rectangle with a smaller one inside, both in the same fill: the inner
    // one is a hole, as Flash fills shapes.
    auto s = rectShape(0, 0, 20, 20, solid(kBlue));
    auto hole = rectEdges(100, 100, 300, 300);
    s->layers[0].fills[0].edges.insert(s->layers[0].fills[0].edges.end(), hole.begin(), hole.end());
    QImage img = renderList(listOf({drawShape(s)}), 20, 20);
    EXPECT_COLOR_NEAR(at(img, 2, 2), kBlue, 0);
    EXPECT_COLOR_NEAR(at(img, 10, 10), kWhite, 0);
}

// A linear red->blue gradient over x = 0..50 px of a 100 px wide rectangle.
FillStyle linearGradient(SpreadMode spread, Interpolation interp = Interpolation::Rgb) {
    FillStyle f;
    f.type = FillType::LinearGradient;
    double s = 1000.0 / 32768;
    f.gradient.matrix = {s, 0, 0, s, 500, 0};
    f.gradient.spread = spread;
    f.gradient.interpolation = interp;
    f.gradient.stops = {{0, kRed}, {255, kBlue}};
    return f;
}

struct SpreadCase {
    SpreadMode mode;
    int x;        // probe column
    Rgba expected;
};

class GradientSpread : public ::testing::TestWithParam<SpreadCase> {};

TEST_P(GradientSpread, ExtendsThePatternBeyondTheSquare) {
    const auto& c = GetParam();
    QImage img = renderList(listOf({drawShape(rectShape(0, 0, 100, 10, linearGradient(c.mode)))}), 100, 10);
    EXPECT_COLOR_NEAR(at(img, c.x, 5), c.expected, 10);
}

// At x = 10.5 the gradient is 21 % of the way: rgb(201, 0, 54).
const Rgba kAt21{201, 0, 54, 255};
INSTANTIATE_TEST_SUITE_P(Modes, GradientSpread,
                         ::testing::Values(SpreadCase{SpreadMode::Pad, 10, kAt21},
                                           SpreadCase{SpreadMode::Pad, 90, kBlue},
                                           SpreadCase{SpreadMode::Reflect, 89, kAt21},
                                           SpreadCase{SpreadMode::Repeat, 60, kAt21}));

TEST(Backend, GradientStopsTakeOneTableEntryEach) {
    // Stops at 254, 0, 0: the second moves to entry 255, the third falls off
    // the table; past the square the pad colour is the second stop's.
    FillStyle f = linearGradient(SpreadMode::Pad);
    f.gradient.stops = {{254, kRed}, {0, kBlue}, {0, kGreen}};
    QImage img = renderList(listOf({drawShape(rectShape(0, 0, 100, 10, f))}), 100, 10);
    EXPECT_COLOR_NEAR(at(img, 40, 5), kRed, 0);
    EXPECT_COLOR_NEAR(at(img, 70, 5), kBlue, 0);
}

TEST(Backend, GradientWithoutStopsIsBlack) {
    FillStyle f = linearGradient(SpreadMode::Pad);
    f.gradient.stops.clear();
    QImage img = renderList(listOf({drawShape(rectShape(0, 0, 10, 10, f))}), 10, 10);
    EXPECT_COLOR_NEAR(at(img, 5, 5), kBlack, 0);
}

TEST(Backend, LinearRgbGradientIsBrighterInTheMiddle) {
    QImage rgb = renderList(listOf({drawShape(rectShape(0, 0, 100, 10, linearGradient(SpreadMode::Pad)))}), 100, 10);
    QImage lin = renderList(listOf({drawShape(rectShape(0, 0, 100, 10,
                                                    linearGradient(SpreadMode::Pad, Interpolation::LinearRgb)))}),
                        100, 10);
    EXPECT_COLOR_NEAR(at(rgb, 25, 5), (Rgba{125, 0, 130, 255}), 10);
    // Half way in linear light is 73.5 % in sRGB.
    EXPECT_COLOR_NEAR(at(lin, 25, 5), (Rgba{186, 0, 190, 255}), 12);
}

FillStyle radialGradient(FillType type, double focal = 0) {
    FillStyle f;
    f.type = type;
    double s = 400.0 / 16384; // radius 20 px
    f.gradient.matrix = {s, 0, 0, s, 400, 400};
    f.gradient.stops = {{0, kWhite}, {255, kBlack}};
    f.gradient.focalPoint = focal;
    return f;
}

TEST(Backend, RadialGradientRunsFromCentreToRadius) {
    QImage img = renderList(listOf({drawShape(rectShape(0, 0, 40, 40, radialGradient(FillType::RadialGradient)))}), 40, 40);
    EXPECT_COLOR_NEAR(at(img, 20, 20), kWhite, 16);
    EXPECT_COLOR_NEAR(at(img, 30, 20), (Rgba{128, 128, 128, 255}), 16);
    EXPECT_COLOR_NEAR(at(img, 1, 1), kBlack, 0);
}

TEST(Backend, FocalGradientMovesTheFirstStopToTheFocus) {
    QImage img = renderList(listOf({drawShape(rectShape(0, 0, 40, 40, radialGradient(FillType::FocalGradient, 0.75)))}),
                        40, 40);
    // The focus (75 % of the radius to the right) is brighter than the centre.
    EXPECT_GT(at(img, 35, 20).r, 215);
    EXPECT_GT(at(img, 35, 20).r, at(img, 20, 20).r + 20);
    EXPECT_LT(at(img, 10, 20).r, at(img, 30, 20).r);
}

// A 2x2 bitmap (red green / blue white), each pixel 4 device pixels wide.
std::shared_ptr<BitmapDef> checker() {
    auto b = std::make_shared<BitmapDef>();
    b->id = 7;
    b->image = QImage(2, 2, QImage::Format_ARGB32_Premultiplied);
    b->image.setPixel(0, 0, qRgb(255, 0, 0));
    b->image.setPixel(1, 0, qRgb(0, 255, 0));
    b->image.setPixel(0, 1, qRgb(0, 0, 255));
    b->image.setPixel(1, 1, qRgb(255, 255, 255));
    return b;
}

QImage bitmapFilled(bool repeat, ColorTransform cx = {}) {
    auto bitmap = checker();
    FillStyle f;
    f.type = FillType::Bitmap;
    f.bitmapId = 7;
    f.bitmapMatrix = {80, 0, 0, 80, 0, 0};
    f.bitmapRepeat = repeat;
    f.bitmapSmoothed = false;
    DrawShape c = drawShape(rectShape(0, 0, 16, 16, f), pixels(), cx);
    c.bitmaps = [bitmap](uint16_t id) { return id == 7 ? bitmap : nullptr; };
    return renderList(listOf({c}), 16, 16);
}

TEST(Backend, RepeatingBitmapFillTiles) {
    QImage img = bitmapFilled(true);
    EXPECT_COLOR_NEAR(at(img, 2, 2), kRed, 0);
    EXPECT_COLOR_NEAR(at(img, 6, 2), kGreen, 0);
    EXPECT_COLOR_NEAR(at(img, 6, 6), kWhite, 0);
    EXPECT_COLOR_NEAR(at(img, 10, 2), kRed, 0);
    EXPECT_COLOR_NEAR(at(img, 2, 10), kRed, 0);
}

TEST(Backend, ClippedBitmapFillRepeatsItsEdges) {
    QImage img = bitmapFilled(false);
    EXPECT_COLOR_NEAR(at(img, 2, 2), kRed, 0);
    EXPECT_COLOR_NEAR(at(img, 13, 2), kGreen, 0);
    EXPECT_COLOR_NEAR(at(img, 2, 13), kBlue, 0);
    EXPECT_COLOR_NEAR(at(img, 13, 13), kWhite, 0);
}

TEST(Backend, MissingBitmapDrawsNothing) {
    FillStyle f;
    f.type = FillType::Bitmap;
    f.bitmapId = 99;
    QImage img = renderList(listOf({drawShape(rectShape(0, 0, 16, 16, f))}), 16, 16);
    EXPECT_COLOR_NEAR(at(img, 8, 8), kWhite, 0);
}

TEST(Backend, ColourTransformRecoloursBitmapFills) {
    ColorTransform cx;
    cx.rMult = 0;
    cx.bAdd = 255;
    QImage img = bitmapFilled(true, cx);
    EXPECT_COLOR_NEAR(at(img, 2, 2), kBlue, 0);                   // red -> blue
    EXPECT_COLOR_NEAR(at(img, 6, 2), (Rgba{0, 255, 255, 255}), 0); // green -> cyan
}

struct CxCase {
    ColorTransform cx;
    Rgba expected;
};
class ColourTransformOfSolid : public ::testing::TestWithParam<CxCase> {};
TEST_P(ColourTransformOfSolid, AppliesMultiplyThenAdd) {
    QImage img = renderList(listOf({drawShape(rectShape(0, 0, 10, 10, solid(Rgba{200, 100, 50, 255})), pixels(),
                                          GetParam().cx)}),
                        10, 10);
    EXPECT_COLOR_NEAR(at(img, 5, 5), GetParam().expected, 1);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ColourTransformOfSolid,
    ::testing::Values(CxCase{{0.5, 1, 1, 1, 0, 0, 0, 0}, {100, 100, 50, 255}},
                      CxCase{{1, 1, 1, 1, 80, -100, 0, 0}, {255, 0, 50, 255}},
                      // Half transparent over white.
                      CxCase{{1, 1, 1, 0.5, 0, 0, 0, 0}, {227, 177, 152, 255}}));

LineStyle lineStyle(uint16_t widthTwips, CapStyle cap = CapStyle::Round) {
    LineStyle l;
    l.width = widthTwips;
    l.color = kBlack;
    l.startCap = l.endCap = cap;
    return l;
}

TEST(Backend, HairlineIsOneDevicePixel) {
    auto s = lineShape({{5, 10.5}, {35, 10.5}}, lineStyle(0));
    QImage img = renderList(listOf({drawShape(s)}), 40, 20, Quality::Low);
    EXPECT_COLOR_NEAR(at(img, 20, 10), kBlack, 0);
    EXPECT_COLOR_NEAR(at(img, 20, 9), kWhite, 0);
    EXPECT_COLOR_NEAR(at(img, 20, 11), kWhite, 0);
}

TEST(Backend, ThinLineScaledDownStaysOnePixel) {
    // 1 px wide line drawn at a tenth of its size still shows as a hairline.
    auto s = lineShape({{50, 105}, {350, 105}}, lineStyle(20));
    Matrix m = pixels();
    m.a = m.d = 0.005;
    QImage img = renderList(listOf({drawShape(s, m)}), 40, 20, Quality::Low);
    EXPECT_COLOR_NEAR(at(img, 20, 10), kBlack, 0);
}

TEST(Backend, WideLineCoversHalfItsWidthEachSide) {
    auto s = lineShape({{5, 20.5}, {35, 20.5}}, lineStyle(200, CapStyle::None));
    QImage img = renderList(listOf({drawShape(s)}), 50, 40);
    EXPECT_COLOR_NEAR(at(img, 20, 16), kBlack, 0);
    EXPECT_COLOR_NEAR(at(img, 20, 24), kBlack, 0);
    EXPECT_COLOR_NEAR(at(img, 20, 27), kWhite, 0);
}

struct CapCase {
    CapStyle cap;
    int x, y;
    bool inked;
};
class LineCaps : public ::testing::TestWithParam<CapCase> {};
TEST_P(LineCaps, EndTheLineAsStyled) {
    auto s = lineShape({{5, 20.5}, {35, 20.5}}, lineStyle(200, GetParam().cap));
    QImage img = renderList(listOf({drawShape(s)}), 50, 40);
    Rgba p = at(img, GetParam().x, GetParam().y);
    if (GetParam().inked)
        EXPECT_COLOR_NEAR(p, kBlack, 40);
    else
        EXPECT_COLOR_NEAR(p, kWhite, 40);
}
INSTANTIATE_TEST_SUITE_P(Caps, LineCaps,
                         ::testing::Values(CapCase{CapStyle::None, 37, 20, false},
                                           CapCase{CapStyle::Square, 37, 20, true},
                                           CapCase{CapStyle::Square, 38, 24, true},
                                           CapCase{CapStyle::Round, 38, 20, true},
                                           CapCase{CapStyle::Round, 39, 24, false}));

TEST(Backend, DrawBitmapPlacesPixelsThroughItsMatrix) {
    DrawBitmap b;
    b.bitmap = checker();
    b.matrix = {5, 0, 0, 5, 10, 10};
    QImage img = renderList(listOf({b}), 30, 30, Quality::Low);
    EXPECT_COLOR_NEAR(at(img, 12, 12), kRed, 0);
    EXPECT_COLOR_NEAR(at(img, 17, 17), kWhite, 0);
    EXPECT_COLOR_NEAR(at(img, 5, 5), kWhite, 0);
}

TEST(Backend, DrawBitmapWithAlphaTransform) {
    DrawBitmap b;
    b.image = QImage(4, 4, QImage::Format_ARGB32_Premultiplied);
    b.image.fill(Qt::black);
    b.colorTransform.aMult = 0.5;
    QImage img = renderList(listOf({b}), 4, 4);
    EXPECT_COLOR_NEAR(at(img, 2, 2), (Rgba{128, 128, 128, 255}), 2);
}

TEST(Backend, DrawRectFillsAndBordersOnWholePixels) {
    DrawRect r;
    r.rect = Rect{40, 400, 40, 400}; // 2..20 px
    r.fill = kGreen;
    r.line = kBlack;
    r.matrix = pixels();
    QImage img = renderList(listOf({r}), 24, 24);
    EXPECT_COLOR_NEAR(at(img, 2, 10), kBlack, 0);
    EXPECT_COLOR_NEAR(at(img, 10, 2), kBlack, 0);
    EXPECT_COLOR_NEAR(at(img, 3, 10), kGreen, 0);
    EXPECT_COLOR_NEAR(at(img, 1, 10), kWhite, 0);
}

// A box's origin rounds to the nearest pixel; its own edges (the border's
// right and bottom lines sit on the pixel just inside them) drop to the
// pixel they fall in.
TEST(Backend, DrawRectBordersSnapOriginByRoundingAndEdgesByFlooring) {
    struct Case {
        double tx, ty;        // device origin
        Rect box;             // twips
        QRect lines;          // left, top, right and bottom line positions
    } cases[] = {
        {0, 0, Rect{40, 400, 40, 400}, QRect(QPoint(2, 2), QPoint(19, 19))},
        {5.5, 3.4, Rect{0, 200, 0, 200}, QRect(QPoint(6, 3), QPoint(15, 12))},    // origin rounds
        {4.1, 4, Rect{-40, 334, -40, 314}, QRect(QPoint(2, 2), QPoint(19, 18))}, // 16.7 and 15.7 px drop
        {3.4, 3.6, Rect{10, 210, 30, 230}, QRect(QPoint(3, 5), QPoint(12, 14))}, // half pixels drop too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tx << "," << c.ty);
        EXPECT_EQ(pixelBox(c.box, QTransform(0.05, 0, 0, 0.05, c.tx, c.ty)), c.lines);
        DrawRect r;
        r.rect = c.box;
        r.line = kBlack;
        r.matrix = pixels(c.tx, c.ty);
        QImage img = renderList(listOf({r}), 24, 24);
        const QRect& l = c.lines;
        const int midX = (l.left() + l.right()) / 2, midY = (l.top() + l.bottom()) / 2;
        EXPECT_COLOR_NEAR(at(img, l.left(), midY), kBlack, 0);
        EXPECT_COLOR_NEAR(at(img, l.right(), midY), kBlack, 0);
        EXPECT_COLOR_NEAR(at(img, midX, l.top()), kBlack, 0);
        EXPECT_COLOR_NEAR(at(img, midX, l.bottom()), kBlack, 0);
        EXPECT_COLOR_NEAR(at(img, l.right() + 1, midY), kWhite, 0);
        EXPECT_COLOR_NEAR(at(img, midX, l.bottom() + 1), kWhite, 0);
        EXPECT_COLOR_NEAR(at(img, l.left() - 1, midY), kWhite, 0);
        EXPECT_COLOR_NEAR(at(img, midX, l.top() - 1), kWhite, 0);
    }
}

TEST(Backend, GlyphsAreScaledFromTheEmSquare) {
    auto font = std::make_shared<FontDef>();
    font->emSquare = 1024;
    Glyph g;
    ShapeLayer layer;
    layer.fillStyles.push_back(solid(kBlack));
    layer.fills.push_back({0, rectEdges(0, -1024, 1024, 0)});
    g.shape.layers.push_back(layer);
    font->glyphs.push_back(g);
    DrawGlyphs t;
    t.font = font;
    t.glyphs = {{0, Point{100, 300}}, {5, Point{0, 0}}}; // the second index is out of range
    t.height = 200;
    t.color = kBlue;
    t.matrix = pixels();
    QImage img = renderList(listOf({t}), 24, 24);
    EXPECT_COLOR_NEAR(at(img, 10, 10), kBlue, 0);
    EXPECT_COLOR_NEAR(at(img, 16, 10), kWhite, 0);
    EXPECT_COLOR_NEAR(at(img, 10, 16), kWhite, 0);
}

TEST(Backend, AdjacentFillsLeaveNoSeam) {
    // Red and blue meet at x = 10.5 px over a white background: the pixel
    // column they share must not let the white (its green) show through.
    auto s = std::make_shared<ShapeDef>();
    s->bounds = Rect{0, 400, 0, 400};
    ShapeLayer layer;
    layer.fillStyles = {solid(kRed), solid(kBlue)};
    layer.fills.push_back({0, rectEdges(0, 0, 210, 400)});
    auto right = rectEdges(210, 0, 400, 400);
    layer.fills.push_back({1, right});
    s->layers.push_back(layer);
    QImage img = renderList(listOf({drawShape(s)}), 20, 20);
    Rgba seam = at(img, 10, 10);
    EXPECT_LE(seam.g, 8) << seam;
    EXPECT_GT(seam.r, 60);
    EXPECT_GT(seam.b, 60);
}

TEST(Backend, QualityLowDrawsWithoutAntialiasing) {
    // A rectangle edge at half a pixel: antialiased it blends, at low it does not.
    auto s = rectShape(0, 0, 10.5, 10, solid(kBlack));
    QImage high = renderList(listOf({drawShape(s)}), 20, 20, Quality::High);
    QImage low = renderList(listOf({drawShape(s)}), 20, 20, Quality::Low);
    EXPECT_GT(at(high, 10, 5).r, 60);
    EXPECT_LT(at(high, 10, 5).r, 200);
    int v = at(low, 10, 5).r;
    EXPECT_TRUE(v == 0 || v == 255) << v;
}

// ---- Masks -------------------------------------------------------------------

TEST(Masks, ContentShowsOnlyInsideTheMask) {
    // The mask's own colour and alpha do not matter, only its shape.
    auto list = listOf({PushMask{}, drawShape(rectShape(0, 0, 20, 40, solid(Rgba{0, 0, 0, 0}))), ActivateMask{},
                        drawShape(rectShape(0, 0, 40, 40, solid(kBlue))), PopMask{},
                        drawShape(rectShape(30, 30, 40, 40, solid(kRed)))});
    QImage img = renderList(list, 40, 40);
    EXPECT_COLOR_NEAR(at(img, 10, 10), kBlue, 0);
    EXPECT_COLOR_NEAR(at(img, 30, 10), kWhite, 0);
    EXPECT_COLOR_NEAR(at(img, 35, 35), kRed, 0); // after PopMask nothing is masked
}

TEST(Masks, NestedMasksIntersect) {
    auto list = listOf({PushMask{}, drawShape(rectShape(0, 0, 20, 40, solid(kBlack))), ActivateMask{},
                        PushMask{}, drawShape(rectShape(10, 0, 40, 40, solid(kBlack))), ActivateMask{},
                        drawShape(rectShape(0, 0, 40, 40, solid(kBlue))), PopMask{}, PopMask{}});
    QImage img = renderList(list, 40, 40);
    EXPECT_COLOR_NEAR(at(img, 5, 10), kWhite, 0);
    EXPECT_COLOR_NEAR(at(img, 15, 10), kBlue, 0);
    EXPECT_COLOR_NEAR(at(img, 30, 10), kWhite, 0);
}

TEST(Masks, MaskOffTargetHidesItsContent) {
    auto list = listOf({PushMask{}, drawShape(rectShape(100, 100, 120, 120, solid(kBlack))), ActivateMask{},
                        drawShape(rectShape(0, 0, 40, 40, solid(kBlue))), PopMask{},
                        drawShape(rectShape(0, 0, 5, 5, solid(kRed)))});
    QImage img = renderList(list, 40, 40);
    EXPECT_COLOR_NEAR(at(img, 20, 20), kWhite, 0);
    EXPECT_COLOR_NEAR(at(img, 2, 2), kRed, 0);
}

TEST(Masks, UnbalancedListsDrawWithoutCrashing) {
    auto list = listOf({PopMask{}, EndLayer{}, ActivateMask{}, PushMask{},
                        drawShape(rectShape(0, 0, 20, 20, solid(kBlack))), ActivateMask{},
                        drawShape(rectShape(0, 0, 40, 40, solid(kBlue))), BeginLayer{}});
    QImage img = renderList(list, 40, 40);
    EXPECT_COLOR_NEAR(at(img, 10, 10), kBlue, 0);
    EXPECT_COLOR_NEAR(at(img, 30, 30), kWhite, 0);
}

TEST(Masks, VeryDeepNestingStaysBounded) {
    // 200 nested masks and layers: drawing finishes, with the outer ones applied.
    std::vector<Command> cmds;
    for (int i = 0; i < 100; ++i) {
        cmds.push_back(PushMask{});
        cmds.push_back(drawShape(rectShape(0, 0, 20, 40, solid(kBlack))));
        cmds.push_back(ActivateMask{});
        BeginLayer layer;
        layer.blendMode = BlendMode::Layer;
        cmds.push_back(layer);
    }
    cmds.push_back(drawShape(rectShape(0, 0, 40, 40, solid(kBlue))));
    for (int i = 0; i < 100; ++i) {
        cmds.push_back(EndLayer{});
        cmds.push_back(PopMask{});
    }
    QImage img = renderList(listOf(cmds), 40, 40);
    EXPECT_COLOR_NEAR(at(img, 30, 10), kWhite, 0);
}

// ---- Blend modes -----------------------------------------------------------------

struct BlendCase {
    BlendMode mode;
    Rgba expected; // red drawn over grey 128
};
class BlendModes : public ::testing::TestWithParam<BlendCase> {};
TEST_P(BlendModes, CombineLayerWithWhatIsBelow) {
    BeginLayer layer;
    layer.blendMode = GetParam().mode;
    auto list = listOf({layer, drawShape(rectShape(0, 0, 10, 10, solid(kRed))), EndLayer{}},
                       Rgba{128, 128, 128, 255});
    QImage img = renderList(list, 20, 10);
    EXPECT_COLOR_NEAR(at(img, 5, 5), GetParam().expected, 3);
    EXPECT_COLOR_NEAR(at(img, 15, 5), (Rgba{128, 128, 128, 255}), 0);
}
INSTANTIATE_TEST_SUITE_P(
    Modes, BlendModes,
    ::testing::Values(BlendCase{BlendMode::Normal, kRed}, BlendCase{BlendMode::Layer, kRed},
                      BlendCase{BlendMode::Multiply, {128, 0, 0, 255}},
                      BlendCase{BlendMode::Screen, {255, 128, 128, 255}},
                      BlendCase{BlendMode::Lighten, {255, 128, 128, 255}},
                      BlendCase{BlendMode::Darken, {128, 0, 0, 255}},
                      BlendCase{BlendMode::Difference, {127, 128, 128, 255}},
                      BlendCase{BlendMode::Add, {255, 128, 128, 255}},
                      BlendCase{BlendMode::Subtract, {0, 128, 128, 255}},
                      BlendCase{BlendMode::Invert, {127, 127, 127, 255}},
                      BlendCase{BlendMode::Overlay, {255, 1, 1, 255}},
                      BlendCase{BlendMode::Hardlight, {255, 0, 0, 255}},
                      // Alpha and erase need a layer below them; on the stage they draw nothing.
                      BlendCase{BlendMode::Alpha, {128, 128, 128, 255}},
                      BlendCase{BlendMode::Erase, {128, 128, 128, 255}}));

struct ParentCase {
    BlendMode mode;
    Rgba left, right; // inside / outside the child
};
class BlendWithLayerParent : public ::testing::TestWithParam<ParentCase> {};
TEST_P(BlendWithLayerParent, ChangesTheParentsAlpha) {
    BeginLayer parent;
    parent.blendMode = BlendMode::Layer;
    BeginLayer child;
    child.blendMode = GetParam().mode;
    auto list = listOf({parent, drawShape(rectShape(0, 0, 40, 10, solid(kGreen))), child,
                        drawShape(rectShape(0, 0, 20, 10, solid(kRed))), EndLayer{}, EndLayer{}});
    QImage img = renderList(list, 40, 10);
    EXPECT_COLOR_NEAR(at(img, 10, 5), GetParam().left, 0);
    EXPECT_COLOR_NEAR(at(img, 30, 5), GetParam().right, 0);
}
INSTANTIATE_TEST_SUITE_P(Modes, BlendWithLayerParent,
                         ::testing::Values(ParentCase{BlendMode::Erase, kWhite, kGreen},
                                           ParentCase{BlendMode::Invert, {255, 0, 255, 255}, kGreen},
                                           ParentCase{BlendMode::Subtract, {0, 255, 0, 255}, kGreen},
                                           ParentCase{BlendMode::Multiply, {0, 0, 0, 255}, kGreen},
                                           ParentCase{BlendMode::Alpha, kGreen, kWhite}));

TEST(BlendModes, InvertOverNothingGivesWhite) {
    BeginLayer parent;
    parent.blendMode = BlendMode::Layer;
    BeginLayer child;
    child.blendMode = BlendMode::Invert;
    auto list = listOf({parent, drawShape(rectShape(20, 0, 40, 10, solid(kGreen))), child,
                        drawShape(rectShape(0, 0, 30, 10, solid(kRed))), EndLayer{}, EndLayer{}},
                       kBlack);
    QImage img = renderList(list, 40, 10);
    EXPECT_COLOR_NEAR(at(img, 10, 5), kWhite, 1);
    EXPECT_COLOR_NEAR(at(img, 25, 5), (Rgba{255, 0, 255, 255}), 1);
    EXPECT_COLOR_NEAR(at(img, 35, 5), kGreen, 0);
}

// ---- Filters ---------------------------------------------------------------------

void putFixed(std::vector<uint8_t>& b, double v) {
    int32_t f = int32_t(v * 65536);
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(uint32_t(f) >> (8 * i)));
}
void putFixed8(std::vector<uint8_t>& b, double v) {
    int16_t f = int16_t(v * 256);
    b.push_back(uint8_t(f));
    b.push_back(uint8_t(uint16_t(f) >> 8));
}
void putFloat(std::vector<uint8_t>& b, float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(u >> (8 * i)));
}

std::vector<uint8_t> blurBytes(double bx, double by, int passes) {
    std::vector<uint8_t> b{1, 1};
    putFixed(b, bx);
    putFixed(b, by);
    b.push_back(uint8_t(passes << 3));
    return b;
}

std::vector<uint8_t> dropShadowBytes(Rgba c, double blur, double angle, double distance, bool inner, bool knockout) {
    std::vector<uint8_t> b{1, 0, c.r, c.g, c.b, c.a};
    putFixed(b, blur);
    putFixed(b, blur);
    putFixed(b, angle);
    putFixed(b, distance);
    putFixed8(b, 1);
    b.push_back(uint8_t((inner ? 0x80 : 0) | (knockout ? 0x40 : 0) | 0x20 | 1));
    return b;
}

TEST(Filters, ParsesBlurAndDropShadow) {
    auto blur = parseFilters(blurBytes(4, 2.5, 3));
    ASSERT_EQ(blur.size(), 1u);
    EXPECT_EQ(blur[0].kind, FilterKind::Blur);
    EXPECT_DOUBLE_EQ(blur[0].blurX, 4);
    EXPECT_DOUBLE_EQ(blur[0].blurY, 2.5);
    EXPECT_EQ(blur[0].passes, 3);
    auto shadow = parseFilters(dropShadowBytes(kRed, 6, 0.5, 7, true, false));
    ASSERT_EQ(shadow.size(), 1u);
    EXPECT_EQ(shadow[0].kind, FilterKind::DropShadow);
    EXPECT_EQ(shadow[0].color, kRed);
    EXPECT_DOUBLE_EQ(shadow[0].distance, 7);
    EXPECT_DOUBLE_EQ(shadow[0].strength, 1);
    EXPECT_TRUE(shadow[0].inner);
    EXPECT_FALSE(shadow[0].knockout);
    EXPECT_EQ(shadow[0].passes, 1);
}

TEST(Filters, TruncatedListsKeepWhatWasRead) {
    auto bytes = blurBytes(4, 4, 1);
    bytes[0] = 2; // claims two filters, holds one
    EXPECT_EQ(parseFilters(bytes).size(), 1u);
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_LE(parseFilters(std::span(bytes.data(), n)).size(), 1u);
    EXPECT_TRUE(parseFilters(std::vector<uint8_t>{1, 42}).empty()); // unknown filter id
}

CommandList filtered(std::vector<uint8_t> filterBytes, std::shared_ptr<ShapeDef> shape) {
    BeginLayer layer;
    layer.filterBytes = std::move(filterBytes);
    layer.filterMatrix = pixels();
    return listOf({layer, drawShape(shape), EndLayer{}});
}

TEST(Filters, BlurSpreadsTheEdges) {
    QImage img = renderList(filtered(blurBytes(8, 8, 1), rectShape(20, 20, 30, 30, solid(kBlack))), 50, 50);
    EXPECT_LT(at(img, 25, 25).r, 30);
    int edge = at(img, 18, 25).r;
    EXPECT_GT(edge, 100);
    EXPECT_LT(edge, 240);
    EXPECT_COLOR_NEAR(at(img, 10, 25), kWhite, 0);
}

// A blur of one pixel or less leaves the image as it is; anything more
// reaches past the edge.
TEST(Filters, BlursOfOnePixelOrLessCopyTheImage) {
    const struct { double blur; bool spreads; } cases[] = {{0, false}, {0.5, false}, {1, false}, {1.5, true}, {2, true}, {4, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.blur);
        const QMargins extent = filterExtent(parseFilters(blurBytes(c.blur, c.blur, 1)), 1, 1);
        EXPECT_EQ(extent == filterExtent(parseFilters(blurBytes(0, 0, 1)), 1, 1), !c.spreads);
        QImage img = renderList(filtered(blurBytes(c.blur, c.blur, 1), rectShape(20, 20, 30, 30, solid(kBlack))), 50, 50);
        EXPECT_EQ(at(img, 19, 25).r < 255, c.spreads);
        EXPECT_EQ(at(img, 20, 25).r == 0, !c.spreads);
        EXPECT_COLOR_NEAR(at(img, 25, 25), kBlack, 0);
    }
}

TEST(Filters, DropShadowFallsAtItsDistance) {
    QImage img = renderList(filtered(dropShadowBytes(kBlack, 0, 0, 10, false, false),
                                 rectShape(10, 10, 20, 20, solid(kRed))),
                        40, 30);
    EXPECT_COLOR_NEAR(at(img, 15, 15), kRed, 0);
    EXPECT_COLOR_NEAR(at(img, 25, 15), kBlack, 0);
    EXPECT_COLOR_NEAR(at(img, 35, 15), kWhite, 0);
    EXPECT_COLOR_NEAR(at(img, 15, 25), kWhite, 0);
}

TEST(Filters, KnockoutShadowHidesTheObject) {
    QImage img = renderList(filtered(dropShadowBytes(kBlack, 0, 0, 5, false, true),
                                 rectShape(10, 10, 20, 20, solid(kRed))),
                        40, 30);
    EXPECT_COLOR_NEAR(at(img, 12, 15), kWhite, 0);
    EXPECT_COLOR_NEAR(at(img, 22, 15), kBlack, 0);
}

TEST(Filters, GlowSurroundsTheObject) {
    std::vector<uint8_t> b{1, 2, 255, 0, 0, 255};
    putFixed(b, 6);
    putFixed(b, 6);
    putFixed8(b, 2);
    b.push_back(0x20 | 1);
    QImage img = renderList(filtered(b, rectShape(15, 15, 25, 25, solid(kBlue))), 40, 40);
    EXPECT_COLOR_NEAR(at(img, 20, 20), kBlue, 0);
    Rgba outside = at(img, 13, 20);
    EXPECT_EQ(outside.r, 255);
    EXPECT_LT(outside.g, 200);
    EXPECT_COLOR_NEAR(at(img, 2, 2), kWhite, 0);
}

TEST(Filters, ColourMatrixSwapsChannels) {
    std::vector<uint8_t> b{1, 6};
    const float m[20] = {0, 1, 0, 0, 0, /**/ 1, 0, 0, 0, 0, /**/ 0, 0, 1, 0, 0, /**/ 0, 0, 0, 1, 0};
    for (float v : m) putFloat(b, v);
    QImage img = renderList(filtered(b, rectShape(0, 0, 10, 10, solid(kRed))), 20, 10);
    EXPECT_COLOR_NEAR(at(img, 5, 5), kGreen, 0);
    EXPECT_COLOR_NEAR(at(img, 15, 5), kWhite, 0);
}

TEST(Filters, ConvolutionAppliesItsKernel) {
    // A 1x1 kernel of 0.5 with divisor 1 halves every channel, alpha kept.
    std::vector<uint8_t> b{1, 5, 1, 1};
    putFloat(b, 1);
    putFloat(b, 0);
    putFloat(b, 0.5f);
    b.insert(b.end(), {0, 0, 0, 0, 0x03});
    QImage img = renderList(filtered(b, rectShape(0, 0, 10, 10, solid(kWhite))), 10, 10, Quality::High);
    EXPECT_COLOR_NEAR(at(img, 5, 5), (Rgba{128, 128, 128, 255}), 1);
}

// ---- Redrawing only what changed ------------------------------------------------

TEST(Dirty, SameFrameNeedsNoDrawing) {
    auto s = rectShape(0, 0, 10, 10, solid(kRed));
    auto a = listOf({drawShape(s)}), b = listOf({drawShape(s)});
    EXPECT_TRUE(dirtyRect(a, b, QRect(0, 0, 100, 100)).isEmpty());
}

TEST(Dirty, MovedShapeCoversOldAndNewPlace) {
    auto s = rectShape(0, 0, 10, 10, solid(kRed));
    auto other = rectShape(80, 80, 90, 90, solid(kBlue));
    auto a = listOf({drawShape(other), drawShape(s)});
    auto b = listOf({drawShape(other), drawShape(s, pixels(30, 0))});
    QRect d = dirtyRect(a, b, QRect(0, 0, 100, 100));
    EXPECT_TRUE(d.contains(QRect(0, 0, 10, 10)));
    EXPECT_TRUE(d.contains(QRect(30, 0, 10, 10)));
    EXPECT_FALSE(d.intersects(QRect(80, 80, 10, 10)));
}

TEST(Dirty, RestackingAndBackgroundAreSeen) {
    auto s = rectShape(0, 0, 10, 10, solid(kRed)), t = rectShape(5, 5, 15, 15, solid(kBlue));
    auto a = listOf({drawShape(s), drawShape(t)}), b = listOf({drawShape(t), drawShape(s)});
    EXPECT_TRUE(dirtyRect(a, b, QRect(0, 0, 100, 100)).contains(QRect(5, 5, 5, 5)));
    auto c = listOf({drawShape(s)}, kBlack);
    EXPECT_EQ(dirtyRect(listOf({drawShape(s)}), c, QRect(0, 0, 100, 100)), QRect(0, 0, 100, 100));
}

TEST(Dirty, ClippedRedrawLeavesTheRestAlone) {
    auto s = rectShape(0, 0, 40, 40, solid(kRed));
    QImage img(40, 40, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::green);
    QPainterBackend backend;
    backend.draw(listOf({drawShape(s)}), img, Quality::High, QRect(0, 0, 10, 10));
    EXPECT_COLOR_NEAR(at(img, 5, 5), kRed, 0);
    EXPECT_COLOR_NEAR(at(img, 20, 20), kGreen, 0);
}

TEST(Cache, ReusedShapeAddressIsNotConfused) {
    // A shape freed and another built at the same address must not reuse the old paths.
    QPainterBackend backend;
    QImage img(20, 20, QImage::Format_ARGB32_Premultiplied);
    for (int round = 0; round < 3; ++round) {
        double x1 = round == 1 ? 5 : 15;
        auto s = rectShape(0, 0, x1, 10, solid(kRed));
        backend.draw(listOf({drawShape(s)}), img, Quality::High);
        EXPECT_COLOR_NEAR(at(img, 10, 5), round == 1 ? kWhite : kRed, 0) << round;
    }
}

TEST(Cache, MovingShapeLooksTheSameFromItsCachedPicture) {
    // Frame 1 draws directly; later frames with the same size and colours
    // blit a cached picture at whole pixels: it must match the direct drawing.
    auto s = std::make_shared<ShapeDef>(*rectShape(0, 0, 12, 8, linearGradient(SpreadMode::Reflect)));
    s->layers[0].lineStyles.push_back(lineStyle(40));
    s->layers[0].lines.push_back({0, rectEdges(0, 0, 240, 160)});
    QPainterBackend backend;
    QImage cached(60, 40, QImage::Format_ARGB32_Premultiplied);
    for (int frame = 0; frame < 4; ++frame)
        backend.draw(listOf({drawShape(s, pixels(10 + frame, 10))}), cached, Quality::High);
    QImage direct(60, 40, QImage::Format_ARGB32_Premultiplied);
    QPainterBackend().draw(listOf({drawShape(s, pixels(13, 10))}), direct, Quality::High);
    int worst = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) worst = std::max(worst, diff(at(cached, x, y), at(direct, x, y)));
    EXPECT_LE(worst, 2);
    EXPECT_COLOR_NEAR(at(cached, 16, 14), at(direct, 16, 14), 0);
}

TEST(Cache, ThickStrokesBeyondDeclaredBoundsAreKept) {
    // Shapes drawn by scripts declare only their edges' bounds; a 10 px stroke
    // reaches 5 px past them, in direct, culled and cached drawing alike.
    auto s = lineShape({{10, 20.5}, {30, 20.5}}, lineStyle(200, CapStyle::None));
    s->bounds = Rect{200, 600, 405, 415};
    s->edgeBounds = s->bounds;
    QPainterBackend backend;
    QImage img(40, 40, QImage::Format_ARGB32_Premultiplied);
    for (int frame = 0; frame < 3; ++frame) {
        backend.draw(listOf({drawShape(s)}), img, Quality::High, frame == 2 ? QRect(0, 0, 40, 17) : QRect());
        EXPECT_COLOR_NEAR(at(img, 20, 16), kBlack, 0) << frame;
        EXPECT_COLOR_NEAR(at(img, 20, 24), kBlack, 0) << frame;
    }
}

TEST(Cache, ChangedColourTransformIsNotServedFromTheCache) {
    auto s = rectShape(0, 0, 10, 10, solid(kRed));
    QPainterBackend backend;
    QImage img(20, 20, QImage::Format_ARGB32_Premultiplied);
    for (int frame = 0; frame < 3; ++frame) backend.draw(listOf({drawShape(s)}), img, Quality::High);
    ColorTransform toBlue{0, 0, 0, 1, 0, 0, 255, 0};
    backend.draw(listOf({drawShape(s, pixels(), toBlue)}), img, Quality::High);
    EXPECT_COLOR_NEAR(at(img, 5, 5), kBlue, 0);
}

} // namespace
