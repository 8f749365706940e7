// flash.display.BitmapData.
#include "engine/avm1/bitmap_common.h"
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
using namespace bitmap;

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

// copyPixels(src, rect, point, alphaBitmap, alphaPoint, mergeAlpha): an alpha
// bitmap's alpha, read from alphaPoint on, scales the source's; mergeAlpha
// draws the source over the destination instead of replacing it.
Value bitmapCopyPixels(Vm& vm, CallArgs& a) {
    Object* rectObj = a.at(1).asObject();
    Object* pt = a.at(2).asObject();
    if (!rectObj || !pt || !gfx::surfaceOf(a.at(0))) return kFailed;
    IntRect r = rectArg(vm, rectObj);
    int dx = wholePixels(gfx::number(vm, pt, "x")), dy = wholePixels(gfx::number(vm, pt, "y"));
    int ax = 0, ay = 0;
    if (Object* alphaPoint = a.at(4).asObject()) {
        ax = wholePixels(gfx::number(vm, alphaPoint, "x"));
        ay = wholePixels(gfx::number(vm, alphaPoint, "y"));
    }
    bool merge = a.size() > 5 && vm.toBool(a.at(5));
    auto s = surfaceOfThis(a);
    auto src = gfx::surfaceOf(a.at(0));
    auto alpha = gfx::surfaceOf(a.at(3));
    if (!s || !src) return kFailed;
    CopyRegion cr = copyRegion(r, dx, dy, *src, *s);
    if (!chargePixels(vm, cr.w, cr.h)) return kFailed;
    // Copy through a detached image so that copying within one bitmap works.
    QImage from = src->pixels().copy(cr.sx, cr.sy, cr.w, cr.h);
    for (int y = 0; y < cr.h; ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(from.constScanLine(y));
        auto* out = reinterpret_cast<uint32_t*>(s->pixels().scanLine(cr.dy + y)) + cr.dx;
        for (int x = 0; x < cr.w; ++x) {
            uint32_t p = in[x];
            auto scaled = [&](uint32_t v, uint32_t by, int shift) { return ((((v >> shift) & 255) * by + 127) / 255) << shift; };
            if (alpha) {
                uint32_t k = alpha->pixel32(ax + cr.sx - r.x + x, ay + cr.sy - r.y + y) >> 24;
                p = scaled(p, k, 24) | scaled(p, k, 16) | scaled(p, k, 8) | scaled(p, k, 0);
            }
            if (merge) {
                uint32_t ia = 255 - (p >> 24), q = out[x];
                auto ch = [&](int shift) { return (((p >> shift) & 255) << shift) + scaled(q, ia, shift); };
                p = ch(24) | ch(16) | ch(8) | ch(0);
            }
            if (!s->transparent()) p = BitmapSurface::premultiply(BitmapSurface::unpremultiply(p) | 0xFF000000u);
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
    installBitmapOperations(vm, proto);
    addAccessor(vm, proto, "width", bitmapWidth, nullptr);
    addAccessor(vm, proto, "height", bitmapHeight, nullptr);
    addAccessor(vm, proto, "transparent", bitmapTransparent, nullptr);
    addAccessor(vm, proto, "rectangle", bitmapRectangle, nullptr);

    vm.defineMethod(vm.clipProto, QStringLiteral("attachBitmap"), clipAttachBitmap, kHidden | kVersion8);

    gfx::installFilters(vm);
}

} // namespace swf::avm1::builtins
