// Shapes: styles of every kind, records into closed contours and strokes,
// style layers, and morph shapes by ratio.
#include "tests/engine/test_util.h"

#include "engine/swf/shape.h"

namespace swf::test {
namespace {

std::vector<std::pair<Point, Point>> ends(const std::vector<Edge>& edges) {
    std::vector<std::pair<Point, Point>> out;
    for (const auto& e : edges) out.push_back({e.from, e.to});
    return out;
}

using Seg = std::pair<Point, Point>;

TEST(Shape, Fill0AndFill1SidesChainIntoOneClosedContour) {
    ShapeBuilder s;
    uint32_t red = s.addSolidFill({255, 0, 0, 255});
    s.moveTo(0, 0).fill1(red).lineTo(100, 0);
    s.moveTo(100, 100).fill1(0).fill0(red).lineTo(100, 0); // drawn backwards: fill on the other side
    s.moveTo(100, 100).fill0(0).fill1(red).lineTo(0, 100).lineTo(0, 0);
    SwfWriter w;
    w.defineShape(1, s, 1).showFrame();
    auto shape = parseCharacter<ShapeDef>(w, 1);
    ASSERT_TRUE(shape);
    ASSERT_EQ(shape->layers.size(), 1u);
    const ShapeLayer& layer = shape->layers[0];
    ASSERT_EQ(layer.fills.size(), 1u);
    EXPECT_EQ(layer.fills[0].style, 0u);
    EXPECT_EQ(ends(layer.fills[0].edges),
              (std::vector<Seg>{{{0, 0}, {100, 0}}, {{100, 0}, {100, 100}}, {{100, 100}, {0, 100}}, {{0, 100}, {0, 0}}}));
    EXPECT_EQ(layer.fillStyles[0].color, (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(shape->bounds, (Rect{0, 100, 0, 100}));
}

TEST(Shape, SharedEdgeBelongsToBothFillsInOppositeDirections) {
    ShapeBuilder s;
    uint32_t a = s.addSolidFill({255, 0, 0, 255}), b = s.addSolidFill({0, 0, 255, 255});
    // Two squares side by side sharing the edge x = 100.
    s.moveTo(0, 0).fill1(a).lineTo(100, 0);
    s.fill0(b).fill1(a).lineTo(100, 100); // shared edge: a on one side, b on the other
    s.fill0(0).fill1(a).lineTo(0, 100).lineTo(0, 0);
    s.moveTo(100, 0).fill1(b).fill0(0).lineTo(200, 0).lineTo(200, 100).lineTo(100, 100);
    SwfWriter w;
    w.defineShape(1, s, 2).showFrame();
    auto shape = parseCharacter<ShapeDef>(w, 1);
    ASSERT_TRUE(shape);
    const auto& fills = shape->layers[0].fills;
    ASSERT_EQ(fills.size(), 2u);
    EXPECT_EQ(fills[0].edges.size(), 4u);
    EXPECT_EQ(fills[1].edges.size(), 4u);
    // Each contour closes on itself.
    for (const auto& path : fills) {
        for (size_t i = 1; i < path.edges.size(); ++i) EXPECT_EQ(path.edges[i].from, path.edges[i - 1].to);
        EXPECT_EQ(path.edges.back().to, path.edges.front().from);
    }
}

TEST(Shape, LinesKeepDrawingOrderPerStyleAndCurvesKeepControls) {
    ShapeBuilder s;
    uint32_t thin = s.addLine(20, {0, 0, 0, 255}), thick = s.addLine(100, {0, 255, 0, 128});
    s.moveTo(0, 0).line(thin).lineTo(50, 0).curveTo(75, 25, 50, 50);
    s.line(thick).lineTo(0, 50);
    s.moveTo(200, 200).line(thin).lineTo(300, 200);
    SwfWriter w;
    w.defineShape(1, s, 3).showFrame();
    auto shape = parseCharacter<ShapeDef>(w, 1);
    ASSERT_TRUE(shape);
    const auto& layer = shape->layers[0];
    EXPECT_TRUE(layer.fills.empty());
    ASSERT_EQ(layer.lines.size(), 2u);
    EXPECT_EQ(layer.lines[0].style, 0u);
    EXPECT_EQ(ends(layer.lines[0].edges),
              (std::vector<Seg>{{{0, 0}, {50, 0}}, {{50, 0}, {50, 50}}, {{200, 200}, {300, 200}}}));
    EXPECT_TRUE(layer.lines[0].edges[1].curved);
    EXPECT_EQ(layer.lines[0].edges[1].control, (Point{75, 25}));
    EXPECT_FALSE(layer.lines[0].edges[0].curved);
    EXPECT_EQ(layer.lines[0].edges[0].control, (Point{25, 0}));
    EXPECT_EQ(ends(layer.lines[1].edges), (std::vector<Seg>{{{50, 50}, {0, 50}}}));
    EXPECT_EQ(layer.lineStyles[1].width, 100);
    EXPECT_EQ(layer.lineStyles[1].color, (Rgba{0, 255, 0, 128}));
}

TEST(Shape, NewStylesStartANewLayer) {
    ShapeBuilder s;
    s.rect(0, 0, 100, 100, s.addSolidFill({1, 2, 3, 255}));
    s.newStyles();
    uint32_t f = s.addSolidFill({4, 5, 6, 255});
    s.addSolidFill({7, 8, 9, 255});
    s.rect(50, 50, 100, 100, f);
    SwfWriter w;
    w.defineShape(1, s, 2).showFrame();
    auto shape = parseCharacter<ShapeDef>(w, 1);
    ASSERT_TRUE(shape);
    ASSERT_EQ(shape->layers.size(), 2u);
    EXPECT_EQ(shape->layers[0].fillStyles.size(), 1u);
    ASSERT_EQ(shape->layers[1].fillStyles.size(), 2u);
    EXPECT_EQ(shape->layers[1].fillStyles[0].color, (Rgba{4, 5, 6, 255}));
    ASSERT_EQ(shape->layers[1].fills.size(), 1u);
    EXPECT_EQ(shape->layers[1].fills[0].edges.front().from, (Point{50, 50}));
    // DefineShape 1/2 colours are RGB: opaque.
    EXPECT_EQ(shape->layers[0].fillStyles[0].color.a, 255);
}

TEST(Shape, GradientAndBitmapFillsRoundTrip) {
    FillStyle linear;
    linear.type = FillType::LinearGradient;
    linear.gradient.matrix = Matrix{0.5, 0, 0, 0.25, 100, 200};
    linear.gradient.spread = SpreadMode::Reflect;
    linear.gradient.interpolation = Interpolation::LinearRgb;
    linear.gradient.stops = {{0, {255, 0, 0, 255}}, {128, {0, 255, 0, 128}}, {255, {0, 0, 255, 0}}};
    FillStyle focal = linear;
    focal.type = FillType::FocalGradient;
    focal.gradient.spread = SpreadMode::Repeat;
    focal.gradient.interpolation = Interpolation::Rgb;
    focal.gradient.focalPoint = -0.5;
    FillStyle radial = linear;
    radial.type = FillType::RadialGradient;
    std::vector<FillStyle> fills = {linear, focal, radial};
    for (int type = 0; type < 4; ++type) { // 0x40..0x43
        FillStyle b;
        b.type = FillType::Bitmap;
        b.bitmapId = uint16_t(10 + type);
        b.bitmapMatrix = Matrix{20, 0, 0, 20, 0, 0};
        b.bitmapRepeat = (type & 1) == 0;
        b.bitmapSmoothed = (type & 2) == 0;
        fills.push_back(b);
    }
    ShapeBuilder s;
    for (const auto& f : fills) s.addFill(f);
    s.rect(0, 0, 100, 100, 1);
    SwfWriter w;
    w.defineShape(1, s, 4).showFrame();
    auto shape = parseCharacter<ShapeDef>(w, 1);
    ASSERT_TRUE(shape);
    const auto& got = shape->layers[0].fillStyles;
    ASSERT_EQ(got.size(), fills.size());
    for (size_t i = 0; i < fills.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].type, fills[i].type);
        EXPECT_EQ(got[i].gradient.matrix, fills[i].gradient.matrix);
        EXPECT_EQ(got[i].gradient.spread, fills[i].gradient.spread);
        EXPECT_EQ(got[i].gradient.interpolation, fills[i].gradient.interpolation);
        EXPECT_EQ(got[i].gradient.focalPoint, fills[i].gradient.focalPoint);
        ASSERT_EQ(got[i].gradient.stops.size(), fills[i].gradient.stops.size());
        for (size_t k = 0; k < fills[i].gradient.stops.size(); ++k) {
            EXPECT_EQ(got[i].gradient.stops[k].ratio, fills[i].gradient.stops[k].ratio);
            EXPECT_EQ(got[i].gradient.stops[k].color, fills[i].gradient.stops[k].color);
        }
        EXPECT_EQ(got[i].bitmapId, fills[i].bitmapId);
        EXPECT_EQ(got[i].bitmapMatrix, fills[i].bitmapMatrix);
        EXPECT_EQ(got[i].bitmapRepeat, fills[i].bitmapRepeat);
        EXPECT_EQ(got[i].bitmapSmoothed, fills[i].bitmapSmoothed);
    }
}

TEST(Shape, LineStyle2CapsJoinsScalingAndFill) {
    LineStyle a;
    a.width = 60;
    a.startCap = CapStyle::None;
    a.endCap = CapStyle::Square;
    a.join = JoinStyle::Miter;
    a.miterLimit = 2.5;
    a.noHScale = true;
    a.pixelHinting = true;
    a.noClose = true;
    a.color = {10, 20, 30, 40};
    LineStyle b;
    b.width = 80;
    b.join = JoinStyle::Bevel;
    b.noVScale = true;
    FillStyle gf;
    gf.type = FillType::LinearGradient;
    gf.gradient.stops = {{0, {0, 0, 0, 255}}, {255, {255, 255, 255, 255}}};
    b.fill = gf;
    ShapeBuilder s;
    s.addLine(a);
    s.addLine(b);
    s.moveTo(0, 0).line(1).lineTo(100, 0).line(2).lineTo(100, 100);
    SwfWriter w;
    w.defineShape(1, s, 4).showFrame();
    auto shape = parseCharacter<ShapeDef>(w, 1);
    ASSERT_TRUE(shape);
    const auto& l = shape->layers[0].lineStyles;
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].startCap, CapStyle::None);
    EXPECT_EQ(l[0].endCap, CapStyle::Square);
    EXPECT_EQ(l[0].join, JoinStyle::Miter);
    EXPECT_DOUBLE_EQ(l[0].miterLimit, 2.5);
    EXPECT_TRUE(l[0].noHScale);
    EXPECT_FALSE(l[0].noVScale);
    EXPECT_TRUE(l[0].pixelHinting);
    EXPECT_TRUE(l[0].noClose);
    EXPECT_EQ(l[0].color, (Rgba{10, 20, 30, 40}));
    EXPECT_FALSE(l[0].fill);
    EXPECT_EQ(l[1].join, JoinStyle::Bevel);
    EXPECT_TRUE(l[1].noVScale);
    ASSERT_TRUE(l[1].fill);
    EXPECT_EQ(l[1].fill->type, FillType::LinearGradient);
    EXPECT_EQ(l[1].fill->gradient.stops.size(), 2u);
}

TEST(Shape, ManyStylesUseTheExtendedCount) {
    ShapeBuilder s;
    for (int i = 0; i < 300; ++i) s.addSolidFill({uint8_t(i), 0, 0, 255});
    s.rect(0, 0, 10, 10, 300);
    SwfWriter w;
    w.defineShape(1, s, 2).showFrame();
    auto shape = parseCharacter<ShapeDef>(w, 1);
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->layers[0].fillStyles.size(), 300u);
    ASSERT_EQ(shape->layers[0].fills.size(), 1u);
    EXPECT_EQ(shape->layers[0].fills[0].style, 299u);
}

TEST(Shape, StyleIndexBeyondTheArrayDrawsNothing) {
    ShapeBuilder s;
    s.addSolidFill({1, 1, 1, 255});
    s.addSolidFill({2, 2, 2, 255});
    s.rect(0, 0, 10, 10, 3); // style 3 of 2
    SwfWriter w;
    w.defineShape(1, s, 3).showFrame();
    auto shape = parseCharacter<ShapeDef>(w, 1);
    ASSERT_TRUE(shape);
    EXPECT_TRUE(shape->layers[0].fills.empty());
}

struct StopsCase {
    const char* name;
    std::vector<uint8_t> in, out;
};

class GradientStops : public ::testing::TestWithParam<StopsCase> {};

// Ratios that do not increase move just past the previous stop, as the Flash
// player draws them (thin bands rather than lost colours).
TEST_P(GradientStops, RatiosAreMadeStrictlyIncreasing) {
    FillStyle f;
    f.type = FillType::LinearGradient;
    for (size_t i = 0; i < GetParam().in.size(); ++i)
        f.gradient.stops.push_back({GetParam().in[i], Rgba{uint8_t(i), 0, 0, 255}});
    ShapeBuilder s;
    s.rect(0, 0, 10, 10, s.addFill(f));
    SwfWriter w;
    w.defineShape(1, s, 3).showFrame();
    auto shape = parseCharacter<ShapeDef>(w, 1);
    ASSERT_TRUE(shape);
    const auto& stops = shape->layers[0].fillStyles[0].gradient.stops;
    std::vector<uint8_t> ratios;
    for (const auto& st : stops) ratios.push_back(st.ratio);
    EXPECT_EQ(ratios, GetParam().out);
    if (GetParam().in.empty()) {
        EXPECT_EQ(stops[0].color, (Rgba{0, 0, 0, 255})); // an empty gradient draws black
    } else {
        for (size_t i = 0; i < stops.size(); ++i) EXPECT_EQ(stops[i].color.r, i); // order and colours kept
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, GradientStops,
    ::testing::Values(StopsCase{"Increasing", {0, 128, 255}, {0, 128, 255}},
                      StopsCase{"Equal", {100, 100, 100, 100}, {100, 101, 102, 103}},
                      StopsCase{"Decreasing", {254, 0, 0}, {254, 255}},
                      StopsCase{"Empty", {}, {0}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Morph shapes ---------------------------------------------------------------------

Bytes morphBody(uint16_t id) {
    // Start: a 100 twip square; end: 200 twips with the right side bulging.
    ShapeBuilder start, end;
    start.moveTo(0, 0).fill1(1).lineTo(100, 0).lineTo(100, 100).lineTo(0, 100).lineTo(0, 0);
    end.moveTo(0, 0).lineTo(200, 0).curveTo(300, 100, 200, 200).lineTo(0, 200).lineTo(0, 0);
    ByteWriter styles;
    styles.u8(2); // two morph fill styles
    styles.u8(0x00).rgba({255, 0, 0, 255}).rgba({0, 0, 255, 0});
    styles.u8(0x10).matrix(Matrix{1, 0, 0, 1, 0, 0}).matrix(Matrix{2, 0, 0, 2, 100, 0});
    styles.u8(2).u8(0).rgba({0, 0, 0, 255}).u8(100).rgba({0, 0, 0, 255});
    styles.u8(255).rgba({255, 255, 255, 255}).u8(255).rgba({255, 255, 255, 255});
    styles.u8(1).u16(20).u16(60).rgba({0, 0, 0, 255}).rgba({0, 0, 0, 255}); // one line style
    Bytes startEdges = start.shapeRecords(3, false);
    ByteWriter w;
    w.u16(id).rect({0, 100, 0, 100}).rect({0, 300, 0, 200});
    w.u32(uint32_t(styles.size() + startEdges.size()));
    w.bytes(styles.data()).bytes(startEdges).bytes(end.shapeRecords(3, false));
    return w.data();
}

TEST(MorphShape, InterpolatesEdgesStylesAndGradients) {
    SwfWriter w;
    w.tag(tag::DefineMorphShape, morphBody(9)).showFrame();
    auto morph = parseCharacter<MorphShapeDef>(w, 9);
    ASSERT_TRUE(morph);
    ASSERT_EQ(morph->startFills.size(), 2u);
    ASSERT_EQ(morph->startLines.size(), 1u);

    ShapeDef at0 = morphAt(*morph, 0), half = morphAt(*morph, 0.5), at1 = morphAt(*morph, 1);
    const auto& e0 = at0.layers[0].fills[0].edges;
    const auto& eh = half.layers[0].fills[0].edges;
    const auto& e1 = at1.layers[0].fills[0].edges;
    ASSERT_EQ(e0.size(), 4u);
    ASSERT_EQ(eh.size(), 4u);
    ASSERT_EQ(e1.size(), 4u);
    EXPECT_EQ(e0[1].to, (Point{100, 100}));
    EXPECT_EQ(e1[1].to, (Point{200, 200}));
    // The straight start edge pairs with the end curve: a curve at the midpoint.
    EXPECT_TRUE(eh[1].curved);
    EXPECT_EQ(eh[1].from, (Point{150, 0}));
    EXPECT_EQ(eh[1].control, (Point{200, 75}));
    EXPECT_EQ(eh[1].to, (Point{150, 150}));
    EXPECT_EQ(e1[1].control, (Point{300, 100}));

    EXPECT_EQ(at0.layers[0].fillStyles[0].color, (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(half.layers[0].fillStyles[0].color, (Rgba{128, 0, 128, 128}));
    EXPECT_EQ(at1.layers[0].fillStyles[0].color, (Rgba{0, 0, 255, 0}));
    const Gradient& g = half.layers[0].fillStyles[1].gradient;
    EXPECT_EQ(g.matrix, (Matrix{1.5, 0, 0, 1.5, 50, 0}));
    ASSERT_EQ(g.stops.size(), 2u);
    EXPECT_EQ(g.stops[0].ratio, 50);
    EXPECT_EQ(half.layers[0].lineStyles[0].width, 40);
    EXPECT_EQ(half.bounds, (Rect{0, 200, 0, 150}));
}

TEST(MorphShape, Version2LineStylesWithFlagsAndFill) {
    ShapeBuilder start, end;
    start.moveTo(0, 0).line(1).lineTo(100, 0).moveTo(0, 50).line(2).lineTo(100, 50);
    end.moveTo(0, 100).lineTo(100, 100).moveTo(0, 150).lineTo(100, 150);
    ByteWriter styles;
    styles.u8(0); // no fills
    styles.u8(2);
    // Line 1: caps none/square, miter join 3.0, no horizontal scaling, colours.
    styles.u16(20).u16(100).ubits(1, 2).ubits(2, 2).ubits(0, 1).ubits(1, 1).ubits(0, 1).ubits(0, 1).ubits(0, 5);
    styles.ubits(0, 1).ubits(2, 2).fixed8(3.0).rgba({0, 0, 0, 255}).rgba({255, 255, 255, 255});
    // Line 2: filled with a solid morph fill.
    styles.u16(40).u16(40).ubits(0, 2).ubits(0, 2).ubits(1, 1).ubits(0, 3).ubits(0, 5).ubits(0, 1).ubits(0, 2);
    styles.u8(0x00).rgba({255, 0, 0, 255}).rgba({0, 255, 0, 255});
    Bytes startEdges = start.shapeRecords(4, false, 0, 2);
    ByteWriter w;
    w.u16(3).rect({0, 100, 0, 50}).rect({0, 100, 100, 150}).rect({0, 100, 0, 50}).rect({0, 100, 100, 150});
    w.u8(0x01).u32(uint32_t(styles.size() + startEdges.size()));
    w.bytes(styles.data()).bytes(startEdges).bytes(end.shapeRecords(4, false, 0, 0));
    SwfWriter movie;
    movie.tag(tag::DefineMorphShape2, w.data()).showFrame();
    auto morph = parseCharacter<MorphShapeDef>(movie, 3);
    ASSERT_TRUE(morph);
    EXPECT_EQ(morph->version, 2);
    EXPECT_TRUE(morph->scalingStrokes);
    ShapeDef half = morphAt(*morph, 0.5);
    const auto& lines = half.layers[0].lineStyles;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].width, 60);
    EXPECT_EQ(lines[0].startCap, CapStyle::None);
    EXPECT_EQ(lines[0].endCap, CapStyle::Square);
    EXPECT_EQ(lines[0].join, JoinStyle::Miter);
    EXPECT_DOUBLE_EQ(lines[0].miterLimit, 3.0);
    EXPECT_TRUE(lines[0].noHScale);
    EXPECT_EQ(lines[0].color, (Rgba{128, 128, 128, 255}));
    ASSERT_TRUE(lines[1].fill);
    EXPECT_EQ(lines[1].fill->color, (Rgba{128, 128, 0, 255}));
    ASSERT_EQ(half.layers[0].lines.size(), 2u);
    EXPECT_EQ(half.layers[0].lines[0].edges[0].from, (Point{0, 50}));
    EXPECT_EQ(half.layers[0].lines[1].edges[0].to, (Point{100, 100}));
}

TEST(MorphShape, EndOffsetBeyondTheTagIsAnError) {
    Bytes body = morphBody(9);
    // The offset field follows id and two RECTs; find it by rewriting a huge value.
    ByteWriter head;
    head.u16(9).rect({0, 100, 0, 100}).rect({0, 300, 0, 200});
    size_t at = head.size();
    body[at] = 0xff;
    body[at + 1] = 0xff;
    body[at + 2] = 0xff;
    body[at + 3] = 0x7f;
    SwfWriter w;
    w.tag(tag::DefineMorphShape, body).showFrame();
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->get<MorphShapeDef>(9));
    EXPECT_TRUE(hasWarning(*m, ErrorCode::Malformed, tag::DefineMorphShape));
}

} // namespace
} // namespace swf::test
