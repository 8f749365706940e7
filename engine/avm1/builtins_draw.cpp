// The MovieClip drawing API: lines, fills, gradients and curves drawn by scripts.
// Scripts give pixels; the drawing keeps twips.
#include "engine/avm1/builtins_gfx.h"
#include "engine/avm1/display_clip.h"
#include "engine/display/movie_clip.h"

#include <array>
#include <cmath>
#include <optional>

namespace swf::avm1::builtins {
namespace {

MovieClip* thisMovieClip(CallArgs& a) {
    auto* c = dynamic_cast<DisplayClip*>(a.thisObject());
    return c ? c->movieClip() : nullptr;
}

// Runs `f` on the clip's drawing and tells the clip it changed. Methods
// read their arguments first: that runs script, which may remove the clip.
template <typename F>
Value withDrawing(CallArgs& a, F&& f) {
    if (MovieClip* mc = thisMovieClip(a)) {
        f(mc->drawing());
        mc->drawingChanged();
    }
    return Value();
}

double twips(Vm& vm, const Value& v) { return vm.toNumber(v) * 20; }

// Alpha in percent (0..100) to 0..255; undefined is opaque.
uint8_t alphaByte(Vm& vm, const Value& v) {
    if (v.isUndefined()) return 255;
    double a = vm.toNumber(v);
    if (std::isnan(a)) return 0;
    return uint8_t(std::lround(std::clamp(a, 0.0, 100.0) * 2.55));
}

Rgba rgbOf(Vm& vm, const Value& rgb, uint8_t alpha) {
    uint32_t c = vm.toUint32(rgb);
    return {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), alpha};
}

// An item of a script array (or array-like object).
Value item(Vm& vm, Object* arr, int i) { return vm.getMember(Value(arr), QString::number(i)); }
int lengthOf(Vm& vm, Object* arr) {
    return arr ? std::max(0, vm.toInt(vm.getMember(Value(arr), QStringLiteral("length")))) : 0;
}

// The gradient matrix of beginGradientFill: a flash.geom.Matrix-like object
// {a, b, c, d, tx, ty}, the "box" form {matrixType: "box", x, y, w, h, r},
// or the 3x3 form {a, b, d, e, g, h}. It maps the gradient square
// (-819.2..819.2 pixels; a unit square for the 3x3 form) to the clip.
Matrix gradientMatrix(Vm& vm, Object* m) {
    if (!m) return Matrix{};
    auto num = [&](const char* n) { return gfx::number(vm, m, n); };
    if (vm.toString(vm.getMember(Value(m), QStringLiteral("matrixType"))) == u"box") {
        double w = num("w"), h = num("h"), r = num("r");
        double sx = w / 1638.4, sy = h / 1638.4;
        return {sx * std::cos(r), sy * std::sin(r), -sx * std::sin(r), sy * std::cos(r),
                (num("x") + w / 2) * 20, (num("y") + h / 2) * 20};
    }
    if (vm.hasProperty(m, QStringLiteral("tx")) || !vm.hasProperty(m, QStringLiteral("g")))
        return gfx::matrixFrom(vm, m);
    // The 3x3 form scales a unit square (-0.5..0.5) instead.
    constexpr double k = 1 / 1638.4;
    return {num("a") * k, num("b") * k, num("d") * k, num("e") * k, num("g") * 20, num("h") * 20};
}

bool finiteMatrix(const Matrix& m) {
    return std::isfinite(m.a) && std::isfinite(m.b) && std::isfinite(m.c) && std::isfinite(m.d) &&
           std::isfinite(m.tx) && std::isfinite(m.ty);
}

// A gradient fill from beginGradientFill / lineGradientStyle arguments
// (type, colors, alphas, ratios, matrix, spread, interpolation, focal point);
// nullopt when the arguments make no gradient.
std::optional<FillStyle> gradientFill(Vm& vm, CallArgs& a) {
    QString type = vm.toString(a.at(0)).toLower();
    Object* colors = a.at(1).asObject();
    Object* alphas = a.at(2).asObject();
    Object* ratios = a.at(3).asObject();
    // Without a matrix object Flash makes no gradient.
    if ((type != u"linear" && type != u"radial") || !colors || !alphas || !ratios || !a.at(4).asObject())
        return std::nullopt;
    int n = lengthOf(vm, colors);
    if (n == 0 || n != lengthOf(vm, alphas) || n != lengthOf(vm, ratios)) return std::nullopt;
    // Flash 8 gradients have up to 15 stops, earlier ones 8.
    n = std::min(n, vm.version() >= 8 ? 15 : 8);
    FillStyle f;
    f.type = type == u"linear" ? FillType::LinearGradient : FillType::RadialGradient;
    for (int i = 0; i < n; ++i) {
        double ratio = vm.toNumber(item(vm, ratios, i));
        GradientStop s;
        s.ratio = uint8_t(std::isfinite(ratio) ? std::clamp(ratio, 0.0, 255.0) : 0);
        s.color = rgbOf(vm, item(vm, colors, i), alphaByte(vm, item(vm, alphas, i)));
        f.gradient.stops.push_back(s);
    }
    Matrix m = gradientMatrix(vm, a.at(4).asObject());
    f.gradient.matrix = finiteMatrix(m) ? m : Matrix{};
    QString spread = vm.toString(a.at(5));
    f.gradient.spread = spread == u"reflect" ? SpreadMode::Reflect
                        : spread == u"repeat" ? SpreadMode::Repeat
                                              : SpreadMode::Pad;
    f.gradient.interpolation = vm.toString(a.at(6)) == u"linearRGB" ? Interpolation::LinearRgb : Interpolation::Rgb;
    if (f.type == FillType::RadialGradient && a.size() > 7) {
        double focal = vm.toNumber(a.at(7));
        if (std::isfinite(focal) && focal != 0) {
            f.type = FillType::FocalGradient;
            f.gradient.focalPoint = std::clamp(focal, -1.0, 1.0);
        }
    }
    return f;
}

Value drawClear(Vm&, CallArgs& a) {
    return withDrawing(a, [](Drawing& d) { d.clear(); });
}

std::optional<LineStyle> lineStyleOf(Vm& vm, CallArgs& a) {
    if (a.at(0).isUndefined()) return std::nullopt;
    LineStyle line;
    double t = vm.toNumber(a.at(0));
    line.width = uint16_t(std::isfinite(t) ? std::lround(std::clamp(t, 0.0, 255.0) * 20) : 0);
    line.color = rgbOf(vm, a.at(1), alphaByte(vm, a.at(2)));
    line.pixelHinting = vm.toBool(a.at(3));
    QString scale = vm.toString(a.at(4));
    line.noHScale = scale == u"none" || scale == u"horizontal";
    line.noVScale = scale == u"none" || scale == u"vertical";
    if (a.size() > 5 && !a.at(5).isNullish()) {
        QString caps = vm.toString(a.at(5));
        line.startCap = line.endCap = caps == u"none"     ? CapStyle::None
                                      : caps == u"square" ? CapStyle::Square
                                                          : CapStyle::Round;
    }
    if (a.size() > 6 && !a.at(6).isNullish()) {
        QString joint = vm.toString(a.at(6));
        line.join = joint == u"bevel" ? JoinStyle::Bevel : joint == u"miter" ? JoinStyle::Miter : JoinStyle::Round;
    }
    double miter = argNumber(vm, a, 7, 3);
    line.miterLimit = std::isfinite(miter) ? std::clamp(miter, 1.0, 255.0) : 3;
    return line;
}

Value drawLineStyle(Vm& vm, CallArgs& a) {
    if (!thisMovieClip(a)) return Value();
    std::optional<LineStyle> line = lineStyleOf(vm, a);
    return withDrawing(a, [&](Drawing& d) { d.lineStyle(line); });
}

Value drawLineGradientStyle(Vm& vm, CallArgs& a) {
    if (!thisMovieClip(a)) return Value();
    std::optional<FillStyle> fill = gradientFill(vm, a);
    return withDrawing(a, [&](Drawing& d) {
        if (!d.currentLineStyle()) return;
        LineStyle line = *d.currentLineStyle();
        line.fill = fill;
        d.lineStyle(line);
    });
}

// Ends the fill under way and starts `fill` (none: no new fill).
Value startFill(CallArgs& a, const std::optional<FillStyle>& fill, std::shared_ptr<BitmapSurface> bitmap = nullptr) {
    return withDrawing(a, [&](Drawing& d) {
        d.endFill();
        if (fill && bitmap) d.beginBitmapFill(*fill, std::move(bitmap));
        else if (fill) d.beginFill(*fill);
    });
}

Value drawBeginFill(Vm& vm, CallArgs& a) {
    if (!thisMovieClip(a)) return Value();
    std::optional<FillStyle> f;
    if (!a.at(0).isUndefined()) { // no colour: no fill
        f.emplace();
        f->color = rgbOf(vm, a.at(0), alphaByte(vm, a.at(1)));
    }
    return startFill(a, f);
}

Value drawBeginGradientFill(Vm& vm, CallArgs& a) {
    if (!thisMovieClip(a)) return Value();
    std::optional<FillStyle> f = gradientFill(vm, a);
    return startFill(a, f);
}

Value drawBeginBitmapFill(Vm& vm, CallArgs& a) {
    if (!thisMovieClip(a)) return Value();
    std::optional<FillStyle> f;
    if (gfx::surfaceOf(a.at(0))) {
        f.emplace();
        Matrix m = a.at(1).asObject() ? gfx::matrixFrom(vm, a.at(1).asObject()) : Matrix{};
        if (!finiteMatrix(m)) m = Matrix{};
        // Bitmap pixels to clip twips.
        f->bitmapMatrix = Matrix{20, 0, 0, 20, 0, 0} * Matrix{m.a, m.b, m.c, m.d, m.tx / 20, m.ty / 20};
        f->bitmapRepeat = a.size() > 2 ? vm.toBool(a.at(2)) : true;
        f->bitmapSmoothed = a.size() > 3 && vm.toBool(a.at(3));
    }
    // The bitmap may have been disposed meanwhile: then no fill.
    auto surface = gfx::surfaceOf(a.at(0));
    return startFill(a, surface ? f : std::nullopt, surface);
}

// The first `n` arguments in twips; empty when fewer were given or `this` is no clip.
template <size_t N>
std::optional<std::array<double, N>> twipsArgs(Vm& vm, CallArgs& a) {
    if (a.size() < N || !thisMovieClip(a)) return std::nullopt;
    std::array<double, N> out;
    for (size_t i = 0; i < N; ++i) out[i] = twips(vm, a.at(i));
    return out;
}

Value drawMoveTo(Vm& vm, CallArgs& a) {
    auto p = twipsArgs<2>(vm, a);
    return p ? withDrawing(a, [&](Drawing& d) { d.moveTo((*p)[0], (*p)[1]); }) : Value();
}

Value drawLineTo(Vm& vm, CallArgs& a) {
    auto p = twipsArgs<2>(vm, a);
    return p ? withDrawing(a, [&](Drawing& d) { d.lineTo((*p)[0], (*p)[1]); }) : Value();
}

Value drawCurveTo(Vm& vm, CallArgs& a) {
    auto p = twipsArgs<4>(vm, a);
    return p ? withDrawing(a, [&](Drawing& d) { d.curveTo((*p)[0], (*p)[1], (*p)[2], (*p)[3]); }) : Value();
}

Value drawEndFill(Vm&, CallArgs& a) {
    return withDrawing(a, [](Drawing& d) { d.endFill(); });
}

} // namespace

void installDrawing(Vm& vm, ScriptEngine& engine) {
    (void)engine;
    struct { const char* name; NativeFn fn; } methods[] = {
        {"clear", drawClear}, {"lineStyle", drawLineStyle}, {"lineGradientStyle", drawLineGradientStyle},
        {"beginFill", drawBeginFill}, {"beginGradientFill", drawBeginGradientFill},
        {"beginBitmapFill", drawBeginBitmapFill}, {"moveTo", drawMoveTo}, {"lineTo", drawLineTo},
        {"curveTo", drawCurveTo}, {"endFill", drawEndFill},
    };
    // The drawing API came with version 6; bitmap fills and line gradients with 8.
    for (auto& m : methods) {
        QString name = QString::fromLatin1(m.name);
        bool v8 = name == u"beginBitmapFill" || name == u"lineGradientStyle";
        vm.defineMethod(vm.clipProto, name, m.fn, prop::kHidden | (v8 ? prop::kVersion8 : prop::kVersion6));
    }
}

} // namespace swf::avm1::builtins
