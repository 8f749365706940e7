#include "engine/display/drawing.h"

#include "engine/core/limits.h"
#include "engine/swf/shape.h"

#include <algorithm>
#include <cmath>

namespace swf {

void Drawing::clear() { *this = Drawing(); }

void Drawing::styleChange(ShapeRecord rec) {
    rec.kind = ShapeRecord::Kind::StyleChange;
    m_records.push_back(std::move(rec));
    m_shape.reset();
}

void Drawing::grow(double x, double y) {
    double half = m_line ? m_lineWidth / 2 : 0;
    Rect r{int32_t(std::floor(x - half)), int32_t(std::ceil(x + half)), int32_t(std::floor(y - half)),
           int32_t(std::ceil(y + half))};
    if (!m_hasBounds) {
        m_bounds = r;
        m_hasBounds = true;
        return;
    }
    m_bounds = {std::min(m_bounds.xMin, r.xMin), std::max(m_bounds.xMax, r.xMax), std::min(m_bounds.yMin, r.yMin),
                std::max(m_bounds.yMax, r.yMax)};
}

void Drawing::beginFill(const FillStyle& fill) {
    if (m_filling) endFill();
    // Records are bounded like a tag's: a runaway script stops adding styles.
    if (m_fills.size() >= limits::kMaxRecordsPerTag) return;
    m_fills.push_back(fill);
    ShapeRecord rec;
    rec.fill0 = uint32_t(m_fills.size());
    rec.hasMove = true;
    rec.moveX = m_pen.x;
    rec.moveY = m_pen.y;
    styleChange(rec);
    m_filling = true;
    m_fillStart = m_pen;
}

void Drawing::endFill() {
    if (!m_filling) return;
    // An open fill is closed back to where it started.
    if (!(m_pen == m_fillStart)) lineTo(m_fillStart.x, m_fillStart.y);
    ShapeRecord rec;
    rec.fill0 = 0;
    styleChange(rec);
    m_filling = false;
}

void Drawing::lineStyle(const std::optional<LineStyle>& line) {
    ShapeRecord rec;
    if (line && m_lines.size() < limits::kMaxRecordsPerTag) {
        m_lines.push_back(*line);
        m_line = uint32_t(m_lines.size());
        m_lineWidth = std::max<double>(line->width, 20);
    } else {
        m_line = 0;
    }
    rec.line = m_line;
    rec.hasMove = true;
    rec.moveX = m_pen.x;
    rec.moveY = m_pen.y;
    styleChange(rec);
}

void Drawing::moveTo(double x, double y) {
    ShapeRecord rec;
    rec.hasMove = true;
    rec.moveX = x;
    rec.moveY = y;
    styleChange(rec);
    m_pen = {x, y};
    if (m_filling) m_fillStart = m_pen;
}

void Drawing::lineTo(double x, double y) {
    if (m_records.size() >= limits::kMaxRecordsPerTag) return;
    ShapeRecord rec;
    rec.kind = ShapeRecord::Kind::StraightEdge;
    rec.dx = x - m_pen.x;
    rec.dy = y - m_pen.y;
    m_records.push_back(rec);
    grow(m_pen.x, m_pen.y);
    grow(x, y);
    m_pen = {x, y};
    m_shape.reset();
}

void Drawing::curveTo(double cx, double cy, double x, double y) {
    if (m_records.size() >= limits::kMaxRecordsPerTag) return;
    ShapeRecord rec;
    rec.kind = ShapeRecord::Kind::CurvedEdge;
    rec.dx = cx - m_pen.x;
    rec.dy = cy - m_pen.y;
    rec.ax = x - cx;
    rec.ay = y - cy;
    m_records.push_back(rec);
    grow(m_pen.x, m_pen.y);
    grow(cx, cy);
    grow(x, y);
    m_pen = {x, y};
    m_shape.reset();
}

std::shared_ptr<const ShapeDef> Drawing::shape() const {
    if (m_records.empty()) return nullptr;
    if (!m_shape) {
        auto s = std::make_shared<ShapeDef>();
        s->version = 4;
        s->bounds = s->edgeBounds = m_bounds;
        s->layers = buildShapeLayers(m_fills, m_lines, m_records);
        m_shape = std::move(s);
    }
    return m_shape;
}

} // namespace swf
