#pragma once
// Bitmap filters of PlaceObject3 and buttons: parsed from the raw SWF filter
// list and applied to a layer's pixels. Sizes (blur, distance) are in pixels
// of the filter's space; `scale` turns them into device pixels.
#include "engine/render/quality.h"
#include "engine/swf/movie.h"

#include <QImage>
#include <QMargins>

#include <array>
#include <span>
#include <vector>

namespace swf::render {

enum class FilterKind : uint8_t {
    DropShadow = 0, Blur = 1, Glow = 2, Bevel = 3, GradientGlow = 4, Convolution = 5, ColorMatrix = 6,
    GradientBevel = 7
};

struct FilterDef {
    FilterKind kind = FilterKind::Blur;
    Rgba color;                       // shadow / glow colour; bevel: the shadow colour
    Rgba highlight;                   // bevel only
    double blurX = 0, blurY = 0;      // pixels
    double angle = 0, distance = 0;   // radians, pixels
    double strength = 1;
    bool inner = false, knockout = false, compositeSource = true, onTop = false;
    int passes = 1;
    std::vector<GradientStop> gradient;            // gradient glow / bevel
    int matrixX = 0, matrixY = 0;                  // convolution
    float divisor = 1, bias = 0;
    std::vector<float> matrix;
    Rgba defaultColor{0, 0, 0, 0};
    bool clamp = true, preserveAlpha = false;
    std::array<float, 20> colorMatrix{};           // colour matrix, row-major 4x5
};

// The filters of a raw FILTERLIST (count byte first). A truncated list gives
// the filters read before the break.
std::vector<FilterDef> parseFilters(std::span<const uint8_t> bytes);

// Device pixels the filters may add around the content (left, top, right, bottom).
QMargins filterExtent(const std::vector<FilterDef>& filters, double scaleX, double scaleY);

// Applies the filters in order to a premultiplied ARGB32 image, in place.
// The image must already have room for filterExtent() around its content.
void applyFilters(QImage& image, const std::vector<FilterDef>& filters, double scaleX, double scaleY,
                  Quality quality);

// Box blur of a premultiplied ARGB32 image: `passes` passes of a box
// 2*radius+1 wide, horizontally then vertically, as the Flash player blurs.
void boxBlur(QImage& image, int radiusX, int radiusY, int passes);

} // namespace swf::render
