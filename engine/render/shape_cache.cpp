#include "engine/render/shape_cache.h"

#include "engine/core/limits.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace swf::render {

namespace {
using limits::kMaxCurveSegments;

void addQuad(QPainterPath& path, Point p0, Point c, Point p1, double tolerance) {
    const int n = quadSegments(p0, c, p1, tolerance);
    for (int i = 1; i < n; ++i) path.lineTo(quadPoint(p0, c, p1, double(i) / n));
    path.lineTo(p1.x, p1.y);
}
// An edge's identity whichever way it runs.
struct EdgeKey {
    double x0, y0, x1, y1, cx, cy;
    bool operator==(const EdgeKey&) const = default;
};
struct EdgeKeyHash {
    size_t operator()(const EdgeKey& k) const {
        size_t h = 0;
        for (double v : {k.x0, k.y0, k.x1, k.y1, k.cx, k.cy}) h = h * 1099511628211ULL ^ std::hash<double>{}(v);
        return h;
    }
};
EdgeKey keyOf(const Edge& e) {
    bool forward = std::tie(e.from.x, e.from.y) < std::tie(e.to.x, e.to.y);
    const Point& a = forward ? e.from : e.to;
    const Point& b = forward ? e.to : e.from;
    return {a.x, a.y, b.x, b.y, e.curved ? e.control.x : 0, e.curved ? e.control.y : 0};
}

std::vector<QPainterPath> seamPaths(const ShapeLayer& layer, double tolerance) {
    std::vector<QPainterPath> seams(layer.fills.size());
    if (layer.fills.size() < 2) return seams;
    // The last fill (in drawing order) that has each edge.
    std::unordered_map<EdgeKey, size_t, EdgeKeyHash> lastOwner;
    for (size_t i = 0; i < layer.fills.size(); ++i)
        for (const Edge& e : layer.fills[i].edges) lastOwner[keyOf(e)] = i;
    for (size_t i = 0; i + 1 < layer.fills.size(); ++i) {
        StyledPath shared{layer.fills[i].style, {}};
        for (const Edge& e : layer.fills[i].edges)
            if (lastOwner[keyOf(e)] > i) shared.edges.push_back(e);
        if (!shared.edges.empty()) seams[i] = buildPath(shared, tolerance, true, true);
    }
    return seams;
}

} // namespace

int quadSegments(Point p0, Point c, Point p1, double tolerance) {
    // Uniform subdivision of a quadratic curve into n chords deviates at most
    // |p0 - 2c + p1| / (8 n^2) from it.
    const double dd = std::hypot(p0.x - 2 * c.x + p1.x, p0.y - 2 * c.y + p1.y);
    if (!(tolerance > 0)) return kMaxCurveSegments;
    const double n = std::ceil(std::sqrt(dd / (8 * tolerance)));
    return n >= 1 ? int(std::min(n, double(kMaxCurveSegments))) : 1;
}

QPointF quadPoint(Point p0, Point c, Point p1, double t) {
    const double u = 1 - t;
    return {u * u * p0.x + 2 * u * t * c.x + t * t * p1.x, u * u * p0.y + 2 * u * t * c.y + t * t * p1.y};
}

double matrixScale(const Matrix& m) {
    return std::max(std::hypot(m.a, m.b), std::hypot(m.c, m.d));
}

QPainterPath buildPath(const StyledPath& styled, double tolerance, bool isLine, bool noClose) {
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    bool first = true;
    Point start, last;
    auto closeIfLoop = [&] {
        if (isLine && !first && !noClose && start == last) path.closeSubpath();
    };
    for (const Edge& e : styled.edges) {
        if (first || !(e.from == last)) {
            closeIfLoop();
            path.moveTo(e.from.x, e.from.y);
            start = e.from;
            first = false;
        }
        if (e.curved && tolerance <= 0)
            path.quadTo(e.control.x, e.control.y, e.to.x, e.to.y);
        else if (e.curved)
            addQuad(path, e.from, e.control, e.to, tolerance);
        else
            path.lineTo(e.to.x, e.to.y);
        last = e.to;
    }
    closeIfLoop();
    return path;
}

const ShapePaths& ShapeCache::get(const ShapeDef& shape, const std::shared_ptr<const void>& owner,
                                  double scale) {
    scale = std::max(scale, 1e-4);
    Entry& entry = m_entries[&shape];
    bool stale = entry.owner.owner_before(owner) || owner.owner_before(entry.owner) ||
                 (owner && entry.owner.expired());
    // Flattened for a scale within [0.25x, 1.5x] of this one is close enough.
    bool wrongScale = scale > entry.paths.scale * 1.5 || scale < entry.paths.scale * 0.25;
    if (!stale && !wrongScale) return entry.paths;

    entry.owner = owner;
    ShapePaths& paths = entry.paths;
    paths = {};
    paths.scale = scale;
    paths.allFills.setFillRule(Qt::OddEvenFill);
    double tolerance = kFlattenPixels / scale;
    for (const ShapeLayer& layer : shape.layers) {
        ShapePaths::Layer out;
        for (const StyledPath& f : layer.fills) {
            out.fills.push_back(buildPath(f, tolerance, false));
            paths.allFills.addPath(out.fills.back());
        }
        out.seams = seamPaths(layer, tolerance);
        for (const StyledPath& l : layer.lines) {
            bool noClose = l.style < layer.lineStyles.size() && layer.lineStyles[l.style].noClose;
            out.lines.push_back(buildPath(l, tolerance, true, noClose));
        }
        paths.layers.push_back(std::move(out));
    }
    return paths;
}

void ShapeCache::sweep() {
    std::erase_if(m_entries, [](const auto& kv) { return kv.second.owner.expired(); });
}

} // namespace swf::render
