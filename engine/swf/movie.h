#pragma once
// The parsed movie: header, the dictionary of character definitions and the
// root timeline as frames of control tags. A Movie is immutable once loaded
// and shared as shared_ptr<const Movie>; runtime objects reference it.
// Every std::span below points into Movie::data: keep the Movie alive for as
// long as a definition or control tag taken from it is in use.
#include "engine/core/result.h"
#include "engine/swf/types.h"

#include <QImage>

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace swf {

// ---- Shapes ---------------------------------------------------------------

enum class FillType : uint8_t { Solid, LinearGradient, RadialGradient, FocalGradient, Bitmap };
enum class SpreadMode : uint8_t { Pad, Reflect, Repeat };
enum class Interpolation : uint8_t { Rgb, LinearRgb };

struct GradientStop {
    uint8_t ratio = 0;
    Rgba color;
};

struct Gradient {
    Matrix matrix; // maps the gradient square (-16384..16384 twips) to shape space
    SpreadMode spread = SpreadMode::Pad;
    Interpolation interpolation = Interpolation::Rgb;
    std::vector<GradientStop> stops;
    double focalPoint = 0; // -1..1, focal gradients only
};

struct FillStyle {
    FillType type = FillType::Solid;
    Rgba color;                   // Solid
    Gradient gradient;            // gradients
    uint16_t bitmapId = 0;        // Bitmap; 0xFFFF = none
    Matrix bitmapMatrix;          // Bitmap: maps bitmap pixels to shape twips
    bool bitmapRepeat = true;     // repeating (tiled) or clipped
    bool bitmapSmoothed = true;   // smoothed or nearest-neighbour
};

enum class CapStyle : uint8_t { Round, None, Square };
enum class JoinStyle : uint8_t { Round, Bevel, Miter };

struct LineStyle {
    uint16_t width = 0; // twips
    Rgba color;
    CapStyle startCap = CapStyle::Round, endCap = CapStyle::Round;
    JoinStyle join = JoinStyle::Round;
    double miterLimit = 3;
    bool noHScale = false, noVScale = false, pixelHinting = false, noClose = false;
    std::optional<FillStyle> fill; // LineStyle2 with a fill instead of a colour
};

// One edge in shape coordinates (twips). A straight edge has control == midpoint.
struct Edge {
    Point from, control, to;
    bool curved = false;
};

// The edges drawn with one style, in drawing order. For fills the edges are
// oriented and chained into closed contours; a contour starts wherever an
// edge's `from` differs from the previous edge's `to`.
struct StyledPath {
    uint32_t style = 0; // index into the layer's fillStyles or lineStyles
    std::vector<Edge> edges;
};

// Shapes 2+ can start new style arrays mid-shape; each array with the edges
// drawn in it is a layer, painted in order (its fills, then its lines).
struct ShapeLayer {
    std::vector<FillStyle> fillStyles;
    std::vector<LineStyle> lineStyles;
    std::vector<StyledPath> fills;
    std::vector<StyledPath> lines;
};

struct ShapeDef {
    uint16_t id = 0;
    int version = 1;            // DefineShape 1..4
    Rect bounds, edgeBounds;
    bool nonScalingStrokes = false, scalingStrokes = false;
    std::vector<ShapeLayer> layers;
};

// Raw shape record stream, kept for morph shapes and glyphs.
struct ShapeRecord {
    enum class Kind : uint8_t { StyleChange, StraightEdge, CurvedEdge } kind = Kind::StyleChange;
    // StyleChange
    bool hasMove = false;
    double moveX = 0, moveY = 0;
    std::optional<uint32_t> fill0, fill1, line; // set when changed; 0 = none
    bool newStyles = false;
    std::vector<FillStyle> fillStyles;
    std::vector<LineStyle> lineStyles;
    // Edges (deltas in twips)
    double dx = 0, dy = 0;      // straight: delta; curved: control delta
    double ax = 0, ay = 0;      // curved: anchor delta from the control point
};

struct MorphShapeDef {
    uint16_t id = 0;
    int version = 1;
    Rect startBounds, endBounds;
    Rect startEdgeBounds, endEdgeBounds;            // DefineMorphShape2; else the bounds
    bool nonScalingStrokes = false, scalingStrokes = false;
    std::vector<FillStyle> startFills, endFills;
    std::vector<LineStyle> startLines, endLines;
    std::vector<ShapeRecord> startRecords, endRecords;
};

// ---- Bitmaps ---------------------------------------------------------------

struct BitmapDef {
    uint16_t id = 0;
    QImage image; // premultiplied ARGB32 or RGB32; null when undecodable
};

// ---- Fonts and text ----------------------------------------------------------

struct Glyph {
    ShapeDef shape;        // in the font's EM square (1024 units, 20480 for DefineFont3)
    uint16_t code = 0;     // character code (UCS-2), when the font has a code table
    double advance = 0;    // in EM units, when the font has layout
};

struct FontDef {
    uint16_t id = 0;
    int version = 1;
    std::string name;
    bool bold = false, italic = false, smallText = false, hasLayout = false;
    double emSquare = 1024; // 20480 for DefineFont3
    double ascent = 0, descent = 0, leading = 0;
    std::vector<Glyph> glyphs;
    std::map<std::pair<uint16_t, uint16_t>, double> kerning;
};

struct TextGlyph {
    uint32_t index = 0;    // into the font's glyphs
    int32_t advance = 0;   // twips
};

struct TextRecord {
    uint16_t fontId = 0;
    Rgba color;
    double x = 0, y = 0;   // twips, in text space
    double height = 0;     // twips
    std::vector<TextGlyph> glyphs;
};

struct TextDef {
    uint16_t id = 0;
    Rect bounds;
    Matrix matrix;
    std::vector<TextRecord> records; // style fields already resolved per record
};

enum class TextAlign : uint8_t { Left, Right, Center, Justify };

struct EditTextDef {
    uint16_t id = 0;
    Rect bounds;
    bool wordWrap = false, multiline = false, password = false, readOnly = false;
    bool autoSize = false, noSelect = false, border = false, html = false, useOutlines = false;
    bool wasStatic = false;
    std::optional<uint16_t> fontId;
    std::string fontClass;
    double fontHeight = 240; // twips
    std::optional<Rgba> color;
    std::optional<uint16_t> maxLength;
    TextAlign align = TextAlign::Left;
    double leftMargin = 0, rightMargin = 0, indent = 0, leading = 0; // twips
    std::string variableName;
    std::string initialText;
};

// ---- Buttons, sprites, sounds ------------------------------------------------

struct Filter; // display/filters.h

struct ButtonRecord {
    bool up = false, over = false, down = false, hitTest = false;
    uint16_t characterId = 0;
    uint16_t depth = 0;
    Matrix matrix;
    ColorTransform colorTransform;
    BlendMode blendMode = BlendMode::Normal;
    std::vector<uint8_t> filterBytes; // raw filter list, parsed by the renderer
};

struct ButtonAction {
    uint16_t conditions = 0;              // DefineButton2 condition bits (DefineButton: release = 0x08)
    std::span<const uint8_t> actions;     // into Movie::data
};

struct ButtonDef {
    uint16_t id = 0;
    int version = 1;
    bool trackAsMenu = false;
    std::vector<ButtonRecord> records;
    std::vector<ButtonAction> actions;
    ColorTransform legacyColorTransform;  // DefineButtonCxform
    // DefineButtonSound: sound ids (0 = none) and raw sound-info bytes for
    // over-up-idle, idle-over-up, over-up-over-down, over-down-over-up.
    struct Sound { uint16_t soundId = 0; std::span<const uint8_t> info; };
    Sound sounds[4];
};

// A tag that the timeline runs when its frame is reached, kept raw: the
// display list, sound and scripts each decode the tags they act on.
struct ControlTag {
    uint16_t code = 0;
    uint32_t offset = 0;                // of the tag header in Movie::data
    std::span<const uint8_t> body;      // into Movie::data
};

struct Frame {
    std::vector<ControlTag> tags;       // in file order, ShowFrame excluded
};

struct Timeline {
    std::vector<Frame> frames;                 // frames.size() == frames actually present
    uint32_t declaredFrameCount = 0;
    std::map<std::string, uint32_t> labels;    // label -> 0-based frame (first wins)
    std::map<uint32_t, std::string> sceneNames; // first frame of each scene
};

struct SpriteDef {
    uint16_t id = 0;
    Timeline timeline;
};

// Sound definitions are decoded by engine/sound; the dictionary keeps the body.
struct SoundDef {
    uint16_t id = 0;
    std::span<const uint8_t> body;      // the whole DefineSound body (id first), into Movie::data
    // The header fields of the body, already read:
    uint8_t format = 0;                 // 0 raw native-endian, 1 ADPCM, 2 MP3, 3 raw LE, 4-6 Nellymoser, 11 Speex
    uint32_t sampleRate = 5512;         // 5512, 11025, 22050 or 44100
    bool is16Bit = false, stereo = false;
    uint32_t sampleCount = 0;           // per channel
    std::span<const uint8_t> data;      // the sound data after the header
};

// DefineVideoStream, with the VideoFrame packets that belong to it. A
// placed video shows the frame its ratio names.
struct VideoStreamDef {
    uint16_t id = 0;
    uint16_t frameCount = 0;
    uint16_t width = 0, height = 0;     // pixels: the picture is drawn at this size
    uint8_t deblocking = 0;             // 0 as the stream says, 1 off, 2+ on
    bool smoothing = false;
    uint8_t codec = 0;                  // 2 H.263, 3 Screen Video, 4 VP6, 5 VP6 alpha, 6 Screen Video 2, 7 H.264
    std::map<uint32_t, std::span<const uint8_t>> frames; // frame number -> VideoFrame data, into Movie::data
};

// ImportAssets/ImportAssets2: a character another movie exports (the Player
// reads local movies imported from when it loads the importing movie).
struct ImportedAsset {
    std::string url;
    std::string name;
    uint16_t id = 0;
};

struct BinaryDataDef {
    uint16_t id = 0;
    std::span<const uint8_t> data;
};

using Character = std::variant<std::shared_ptr<const ShapeDef>, std::shared_ptr<const MorphShapeDef>,
                               std::shared_ptr<const BitmapDef>, std::shared_ptr<const FontDef>,
                               std::shared_ptr<const TextDef>, std::shared_ptr<const EditTextDef>,
                               std::shared_ptr<const ButtonDef>, std::shared_ptr<const SpriteDef>,
                               std::shared_ptr<const SoundDef>, std::shared_ptr<const BinaryDataDef>,
                               std::shared_ptr<const VideoStreamDef>>;

// ---- The movie -----------------------------------------------------------------

struct MovieHeader {
    char signature = 'F';  // F, C (zlib) or Z (LZMA)
    int version = 0;
    uint32_t declaredLength = 0;
    Rect frameSize;        // twips
    double frameRate = 12; // frames per second; 0 in the file is read as 12... see parser
    uint32_t frameCount = 0;
};

struct Movie {
    MovieHeader header;
    std::string url;                        // where it was loaded from
    std::vector<uint8_t> data;              // the uncompressed file; spans point here
    std::optional<Rgba> backgroundColor;    // SetBackgroundColor
    uint32_t fileAttributes = 0;            // FileAttributes flags
    bool isAs3() const { return (fileAttributes & 0x08) != 0; }
    bool hasMetadataTag = false;
    std::unordered_map<uint16_t, Character> dictionary;
    std::map<std::string, uint16_t> exports;  // ExportAssets: name -> id
    std::vector<ImportedAsset> imports;       // ImportAssets(2), in file order
    std::unordered_map<uint16_t, Rect> scalingGrids; // DefineScalingGrid: character id -> 9-slice centre
    // Raw JPEGTables bodies as (0, bytes); DefineBits images are already decoded with them.
    std::vector<std::pair<uint16_t, std::span<const uint8_t>>> jpegTables;
    Timeline timeline;
    // DoInitAction bodies by sprite id, run once when the sprite is first placed/exported.
    // The ControlTag's body holds the actions only (the sprite id is `first`).
    std::vector<std::pair<uint16_t, ControlTag>> initActions;
    std::vector<Error> warnings;            // broken tags that were skipped

    template <typename T>
    std::shared_ptr<const T> get(uint16_t id) const {
        auto it = dictionary.find(id);
        if (it == dictionary.end()) return nullptr;
        if (auto p = std::get_if<std::shared_ptr<const T>>(&it->second)) return *p;
        return nullptr;
    }
};

// Tag codes used across the engine.
namespace tag {
enum : uint16_t {
    End = 0, ShowFrame = 1, DefineShape = 2, PlaceObject = 4, RemoveObject = 5, DefineBits = 6,
    DefineButton = 7, JPEGTables = 8, SetBackgroundColor = 9, DefineFont = 10, DefineText = 11,
    DoAction = 12, DefineFontInfo = 13, DefineSound = 14, StartSound = 15, DefineButtonSound = 17,
    SoundStreamHead = 18, SoundStreamBlock = 19, DefineBitsLossless = 20, DefineBitsJPEG2 = 21,
    DefineShape2 = 22, DefineButtonCxform = 23, Protect = 24, PlaceObject2 = 26, RemoveObject2 = 28,
    DefineShape3 = 32, DefineText2 = 33, DefineButton2 = 34, DefineBitsJPEG3 = 35,
    DefineBitsLossless2 = 36, DefineEditText = 37, DefineSprite = 39, FrameLabel = 43,
    SoundStreamHead2 = 45, DefineMorphShape = 46, DefineFont2 = 48, ExportAssets = 56,
    ImportAssets = 57, EnableDebugger = 58, DoInitAction = 59, DefineVideoStream = 60,
    VideoFrame = 61, DefineFontInfo2 = 62, EnableDebugger2 = 64, ScriptLimits = 65,
    SetTabIndex = 66, FileAttributes = 69, PlaceObject3 = 70, ImportAssets2 = 71, DoABC1 = 72 /* DoABC without flags and name */,
    DefineFontAlignZones = 73, CSMTextSettings = 74, DefineFont3 = 75, SymbolClass = 76,
    Metadata = 77, DefineScalingGrid = 78, DoABC = 82, DefineShape4 = 83, DefineMorphShape2 = 84,
    DefineSceneAndFrameLabelData = 86, DefineBinaryData = 87, DefineFontName = 88,
    StartSound2 = 89, DefineBitsJPEG4 = 90, DefineFont4 = 91,
};
}

} // namespace swf
