#pragma once
// The display list flattened into drawing commands for one frame. The runtime
// produces it; a render backend executes it. Matrices map character space
// (twips) to device pixels: the stage transform is already folded in.
#include "engine/swf/movie.h"

#include <QFont>
#include <QImage>
#include <QPainterPath>

#include <functional>
#include <memory>
#include <variant>
#include <vector>

namespace swf::render {

// Finds the bitmap a bitmap fill names (FillStyle holds only the id); the
// runtime gives one per movie. An empty resolver or a null answer draws the
// fill as nothing, as the Flash player does for a missing bitmap.
using BitmapResolver = std::function<std::shared_ptr<const BitmapDef>(uint16_t)>;

struct DrawShape {
    std::shared_ptr<const ShapeDef> shape;
    Matrix matrix;
    ColorTransform colorTransform;
    BitmapResolver bitmaps;
};

// A morph shape at a given ratio (0..65535) is drawn through a ShapeDef the
// runtime builds with morphAt(); the backend sees a plain DrawShape.

struct DrawBitmap {
    std::shared_ptr<const BitmapDef> bitmap;
    QImage image;              // used when bitmap is null (runtime BitmapData)
    Matrix matrix;             // bitmap pixels -> device
    ColorTransform colorTransform;
    bool smoothed = false;
};

// A run of glyphs of one font and colour (static and edit text).
struct DrawGlyphs {
    std::shared_ptr<const FontDef> font;
    std::vector<std::pair<uint32_t, Point>> glyphs; // glyph index, origin in text space (twips)
    double height = 240;       // twips
    Rgba color;
    Matrix matrix;             // text space -> device
    ColorTransform colorTransform;
};

// Device text for edit fields without embedded fonts. The font's pixel size
// is in pixels of text space (twips / 20), before the matrix scales it.
struct DrawDeviceText {
    QString text;
    QFont font;
    Point origin;              // baseline origin in text space (twips)
    Rgba color;
    bool underline = false;
    Matrix matrix;
    ColorTransform colorTransform;
};

// A plain rectangle (edit text background/border, focus rectangles).
struct DrawRect {
    Rect rect;                 // twips, character space
    std::optional<Rgba> fill;
    std::optional<Rgba> line;  // a one-pixel line inside the rectangle's edge
    Matrix matrix;
    ColorTransform colorTransform;
};

// Masks: everything between PushMask and ActivateMask draws the mask's
// coverage; everything between ActivateMask and PopMask is clipped by it.
// Masks nest.
struct PushMask {};
struct ActivateMask {};
struct PopMask {};

// Layers group a clip's drawing for blend modes, filters and cacheAsBitmap.
struct BeginLayer {
    BlendMode blendMode = BlendMode::Normal;
    std::vector<uint8_t> filterBytes;       // raw SWF filter list (may be empty)
    Matrix filterMatrix;                    // stage -> device: filter sizes follow the zoom only
};
struct EndLayer {};

using Command = std::variant<DrawShape, DrawBitmap, DrawGlyphs, DrawDeviceText, DrawRect, PushMask,
                             ActivateMask, PopMask, BeginLayer, EndLayer>;

struct CommandList {
    Rgba background{255, 255, 255, 255};
    std::vector<Command> commands;
    // Masks the walk filling the list is inside (a mask's own children may
    // be masked by clips that hold the first mask): bounded by limits::kMaxMaskNesting.
    int maskDepth = 0;
};

} // namespace swf::render
