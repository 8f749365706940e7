#include "engine/render/stroke.h"

#include "engine/core/limits.h"
#include "engine/render/outline_cache.h"
#include "engine/render/shape_cache.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace swf::render {

namespace {

using limits::kMaxArcSegmentsPerTurn;
// Turns smaller than this (sine of the angle) are treated as straight on.
constexpr double kStraight = 1e-9;

QPointF rotated90(QPointF d) { return {-d.y(), d.x()}; }
double dot(QPointF a, QPointF b) { return a.x() * b.x() + a.y() * b.y(); }
double cross(QPointF a, QPointF b) { return a.x() * b.y() - a.y() * b.x(); }

QPointF unit(QPointF v) {
    const double n = std::hypot(v.x(), v.y());
    return n > 0 ? v / n : QPointF(1, 0);
}

class Outliner {
public:
    Outliner(const StrokeStyle& style, double tolerance, Contours& out)
        : m_style(style), m_half(style.width / 2), m_out(out) {
        // Chord angle whose sagitta on a circle of the stroke's radius is the tolerance.
        const double ratio = std::clamp(1 - tolerance / std::max(m_half, 1e-12), -1.0, 1.0);
        m_arcStep = std::max(2 * std::acos(ratio), 2 * std::numbers::pi / kMaxArcSegmentsPerTurn);
    }

    void line(std::vector<QPointF>& p, bool closed) {
        if (p.size() == 1) return disc(p[0]);
        if (closed && p.size() > 2) {
            side(p, true);
            finish();
            std::reverse(p.begin(), p.end());
            side(p, true);
            finish();
            return;
        }
        side(p, false);
        cap(p.back(), unit(p.back() - p[p.size() - 2]), m_style.endCap);
        std::reverse(p.begin(), p.end());
        side(p, false);
        cap(p.back(), unit(p.back() - p[p.size() - 2]), m_style.startCap);
        finish();
    }

private:
    // A line of no length: round caps make a disc, square ones a square.
    void disc(QPointF at) {
        const QPointF d(1, 0), n = rotated90(d) * m_half;
        if (m_style.startCap == CapStyle::None) return;
        m_polygon.push_back(at + n);
        cap(at, d, m_style.startCap);
        m_polygon.push_back(at - n);
        cap(at, -d, m_style.startCap);
        finish();
    }

    // The left side of p (offset by half the width), with joins where it
    // is the outer side of a corner; closed lines join at their first point too.
    void side(const std::vector<QPointF>& p, bool closed) {
        const size_t n = p.size();
        auto direction = [&](size_t i) { return unit(p[(i + 1) % n] - p[i]); };
        auto length = [&](size_t i) { return std::hypot(p[(i + 1) % n].x() - p[i].x(), p[(i + 1) % n].y() - p[i].y()); };
        if (!closed) m_polygon.push_back(p[0] + rotated90(direction(0)) * m_half);
        const size_t segments = closed ? n : n - 1;
        for (size_t i = 0; i < segments; ++i) {
            const QPointF corner = p[(i + 1) % n];
            if (closed || i + 1 < segments)
                join(corner, direction(i), direction((i + 1) % n), std::min(length(i), length((i + 1) % n)));
            else
                m_polygon.push_back(corner + rotated90(direction(i)) * m_half);
        }
    }

    // At `at`, from the side along d1 to the side along d2; `shorter` is the
    // length of the shorter of the two segments.
    void join(QPointF at, QPointF d1, QPointF d2, double shorter) {
        const QPointF u1 = rotated90(d1), u2 = rotated90(d2);
        const double turn = cross(d1, d2), along = dot(d1, d2);
        if (std::abs(turn) < kStraight && along > 0) return m_polygon.push_back(at + u2 * m_half);
        if (turn > 0) {
            // The inner side: where the two offset lines cross, when that is
            // within the halves of both segments next to the corner (so the
            // crossings of neighbouring corners cannot pass each other);
            // otherwise through the corner, so that the pieces overlap.
            const double reach = m_half * turn / (1 + along);
            if (along > 0 && 2 * reach <= shorter) return m_polygon.push_back(at + (u1 + u2) * (m_half / (1 + along)));
            m_polygon.push_back(at + u1 * m_half);
            m_polygon.push_back(at);
            m_polygon.push_back(at + u2 * m_half);
            return;
        }
        m_polygon.push_back(at + u1 * m_half);
        switch (m_style.join) {
        case JoinStyle::Round: arc(at, u1, turn < 0 ? std::atan2(turn, along) : -std::numbers::pi); break;
        case JoinStyle::Miter: miter(at, d1, d2); break;
        case JoinStyle::Bevel: break;
        }
        m_polygon.push_back(at + u2 * m_half);
    }

    void miter(QPointF at, QPointF d1, QPointF d2) {
        const QPointF u1 = rotated90(d1), u2 = rotated90(d2);
        const QPointF sum = u1 + u2;
        // Straight back: the miter would point along the line.
        const QPointF bisector = std::hypot(sum.x(), sum.y()) > 1e-9 ? unit(sum) : d1;
        const double cosHalf = dot(u1, bisector);
        const double limit = m_style.miterLimit * m_style.width;
        if (cosHalf > 0 && m_half <= limit * cosHalf) {
            m_polygon.push_back(at + bisector * (m_half / cosHalf));
            return;
        }
        // Cut across the bisector at the limit; a cut inside the bevel is the bevel.
        const double sinHalf = dot(d1, bisector);
        if (limit <= m_half * cosHalf || sinHalf <= 0) return;
        const double s = (limit - m_half * cosHalf) / sinHalf;
        m_polygon.push_back(at + u1 * m_half + d1 * s);
        m_polygon.push_back(at + u2 * m_half - d2 * s);
    }

    // Leaves the path at at + n * half (n: the normal of direction d), ready
    // for the side that comes back along -n.
    void cap(QPointF at, QPointF d, CapStyle style) {
        const QPointF n = rotated90(d) * m_half;
        switch (style) {
        case CapStyle::Round: arc(at, rotated90(d), -std::numbers::pi); break;
        case CapStyle::Square:
            m_polygon.push_back(at + n + d * m_half);
            m_polygon.push_back(at - n + d * m_half);
            break;
        case CapStyle::None: break;
        }
    }

    // The points strictly inside an arc of the stroke's radius around `at`
    // from direction u, turning by `angle` radians.
    void arc(QPointF at, QPointF u, double angle) {
        const int steps = std::max(1, int(std::ceil(std::abs(angle) / m_arcStep)));
        const double start = std::atan2(u.y(), u.x());
        for (int i = 1; i < steps; ++i) {
            const double a = start + angle * i / steps;
            m_polygon.push_back(at + QPointF(std::cos(a), std::sin(a)) * m_half);
        }
    }

    void finish() {
        if (m_polygon.size() > 2) {
            m_out.points.insert(m_out.points.end(), m_polygon.begin(), m_polygon.end());
            m_out.ends.push_back(uint32_t(m_out.points.size()));
        }
        m_polygon.clear();
    }

    const StrokeStyle& m_style;
    const double m_half;
    double m_arcStep;
    Contours& m_out;
    std::vector<QPointF> m_polygon;
};

} // namespace

Polylines centreLines(const StyledPath& path, double tolerance, bool noClose) {
    Polylines out;
    size_t start = 0;
    auto endLine = [&] {
        if (out.points.size() == start) return;
        const bool loop = out.points.size() - start > 2 && out.points.back() == out.points[start];
        out.ends.push_back(uint32_t(out.points.size()));
        out.closed.push_back(loop && !noClose);
        start = out.points.size();
    };
    for (const Edge& e : path.edges) {
        if (out.points.size() == start || QPointF(e.from.x, e.from.y) != out.points.back()) {
            endLine();
            out.points.emplace_back(e.from.x, e.from.y);
        }
        if (e.curved) {
            const int n = quadSegments(e.from, e.control, e.to, tolerance);
            for (int i = 1; i < n; ++i) out.points.push_back(quadPoint(e.from, e.control, e.to, double(i) / n));
        }
        out.points.emplace_back(e.to.x, e.to.y);
    }
    endLine();
    return out;
}

StrokeStyle strokeStyle(const LineStyle& style, double width) {
    return StrokeStyle{width, style.startCap, style.endCap, style.join, std::max(1.0, style.miterLimit)};
}

void strokeLines(const Polylines& lines, const StrokeStyle& style, double tolerance, Contours& out) {
    if (!(style.width > 0) || !std::isfinite(style.width)) return;
    Outliner outliner(style, tolerance, out);
    std::vector<QPointF> points;
    uint32_t start = 0;
    for (size_t i = 0; i < lines.ends.size(); ++i) {
        points.clear();
        for (uint32_t k = start; k < lines.ends[i]; ++k)
            if (points.empty() || lines.points[k] != points.back()) points.push_back(lines.points[k]);
        const bool closed = lines.closed[i];
        // A closed line's last point is its first.
        if (closed && points.size() > 1 && points.back() == points.front()) points.pop_back();
        if (!points.empty()) outliner.line(points, closed);
        start = lines.ends[i];
    }
}

} // namespace swf::render
