// flash.display.BitmapData and the flash.filters classes.
#include "engine/avm1/builtins_gfx.h"
#include "engine/avm1/display_clip.h"
#include "engine/avm1/script_engine.h"
#include "engine/core/limits.h"
#include "engine/display/drawing.h"
#include "engine/display/movie_clip.h"
#include "engine/display/player.h"
#include "engine/render/filters.h"
#include "engine/render/backend.h"

#include <QPainter>

#include <cmath>
#include <cstring>
#include <optional>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

// A BitmapData object's native part: its pixels (null when the size was
// refused or the bitmap disposed). Methods read their arguments, which may
// run script, before they take the pixels, and hold them by a strong
// reference while they work.
struct BitmapState final : NativeState {
    std::shared_ptr<BitmapSurface> surface;
};

std::shared_ptr<BitmapSurface> surfaceOfThis(CallArgs& a) { return gfx::surfaceOf(a.thisv); }

// Methods give -1 for a disposed bitmap and for missing arguments, as in Flash.
const Value kFailed = Value(-1);

void markChanged(Vm& vm) {
    if (vm.engine) vm.engine->player().runtime().changed = true;
}

// A whole number of pixels: NaN and infinities are 0, huge values are held
// within the range an int keeps.
int wholePixels(double d) { return std::isfinite(d) ? int(std::clamp(std::trunc(d), -1e9, 1e9)) : 0; }

int intArg(Vm& vm, const Value& v) { return wholePixels(vm.toNumber(v)); }

struct IntRect {
    int x = 0, y = 0, w = 0, h = 0;
};
// A Rectangle object in whole pixels (fractions truncated).
IntRect rectArg(Vm& vm, Object* r) {
    auto n = [&](const char* name) {
        double d = gfx::number(vm, r, name);
        return std::isfinite(d) ? int(std::clamp(std::trunc(d), -1e9, 1e9)) : 0;
    };
    return {n("x"), n("y"), n("width"), n("height")};
}
// `r` cut to a w x h bitmap.
IntRect clipTo(IntRect r, int w, int h) {
    int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
    int x1 = std::min(int64_t(r.x) + r.w, int64_t(w)), y1 = std::min(int64_t(r.y) + r.h, int64_t(h));
    return {x0, y0, std::max(x1 - x0, 0), std::max(y1 - y0, 0)};
}

bool sizeAllowed(Vm& vm, double w, double h) {
    int side = vm.version() >= 10 ? limits::kMaxBitmapDataSide : limits::kMaxBitmapDataSideV9;
    int64_t pixels = vm.version() >= 10 ? limits::kMaxBitmapDataPixels : int64_t(side) * side;
    return w >= 1 && h >= 1 && w <= side && h <= side && int64_t(w) * int64_t(h) <= pixels;
}

Object* bitmapProto(Vm& vm) {
    return vm.getMember(gfx::classOf(vm, "flash.display", "BitmapData"), QStringLiteral("prototype")).asObject();
}

Value wrapSurface(Vm& vm, std::shared_ptr<BitmapSurface> s, Object* proto = nullptr) {
    Object* o = vm.newObject(proto ? proto : bitmapProto(vm));
    BitmapState* state = o->nativeOrMake<BitmapState>();
    if (s && s->valid()) state->surface = std::move(s);
    return Value(o);
}

// ---- construction and properties -----------------------------------------------------------

Value bitmapCtor(Vm& vm, CallArgs& a) {
    Object* proto = a.callee ? vm.getMember(Value(static_cast<Object*>(a.callee)), QStringLiteral("prototype")).asObject()
                             : nullptr;
    double w = std::trunc(vm.toNumber(a.at(0))), h = std::trunc(vm.toNumber(a.at(1)));
    if (!sizeAllowed(vm, w, h)) return wrapSurface(vm, nullptr, proto);
    bool transparent = a.size() > 2 ? vm.toBool(a.at(2)) : true;
    uint32_t fill = a.size() > 3 ? vm.toUint32(a.at(3)) : 0xFFFFFFFFu;
    return wrapSurface(vm, std::make_shared<BitmapSurface>(int(w), int(h), transparent, fill), proto);
}

Value bitmapWidth(Vm&, CallArgs& a) {
    auto s = surfaceOfThis(a);
    return s ? Value(s->width()) : kFailed;
}
Value bitmapHeight(Vm&, CallArgs& a) {
    auto s = surfaceOfThis(a);
    return s ? Value(s->height()) : kFailed;
}
Value bitmapTransparent(Vm&, CallArgs& a) {
    auto s = surfaceOfThis(a);
    return s ? Value(s->transparent()) : kFailed;
}
Value bitmapRectangle(Vm& vm, CallArgs& a) {
    auto s = surfaceOfThis(a);
    return s ? gfx::newGeom(vm, "Rectangle", {0, 0, double(s->width()), double(s->height())}) : kFailed;
}

// ---- pixels ----------------------------------------------------------------------------

// getPixel(x, y) and getPixel32(x, y).
Value readPixel(Vm& vm, CallArgs& a, bool withAlpha) {
    if (a.size() < 2) return kFailed;
    int x = intArg(vm, a.at(0)), y = intArg(vm, a.at(1));
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    uint32_t p = s->pixel32(x, y);
    return withAlpha ? Value(int32_t(p)) : Value(int(p & 0xFFFFFF));
}
Value bitmapGetPixel(Vm& vm, CallArgs& a) { return readPixel(vm, a, false); }
Value bitmapGetPixel32(Vm& vm, CallArgs& a) { return readPixel(vm, a, true); }

// setPixel(x, y, rgb) keeps the pixel's alpha; setPixel32(x, y, argb) sets it too.
Value writePixel(Vm& vm, CallArgs& a, bool withAlpha) {
    if (a.size() < 3) return kFailed;
    int x = intArg(vm, a.at(0)), y = intArg(vm, a.at(1));
    uint32_t argb = vm.toUint32(a.at(2));
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    s->setPixel32(x, y, withAlpha ? argb : (s->pixel32(x, y) & 0xFF000000u) | (argb & 0xFFFFFF));
    markChanged(vm);
    return Value(0);
}
Value bitmapSetPixel(Vm& vm, CallArgs& a) { return writePixel(vm, a, false); }
Value bitmapSetPixel32(Vm& vm, CallArgs& a) { return writePixel(vm, a, true); }

// Walking pixels is the built-in's own work: a sixteenth of an action per pixel.
bool chargePixels(Vm& vm, int64_t w, int64_t h) { return vm.chargeWork(uint64_t(std::max<int64_t>(w * h, 0)) / 16); }

Value bitmapFillRect(Vm& vm, CallArgs& a) {
    if (a.size() < 2 || !a.at(0).asObject()) return kFailed;
    IntRect asked = rectArg(vm, a.at(0).asObject());
    uint32_t c = vm.toUint32(a.at(1));
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    IntRect r = clipTo(asked, s->width(), s->height());
    if (!s->transparent()) c |= 0xFF000000u;
    uint32_t p = BitmapSurface::premultiply(c);
    if (!chargePixels(vm, r.w, r.h)) return kFailed;
    for (int y = r.y; y < r.y + r.h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(s->pixels().scanLine(y));
        std::fill(line + r.x, line + r.x + r.w, p);
    }
    s->changed();
    markChanged(vm);
    return Value(0);
}

Value bitmapClone(Vm& vm, CallArgs& a) {
    auto s = surfaceOfThis(a);
    if (!s || !chargePixels(vm, s->width(), s->height())) return kFailed;
    return wrapSurface(vm, std::make_shared<BitmapSurface>(s->pixels(), s->transparent()), a.thisObject()->proto());
}

Value bitmapDispose(Vm& vm, CallArgs& a) {
    BitmapState* b = a.thisObject() ? a.thisObject()->nativeAs<BitmapState>() : nullptr;
    if (!b || !b->surface) return kFailed;
    b->surface->dispose();
    b->surface.reset();
    markChanged(vm);
    return Value();
}

Value bitmapCopyPixels(Vm& vm, CallArgs& a) {
    Object* rectObj = a.at(1).asObject();
    Object* pt = a.at(2).asObject();
    if (!rectObj || !pt || !gfx::surfaceOf(a.at(0))) return kFailed;
    IntRect r = rectArg(vm, rectObj);
    int dx = wholePixels(gfx::number(vm, pt, "x")), dy = wholePixels(gfx::number(vm, pt, "y"));
    bool merge = a.size() > 5 && vm.toBool(a.at(5));
    auto s = surfaceOfThis(a);
    auto src = gfx::surfaceOf(a.at(0));
    if (!s || !src) return kFailed;
    // Cut the source rectangle to both bitmaps.
    IntRect sr = clipTo(r, src->width(), src->height());
    dx += sr.x - r.x;
    dy += sr.y - r.y;
    IntRect dr = clipTo({dx, dy, sr.w, sr.h}, s->width(), s->height());
    sr.x += dr.x - dx;
    sr.y += dr.y - dy;
    if (!chargePixels(vm, dr.w, dr.h)) return kFailed;
    // Copy through a detached image so that copying within one bitmap works.
    QImage from = src->pixels().copy(sr.x, sr.y, dr.w, dr.h);
    for (int y = 0; y < dr.h; ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(from.constScanLine(y));
        auto* out = reinterpret_cast<uint32_t*>(s->pixels().scanLine(dr.y + y)) + dr.x;
        for (int x = 0; x < dr.w; ++x) {
            uint32_t p = in[x];
            if (merge && s->transparent()) {
                uint32_t ia = 255 - (p >> 24), q = out[x];
                auto ch = [&](int shift) { return (((p >> shift) & 255) + (((q >> shift) & 255) * ia + 127) / 255) << shift; };
                p = ch(24) | ch(16) | ch(8) | ch(0);
            } else if (merge) {
                uint32_t ia = 255 - (p >> 24), q = out[x];
                auto ch = [&](int shift) { return (((p >> shift) & 255) + (((q >> shift) & 255) * ia + 127) / 255) << shift; };
                p = 0xFF000000u | ch(16) | ch(8) | ch(0);
            } else if (!s->transparent()) {
                p = BitmapSurface::premultiply(BitmapSurface::unpremultiply(p) | 0xFF000000u);
            }
            out[x] = p;
        }
    }
    s->changed();
    markChanged(vm);
    return Value(0);
}

// Renders a clip (or another bitmap) into this bitmap through the renderer.
Value bitmapDraw(Vm& vm, CallArgs& a) {
    if (!a.size()) return kFailed;
    Matrix m = a.at(1).asObject() ? gfx::matrixFrom(vm, a.at(1).asObject()) : Matrix{};
    m.tx /= 20;
    m.ty /= 20;
    if (!std::isfinite(m.a) || !std::isfinite(m.b) || !std::isfinite(m.c) || !std::isfinite(m.d) ||
        !std::isfinite(m.tx) || !std::isfinite(m.ty))
        return kFailed;
    ColorTransform cx = a.at(2).asObject() ? gfx::colorTransformFrom(vm, a.at(2).asObject()) : ColorTransform{};
    bool smoothed = a.size() > 5 && vm.toBool(a.at(5));
    std::optional<IntRect> clipRect;
    if (Object* r = a.at(4).asObject()) clipRect = rectArg(vm, r);
    auto s = surfaceOfThis(a);
    if (!s) return kFailed;
    if (!chargePixels(vm, s->width(), s->height())) return kFailed;
    render::CommandList list;
    list.background = {0, 0, 0, 0};
    if (auto src = gfx::surfaceOf(a.at(0))) {
        render::DrawBitmap cmd;
        cmd.bitmap = src->snapshot();
        cmd.matrix = m;
        cmd.colorTransform = cx;
        cmd.smoothed = smoothed;
        list.commands.push_back(std::move(cmd));
    } else if (auto* clip = dynamic_cast<DisplayClip*>(a.at(0).asObject()); clip && clip->object()) {
        // The source's own transform is left out: only the given matrix places it.
        clip->object()->draw(list, m * Matrix{1.0 / 20, 0, 0, 1.0 / 20, 0, 0}, cx);
    } else {
        return kFailed;
    }
    QImage layer(s->width(), s->height(), QImage::Format_ARGB32_Premultiplied);
    render::makeBackend()->draw(list, layer, render::Quality::High);
    {
        QPainter p(&s->pixels());
        if (clipRect) p.setClipRect(QRect(clipRect->x, clipRect->y, clipRect->w, clipRect->h));
        p.drawImage(0, 0, layer);
    }
    if (!s->transparent()) {
        QImage& px = s->pixels();
        for (int y = 0; y < px.height(); ++y) {
            auto* line = reinterpret_cast<uint32_t*>(px.scanLine(y));
            for (int x = 0; x < px.width(); ++x) line[x] |= 0xFF000000u;
        }
    }
    s->changed();
    markChanged(vm);
    return Value(0);
}

// ---- tests on pixels -------------------------------------------------------------------------

Value bitmapHitTest(Vm& vm, CallArgs& a) {
    Object* first = a.at(0).asObject();
    Object* second = a.at(2).asObject();
    if (!surfaceOfThis(a) || !first || !second) return kFailed;
    int fx = wholePixels(gfx::number(vm, first, "x")), fy = wholePixels(gfx::number(vm, first, "y"));
    // A pixel hits when its alpha reaches the threshold; a clear pixel never hits.
    int threshold = std::max(1, intArg(vm, a.at(1)));
    // The other side: a bitmap placed at a point, a rectangle, or a point.
    const bool withBitmap = gfx::surfaceOf(a.at(2)) != nullptr;
    const bool withRect = !withBitmap && vm.hasProperty(second, QStringLiteral("width"));
    int sx = 0, sy = 0, threshold2 = 1;
    IntRect rect;
    if (withBitmap) {
        Object* sp = a.at(3).asObject();
        if (!sp) return kFailed;
        sx = wholePixels(gfx::number(vm, sp, "x")), sy = wholePixels(gfx::number(vm, sp, "y"));
        threshold2 = std::max(1, a.size() > 4 ? intArg(vm, a.at(4)) : 1);
    } else if (withRect) {
        rect = rectArg(vm, second);
    } else {
        sx = wholePixels(gfx::number(vm, second, "x")), sy = wholePixels(gfx::number(vm, second, "y"));
    }
    auto s = surfaceOfThis(a);
    auto other = withBitmap ? gfx::surfaceOf(a.at(2)) : nullptr;
    if (!s || (withBitmap && !other)) return kFailed;
    auto hits = [&](int x, int y) { return s->contains(x, y) && int(s->pixel32(x, y) >> 24) >= threshold; };
    if (other) {
        if (!chargePixels(vm, other->width(), other->height())) return kFailed;
        for (int y = 0; y < other->height(); ++y)
            for (int x = 0; x < other->width(); ++x)
                if (int(other->pixel32(x, y) >> 24) >= threshold2 && hits(x + sx - fx, y + sy - fy)) return Value(true);
        return Value(false);
    }
    if (withRect) {
        rect.x -= fx;
        rect.y -= fy;
        IntRect c = clipTo(rect, s->width(), s->height());
        if (!chargePixels(vm, c.w, c.h)) return kFailed;
        for (int y = c.y; y < c.y + c.h; ++y)
            for (int x = c.x; x < c.x + c.w; ++x)
                if (hits(x, y)) return Value(true);
        return Value(false);
    }
    return Value(hits(sx - fx, sy - fy));
}

bool compare(const QString& op, uint32_t v, uint32_t t) {
    if (op == u"<") return v < t;
    if (op == u"<=") return v <= t;
    if (op == u">") return v > t;
    if (op == u">=") return v >= t;
    if (op == u"==") return v == t;
    if (op == u"!=") return v != t;
    return false;
}

Value bitmapThreshold(Vm& vm, CallArgs& a) {
    Object* rectObj = a.at(1).asObject();
    Object* pt = a.at(2).asObject();
    if (!surfaceOfThis(a) || !gfx::surfaceOf(a.at(0)) || !rectObj || !pt || a.size() < 5) return kFailed;
    QString op = vm.toString(a.at(3));
    uint32_t threshold = vm.toUint32(a.at(4));
    uint32_t color = a.size() > 5 ? vm.toUint32(a.at(5)) : 0;
    uint32_t mask = a.size() > 6 ? vm.toUint32(a.at(6)) : 0xFFFFFFFFu;
    bool copySource = a.size() > 7 && vm.toBool(a.at(7));
    IntRect asked = rectArg(vm, rectObj);
    int dx = wholePixels(gfx::number(vm, pt, "x")), dy = wholePixels(gfx::number(vm, pt, "y"));
    auto s = surfaceOfThis(a);
    auto src = gfx::surfaceOf(a.at(0));
    if (!s || !src) return kFailed;
    IntRect r = clipTo(asked, src->width(), src->height());
    if (!chargePixels(vm, r.w, r.h)) return kFailed;
    QImage from = src->pixels().copy(r.x, r.y, r.w, r.h);
    int changed = 0;
    for (int y = 0; y < r.h; ++y)
        for (int x = 0; x < r.w; ++x) {
            int tx = dx + x, ty = dy + y;
            if (!s->contains(tx, ty)) continue;
            uint32_t v = BitmapSurface::unpremultiply(reinterpret_cast<const uint32_t*>(from.constScanLine(y))[x]);
            if (compare(op, v & mask, threshold & mask)) {
                s->setPixel32(tx, ty, color);
                ++changed;
            } else if (copySource) {
                s->setPixel32(tx, ty, v);
            }
        }
    s->changed();
    markChanged(vm);
    return Value(changed);
}

// ---- the library and clips -----------------------------------------------------------------

Value bitmapLoadBitmap(Vm& vm, CallArgs& a) {
    if (!vm.engine) return Value();
    const auto& movie = vm.engine->player().movie();
    if (!movie) return Value();
    QString name = vm.toString(a.at(0));
    for (const auto& [exportName, id] : movie->exports) {
        if (QString::fromStdString(exportName).compare(name, Qt::CaseInsensitive) != 0) continue;
        auto& resolve = vm.engine->player().runtime().bitmaps;
        auto def = resolve ? resolve(id) : nullptr;
        if (!def || def->image.isNull()) return Value();
        return wrapSurface(vm, std::make_shared<BitmapSurface>(def->image, def->image.hasAlphaChannel()));
    }
    return Value();
}

Value clipAttachBitmap(Vm& vm, CallArgs& a) {
    auto* c = dynamic_cast<DisplayClip*>(a.thisObject());
    if (!c || !gfx::surfaceOf(a.at(0)) || a.size() < 2) return Value();
    double depth = vm.toNumber(a.at(1));
    if (!std::isfinite(depth) || depth < -16384 || depth > 2130690045) return Value();
    int stored = int(depth) + kScriptDepthOffset;
    bool smoothing = a.size() > 3 && vm.toBool(a.at(3));
    // The arguments ran script: look the clip and the pixels up again.
    MovieClip* mc = c->movieClip();
    auto surface = gfx::surfaceOf(a.at(0));
    if (!mc || !surface) return Value();
    if (mc->childAtDepth(stored)) mc->removeChild(stored);
    mc->addChild(std::make_unique<BitmapSurfaceObject>(mc->runtime(), std::move(surface), smoothing), stored);
    markChanged(vm);
    return Value();
}

// ---- filters ---------------------------------------------------------------------------------

// The filter classes: name, SWF id, and members with their defaults.
struct FilterField {
    const char* name;
    double fallback;
};
struct FilterClass {
    const char* name;
    render::FilterKind kind;
    std::vector<FilterField> fields;
};
const std::vector<FilterClass>& filterClasses() {
    using K = render::FilterKind;
    static const std::vector<FilterClass> classes = {
        {"BlurFilter", K::Blur, {{"blurX", 4}, {"blurY", 4}, {"quality", 1}}},
        {"DropShadowFilter", K::DropShadow,
         {{"distance", 4}, {"angle", 45}, {"color", 0}, {"alpha", 1}, {"blurX", 4}, {"blurY", 4}, {"strength", 1},
          {"quality", 1}, {"inner", 0}, {"knockout", 0}, {"hideObject", 0}}},
        {"GlowFilter", K::Glow,
         {{"color", 0xFF0000}, {"alpha", 1}, {"blurX", 6}, {"blurY", 6}, {"strength", 2}, {"quality", 1},
          {"inner", 0}, {"knockout", 0}}},
        {"BevelFilter", K::Bevel,
         {{"distance", 4}, {"angle", 45}, {"highlightColor", 0xFFFFFF}, {"highlightAlpha", 1}, {"shadowColor", 0},
          {"shadowAlpha", 1}, {"blurX", 4}, {"blurY", 4}, {"strength", 1}, {"quality", 1}, {"type", -1},
          {"knockout", 0}}},
        {"ColorMatrixFilter", K::ColorMatrix, {{"matrix", -1}}},
    };
    return classes;
}
bool isFlag(const char* n) {
    return !std::strcmp(n, "inner") || !std::strcmp(n, "knockout") || !std::strcmp(n, "hideObject");
}

const FilterClass* filterClassOf(Vm& vm, Object* o) {
    for (const auto& fc : filterClasses()) {
        Value ctor = gfx::classOf(vm, "flash.filters", fc.name);
        if (ctor.asObject() && vm.instanceOf(Value(o), ctor.asObject())) return &fc;
    }
    return nullptr;
}

Value identityColorMatrix(Vm& vm) {
    std::vector<Value> m(20, Value(0));
    for (int i : {0, 6, 12, 18}) m[size_t(i)] = Value(1);
    return Value(static_cast<Object*>(vm.newArray(std::move(m))));
}

Value filterCtor(Vm& vm, CallArgs& a) {
    Object* o = newInstance(vm, a);
    Value self(o);
    const FilterClass* fc = filterClassOf(vm, o);
    if (!fc) return self;
    for (size_t i = 0; i < fc->fields.size(); ++i) {
        const FilterField& f = fc->fields[i];
        Value v = a.at(i);
        if (v.isUndefined()) {
            if (!std::strcmp(f.name, "type")) v = Value(QStringLiteral("inner"));
            else if (!std::strcmp(f.name, "matrix")) v = identityColorMatrix(vm);
            else if (isFlag(f.name)) v = Value(false);
            else v = Value(f.fallback);
        }
        vm.setMember(o, QString::fromLatin1(f.name), v);
    }
    return self;
}

Value filterClone(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    const FilterClass* fc = self ? filterClassOf(vm, self) : nullptr;
    if (!fc) return Value();
    std::vector<Value> args;
    for (const auto& f : fc->fields) {
        Value v = vm.getMember(Value(self), QString::fromLatin1(f.name));
        if (!std::strcmp(f.name, "matrix"))
            if (auto* arr = dynamic_cast<ArrayObject*>(v.asObject())) v = Value(static_cast<Object*>(vm.newArray(arr->items)));
        args.push_back(v);
    }
    return vm.construct(gfx::classOf(vm, "flash.filters", fc->name), args);
}

// SWF filter records, as PlaceObject3 stores them.
class FilterWriter {
public:
    void u8(uint32_t v) { bytes.push_back(uint8_t(v)); }
    void fixed(double v) {
        int32_t f = int32_t(std::clamp(v, -32768.0, 32767.0) * 65536.0);
        for (int i = 0; i < 4; ++i) u8(uint32_t(f) >> (8 * i));
    }
    void fixed8(double v) {
        int16_t f = int16_t(std::clamp(v, -128.0, 127.0) * 256.0);
        u8(uint16_t(f) & 255);
        u8(uint16_t(f) >> 8);
    }
    void f32(float v) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        for (int i = 0; i < 4; ++i) u8(u >> (8 * i));
    }
    void rgba(uint32_t rgb, double alpha) {
        u8(rgb >> 16);
        u8(rgb >> 8);
        u8(rgb);
        u8(uint32_t(std::lround(std::clamp(alpha, 0.0, 1.0) * 255)));
    }
    std::vector<uint8_t> bytes;
};

bool encodeFilter(Vm& vm, Object* o, FilterWriter& w) {
    const FilterClass* fc = filterClassOf(vm, o);
    if (!fc) return false;
    auto num = [&](const char* n) {
        double d = gfx::number(vm, o, n);
        return std::isfinite(d) ? d : 0.0;
    };
    auto flag = [&](const char* n) { return vm.toBool(vm.getMember(Value(o), QString::fromLatin1(n))); };
    auto blur = [&](const char* n) { return std::clamp(num(n), 0.0, 255.0); };
    auto passes = [&] { return uint32_t(std::clamp(num("quality"), 0.0, 15.0)); };
    constexpr double kRadians = 3.14159265358979323846 / 180;
    w.u8(uint32_t(fc->kind));
    switch (fc->kind) {
    case render::FilterKind::Blur:
        w.fixed(blur("blurX"));
        w.fixed(blur("blurY"));
        w.u8(passes() << 3);
        return true;
    case render::FilterKind::DropShadow:
    case render::FilterKind::Glow:
        w.rgba(uint32_t(num("color")), num("alpha"));
        w.fixed(blur("blurX"));
        w.fixed(blur("blurY"));
        if (fc->kind == render::FilterKind::DropShadow) {
            w.fixed(num("angle") * kRadians);
            w.fixed(num("distance"));
        }
        w.fixed8(num("strength"));
        w.u8((flag("inner") ? 0x80 : 0) | (flag("knockout") ? 0x40 : 0) |
             (fc->kind == render::FilterKind::Glow || !flag("hideObject") ? 0x20 : 0) | std::min(passes(), 31u));
        return true;
    case render::FilterKind::Bevel: {
        w.rgba(uint32_t(num("shadowColor")), num("shadowAlpha"));
        w.rgba(uint32_t(num("highlightColor")), num("highlightAlpha"));
        w.fixed(blur("blurX"));
        w.fixed(blur("blurY"));
        w.fixed(num("angle") * kRadians);
        w.fixed(num("distance"));
        w.fixed8(num("strength"));
        QString type = vm.toString(vm.getMember(Value(o), QStringLiteral("type")));
        w.u8((type == u"inner" ? 0x80 : 0) | (flag("knockout") ? 0x40 : 0) | 0x20 | (type == u"full" ? 0x10 : 0) |
             std::min(passes(), 15u));
        return true;
    }
    case render::FilterKind::ColorMatrix: {
        Object* m = vm.getMember(Value(o), QStringLiteral("matrix")).asObject();
        for (int i = 0; i < 20; ++i) {
            double d = m ? vm.toNumber(vm.getMember(Value(m), QString::number(i))) : 0;
            w.f32(float(std::isfinite(d) ? d : 0));
        }
        return true;
    }
    default:
        return false;
    }
}

Value clipFilters(Vm& vm, CallArgs& a) {
    auto* c = dynamic_cast<DisplayClip*>(a.thisObject());
    if (!c) return Value(); // asked of something that is no display object (a prototype)
    ArrayObject* out = vm.newArray();
    if (!c->object()) return Value(static_cast<Object*>(out));
    constexpr double kDegrees = 180 / 3.14159265358979323846;
    for (const auto& f : render::parseFilters(c->object()->filterBytes())) {
        std::vector<Value> args;
        const char* name = nullptr;
        auto rgb = [](Rgba c) { return double((c.r << 16) | (c.g << 8) | c.b); };
        switch (f.kind) {
        case render::FilterKind::Blur:
            name = "BlurFilter";
            args = {Value(f.blurX), Value(f.blurY), Value(f.passes)};
            break;
        case render::FilterKind::DropShadow:
            name = "DropShadowFilter";
            args = {Value(f.distance), Value(f.angle * kDegrees), Value(rgb(f.color)), Value(f.color.a / 255.0),
                    Value(f.blurX), Value(f.blurY), Value(f.strength), Value(f.passes), Value(f.inner),
                    Value(f.knockout), Value(!f.compositeSource)};
            break;
        case render::FilterKind::Glow:
            name = "GlowFilter";
            args = {Value(rgb(f.color)), Value(f.color.a / 255.0), Value(f.blurX), Value(f.blurY),
                    Value(f.strength), Value(f.passes), Value(f.inner), Value(f.knockout)};
            break;
        case render::FilterKind::Bevel:
            name = "BevelFilter";
            args = {Value(f.distance), Value(f.angle * kDegrees), Value(rgb(f.highlight)), Value(f.highlight.a / 255.0),
                    Value(rgb(f.color)), Value(f.color.a / 255.0), Value(f.blurX), Value(f.blurY),
                    Value(f.strength), Value(f.passes),
                    Value(f.onTop ? QStringLiteral("full") : f.inner ? QStringLiteral("inner") : QStringLiteral("outer")),
                    Value(f.knockout)};
            break;
        case render::FilterKind::ColorMatrix: {
            name = "ColorMatrixFilter";
            std::vector<Value> m;
            for (float v : f.colorMatrix) m.emplace_back(double(v));
            args = {Value(static_cast<Object*>(vm.newArray(std::move(m))))};
            break;
        }
        default:
            continue;
        }
        out->items.push_back(vm.construct(gfx::classOf(vm, "flash.filters", name), args));
    }
    return Value(static_cast<Object*>(out));
}

Value clipSetFilters(Vm& vm, CallArgs& a) {
    auto* c = dynamic_cast<DisplayClip*>(a.thisObject());
    if (!c || !c->object()) return Value();
    Object* list = a.at(0).asObject();
    FilterWriter w;
    w.u8(0);
    int count = 0;
    int n = list ? std::clamp(vm.toInt(vm.getMember(Value(list), QStringLiteral("length"))), 0, 255) : 0;
    for (int i = 0; i < n; ++i) {
        Object* f = vm.getMember(Value(list), QString::number(i)).asObject();
        if (f && encodeFilter(vm, f, w)) ++count;
    }
    w.bytes[0] = uint8_t(count);
    // The filters' getters ran script, which may have removed the clip.
    if (DisplayObject* d = c->object()) d->setFilterBytes(count ? std::move(w.bytes) : std::vector<uint8_t>{});
    return Value();
}

void addAccessor(Vm& vm, Object* on, const char* name, NativeFn getter, NativeFn setter, uint32_t flags = kHidden) {
    QString n = QString::fromLatin1(name);
    Property& p = on->define(vm.key(n), n, Value(), flags);
    p.getter = vm.newNative(getter);
    if (setter) p.setter = vm.newNative(setter);
}

} // namespace

std::shared_ptr<BitmapSurface> gfx::surfaceOf(const Value& v) {
    BitmapState* b = v.asObject() ? v.asObject()->nativeAs<BitmapState>() : nullptr;
    return b && b->surface && b->surface->valid() ? b->surface : nullptr;
}

void installBitmap(Vm& vm, ScriptEngine& engine) {
    (void)engine;
    Object* display = gfx::package(vm, QStringLiteral("flash.display"));
    Object* proto = vm.newObject(vm.objectProto);
    FunctionObject* ctor = vm.newNative(bitmapCtor, proto);
    ctor->constructor = bitmapCtor;
    vm.defineValue(proto, QStringLiteral("constructor"), Value(static_cast<Object*>(ctor)), kHidden);
    vm.defineValue(display, QStringLiteral("BitmapData"), Value(static_cast<Object*>(ctor)), kDontEnum);
    vm.defineMethod(ctor, QStringLiteral("loadBitmap"), bitmapLoadBitmap);
    struct { const char* name; NativeFn fn; } methods[] = {
        {"getPixel", bitmapGetPixel}, {"getPixel32", bitmapGetPixel32}, {"setPixel", bitmapSetPixel},
        {"setPixel32", bitmapSetPixel32}, {"fillRect", bitmapFillRect}, {"clone", bitmapClone},
        {"dispose", bitmapDispose}, {"copyPixels", bitmapCopyPixels}, {"draw", bitmapDraw},
        {"hitTest", bitmapHitTest}, {"threshold", bitmapThreshold},
    };
    for (auto& m : methods) vm.defineMethod(proto, QString::fromLatin1(m.name), m.fn);
    addAccessor(vm, proto, "width", bitmapWidth, nullptr);
    addAccessor(vm, proto, "height", bitmapHeight, nullptr);
    addAccessor(vm, proto, "transparent", bitmapTransparent, nullptr);
    addAccessor(vm, proto, "rectangle", bitmapRectangle, nullptr);

    vm.defineMethod(vm.clipProto, QStringLiteral("attachBitmap"), clipAttachBitmap, kHidden | kVersion8);

    Object* filters = gfx::package(vm, QStringLiteral("flash.filters"));
    Object* base = vm.newObject(vm.objectProto);
    for (const auto& fc : filterClasses()) {
        Object* fp = vm.newObject(base);
        FunctionObject* f = vm.newNative(filterCtor, fp);
        f->constructor = filterCtor;
        vm.defineValue(fp, QStringLiteral("constructor"), Value(static_cast<Object*>(f)), kHidden);
        vm.defineMethod(fp, QStringLiteral("clone"), filterClone);
        vm.defineValue(filters, QString::fromLatin1(fc.name), Value(static_cast<Object*>(f)), kDontEnum);
    }
    addAccessor(vm, vm.clipProto, "filters", clipFilters, clipSetFilters, kHidden | kVersion8);
    addAccessor(vm, vm.buttonProto, "filters", clipFilters, clipSetFilters, 0);
}

} // namespace swf::avm1::builtins
