#include "engine/render/color.h"

#include <algorithm>
#include <cmath>

namespace swf::render {

namespace {
uint8_t channel(double v, double mult, double add) {
    return uint8_t(std::clamp(std::lround(v * mult + add), 0L, 255L));
}
} // namespace

Rgba transformColor(Rgba c, const ColorTransform& cx) {
    return {channel(c.r, cx.rMult, cx.rAdd), channel(c.g, cx.gMult, cx.gAdd),
            channel(c.b, cx.bMult, cx.bAdd), channel(c.a, cx.aMult, cx.aAdd)};
}

QColor toQColor(Rgba c) { return QColor(c.r, c.g, c.b, c.a); }

bool isAlphaOnly(const ColorTransform& cx) {
    return cx.rMult == 1 && cx.gMult == 1 && cx.bMult == 1 && cx.rAdd == 0 && cx.gAdd == 0 &&
           cx.bAdd == 0 && cx.aAdd == 0 && cx.aMult >= 0 && cx.aMult <= 1;
}

QImage transformImage(const QImage& image, const ColorTransform& cx) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    // Lookup tables per channel: 256 entries each instead of per-pixel maths.
    uint8_t lut[4][256];
    for (int v = 0; v < 256; ++v) {
        lut[0][v] = channel(v, cx.rMult, cx.rAdd);
        lut[1][v] = channel(v, cx.gMult, cx.gAdd);
        lut[2][v] = channel(v, cx.bMult, cx.bAdd);
        lut[3][v] = channel(v, cx.aMult, cx.aAdd);
    }
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            QRgb p = line[x];
            line[x] = qRgba(lut[0][qRed(p)], lut[1][qGreen(p)], lut[2][qBlue(p)], lut[3][qAlpha(p)]);
        }
    }
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace swf::render
