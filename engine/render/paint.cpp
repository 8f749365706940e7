#include "engine/render/paint.h"

#include "engine/render/color.h"

#include <algorithm>
#include <cmath>
#include <xmmintrin.h>
#include <emmintrin.h>

namespace swf::render {

namespace {

constexpr double kGradientHalf = 16384;

double toLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double fromLinear(double c) { return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055; }

uint32_t premultiply(double r, double g, double b, double a) {
    auto byte = [](double v) { return uint32_t(std::clamp(v * 255 + 0.5, 0.0, 255.0)); };
    return byte(a) << 24 | byte(r * a) << 16 | byte(g * a) << 8 | byte(b * a);
}

// Position along the gradient (0..1 over the table) after the spread mode.
inline double spreadT(double t, SpreadMode mode) {
    switch (mode) {
    case SpreadMode::Repeat: return t - std::floor(t);
    case SpreadMode::Reflect: {
        double m = t - 2 * std::floor(t / 2);
        return m > 1 ? 2 - m : m;
    }
    case SpreadMode::Pad: break;
    }
    return std::clamp(t, 0.0, 1.0);
}

// Fills out[0..n) from the table at the positions t(i), with the spread
// mode's case chosen once for the whole span.
template <typename Position>
void gradientSpan(const GradientTable& table, SpreadMode mode, int n, uint32_t* out, Position t) {
    switch (mode) {
    case SpreadMode::Pad:
        for (int i = 0; i < n; ++i) out[i] = table[size_t(std::clamp(t(i), 0.0, 1.0) * 255 + 0.5)];
        return;
    case SpreadMode::Repeat:
    case SpreadMode::Reflect:
        for (int i = 0; i < n; ++i) out[i] = table[size_t(spreadT(t(i), mode) * 255 + 0.5)];
        return;
    }
}

// One bitmap pixel; outside the image it repeats or takes the nearest edge pixel.
inline uint32_t texel(const QImage& img, int x, int y, bool repeat) {
    const int w = img.width(), h = img.height();
    if (repeat) {
        x %= w; if (x < 0) x += w;
        y %= h; if (y < 0) y += h;
    } else {
        x = std::clamp(x, 0, w - 1);
        y = std::clamp(y, 0, h - 1);
    }
    return reinterpret_cast<const uint32_t*>(img.constScanLine(y))[x];
}

// Bitmap coordinates as integers, kept in range at absurd scales.
inline int whole(double v) { return int(std::clamp(std::floor(v), -1e9, 1e9)); }

inline uint32_t lerpPixel(uint32_t p, uint32_t q, uint32_t f /*0..256*/) {
    uint32_t rb = ((p & 0xff00ff) * (256 - f) + (q & 0xff00ff) * f) >> 8 & 0xff00ff;
    uint32_t ag = (((p >> 8) & 0xff00ff) * (256 - f) + ((q >> 8) & 0xff00ff) * f) & 0xff00ff00;
    return rb | ag;
}

// Pad spread with positions computed four at a time: position(i) gives t
// for the pixels i, i + 1, i + 2, i + 3 (as floats in i).
template <typename Position> void padSpan(const GradientTable& table, int n, uint32_t* out, Position position) {
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1), scale = _mm_set1_ps(255), half = _mm_set1_ps(0.5f);
    alignas(16) int32_t index[4];
    for (int i = 0; i < n; i += 4) {
        __m128 at = _mm_add_ps(_mm_set1_ps(float(i)), _mm_set_ps(3, 2, 1, 0));
        __m128 t = _mm_min_ps(_mm_max_ps(position(at), zero), one);
        _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(t, scale), half)));
        for (int k = 0; k < 4 && i + k < n; ++k) out[i + k] = table[size_t(index[k])];
    }
}

} // namespace

GradientTable gradientTable(const Gradient& g, const ColorTransform& cx) {
    GradientTable table;
    if (g.stops.empty()) {
        table.fill(premultiply(0, 0, 0, 1));
        return table;
    }
    struct Stop { double r, g, b, a; int ratio; };
    std::vector<Stop> stops;
    const bool linear = g.interpolation == Interpolation::LinearRgb;
    int previous = -1;
    for (const GradientStop& s : g.stops) {
        // Every stop takes at least one entry: a ratio not above the previous
        // one moves to the next entry, and stops pushed past the end are dropped.
        int ratio = std::max(int(s.ratio), previous + 1);
        if (ratio > 255) break;
        previous = ratio;
        Rgba c = transformColor(s.color, cx);
        auto channel = [linear](uint8_t v) { return linear ? toLinear(v / 255.0) : v / 255.0; };
        stops.push_back({channel(c.r), channel(c.g), channel(c.b), c.a / 255.0, ratio});
    }
    auto out = [linear](double r, double gg, double b, double a) {
        if (linear) r = fromLinear(r), gg = fromLinear(gg), b = fromLinear(b);
        return premultiply(r, gg, b, a);
    };
    size_t i = 0;
    for (int t = 0; t < 256; ++t) {
        while (i < stops.size() && stops[i].ratio < t) ++i;
        if (i == 0 || i == stops.size()) {
            const Stop& s = i == 0 ? stops.front() : stops.back();
            table[size_t(t)] = out(s.r, s.g, s.b, s.a);
            continue;
        }
        const Stop& p = stops[i - 1];
        const Stop& q = stops[i];
        double f = double(t - p.ratio) / (q.ratio - p.ratio);
        table[size_t(t)] = out(p.r + (q.r - p.r) * f, p.g + (q.g - p.g) * f, p.b + (q.b - p.b) * f,
                               p.a + (q.a - p.a) * f);
    }
    return table;
}

Paint Paint::solid(uint32_t premultiplied) {
    Paint p;
    p.color = premultiplied;
    p.opaque = premultiplied >> 24 == 255;
    return p;
}

bool Paint::setInverse(const Matrix& m) {
    double det = m.a * m.d - m.b * m.c;
    if (!std::isfinite(det) || std::abs(det) < 1e-12) return false;
    a = m.d / det;
    b = -m.b / det;
    c = -m.c / det;
    d = m.a / det;
    tx = -(a * m.tx + c * m.ty);
    ty = -(b * m.tx + d * m.ty);
    return true;
}

void Paint::span(int x, int y, int n, uint32_t* out) const {
    // Position of the first pixel centre, and the step per pixel.
    const double px = x + 0.5, py = y + 0.5;
    double u = a * px + c * py + tx, v = b * px + d * py + ty;
    switch (kind) {
    case Kind::Solid: std::fill(out, out + n, color); return;
    case Kind::Linear: {
        const double t0 = (u + kGradientHalf) / (2 * kGradientHalf), dt = a / (2 * kGradientHalf);
        if (spread == SpreadMode::Pad) {
            padSpan(*table, n, out, [&](__m128 i) {
                return _mm_add_ps(_mm_set1_ps(float(t0)), _mm_mul_ps(_mm_set1_ps(float(dt)), i));
            });
            return;
        }
        gradientSpan(*table, spread, n, out, [&](int i) { return t0 + dt * i; });
        return;
    }
    case Kind::Radial: {
        if (spread == SpreadMode::Pad) {
            const float k = float(1 / kGradientHalf);
            const __m128 u0 = _mm_set1_ps(float(u) * k), v0 = _mm_set1_ps(float(v) * k);
            const __m128 du = _mm_set1_ps(float(a) * k), dv = _mm_set1_ps(float(b) * k);
            padSpan(*table, n, out, [&](__m128 i) {
                __m128 pu = _mm_add_ps(u0, _mm_mul_ps(du, i)), pv = _mm_add_ps(v0, _mm_mul_ps(dv, i));
                return _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(pu, pu), _mm_mul_ps(pv, pv)));
            });
            return;
        }
        const double du = a, dv = b;
        gradientSpan(*table, spread, n, out, [&](int i) {
            double pu = u + du * i, pv = v + dv * i;
            return std::sqrt(pu * pu + pv * pv) * (1 / kGradientHalf);
        });
        return;
    }
    case Kind::Focal: {
        // t is how far the point lies from the focal point towards the circle
        // on the ray through it: |P - F| / |X - F| with X on the circle.
        const double f = std::clamp(focal, -0.998, 0.998);
        gradientSpan(*table, spread, n, out, [&](int i) {
            double dx = (u + a * i) / kGradientHalf - f, dy = (v + b * i) / kGradientHalf;
            double dd = dx * dx + dy * dy;
            double fd = f * dx;
            double s = (-fd + std::sqrt(fd * fd - dd * (f * f - 1))) / (dd > 0 ? dd : 1);
            return dd > 0 ? 1 / s : 0.0;
        });
        return;
    }
    case Kind::Bitmap:
        if (!smooth) {
            for (int i = 0; i < n; ++i, u += a, v += b)
                out[i] = texel(image, whole(u), whole(v), repeat);
            return;
        }
        for (int i = 0; i < n; ++i, u += a, v += b) {
            double su = u - 0.5, sv = v - 0.5;
            int ix = whole(su), iy = whole(sv);
            double fu = std::floor(su), fv = std::floor(sv);
            uint32_t wx = uint32_t((su - fu) * 256), wy = uint32_t((sv - fv) * 256);
            uint32_t top = lerpPixel(texel(image, ix, iy, repeat), texel(image, ix + 1, iy, repeat), wx);
            uint32_t bottom = lerpPixel(texel(image, ix, iy + 1, repeat), texel(image, ix + 1, iy + 1, repeat), wx);
            out[i] = lerpPixel(top, bottom, wy);
        }
        return;
    }
}

} // namespace swf::render
