#pragma once
// What scripts draw into a clip (MovieClip.beginFill, lineTo, curveTo ...):
// kept as shape records and turned into a shape on demand. The clip draws
// it below its children, as the Flash player does. Also the pixels of script
// bitmaps (BitmapData), which drawings fill with and clips show.
#include "engine/display/display_object.h"
#include "engine/render/commands.h"
#include "engine/swf/movie.h"

#include <memory>
#include <optional>
#include <vector>

namespace swf {

// The pixels of a script bitmap: premultiplied ARGB32, as the Flash player
// keeps them (a half-transparent pixel loses colour precision).
class BitmapSurface {
public:
    // A surface of w x h pixels filled with `argb` (unpremultiplied); an
    // opaque surface ignores the alpha. Check valid(): a surface past the
    // live-pixel budget gets no pixels.
    BitmapSurface(int width, int height, bool transparent, uint32_t argb);
    BitmapSurface(const QImage& image, bool transparent);
    ~BitmapSurface();
    BitmapSurface(const BitmapSurface&) = delete;
    BitmapSurface& operator=(const BitmapSurface&) = delete;

    bool valid() const { return !m_image.isNull(); }
    int width() const { return m_image.width(); }
    int height() const { return m_image.height(); }
    bool transparent() const { return m_transparent; }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width() && y < height(); }

    // Unpremultiplied ARGB of a pixel; 0 outside.
    uint32_t pixel32(int x, int y) const;
    // Writes an unpremultiplied ARGB pixel (alpha forced opaque on opaque surfaces).
    void setPixel32(int x, int y, uint32_t argb);
    // Raw premultiplied pixels; call changed() after writing to them.
    QImage& pixels() { return m_image; }
    const QImage& pixels() const { return m_image; }
    void changed();
    // Frees the pixels (BitmapData.dispose).
    void dispose();

    // Bumped by every change: users rebuild what they made from the pixels.
    uint64_t version() const { return m_version; }
    // The current pixels as an immutable bitmap for the renderer (shared
    // until the next change; the renderer may use it on another thread).
    std::shared_ptr<const BitmapDef> snapshot() const;

    // Premultiplying and back as the Flash player rounds.
    static uint32_t premultiply(uint32_t argb);
    static uint32_t unpremultiply(uint32_t premultiplied);

private:
    void account(int64_t pixels);
    QImage m_image;
    bool m_transparent = true;
    uint64_t m_version = 1;
    int64_t m_accounted = 0;
    mutable std::shared_ptr<const BitmapDef> m_snapshot;
};

class Drawing {
public:
    // Coordinates in twips of the clip's space. Calls with coordinates that
    // are not finite are ignored.
    void clear();
    void beginFill(const FillStyle& fill);
    // A bitmap fill of a script bitmap; `fill` gives the matrix and flags.
    void beginBitmapFill(FillStyle fill, std::shared_ptr<BitmapSurface> bitmap);
    void endFill();
    // A line style for the edges that follow; nullopt draws no lines.
    void lineStyle(const std::optional<LineStyle>& line);
    void moveTo(double x, double y);
    void lineTo(double x, double y);
    void curveTo(double cx, double cy, double x, double y);

    bool empty() const { return m_records.empty(); }
    const std::optional<LineStyle>& currentLineStyle() const { return m_lineStyle; }
    // The drawing as a shape (cached until the next change, including a
    // change of the pixels of a bitmap it fills with); null when empty.
    std::shared_ptr<const ShapeDef> shape() const;
    Rect bounds() const { return m_bounds; }
    // Resolves the drawing's bitmap fills (their ids index the drawing's
    // own bitmaps: scripts fill only with script bitmaps).
    render::BitmapResolver bitmaps() const;

private:
    void grow(double x, double y);
    void push(ShapeRecord rec);
    // Starts a new layer: fills after it cover lines drawn before.
    void startLayer(std::optional<FillStyle> fill);
    // Closes the open fill contour back to its start, without a line.
    void closeFill();
    bool full() const;

    std::vector<ShapeRecord> m_records;
    size_t m_layerStart = 0;          // index of the current layer's first record
    std::optional<LineStyle> m_lineStyle;
    std::vector<std::shared_ptr<BitmapSurface>> m_bitmaps;
    Point m_pen, m_fillStart;
    bool m_filling = false;
    bool m_contourOpen = false;       // edges drawn since the fill or the last move
    double m_lineWidth = 0;
    Rect m_bounds;
    bool m_hasBounds = false;
    mutable std::shared_ptr<const ShapeDef> m_shape;
    mutable std::vector<uint64_t> m_shapeBitmapVersions;
};

// A clip's child that shows a script bitmap (MovieClip.attachBitmap). It
// shows the pixels as they are at each frame.
class BitmapSurfaceObject : public DisplayObject {
public:
    BitmapSurfaceObject(Runtime& rt, std::shared_ptr<BitmapSurface> surface, bool smoothed);
    Rect localBounds() const override;
    bool hitTest(Point local) const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

private:
    std::shared_ptr<BitmapSurface> m_surface;
    bool m_smoothed;
};

} // namespace swf
