#include "engine/render/bounds.h"

#include "engine/render/color.h"
#include "engine/render/filters.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace swf::render {

namespace {

// Stands for "anywhere": used when a command's extent is unknown.
const QRectF kEverywhere(-1e7, -1e7, 2e7, 2e7);

QRectF grow(const QRectF& r) { return r.isEmpty() ? r : r.adjusted(-1, -1, 1, 1); }

QRectF mapped(const Matrix& m, const QRectF& r) { return grow(toQTransform(m).mapRect(r)); }

QRectF twipsRect(const Rect& r) { return QRectF(r.xMin, r.yMin, r.width(), r.height()); }

QRectF glyphsBounds(const DrawGlyphs& g) {
    QRectF r;
    for (const auto& [index, origin] : g.glyphs) {
        (void)index;
        // Glyphs stay within their EM square around the origin, give or take
        // the overhang of italics; exact outlines are not needed here.
        r |= QRectF(origin.x - g.height, origin.y - 1.5 * g.height, 3 * g.height, 2.5 * g.height);
    }
    return mapped(g.matrix, r);
}

QRectF deviceTextBounds(const DrawDeviceText& t) {
    QFontMetricsF fm(t.font);
    QRectF r = fm.boundingRect(t.text);
    r.adjust(-fm.height() / 2, -2, fm.height() / 2, 2);
    r.translate(t.origin.x / 20, t.origin.y / 20);
    return mapped(t.matrix, QRectF(r.x() * 20, r.y() * 20, r.width() * 20, r.height() * 20));
}

double filterScale(const Matrix& m, bool horizontal) {
    return 20 * (horizontal ? std::hypot(m.a, m.b) : std::hypot(m.c, m.d));
}

} // namespace

QRectF shapeExtent(const ShapeDef& shape) {
    QRectF r = twipsRect(shape.bounds) | twipsRect(shape.edgeBounds);
    double reach = 0;
    for (const ShapeLayer& layer : shape.layers)
        for (const LineStyle& l : layer.lineStyles) {
            double half = l.width / 2.0;
            if (l.join == JoinStyle::Miter) half *= std::max(1.0, std::min(l.miterLimit, 100.0));
            else if (l.startCap == CapStyle::Square || l.endCap == CapStyle::Square) half *= M_SQRT2;
            reach = std::max(reach, half);
        }
    return r.adjusted(-reach, -reach, reach, reach);
}

QRectF commandBounds(const Command& command) {
    return std::visit(
        [](const auto& c) -> QRectF {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, DrawShape>) {
                if (!c.shape) return {};
                if (c.shape->bounds.empty() && c.shape->edgeBounds.empty()) return kEverywhere;
                // Hairlines and the one-pixel minimum width reach past the bounds.
                return mapped(c.matrix, shapeExtent(*c.shape)).adjusted(-1, -1, 1, 1);
            } else if constexpr (std::is_same_v<T, DrawBitmap>) {
                QSize size = c.bitmap ? c.bitmap->image.size() : c.image.size();
                return mapped(c.matrix, QRectF(QPointF(0, 0), QSizeF(size)));
            } else if constexpr (std::is_same_v<T, DrawGlyphs>) {
                return glyphsBounds(c);
            } else if constexpr (std::is_same_v<T, DrawDeviceText>) {
                return deviceTextBounds(c);
            } else if constexpr (std::is_same_v<T, DrawRect>) {
                return mapped(c.matrix, twipsRect(c.rect));
            } else {
                return {};
            }
        },
        command);
}

QRect pixelBox(const Rect& box, const QTransform& t) {
    // Kept well inside int range at absurd scales.
    auto whole = [](double v) { return int(std::clamp(v, -double(1 << 24), double(1 << 24))); };
    const int ox = whole(std::round(t.dx())), oy = whole(std::round(t.dy()));
    const int x0 = whole(std::floor(t.m11() * box.xMin)), x1 = whole(std::floor(t.m11() * box.xMax));
    const int y0 = whole(std::floor(t.m22() * box.yMin)), y1 = whole(std::floor(t.m22() * box.yMax));
    return QRect(QPoint(std::min(x0, x1) + ox, std::min(y0, y1) + oy),
                 QPoint(std::max(x0, x1) + ox - 1, std::max(y0, y1) + oy - 1));
}

std::vector<int> matchStructure(const std::vector<Command>& commands) {
    std::vector<int> partner(commands.size(), -1);
    std::vector<size_t> open; // PushMask, ActivateMask or BeginLayer waiting for its partner
    auto topIs = [&]<typename T>(T*) {
        return !open.empty() && std::holds_alternative<T>(commands[open.back()]);
    };
    for (size_t i = 0; i < commands.size(); ++i) {
        const Command& c = commands[i];
        if (std::holds_alternative<PushMask>(c) || std::holds_alternative<BeginLayer>(c)) {
            open.push_back(i);
        } else if (std::holds_alternative<ActivateMask>(c)) {
            if (topIs((PushMask*)nullptr)) {
                partner[open.back()] = int(i);
                open.back() = i;
            }
        } else if (std::holds_alternative<PopMask>(c)) {
            if (topIs((ActivateMask*)nullptr)) {
                partner[open.back()] = int(i);
                open.pop_back();
            }
        } else if (std::holds_alternative<EndLayer>(c)) {
            if (topIs((BeginLayer*)nullptr)) {
                partner[open.back()] = int(i);
                open.pop_back();
            }
        }
    }
    return partner;
}

QRectF rangeBounds(const std::vector<Command>& commands, const std::vector<int>& partners, size_t from,
                   size_t to) {
    QRectF r;
    to = std::min(to, commands.size());
    for (size_t i = from; i < to; ++i) {
        if (auto* layer = std::get_if<BeginLayer>(&commands[i]); layer && partners[i] > int(i)) {
            size_t end = std::min(size_t(partners[i]), to);
            QRectF inner = rangeBounds(commands, partners, i + 1, end);
            if (!layer->filterBytes.empty() && !inner.isEmpty()) {
                auto filters = parseFilters(layer->filterBytes);
                QMargins m = filterExtent(filters, filterScale(layer->filterMatrix, true),
                                          filterScale(layer->filterMatrix, false));
                inner = inner.marginsAdded(QMarginsF(m));
            }
            r |= inner;
            i = end;
            continue;
        }
        r |= commandBounds(commands[i]);
    }
    return r;
}

namespace {

// What a drawing command looks like, as a hash, including the masks and
// layers it is drawn inside: equal signatures draw equal pixels.
struct Item {
    size_t signature;
    QRectF bounds;
};

size_t mix(size_t h, size_t v) { return h ^ (v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2)); }

template <typename T> size_t hashBytes(const T& v) {
    return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(&v), sizeof v));
}

size_t hashMatrix(const Matrix& m) { return hashBytes(m); }
size_t hashCx(const ColorTransform& c) { return hashBytes(c); }

size_t hashCommand(const Command& command) {
    size_t h = command.index();
    std::visit(
        [&](const auto& c) {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, DrawShape>) {
                h = mix(mix(mix(h, size_t(c.shape.get())), hashMatrix(c.matrix)), hashCx(c.colorTransform));
            } else if constexpr (std::is_same_v<T, DrawBitmap>) {
                h = mix(h, size_t(c.bitmap.get()));
                h = mix(h, size_t(c.image.cacheKey()));
                h = mix(mix(mix(h, hashMatrix(c.matrix)), hashCx(c.colorTransform)), c.smoothed);
            } else if constexpr (std::is_same_v<T, DrawGlyphs>) {
                h = mix(mix(h, size_t(c.font.get())), hashBytes(c.height));
                for (const auto& [g, p] : c.glyphs) h = mix(mix(h, g), hashBytes(p));
                h = mix(mix(mix(h, hashBytes(c.color)), hashMatrix(c.matrix)), hashCx(c.colorTransform));
            } else if constexpr (std::is_same_v<T, DrawDeviceText>) {
                h = mix(mix(h, qHash(c.text)), qHash(c.font.key()));
                h = mix(mix(mix(h, hashBytes(c.origin)), hashBytes(c.color)), c.underline);
                h = mix(mix(h, hashMatrix(c.matrix)), hashCx(c.colorTransform));
            } else if constexpr (std::is_same_v<T, DrawRect>) {
                h = mix(mix(h, hashBytes(c.rect)), hashMatrix(c.matrix));
                h = mix(mix(h, c.fill ? hashBytes(*c.fill) + 1 : 0), c.line ? hashBytes(*c.line) + 1 : 0);
                h = mix(h, hashCx(c.colorTransform));
            } else if constexpr (std::is_same_v<T, BeginLayer>) {
                h = mix(mix(h, size_t(c.blendMode)), hashMatrix(c.filterMatrix));
                h = mix(h, std::hash<std::string_view>{}(std::string_view(
                               reinterpret_cast<const char*>(c.filterBytes.data()), c.filterBytes.size())));
            }
        },
        command);
    return h;
}

std::vector<Item> flatten(const CommandList& list) {
    std::vector<int> partners = matchStructure(list.commands);
    std::vector<Item> items;
    // Enclosing masks and layers: their signature, and the margin a layer's filters add.
    struct Context { size_t signature; QMarginsF growth; };
    std::vector<Context> context{{0, {}}};
    std::vector<int> closers; // index closing each context beyond the first
    for (size_t i = 0; i < list.commands.size(); ++i) {
        const Command& c = list.commands[i];
        while (!closers.empty() && int(i) == closers.back()) {
            context.pop_back();
            closers.pop_back();
        }
        if (std::holds_alternative<PushMask>(c) || std::holds_alternative<ActivateMask>(c) ||
            std::holds_alternative<BeginLayer>(c)) {
            if (partners[i] < 0) continue;
            QMarginsF growth = context.back().growth;
            if (auto* layer = std::get_if<BeginLayer>(&c); layer && !layer->filterBytes.empty()) {
                QMargins m = filterExtent(parseFilters(layer->filterBytes), filterScale(layer->filterMatrix, true),
                                          filterScale(layer->filterMatrix, false));
                growth += QMarginsF(m);
            }
            if (std::holds_alternative<ActivateMask>(c)) { // the mask's part ends here
                context.pop_back();
                closers.pop_back();
            }
            context.push_back({mix(context.back().signature, hashCommand(c)), growth});
            closers.push_back(partners[i]);
            continue;
        }
        QRectF b = commandBounds(c);
        if (b.isEmpty()) continue;
        items.push_back({mix(context.back().signature, hashCommand(c)), b.marginsAdded(context.back().growth)});
    }
    return items;
}

} // namespace

QRect dirtyRect(const CommandList& previous, const CommandList& current, const QRect& target) {
    if (!(previous.background == current.background)) return target;
    std::vector<Item> before = flatten(previous), after = flatten(current);
    std::unordered_multimap<size_t, size_t> unmatched;
    for (size_t i = 0; i < before.size(); ++i) unmatched.emplace(before[i].signature, i);
    std::vector<bool> beforeMatched(before.size(), false);
    QRectF dirty;
    long lastMatched = -1;
    for (const Item& item : after) {
        auto [lo, hi] = unmatched.equal_range(item.signature);
        if (lo == hi) {
            dirty |= item.bounds;
            continue;
        }
        // Prefer the earliest unmatched twin, to keep the stacking order.
        auto best = lo;
        for (auto it = lo; it != hi; ++it)
            if (it->second < best->second) best = it;
        size_t j = best->second;
        unmatched.erase(best);
        beforeMatched[j] = true;
        if (long(j) < lastMatched) {
            // Drawn in a different order than before: it may now cover or be
            // covered by something else.
            dirty |= item.bounds;
            dirty |= before[j].bounds;
        }
        lastMatched = std::max(lastMatched, long(j));
    }
    for (size_t j = 0; j < before.size(); ++j)
        if (!beforeMatched[j]) dirty |= before[j].bounds;
    return dirty.toAlignedRect() & target;
}

} // namespace swf::render
