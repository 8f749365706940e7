#include "engine/render/blend.h"

#include <algorithm>
#include <cmath>

namespace swf::render {

namespace {

// A premultiplied channel of the result from premultiplied source and
// destination channels (0..1) and their alphas, for the separable modes:
// what each covers alone, plus the mode's mix where both are.
float mixChannel(BlendMode mode, float s, float d, float sa, float da) {
    const float alone = s * (1 - da) + d * (1 - sa);
    switch (mode) {
    case BlendMode::Multiply: return alone + s * d;
    case BlendMode::Screen: return s + d - s * d;
    case BlendMode::Lighten: return alone + std::max(s * da, d * sa);
    case BlendMode::Darken: return alone + std::min(s * da, d * sa);
    case BlendMode::Difference: return s + d - 2 * std::min(s * da, d * sa);
    case BlendMode::Overlay:
        return alone + (2 * d <= da ? 2 * s * d : sa * da - 2 * (da - d) * (sa - s));
    case BlendMode::Hardlight:
        return alone + (2 * s <= sa ? 2 * s * d : sa * da - 2 * (da - d) * (sa - s));
    // Plain sums of the premultiplied values, held to 0..1.
    case BlendMode::Add: return std::min(1.0f, s + d);
    case BlendMode::Subtract: return std::max(0.0f, d - s);
    // The colours below turned over where the layer covers them, whatever
    // its colour: over nothing it gives white.
    case BlendMode::Invert: return (1 - d) * sa + d * (1 - sa);
    // What the layer covers keeps the layer below; the rest is cut away.
    case BlendMode::Alpha: return d * sa;
    case BlendMode::Erase: return d * (1 - sa);
    case BlendMode::Normal:
    case BlendMode::Layer: break;
    }
    return s + d * (1 - sa);
}

float mixAlpha(BlendMode mode, float sa, float da) {
    switch (mode) {
    case BlendMode::Add: return std::min(1.0f, sa + da);
    case BlendMode::Alpha: return da * sa;
    case BlendMode::Erase: return da * (1 - sa);
    default: return sa + da * (1 - sa);
    }
}

// Source-over in integers, for the common case.
inline uint32_t over(uint32_t s, uint32_t d) {
    const uint32_t keep = 255 - (s >> 24);
    if (keep == 255) return d;
    if (keep == 0) return s;
    uint32_t rb = (d & 0xff00ff) * keep + 0x800080;
    rb = ((rb + (rb >> 8 & 0xff00ff)) >> 8) & 0xff00ff;
    uint32_t ag = (d >> 8 & 0xff00ff) * keep + 0x800080;
    ag = (ag + (ag >> 8 & 0xff00ff)) & 0xff00ff00;
    return s + (ag | rb);
}

} // namespace

uint32_t blendPixel(uint32_t src, uint32_t dst, BlendMode mode) {
    constexpr float k = 1 / 255.0f;
    const float sa = float(src >> 24) * k, da = float(dst >> 24) * k;
    const float a = mixAlpha(mode, sa, da);
    uint32_t out = uint32_t(std::lround(std::clamp(a, 0.0f, 1.0f) * 255)) << 24;
    for (int shift : {16, 8, 0}) {
        const float s = float(src >> shift & 0xff) * k, d = float(dst >> shift & 0xff) * k;
        // A premultiplied channel never exceeds its alpha.
        const float c = std::clamp(mixChannel(mode, s, d, sa, da), 0.0f, a);
        out |= uint32_t(std::lround(c * 255)) << shift;
    }
    return out;
}

void blendLayer(QImage& dest, const QImage& layer, QPoint at, BlendMode mode, bool destIsLayer) {
    const bool onBelow = mode == BlendMode::Alpha || mode == BlendMode::Erase;
    if (onBelow && !destIsLayer) return;
    const QRect area = QRect(at, layer.size()) & dest.rect();
    const bool opaqueDest = !dest.hasAlphaChannel();
    const uint32_t destAlpha = opaqueDest ? 0xff000000u : 0;
    for (int y = 0; y < dest.height(); ++y) {
        auto* d = reinterpret_cast<uint32_t*>(dest.scanLine(y));
        if (y < area.top() || y > area.bottom()) {
            // Alpha keeps the layer below only where this layer is.
            if (mode == BlendMode::Alpha) std::fill(d, d + dest.width(), 0u);
            continue;
        }
        if (mode == BlendMode::Alpha) {
            std::fill(d, d + area.left(), 0u);
            std::fill(d + area.right() + 1, d + dest.width(), 0u);
        }
        const auto* s = reinterpret_cast<const uint32_t*>(layer.constScanLine(y - at.y())) - at.x();
        if (mode == BlendMode::Normal || mode == BlendMode::Layer) {
            for (int x = area.left(); x <= area.right(); ++x) d[x] = over(s[x], d[x]);
            continue;
        }
        for (int x = area.left(); x <= area.right(); ++x) {
            const uint32_t sp = s[x];
            if (sp >> 24 == 0 && mode != BlendMode::Alpha) continue;
            d[x] = blendPixel(sp, d[x] | destAlpha, mode) | destAlpha;
        }
    }
}

} // namespace swf::render
