#pragma once
// What fills a span of pixels: a solid colour, a gradient through its
// 256-entry colour table, or a bitmap. Colours are premultiplied ARGB32.
#include "engine/swf/movie.h"

#include <QImage>

#include <array>
#include <cstdint>
#include <memory>

namespace swf::render {

using GradientTable = std::array<uint32_t, 256>;

// The Flash player's colour table of a gradient after a colour transform:
// entry t shows ratio t, blending the two stops around it. Every stop takes
// at least one entry of its own: a ratio not above the previous stop's moves
// to the next entry (equal ratios make one-entry steps), stops pushed past
// 255 are dropped. LinearRgb blends in linear light. No stops: black.
GradientTable gradientTable(const Gradient& g, const ColorTransform& cx);

struct Paint {
    enum class Kind : uint8_t { Solid, Linear, Radial, Focal, Bitmap };
    Kind kind = Kind::Solid;
    uint32_t color = 0;                          // Solid
    std::shared_ptr<const GradientTable> table;  // gradients
    SpreadMode spread = SpreadMode::Pad;
    double focal = 0;                            // Focal: -1..1 along the x axis
    QImage image;                                // Bitmap: premultiplied ARGB32
    bool repeat = true, smooth = false;          // Bitmap
    // Device pixels -> gradient square (-16384..16384) or bitmap pixels.
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool opaque = false;                         // every pixel it makes has alpha 255

    static Paint solid(uint32_t premultiplied);
    // `toDevice` maps the gradient square or the bitmap's pixels to device
    // pixels; false when it cannot be inverted (the fill draws nothing).
    bool setInverse(const Matrix& toDevice);

    // Pixels x..x+n-1 of row y (device coordinates, sampled at pixel centres).
    void span(int x, int y, int n, uint32_t* out) const;
};

} // namespace swf::render
