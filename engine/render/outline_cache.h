#pragma once
// Shapes as polygons in their own space (twips), built once per definition
// and transformed to device pixels every frame: a shape that only moves,
// turns or scales reuses them. Curves are flattened for the scale a shape
// is drawn at; drawn much larger or smaller later, it is flattened again.
// Thread-safe: bands of a frame share one cache.
#include "engine/render/stroke.h"
#include "engine/swf/movie.h"

#include <QPainterPath>
#include <QPointF>

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace swf::render {

// Our rasterizer's polygons stay within this distance of true curves and
// arcs (device pixels): its exact coverage shows no facets at a tenth of a
// pixel, and half the tolerance of QPainter's paths costs 40 % more edges.
constexpr double kOutlinePixels = 0.1;

// Closed polygons: polygon i is points[ends[i-1]] .. points[ends[i] - 1].
struct Contours {
    std::vector<QPointF> points;
    std::vector<uint32_t> ends;

    void add(const QPolygonF& polygon, double scale = 1);
    bool empty() const { return points.empty(); }
};

// Polygons of a QPainterPath (curves flattened to `pixels` at `scale`
// device pixels per unit).
Contours contoursOf(const QPainterPath& path, double scale, double pixels);

struct ShapeOutline {
    struct Layer {
        std::vector<Contours> fills;        // parallel to ShapeLayer::fills (even-odd)
        std::vector<Polylines> lines;       // parallel to ShapeLayer::lines, centre lines
        std::vector<Contours> strokes;      // their outlines at the style's width in twips (non-zero)
    };
    std::vector<Layer> layers;
    double scale = 0;                       // device pixels per twip it was flattened for
};

class OutlineCache {
public:
    // Polygons of `shape` fit for drawing at `scale` device pixels per twip.
    // `owner` keeps the entry honest: when it expires the address may be
    // reused by another shape, so the entry is rebuilt.
    std::shared_ptr<const ShapeOutline> get(const ShapeDef& shape, const std::shared_ptr<const void>& owner,
                                            double scale);
    // Drops entries whose shapes are gone.
    void sweep();
    void clear();

private:
    struct Entry {
        std::weak_ptr<const void> owner;
        std::shared_ptr<const ShapeOutline> outline;
    };
    std::mutex m_mutex;
    std::unordered_map<const ShapeDef*, Entry> m_entries;
};

} // namespace swf::render
