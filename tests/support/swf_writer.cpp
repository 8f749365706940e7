#include "tests/support/swf_writer.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace swf::test {

// ---- ByteWriter ----------------------------------------------------------------

ByteWriter& ByteWriter::u8(uint8_t v) {
    align();
    m_out.push_back(v);
    return *this;
}
ByteWriter& ByteWriter::u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
ByteWriter& ByteWriter::u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
ByteWriter& ByteWriter::cstring(const std::string& s) {
    for (char c : s) u8(uint8_t(c));
    return u8(0);
}
ByteWriter& ByteWriter::bytes(const Bytes& b) {
    align();
    m_out.insert(m_out.end(), b.begin(), b.end());
    return *this;
}
ByteWriter& ByteWriter::encodedU32(uint32_t v) {
    do {
        uint8_t b = v & 0x7f;
        v >>= 7;
        u8(v ? b | 0x80 : b);
    } while (v);
    return *this;
}
ByteWriter& ByteWriter::ubits(uint32_t v, unsigned n) {
    for (unsigned i = n; i-- > 0;) {
        if (m_bitCount == 0) m_out.push_back(0);
        if (v >> i & 1) m_out.back() |= uint8_t(0x80 >> m_bitCount);
        m_bitCount = (m_bitCount + 1) % 8;
    }
    return *this;
}
ByteWriter& ByteWriter::sbits(int32_t v, unsigned n) {
    return ubits(uint32_t(v) & (n >= 32 ? 0xffffffffu : (1u << n) - 1), n);
}
ByteWriter& ByteWriter::align() {
    m_bitCount = 0;
    return *this;
}

unsigned signedBits(int64_t v) {
    unsigned n = 1;
    while (n < 32 && (v < -(int64_t(1) << (n - 1)) || v >= (int64_t(1) << (n - 1)))) ++n;
    return n;
}

ByteWriter& ByteWriter::rect(const Rect& r) {
    align();
    unsigned n = std::max({signedBits(r.xMin), signedBits(r.xMax), signedBits(r.yMin), signedBits(r.yMax)});
    ubits(n, 5).sbits(r.xMin, n).sbits(r.xMax, n).sbits(r.yMin, n).sbits(r.yMax, n);
    return align();
}
ByteWriter& ByteWriter::rgb(Rgba c) { return u8(c.r).u8(c.g).u8(c.b); }
ByteWriter& ByteWriter::rgba(Rgba c) { return rgb(c).u8(c.a); }

ByteWriter& ByteWriter::matrix(const Matrix& m) {
    align();
    auto fx = [](double v) { return int32_t(std::lround(v * 65536)); };
    bool scale = m.a != 1 || m.d != 1;
    ubits(scale, 1);
    if (scale) {
        unsigned n = std::max(signedBits(fx(m.a)), signedBits(fx(m.d)));
        ubits(n, 5).sbits(fx(m.a), n).sbits(fx(m.d), n);
    }
    bool rotate = m.b != 0 || m.c != 0;
    ubits(rotate, 1);
    if (rotate) {
        unsigned n = std::max(signedBits(fx(m.b)), signedBits(fx(m.c)));
        ubits(n, 5).sbits(fx(m.b), n).sbits(fx(m.c), n);
    }
    int32_t tx = int32_t(std::lround(m.tx)), ty = int32_t(std::lround(m.ty));
    unsigned n = (tx == 0 && ty == 0) ? 0 : std::max(signedBits(tx), signedBits(ty));
    ubits(n, 5);
    if (n) sbits(tx, n).sbits(ty, n);
    return align();
}

ByteWriter& ByteWriter::colorTransform(const ColorTransform& cx, bool withAlpha) {
    align();
    auto m = [](double v) { return int32_t(std::lround(v * 256)); };
    auto a = [](double v) { return int32_t(std::lround(v)); };
    bool hasMult = cx.rMult != 1 || cx.gMult != 1 || cx.bMult != 1 || (withAlpha && cx.aMult != 1);
    bool hasAdd = cx.rAdd != 0 || cx.gAdd != 0 || cx.bAdd != 0 || (withAlpha && cx.aAdd != 0);
    unsigned n = 1;
    for (int32_t v : {m(cx.rMult), m(cx.gMult), m(cx.bMult), m(cx.aMult), a(cx.rAdd), a(cx.gAdd),
                      a(cx.bAdd), a(cx.aAdd)})
        n = std::max(n, signedBits(v));
    ubits(hasAdd, 1).ubits(hasMult, 1).ubits(n, 4);
    if (hasMult) {
        sbits(m(cx.rMult), n).sbits(m(cx.gMult), n).sbits(m(cx.bMult), n);
        if (withAlpha) sbits(m(cx.aMult), n);
    }
    if (hasAdd) {
        sbits(a(cx.rAdd), n).sbits(a(cx.gAdd), n).sbits(a(cx.bAdd), n);
        if (withAlpha) sbits(a(cx.aAdd), n);
    }
    return align();
}

// ---- Styles and shapes ------------------------------------------------------------

void writeFillStyle(ByteWriter& w, const FillStyle& f, int v) {
    auto color = [&](Rgba c) { v >= 3 ? w.rgba(c) : w.rgb(c); };
    switch (f.type) {
    case FillType::Solid:
        w.u8(0x00);
        color(f.color);
        return;
    case FillType::Bitmap:
        w.u8(uint8_t(0x40 | (f.bitmapRepeat ? 0 : 1) | (f.bitmapSmoothed ? 0 : 2)));
        w.u16(f.bitmapId).matrix(f.bitmapMatrix);
        return;
    default: {
        w.u8(f.type == FillType::LinearGradient ? 0x10 : f.type == FillType::RadialGradient ? 0x12 : 0x13);
        const Gradient& g = f.gradient;
        w.matrix(g.matrix);
        w.u8(uint8_t(uint8_t(g.spread) << 6 | uint8_t(g.interpolation) << 4 | (g.stops.size() & 0x0f)));
        for (const auto& s : g.stops) {
            w.u8(s.ratio);
            color(s.color);
        }
        if (f.type == FillType::FocalGradient) w.fixed8(g.focalPoint);
    }
    }
}

void writeLineStyle(ByteWriter& w, const LineStyle& l, int v) {
    w.u16(l.width);
    if (v < 4) {
        v >= 3 ? w.rgba(l.color) : w.rgb(l.color);
        return;
    }
    w.ubits(uint8_t(l.startCap), 2).ubits(uint8_t(l.join), 2).ubits(l.fill.has_value(), 1);
    w.ubits(l.noHScale, 1).ubits(l.noVScale, 1).ubits(l.pixelHinting, 1).ubits(0, 5);
    w.ubits(l.noClose, 1).ubits(uint8_t(l.endCap), 2);
    if (l.join == JoinStyle::Miter) w.fixed8(l.miterLimit);
    if (l.fill) writeFillStyle(w, *l.fill, v);
    else w.rgba(l.color);
}

uint32_t ShapeBuilder::addFill(const FillStyle& f) {
    m_styles.back().fills.push_back(f);
    return uint32_t(m_styles.back().fills.size());
}
uint32_t ShapeBuilder::addSolidFill(Rgba c) {
    FillStyle f;
    f.color = c;
    return addFill(f);
}
uint32_t ShapeBuilder::addLine(const LineStyle& l) {
    m_styles.back().lines.push_back(l);
    return uint32_t(m_styles.back().lines.size());
}
uint32_t ShapeBuilder::addLine(uint16_t width, Rgba c) {
    LineStyle l;
    l.width = width;
    l.color = c;
    return addLine(l);
}

ShapeBuilder::Op& ShapeBuilder::styleOp() {
    if (m_ops.empty() || m_ops.back().kind != Op::Style) m_ops.push_back(Op{});
    return m_ops.back();
}
ShapeBuilder& ShapeBuilder::moveTo(int32_t x, int32_t y) {
    styleOp().move = Point{double(x), double(y)};
    m_x = x;
    m_y = y;
    return *this;
}
ShapeBuilder& ShapeBuilder::fill0(uint32_t s) { styleOp().fill0 = s; return *this; }
ShapeBuilder& ShapeBuilder::fill1(uint32_t s) { styleOp().fill1 = s; return *this; }
ShapeBuilder& ShapeBuilder::line(uint32_t s) { styleOp().line = s; return *this; }
ShapeBuilder& ShapeBuilder::newStyles() {
    m_styles.push_back(Styles{});
    Op op;
    op.newStylesIndex = int(m_styles.size() - 1);
    m_ops.push_back(op);
    return *this;
}
ShapeBuilder& ShapeBuilder::lineTo(int32_t x, int32_t y) {
    Op op;
    op.kind = Op::Line;
    op.x = x;
    op.y = y;
    m_ops.push_back(op);
    m_x = x;
    m_y = y;
    return *this;
}
ShapeBuilder& ShapeBuilder::curveTo(int32_t cx, int32_t cy, int32_t x, int32_t y) {
    Op op;
    op.kind = Op::Curve;
    op.cx = cx;
    op.cy = cy;
    op.x = x;
    op.y = y;
    m_ops.push_back(op);
    m_x = x;
    m_y = y;
    return *this;
}

ShapeBuilder& ShapeBuilder::rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t fill1Style) {
    moveTo(x, y).fill1(fill1Style);
    return lineTo(x + w, y).lineTo(x + w, y + h).lineTo(x, y + h).lineTo(x, y);
}

ShapeBuilder& ShapeBuilder::circle(int32_t cx, int32_t cy, int32_t r, uint32_t fill1Style) {
    // Eight arcs of 45 degrees; each control point lies at r / cos(22.5°).
    const double k = r / std::cos(M_PI / 8);
    moveTo(cx + r, cy).fill1(fill1Style);
    for (int i = 1; i <= 8; ++i) {
        double mid = (i - 0.5) * M_PI / 4, end = i * M_PI / 4;
        curveTo(int32_t(std::lround(cx + k * std::cos(mid))), int32_t(std::lround(cy + k * std::sin(mid))),
                i == 8 ? cx + r : int32_t(std::lround(cx + r * std::cos(end))),
                i == 8 ? cy : int32_t(std::lround(cy + r * std::sin(end))));
    }
    return *this;
}

void ShapeBuilder::writeStyles(ByteWriter& w, const Styles& s, int v) const {
    auto count = [&](size_t n) {
        if (n >= 0xff && v >= 2) w.u8(0xff).u16(uint16_t(n));
        else w.u8(uint8_t(n));
    };
    count(s.fills.size());
    for (const auto& f : s.fills) writeFillStyle(w, f, v);
    count(s.lines.size());
    for (const auto& l : s.lines) writeLineStyle(w, l, v);
}

namespace {
unsigned unsignedBits(size_t n) {
    unsigned b = 0;
    while ((size_t(1) << b) <= n) ++b;
    return b;
}
} // namespace

Bytes ShapeBuilder::shapeRecords(int version, bool withStyles, unsigned plainFillBits,
                                 unsigned plainLineBits) const {
    ByteWriter w;
    const Styles* styles = &m_styles[0];
    if (withStyles) writeStyles(w, *styles, version);
    unsigned fillBits = withStyles ? unsignedBits(styles->fills.size()) : plainFillBits;
    unsigned lineBits = withStyles ? unsignedBits(styles->lines.size()) : plainLineBits;
    w.ubits(fillBits, 4).ubits(lineBits, 4);
    int32_t x = 0, y = 0;
    for (size_t i = 0; i < m_ops.size(); ++i) {
        const Op& op = m_ops[i];
        if (op.kind == Op::Style) {
            // A new-styles op merges with the style op that follows it.
            const Op* next = op.newStylesIndex >= 0 && i + 1 < m_ops.size() && m_ops[i + 1].kind == Op::Style
                                 ? &m_ops[i + 1] : nullptr;
            Op s = op;
            if (next) {
                s.move = next->move;
                s.fill0 = next->fill0;
                s.fill1 = next->fill1;
                s.line = next->line;
                ++i;
            }
            bool newStyles = s.newStylesIndex >= 0;
            w.ubits(0, 1).ubits(newStyles, 1).ubits(s.line.has_value(), 1).ubits(s.fill1.has_value(), 1);
            w.ubits(s.fill0.has_value(), 1).ubits(s.move.has_value(), 1);
            if (s.move) {
                int32_t mx = int32_t(s.move->x), my = int32_t(s.move->y);
                unsigned n = std::max(signedBits(mx), signedBits(my));
                w.ubits(n, 5).sbits(mx, n).sbits(my, n);
                x = mx;
                y = my;
            }
            if (s.fill0) w.ubits(*s.fill0, fillBits);
            if (s.fill1) w.ubits(*s.fill1, fillBits);
            if (s.line) w.ubits(*s.line, lineBits);
            if (newStyles) {
                styles = &m_styles[size_t(s.newStylesIndex)];
                writeStyles(w, *styles, version);
                fillBits = unsignedBits(styles->fills.size());
                lineBits = unsignedBits(styles->lines.size());
                w.ubits(fillBits, 4).ubits(lineBits, 4);
            }
        } else if (op.kind == Op::Line) {
            int32_t dx = op.x - x, dy = op.y - y;
            unsigned n = std::max({signedBits(dx), signedBits(dy), 2u});
            w.ubits(1, 1).ubits(1, 1).ubits(n - 2, 4);
            if (dx != 0 && dy != 0) w.ubits(1, 1).sbits(dx, n).sbits(dy, n);
            else if (dx == 0) w.ubits(0, 1).ubits(1, 1).sbits(dy, n);
            else w.ubits(0, 1).ubits(0, 1).sbits(dx, n);
            x = op.x;
            y = op.y;
        } else {
            int32_t cdx = op.cx - x, cdy = op.cy - y, adx = op.x - op.cx, ady = op.y - op.cy;
            unsigned n = std::max({signedBits(cdx), signedBits(cdy), signedBits(adx), signedBits(ady), 2u});
            w.ubits(1, 1).ubits(0, 1).ubits(n - 2, 4).sbits(cdx, n).sbits(cdy, n).sbits(adx, n).sbits(ady, n);
            x = op.x;
            y = op.y;
        }
    }
    w.ubits(0, 6); // end of shape
    return w.data();
}

Rect ShapeBuilder::bounds() const {
    bool any = false;
    Rect r;
    auto add = [&](int32_t x, int32_t y) {
        if (!any) { r = {x, x, y, y}; any = true; return; }
        r.xMin = std::min(r.xMin, x); r.xMax = std::max(r.xMax, x);
        r.yMin = std::min(r.yMin, y); r.yMax = std::max(r.yMax, y);
    };
    for (const auto& op : m_ops) {
        if (op.kind == Op::Style && op.move) add(int32_t(op.move->x), int32_t(op.move->y));
        if (op.kind != Op::Style) add(op.x, op.y);
        if (op.kind == Op::Curve) add(op.cx, op.cy);
    }
    return r;
}

Bytes ShapeBuilder::defineShapeBody(uint16_t id, int version) const {
    ByteWriter w;
    w.u16(id).rect(bounds());
    if (version >= 4) w.rect(bounds()).u8(0);
    w.bytes(shapeRecords(version));
    return w.data();
}

// ---- SwfWriter ----------------------------------------------------------------------

SwfWriter::SwfWriter(int version, Rect frameSize, double frameRate)
    : m_version(version), m_frameSize(frameSize), m_frameRate(frameRate) {}

SwfWriter& SwfWriter::tag(uint16_t code, const Bytes& body, bool forceLong) {
    ByteWriter w;
    if (body.size() < 0x3f && !forceLong) w.u16(uint16_t(code << 6 | body.size()));
    else w.u16(uint16_t(code << 6 | 0x3f)).u32(uint32_t(body.size()));
    w.bytes(body);
    const Bytes& b = w.data();
    m_tags.insert(m_tags.end(), b.begin(), b.end());
    return *this;
}

SwfWriter& SwfWriter::showFrame() {
    ++m_frames;
    return tag(tag::ShowFrame, {});
}
SwfWriter& SwfWriter::backgroundColor(Rgba c) { return tag(tag::SetBackgroundColor, ByteWriter().rgb(c).data()); }
SwfWriter& SwfWriter::frameLabel(const std::string& label, bool anchor) {
    ByteWriter w;
    w.cstring(label);
    if (anchor) w.u8(1);
    return tag(tag::FrameLabel, w.data());
}
SwfWriter& SwfWriter::defineShape(uint16_t id, const ShapeBuilder& shape, int version) {
    static constexpr uint16_t kCodes[] = {tag::DefineShape, tag::DefineShape2, tag::DefineShape3,
                                          tag::DefineShape4};
    return tag(kCodes[std::clamp(version, 1, 4) - 1], shape.defineShapeBody(id, version));
}
SwfWriter& SwfWriter::placeObject(uint16_t characterId, uint16_t depth, const Matrix& m,
                                  std::optional<ColorTransform> cx) {
    ByteWriter w;
    w.u16(characterId).u16(depth).matrix(m);
    if (cx) w.colorTransform(*cx, false);
    return tag(tag::PlaceObject, w.data());
}

namespace {
Bytes placeBody(const Place& p, bool v3, int swfVersion) {
    ByteWriter w;
    uint8_t f = uint8_t((p.clipActions.empty() ? 0 : 0x80) | (p.clipDepth ? 0x40 : 0) | (p.name ? 0x20 : 0) |
                        (p.ratio ? 0x10 : 0) | (p.colorTransform ? 0x08 : 0) | (p.matrix ? 0x04 : 0) |
                        (p.characterId ? 0x02 : 0) | (p.move ? 0x01 : 0));
    w.u8(f);
    if (v3)
        w.u8(uint8_t((p.backgroundColor ? 0x40 : 0) | (p.visible ? 0x20 : 0) | (p.className ? 0x08 : 0) |
                     (p.cacheAsBitmap ? 0x04 : 0) | (p.blendMode ? 0x02 : 0) | (p.filterList ? 0x01 : 0)));
    w.u16(p.depth);
    if (v3 && p.className) w.cstring(*p.className);
    if (p.characterId) w.u16(*p.characterId);
    if (p.matrix) w.matrix(*p.matrix);
    if (p.colorTransform) w.colorTransform(*p.colorTransform, true);
    if (p.ratio) w.u16(*p.ratio);
    if (p.name) w.cstring(*p.name);
    if (p.clipDepth) w.u16(*p.clipDepth);
    if (v3 && p.filterList) w.bytes(*p.filterList);
    if (v3 && p.blendMode) w.u8(uint8_t(*p.blendMode));
    if (v3 && p.cacheAsBitmap) w.u8(*p.cacheAsBitmap);
    if (v3 && p.visible) w.u8(*p.visible);
    if (v3 && p.backgroundColor) w.rgba(*p.backgroundColor);
    if (!p.clipActions.empty()) {
        auto flags = [&](uint32_t e) {
            if (swfVersion <= 5) w.u8(uint8_t(e >> 24)).u8(uint8_t(e >> 16));
            else w.u8(uint8_t(e >> 24)).u8(uint8_t(e >> 16)).u8(uint8_t(e >> 8)).u8(uint8_t(e));
        };
        uint32_t all = 0;
        for (const auto& [e, bytes] : p.clipActions) all |= e;
        w.u16(0);
        flags(all);
        for (const auto& [e, bytes] : p.clipActions) {
            flags(e);
            w.u32(uint32_t(bytes.size())).bytes(bytes);
        }
        flags(0);
    }
    return w.data();
}
} // namespace

SwfWriter& SwfWriter::placeObject2(const Place& p) { return tag(tag::PlaceObject2, placeBody(p, false, m_version)); }
SwfWriter& SwfWriter::placeObject3(const Place& p) { return tag(tag::PlaceObject3, placeBody(p, true, m_version)); }
SwfWriter& SwfWriter::removeObject(uint16_t characterId, uint16_t depth) {
    return tag(tag::RemoveObject, ByteWriter().u16(characterId).u16(depth).data());
}
SwfWriter& SwfWriter::removeObject2(uint16_t depth) { return tag(tag::RemoveObject2, ByteWriter().u16(depth).data()); }
SwfWriter& SwfWriter::doAction(const Bytes& actions) { return tag(tag::DoAction, actions); }
SwfWriter& SwfWriter::doInitAction(uint16_t spriteId, const Bytes& actions) {
    return tag(tag::DoInitAction, ByteWriter().u16(spriteId).bytes(actions).data());
}

SwfWriter& SwfWriter::defineSprite(uint16_t id, const SwfWriter& sprite) {
    ByteWriter w;
    w.u16(id).u16(sprite.m_declaredFrames.value_or(sprite.frames())).bytes(sprite.tags()).u16(0);
    return tag(tag::DefineSprite, w.data());
}

SwfWriter& SwfWriter::defineBitsLossless(uint16_t id, int version, uint8_t format, uint16_t width,
                                         uint16_t height, const Bytes& pixels, uint8_t paletteSizeMinus1) {
    ByteWriter w;
    w.u16(id).u8(format).u16(width).u16(height);
    if (format == 3) w.u8(paletteSizeMinus1);
    w.bytes(zlibCompress(pixels));
    return tag(version >= 2 ? tag::DefineBitsLossless2 : tag::DefineBitsLossless, w.data());
}

SwfWriter& SwfWriter::defineButton2(uint16_t id, const std::vector<ButtonRecordSpec>& records,
                                    const std::vector<std::pair<uint16_t, Bytes>>& actions,
                                    bool trackAsMenu) {
    ByteWriter recs;
    for (const auto& r : records) {
        recs.u8(uint8_t((r.blendMode ? 0x20 : 0) | (r.hitTest ? 0x08 : 0) | (r.down ? 0x04 : 0) |
                        (r.over ? 0x02 : 0) | (r.up ? 0x01 : 0)));
        recs.u16(r.characterId).u16(r.depth).matrix(r.matrix).colorTransform(r.colorTransform, true);
        if (r.blendMode) recs.u8(uint8_t(*r.blendMode));
    }
    recs.u8(0);
    const Bytes& recBytes = recs.data();
    ByteWriter w;
    w.u16(id).u8(trackAsMenu ? 1 : 0);
    w.u16(actions.empty() ? 0 : uint16_t(2 + recBytes.size())).bytes(recBytes);
    for (size_t i = 0; i < actions.size(); ++i) {
        const auto& [cond, bytes] = actions[i];
        bool last = i + 1 == actions.size();
        w.u16(last ? 0 : uint16_t(4 + bytes.size())).u16(cond).bytes(bytes);
    }
    return tag(tag::DefineButton2, w.data());
}

SwfWriter& SwfWriter::defineSound(uint16_t id, uint8_t format, uint8_t rateIndex, bool is16Bit, bool stereo,
                                  uint32_t sampleCount, const Bytes& data) {
    ByteWriter w;
    w.u16(id).ubits(format, 4).ubits(rateIndex, 2).ubits(is16Bit, 1).ubits(stereo, 1).u32(sampleCount).bytes(data);
    return tag(tag::DefineSound, w.data());
}
SwfWriter& SwfWriter::startSound(uint16_t soundId, const Bytes& soundInfo) {
    return tag(tag::StartSound, ByteWriter().u16(soundId).bytes(soundInfo).data());
}
SwfWriter& SwfWriter::soundStreamHead(const Bytes& body, int version) {
    return tag(version >= 2 ? tag::SoundStreamHead2 : tag::SoundStreamHead, body);
}
SwfWriter& SwfWriter::soundStreamBlock(const Bytes& body) { return tag(tag::SoundStreamBlock, body); }
SwfWriter& SwfWriter::defineVideoStream(uint16_t id, uint16_t frames, uint16_t width, uint16_t height,
                                        uint8_t codec, bool smoothing, uint8_t deblocking) {
    ByteWriter w;
    w.u16(id).u16(frames).u16(width).u16(height).u8(uint8_t((deblocking & 7) << 1 | (smoothing ? 1 : 0))).u8(codec);
    return tag(tag::DefineVideoStream, w.data());
}
SwfWriter& SwfWriter::videoFrame(uint16_t streamId, uint16_t frame, std::span<const uint8_t> data) {
    ByteWriter w;
    w.u16(streamId).u16(frame).bytes(Bytes(data.begin(), data.end()));
    return tag(tag::VideoFrame, w.data());
}
SwfWriter& SwfWriter::exportAssets(const std::vector<std::pair<uint16_t, std::string>>& items) {
    ByteWriter w;
    w.u16(uint16_t(items.size()));
    for (const auto& [id, name] : items) w.u16(id).cstring(name);
    return tag(tag::ExportAssets, w.data());
}

SwfWriter& SwfWriter::importAssets(const std::string& url,
                                   const std::vector<std::pair<uint16_t, std::string>>& items) {
    ByteWriter w;
    w.cstring(url).u16(uint16_t(items.size()));
    for (const auto& [id, name] : items) w.u16(id).cstring(name);
    return tag(tag::ImportAssets, w.data());
}

Bytes zlibCompress(const Bytes& in) {
    uLongf size = compressBound(uLong(in.size()));
    Bytes out(size);
    if (compress(out.data(), &size, in.data(), uLong(in.size())) != Z_OK) throw std::runtime_error("zlib");
    out.resize(size);
    return out;
}

namespace {
// SWF's LZMA layout: 5 property bytes and the raw stream, made from liblzma's
// "alone" output (properties, 64-bit size, stream) by dropping the size.
Bytes lzmaCompress(const Bytes& in, uint32_t& packedLength) {
    lzma_options_lzma opt;
    lzma_lzma_preset(&opt, 6);
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&s, &opt) != LZMA_OK) throw std::runtime_error("lzma");
    Bytes out(in.size() + in.size() / 2 + 1024);
    s.next_in = in.data();
    s.avail_in = in.size();
    s.next_out = out.data();
    s.avail_out = out.size();
    lzma_ret rc = lzma_code(&s, LZMA_FINISH);
    size_t produced = out.size() - s.avail_out;
    lzma_end(&s);
    if (rc != LZMA_STREAM_END) throw std::runtime_error("lzma");
    if (produced < 13) throw std::runtime_error("lzma");
    out.resize(produced);
    out.erase(out.begin() + 5, out.begin() + 13); // drop the 64-bit size
    packedLength = uint32_t(out.size() - 5);
    return out;
}
} // namespace

Bytes SwfWriter::bytes() const {
    ByteWriter body;
    body.rect(m_frameSize).u16(uint16_t(std::lround(m_frameRate * 256)));
    body.u16(m_declaredFrames.value_or(m_frames)).bytes(m_tags).u16(0);
    const Bytes& b = body.data();
    const char sig = m_compression == Compression::Zlib ? 'C' : m_compression == Compression::Lzma ? 'Z' : 'F';
    ByteWriter out;
    out.u8(uint8_t(sig)).u8('W').u8('S').u8(uint8_t(m_version)).u32(uint32_t(b.size() + 8));
    if (m_compression == Compression::None) out.bytes(b);
    else if (m_compression == Compression::Zlib) out.bytes(zlibCompress(b));
    else {
        uint32_t packed = 0;
        Bytes z = lzmaCompress(b, packed);
        out.u32(packed).bytes(z);
    }
    return out.data();
}

} // namespace swf::test
