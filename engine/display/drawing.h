#pragma once
// What scripts draw into a clip (MovieClip.beginFill, lineTo, curveTo ...):
// kept as shape records and turned into a shape on demand. The clip draws
// it below its children, as the Flash player does.
#include "engine/swf/movie.h"

#include <memory>
#include <optional>
#include <vector>

namespace swf {

class Drawing {
public:
    // Coordinates in twips of the clip's space.
    void clear();
    void beginFill(const FillStyle& fill);
    void endFill();
    // A line style for the edges that follow; nullopt draws no lines.
    void lineStyle(const std::optional<LineStyle>& line);
    void moveTo(double x, double y);
    void lineTo(double x, double y);
    void curveTo(double cx, double cy, double x, double y);

    bool empty() const { return m_records.empty(); }
    // The drawing as a shape (cached until the next change); null when empty.
    std::shared_ptr<const ShapeDef> shape() const;
    Rect bounds() const { return m_bounds; }

private:
    void grow(double x, double y);
    void styleChange(ShapeRecord rec);

    std::vector<FillStyle> m_fills;
    std::vector<LineStyle> m_lines;
    std::vector<ShapeRecord> m_records;
    Point m_pen, m_fillStart;
    bool m_filling = false;
    uint32_t m_line = 0;
    double m_lineWidth = 0;
    Rect m_bounds;
    bool m_hasBounds = false;
    mutable std::shared_ptr<const ShapeDef> m_shape;
};

} // namespace swf
