#include "engine/display/drawing.h"

#include "engine/core/limits.h"
#include "engine/swf/shape.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace swf {

// ---- script bitmaps ------------------------------------------------------

namespace {
std::atomic<int64_t> g_livePixels{0};
}

BitmapSurface::BitmapSurface(int width, int height, bool transparent, uint32_t argb) : m_transparent(transparent) {
    int64_t n = int64_t(std::max(width, 0)) * std::max(height, 0);
    if (n <= 0 || g_livePixels.load() + n > limits::kMaxLiveBitmapDataPixels) return;
    m_image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    if (m_image.isNull()) return;
    account(n);
    if (!transparent) argb |= 0xFF000000u;
    m_image.fill(premultiply(argb));
}

BitmapSurface::BitmapSurface(const QImage& image, bool transparent) : m_transparent(transparent) {
    int64_t n = int64_t(image.width()) * image.height();
    if (n <= 0 || g_livePixels.load() + n > limits::kMaxLiveBitmapDataPixels) return;
    m_image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (!m_image.isNull()) account(n);
}

BitmapSurface::~BitmapSurface() { account(-m_accounted); }

void BitmapSurface::account(int64_t pixels) {
    g_livePixels += pixels;
    m_accounted += pixels;
}

void BitmapSurface::dispose() {
    account(-m_accounted);
    m_image = QImage();
    changed();
}

uint32_t BitmapSurface::premultiply(uint32_t argb) {
    uint32_t a = argb >> 24;
    if (a == 255) return argb;
    auto ch = [a](uint32_t c) { return (c * a + 127) / 255; };
    return (a << 24) | (ch((argb >> 16) & 255) << 16) | (ch((argb >> 8) & 255) << 8) | ch(argb & 255);
}

uint32_t BitmapSurface::unpremultiply(uint32_t p) {
    uint32_t a = p >> 24;
    if (a == 255) return p;
    if (a == 0) return 0;
    auto ch = [a](uint32_t c) { return std::min<uint32_t>(c * 255 / a, 255); };
    return (a << 24) | (ch((p >> 16) & 255) << 16) | (ch((p >> 8) & 255) << 8) | ch(p & 255);
}

uint32_t BitmapSurface::pixel32(int x, int y) const {
    if (!contains(x, y)) return 0;
    return unpremultiply(reinterpret_cast<const uint32_t*>(m_image.constScanLine(y))[x]);
}

void BitmapSurface::setPixel32(int x, int y, uint32_t argb) {
    if (!contains(x, y)) return;
    if (!m_transparent) argb |= 0xFF000000u;
    reinterpret_cast<uint32_t*>(m_image.scanLine(y))[x] = premultiply(argb);
    changed();
}

void BitmapSurface::changed() {
    ++m_version;
    m_snapshot.reset();
}

std::shared_ptr<const BitmapDef> BitmapSurface::snapshot() const {
    if (!m_snapshot) {
        auto def = std::make_shared<BitmapDef>();
        def->image = m_image; // shared until the surface is written again
        m_snapshot = std::move(def);
    }
    return m_snapshot;
}

BitmapSurfaceObject::BitmapSurfaceObject(Runtime& rt, std::shared_ptr<BitmapSurface> surface, bool smoothed)
    : DisplayObject(Type::Bitmap, rt, 0), m_surface(std::move(surface)), m_smoothed(smoothed) {}

Rect BitmapSurfaceObject::localBounds() const {
    return {0, m_surface->width() * 20, 0, m_surface->height() * 20};
}

bool BitmapSurfaceObject::hitTest(Point local) const {
    Rect r = localBounds();
    return local.x >= r.xMin && local.x < r.xMax && local.y >= r.yMin && local.y < r.yMax;
}

void BitmapSurfaceObject::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    if (!m_surface->valid()) return;
    render::DrawBitmap cmd;
    cmd.bitmap = m_surface->snapshot();
    cmd.matrix = world * Matrix{20, 0, 0, 20, 0, 0}; // bitmap pixels are 20 twips wide
    cmd.colorTransform = cx;
    cmd.smoothed = m_smoothed;
    out.commands.push_back(std::move(cmd));
}

// ---- drawing -------------------------------------------------------------

namespace {
double clampCoordinate(double v) {
    return std::clamp(v, -limits::kMaxDrawingCoordinate, limits::kMaxDrawingCoordinate);
}
bool finite(std::initializer_list<double> values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}
} // namespace

void Drawing::clear() { *this = Drawing(); }

bool Drawing::full() const { return m_records.size() >= limits::kMaxDrawingRecords; }

void Drawing::push(ShapeRecord rec) {
    m_records.push_back(std::move(rec));
    m_shape.reset();
}

// Flash grows the bounds around a stroked point by the whole line width.
void Drawing::grow(double x, double y) {
    double stroke = m_lineStyle ? m_lineWidth : 0;
    Rect r{int32_t(std::floor(x - stroke)), int32_t(std::ceil(x + stroke)), int32_t(std::floor(y - stroke)),
           int32_t(std::ceil(y + stroke))};
    if (!m_hasBounds) {
        m_bounds = r;
        m_hasBounds = true;
        return;
    }
    m_bounds = {std::min(m_bounds.xMin, r.xMin), std::max(m_bounds.xMax, r.xMax), std::min(m_bounds.yMin, r.yMin),
                std::max(m_bounds.yMax, r.yMax)};
}

void Drawing::startLayer(std::optional<FillStyle> fill) {
    ShapeRecord rec;
    rec.newStyles = true;
    if (fill) rec.fillStyles.push_back(std::move(*fill));
    if (m_lineStyle) rec.lineStyles.push_back(*m_lineStyle);
    rec.fill0 = rec.fillStyles.empty() ? 0 : 1;
    rec.line = m_lineStyle ? 1 : 0;
    rec.hasMove = true;
    rec.moveX = m_pen.x;
    rec.moveY = m_pen.y;
    m_layerStart = m_records.size();
    push(std::move(rec));
}

void Drawing::beginFill(const FillStyle& fill) {
    if (m_filling) endFill();
    if (full()) return;
    startLayer(fill);
    m_filling = true;
    m_contourOpen = false;
    m_fillStart = m_pen;
}

void Drawing::beginBitmapFill(FillStyle fill, std::shared_ptr<BitmapSurface> bitmap) {
    if (!bitmap) return;
    auto it = std::find(m_bitmaps.begin(), m_bitmaps.end(), bitmap);
    if (it == m_bitmaps.end()) {
        if (m_bitmaps.size() >= 0xFFFF) return;
        it = m_bitmaps.insert(m_bitmaps.end(), std::move(bitmap));
    }
    fill.type = FillType::Bitmap;
    fill.bitmapId = uint16_t(it - m_bitmaps.begin()); // resolved by bitmaps()
    beginFill(fill);
}

void Drawing::closeFill() {
    if (!m_filling || !m_contourOpen || m_pen == m_fillStart) return;
    // The closing edge is stroked with the line style in force, as Flash does.
    lineTo(m_fillStart.x, m_fillStart.y);
}

void Drawing::endFill() {
    if (!m_filling) return;
    closeFill();
    m_filling = false;
    m_contourOpen = false;
    // What follows is drawn above the fill, with no fill.
    startLayer(std::nullopt);
}

void Drawing::lineStyle(const std::optional<LineStyle>& line) {
    if (full()) return;
    m_lineStyle = line;
    if (line) m_lineWidth = std::max<double>(line->width, 20);
    if (m_records.empty()) {
        startLayer(std::nullopt);
        return;
    }
    ShapeRecord rec;
    if (line) {
        auto& styles = m_records[m_layerStart].lineStyles;
        styles.push_back(*line);
        rec.line = uint32_t(styles.size());
        m_shape.reset();
    } else {
        rec.line = 0;
    }
    rec.hasMove = true;
    rec.moveX = m_pen.x;
    rec.moveY = m_pen.y;
    push(std::move(rec));
}

void Drawing::moveTo(double x, double y) {
    if (!finite({x, y}) || full()) return;
    x = clampCoordinate(x);
    y = clampCoordinate(y);
    closeFill();
    if (m_records.empty()) startLayer(std::nullopt);
    ShapeRecord rec;
    rec.hasMove = true;
    rec.moveX = x;
    rec.moveY = y;
    push(std::move(rec));
    m_pen = {x, y};
    m_contourOpen = false;
    if (m_filling) m_fillStart = m_pen;
}

void Drawing::lineTo(double x, double y) {
    if (!finite({x, y}) || full()) return;
    x = clampCoordinate(x);
    y = clampCoordinate(y);
    if (m_records.empty()) startLayer(std::nullopt);
    ShapeRecord rec;
    rec.kind = ShapeRecord::Kind::StraightEdge;
    rec.dx = x - m_pen.x;
    rec.dy = y - m_pen.y;
    push(std::move(rec));
    grow(m_pen.x, m_pen.y);
    grow(x, y);
    m_pen = {x, y};
    m_contourOpen = true;
}

void Drawing::curveTo(double cx, double cy, double x, double y) {
    if (!finite({cx, cy, x, y}) || full()) return;
    cx = clampCoordinate(cx);
    cy = clampCoordinate(cy);
    x = clampCoordinate(x);
    y = clampCoordinate(y);
    if (m_records.empty()) startLayer(std::nullopt);
    ShapeRecord rec;
    rec.kind = ShapeRecord::Kind::CurvedEdge;
    rec.dx = cx - m_pen.x;
    rec.dy = cy - m_pen.y;
    rec.ax = x - cx;
    rec.ay = y - cy;
    push(std::move(rec));
    grow(m_pen.x, m_pen.y);
    grow(cx, cy);
    grow(x, y);
    m_pen = {x, y};
    m_contourOpen = true;
}

std::shared_ptr<const ShapeDef> Drawing::shape() const {
    if (m_records.empty()) return nullptr;
    std::vector<uint64_t> versions;
    for (const auto& b : m_bitmaps) versions.push_back(b->version());
    if (m_shape && versions == m_shapeBitmapVersions) return m_shape;
    auto s = std::make_shared<ShapeDef>();
    s->version = 4;
    s->bounds = s->edgeBounds = m_bounds;
    // A fill still open is drawn as if it were closed, its closing edge
    // stroked with the line style in force, as endFill would.
    std::vector<ShapeRecord> records = m_records;
    if (m_filling && m_contourOpen && !(m_pen == m_fillStart)) {
        ShapeRecord edge;
        edge.kind = ShapeRecord::Kind::StraightEdge;
        edge.dx = m_fillStart.x - m_pen.x;
        edge.dy = m_fillStart.y - m_pen.y;
        records.push_back(edge);
    }
    s->layers = buildShapeLayers({}, {}, records);
    m_shape = std::move(s);
    m_shapeBitmapVersions = std::move(versions);
    return m_shape;
}

render::BitmapResolver Drawing::bitmaps() const {
    if (m_bitmaps.empty()) return {};
    // Snapshots taken now: the renderer may run on another thread while
    // scripts change the pixels.
    std::vector<std::shared_ptr<const BitmapDef>> snapshots;
    for (const auto& b : m_bitmaps) snapshots.push_back(b->valid() ? b->snapshot() : nullptr);
    return [snapshots = std::move(snapshots)](uint16_t id) -> std::shared_ptr<const BitmapDef> {
        return id < snapshots.size() ? snapshots[id] : nullptr;
    };
}

} // namespace swf
