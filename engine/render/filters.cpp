#include "engine/render/filters.h"

#include "engine/core/limits.h"
#include "engine/core/reader.h"

#include <algorithm>
#include <cmath>

namespace swf::render {

namespace {

Rgba readRgba(Reader& r) {
    Rgba c;
    c.r = r.u8(); c.g = r.u8(); c.b = r.u8(); c.a = r.u8();
    return c;
}

using limits::kMaxBlurPixelPasses;
using limits::kMaxFilterPixels;
using limits::kMaxFilters;
using limits::kMaxKernelSide;

double clampSize(double v) { return std::clamp(std::isfinite(v) ? v : 0.0, 0.0, kMaxFilterPixels); }

// One box pass over interleaved 8-bit channels, along rows (step 1) or
// columns; pixels outside the image count as transparent.
void boxPass(uint8_t* data, int count, int lines, int channels, size_t pixelStride, size_t lineStride,
             int radius, std::vector<uint32_t>& sums, std::vector<uint8_t>& copy) {
    if (radius <= 0) return;
    const uint32_t width = 2 * radius + 1;
    copy.resize(size_t(count) * channels);
    for (int line = 0; line < lines; ++line) {
        uint8_t* base = data + line * lineStride;
        for (int i = 0; i < count; ++i)
            for (int c = 0; c < channels; ++c) copy[i * channels + c] = base[i * pixelStride + c];
        sums.assign(channels, 0);
        for (int i = 0; i < std::min(radius, count); ++i)
            for (int c = 0; c < channels; ++c) sums[c] += copy[i * channels + c];
        for (int i = 0; i < count; ++i) {
            int in = i + radius, out = i - radius - 1;
            for (int c = 0; c < channels; ++c) {
                if (in < count) sums[c] += copy[in * channels + c];
                if (out >= 0) sums[c] -= copy[out * channels + c];
                base[i * pixelStride + c] = uint8_t((sums[c] + width / 2) / width);
            }
        }
    }
}

void blurPlane(uint8_t* data, int w, int h, int channels, size_t rowStride, int rx, int ry, int passes) {
    std::vector<uint32_t> sums;
    std::vector<uint8_t> copy;
    for (int p = 0; p < passes; ++p) {
        boxPass(data, w, h, channels, channels, rowStride, rx, sums, copy);
        boxPass(data, h, w, channels, rowStride, channels, ry, sums, copy);
    }
}

// An 8-bit plane (alpha or a strength map) the size of the image.
struct Plane {
    int w = 0, h = 0;
    std::vector<uint8_t> v;
    uint8_t at(int x, int y) const { return (x < 0 || y < 0 || x >= w || y >= h) ? 0 : v[y * w + x]; }
};

Plane alphaOf(const QImage& img) {
    Plane p{img.width(), img.height(), std::vector<uint8_t>(size_t(img.width()) * img.height())};
    for (int y = 0; y < p.h; ++y) {
        auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < p.w; ++x) p.v[y * p.w + x] = uint8_t(qAlpha(line[x]));
    }
    return p;
}

Plane shifted(const Plane& p, int dx, int dy) {
    Plane out{p.w, p.h, std::vector<uint8_t>(p.v.size())};
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) out.v[y * p.w + x] = p.at(x - dx, y - dy);
    return out;
}

struct Geometry {
    int rx = 0, ry = 0, passes = 1, dx = 0, dy = 0;
};

Geometry geometryOf(const FilterDef& f, double sx, double sy, Quality quality) {
    Geometry g;
    // A blur of one pixel or less leaves the image as it is.
    auto radius = [](double pixels) { return pixels <= 1 ? 0 : int(std::lround(pixels / 2)); };
    g.rx = radius(clampSize(f.blurX) * sx);
    g.ry = radius(clampSize(f.blurY) * sy);
    g.passes = std::clamp(f.passes, 1, 15);
    if (quality == Quality::Low) g.passes = 1;
    double d = std::clamp(std::isfinite(f.distance) ? f.distance : 0.0, -kMaxFilterPixels, kMaxFilterPixels);
    g.dx = int(std::lround(std::cos(f.angle) * d * sx));
    g.dy = int(std::lround(std::sin(f.angle) * d * sy));
    return g;
}

void blurAlpha(Plane& p, const Geometry& g) { blurPlane(p.v.data(), p.w, p.h, 1, p.w, g.rx, g.ry, g.passes); }

uint8_t scaleStrength(int v, double strength) {
    return uint8_t(std::clamp(std::lround(v * strength), 0L, 255L));
}

// Premultiplied colour `c` at coverage `k` (0..255).
QRgb tint(Rgba c, int k) {
    int a = c.a * k / 255;
    return qRgba(c.r * a / 255, c.g * a / 255, c.b * a / 255, a);
}

QRgb over(QRgb top, QRgb bottom) {
    int ia = 255 - qAlpha(top);
    return qRgba(qRed(top) + qRed(bottom) * ia / 255, qGreen(top) + qGreen(bottom) * ia / 255,
                 qBlue(top) + qBlue(bottom) * ia / 255, qAlpha(top) + qAlpha(bottom) * ia / 255);
}

QRgb scalePixel(QRgb p, int k) {
    return qRgba(qRed(p) * k / 255, qGreen(p) * k / 255, qBlue(p) * k / 255, qAlpha(p) * k / 255);
}

// Puts an effect (premultiplied pixels, one per image pixel) together with
// the source as the filter's flags say.
void composeEffect(QImage& img, const std::vector<QRgb>& effect, const FilterDef& f, bool inner) {
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            QRgb src = line[x], fx = effect[size_t(y) * img.width() + x];
            int sa = qAlpha(src);
            QRgb out;
            if (inner) {
                fx = scalePixel(fx, sa); // only inside the source
                out = f.knockout ? fx : over(fx, src);
            } else {
                fx = scalePixel(fx, 255 - sa); // only outside the source
                out = (f.knockout || !f.compositeSource) ? fx : over(src, fx);
            }
            line[x] = out;
        }
    }
}

QRgb gradientAt(const std::vector<GradientStop>& stops, int v) {
    if (stops.empty()) return 0;
    if (v <= stops.front().ratio) return tint(stops.front().color, 255);
    for (size_t i = 1; i < stops.size(); ++i) {
        if (v <= stops[i].ratio) {
            const auto &a = stops[i - 1], &b = stops[i];
            double t = b.ratio == a.ratio ? 1 : double(v - a.ratio) / (b.ratio - a.ratio);
            auto mix = [t](int p, int q) { return uint8_t(std::lround(p + (q - p) * t)); };
            return tint(Rgba{mix(a.color.r, b.color.r), mix(a.color.g, b.color.g),
                             mix(a.color.b, b.color.b), mix(a.color.a, b.color.a)},
                        255);
        }
    }
    return tint(stops.back().color, 255);
}

void shadowOrGlow(QImage& img, const FilterDef& f, const Geometry& g) {
    Plane a = alphaOf(img);
    if (f.inner)
        for (auto& v : a.v) v = uint8_t(255 - v); // the shadow falls from outside the shape inward
    a = shifted(a, g.dx, g.dy);
    blurAlpha(a, g);
    std::vector<QRgb> effect(a.v.size());
    bool gradient = f.kind == FilterKind::GradientGlow;
    for (size_t i = 0; i < a.v.size(); ++i) {
        int k = scaleStrength(a.v[i], f.strength);
        // A gradient glow colours each strength by its gradient, whose alpha fades it out.
        effect[i] = gradient ? gradientAt(f.gradient, k) : tint(f.color, k);
    }
    composeEffect(img, effect, f, f.inner);
}

void bevel(QImage& img, const FilterDef& f, const Geometry& g) {
    Plane a = alphaOf(img);
    blurAlpha(a, g);
    std::vector<QRgb> effect(a.v.size());
    bool gradient = f.kind == FilterKind::GradientBevel;
    for (int y = 0; y < a.h; ++y) {
        for (int x = 0; x < a.w; ++x) {
            // Lit where the shape rises towards the light, shaded where it falls away.
            int d = int(a.at(x - g.dx, y - g.dy)) - int(a.at(x + g.dx, y + g.dy));
            int k = scaleStrength(std::abs(d), f.strength);
            QRgb px;
            if (gradient)
                px = gradientAt(f.gradient, std::clamp(128 + (d > 0 ? -k : k) / 2, 0, 255));
            else
                px = d < 0 ? tint(f.highlight, k) : tint(f.color, k);
            effect[size_t(y) * a.w + x] = px;
        }
    }
    // Bevels are inner unless they say otherwise; full bevels cover both sides.
    if (!f.inner && !f.onTop) {
        composeEffect(img, effect, f, true);
        return;
    }
    composeEffect(img, effect, f, f.inner);
}

void colorMatrix(QImage& img, const std::array<float, 20>& m) {
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            QRgb p = qUnpremultiply(line[x]);
            double in[4] = {double(qRed(p)), double(qGreen(p)), double(qBlue(p)), double(qAlpha(p))};
            int out[4];
            for (int r = 0; r < 4; ++r) {
                double v = m[r * 5] * in[0] + m[r * 5 + 1] * in[1] + m[r * 5 + 2] * in[2] +
                           m[r * 5 + 3] * in[3] + m[r * 5 + 4];
                out[r] = int(std::clamp(std::lround(std::isfinite(v) ? v : 0.0), 0L, 255L));
            }
            line[x] = qPremultiply(qRgba(out[0], out[1], out[2], out[3]));
        }
    }
}

void convolution(QImage& img, const FilterDef& f) {
    if (f.matrixX <= 0 || f.matrixY <= 0 || f.matrix.size() != size_t(f.matrixX) * f.matrixY) return;
    // Flash kernels are at most 15 x 15; larger ones would cost unbounded time.
    if (f.matrixX > kMaxKernelSide || f.matrixY > kMaxKernelSide) return;
    QImage src = img.convertToFormat(QImage::Format_ARGB32);
    int w = img.width(), h = img.height();
    double divisor = f.divisor == 0 ? 1 : f.divisor;
    auto pixel = [&](int x, int y) -> QRgb {
        if (x < 0 || y < 0 || x >= w || y >= h) {
            if (!f.clamp) return qRgba(f.defaultColor.r, f.defaultColor.g, f.defaultColor.b, f.defaultColor.a);
            x = std::clamp(x, 0, w - 1);
            y = std::clamp(y, 0, h - 1);
        }
        return reinterpret_cast<const QRgb*>(src.constScanLine(y))[x];
    };
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            double acc[4] = {0, 0, 0, 0};
            for (int j = 0; j < f.matrixY; ++j)
                for (int i = 0; i < f.matrixX; ++i) {
                    QRgb p = pixel(x + i - f.matrixX / 2, y + j - f.matrixY / 2);
                    double k = f.matrix[j * f.matrixX + i];
                    acc[0] += k * qRed(p); acc[1] += k * qGreen(p); acc[2] += k * qBlue(p); acc[3] += k * qAlpha(p);
                }
            auto ch = [&](double v) { return int(std::clamp(std::lround(v / divisor + f.bias), 0L, 255L)); };
            int alpha = f.preserveAlpha ? qAlpha(pixel(x, y)) : ch(acc[3]);
            line[x] = qPremultiply(qRgba(ch(acc[0]), ch(acc[1]), ch(acc[2]), alpha));
        }
    }
}

} // namespace

std::vector<FilterDef> parseFilters(std::span<const uint8_t> bytes) {
    std::vector<FilterDef> out;
    Reader r(bytes);
    int count = std::min<int>(r.u8(), kMaxFilters);
    for (int n = 0; n < count && !r.failed(); ++n) {
        FilterDef f;
        uint8_t id = r.u8();
        if (id > 7) break;
        f.kind = FilterKind(id);
        switch (f.kind) {
        case FilterKind::DropShadow:
        case FilterKind::Glow: {
            f.color = readRgba(r);
            f.blurX = r.fixed();
            f.blurY = r.fixed();
            if (f.kind == FilterKind::DropShadow) {
                f.angle = r.fixed();
                f.distance = r.fixed();
            }
            f.strength = r.fixed8();
            f.inner = r.bit();
            f.knockout = r.bit();
            f.compositeSource = r.bit();
            f.passes = int(r.ubits(5));
            break;
        }
        case FilterKind::Blur:
            f.blurX = r.fixed();
            f.blurY = r.fixed();
            f.passes = int(r.ubits(5));
            r.ubits(3);
            break;
        case FilterKind::Bevel:
        case FilterKind::GradientGlow:
        case FilterKind::GradientBevel: {
            if (f.kind == FilterKind::Bevel) {
                f.color = readRgba(r);
                f.highlight = readRgba(r);
            } else {
                int colors = r.u8();
                f.gradient.resize(colors);
                for (auto& s : f.gradient) s.color = readRgba(r);
                for (auto& s : f.gradient) s.ratio = r.u8();
            }
            f.blurX = r.fixed();
            f.blurY = r.fixed();
            f.angle = r.fixed();
            f.distance = r.fixed();
            f.strength = r.fixed8();
            f.inner = r.bit();
            f.knockout = r.bit();
            f.compositeSource = r.bit();
            f.onTop = r.bit();
            f.passes = int(r.ubits(4));
            break;
        }
        case FilterKind::Convolution: {
            f.matrixX = r.u8();
            f.matrixY = r.u8();
            f.divisor = r.f32();
            f.bias = r.f32();
            size_t cells = size_t(f.matrixX) * f.matrixY;
            if (cells > r.remaining() / 4) { r.fail(); break; }
            f.matrix.resize(cells);
            for (auto& v : f.matrix) v = r.f32();
            f.defaultColor = readRgba(r);
            r.ubits(6);
            f.clamp = r.bit();
            f.preserveAlpha = r.bit();
            break;
        }
        case FilterKind::ColorMatrix:
            for (auto& v : f.colorMatrix) v = r.f32();
            break;
        }
        if (r.failed()) break;
        out.push_back(std::move(f));
    }
    return out;
}

QMargins filterExtent(const std::vector<FilterDef>& filters, double sx, double sy) {
    QMargins m;
    for (const FilterDef& f : filters) {
        if (f.kind == FilterKind::ColorMatrix) continue;
        if (f.kind == FilterKind::Convolution) {
            m += QMargins(f.matrixX / 2, f.matrixY / 2, f.matrixX / 2, f.matrixY / 2);
            continue;
        }
        Geometry g = geometryOf(f, sx, sy, Quality::Best);
        int bx = g.rx * g.passes + 1, by = g.ry * g.passes + 1;
        m += QMargins(bx + std::max(0, -g.dx), by + std::max(0, -g.dy), bx + std::max(0, g.dx),
                      by + std::max(0, g.dy));
    }
    return m;
}

void boxBlur(QImage& image, int radiusX, int radiusY, int passes) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    blurPlane(image.bits(), image.width(), image.height(), 4, size_t(image.bytesPerLine()), radiusX,
              radiusY, passes);
}

void applyFilters(QImage& image, const std::vector<FilterDef>& filters, double sx, double sy,
                  Quality quality) {
    if (image.isNull()) return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int64_t passes = 0;
    for (const FilterDef& f : filters) passes += geometryOf(f, sx, sy, quality).passes;
    const int64_t pixels = int64_t(image.width()) * image.height();
    const double cut = pixels * passes > kMaxBlurPixelPasses ? double(kMaxBlurPixelPasses) / (pixels * passes) : 1;
    for (const FilterDef& f : filters) {
        Geometry g = geometryOf(f, sx, sy, quality);
        g.passes = std::max(1, int(g.passes * cut));
        switch (f.kind) {
        case FilterKind::Blur: boxBlur(image, g.rx, g.ry, g.passes); break;
        case FilterKind::DropShadow:
        case FilterKind::Glow:
        case FilterKind::GradientGlow: shadowOrGlow(image, f, g); break;
        case FilterKind::Bevel:
        case FilterKind::GradientBevel: bevel(image, f, g); break;
        case FilterKind::ColorMatrix: colorMatrix(image, f.colorMatrix); break;
        case FilterKind::Convolution: convolution(image, f); break;
        }
    }
}

} // namespace swf::render
