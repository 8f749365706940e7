#include "engine/render/outline_cache.h"

#include "engine/render/shape_cache.h"

#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>

namespace swf::render {

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

void Contours::add(const QPolygonF& polygon, double scale) {
    if (polygon.size() < 2) return;
    for (const QPointF& p : polygon) points.push_back(p * scale);
    ends.push_back(uint32_t(points.size()));
}

Contours contoursOf(const QPainterPath& path, double scale, double pixels) {
    // Qt flattens curves to about half a unit: work in units of twice the
    // wanted tolerance.
    const double k = std::max(scale, 1e-6) / (2 * pixels);
    Contours out;
    for (const QPolygonF& polygon : path.toSubpathPolygons(QTransform::fromScale(k, k))) out.add(polygon, 1 / k);
    return out;
}

Contours strokeOutline(const QPainterPath& centre, double width, const LineStyle& style, double scale) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(capOf(style.startCap));
    stroker.setJoinStyle(joinOf(style.join));
    stroker.setMiterLimit(std::max(1.0, style.miterLimit));
    return contoursOf(stroker.createStroke(centre), scale, kFlattenPixels);
}

std::shared_ptr<const ShapeOutline> OutlineCache::get(const ShapeDef& shape, const std::shared_ptr<const void>& owner,
                                                      double scale) {
    scale = std::max(scale, 1e-4);
    {
        std::lock_guard lock(m_mutex);
        Entry& entry = m_entries[&shape];
        bool stale = entry.owner.owner_before(owner) || owner.owner_before(entry.owner) ||
                     (owner && entry.owner.expired());
        // Flattened for a scale within [0.5x, 1.5x] of this one is close enough.
        if (!stale && entry.outline && scale <= entry.outline->scale * 1.5 && scale >= entry.outline->scale * 0.5)
            return entry.outline;
    }
    auto outline = std::make_shared<ShapeOutline>();
    outline->scale = scale;
    const double tolerance = kFlattenPixels / scale;
    for (const ShapeLayer& layer : shape.layers) {
        ShapeOutline::Layer out;
        for (const StyledPath& f : layer.fills) out.fills.push_back(contoursOf(buildPath(f, tolerance, false), 1, 1));
        for (const StyledPath& l : layer.lines) {
            const LineStyle* style = l.style < layer.lineStyles.size() ? &layer.lineStyles[l.style] : nullptr;
            // Stroked as curves: the stroker then joins only real corners.
            out.lines.push_back(buildPath(l, 0, true, style && style->noClose));
            out.strokes.push_back(style && style->width > 0
                                      ? strokeOutline(out.lines.back(), style->width, *style, scale)
                                      : Contours{});
        }
        outline->layers.push_back(std::move(out));
    }
    std::lock_guard lock(m_mutex);
    m_entries[&shape] = Entry{owner, outline};
    return outline;
}

void OutlineCache::sweep() {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [](const auto& kv) { return kv.second.owner.expired(); });
}

void OutlineCache::clear() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

} // namespace swf::render
