#include "engine/swf/shape.h"

#include "engine/core/limits.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_map>

namespace swf {

namespace {

// ---- Styles ------------------------------------------------------------------

// Gradient stops as the Flash player reads them: each ratio must exceed the
// one before, so a smaller or equal one moves just past it (a stop that
// cannot fit below 256 is dropped); a gradient without stops draws black.
void normalizeStops(Gradient& g) {
    if (g.stops.empty()) {
        g.stops.push_back(GradientStop{0, Rgba{0, 0, 0, 255}});
        return;
    }
    int prev = -1;
    for (size_t i = 0; i < g.stops.size(); ++i) {
        int ratio = std::max<int>(g.stops[i].ratio, prev + 1);
        if (ratio > 255) {
            g.stops.resize(i);
            break;
        }
        g.stops[i].ratio = uint8_t(ratio);
        prev = ratio;
    }
}

// Reads shape records and styles of one tag; the first failure sticks and
// stops the reading (the Reader itself also fails safe past the end).
class ShapeReader {
public:
    ShapeReader(const TagContext& t, Reader& r, int shapeVersion)
        : m_t(t), m_r(r), m_version(shapeVersion) {}

    const std::optional<Error>& error() const { return m_error; }
    bool ok() const { return !m_error && !m_r.failed(); }

    void fail(ErrorCode code, const std::string& what) {
        if (!m_error) m_error = m_t.error(code, what);
    }

    // A count of records that each take at least `minBytes`: refuse counts the
    // remaining data cannot hold, before anything is allocated for them.
    bool checkCount(size_t count, size_t minBytes, const char* what) {
        if (count > limits::kMaxRecordsPerTag) {
            fail(ErrorCode::LimitExceeded, std::to_string(count) + " " + what + " exceed the limit");
            return false;
        }
        if (count * minBytes > m_r.remaining()) {
            fail(ErrorCode::Malformed, std::to_string(count) + " " + what + " exceed tag data");
            return false;
        }
        return true;
    }

    Rgba color() { return m_version >= 3 ? readRgba(m_r) : readRgb(m_r); }

    Gradient gradient(uint8_t type) {
        Gradient g;
        g.matrix = readMatrix(m_r);
        uint8_t head = m_r.u8();
        // Spread and interpolation bits exist from version 8 on; older files
        // leave them zero.
        g.spread = spreadFrom(head >> 6);
        g.interpolation = (head >> 4 & 3) == 1 ? Interpolation::LinearRgb : Interpolation::Rgb;
        unsigned count = head & 0x0f;
        g.stops.reserve(count);
        for (unsigned i = 0; i < count; ++i) {
            GradientStop s;
            s.ratio = m_r.u8();
            s.color = color();
            g.stops.push_back(s);
        }
        if (type == 0x13) g.focalPoint = std::clamp(m_r.fixed8(), -1.0, 1.0);
        normalizeStops(g);
        return g;
    }

    FillStyle fillStyle() {
        FillStyle f;
        uint8_t type = m_r.u8();
        if (!setFillType(f, type)) return f;
        if (type == 0x00) f.color = color();
        else if (f.type == FillType::Bitmap) {
            f.bitmapId = m_r.u16();
            f.bitmapMatrix = readMatrix(m_r);
        } else f.gradient = gradient(type);
        return f;
    }

    LineStyle lineStyle() {
        LineStyle l;
        l.width = m_r.u16();
        if (m_version < 4) {
            l.color = color();
            return l;
        }
        l.startCap = capFrom(m_r.ubits(2));
        l.join = joinFrom(m_r.ubits(2));
        bool hasFill = m_r.bit();
        l.noHScale = m_r.bit();
        l.noVScale = m_r.bit();
        l.pixelHinting = m_r.bit();
        m_r.ubits(5);
        l.noClose = m_r.bit();
        l.endCap = capFrom(m_r.ubits(2));
        if (l.join == JoinStyle::Miter) l.miterLimit = m_r.u16() / 256.0;
        if (hasFill) l.fill = fillStyle();
        else l.color = readRgba(m_r);
        return l;
    }

    void styles(std::vector<FillStyle>& fills, std::vector<LineStyle>& lines) {
        size_t n = arrayCount();
        if (!checkCount(n, 1, "fill styles")) return;
        fills.reserve(std::min(n, limits::kReserveCap));
        for (size_t i = 0; i < n && ok(); ++i) fills.push_back(fillStyle());
        n = arrayCount();
        if (!checkCount(n, 2, "line styles")) return;
        lines.reserve(std::min(n, limits::kReserveCap));
        for (size_t i = 0; i < n && ok(); ++i) lines.push_back(lineStyle());
    }

    // SHAPE / SHAPEWITHSTYLE record stream up to the end record.
    void records(std::vector<ShapeRecord>& out) {
        m_r.align();
        unsigned fillBits = m_r.ubits(4), lineBits = m_r.ubits(4);
        while (ok()) {
            if (out.size() >= limits::kMaxRecordsPerTag) {
                fail(ErrorCode::LimitExceeded, "shape records exceed the limit");
                return;
            }
            ShapeRecord rec;
            if (m_r.bit()) {
                bool straight = m_r.bit();
                unsigned n = m_r.ubits(4) + 2;
                if (straight) {
                    rec.kind = ShapeRecord::Kind::StraightEdge;
                    if (m_r.bit()) {
                        rec.dx = m_r.sbits(n);
                        rec.dy = m_r.sbits(n);
                    } else if (m_r.bit()) rec.dy = m_r.sbits(n);
                    else rec.dx = m_r.sbits(n);
                } else {
                    rec.kind = ShapeRecord::Kind::CurvedEdge;
                    rec.dx = m_r.sbits(n);
                    rec.dy = m_r.sbits(n);
                    rec.ax = m_r.sbits(n);
                    rec.ay = m_r.sbits(n);
                }
            } else {
                unsigned flags = m_r.ubits(5);
                if (flags == 0) break; // end of shape
                rec.kind = ShapeRecord::Kind::StyleChange;
                if (flags & 0x01) {
                    unsigned n = m_r.ubits(5);
                    rec.hasMove = true;
                    rec.moveX = m_r.sbits(n);
                    rec.moveY = m_r.sbits(n);
                }
                if (flags & 0x02) rec.fill0 = m_r.ubits(fillBits);
                if (flags & 0x04) rec.fill1 = m_r.ubits(fillBits);
                if (flags & 0x08) rec.line = m_r.ubits(lineBits);
                if (flags & 0x10) {
                    rec.newStyles = true;
                    styles(rec.fillStyles, rec.lineStyles);
                    m_r.align();
                    fillBits = m_r.ubits(4);
                    lineBits = m_r.ubits(4);
                }
            }
            out.push_back(std::move(rec));
        }
        if (m_r.failed()) fail(ErrorCode::Truncated, "shape records run past the end of the tag");
    }

    // Morph styles: each value comes as a start/end pair.
    void morphFill(FillStyle& s, FillStyle& e) {
        uint8_t type = m_r.u8();
        if (!setFillType(s, type)) return;
        e.type = s.type;
        if (type == 0x00) {
            s.color = readRgba(m_r);
            e.color = readRgba(m_r);
        } else if (s.type == FillType::Bitmap) {
            s.bitmapId = e.bitmapId = m_r.u16();
            s.bitmapMatrix = readMatrix(m_r);
            e.bitmapMatrix = readMatrix(m_r);
            e.bitmapRepeat = s.bitmapRepeat;
            e.bitmapSmoothed = s.bitmapSmoothed;
        } else {
            s.gradient.matrix = readMatrix(m_r);
            e.gradient.matrix = readMatrix(m_r);
            uint8_t head = m_r.u8();
            s.gradient.spread = e.gradient.spread = spreadFrom(head >> 6);
            s.gradient.interpolation = e.gradient.interpolation =
                (head >> 4 & 3) == 1 ? Interpolation::LinearRgb : Interpolation::Rgb;
            unsigned count = head & 0x0f;
            for (unsigned i = 0; i < count; ++i) {
                GradientStop a, b;
                a.ratio = m_r.u8();
                a.color = readRgba(m_r);
                b.ratio = m_r.u8();
                b.color = readRgba(m_r);
                s.gradient.stops.push_back(a);
                e.gradient.stops.push_back(b);
            }
            if (type == 0x13) {
                s.gradient.focalPoint = std::clamp(m_r.fixed8(), -1.0, 1.0);
                e.gradient.focalPoint = std::clamp(m_r.fixed8(), -1.0, 1.0);
            }
        }
    }

    void morphLine(LineStyle& s, LineStyle& e, int morphVersion) {
        s.width = m_r.u16();
        e.width = m_r.u16();
        if (morphVersion >= 2) {
            s.startCap = capFrom(m_r.ubits(2));
            s.join = joinFrom(m_r.ubits(2));
            bool hasFill = m_r.bit();
            s.noHScale = m_r.bit();
            s.noVScale = m_r.bit();
            s.pixelHinting = m_r.bit();
            m_r.ubits(5);
            s.noClose = m_r.bit();
            s.endCap = capFrom(m_r.ubits(2));
            if (s.join == JoinStyle::Miter) s.miterLimit = m_r.u16() / 256.0;
            uint16_t w = e.width;
            e = s;
            e.width = w;
            if (hasFill) {
                FillStyle fs, fe;
                morphFill(fs, fe);
                s.fill = fs;
                e.fill = fe;
                return;
            }
        }
        s.color = readRgba(m_r);
        e.color = readRgba(m_r);
    }

    size_t arrayCount() {
        size_t n = m_r.u8();
        if (n == 0xff && m_version >= 2) n = m_r.u16();
        return n;
    }

private:
    static SpreadMode spreadFrom(unsigned v) {
        return v == 1 ? SpreadMode::Reflect : v == 2 ? SpreadMode::Repeat : SpreadMode::Pad;
    }
    static CapStyle capFrom(unsigned v) {
        return v == 1 ? CapStyle::None : v == 2 ? CapStyle::Square : CapStyle::Round;
    }
    static JoinStyle joinFrom(unsigned v) {
        return v == 1 ? JoinStyle::Bevel : v == 2 ? JoinStyle::Miter : JoinStyle::Round;
    }
    bool setFillType(FillStyle& f, uint8_t type) {
        switch (type) {
        case 0x00: f.type = FillType::Solid; return true;
        case 0x10: f.type = FillType::LinearGradient; return true;
        case 0x12: f.type = FillType::RadialGradient; return true;
        case 0x13: f.type = FillType::FocalGradient; return true;
        case 0x40: case 0x41: case 0x42: case 0x43:
            f.type = FillType::Bitmap;
            f.bitmapRepeat = (type & 1) == 0;
            f.bitmapSmoothed = (type & 2) == 0;
            return true;
        default:
            fail(ErrorCode::Malformed, "unknown fill style type " + std::to_string(type));
            return false;
        }
    }

    const TagContext& m_t;
    Reader& m_r;
    int m_version;
    std::optional<Error> m_error;
};

int shapeVersionOf(uint16_t code) {
    switch (code) {
    case tag::DefineShape2: return 2;
    case tag::DefineShape3: return 3;
    case tag::DefineShape4: return 4;
    default: return 1;
    }
}

// ---- Building paths -----------------------------------------------------------

struct PointKey {
    int64_t x, y;
    bool operator==(const PointKey&) const = default;
};
struct PointKeyHash {
    size_t operator()(const PointKey& k) const {
        return std::hash<int64_t>()(k.x * 0x9E3779B97F4A7C15ull ^ k.y);
    }
};
// Endpoints match within 1/64 twip: morphed coordinates are fractional and
// may differ in the last bits where a contour closes.
PointKey keyOf(Point p) { return {std::llround(p.x * 64), std::llround(p.y * 64)}; }

Edge reversed(const Edge& e) { return {e.to, e.control, e.from, e.curved}; }

// Chains oriented edges into contours: each contour follows edges whose start
// meets the previous end, until it closes or no edge continues it.
std::vector<Edge> chainContours(const std::vector<Edge>& edges) {
    std::unordered_map<PointKey, std::vector<size_t>, PointKeyHash> byStart;
    for (size_t i = 0; i < edges.size(); ++i) byStart[keyOf(edges[i].from)].push_back(i);
    std::unordered_map<PointKey, size_t, PointKeyHash> cursor; // first maybe-unused per bucket
    std::vector<bool> used(edges.size(), false);
    std::vector<Edge> out;
    out.reserve(edges.size());
    auto nextFrom = [&](Point p) -> std::optional<size_t> {
        PointKey k = keyOf(p);
        auto it = byStart.find(k);
        if (it == byStart.end()) return std::nullopt;
        size_t& c = cursor[k];
        while (c < it->second.size() && used[it->second[c]]) ++c;
        if (c == it->second.size()) return std::nullopt;
        return it->second[c];
    };
    for (size_t i = 0; i < edges.size(); ++i) {
        if (used[i]) continue;
        PointKey start = keyOf(edges[i].from);
        size_t cur = i;
        while (true) {
            used[cur] = true;
            out.push_back(edges[cur]);
            if (keyOf(edges[cur].to) == start) break;
            auto next = nextFrom(edges[cur].to);
            if (!next) break;
            cur = *next;
        }
    }
    return out;
}

// Gathers the edges of each style of the layer being drawn.
class LayerBuilder {
public:
    void begin(std::vector<FillStyle> fills, std::vector<LineStyle> lines) {
        flush();
        m_layer = ShapeLayer{};
        m_layer.fillStyles = std::move(fills);
        m_layer.lineStyles = std::move(lines);
        m_fillEdges.assign(m_layer.fillStyles.size(), {});
        m_lineEdges.assign(m_layer.lineStyles.size(), {});
        m_open = true;
        fill0 = fill1 = line = 0;
    }

    void edge(const Edge& e) {
        if (fill1 && fill1 <= m_fillEdges.size()) m_fillEdges[fill1 - 1].push_back(e);
        if (fill0 && fill0 <= m_fillEdges.size()) m_fillEdges[fill0 - 1].push_back(reversed(e));
        if (line && line <= m_lineEdges.size()) m_lineEdges[line - 1].push_back(e);
    }

    std::vector<ShapeLayer> finish() {
        flush();
        return std::move(m_layers);
    }

    uint32_t fill0 = 0, fill1 = 0, line = 0; // 1-based; 0 = none

private:
    void flush() {
        if (!m_open) return;
        for (size_t i = 0; i < m_fillEdges.size(); ++i)
            if (!m_fillEdges[i].empty())
                m_layer.fills.push_back({uint32_t(i), chainContours(m_fillEdges[i])});
        for (size_t i = 0; i < m_lineEdges.size(); ++i)
            if (!m_lineEdges[i].empty())
                m_layer.lines.push_back({uint32_t(i), std::move(m_lineEdges[i])});
        m_layers.push_back(std::move(m_layer));
        m_open = false;
    }

    bool m_open = false;
    ShapeLayer m_layer;
    std::vector<std::vector<Edge>> m_fillEdges, m_lineEdges;
    std::vector<ShapeLayer> m_layers;
};

void applyStyleChange(LayerBuilder& b, const ShapeRecord& rec) {
    if (rec.newStyles) b.begin(rec.fillStyles, rec.lineStyles);
    if (rec.fill0) b.fill0 = *rec.fill0;
    if (rec.fill1) b.fill1 = *rec.fill1;
    if (rec.line) b.line = *rec.line;
}

Edge edgeOf(const ShapeRecord& rec, Point from) {
    Edge e;
    e.from = from;
    if (rec.kind == ShapeRecord::Kind::CurvedEdge) {
        e.curved = true;
        e.control = {from.x + rec.dx, from.y + rec.dy};
        e.to = {e.control.x + rec.ax, e.control.y + rec.ay};
    } else {
        e.to = {from.x + rec.dx, from.y + rec.dy};
        e.control = {(from.x + e.to.x) / 2, (from.y + e.to.y) / 2};
    }
    return e;
}

// ---- Interpolation ---------------------------------------------------------------

double lerp(double a, double b, double t) { return a + (b - a) * t; }
uint8_t lerp8(uint8_t a, uint8_t b, double t) {
    return uint8_t(std::clamp(std::lround(lerp(a, b, t)), 0L, 255L));
}
Rgba lerp(Rgba a, Rgba b, double t) {
    return {lerp8(a.r, b.r, t), lerp8(a.g, b.g, t), lerp8(a.b, b.b, t), lerp8(a.a, b.a, t)};
}
Point lerp(Point a, Point b, double t) { return {lerp(a.x, b.x, t), lerp(a.y, b.y, t)}; }
Matrix lerp(const Matrix& a, const Matrix& b, double t) {
    return {lerp(a.a, b.a, t), lerp(a.b, b.b, t), lerp(a.c, b.c, t),
            lerp(a.d, b.d, t), lerp(a.tx, b.tx, t), lerp(a.ty, b.ty, t)};
}
Rect lerp(const Rect& a, const Rect& b, double t) {
    auto li = [t](int32_t x, int32_t y) { return int32_t(std::lround(lerp(x, y, t))); };
    return {li(a.xMin, b.xMin), li(a.xMax, b.xMax), li(a.yMin, b.yMin), li(a.yMax, b.yMax)};
}

FillStyle lerp(const FillStyle& a, const FillStyle& b, double t) {
    FillStyle f = a;
    f.color = lerp(a.color, b.color, t);
    f.bitmapMatrix = lerp(a.bitmapMatrix, b.bitmapMatrix, t);
    f.gradient.matrix = lerp(a.gradient.matrix, b.gradient.matrix, t);
    f.gradient.focalPoint = lerp(a.gradient.focalPoint, b.gradient.focalPoint, t);
    for (size_t i = 0; i < f.gradient.stops.size() && i < b.gradient.stops.size(); ++i) {
        f.gradient.stops[i].ratio = lerp8(a.gradient.stops[i].ratio, b.gradient.stops[i].ratio, t);
        f.gradient.stops[i].color = lerp(a.gradient.stops[i].color, b.gradient.stops[i].color, t);
    }
    if (f.type != FillType::Solid && f.type != FillType::Bitmap) normalizeStops(f.gradient);
    return f;
}

LineStyle lerp(const LineStyle& a, const LineStyle& b, double t) {
    LineStyle l = a;
    l.width = uint16_t(std::clamp(std::lround(lerp(a.width, b.width, t)), 0L, 65535L));
    l.color = lerp(a.color, b.color, t);
    if (a.fill && b.fill) l.fill = lerp(*a.fill, *b.fill, t);
    return l;
}

template <typename T>
std::vector<T> lerpAll(const std::vector<T>& a, const std::vector<T>& b, double t) {
    std::vector<T> out;
    out.reserve(a.size());
    for (size_t i = 0; i < a.size(); ++i) out.push_back(i < b.size() ? lerp(a[i], b[i], t) : a[i]);
    return out;
}

} // namespace

std::vector<ShapeLayer> buildShapeLayers(const std::vector<FillStyle>& fills,
                                         const std::vector<LineStyle>& lines,
                                         const std::vector<ShapeRecord>& records) {
    LayerBuilder b;
    b.begin(fills, lines);
    Point pos;
    for (const auto& rec : records) {
        if (rec.kind == ShapeRecord::Kind::StyleChange) {
            applyStyleChange(b, rec);
            if (rec.hasMove) pos = {rec.moveX, rec.moveY};
            continue;
        }
        Edge e = edgeOf(rec, pos);
        b.edge(e);
        pos = e.to;
    }
    return b.finish();
}

Result<std::shared_ptr<ShapeDef>> parseDefineShape(const TagContext& t) {
    Reader r(t.body);
    auto shape = std::make_shared<ShapeDef>();
    shape->version = shapeVersionOf(t.code);
    shape->id = r.u16();
    shape->bounds = readRect(r);
    if (shape->version >= 4) {
        shape->edgeBounds = readRect(r);
        uint8_t flags = r.u8();
        shape->nonScalingStrokes = flags & 0x02;
        shape->scalingStrokes = flags & 0x01;
    } else {
        shape->edgeBounds = shape->bounds;
    }
    ShapeReader sr(t, r, shape->version);
    std::vector<FillStyle> fills;
    std::vector<LineStyle> lines;
    sr.styles(fills, lines);
    std::vector<ShapeRecord> records;
    if (sr.ok()) sr.records(records);
    if (sr.error()) return *sr.error();
    if (r.failed()) return t.truncated("shape records run past the end of the tag");
    shape->layers = buildShapeLayers(fills, lines, records);
    return shape;
}

bool readGlyphShape(Reader& r, ShapeDef& out) {
    TagContext none;
    ShapeReader sr(none, r, 1);
    std::vector<ShapeRecord> records;
    sr.records(records);
    if (!sr.ok()) return false;
    FillStyle ink; // solid black; text colour is applied when drawing
    out.layers = buildShapeLayers({ink}, {}, records);
    for (const auto& rec : records) // glyphs use fill style 1 only; no new styles
        if (rec.newStyles) return false;
    return true;
}

Result<std::shared_ptr<MorphShapeDef>> parseDefineMorphShape(const TagContext& t) {
    Reader r(t.body);
    auto m = std::make_shared<MorphShapeDef>();
    m->version = t.code == tag::DefineMorphShape2 ? 2 : 1;
    m->id = r.u16();
    m->startBounds = readRect(r);
    m->endBounds = readRect(r);
    if (m->version >= 2) {
        m->startEdgeBounds = readRect(r);
        m->endEdgeBounds = readRect(r);
        uint8_t flags = r.u8();
        m->nonScalingStrokes = flags & 0x02;
        m->scalingStrokes = flags & 0x01;
    } else {
        m->startEdgeBounds = m->startBounds;
        m->endEdgeBounds = m->endBounds;
    }
    uint32_t endEdgesOffset = r.u32();
    size_t endEdgesAt = r.pos(); // the offset counts from here
    ShapeReader sr(t, r, m->version >= 2 ? 4 : 3);
    size_t n = sr.arrayCount();
    // DefineMorphShape always allows the extended count.
    if (!sr.checkCount(n, 3, "morph fill styles")) return *sr.error();
    for (size_t i = 0; i < n && sr.ok(); ++i) {
        FillStyle s, e;
        sr.morphFill(s, e);
        m->startFills.push_back(std::move(s));
        m->endFills.push_back(std::move(e));
    }
    n = sr.arrayCount();
    if (sr.ok() && !sr.checkCount(n, 12, "morph line styles")) return *sr.error();
    for (size_t i = 0; i < n && sr.ok(); ++i) {
        LineStyle s, e;
        sr.morphLine(s, e, m->version);
        m->startLines.push_back(std::move(s));
        m->endLines.push_back(std::move(e));
    }
    if (sr.error()) return *sr.error();
    if (r.failed()) return t.truncated("morph styles run past the end of the tag");
    sr.records(m->startRecords);
    if (sr.error()) return *sr.error();
    if (endEdgesAt + uint64_t(endEdgesOffset) > t.body.size())
        return t.error(ErrorCode::Malformed, "end edges offset " + std::to_string(endEdgesOffset) +
                                                 " exceeds tag data");
    Reader er(t.body.subspan(endEdgesAt + endEdgesOffset));
    ShapeReader esr(t, er, m->version >= 2 ? 4 : 3);
    esr.records(m->endRecords);
    if (esr.error()) return *esr.error();
    return m;
}

ShapeDef morphAt(const MorphShapeDef& morph, double ratio01) {
    const double t = std::clamp(ratio01, 0.0, 1.0);
    ShapeDef shape;
    shape.id = morph.id;
    shape.version = morph.version >= 2 ? 4 : 3;
    shape.bounds = lerp(morph.startBounds, morph.endBounds, t);
    shape.edgeBounds = lerp(morph.startEdgeBounds, morph.endEdgeBounds, t);
    shape.nonScalingStrokes = morph.nonScalingStrokes;
    shape.scalingStrokes = morph.scalingStrokes;

    LayerBuilder b;
    b.begin(lerpAll(morph.startFills, morph.endFills, t), lerpAll(morph.startLines, morph.endLines, t));
    const auto& sRecs = morph.startRecords;
    const auto& eRecs = morph.endRecords;
    Point sPos, ePos;
    size_t j = 0;
    auto isEdge = [](const ShapeRecord& r) { return r.kind != ShapeRecord::Kind::StyleChange; };
    for (const auto& s : sRecs) {
        if (!isEdge(s)) {
            // Style changes only live in the start shape; a move pairs with the
            // end shape's next style change, which carries its own move.
            if (s.fill0) b.fill0 = *s.fill0;
            if (s.fill1) b.fill1 = *s.fill1;
            if (s.line) b.line = *s.line;
            if (s.hasMove) sPos = {s.moveX, s.moveY};
            if (j < eRecs.size() && !isEdge(eRecs[j])) {
                if (eRecs[j].hasMove) ePos = {eRecs[j].moveX, eRecs[j].moveY};
                ++j;
            }
            continue;
        }
        // Moves the end shape makes without a matching start record.
        while (j < eRecs.size() && !isEdge(eRecs[j])) {
            if (eRecs[j].hasMove) ePos = {eRecs[j].moveX, eRecs[j].moveY};
            ++j;
        }
        Edge se = edgeOf(s, sPos);
        Edge ee = j < eRecs.size() ? edgeOf(eRecs[j], ePos) : Edge{ePos, ePos, ePos, false};
        if (j < eRecs.size()) ++j;
        sPos = se.to;
        ePos = ee.to;
        Edge e{lerp(se.from, ee.from, t), lerp(se.control, ee.control, t), lerp(se.to, ee.to, t),
               se.curved || ee.curved};
        b.edge(e);
    }
    shape.layers = b.finish();
    return shape;
}

} // namespace swf
