#pragma once
// The part both backends share: a frame drawn on a stack of images (the
// target, then offscreen surfaces for masks and layers), layers put down with
// their blend modes and filters, masks applied, device text drawn by Qt.
// Subclasses draw the primitives (shapes, bitmaps, glyphs, rectangles) onto
// the top surface.
#include "engine/render/backend.h"
#include "engine/render/filters.h"

#include <QImage>
#include <QPainter>
#include <QPoint>

#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

namespace swf::render {

class SurfaceBackend : public RenderBackend {
public:
    SurfaceBackend();
    ~SurfaceBackend() override;
    SurfaceBackend(const SurfaceBackend&) = delete;
    SurfaceBackend& operator=(const SurfaceBackend&) = delete;

    void draw(const CommandList& list, QImage& target, Quality quality, const QRect& clip = QRect()) override;
    void clearCaches() override;

protected:
    enum SurfaceKind { Root, MaskShape, MaskContent, Layer };

    struct Surface {
        int kind = Root;
        QImage own;
        QImage* image = nullptr;
        QPoint origin;                     // device position of the image's top-left pixel
        QRect clip;                        // device pixels this surface may change
        QImage mask;                       // MaskContent: the coverage that clips it
        bool maskMode = false;             // drawing coverage only (mask shapes)
        const BeginLayer* layer = nullptr;
        std::vector<FilterDef> filters;

        QRect rect() const { return QRect(origin, image->size()); }
        QTransform offset() const { return QTransform::fromTranslate(-origin.x(), -origin.y()); }
        // A painter on the image, made when first needed, with no transform,
        // full opacity and source-over.
        QPainter& painter(bool antialias);

    private:
        std::unique_ptr<QPainter> m_painter;
        friend class SurfaceBackend;
    };

    struct Frame {
        const CommandList& list;
        const std::vector<int>& partners;
        Quality quality;
        QRect clip;
        std::vector<std::unique_ptr<Surface>> stack;
        std::vector<bool> ignoredEnd;      // EndLayers of layers drawn without their own surface
        int64_t livePixels = 0;            // of the offscreen surfaces now open

        bool roomFor(const QRect& rect) const;
        Surface& top() { return *stack.back(); }
        QPainter& painter() { return stack.back()->painter(antialias()); }
        bool maskMode() const { return stack.back()->maskMode; }
        bool antialias() const { return quality != Quality::Low; }
        bool smooth(bool requested) const { return requested && quality >= Quality::High; }
    };

    // How many horizontal bands a frame of `height` rows is cut into; each is
    // drawn on its own (in parallel on the thread pool when there is one).
    // Subclasses whose drawing is not thread-safe keep the default of one.
    virtual int bandCount(int height) const;
    virtual void drawShape(Frame& f, const DrawShape& c) = 0;
    virtual void drawBitmap(Frame& f, const DrawBitmap& c) = 0;
    virtual void drawGlyphs(Frame& f, const DrawGlyphs& c) = 0;
    virtual void drawRect(Frame& f, const DrawRect& c) = 0;
    virtual void drawDeviceText(Frame& f, const DrawDeviceText& c);
    // After every band of a frame is done: trim caches.
    virtual void frameDone() {}

    // A colour-transformed copy of a bitmap, kept across frames. Thread-safe.
    QImage recoloured(const std::shared_ptr<const BitmapDef>& bitmap, const QImage& image, const ColorTransform& cx);
    uint64_t frameNumber() const { return m_frameNumber; }

private:
    void drawBand(const CommandList& list, const std::vector<int>& partners, QImage& band, QPoint origin,
                  Quality quality, const QRect& clip);
    void pushSurface(Frame& f, const QRect& rect, int kind);
    void popMask(Frame& f);
    void endLayer(Frame& f);
    void trimBitmapCache();

    // Colour-transformed copies of bitmaps, by image and transform.
    struct CachedBitmap {
        std::weak_ptr<const BitmapDef> owner;
        QImage image;
        uint64_t lastFrame = 0;
    };
    using BitmapKey = std::tuple<qint64, double, double, double, double, double, double, double, double>;
    std::mutex m_bitmapsMutex;
    std::map<BitmapKey, CachedBitmap> m_bitmaps;
    uint64_t m_frameNumber = 0;
};

} // namespace swf::render
