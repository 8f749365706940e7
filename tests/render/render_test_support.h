#pragma once
// Small builders for render tests: shapes drawn by hand, images and pixel checks.
#include "engine/render/commands.h"
#include "engine/render/backend.h"
#include "engine/render/qpainter_backend.h"

#include <QGuiApplication>
#include <QImage>

#include <memory>

namespace swf::render::test {

// Fonts and device text need a QGuiApplication; tests share one.
inline void ensureApp() {
    static int argc = 1;
    static char name[] = "render_tests";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QGuiApplication> app =
        QGuiApplication::instance() ? nullptr : std::make_unique<QGuiApplication>(argc, argv);
}

inline Edge line(Point a, Point b) { return {a, {(a.x + b.x) / 2, (a.y + b.y) / 2}, b, false}; }

// Edges of a closed rectangle in twips.
inline std::vector<Edge> rectEdges(double x0, double y0, double x1, double y1) {
    return {line({x0, y0}, {x1, y0}), line({x1, y0}, {x1, y1}), line({x1, y1}, {x0, y1}),
            line({x0, y1}, {x0, y0})};
}

inline FillStyle solid(Rgba c) {
    FillStyle f;
    f.type = FillType::Solid;
    f.color = c;
    return f;
}

// A rectangle (pixels) filled with one style.
inline std::shared_ptr<ShapeDef> rectShape(double x0, double y0, double x1, double y1, const FillStyle& fill) {
    auto s = std::make_shared<ShapeDef>();
    s->bounds = Rect{int32_t(x0 * 20), int32_t(x1 * 20), int32_t(y0 * 20), int32_t(y1 * 20)};
    s->edgeBounds = s->bounds;
    ShapeLayer layer;
    layer.fillStyles.push_back(fill);
    layer.fills.push_back({0, rectEdges(x0 * 20, y0 * 20, x1 * 20, y1 * 20)});
    s->layers.push_back(std::move(layer));
    return s;
}

// An open polyline (pixels) stroked with one style.
inline std::shared_ptr<ShapeDef> lineShape(std::vector<Point> pts, const LineStyle& style) {
    auto s = std::make_shared<ShapeDef>();
    ShapeLayer layer;
    layer.lineStyles.push_back(style);
    StyledPath path{0, {}};
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (size_t i = 0; i + 1 < pts.size(); ++i)
        path.edges.push_back(line({pts[i].x * 20, pts[i].y * 20}, {pts[i + 1].x * 20, pts[i + 1].y * 20}));
    for (auto p : pts) {
        x0 = std::min(x0, p.x); y0 = std::min(y0, p.y); x1 = std::max(x1, p.x); y1 = std::max(y1, p.y);
    }
    double w = style.width / 20.0 + 1;
    s->bounds = Rect{int32_t((x0 - w) * 20), int32_t((x1 + w) * 20), int32_t((y0 - w) * 20), int32_t((y1 + w) * 20)};
    layer.lines.push_back(std::move(path));
    s->layers.push_back(std::move(layer));
    return s;
}

// Twips to pixels, as the runtime folds the stage transform into matrices.
inline Matrix pixels(double tx = 0, double ty = 0) { return {0.05, 0, 0, 0.05, tx, ty}; }

inline DrawShape drawShape(std::shared_ptr<const ShapeDef> s, Matrix m = pixels(), ColorTransform cx = {}) {
    return DrawShape{std::move(s), m, cx, {}};
}

// The backend the pixel checks run against: the render tests are built once
// for each (SWIFTREEL_TEST_BACKEND names it).
#ifndef SWIFTREEL_TEST_BACKEND
#define SWIFTREEL_TEST_BACKEND QPainter
#endif
inline constexpr BackendKind kTestBackend = BackendKind::SWIFTREEL_TEST_BACKEND;

inline QImage renderList(const CommandList& list, int w, int h, Quality q = Quality::High) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::magenta);
    makeBackend(kTestBackend)->draw(list, img, q);
    return img;
}

inline Rgba at(const QImage& img, int x, int y) {
    QRgb p = qUnpremultiply(img.pixel(x, y));
    return {uint8_t(qRed(p)), uint8_t(qGreen(p)), uint8_t(qBlue(p)), uint8_t(qAlpha(p))};
}

// Largest channel difference between two colours.
inline int diff(Rgba a, Rgba b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b), std::abs(a.a - b.a)});
}

} // namespace swf::render::test

namespace swf {
inline std::ostream& operator<<(std::ostream& os, const Rgba& c) {
    return os << "rgba(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << "," << int(c.a) << ")";
}
} // namespace swf

#define EXPECT_COLOR_NEAR(actual, expected, tol) \
    EXPECT_LE(::swf::render::test::diff((actual), (expected)), (tol)) << (actual) << " vs " << (expected)
