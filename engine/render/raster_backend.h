#pragma once
// The default backend: our own scanline rasterizer. Shapes keep their
// polygons in their own space (OutlineCache) and are transformed each frame;
// the fills of a shape layer are resolved together, so shared edges leave no
// seam. Bands of a frame are drawn in parallel when a thread pool is given.
#include "engine/render/outline_cache.h"
#include "engine/render/paint.h"
#include "engine/render/scanline.h"
#include "engine/render/surface_backend.h"

#include <mutex>
#include <unordered_map>
#include <vector>

namespace swf::render {

class RasterBackend : public SurfaceBackend {
public:
    RasterBackend();
    ~RasterBackend() override;

    void clearCaches() override;

    // Coverage as the Flash player's qualities sample it: low none, medium a
    // 2x2 grid, high and best a 4x4 grid; text glyphs count the grid's points.
    static Coverage coverageOf(Quality quality, bool glyph);

protected:
    int bandCount(int height) const override;
    void drawShape(Frame& f, const DrawShape& c) override;
    void drawBitmap(Frame& f, const DrawBitmap& c) override;
    void drawGlyphs(Frame& f, const DrawGlyphs& c) override;
    void drawRect(Frame& f, const DrawRect& c) override;
    void frameDone() override;

private:
    static Canvas canvasOf(Surface& s);
    // The paint of a fill style drawn through `toDevice` (shape twips to device).
    bool paintOf(Frame& f, const FillStyle& style, const Matrix& toDevice, const ColorTransform& cx,
                 const BitmapResolver& bitmaps, Paint& out);
    std::shared_ptr<const GradientTable> tableOf(const Gradient& g, const ColorTransform& cx);

    OutlineCache m_outlines;
    // Gradient colour tables by stops and colour transform, for this frame
    // and the last (moving shapes reuse theirs).
    struct TableKey {
        std::vector<GradientStop> stops;
        Interpolation interpolation;
        ColorTransform cx;
        bool operator==(const TableKey&) const;
    };
    struct TableHash {
        size_t operator()(const TableKey& k) const;
    };
    std::mutex m_tablesMutex;
    std::unordered_map<TableKey, std::shared_ptr<const GradientTable>, TableHash> m_tables, m_oldTables;
};

} // namespace swf::render
