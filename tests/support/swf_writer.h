#pragma once
// A small SWF writer for tests: builds movies in code so that each test says
// exactly what it exercises. Values are written as the format stores them;
// nothing here is validated, so tests can also write broken movies.
#include "engine/swf/movie.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace swf::test {

using Bytes = std::vector<uint8_t>;

// Little-endian bytes and MSB-first bit fields, as SWF stores them.
class ByteWriter {
public:
    ByteWriter& u8(uint8_t v);
    ByteWriter& u16(uint16_t v);
    ByteWriter& u32(uint32_t v);
    ByteWriter& s16(int16_t v) { return u16(uint16_t(v)); }
    ByteWriter& fixed8(double v) { return s16(int16_t(v * 256)); }
    ByteWriter& cstring(const std::string& s);
    ByteWriter& bytes(const Bytes& b);
    ByteWriter& encodedU32(uint32_t v);
    ByteWriter& ubits(uint32_t v, unsigned n);
    ByteWriter& sbits(int32_t v, unsigned n);
    ByteWriter& align(); // pads the current bit byte with zeros
    ByteWriter& rect(const Rect& r);
    ByteWriter& rgb(Rgba c);
    ByteWriter& rgba(Rgba c);
    ByteWriter& matrix(const Matrix& m);
    ByteWriter& colorTransform(const ColorTransform& cx, bool withAlpha);
    const Bytes& data() { align(); return m_out; }
    size_t size() const { return m_out.size(); }

private:
    Bytes m_out;
    unsigned m_bitCount = 0; // bits used in the last byte
};

// Bits needed to store v as a signed field (at least 1).
unsigned signedBits(int64_t v);

// Shape records and styles drawn in code. Style numbers returned by the
// add* calls are 1-based, as the records use them.
class ShapeBuilder {
public:
    uint32_t addFill(const FillStyle& f);
    uint32_t addSolidFill(Rgba c);
    uint32_t addLine(const LineStyle& l);
    uint32_t addLine(uint16_t width, Rgba c);

    // Style changes and moves (all coordinates in twips, absolute).
    ShapeBuilder& moveTo(int32_t x, int32_t y);
    ShapeBuilder& fill0(uint32_t style);
    ShapeBuilder& fill1(uint32_t style);
    ShapeBuilder& line(uint32_t style);
    // Starts a new style array (DefineShape2+); later add* calls fill it.
    ShapeBuilder& newStyles();
    ShapeBuilder& lineTo(int32_t x, int32_t y);
    ShapeBuilder& curveTo(int32_t cx, int32_t cy, int32_t x, int32_t y);

    // A closed rectangle drawn clockwise (on screen) with fill1, from (x, y).
    ShapeBuilder& rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t fill1Style);
    // A circle of eight quadratic curves, filled with fill1.
    ShapeBuilder& circle(int32_t cx, int32_t cy, int32_t r, uint32_t fill1Style);

    // The SHAPEWITHSTYLE record (styles, bit counts, records, end) for a
    // DefineShape of `version`; `withStyles` false writes a plain SHAPE (glyphs,
    // morph edges) whose style indices take `fillBits` and `lineBits`.
    Bytes shapeRecords(int version, bool withStyles = true, unsigned fillBits = 1, unsigned lineBits = 0) const;
    // The whole DefineShape body: id, bounds (computed), [edge bounds, flags], shape.
    Bytes defineShapeBody(uint16_t id, int version) const;
    Rect bounds() const;

private:
    struct Op {
        enum Kind { Style, Line, Curve } kind = Style;
        std::optional<Point> move;
        std::optional<uint32_t> fill0, fill1, line;
        int newStylesIndex = -1;
        int32_t x = 0, y = 0, cx = 0, cy = 0; // absolute end (and control)
    };
    struct Styles {
        std::vector<FillStyle> fills;
        std::vector<LineStyle> lines;
    };
    Op& styleOp();
    void writeStyles(ByteWriter& w, const Styles& s, int version) const;

    std::vector<Styles> m_styles{Styles{}};
    std::vector<Op> m_ops;
    int32_t m_x = 0, m_y = 0;
};

void writeFillStyle(ByteWriter& w, const FillStyle& f, int shapeVersion);
void writeLineStyle(ByteWriter& w, const LineStyle& l, int shapeVersion);

// One PlaceObject2/3 with the fields a test sets.
struct Place {
    uint16_t depth = 1;
    bool move = false;
    std::optional<uint16_t> characterId;
    std::optional<Matrix> matrix;
    std::optional<ColorTransform> colorTransform;
    std::optional<uint16_t> ratio;
    std::optional<std::string> name;
    std::optional<uint16_t> clipDepth;
    // PlaceObject3 only:
    std::optional<std::string> className;
    std::optional<Bytes> filterList; // raw FILTERLIST, count byte first
    std::optional<BlendMode> blendMode;
    std::optional<bool> cacheAsBitmap, visible;
    std::optional<Rgba> backgroundColor;
    // Clip actions: (event flags, raw action bytes); KeyPress needs the key
    // code as the first action byte.
    std::vector<std::pair<uint32_t, Bytes>> clipActions;
};

struct ButtonRecordSpec {
    bool up = true, over = false, down = false, hitTest = false;
    uint16_t characterId = 0;
    uint16_t depth = 1;
    Matrix matrix;
    ColorTransform colorTransform;
    std::optional<BlendMode> blendMode;
};

enum class Compression { None, Zlib, Lzma };

// A movie (or a sprite's tag stream) written tag by tag. bytes() closes it
// with an End tag and the header.
class SwfWriter {
public:
    explicit SwfWriter(int version = 10, Rect frameSize = {0, 550 * 20, 0, 400 * 20},
                       double frameRate = 24);

    SwfWriter& compression(Compression c) { m_compression = c; return *this; }
    // Frame count in the header; by default the number of showFrame() calls.
    SwfWriter& declaredFrameCount(uint16_t n) { m_declaredFrames = n; return *this; }

    // A raw tag; the long header form is used when the body needs it or `forceLong`.
    SwfWriter& tag(uint16_t code, const Bytes& body, bool forceLong = false);
    SwfWriter& showFrame();
    SwfWriter& end() { return tag(tag::End, {}); }
    SwfWriter& backgroundColor(Rgba c);
    SwfWriter& frameLabel(const std::string& label, bool anchor = false);
    SwfWriter& defineShape(uint16_t id, const ShapeBuilder& shape, int version = 3);
    SwfWriter& placeObject(uint16_t characterId, uint16_t depth, const Matrix& m,
                           std::optional<ColorTransform> cx = std::nullopt);
    SwfWriter& placeObject2(const Place& p);
    SwfWriter& placeObject3(const Place& p);
    SwfWriter& removeObject(uint16_t characterId, uint16_t depth);
    SwfWriter& removeObject2(uint16_t depth);
    SwfWriter& doAction(const Bytes& actions);
    SwfWriter& doInitAction(uint16_t spriteId, const Bytes& actions);
    // A sprite whose tags are `sprite`'s (its End is added here).
    SwfWriter& defineSprite(uint16_t id, const SwfWriter& sprite);
    // format 3 (palette), 4 (15-bit) or 5 (32-bit); `pixels` are the bytes
    // before zlib packing (palette first for format 3), rows padded by the caller.
    SwfWriter& defineBitsLossless(uint16_t id, int version, uint8_t format, uint16_t width,
                                  uint16_t height, const Bytes& pixels, uint8_t paletteSizeMinus1 = 0);
    SwfWriter& defineButton2(uint16_t id, const std::vector<ButtonRecordSpec>& records,
                             const std::vector<std::pair<uint16_t, Bytes>>& actions,
                             bool trackAsMenu = false);
    SwfWriter& defineSound(uint16_t id, uint8_t format, uint8_t rateIndex, bool is16Bit, bool stereo,
                           uint32_t sampleCount, const Bytes& data);
    SwfWriter& startSound(uint16_t soundId, const Bytes& soundInfo = {0});
    SwfWriter& soundStreamHead(const Bytes& body, int version = 1);
    SwfWriter& soundStreamBlock(const Bytes& body);
    SwfWriter& defineVideoStream(uint16_t id, uint16_t frames, uint16_t width, uint16_t height, uint8_t codec,
                                 bool smoothing = false, uint8_t deblocking = 0);
    SwfWriter& videoFrame(uint16_t streamId, uint16_t frame, std::span<const uint8_t> data);
    SwfWriter& exportAssets(const std::vector<std::pair<uint16_t, std::string>>& items);
    // ImportAssets from the movie at `url`: (id in this movie, exported name) pairs.
    SwfWriter& importAssets(const std::string& url, const std::vector<std::pair<uint16_t, std::string>>& items);

    // The tag stream written so far (no End), and the frames counted.
    const Bytes& tags() const { return m_tags; }
    uint16_t frames() const { return m_frames; }
    // The whole file: header, tags, End.
    Bytes bytes() const;

private:
    int m_version;
    Rect m_frameSize;
    double m_frameRate;
    Compression m_compression = Compression::None;
    std::optional<uint16_t> m_declaredFrames;
    uint16_t m_frames = 0;
    Bytes m_tags;
};

// zlib-packs bytes (for lossless bitmaps and alpha planes).
Bytes zlibCompress(const Bytes& in);

} // namespace swf::test
