#include "engine/render/qpainter_backend.h"

#include "engine/core/limits.h"
#include "engine/render/blend.h"
#include "engine/render/bounds.h"
#include "engine/render/color.h"
#include "engine/render/filters.h"
#include "engine/render/outline_cache.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace swf::render {

namespace {

// Qt's names for the caps and joins of a line style.
Qt::PenCapStyle capOf(CapStyle c) {
    switch (c) {
    case CapStyle::None: return Qt::FlatCap;
    case CapStyle::Square: return Qt::SquareCap;
    case CapStyle::Round: break;
    }
    return Qt::RoundCap;
}

Qt::PenJoinStyle joinOf(JoinStyle j) {
    // A miter longer than the limit is cut off at the limit.
    switch (j) {
    case JoinStyle::Bevel: return Qt::BevelJoin;
    case JoinStyle::Miter: return Qt::MiterJoin;
    case JoinStyle::Round: break;
    }
    return Qt::RoundJoin;
}

// Flash's gradient square: gradients are defined from -16384 to 16384 twips.
constexpr double kGradientHalf = 16384;
// Stops added between two stops of a linear-RGB gradient so that Qt's
// sRGB interpolation follows the linear-light curve closely.
constexpr int kLinearRgbSteps = 8;
// Pictures of moving shapes: positions per pixel they are made at (one: a
// moving shape lands on whole pixels, as cached bitmaps do in Flash),
// the largest side worth caching, the bytes kept and frames an unused one lives.
constexpr double kSpritePhases = 1;
constexpr int kMaxSpriteSide = 512;
constexpr qsizetype kSpriteCacheBytes = 48 << 20;
constexpr uint64_t kSpriteCacheFrames = 30;

double toLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double fromLinear(double c) { return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055; }

QColor mixLinear(const QColor& a, const QColor& b, double t) {
    auto mix = [t](double p, double q) { return fromLinear(toLinear(p) + (toLinear(q) - toLinear(p)) * t); };
    return QColor::fromRgbF(float(mix(a.redF(), b.redF())), float(mix(a.greenF(), b.greenF())),
                            float(mix(a.blueF(), b.blueF())), float(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

QGradientStops gradientStops(const Gradient& g, const ColorTransform& cx) {
    // The Flash player builds a 256-entry colour table in which every stop
    // takes at least one entry: a ratio not above the previous one moves to
    // the next entry, and stops pushed past the end are dropped.
    std::vector<std::pair<int, QColor>> entries;
    int previous = -1;
    for (const GradientStop& s : g.stops) {
        int ratio = std::max(int(s.ratio), previous + 1);
        if (ratio > 255) break;
        entries.push_back({ratio, toQColor(s.color, cx)});
        previous = ratio;
    }
    QGradientStops stops;
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& [ratio, color] = entries[i];
        if (i > 0) {
            const auto& [before, beforeColor] = entries[i - 1];
            if (ratio - before == 1) {
                // Neighbouring entries do not blend: each shows its own colour,
                // from its own ratio on.
                stops.push_back({ratio / 255.0 - 1e-4, beforeColor});
            } else if (g.interpolation == Interpolation::LinearRgb) {
                // Extra stops so that Qt's sRGB interpolation follows linear light.
                for (int k = 1; k < kLinearRgbSteps; ++k) {
                    double t = double(k) / kLinearRgbSteps;
                    stops.push_back({(before + (ratio - before) * t) / 255.0, mixLinear(beforeColor, color, t)});
                }
            }
        }
        stops.push_back({ratio / 255.0, color});
    }
    return stops;
}

QGradient::Spread spreadOf(SpreadMode m) {
    switch (m) {
    case SpreadMode::Reflect: return QGradient::ReflectSpread;
    case SpreadMode::Repeat: return QGradient::RepeatSpread;
    case SpreadMode::Pad: break;
    }
    return QGradient::PadSpread;
}

// Whether a fill covers what is below it completely (seam strokes would
// darken a translucent one).
bool isOpaque(const FillStyle& f, const ColorTransform& cx) {
    auto opaque = [&](Rgba c) { return transformColor(c, cx).a == 255; };
    switch (f.type) {
    case FillType::Solid: return opaque(f.color);
    case FillType::Bitmap: return false;
    default: return std::all_of(f.gradient.stops.begin(), f.gradient.stops.end(),
                                [&](const GradientStop& s) { return opaque(s.color); });
    }
}

// Device pixels per twip, averaged over both axes (how much a stroke grows).
double areaScale(const Matrix& m) { return std::sqrt(std::abs(m.a * m.d - m.b * m.c)); }

} // namespace

size_t QPainterBackend::LookHash::operator()(const ShapeLook& k) const {
    size_t h = std::hash<const void*>{}(k.shape);
    for (double v : {k.a, k.b, k.c, k.d, k.rMult, k.gMult, k.bMult, k.aMult, k.rAdd, k.gAdd, k.bAdd, k.aAdd})
        h = h * 1099511628211ULL ^ std::hash<double>{}(v);
    return h ^ size_t(k.quality);
}

size_t QPainterBackend::LookHash::operator()(const SpriteKey& k) const {
    return (*this)(k.look) * 31 ^ std::hash<double>{}(k.phaseX) * 7 ^ std::hash<double>{}(k.phaseY);
}

QPainterBackend::QPainterBackend() = default;
QPainterBackend::~QPainterBackend() = default;

void QPainterBackend::clearCaches() {
    SurfaceBackend::clearCaches();
    m_shapes.clear();
    m_sprites.clear();
    m_looks.clear();
    m_spriteBytes = 0;
}

void QPainterBackend::frameDone() {
    // Forget shapes whose definitions are gone, now and then.
    if (frameNumber() % 64 == 0) m_shapes.sweep();
    trimSpriteCache();
}

QBrush QPainterBackend::fillBrush(bool maskMode, const FillStyle& style, const ColorTransform& cx,
                                  const BitmapResolver& bitmaps, const QRectF& pathBounds) {
    if (maskMode) return QBrush(Qt::black);
    switch (style.type) {
    case FillType::Solid: return QBrush(toQColor(style.color, cx));
    case FillType::LinearGradient:
    case FillType::RadialGradient:
    case FillType::FocalGradient: {
        const Gradient& g = style.gradient;
        // A gradient without stops is drawn black.
        if (g.stops.empty()) return QBrush(toQColor(Rgba{0, 0, 0, 255}, cx));
        if (g.stops.size() == 1) return QBrush(toQColor(g.stops.front().color, cx));
        QGradient grad;
        if (style.type == FillType::LinearGradient) {
            grad = QLinearGradient(-kGradientHalf, 0, kGradientHalf, 0);
        } else {
            double focal = style.type == FillType::FocalGradient ? std::clamp(g.focalPoint, -0.98, 0.98) : 0;
            grad = QRadialGradient(QPointF(0, 0), kGradientHalf, QPointF(focal * kGradientHalf, 0));
        }
        grad.setStops(gradientStops(g, cx));
        grad.setSpread(spreadOf(g.spread));
        // Flash blends the stops' colours and alphas separately (a clear stop
        // still tints its neighbours).
        grad.setInterpolationMode(QGradient::ComponentInterpolation);
        QBrush brush(grad);
        brush.setTransform(toQTransform(g.matrix));
        return brush;
    }
    case FillType::Bitmap: {
        std::shared_ptr<const BitmapDef> bitmap = bitmaps ? bitmaps(style.bitmapId) : nullptr;
        if (!bitmap || bitmap->image.isNull()) return QBrush();
        QImage image = recoloured(bitmap, bitmap->image, cx);
        QTransform toShape = toQTransform(style.bitmapMatrix);
        if (!style.bitmapRepeat && toShape.isInvertible()) {
            // A clipped fill repeats its edge pixels beyond the bitmap. Qt only
            // tiles, so where the shape reaches past the bitmap we tile a copy
            // with the edges drawn out far enough to cover the shape.
            QRect need = toShape.inverted().mapRect(pathBounds).toAlignedRect();
            QRect have = image.rect();
            if (!have.contains(need.adjusted(1, 1, -1, -1))) {
                QRect span = need.united(have);
                if (qint64(span.width()) * span.height() <= limits::kMaxLayerPixels) {
                    QImage padded(span.size(), QImage::Format_ARGB32_Premultiplied);
                    QImage src = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
                    for (int y = 0; y < span.height(); ++y) {
                        int sy = std::clamp(y + span.top(), 0, src.height() - 1);
                        auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(sy));
                        auto* out = reinterpret_cast<QRgb*>(padded.scanLine(y));
                        for (int x = 0; x < span.width(); ++x)
                            out[x] = in[std::clamp(x + span.left(), 0, src.width() - 1)];
                    }
                    image = padded;
                    toShape = QTransform::fromTranslate(span.left(), span.top()) * toShape;
                }
            }
        }
        QBrush brush(image);
        brush.setTransform(toShape);
        return brush;
    }
    }
    return QBrush();
}

void QPainterBackend::drawShape(Frame& f, const DrawShape& c) {
    if (!c.shape) return;
    QPainter& p = f.painter();
    p.setOpacity(1);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!f.maskMode() && drawCachedShape(f, c)) return;
    paintShape(p, toQTransform(c.matrix) * f.top().offset(), c, f.maskMode(), f.quality);
}

void QPainterBackend::paintShape(QPainter& p, const QTransform& toDevice, const DrawShape& c, bool maskMode,
                                 Quality quality) {
    const ShapeDef& shape = *c.shape;
    const ShapePaths& paths = m_shapes.get(shape, c.shape, matrixScale(c.matrix));
    p.setTransform(toDevice);
    p.setPen(Qt::NoPen);
    const bool smoothAllowed = quality >= Quality::High;
    const double scale = areaScale(c.matrix);
    for (size_t li = 0; li < shape.layers.size() && li < paths.layers.size(); ++li) {
        const ShapeLayer& layer = shape.layers[li];
        const ShapePaths::Layer& lp = paths.layers[li];
        for (size_t i = 0; i < layer.fills.size(); ++i) {
            uint32_t s = layer.fills[i].style;
            if (s >= layer.fillStyles.size() || lp.fills[i].isEmpty()) continue;
            const FillStyle& style = layer.fillStyles[s];
            if (style.type == FillType::Bitmap)
                p.setRenderHint(QPainter::SmoothPixmapTransform, smoothAllowed && style.bitmapSmoothed);
            QBrush brush = fillBrush(maskMode, style, c.colorTransform, c.bitmaps, lp.fills[i].boundingRect());
            if (brush.style() == Qt::NoBrush) continue;
            p.fillPath(lp.fills[i], brush);
            if (!maskMode && quality != Quality::Low && !lp.seams[i].isEmpty() && isOpaque(style, c.colorTransform)) {
                QPen seam(brush, 1, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
                seam.setCosmetic(true);
                p.strokePath(lp.seams[i], seam);
            }
        }
        for (size_t i = 0; i < layer.lines.size(); ++i) {
            uint32_t s = layer.lines[i].style;
            if (s >= layer.lineStyles.size() || lp.lines[i].isEmpty()) continue;
            const LineStyle& ls = layer.lineStyles[s];
            QBrush brush = maskMode              ? QBrush(Qt::black)
                           : ls.fill.has_value() ? fillBrush(maskMode, *ls.fill, c.colorTransform, c.bitmaps,
                                                             lp.lines[i].boundingRect())
                                                 : QBrush(toQColor(ls.color, c.colorTransform));
            if (brush.style() == Qt::NoBrush) continue;
            QPen pen(brush, ls.width, Qt::SolidLine, capOf(ls.startCap), joinOf(ls.join));
            pen.setMiterLimit(ls.miterLimit);
            bool fixedWidth = ls.noHScale || ls.noVScale;
            double deviceWidth = fixedWidth ? ls.width / 20.0 : ls.width * scale;
            if (fixedWidth || deviceWidth < 1) {
                // Strokes never get thinner than one device pixel, as in the
                // Flash player; non-scaling strokes keep their pixel width.
                pen.setCosmetic(true);
                pen.setWidthF(std::max(1.0, deviceWidth));
            }
            p.strokePath(lp.lines[i], pen);
        }
    }
}

bool QPainterBackend::drawCachedShape(Frame& f, const DrawShape& c) {
    const Matrix& m = c.matrix;
    const ColorTransform& cx = c.colorTransform;
    // Only shapes seen with the same size, turn and colours in the previous
    // frame are worth a cached picture: typically something moving.
    const ShapeLook look{c.shape.get(), m.a, m.b, m.c, m.d, cx.rMult, cx.gMult, cx.bMult, cx.aMult,
                         cx.rAdd, cx.gAdd, cx.bAdd, cx.aAdd, int(f.quality)};
    uint64_t& lastSeen = m_looks[look];
    const bool steady = lastSeen + 1 >= frameNumber() && lastSeen != 0;
    lastSeen = frameNumber();
    if (!steady) return false;

    // The picture is made at a quantised sub-pixel position and placed at
    // whole pixels, so a moving shape reuses it.
    const double qx = std::round(m.tx * kSpritePhases) / kSpritePhases;
    const double qy = std::round(m.ty * kSpritePhases) / kSpritePhases;
    const double ix = std::floor(qx), iy = std::floor(qy);
    Matrix local = m;
    local.tx = qx - ix;
    local.ty = qy - iy;
    SpriteKey key{look, local.tx, local.ty};
    auto it = m_sprites.find(key);
    if (it == m_sprites.end() || it->second.owner.expired()) {
        if (c.shape->bounds.empty() && c.shape->edgeBounds.empty()) return false;
        QRect area = toQTransform(local).mapRect(shapeExtent(*c.shape)).toAlignedRect().adjusted(-2, -2, 2, 2);
        if (area.width() > kMaxSpriteSide || area.height() > kMaxSpriteSide) return false;
        Sprite sprite;
        sprite.owner = c.shape;
        sprite.origin = area.topLeft();
        sprite.image = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
        sprite.image.fill(Qt::transparent);
        {
            QPainter sp(&sprite.image);
            sp.setRenderHint(QPainter::Antialiasing, f.antialias());
            DrawShape at = c;
            at.matrix = local;
            paintShape(sp, toQTransform(local) * QTransform::fromTranslate(-area.left(), -area.top()), at, false,
                       f.quality);
        }
        m_spriteBytes += sprite.image.sizeInBytes();
        it = m_sprites.insert_or_assign(key, std::move(sprite)).first;
    }
    it->second.lastFrame = frameNumber();
    QPainter& p = f.painter();
    p.resetTransform();
    p.drawImage(QPointF(ix + it->second.origin.x() - f.top().origin.x(),
                        iy + it->second.origin.y() - f.top().origin.y()),
                it->second.image);
    return true;
}

void QPainterBackend::trimSpriteCache() {
    // Looks not seen for a while, and pictures not used lately, are dropped.
    std::erase_if(m_looks, [&](const auto& kv) { return kv.second + 2 < frameNumber(); });
    bool over = m_spriteBytes > kSpriteCacheBytes;
    for (auto it = m_sprites.begin(); it != m_sprites.end();) {
        bool old = it->second.lastFrame + (over ? 0 : kSpriteCacheFrames) < frameNumber();
        if (old || it->second.owner.expired()) {
            m_spriteBytes -= it->second.image.sizeInBytes();
            it = m_sprites.erase(it);
        } else {
            ++it;
        }
    }
}

void QPainterBackend::drawBitmap(Frame& f, const DrawBitmap& c) {
    const QImage& source = c.bitmap ? c.bitmap->image : c.image;
    if (source.isNull()) return;
    QPainter& p = f.painter();
    p.setTransform(toQTransform(c.matrix) * f.top().offset());
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (f.maskMode()) {
        p.setOpacity(1);
        p.fillRect(source.rect(), Qt::black);
        return;
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, f.smooth(c.smoothed));
    if (isAlphaOnly(c.colorTransform)) {
        p.setOpacity(c.colorTransform.aMult);
        p.drawImage(0, 0, source);
        p.setOpacity(1);
        return;
    }
    p.setOpacity(1);
    p.drawImage(0, 0, c.bitmap ? recoloured(c.bitmap, source, c.colorTransform)
                               : transformImage(source, c.colorTransform));
}

void QPainterBackend::drawGlyphs(Frame& f, const DrawGlyphs& c) {
    if (!c.font || c.font->emSquare <= 0) return;
    QPainter& p = f.painter();
    p.setOpacity(1);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setPen(Qt::NoPen);
    QBrush brush = f.maskMode() ? QBrush(Qt::black) : QBrush(toQColor(c.color, c.colorTransform));
    const double k = c.height / c.font->emSquare;
    const QTransform toDevice = toQTransform(c.matrix) * f.top().offset();
    const double glyphScale = matrixScale(c.matrix) * std::abs(k);
    for (const auto& [index, origin] : c.glyphs) {
        if (index >= c.font->glyphs.size()) continue;
        const ShapePaths& paths = m_shapes.get(c.font->glyphs[index].shape, c.font, glyphScale);
        if (paths.allFills.isEmpty()) continue;
        p.setTransform(QTransform::fromScale(k, k) * QTransform::fromTranslate(origin.x, origin.y) * toDevice);
        p.fillPath(paths.allFills, brush);
    }
}

void QPainterBackend::drawRect(Frame& f, const DrawRect& c) {
    if (c.rect.empty()) return;
    QPainter& p = f.painter();
    p.setOpacity(1);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QTransform t = toQTransform(c.matrix) * f.top().offset();
    QRectF r(c.rect.xMin, c.rect.yMin, c.rect.width(), c.rect.height());
    QColor fill = f.maskMode() ? QColor(Qt::black) : c.fill ? toQColor(*c.fill, c.colorTransform) : QColor();
    QColor line = f.maskMode() ? QColor(Qt::black) : c.line ? toQColor(*c.line, c.colorTransform) : QColor();
    if (t.type() <= QTransform::TxScale) {
        // Axis-aligned: snap to whole pixels so that borders are crisp one-pixel lines.
        QRect d = pixelBox(c.rect, t);
        p.resetTransform();
        if (c.fill || f.maskMode()) p.fillRect(d, fill);
        if (c.line && d.width() > 0 && d.height() > 0) {
            p.fillRect(QRect(d.left(), d.top(), d.width(), 1), line);
            p.fillRect(QRect(d.left(), d.bottom(), d.width(), 1), line);
            p.fillRect(QRect(d.left(), d.top(), 1, d.height()), line);
            p.fillRect(QRect(d.right(), d.top(), 1, d.height()), line);
        }
        return;
    }
    p.setTransform(t);
    if (c.fill || f.maskMode()) p.fillRect(r, fill);
    if (c.line) {
        QPen pen(line, 1);
        pen.setCosmetic(true);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(r);
    }
}

} // namespace swf::render
