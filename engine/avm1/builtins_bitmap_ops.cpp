// BitmapData's pixel operations: channel and colour work, noise, dissolves,
// flood fills, scrolling and comparisons. Each reads its arguments (which may
// run script) before it takes the pixels.
#include "engine/avm1/bitmap_common.h"
#include "engine/render/filters.h"

#include <array>
#include <numeric>

namespace swf::avm1::builtins::bitmap {
namespace {

uint32_t channelOf(uint32_t argb, int shift) { return (argb >> shift) & 255; }

// One bitmap channel by its flag (1 red, 2 green, 4 blue, 8 alpha) as a bit
// shift in ARGB; -1 for anything else.
int channelShift(uint32_t flag) {
    switch (flag) {
    case 1: return 16;
    case 2: return 8;
    case 4: return 0;
    case 8: return 24;
    default: return -1;
    }
}

// The arguments (sourceBitmap, sourceRect, destPoint) that many methods share,
// cut to both bitmaps.
struct SourceArgs {
    std::shared_ptr<BitmapSurface> src;
    IntRect rect;
    int dx = 0, dy = 0;
};
std::optional<SourceArgs> sourceArgs(Vm& vm, CallArgs& a) {
    Object* rectObj = a.at(1).asObject();
    Object* pt = a.at(2).asObject();
    if (!rectObj || !pt || !gfx::surfaceOf(a.at(0))) return std::nullopt;
    SourceArgs s;
    s.rect = rectArg(vm, rectObj);
    s.dx = wholePixels(gfx::number(vm, pt, "x"));
    s.dy = wholePixels(gfx::number(vm, pt, "y"));
    s.src = gfx::surfaceOf(a.at(0));
    if (!s.src) return std::nullopt;
    return s;
}

// Applies `fn(srcArgb, dstArgb) -> newArgb` over the source rectangle placed at the
// destination point, on unpremultiplied pixels; the source is read through a copy,
// so a bitmap may be its own source.
template <typename Fn>
bool blendRegion(Vm& vm, BitmapSurface& dst, const SourceArgs& args, Fn fn) {
    CopyRegion r = copyRegion(args.rect, args.dx, args.dy, *args.src, dst);
    if (!chargePixels(vm, r.w, r.h)) return false;
    QImage from = args.src->pixels().copy(r.sx, r.sy, r.w, r.h);
    for (int y = 0; y < r.h; ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(from.constScanLine(y));
        for (int x = 0; x < r.w; ++x) {
            uint32_t s = BitmapSurface::unpremultiply(in[x]);
            dst.setPixel32(r.dx + x, r.dy + y, fn(s, dst.pixel32(r.dx + x, r.dy + y)));
        }
    }
    dst.changed();
    markChanged(vm);
    return true;
}

Value bitmapColorTransform(Vm& vm, CallArgs& a) {
    Object* rectObj = a.at(0).asObject();
    Object* ctObj = a.at(1).asObject();
    if (!rectObj || !ctObj) return kFailed;
    IntRect asked = rectArg(vm, rectObj);
    ColorTransform cx = gfx::colorTransformFrom(vm, ctObj);
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    IntRect r = clipTo(asked, s->width(), s->height());
    if (!chargePixels(vm, r.w, r.h)) return kFailed;
    auto apply = [](uint32_t v, double mult, double add) {
        double d = v * mult + add;
        return uint32_t(std::isfinite(d) ? std::clamp(d, 0.0, 255.0) : 0.0);
    };
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x) {
            uint32_t p = s->pixel32(x, y);
            s->setPixel32(x, y, apply(channelOf(p, 24), cx.aMult, cx.aAdd) << 24 |
                                    apply(channelOf(p, 16), cx.rMult, cx.rAdd) << 16 |
                                    apply(channelOf(p, 8), cx.gMult, cx.gAdd) << 8 |
                                    apply(channelOf(p, 0), cx.bMult, cx.bAdd));
        }
    s->changed();
    markChanged(vm);
    return Value();
}

// copyChannel(src, rect, point, sourceChannel, destChannel).
Value bitmapCopyChannel(Vm& vm, CallArgs& a) {
    auto args = sourceArgs(vm, a);
    if (!args || a.size() < 5) return kFailed;
    int from = channelShift(vm.toUint32(a.at(3))), to = channelShift(vm.toUint32(a.at(4)));
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    if (from < 0 || to < 0) return Value();
    blendRegion(vm, *s, *args, [&](uint32_t src, uint32_t dst) {
        return (dst & ~(255u << to)) | channelOf(src, from) << to;
    });
    return Value();
}

// merge(src, rect, point, redMult, greenMult, blueMult, alphaMult): each channel
// becomes (src * mult + dst * (256 - mult)) / 256.
Value bitmapMerge(Vm& vm, CallArgs& a) {
    auto args = sourceArgs(vm, a);
    if (!args || a.size() < 7) return kFailed;
    std::array<uint32_t, 4> mult; // alpha, red, green, blue
    for (int i = 0; i < 4; ++i) mult[size_t(i)] = std::min(vm.toUint32(a.at(i == 0 ? 6 : size_t(2 + i))), 256u);
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    blendRegion(vm, *s, *args, [&](uint32_t src, uint32_t dst) {
        uint32_t out = 0;
        for (int i = 0; i < 4; ++i) {
            int shift = 24 - 8 * i;
            uint32_t m = mult[size_t(i)];
            out |= ((channelOf(src, shift) * m + channelOf(dst, shift) * (256 - m)) / 256) << shift;
        }
        return out;
    });
    return Value();
}

// paletteMap(src, rect, point, redArray, greenArray, blueArray, alphaArray): each
// channel looks its value up in its array; the four answers are added. A missing
// array leaves its channel as it was.
Value bitmapPaletteMap(Vm& vm, CallArgs& a) {
    auto args = sourceArgs(vm, a);
    if (!args) return kFailed;
    std::array<std::array<uint32_t, 256>, 4> tables; // red, green, blue, alpha
    const int shifts[4] = {16, 8, 0, 24};
    for (size_t c = 0; c < 4; ++c) {
        Value list = a.at(3 + c);
        for (uint32_t v = 0; v < 256; ++v) {
            Value entry = list.asObject() ? vm.getMember(list, QString::number(v)) : Value();
            tables[c][v] = list.asObject() ? vm.toUint32(entry) : v << shifts[c];
        }
    }
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    blendRegion(vm, *s, *args, [&](uint32_t src, uint32_t) {
        uint32_t out = 0;
        for (size_t c = 0; c < 4; ++c) out += tables[c][channelOf(src, shifts[c])];
        return out;
    });
    return Value();
}

// The generator behind noise and pixelDissolve: the Park-Miller minimal standard.
class SeededRandom {
public:
    explicit SeededRandom(int32_t seed) : m_state(uint32_t(seed) % 2147483647u) {
        if (!m_state) m_state = 1;
    }
    uint32_t next() {
        m_state = uint32_t(uint64_t(m_state) * 16807u % 2147483647u);
        return m_state;
    }

private:
    uint32_t m_state;
};

// noise(randomSeed, low = 0, high = 255, channelOptions = 7, grayScale = false).
Value bitmapNoise(Vm& vm, CallArgs& a) {
    if (!a.size()) return kFailed;
    int32_t seed = vm.toInt32(a.at(0));
    uint32_t low = a.size() > 1 ? std::min(vm.toUint32(a.at(1)), 255u) : 0;
    uint32_t high = a.size() > 2 ? std::min(vm.toUint32(a.at(2)), 255u) : 255;
    uint32_t channels = a.size() > 3 ? vm.toUint32(a.at(3)) : 7;
    bool gray = a.size() > 4 && vm.toBool(a.at(4));
    auto s = surfaceOfThis(a);
    if (!s || !chargePixels(vm, s->width(), s->height())) return kFailed;
    if (high < low) std::swap(low, high);
    SeededRandom random(seed);
    auto value = [&] { return low + random.next() % (high - low + 1); };
    for (int y = 0; y < s->height(); ++y)
        for (int x = 0; x < s->width(); ++x) {
            uint32_t p = 0;
            if (gray) {
                uint32_t v = value();
                p = v << 16 | v << 8 | v;
            } else {
                for (uint32_t flag : {1u, 2u, 4u})
                    if (channels & flag) p |= value() << channelShift(flag);
            }
            p |= (channels & 8) ? value() << 24 : 0xFF000000u;
            s->setPixel32(x, y, p);
        }
    s->changed();
    markChanged(vm);
    return Value();
}

// pixelDissolve(src, rect, point, randomSeed = 0, numPixels = area / 30, fillColor = 0):
// turns that many pixels of the rectangle, in an order the seed picks, into the
// source's pixels (or into fillColor when the source is this bitmap). Answers the
// seed that continues the dissolve.
Value bitmapPixelDissolve(Vm& vm, CallArgs& a) {
    auto args = sourceArgs(vm, a);
    if (!args) return kFailed;
    int32_t seed = a.size() > 3 ? vm.toInt32(a.at(3)) : 0;
    std::optional<double> asked;
    if (a.size() > 4) asked = vm.toNumber(a.at(4));
    uint32_t fill = a.size() > 5 ? vm.toUint32(a.at(5)) : 0;
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    CopyRegion r = copyRegion(args->rect, args->dx, args->dy, *args->src, *s);
    uint64_t area = uint64_t(r.w) * uint64_t(r.h);
    if (!area) return Value(seed);
    double wanted = asked ? *asked : double(area) / 30;
    uint64_t count = std::isfinite(wanted) && wanted > 0 ? uint64_t(std::min(wanted, double(area))) : 0;
    if (!chargePixels(vm, int64_t(count), 1)) return kFailed;
    // A full-period walk over a power of two covering the area visits each pixel
    // once; positions past the area are skipped.
    uint64_t span = std::bit_ceil(area);
    uint64_t pos = uint64_t(uint32_t(seed)) & (span - 1);
    const bool fromSelf = args->src == s;
    QImage from = args->src->pixels().copy(r.sx, r.sy, r.w, r.h);
    for (uint64_t done = 0; done < count;) {
        pos = (pos * 1664525u + 1013904223u) & (span - 1);
        if (pos >= area) continue;
        int x = int(pos % uint64_t(r.w)), y = int(pos / uint64_t(r.w));
        uint32_t p = fromSelf ? fill : BitmapSurface::unpremultiply(reinterpret_cast<const uint32_t*>(from.constScanLine(y))[x]);
        s->setPixel32(r.dx + x, r.dy + y, p);
        ++done;
    }
    s->changed();
    markChanged(vm);
    return Value(double(int32_t(uint32_t(pos))));
}

// scroll(x, y): moves the pixels; what they uncover keeps its old pixels.
Value bitmapScroll(Vm& vm, CallArgs& a) {
    if (a.size() < 2) return kFailed;
    int dx = intArg(vm, a.at(0)), dy = intArg(vm, a.at(1));
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    CopyRegion r = copyRegion({0, 0, s->width(), s->height()}, dx, dy, *s, *s);
    if (!chargePixels(vm, r.w, r.h)) return kFailed;
    QImage from = s->pixels().copy(r.sx, r.sy, r.w, r.h);
    QImage& to = s->pixels();
    for (int y = 0; y < r.h; ++y)
        std::copy_n(reinterpret_cast<const uint32_t*>(from.constScanLine(y)), r.w,
                    reinterpret_cast<uint32_t*>(to.scanLine(r.dy + y)) + r.dx);
    s->changed();
    markChanged(vm);
    return Value();
}

// floodFill(x, y, color): the 4-connected area of the start pixel's exact colour.
Value bitmapFloodFill(Vm& vm, CallArgs& a) {
    if (a.size() < 3) return kFailed;
    int x0 = intArg(vm, a.at(0)), y0 = intArg(vm, a.at(1));
    uint32_t color = vm.toUint32(a.at(2));
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    if (!s->contains(x0, y0)) return Value();
    if (!chargePixels(vm, s->width(), s->height())) return kFailed;
    QImage& px = s->pixels();
    auto at = [&](int x, int y) -> uint32_t& { return reinterpret_cast<uint32_t*>(px.scanLine(y))[x]; };
    const uint32_t from = at(x0, y0);
    s->setPixel32(x0, y0, color);
    const uint32_t to = at(x0, y0);
    at(x0, y0) = from;
    if (from == to) return Value();
    // Pixels are painted as they are queued, so each is queued once: the queue
    // never holds more entries than the bitmap has pixels.
    const int w = s->width();
    std::vector<int32_t> todo{y0 * w + x0};
    at(x0, y0) = to;
    while (!todo.empty()) {
        int x = todo.back() % w, y = todo.back() / w;
        todo.pop_back();
        for (auto [nx, ny] : {std::pair{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}}) {
            if (!s->contains(nx, ny) || at(nx, ny) != from) continue;
            at(nx, ny) = to;
            todo.push_back(ny * w + nx);
        }
    }
    s->changed();
    markChanged(vm);
    return Value();
}

// getColorBoundsRect(mask, color, findColor = true): the smallest rectangle
// holding every pixel whose masked colour is (or, with findColor false, is not)
// the colour.
Value bitmapGetColorBoundsRect(Vm& vm, CallArgs& a) {
    if (a.size() < 2) return kFailed;
    uint32_t mask = vm.toUint32(a.at(0)), color = vm.toUint32(a.at(1));
    bool find = a.size() < 3 || vm.toBool(a.at(2));
    auto s = surfaceOfThis(a);
    if (!s || !chargePixels(vm, s->width(), s->height())) return kFailed;
    int x0 = s->width(), y0 = s->height(), x1 = -1, y1 = -1;
    for (int y = 0; y < s->height(); ++y)
        for (int x = 0; x < s->width(); ++x)
            if (((s->pixel32(x, y) & mask) == (color & mask)) == find) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    if (x1 < 0) return gfx::newGeom(vm, "Rectangle", {0, 0, 0, 0});
    return gfx::newGeom(vm, "Rectangle", {double(x0), double(y0), double(x1 - x0 + 1), double(y1 - y0 + 1)});
}

// compare(other): 0 when equal; -3 or -4 when the widths or heights differ;
// otherwise a bitmap of the differences: per pixel the RGB differences (mod 256)
// when the colours differ, else the alpha difference over white.
Value bitmapCompare(Vm& vm, CallArgs& a) {
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    auto other = gfx::surfaceOf(a.at(0));
    if (!other) return Value(-2);
    if (other == s) return Value(0);
    if (other->width() != s->width()) return Value(-3);
    if (other->height() != s->height()) return Value(-4);
    if (!chargePixels(vm, s->width(), s->height())) return kFailed;
    auto diff = std::make_shared<BitmapSurface>(s->width(), s->height(), true, 0);
    if (!diff->valid()) return kFailed;
    bool same = true;
    for (int y = 0; y < s->height(); ++y)
        for (int x = 0; x < s->width(); ++x) {
            uint32_t p = s->pixel32(x, y), q = other->pixel32(x, y);
            if (p == q) continue;
            same = false;
            auto d = [&](int shift) { return ((channelOf(p, shift) - channelOf(q, shift)) & 255) << shift; };
            uint32_t rgb = d(16) | d(8) | d(0);
            diff->setPixel32(x, y, rgb ? 0xFF000000u | rgb : d(24) | 0xFFFFFF);
        }
    return same ? Value(0) : wrapSurface(vm, std::move(diff));
}

// generateFilterRect(rect, filter): the rectangle a filter's output covers.
Value bitmapGenerateFilterRect(Vm& vm, CallArgs& a) {
    Object* rectObj = a.at(0).asObject();
    render::FilterDef def;
    if (!rectObj || !gfx::filterDefOf(a.at(1), def) || !surfaceOfThis(a)) return kFailed;
    IntRect r = rectArg(vm, rectObj);
    QMargins m = render::filterExtent({def}, 1, 1);
    return gfx::newGeom(vm, "Rectangle", {double(r.x - m.left()), double(r.y - m.top()),
                                          double(r.w + m.left() + m.right()), double(r.h + m.top() + m.bottom())});
}

// applyFilter(src, rect, point, filter): the filtered source rectangle, with what the
// filter spreads around it, drawn at the point.
Value bitmapApplyFilter(Vm& vm, CallArgs& a) {
    auto args = sourceArgs(vm, a);
    render::FilterDef def;
    if (!args || !gfx::filterDefOf(a.at(3), def)) return kFailed;
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    IntRect sr = clipTo(args->rect, args->src->width(), args->src->height());
    QMargins m = render::filterExtent({def}, 1, 1);
    int64_t w = int64_t(sr.w) + m.left() + m.right(), h = int64_t(sr.h) + m.top() + m.bottom();
    if (sr.w <= 0 || sr.h <= 0 || w > limits::kMaxBitmapDataSide * 2 || h > limits::kMaxBitmapDataSide * 2 ||
        !chargePixels(vm, w, h))
        return kFailed;
    QImage layer(int(w), int(h), QImage::Format_ARGB32_Premultiplied);
    layer.fill(0);
    {
        QPainter p(&layer);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(m.left(), m.top(), args->src->pixels(), sr.x, sr.y, sr.w, sr.h);
    }
    render::applyFilters(layer, {def}, 1, 1, render::Quality::High);
    int ox = args->dx + (sr.x - args->rect.x) - m.left(), oy = args->dy + (sr.y - args->rect.y) - m.top();
    for (int y = 0; y < layer.height(); ++y)
        for (int x = 0; x < layer.width(); ++x)
            if (s->contains(ox + x, oy + y))
                s->setPixel32(ox + x, oy + y,
                              BitmapSurface::unpremultiply(reinterpret_cast<const uint32_t*>(layer.constScanLine(y))[x]));
    s->changed();
    markChanged(vm);
    return Value(0);
}

// ---- Perlin noise ----------------------------------------------------------------------------

// Gradient noise on a lattice whose gradients the seed shuffles.
class GradientNoise {
public:
    explicit GradientNoise(int32_t seed) {
        std::iota(m_perm.begin(), m_perm.begin() + 256, 0);
        SeededRandom random(seed);
        for (int i = 255; i > 0; --i) std::swap(m_perm[size_t(i)], m_perm[random.next() % uint32_t(i + 1)]);
        for (size_t i = 0; i < 256; ++i) m_perm[256 + i] = m_perm[i];
    }
    // In [-1, 1]; `period` (when positive) makes the noise repeat, for stitching.
    double at(double x, double y, int periodX, int periodY) const {
        double fx = std::floor(x), fy = std::floor(y);
        int xi = int(int64_t(fx) & 0xFFFF), yi = int(int64_t(fy) & 0xFFFF);
        double u = x - fx, v = y - fy;
        auto wrap = [](int i, int period) { return period > 0 ? ((i % period) + period) % period : i; };
        auto corner = [&](int cx, int cy, double dx, double dy) {
            int h = m_perm[size_t((m_perm[size_t(wrap(cx, periodX) & 255)] + (wrap(cy, periodY) & 255)) & 511)] & 7;
            double gx = h & 1 ? -1 : 1, gy = h & 2 ? -1 : 1;
            return h & 4 ? gx * dx : gx * dx + gy * dy;
        };
        auto fade = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
        double a = corner(xi, yi, u, v), b = corner(xi + 1, yi, u - 1, v);
        double c = corner(xi, yi + 1, u, v - 1), d = corner(xi + 1, yi + 1, u - 1, v - 1);
        double su = fade(u), sv = fade(v);
        return std::clamp((a + su * (b - a)) + sv * ((c + su * (d - c)) - (a + su * (b - a))), -1.0, 1.0);
    }

private:
    std::array<int, 512> m_perm{};
};

// Each octave weighs half the last: past this many they change no pixel.
constexpr int kOctavesThatShow = 32;

// perlinNoise(baseX, baseY, numOctaves, randomSeed, stitch, fractalNoise,
// channelOptions = 7, grayScale = false, offsets = null).
Value bitmapPerlinNoise(Vm& vm, CallArgs& a) {
    if (a.size() < 6) return kFailed;
    double baseX = vm.toNumber(a.at(0)), baseY = vm.toNumber(a.at(1));
    int octaves = std::clamp(vm.toInt32(a.at(2)), 0, kOctavesThatShow);
    int32_t seed = vm.toInt32(a.at(3));
    bool stitch = vm.toBool(a.at(4)), fractal = vm.toBool(a.at(5));
    uint32_t channels = a.size() > 6 ? vm.toUint32(a.at(6)) : 7;
    bool gray = a.size() > 7 && vm.toBool(a.at(7));
    std::vector<std::pair<double, double>> offsets(size_t(octaves), {0.0, 0.0});
    if (Object* list = a.at(8).asObject())
        for (int i = 0; i < octaves; ++i)
            if (Object* p = vm.getMember(Value(list), QString::number(i)).asObject())
                offsets[size_t(i)] = {gfx::number(vm, p, "x"), gfx::number(vm, p, "y")};
    auto s = surfaceOfThis(a);
    if (!s || !chargePixels(vm, int64_t(s->width()) * std::max(octaves, 1), s->height())) return kFailed;
    const int kinds = gray ? 1 : 4;
    std::vector<GradientNoise> noise;
    for (int k = 0; k < kinds; ++k) noise.emplace_back(seed + k);
    auto sample = [&](int k, int x, int y) {
        double sum = 0, amplitude = 1, total = 0;
        double fx = std::isfinite(baseX) && baseX != 0 ? 1 / std::abs(baseX) : 0;
        double fy = std::isfinite(baseY) && baseY != 0 ? 1 / std::abs(baseY) : 0;
        for (int o = 0; o < octaves; ++o) {
            int px = stitch && fx ? std::max(1, int(std::lround(s->width() * fx))) : 0;
            int py = stitch && fy ? std::max(1, int(std::lround(s->height() * fy))) : 0;
            double n = noise[size_t(k)].at((x + offsets[size_t(o)].first) * fx, (y + offsets[size_t(o)].second) * fy, px, py);
            sum += (fractal ? n : std::abs(n)) * amplitude;
            total += amplitude;
            amplitude /= 2;
            fx *= 2, fy *= 2;
        }
        double v = total ? sum / total : 0;
        double level = fractal ? (v + 1) * 127.5 : v * 255;
        return uint32_t(std::clamp(std::isfinite(level) ? level : 0.0, 0.0, 255.0));
    };
    for (int y = 0; y < s->height(); ++y)
        for (int x = 0; x < s->width(); ++x) {
            uint32_t p = 0;
            if (gray) {
                uint32_t v = sample(0, x, y);
                p = v << 16 | v << 8 | v;
            } else {
                for (uint32_t flag : {1u, 2u, 4u})
                    if (channels & flag) p |= sample(channelShift(flag) / 8, x, y) << channelShift(flag);
            }
            p |= (channels & 8) ? sample(gray ? 0 : 3, x, y) << 24 : 0xFF000000u;
            s->setPixel32(x, y, p);
        }
    s->changed();
    markChanged(vm);
    return Value();
}

} // namespace

void installBitmapOperations(Vm& vm, Object* proto) {
    struct { const char* name; NativeFn fn; } methods[] = {
        {"applyFilter", bitmapApplyFilter}, {"colorTransform", bitmapColorTransform},
        {"compare", bitmapCompare}, {"copyChannel", bitmapCopyChannel}, {"floodFill", bitmapFloodFill},
        {"generateFilterRect", bitmapGenerateFilterRect}, {"getColorBoundsRect", bitmapGetColorBoundsRect},
        {"merge", bitmapMerge}, {"noise", bitmapNoise}, {"paletteMap", bitmapPaletteMap},
        {"perlinNoise", bitmapPerlinNoise}, {"pixelDissolve", bitmapPixelDissolve}, {"scroll", bitmapScroll},
    };
    for (auto& m : methods) vm.defineMethod(proto, QString::fromLatin1(m.name), m.fn);
}

} // namespace swf::avm1::builtins::bitmap
