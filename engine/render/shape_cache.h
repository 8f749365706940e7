#pragma once
// Paths of shapes, built once per shape definition and reused every frame.
// Curves are flattened to polygons here (Qt fills polygons much faster than
// curves) at a tolerance chosen for the scale the shape is drawn at; a shape
// drawn much larger later is flattened again, finer.
#include "engine/swf/movie.h"

#include <QPainterPath>

#include <memory>
#include <unordered_map>
#include <vector>

namespace swf::render {

// Flattened curves stay within this distance of the true curve (pixels);
// coarser polygons show visibly worse edges than Qt's own curves.
constexpr double kFlattenPixels = 0.05;

struct ShapePaths {
    struct Layer {
        std::vector<QPainterPath> fills; // parallel to ShapeLayer::fills
        // Per fill: its edges shared with a fill drawn after it. Stroking them
        // thinly in the earlier fill's colour hides the seam that two
        // antialiased fills leave along a common edge.
        std::vector<QPainterPath> seams;
        std::vector<QPainterPath> lines; // parallel to ShapeLayer::lines
    };
    std::vector<Layer> layers;
    QPainterPath allFills;               // every fill as one outline (glyphs, masks)
    double scale = 0;                    // device pixels per twip it was flattened for
};

// Flattens one StyledPath; `tolerance` is the largest distance (twips) of a
// polygon from the curve (zero or less keeps the curves). Fill contours are left for the fill rule to close;
// line contours that end where they start are closed unless `noClose`.
QPainterPath buildPath(const StyledPath& path, double tolerance, bool isLine, bool noClose = false);

class ShapeCache {
public:
    // Paths of `shape` fit for drawing at `scale` device pixels per twip.
    // `owner` keeps the entry honest: when it expires the address may be
    // reused by another shape, so the entry is rebuilt.
    const ShapePaths& get(const ShapeDef& shape, const std::shared_ptr<const void>& owner, double scale);
    // Drops entries whose shapes are gone.
    void sweep();
    void clear() { m_entries.clear(); }
    size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        std::weak_ptr<const void> owner;
        ShapePaths paths;
    };
    std::unordered_map<const ShapeDef*, Entry> m_entries;
};

// Chords a quadratic curve is cut into to stay within `tolerance` of it
// (at least one, at most a fixed cap), and its point at t.
int quadSegments(Point p0, Point c, Point p1, double tolerance);
QPointF quadPoint(Point p0, Point c, Point p1, double t);

// Largest scale factor of a matrix (device pixels per twip along its longest axis).
double matrixScale(const Matrix& m);

} // namespace swf::render
