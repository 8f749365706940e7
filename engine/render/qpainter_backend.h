#pragma once
// The first render backend: executes a CommandList with QPainter into a
// QImage. It keeps caches across frames (shape paths, recoloured bitmaps),
// so one backend belongs to one player and is used from one thread at a time.
#include "engine/render/commands.h"
#include "engine/render/quality.h"
#include "engine/render/shape_cache.h"

#include <QImage>
#include <QRect>

#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>
#include <vector>

class QPainter;

namespace swf::render {

class QPainterBackend {
public:
    QPainterBackend();
    ~QPainterBackend();
    QPainterBackend(const QPainterBackend&) = delete;
    QPainterBackend& operator=(const QPainterBackend&) = delete;

    // Draws the frame into `target` (premultiplied ARGB32 or RGB32). With a
    // non-empty `clip`, only that part of the target is cleared and redrawn
    // (see dirtyRect()); the rest keeps the previous frame.
    void draw(const CommandList& list, QImage& target, Quality quality, const QRect& clip = QRect());

    // Forgets every cached path and bitmap.
    void clearCaches();

private:
    struct Surface;
    struct Frame;

    void drawShape(Frame& f, const DrawShape& c);
    void paintShape(QPainter& p, const QTransform& toDevice, const DrawShape& c, bool maskMode, Quality quality);
    bool drawCachedShape(Frame& f, const DrawShape& c);
    void trimSpriteCache();
    void drawBitmap(Frame& f, const DrawBitmap& c);
    void drawGlyphs(Frame& f, const DrawGlyphs& c);
    void drawDeviceText(Frame& f, const DrawDeviceText& c);
    void drawRect(Frame& f, const DrawRect& c);
    void pushSurface(Frame& f, const QRect& rect, int kind);
    void popMask(Frame& f);
    void endLayer(Frame& f);

    QBrush fillBrush(bool maskMode, const FillStyle& style, const ColorTransform& cx, const BitmapResolver& bitmaps,
                     const QRectF& pathBounds);
    QImage recoloured(const std::shared_ptr<const BitmapDef>& bitmap, const QImage& image,
                      const ColorTransform& cx);
    void trimBitmapCache();

    ShapeCache m_shapes;
    // Colour-transformed copies of bitmaps, by image and transform.
    struct CachedBitmap {
        std::weak_ptr<const BitmapDef> owner;
        QImage image;
        uint64_t lastFrame = 0;
    };
    using BitmapKey = std::tuple<qint64, double, double, double, double, double, double, double, double>;
    std::map<BitmapKey, CachedBitmap> m_bitmaps;
    uint64_t m_frameNumber = 0;

    // Pictures of shapes drawn the same way frame after frame (moving ones),
    // blitted instead of rasterised again.
    struct ShapeLook {
        const ShapeDef* shape;
        double a, b, c, d;
        double rMult, gMult, bMult, aMult, rAdd, gAdd, bAdd, aAdd;
        int quality;
        bool operator==(const ShapeLook&) const = default;
    };
    struct SpriteKey {
        ShapeLook look;
        double phaseX, phaseY;
        bool operator==(const SpriteKey&) const = default;
    };
    struct LookHash {
        size_t operator()(const ShapeLook& k) const;
        size_t operator()(const SpriteKey& k) const;
    };
    struct Sprite {
        std::weak_ptr<const ShapeDef> owner;
        QImage image;
        QPoint origin;       // of the picture relative to the whole-pixel position
        uint64_t lastFrame = 0;
    };
    std::unordered_map<ShapeLook, uint64_t, LookHash> m_looks; // last frame each look was drawn
    std::unordered_map<SpriteKey, Sprite, LookHash> m_sprites;
    qsizetype m_spriteBytes = 0;
};

} // namespace swf::render
