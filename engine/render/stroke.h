#pragma once
// Stroke outlines built by our own rasterizer: a centre line (polylines, in
// any space) becomes polygons that the scanline code fills with the non-zero
// rule. Each side of a line is its offset by half the width; the outer side
// of a corner gets the join, the inner side turns through the corner point,
// so every piece winds the same way and overlaps add up to one area.
#include "engine/swf/movie.h"

#include <QPointF>

#include <cstdint>
#include <vector>

namespace swf::render {

struct Contours;

// Open or closed polylines: line i is points[ends[i-1]] .. points[ends[i] - 1].
struct Polylines {
    std::vector<QPointF> points;
    std::vector<uint32_t> ends;
    std::vector<uint8_t> closed;       // per line: its last point joins its first

    bool empty() const { return points.empty(); }
};

// The centre lines of a shape's line path: curves flattened to `tolerance`
// (same units as the edges), a line that ends where it starts is closed
// unless `noClose`.
Polylines centreLines(const StyledPath& path, double tolerance, bool noClose);

struct StrokeStyle {
    double width = 1;
    CapStyle startCap = CapStyle::Round, endCap = CapStyle::Round;
    JoinStyle join = JoinStyle::Round;
    // A miter reaching further than miterLimit * width from its corner is
    // cut off there.
    double miterLimit = 3;
};

// The line style's caps, join and miter limit at `width`.
StrokeStyle strokeStyle(const LineStyle& style, double width);

// Appends the outline of `lines` stroked with `style` to `out` (non-zero
// polygons). Round caps and joins stay within `tolerance` of true arcs.
void strokeLines(const Polylines& lines, const StrokeStyle& style, double tolerance, Contours& out);

} // namespace swf::render
