#include "engine/render/outline_cache.h"

#include "engine/render/shape_cache.h"
#include "engine/render/stroke.h"

#include <algorithm>
#include <cmath>

namespace swf::render {

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
    const double tolerance = kOutlinePixels / scale;
    for (const ShapeLayer& layer : shape.layers) {
        ShapeOutline::Layer out;
        for (const StyledPath& f : layer.fills) out.fills.push_back(contoursOf(buildPath(f, tolerance, false), 1, 1));
        for (const StyledPath& l : layer.lines) {
            const LineStyle* style = l.style < layer.lineStyles.size() ? &layer.lineStyles[l.style] : nullptr;
            out.lines.push_back(centreLines(l, tolerance, style && style->noClose));
            Contours stroke;
            if (style && style->width > 0)
                strokeLines(out.lines.back(), strokeStyle(*style, style->width), tolerance, stroke);
            out.strokes.push_back(std::move(stroke));
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
