#pragma once
// The scanline rasterizer: polygons in device pixels become exact area
// coverage per pixel (signed areas accumulated along each row), which is
// turned into colour by the paths' paints and put over the target. Paths
// filled together in one call are resolved together: where two of them share
// an edge their coverages add up to the whole pixel, so nothing of what lies
// below shows through (no seam).
#include "engine/render/paint.h"

#include <QPoint>
#include <QRect>

#include <cstdint>
#include <span>
#include <vector>

namespace swf::render {

struct Segment {
    float x0, y0, x1, y1;
};

enum class FillRule : uint8_t { EvenOdd, NonZero };

struct CoverPath {
    std::span<const Segment> segments;  // closed contours, device pixels
    FillRule rule = FillRule::EvenOdd;
    const Paint* paint = nullptr;
};

// Premultiplied ARGB32 (or RGB32) pixels of a surface whose top-left pixel is
// at `origin` in device pixels; only `clip` (device pixels) is drawn.
struct Canvas {
    uint32_t* pixels = nullptr;
    qsizetype stride = 0;              // pixels per row
    QPoint origin;
    QRect clip;
};

// How coverage is found: the covered area of a pixel rounded to `steps`
// between empty and full (0: aliased, a pixel is in or out; 255: exact), or,
// with `points`, the share of a 4x4 grid of sample points inside it.
struct Coverage {
    int steps = 255;
    bool points = false;
};

// Fills `paths` together and puts the result over the canvas (source-over).
void fillPaths(const Canvas& canvas, std::span<const CoverPath> paths, Coverage coverage);

} // namespace swf::render
