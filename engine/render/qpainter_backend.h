#pragma once
// The QPainter backend: draws shapes as cached QPainterPaths per fill style
// and pens per line style. It keeps caches across frames (shape paths,
// pictures of moving shapes), so one backend belongs to one player and
// draws on one thread (one band).
#include "engine/render/shape_cache.h"
#include "engine/render/surface_backend.h"

#include <QImage>
#include <QRect>

#include <memory>
#include <unordered_map>
#include <vector>

class QPainter;

namespace swf::render {

class QPainterBackend : public SurfaceBackend {
public:
    QPainterBackend();
    ~QPainterBackend() override;

    void clearCaches() override;

protected:
    void drawShape(Frame& f, const DrawShape& c) override;
    void drawBitmap(Frame& f, const DrawBitmap& c) override;
    void drawGlyphs(Frame& f, const DrawGlyphs& c) override;
    void drawRect(Frame& f, const DrawRect& c) override;
    void frameDone() override;

private:
    void paintShape(QPainter& p, const QTransform& toDevice, const DrawShape& c, bool maskMode, Quality quality);
    bool drawCachedShape(Frame& f, const DrawShape& c);
    void trimSpriteCache();

    QBrush fillBrush(bool maskMode, const FillStyle& style, const ColorTransform& cx, const BitmapResolver& bitmaps,
                     const QRectF& pathBounds);

    ShapeCache m_shapes;
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
