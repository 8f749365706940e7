#include "engine/render/raster_backend.h"

#include "engine/render/bounds.h"
#include "engine/render/color.h"
#include "engine/render/shape_cache.h"

#include <QThreadPool>

#include <algorithm>
#include <cmath>

namespace swf::render {

namespace {

// Rows below which a frame is not worth cutting into more bands.
constexpr int kMinBandRows = 32;
// Device coordinates are kept within this range before they become floats.
constexpr double kMaxDeviceCoordinate = 1 << 24;

uint32_t premultiplied(Rgba c) { return qPremultiply(qRgba(c.r, c.g, c.b, c.a)); }
constexpr uint32_t kMaskColour = 0xff000000;

Segment segment(const Matrix& m, QPointF p, QPointF q) {
    auto clamp = [](double v) { return float(std::clamp(v, -kMaxDeviceCoordinate, kMaxDeviceCoordinate)); };
    return {clamp(m.a * p.x() + m.c * p.y() + m.tx), clamp(m.b * p.x() + m.d * p.y() + m.ty),
            clamp(m.a * q.x() + m.c * q.y() + m.tx), clamp(m.b * q.x() + m.d * q.y() + m.ty)};
}

// The closed polygons of `c` through `m`, as device lines.
void appendSegments(const Contours& c, const Matrix& m, std::vector<Segment>& out) {
    uint32_t start = 0;
    for (uint32_t end : c.ends) {
        for (uint32_t k = start; k + 1 < end; ++k) out.push_back(segment(m, c.points[k], c.points[k + 1]));
        if (end - start > 2 && c.points[end - 1] != c.points[start])
            out.push_back(segment(m, c.points[end - 1], c.points[start]));
        start = end;
    }
}

FillStyle solid(Rgba colour) {
    FillStyle f;
    f.color = colour;
    return f;
}

Matrix scaled(double k) { return Matrix{k, 0, 0, k, 0, 0}; }
Matrix translated(double x, double y) { return Matrix{1, 0, 0, 1, x, y}; }

// Device width of a stroke `width` twips wide drawn through `m`, as its
// scale mode says; zero-width lines are hairlines.
double strokeWidth(const LineStyle& s, const Matrix& m) {
    if (s.noHScale && s.noVScale) return s.width / 20.0;
    if (s.noHScale) return s.width * std::hypot(m.c, m.d);
    if (s.noVScale) return s.width * std::hypot(m.a, m.b);
    return s.width * std::sqrt(std::abs(m.a * m.d - m.b * m.c));
}

// How a pixel-hinted stroke of `pixels` width sits on the pixel grid: its
// points snap so that both its edges fall between pixels (odd widths on
// pixel centres, even ones on pixel corners).
enum class Snap : uint8_t { None, Centres, Corners };

// The centre lines through `m`, snapped to the grid as asked.
void transformLines(const Polylines& lines, const Matrix& m, Snap snap, Polylines& out) {
    auto snapped = [snap](float v) {
        switch (snap) {
        case Snap::Centres: return std::floor(double(v)) + 0.5;
        case Snap::Corners: return std::round(double(v));
        case Snap::None: break;
        }
        return double(v);
    };
    out.points.clear();
    for (const QPointF& p : lines.points) {
        const Segment d = segment(m, p, p);
        out.points.emplace_back(snapped(d.x0), snapped(d.y0));
    }
    out.ends = lines.ends;
    out.closed = lines.closed;
}

struct Scratch {
    std::vector<std::vector<Segment>> segments;
    std::vector<Paint> paints;
    std::vector<CoverPath> paths;
    Polylines centre;                  // a line in device pixels
    Contours outline;                  // its stroke

    // Room for n paths, emptied.
    void reset(size_t n) {
        outline.points.clear();
        outline.ends.clear();
        if (segments.size() < n) segments.resize(n);
        for (size_t i = 0; i < n; ++i) segments[i].clear();
        paints.assign(n, Paint{});
        paths.clear();
    }
};

Scratch& scratch() {
    static thread_local Scratch s;
    return s;
}

} // namespace

RasterBackend::RasterBackend() = default;
RasterBackend::~RasterBackend() = default;

size_t RasterBackend::TableHash::operator()(const TableKey& k) const {
    size_t h = size_t(k.interpolation);
    for (const GradientStop& s : k.stops)
        h = h * 1099511628211ULL ^ (size_t(s.ratio) << 32 | size_t(s.color.r) << 24 | size_t(s.color.g) << 16 |
                                     size_t(s.color.b) << 8 | s.color.a);
    for (double v : {k.cx.rMult, k.cx.gMult, k.cx.bMult, k.cx.aMult, k.cx.rAdd, k.cx.gAdd, k.cx.bAdd, k.cx.aAdd})
        h = h * 31 ^ std::hash<double>{}(v);
    return h;
}

bool RasterBackend::TableKey::operator==(const TableKey& o) const {
    return interpolation == o.interpolation && cx == o.cx &&
           std::equal(stops.begin(), stops.end(), o.stops.begin(), o.stops.end(),
                      [](const GradientStop& a, const GradientStop& b) {
                          return a.ratio == b.ratio && a.color == b.color;
                      });
}

void RasterBackend::clearCaches() {
    SurfaceBackend::clearCaches();
    m_outlines.clear();
    std::lock_guard lock(m_tablesMutex);
    m_tables.clear();
    m_oldTables.clear();
}

Coverage RasterBackend::coverageOf(Quality quality, bool glyph) {
    switch (quality) {
    case Quality::Low: return {0};
    case Quality::Medium: return {4};
    case Quality::High:
    case Quality::Best: break;
    }
    return {16, glyph};
}

int RasterBackend::bandCount(int height) const {
    if (!threadPool()) return 1;
    return std::clamp(height / kMinBandRows, 1, std::max(1, threadPool()->maxThreadCount()));
}

void RasterBackend::frameDone() {
    if (frameNumber() % 64 == 0) m_outlines.sweep();
    std::lock_guard lock(m_tablesMutex);
    m_oldTables = std::move(m_tables);
    m_tables.clear();
}

std::shared_ptr<const GradientTable> RasterBackend::tableOf(const Gradient& g, const ColorTransform& cx) {
    TableKey key{g.stops, g.interpolation, cx};
    std::lock_guard lock(m_tablesMutex);
    if (auto it = m_tables.find(key); it != m_tables.end()) return it->second;
    std::shared_ptr<const GradientTable> table;
    if (auto it = m_oldTables.find(key); it != m_oldTables.end())
        table = it->second;
    else
        table = std::make_shared<const GradientTable>(gradientTable(g, cx));
    m_tables.emplace(std::move(key), table);
    return table;
}

bool RasterBackend::paintOf(Frame& f, const FillStyle& style, const Matrix& toDevice, const ColorTransform& cx,
                            const BitmapResolver& bitmaps, Paint& out) {
    if (f.maskMode()) {
        out = Paint::solid(kMaskColour);
        return true;
    }
    switch (style.type) {
    case FillType::Solid: out = Paint::solid(premultiplied(transformColor(style.color, cx))); return true;
    case FillType::LinearGradient:
    case FillType::RadialGradient:
    case FillType::FocalGradient: {
        out = Paint{};
        out.kind = style.type == FillType::LinearGradient   ? Paint::Kind::Linear
                   : style.type == FillType::RadialGradient ? Paint::Kind::Radial
                                                            : Paint::Kind::Focal;
        out.table = tableOf(style.gradient, cx);
        out.spread = style.gradient.spread;
        out.focal = style.gradient.focalPoint;
        // A gradient squeezed to nothing shows its last colour.
        if (!out.setInverse(toDevice * style.gradient.matrix)) out = Paint::solid((*out.table)[255]);
        return true;
    }
    case FillType::Bitmap: {
        std::shared_ptr<const BitmapDef> bitmap = bitmaps ? bitmaps(style.bitmapId) : nullptr;
        if (!bitmap || bitmap->image.isNull()) return false;
        out = Paint{};
        out.kind = Paint::Kind::Bitmap;
        out.image = recoloured(bitmap, bitmap->image, cx);
        if (out.image.format() != QImage::Format_ARGB32_Premultiplied && out.image.format() != QImage::Format_RGB32)
            out.image = out.image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        out.repeat = style.bitmapRepeat;
        out.smooth = f.smooth(style.bitmapSmoothed);
        return out.setInverse(toDevice * style.bitmapMatrix);
    }
    }
    return false;
}

Canvas RasterBackend::canvasOf(Surface& s) {
    return Canvas{reinterpret_cast<uint32_t*>(s.image->bits()), s.image->bytesPerLine() / 4, s.origin, s.clip};
}

void RasterBackend::drawShape(Frame& f, const DrawShape& c) {
    if (!c.shape) return;
    const Matrix& m = c.matrix;
    std::shared_ptr<const ShapeOutline> outline = m_outlines.get(*c.shape, c.shape, matrixScale(m));
    const Canvas target = canvasOf(f.top());
    const Coverage coverage = coverageOf(f.quality, false);
    Scratch& s = scratch();
    const ShapeDef& shape = *c.shape;
    for (size_t li = 0; li < shape.layers.size() && li < outline->layers.size(); ++li) {
        const ShapeLayer& layer = shape.layers[li];
        const ShapeOutline::Layer& lo = outline->layers[li];
        // The fills of a layer go down together.
        s.reset(layer.fills.size());
        for (size_t i = 0; i < layer.fills.size(); ++i) {
            uint32_t style = layer.fills[i].style;
            if (style >= layer.fillStyles.size() || lo.fills[i].empty()) continue;
            if (!paintOf(f, layer.fillStyles[style], m, c.colorTransform, c.bitmaps, s.paints[i])) continue;
            appendSegments(lo.fills[i], m, s.segments[i]);
            s.paths.push_back({s.segments[i], FillRule::EvenOdd, &s.paints[i]});
        }
        fillPaths(target, s.paths, coverage);
        // Then each of its lines.
        for (size_t i = 0; i < layer.lines.size(); ++i) {
            uint32_t style = layer.lines[i].style;
            if (style >= layer.lineStyles.size() || lo.lines[i].empty()) continue;
            const LineStyle& ls = layer.lineStyles[style];
            s.reset(1);
            if (!paintOf(f, ls.fill ? *ls.fill : solid(ls.color), m, c.colorTransform, c.bitmaps, s.paints[0]))
                continue;
            // Strokes never get thinner than one device pixel, as in the
            // Flash player; hinted ones are a whole number of pixels wide.
            const double natural = strokeWidth(ls, m);
            double width = std::max(1.0, natural);
            if (ls.pixelHinting) width = std::round(width);
            const bool scales = !ls.noHScale && !ls.noVScale && !ls.pixelHinting;
            if (scales && natural >= 1 && !lo.strokes[i].empty()) {
                appendSegments(lo.strokes[i], m, s.segments[0]);
            } else {
                // Fixed-width strokes are stroked in device space.
                const Snap snap = !ls.pixelHinting              ? Snap::None
                                  : std::fmod(width, 2.0) >= 1 ? Snap::Centres
                                                               : Snap::Corners;
                transformLines(lo.lines[i], m, snap, s.centre);
                strokeLines(s.centre, strokeStyle(ls, width), kOutlinePixels, s.outline);
                appendSegments(s.outline, Matrix{}, s.segments[0]);
            }
            s.paths.push_back({s.segments[0], FillRule::NonZero, &s.paints[0]});
            fillPaths(target, s.paths, coverage);
        }
    }
}

void RasterBackend::drawBitmap(Frame& f, const DrawBitmap& c) {
    const QImage& source = c.bitmap ? c.bitmap->image : c.image;
    if (source.isNull()) return;
    const Canvas target = canvasOf(f.top());
    Scratch& s = scratch();
    s.reset(1);
    if (f.maskMode()) {
        s.paints[0] = Paint::solid(kMaskColour);
    } else {
        Paint& p = s.paints[0];
        p.kind = Paint::Kind::Bitmap;
        p.image = c.bitmap ? recoloured(c.bitmap, source, c.colorTransform) : transformImage(source, c.colorTransform);
        if (p.image.format() != QImage::Format_ARGB32_Premultiplied && p.image.format() != QImage::Format_RGB32)
            p.image = p.image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        p.repeat = false;
        p.smooth = f.smooth(c.smoothed);
        if (!p.setInverse(c.matrix)) return;
    }
    Contours rect;
    rect.add(QPolygonF(QRectF(source.rect())));
    appendSegments(rect, c.matrix, s.segments[0]);
    s.paths.push_back({s.segments[0], FillRule::NonZero, &s.paints[0]});
    fillPaths(target, s.paths, coverageOf(f.quality, false));
}

void RasterBackend::drawGlyphs(Frame& f, const DrawGlyphs& c) {
    if (!c.font || c.font->emSquare <= 0) return;
    const Canvas target = canvasOf(f.top());
    Paint paint;
    paintOf(f, solid(c.color), Matrix{}, c.colorTransform, {}, paint);
    const double k = c.height / c.font->emSquare;
    const double glyphScale = matrixScale(c.matrix) * std::abs(k);
    const Coverage coverage = coverageOf(f.quality, true);
    Scratch& s = scratch();
    for (const auto& [index, origin] : c.glyphs) {
        if (index >= c.font->glyphs.size()) continue;
        std::shared_ptr<const ShapeOutline> outline = m_outlines.get(c.font->glyphs[index].shape, c.font, glyphScale);
        const Matrix toDevice = c.matrix * translated(origin.x, origin.y) * scaled(k);
        s.reset(1);
        for (const ShapeOutline::Layer& layer : outline->layers)
            for (const Contours& fill : layer.fills) appendSegments(fill, toDevice, s.segments[0]);
        if (s.segments[0].empty()) continue;
        s.paths.push_back({s.segments[0], FillRule::EvenOdd, &paint});
        fillPaths(target, s.paths, coverage);
    }
}

void RasterBackend::drawRect(Frame& f, const DrawRect& c) {
    if (c.rect.empty()) return;
    const Canvas target = canvasOf(f.top());
    const Coverage coverage = coverageOf(f.quality, false);
    auto colour = [&](Rgba v) {
        Paint paint;
        paintOf(f, solid(v), Matrix{}, c.colorTransform, {}, paint);
        return paint;
    };
    auto fill = [&](const Contours& contours, const Matrix& m, const Paint& paint) {
        Scratch& s = scratch();
        s.reset(1);
        appendSegments(contours, m, s.segments[0]);
        s.paths.push_back({s.segments[0], FillRule::NonZero, &paint});
        fillPaths(target, s.paths, coverage);
    };
    const QRectF r(c.rect.xMin, c.rect.yMin, c.rect.width(), c.rect.height());
    const QTransform t = toQTransform(c.matrix);
    const std::optional<Rgba> fillColour = f.maskMode() ? std::optional<Rgba>(Rgba{}) : c.fill;
    if (t.type() <= QTransform::TxScale) {
        // Axis-aligned: whole pixels, so that borders are crisp one-pixel lines.
        const QRect d = pixelBox(c.rect, t);
        auto box = [&](QRect b, const Paint& paint) {
            Contours contours;
            contours.add(QPolygonF(QRectF(b)));
            fill(contours, Matrix{}, paint);
        };
        if (fillColour) box(d, colour(*fillColour));
        if (c.line && d.width() > 0 && d.height() > 0) {
            const Paint line = colour(*c.line);
            box(QRect(d.left(), d.top(), d.width(), 1), line);
            box(QRect(d.left(), d.bottom(), d.width(), 1), line);
            box(QRect(d.left(), d.top() + 1, 1, d.height() - 2), line);
            box(QRect(d.right(), d.top() + 1, 1, d.height() - 2), line);
        }
        return;
    }
    Contours area;
    area.add(QPolygonF(r));
    if (fillColour) fill(area, c.matrix, colour(*fillColour));
    if (c.line) {
        // A one-pixel border along the rectangle's edge, stroked in device space.
        const Polylines edge{{r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()}, {4}, {1}};
        Polylines border;
        transformLines(edge, c.matrix, Snap::None, border);
        StrokeStyle style;
        style.join = JoinStyle::Miter;
        Contours outline;
        strokeLines(border, style, kOutlinePixels, outline);
        fill(outline, Matrix{}, colour(*c.line));
    }
}

} // namespace swf::render
