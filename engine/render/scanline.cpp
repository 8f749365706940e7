#include "engine/render/scanline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <xmmintrin.h>
#include <limits>

namespace swf::render {

namespace {

// Floats of accumulation buffer one call works in at a time (rows of the
// box are taken in strips that fit).
constexpr size_t kAccumulatorFloats = 1 << 17;
// How far aliased drawing moves shapes right and down to break ties at
// pixel centres (pixels).
constexpr float kAliasedTie = 1.0f / 256;
// Sample points a pixel takes along each axis when it counts points: a
// grid for glyphs, the centre alone for aliased drawing.
constexpr int kGlyphGrid = 4;

// x * a / 255 per channel, rounded (a: 0..255).
inline uint32_t byteMul(uint32_t x, uint32_t a) {
    uint32_t t = (x & 0xff00ff) * a + 0x800080;
    t = ((t + ((t >> 8) & 0xff00ff)) >> 8) & 0xff00ff;
    x = ((x >> 8) & 0xff00ff) * a + 0x800080;
    x = (x + ((x >> 8) & 0xff00ff)) & 0xff00ff00;
    return x | t;
}

// Channel-wise sum, each channel at most 255.
inline uint32_t addSaturated(uint32_t x, uint32_t y) {
    uint32_t rb = (x & 0xff00ff) + (y & 0xff00ff);
    rb = (rb | (0x1000100 - ((rb >> 8) & 0x10001))) & 0xff00ff;
    uint32_t ag = ((x >> 8) & 0xff00ff) + ((y >> 8) & 0xff00ff);
    ag = (ag | (0x1000100 - ((ag >> 8) & 0x10001))) & 0xff00ff;
    return ag << 8 | rb;
}

inline uint32_t over(uint32_t src, uint32_t dst) {
    uint32_t sa = src >> 24;
    return sa == 255 ? src : src + byteMul(dst, 255 - sa);
}

// v * a / 255 in each 16-bit lane, rounded as byteMul() does.
inline __m128i mul255(__m128i v, __m128i a) {
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(v, a), _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

// dst[x] = src(x) * cover[x] over dst[x], four pixels at a time (SSE2).
// Without `cover` every pixel is fully covered; with Solid, src(x) is `solid`.
template <bool Solid>
void coverOver(uint32_t* __restrict dst, const uint32_t* __restrict src, uint32_t solid,
               const uint8_t* __restrict cover, int n) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i alphas = _mm_set1_epi32(int(0xff000000u));
    const __m128i full = _mm_set1_epi16(255);
    int x = 0;
    for (; x + 4 <= n; x += 4) {
        uint32_t c4 = 0xffffffffu;
        if (cover) {
            std::memcpy(&c4, cover + x, 4);
            if (c4 == 0) continue;
        }
        const __m128i s = Solid ? _mm_set1_epi32(int(solid)) : _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        const bool opaque = (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(s, alphas), alphas))) == 0xffff;
        if (c4 == 0xffffffffu && opaque) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), s);
            continue;
        }
        __m128i sLo = _mm_unpacklo_epi8(s, zero), sHi = _mm_unpackhi_epi8(s, zero);
        if (c4 != 0xffffffffu) {
            __m128i c = _mm_cvtsi32_si128(int(c4));
            c = _mm_unpacklo_epi8(c, c);
            c = _mm_unpacklo_epi16(c, c);
            sLo = mul255(sLo, _mm_unpacklo_epi8(c, zero));
            sHi = mul255(sHi, _mm_unpackhi_epi8(c, zero));
        }
        const __m128i aLo = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sLo, 0xff), 0xff);
        const __m128i aHi = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sHi, 0xff), 0xff);
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + x));
        const __m128i dLo = mul255(_mm_unpacklo_epi8(d, zero), _mm_sub_epi16(full, aLo));
        const __m128i dHi = mul255(_mm_unpackhi_epi8(d, zero), _mm_sub_epi16(full, aHi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x),
                         _mm_packus_epi16(_mm_add_epi16(sLo, dLo), _mm_add_epi16(sHi, dHi)));
    }
    for (; x < n; ++x) {
        const uint32_t c = cover ? cover[x] : 255;
        if (!c) continue;
        const uint32_t p = Solid ? solid : src[x];
        dst[x] = over(c == 255 ? p : byteMul(p, c), dst[x]);
    }
}

// A strip of rows of one path: accumulated signed areas, `stride` floats a
// row, and per row the first and one past the last cell written.
struct Strip {
    float* acc;
    int* first;
    int* last;
    int stride;
    int rows;
    int width;
    int grid; // sample points a pixel along each axis; 0: areas
};

// Orders a line's ends top to bottom; answers +1 for a line that ran down, -1 for one that ran up.
float orientDown(float& x0, float& y0, float& x1, float& y1) {
    if (y0 <= y1) return 1;
    std::swap(x0, x1);
    std::swap(y0, y1);
    return -1;
}

// Adds the signed area a line (y0 != y1) covers in each pixel of each row it
// crosses. y lies within [0, rows], x within [0, stride - 2].
void accumulate(const Strip& strip, float x0, float y0, float x1, float y1) {
    float* acc = strip.acc;
    const int stride = strip.stride;
    if (y0 == y1) return;
    const float dir = orientDown(x0, y0, x1, y1);
    const float xMax = float(stride - 2);
    const float dxdy = (x1 - x0) / (y1 - y0);
    float x = x0;
    const int yEnd = int(std::ceil(y1));
    for (int y = int(y0); y < yEnd; ++y) {
        float* row = acc + size_t(y) * size_t(stride);
        const float dy = std::min(float(y + 1), y1) - std::max(float(y), y0);
        const float xNext = std::clamp(x + dxdy * dy, 0.0f, xMax);
        const float d = dy * dir;
        const float xa = std::min(x, xNext), xb = std::max(x, xNext);
        const float xaFloor = std::floor(xa);
        const int xai = int(xaFloor);
        const float xbCeil = std::ceil(xb);
        const int xbi = int(xbCeil);
        strip.first[y] = std::min(strip.first[y], xai);
        strip.last[y] = std::max(strip.last[y], xbi + 2);
        if (xbi <= xai + 1) {
            // Within one pixel column: the part right of the line's middle.
            const float mid = 0.5f * (x + xNext) - xaFloor;
            row[xai] += d - d * mid;
            row[xai + 1] += d * mid;
        } else {
            const float s = 1 / (xb - xa);
            const float fa = xa - xaFloor;
            const float a0 = 0.5f * s * (1 - fa) * (1 - fa);
            const float fb = xb - xbCeil + 1;
            const float am = 0.5f * s * fb * fb;
            row[xai] += d * a0;
            if (xbi == xai + 2) {
                row[xai + 1] += d * (1 - a0 - am);
            } else {
                const float a1 = s * (1.5f - fa);
                row[xai + 1] += d * (a1 - a0);
                for (int xi = xai + 2; xi < xbi - 1; ++xi) row[xi] += d * s;
                const float a2 = a1 + float(xbi - xai - 3) * s;
                row[xbi - 1] += d * (1 - a2 - am);
            }
            row[xbi] += d * am;
        }
        x = xNext;
    }
}

// Adds a line's crossings of the sample rows (grid a pixel row, through
// sample centres) to a strip of sample counts: +-1 at the first sample at or
// right of the crossing, so a running sum along a sample row is the winding.
void accumulateSamples(const Strip& strip, float x0, float y0, float x1, float y1) {
    if (y0 == y1) return;
    const int grid = strip.grid;
    const float dir = orientDown(x0, y0, x1, y1);
    const float dxdy = (x1 - x0) / (y1 - y0);
    const int kEnd = int(std::ceil(y1 * float(grid) - 0.5f));
    for (int k = int(std::ceil(y0 * float(grid) - 0.5f)); k < kEnd; ++k) {
        const float y = (float(k) + 0.5f) / float(grid);
        const float x = x0 + (y - y0) * dxdy;
        const int si = std::max(0, int(std::ceil(x * float(grid) - 0.5f)));
        if (si >= grid * strip.width) continue;
        const int row = k / grid;
        strip.acc[size_t(row) * size_t(strip.stride) + size_t(k % grid) * size_t(grid * strip.width) + size_t(si)] += dir;
        strip.first[row] = std::min(strip.first[row], si / grid);
        strip.last[row] = std::max(strip.last[row], si / grid + 2);
    }
}

// Clips a line to rows [0, rows] and columns [0, width] of a strip and
// accumulates it. What lies left of the strip still counts for every pixel
// of its rows, so it is moved onto the left edge; what lies right of it
// counts for none and is dropped.
void addLine(const Strip& strip, Segment s) {
    const int rows = strip.rows;
    if ((s.y0 <= 0 && s.y1 <= 0) || (s.y0 >= rows && s.y1 >= rows) || s.y0 == s.y1) return;
    auto cutY = [&](float y) {
        float t = (y - s.y0) / (s.y1 - s.y0);
        return s.x0 + (s.x1 - s.x0) * t;
    };
    if (s.y0 < 0) s.x0 = cutY(0), s.y0 = 0;
    else if (s.y0 > rows) s.x0 = cutY(float(rows)), s.y0 = float(rows);
    if (s.y1 < 0) s.x1 = cutY(0), s.y1 = 0;
    else if (s.y1 > rows) s.x1 = cutY(float(rows)), s.y1 = float(rows);

    const float width = float(strip.width);
    auto add = strip.grid ? accumulateSamples : accumulate;
    if (s.x0 >= width && s.x1 >= width) return;
    if (s.x0 <= 0 && s.x1 <= 0) {
        add(strip, 0, s.y0, 0, s.y1);
        return;
    }
    // Split where the line crosses the left and right edges.
    float ts[4] = {0, 0, 0, 0};
    int n = 1;
    auto cross = [&](float x) {
        if ((s.x0 < x) != (s.x1 < x)) ts[n++] = (x - s.x0) / (s.x1 - s.x0);
    };
    cross(0);
    cross(width);
    ts[n++] = 1;
    if (n == 4 && ts[2] < ts[1]) std::swap(ts[1], ts[2]);
    for (int i = 0; i + 1 < n; ++i) {
        float xa = s.x0 + (s.x1 - s.x0) * ts[i], ya = s.y0 + (s.y1 - s.y0) * ts[i];
        float xb = s.x0 + (s.x1 - s.x0) * ts[i + 1], yb = s.y0 + (s.y1 - s.y0) * ts[i + 1];
        float middle = (xa + xb) / 2;
        if (middle >= width) continue;
        if (middle <= 0) xa = xb = 0;
        add(strip, std::clamp(xa, 0.0f, width), std::clamp(ya, 0.0f, float(rows)),
                   std::clamp(xb, 0.0f, width), std::clamp(yb, 0.0f, float(rows)));
    }
}

// Coverage (0..255) by coverage 0..1 in 256ths, rounded to the steps asked.
struct CoverageTable {
    std::array<uint8_t, 257> level;
    explicit CoverageTable(int steps) {
        for (int i = 0; i <= 256; ++i) {
            double c = i / 256.0;
            level[size_t(i)] = steps == 0     ? (i >= 128 ? 255 : 0)
                               : steps >= 255 ? uint8_t(c * 255 + 0.5)
                                              : uint8_t(std::round(std::round(c * steps) / steps * 255));
        }
    }
};

// Leaves row r of a strip empty for the next strip, its coverage found up to
// pixel b (`level` the last); returns the pixels that may be covered. Edges
// right of the strip were left out, so what they close stays covered to the
// end of the row.
std::pair<int, int> endRow(const Strip& strip, int r, uint8_t level, int a, int b, int width, uint8_t* out) {
    strip.first[r] = std::numeric_limits<int>::max();
    strip.last[r] = 0;
    if (level && b < width) {
        std::memset(out + b, level, size_t(width - b));
        return {a, width};
    }
    return {a, b};
}

// Where four pixels from x on have nothing accumulated, they keep the
// coverage level they start with (inside a fill, or inside the hole of a
// stroke): fills them and steps x past them.
inline bool skipQuiet(const float* acc, int& x, int b, uint8_t level, uint8_t* out) {
    if (x + 4 > b || _mm_movemask_ps(_mm_cmpneq_ps(_mm_loadu_ps(acc + x), _mm_setzero_ps())) != 0) return false;
    std::memset(out + x, level, 4);
    x += 4;
    return true;
}

// Coverage of row r of a strip from its sample counts: the share of the
// grid x grid points of each pixel inside.
std::pair<int, int> coverRowPoints(const Strip& strip, int r, int width, FillRule rule, const CoverageTable& table,
                                   uint8_t* __restrict out) {
    const int firstCell = strip.first[r], lastCell = strip.last[r];
    if (firstCell >= lastCell) return {0, 0};
    const int grid = strip.grid;
    const size_t samples = size_t(grid * strip.width);
    float* __restrict acc = strip.acc + size_t(r) * size_t(strip.stride);
    const int a = firstCell, b = std::min(lastCell, width);
    std::array<float, kGlyphGrid> winding{};
    uint8_t level = 0;
    if (grid == 1) {
        // One sample a pixel: the running winding, skipping quiet runs.
        for (int x = a; x < b;) {
            if (skipQuiet(acc, x, b, level, out)) continue;
            winding[0] += acc[x];
            acc[x] = 0;
            const int w = int(winding[0]);
            level = table.level[(rule == FillRule::NonZero ? w != 0 : (w & 1)) ? 256 : 0];
            out[x++] = level;
        }
        return endRow(strip, r, level, a, b, width, out);
    }
    for (int x = a; x < b; ++x) {
        int inside = 0;
        for (int j = 0; j < grid; ++j) {
            float* cell = acc + size_t(j) * samples + size_t(x) * size_t(grid);
            for (int i = 0; i < grid; ++i) {
                winding[size_t(j)] += cell[i];
                cell[i] = 0;
                const int w = int(winding[size_t(j)]);
                inside += rule == FillRule::NonZero ? w != 0 : (w & 1);
            }
        }
        level = table.level[size_t(inside * 256 / (grid * grid))];
        out[x] = level;
    }
    return endRow(strip, r, level, a, b, width, out);
}

// Coverage of row r of a strip from its accumulated areas, which it clears
// for the next strip; returns the first and one past the last pixel that may
// be covered.
std::pair<int, int> coverRow(const Strip& strip, int r, int width, FillRule rule, const CoverageTable& table,
                             uint8_t* __restrict out) {
    const int firstCell = strip.first[r], lastCell = strip.last[r];
    if (firstCell >= lastCell) return {0, 0};
    float* __restrict acc = strip.acc + size_t(r) * size_t(strip.stride);
    const int a = firstCell, b = std::min(lastCell, width);
    const int end = std::min(lastCell, strip.stride);
    float sum = 0;
    uint8_t level = 0;
    for (int x = a; x < b;) {
        if (skipQuiet(acc, x, b, level, out)) continue;
        sum += acc[x];
        acc[x] = 0;
        float c = std::abs(sum);
        if (rule == FillRule::NonZero) {
            c = std::min(c, 1.0f);
        } else if (c > 1) {
            // Even-odd: coverage folds back every second whole winding.
            c -= 2 * std::floor(c * 0.5f);
            if (c > 1) c = 2 - c;
        }
        level = table.level[size_t(c * 256)];
        out[x++] = level;
    }
    for (int x = b; x < end; ++x) acc[x] = 0;
    return endRow(strip, r, level, a, b, width, out);
}

// A line waiting for, or being drawn in, strips first..last.
struct StripLine {
    int first, last;
    size_t path;
    const Segment* segment;
};

struct Scratch {
    std::vector<StripLine> lines, active;
    std::vector<float> acc;
    std::vector<int> first, last;
    std::vector<uint8_t> coverage;
    std::vector<uint32_t> colours, sum;
};

} // namespace

void fillPaths(const Canvas& canvas, std::span<const CoverPath> paths, Coverage coverage) {
    const int steps = coverage.steps;
    if (paths.empty() || canvas.clip.isEmpty()) return;
    float minX = std::numeric_limits<float>::max(), minY = minX, maxX = -minX, maxY = -minX;
    for (const CoverPath& p : paths)
        for (const Segment& s : p.segments) {
            minX = std::min({minX, s.x0, s.x1});
            maxX = std::max({maxX, s.x0, s.x1});
            minY = std::min({minY, s.y0, s.y1});
            maxY = std::max({maxY, s.y0, s.y1});
        }
    if (!(minX <= maxX) || !(minY <= maxY)) return;
    auto toInt = [](float v) { return int(std::clamp(v, -1e8f, 1e8f)); };
    const QRect box = QRect(QPoint(toInt(std::floor(minX)), toInt(std::floor(minY))),
                            QPoint(toInt(std::ceil(maxX)), toInt(std::ceil(maxY)))) & canvas.clip;
    if (box.isEmpty()) return;

    static thread_local Scratch scratch;
    static const CoverageTable tables[] = {CoverageTable(0), CoverageTable(4), CoverageTable(16), CoverageTable(255)};
    const CoverageTable& table = steps == 0 ? tables[0] : steps <= 4 ? tables[1] : steps <= 16 ? tables[2] : tables[3];
    const int width = box.width();
    // Glyphs count a grid of points a pixel; aliased drawing takes each
    // pixel's centre, so that overlapping parts of one path count once.
    const int grid = coverage.points ? kGlyphGrid : steps == 0 ? 1 : 0;
    // Counting points keeps grid rows of grid samples a pixel.
    const int stride = grid ? grid * grid * width : width + 2;
    const size_t count = paths.size();
    const int stripRows =
        std::clamp(int(kAccumulatorFloats / (size_t(stride) * count)), 1, box.height());
    const size_t pathFloats = size_t(stride) * size_t(stripRows);
    // The accumulators start empty and coverRow() leaves them so.
    if (scratch.acc.size() < pathFloats * count) {
        scratch.acc.assign(pathFloats * count, 0.0f);
    }
    scratch.first.assign(size_t(stripRows) * count, std::numeric_limits<int>::max());
    scratch.last.assign(size_t(stripRows) * count, 0);
    scratch.coverage.resize(size_t(width));
    scratch.colours.resize(size_t(width));
    scratch.sum.resize(size_t(width));
    uint8_t* cover = scratch.coverage.data();
    uint32_t* colours = scratch.colours.data();
    uint32_t* sum = scratch.sum.data();
    auto stripOf = [&](size_t p, int rows) {
        return Strip{scratch.acc.data() + p * pathFloats, scratch.first.data() + p * size_t(stripRows),
                     scratch.last.data() + p * size_t(stripRows), stride, rows, width, grid};
    };

    // Lines in the order of the first strip they reach, so that each strip
    // visits only its own.
    const int strips = (box.height() + stripRows - 1) / stripRows;
    scratch.lines.clear();
    scratch.active.clear();
    for (size_t p = 0; p < count; ++p)
        for (const Segment& s : paths[p].segments) {
            float y0 = std::min(s.y0, s.y1) - float(box.top()), y1 = std::max(s.y0, s.y1) - float(box.top());
            if (y1 <= 0 || y0 >= float(box.height()) || s.y0 == s.y1) continue;
            int first = std::clamp(int(y0) / stripRows, 0, strips - 1);
            int last = std::clamp(int(y1) / stripRows, 0, strips - 1);
            scratch.lines.push_back({first, last, p, &s});
        }
    if (strips > 1)
        std::sort(scratch.lines.begin(), scratch.lines.end(),
                  [](const StripLine& a, const StripLine& b) { return a.first < b.first; });
    size_t next = 0;
    auto coverRowOf = grid ? coverRowPoints : coverRow;

    for (int k = 0, top = box.top(); k < strips; ++k, top += stripRows) {
        const int rows = std::min(stripRows, box.bottom() + 1 - top);
        while (next < scratch.lines.size() && scratch.lines[next].first == k) scratch.active.push_back(scratch.lines[next++]);
        // Aliased pixels are in when their centre is: an edge through a
        // centre counts it for the pixel right of or below the edge only,
        // so a one-pixel line on whole coordinates covers one row, not two.
        const float tie = grid == 1 ? kAliasedTie : 0.0f;
        const float dx = float(box.left()) - tie, dy = float(top) - tie;
        for (size_t i = 0; i < scratch.active.size();) {
            const StripLine& line = scratch.active[i];
            const Segment& s = *line.segment;
            addLine(stripOf(line.path, rows), {s.x0 - dx, s.y0 - dy, s.x1 - dx, s.y1 - dy});
            if (line.last == k) {
                scratch.active[i] = scratch.active.back();
                scratch.active.pop_back();
            } else {
                ++i;
            }
        }
        for (int r = 0; r < rows; ++r) {
            const int y = top + r;
            uint32_t* dst = canvas.pixels + qsizetype(y - canvas.origin.y()) * canvas.stride +
                            (box.left() - canvas.origin.x());
            if (count == 1) {
                const Paint& paint = *paths[0].paint;
                auto [a, b] = coverRowOf(stripOf(0, rows), r, width, paths[0].rule, table, cover);
                if (a >= b) continue;
                if (paint.kind == Paint::Kind::Solid) {
                    coverOver<true>(dst + a, nullptr, paint.color, cover + a, b - a);
                } else {
                    paint.span(box.left() + a, y, b - a, colours + a);
                    coverOver<false>(dst + a, colours + a, 0, cover + a, b - a);
                }
                continue;
            }
            int lo = width, hi = 0;
            for (size_t p = 0; p < count; ++p) {
                auto [a, b] = coverRowOf(stripOf(p, rows), r, width, paths[p].rule, table, cover);
                if (a >= b) continue;
                if (lo >= hi) {
                    std::fill(sum + a, sum + b, 0u);
                    lo = a, hi = b;
                } else {
                    if (a < lo) std::fill(sum + a, sum + lo, 0u), lo = a;
                    if (b > hi) std::fill(sum + hi, sum + b, 0u), hi = b;
                }
                paths[p].paint->span(box.left() + a, y, b - a, colours + a);
                for (int x = a; x < b; ++x)
                    if (cover[x]) sum[x] = addSaturated(sum[x], cover[x] == 255 ? colours[x] : byteMul(colours[x], cover[x]));
            }
            if (lo < hi) coverOver<false>(dst + lo, sum + lo, 0, nullptr, hi - lo);
        }
    }
}

} // namespace swf::render
