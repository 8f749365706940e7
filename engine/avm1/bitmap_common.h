#pragma once
// The pieces every BitmapData method shares: the native part, argument
// conversions and the pixel budget. Internal to the BitmapData sources.
#include "engine/avm1/builtins_gfx.h"
#include "engine/avm1/script_engine.h"
#include "engine/core/limits.h"
#include "engine/display/drawing.h"
#include "engine/display/player.h"
#include "engine/render/filters.h"

#include <QPainter>

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>

namespace swf::avm1::builtins::bitmap {

// A BitmapData object's native part: its pixels (null when the size was
// refused or the bitmap disposed). Methods read their arguments, which may
// run script, before they take the pixels, and hold them by a strong
// reference while they work.
struct BitmapState final : NativeState {
    std::shared_ptr<BitmapSurface> surface;
};

inline std::shared_ptr<BitmapSurface> surfaceOfThis(CallArgs& a) { return gfx::surfaceOf(a.thisv); }

// Methods give -1 for a disposed bitmap and for missing arguments, as in Flash.
inline const Value kFailed = Value(-1);

inline void markChanged(Vm& vm) {
    if (vm.engine) vm.engine->player().runtime().changed = true;
}

// A whole number of pixels: NaN and infinities are 0, huge values are held
// within the range an int keeps.
inline int wholePixels(double d) { return std::isfinite(d) ? int(std::clamp(std::trunc(d), -1e9, 1e9)) : 0; }

inline int intArg(Vm& vm, const Value& v) { return wholePixels(vm.toNumber(v)); }

struct IntRect {
    int x = 0, y = 0, w = 0, h = 0;
};
// A Rectangle object in whole pixels (fractions truncated).
inline IntRect rectArg(Vm& vm, Object* r) {
    auto n = [&](const char* name) {
        double d = gfx::number(vm, r, name);
        return std::isfinite(d) ? int(std::clamp(std::trunc(d), -1e9, 1e9)) : 0;
    };
    return {n("x"), n("y"), n("width"), n("height")};
}
// `r` cut to a w x h bitmap.
inline IntRect clipTo(IntRect r, int w, int h) {
    int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
    int x1 = std::min(int64_t(r.x) + r.w, int64_t(w)), y1 = std::min(int64_t(r.y) + r.h, int64_t(h));
    return {x0, y0, std::max(x1 - x0, 0), std::max(y1 - y0, 0)};
}

// Where a copy of `r` of a source bitmap to (dx, dy) of a destination lands,
// cut to both bitmaps.
struct CopyRegion {
    int sx = 0, sy = 0, dx = 0, dy = 0, w = 0, h = 0;
};
inline CopyRegion copyRegion(IntRect r, int dx, int dy, const BitmapSurface& src, const BitmapSurface& dst) {
    IntRect sr = clipTo(r, src.width(), src.height());
    dx += sr.x - r.x;
    dy += sr.y - r.y;
    IntRect dr = clipTo({dx, dy, sr.w, sr.h}, dst.width(), dst.height());
    return {sr.x + dr.x - dx, sr.y + dr.y - dy, dr.x, dr.y, dr.w, dr.h};
}

inline bool sizeAllowed(Vm& vm, double w, double h) {
    int side = vm.version() >= 10 ? limits::kMaxBitmapDataSide : limits::kMaxBitmapDataSideV9;
    int64_t pixels = vm.version() >= 10 ? limits::kMaxBitmapDataPixels : int64_t(side) * side;
    return w >= 1 && h >= 1 && w <= side && h <= side && int64_t(w) * int64_t(h) <= pixels;
}

inline Object* bitmapProto(Vm& vm) {
    return vm.getMember(gfx::classOf(vm, "flash.display", "BitmapData"), QStringLiteral("prototype")).asObject();
}

inline Value wrapSurface(Vm& vm, std::shared_ptr<BitmapSurface> s, Object* proto = nullptr) {
    Object* o = vm.newObject(proto ? proto : bitmapProto(vm));
    BitmapState* state = o->nativeOrMake<BitmapState>();
    if (s && s->valid()) state->surface = std::move(s);
    return Value(o);
}

// Walking pixels is the built-in's own work: a sixteenth of an action per pixel.
inline bool chargePixels(Vm& vm, int64_t w, int64_t h) { return vm.chargeWork(uint64_t(std::max<int64_t>(w * h, 0)) / 16); }

// The methods of BitmapData.prototype beyond the basic ones.
void installBitmapOperations(Vm& vm, Object* proto);

} // namespace swf::avm1::builtins::bitmap
