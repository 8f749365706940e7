// flash.filters: BitmapFilter and its nine classes, and MovieClip.filters.
// A filter keeps its settings in its native part. Scripts reach them through
// accessors on the class prototype that convert and clamp on every write, so
// a filter always holds values it can draw with.
#include "engine/avm1/builtins_gfx.h"
#include "engine/avm1/display_clip.h"
#include "engine/core/limits.h"
#include "engine/display/display_object.h"
#include "engine/render/filters.h"

#include <cmath>
#include <cstring>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

enum class FilterType : uint8_t {
    DropShadow, Blur, Glow, Bevel, GradientGlow, Convolution, ColorMatrix, GradientBevel, DisplacementMap
};

// Gradient filters and the convolution matrix take at most this many entries.
constexpr size_t kMaxGradientStops = 16;
constexpr int kMaxConvolutionSide = 15;

struct FilterState final : NativeState {
    FilterType type = FilterType::Blur;
    double distance = 4, angle = 45;
    uint32_t color = 0, highlightColor = 0xFFFFFF, shadowColor = 0;
    double alpha = 1, highlightAlpha = 1, shadowAlpha = 1;
    double blurX = 4, blurY = 4, strength = 1;
    int quality = 1;
    bool inner = false, knockout = false, hideObject = false;
    QString bevelType = QStringLiteral("inner");
    std::vector<uint32_t> colors;
    std::vector<double> alphas;
    std::vector<int> ratios;
    std::vector<double> matrix;               // colour matrix (20) or convolution cells
    int matrixX = 0, matrixY = 0;
    double divisor = 1, bias = 0;
    bool preserveAlpha = true, clamp = true;
    Object* mapBitmap = nullptr;
    double mapX = 0, mapY = 0;
    int componentX = 0, componentY = 0;
    double scaleX = 0, scaleY = 0;
    QString mode = QStringLiteral("wrap");

    void mark(const MarkFn& m) const override {
        if (mapBitmap) m(mapBitmap);
    }
};

std::vector<double> identityColorMatrix() {
    std::vector<double> m(20, 0.0);
    for (int i : {0, 6, 12, 18}) m[size_t(i)] = 1;
    return m;
}

// Settings a new filter of each class starts with (its constructor's defaults).
FilterState defaultsFor(FilterType t) {
    FilterState s;
    s.type = t;
    switch (t) {
    case FilterType::Glow:
        s.color = 0xFF0000;
        s.blurX = s.blurY = 6;
        s.strength = 2;
        break;
    case FilterType::ColorMatrix: s.matrix = identityColorMatrix(); break;
    case FilterType::Convolution: s.alpha = 0; break;
    case FilterType::DisplacementMap: s.alpha = 0; break;
    default: break;
    }
    return s;
}

// ---- conversions on write ---------------------------------------------------------------------

// Clamped into [lo, hi]; NaN is kept, as the Flash player keeps it.
double clampNumber(double d, double lo, double hi) { return d < lo ? lo : d > hi ? hi : d; }
int clampInt(Vm& vm, const Value& v, int lo, int hi) { return std::clamp(vm.toInt32(v), lo, hi); }
uint32_t rgbOf(Vm& vm, const Value& v) { return vm.toUint32(v) & 0xFFFFFF; }

template <typename T, typename Convert>
std::vector<T> listOf(Vm& vm, const Value& v, size_t cap, Convert convert) {
    std::vector<T> out;
    Object* list = v.asObject();
    if (!list) return out;
    double n = vm.toNumber(vm.getMember(v, QStringLiteral("length")));
    size_t count = std::isfinite(n) && n > 0 ? size_t(std::min(n, double(cap))) : 0;
    for (size_t i = 0; i < count; ++i) out.push_back(convert(vm.getMember(v, QString::number(i))));
    return out;
}

template <typename T>
Value arrayOf(Vm& vm, const std::vector<T>& items) {
    std::vector<Value> values;
    for (const T& item : items) values.emplace_back(double(item));
    return Value(static_cast<Object*>(vm.newArray(std::move(values))));
}

QString bevelTypeOf(Vm& vm, const Value& v) {
    QString t = vm.toString(v);
    return t == u"inner" || t == u"outer" ? t : QStringLiteral("full");
}

QString modeOf(Vm& vm, const Value& v) {
    QString m = vm.toString(v);
    return m == u"clamp" || m == u"ignore" || m == u"color" ? m : QStringLiteral("wrap");
}

// ---- the properties ----------------------------------------------------------------------------

struct FilterProperty {
    const char* name;
    Value (*get)(Vm&, const FilterState&);
    void (*set)(Vm&, FilterState&, const Value&);
};

#define NUMBER_PROPERTY(field, lo, hi)                                                                       \
    {#field, [](Vm&, const FilterState& s) { return Value(s.field); },                                        \
     [](Vm& vm, FilterState& s, const Value& v) { s.field = clampNumber(vm.toNumber(v), lo, hi); }}
#define FREE_NUMBER_PROPERTY(field)                                                                          \
    {#field, [](Vm&, const FilterState& s) { return Value(s.field); },                                        \
     [](Vm& vm, FilterState& s, const Value& v) { s.field = vm.toNumber(v); }}
#define INT_PROPERTY(field, lo, hi)                                                                          \
    {#field, [](Vm&, const FilterState& s) { return Value(s.field); },                                        \
     [](Vm& vm, FilterState& s, const Value& v) { s.field = clampInt(vm, v, lo, hi); }}
#define COLOR_PROPERTY(field)                                                                                \
    {#field, [](Vm&, const FilterState& s) { return Value(double(s.field)); },                                \
     [](Vm& vm, FilterState& s, const Value& v) { s.field = rgbOf(vm, v); }}
#define BOOL_PROPERTY(field)                                                                                 \
    {#field, [](Vm&, const FilterState& s) { return Value(s.field); },                                        \
     [](Vm& vm, FilterState& s, const Value& v) { s.field = vm.toBool(v); }}

constexpr double kMaxBlur = 255, kMaxStrength = 255;

const FilterProperty kProperties[] = {
    FREE_NUMBER_PROPERTY(distance),
    FREE_NUMBER_PROPERTY(angle),
    COLOR_PROPERTY(color),
    NUMBER_PROPERTY(alpha, 0.0, 1.0),
    COLOR_PROPERTY(highlightColor),
    NUMBER_PROPERTY(highlightAlpha, 0.0, 1.0),
    COLOR_PROPERTY(shadowColor),
    NUMBER_PROPERTY(shadowAlpha, 0.0, 1.0),
    NUMBER_PROPERTY(blurX, 0.0, kMaxBlur),
    NUMBER_PROPERTY(blurY, 0.0, kMaxBlur),
    NUMBER_PROPERTY(strength, 0.0, kMaxStrength),
    INT_PROPERTY(quality, 0, 15),
    BOOL_PROPERTY(inner),
    BOOL_PROPERTY(knockout),
    BOOL_PROPERTY(hideObject),
    {"type", [](Vm&, const FilterState& s) { return Value(s.bevelType); },
     [](Vm& vm, FilterState& s, const Value& v) { s.bevelType = bevelTypeOf(vm, v); }},
    {"colors", [](Vm& vm, const FilterState& s) { return arrayOf(vm, s.colors); },
     [](Vm& vm, FilterState& s, const Value& v) {
         s.colors = listOf<uint32_t>(vm, v, kMaxGradientStops, [&](const Value& e) { return rgbOf(vm, e); });
     }},
    {"alphas", [](Vm& vm, const FilterState& s) { return arrayOf(vm, s.alphas); },
     [](Vm& vm, FilterState& s, const Value& v) {
         s.alphas = listOf<double>(vm, v, kMaxGradientStops,
                                   [&](const Value& e) { return clampNumber(vm.toNumber(e), 0.0, 1.0); });
     }},
    {"ratios", [](Vm& vm, const FilterState& s) { return arrayOf(vm, s.ratios); },
     [](Vm& vm, FilterState& s, const Value& v) {
         s.ratios = listOf<int>(vm, v, kMaxGradientStops, [&](const Value& e) { return clampInt(vm, e, 0, 255); });
     }},
    {"matrix", [](Vm& vm, const FilterState& s) { return arrayOf(vm, s.matrix); },
     [](Vm& vm, FilterState& s, const Value& v) {
         if (s.type == FilterType::ColorMatrix) {
             // Always 20 entries: missing ones read as 0.
             if (!v.asObject()) return;
             s.matrix = listOf<double>(vm, v, 20, [&](const Value& e) { return vm.toNumber(e); });
             s.matrix.resize(20, 0.0);
         } else {
             s.matrix = listOf<double>(vm, v, size_t(kMaxConvolutionSide) * kMaxConvolutionSide,
                                       [&](const Value& e) { return vm.toNumber(e); });
         }
     }},
    INT_PROPERTY(matrixX, 0, kMaxConvolutionSide),
    INT_PROPERTY(matrixY, 0, kMaxConvolutionSide),
    FREE_NUMBER_PROPERTY(divisor),
    FREE_NUMBER_PROPERTY(bias),
    BOOL_PROPERTY(preserveAlpha),
    BOOL_PROPERTY(clamp),
    {"mapBitmap", [](Vm&, const FilterState& s) { return s.mapBitmap ? Value(s.mapBitmap) : Value(); },
     [](Vm&, FilterState& s, const Value& v) {
         if (gfx::surfaceOf(v)) s.mapBitmap = v.asObject();
     }},
    {"mapPoint", [](Vm& vm, const FilterState& s) { return gfx::newGeom(vm, "Point", {s.mapX, s.mapY}); },
     [](Vm& vm, FilterState& s, const Value& v) {
         if (Object* p = v.asObject()) {
             s.mapX = gfx::number(vm, p, "x");
             s.mapY = gfx::number(vm, p, "y");
         }
     }},
    FREE_NUMBER_PROPERTY(componentX),
    FREE_NUMBER_PROPERTY(componentY),
    FREE_NUMBER_PROPERTY(scaleX),
    FREE_NUMBER_PROPERTY(scaleY),
    {"mode", [](Vm&, const FilterState& s) { return Value(s.mode); },
     [](Vm& vm, FilterState& s, const Value& v) { s.mode = modeOf(vm, v); }},
};

#undef NUMBER_PROPERTY
#undef FREE_NUMBER_PROPERTY
#undef INT_PROPERTY
#undef COLOR_PROPERTY
#undef BOOL_PROPERTY

const FilterProperty* propertyNamed(const char* name) {
    for (const auto& p : kProperties)
        if (!std::strcmp(p.name, name)) return &p;
    return nullptr;
}

// ---- the classes -----------------------------------------------------------------------------

// Each class with its members in the order its constructor takes them.
struct FilterClass {
    const char* name;
    FilterType type;
    std::vector<const char*> members;
};

const std::vector<FilterClass>& filterClasses() {
    using T = FilterType;
    static const std::vector<FilterClass> classes = {
        {"BlurFilter", T::Blur, {"blurX", "blurY", "quality"}},
        {"DropShadowFilter", T::DropShadow,
         {"distance", "angle", "color", "alpha", "blurX", "blurY", "strength", "quality", "inner", "knockout",
          "hideObject"}},
        {"GlowFilter", T::Glow, {"color", "alpha", "blurX", "blurY", "strength", "quality", "inner", "knockout"}},
        {"BevelFilter", T::Bevel,
         {"distance", "angle", "highlightColor", "highlightAlpha", "shadowColor", "shadowAlpha", "blurX", "blurY",
          "strength", "quality", "type", "knockout"}},
        {"GradientGlowFilter", T::GradientGlow,
         {"distance", "angle", "colors", "alphas", "ratios", "blurX", "blurY", "strength", "quality", "type",
          "knockout"}},
        {"GradientBevelFilter", T::GradientBevel,
         {"distance", "angle", "colors", "alphas", "ratios", "blurX", "blurY", "strength", "quality", "type",
          "knockout"}},
        {"ConvolutionFilter", T::Convolution,
         {"matrixX", "matrixY", "matrix", "divisor", "bias", "preserveAlpha", "clamp", "color", "alpha"}},
        {"ColorMatrixFilter", T::ColorMatrix, {"matrix"}},
        {"DisplacementMapFilter", T::DisplacementMap,
         {"mapBitmap", "mapPoint", "componentX", "componentY", "scaleX", "scaleY", "mode", "color", "alpha"}},
    };
    return classes;
}

const FilterClass& classFor(FilterType t) {
    for (const auto& fc : filterClasses())
        if (fc.type == t) return fc;
    return filterClasses().front();
}

FilterState* filterOf(const Value& v) {
    return v.asObject() ? v.asObject()->nativeAs<FilterState>() : nullptr;
}

// A new instance of a filter class carrying `state`. The Flash player lists
// the class on the instance as an ordinary member (and, before SWF 7, as a
// hidden `constructor` too).
Value newFilter(Vm& vm, const FilterState& state) {
    Value ctor = gfx::classOf(vm, "flash.filters", classFor(state.type).name);
    Object* o = vm.newObject(vm.getMember(ctor, QStringLiteral("prototype")).asObject());
    *o->nativeOrMake<FilterState>() = state;
    vm.defineValue(o, QStringLiteral("__constructor__"), ctor, 0);
    if (vm.version() < 7) vm.defineValue(o, QStringLiteral("constructor"), ctor, kDontEnum);
    return Value(o);
}

// Called as a function, a filter class makes nothing.
Value filterCall(Vm&, CallArgs&) { return Value(); }

Value filterCtor(Vm& vm, CallArgs& a) {
    const FilterClass* fc = nullptr;
    for (const auto& c : filterClasses())
        if (a.callee && a.callee->data.isNumber() && int(a.callee->data.asNumber()) == int(c.type)) fc = &c;
    if (!fc) return Value();
    // Absent arguments keep the defaults; given ones (undefined too) are converted.
    FilterState s = defaultsFor(fc->type);
    for (size_t i = 0; i < fc->members.size() && i < a.size(); ++i) propertyNamed(fc->members[i])->set(vm, s, a.at(i));
    return newFilter(vm, s);
}

Value filterClone(Vm& vm, CallArgs& a) {
    const FilterState* s = filterOf(a.thisv);
    return s ? newFilter(vm, *s) : Value();
}

// The accessors share two natives; each knows its property by the row kept in its data slot.
const FilterProperty& propertyOf(CallArgs& a) { return kProperties[size_t(a.callee->data.asNumber())]; }

Value filterGet(Vm& vm, CallArgs& a) {
    const FilterState* s = filterOf(a.thisv);
    return s ? propertyOf(a).get(vm, *s) : Value();
}

Value filterSet(Vm& vm, CallArgs& a) {
    if (FilterState* s = filterOf(a.thisv)) propertyOf(a).set(vm, *s, a.at(0));
    return Value();
}

// ---- MovieClip.filters: to and from SWF filter records --------------------------------------

class FilterWriter {
public:
    void u8(uint32_t v) { bytes.push_back(uint8_t(v)); }
    void fixed(double v) {
        int32_t f = int32_t(std::clamp(finite(v), -32768.0, 32767.0) * 65536.0);
        for (int i = 0; i < 4; ++i) u8(uint32_t(f) >> (8 * i));
    }
    void fixed8(double v) {
        int16_t f = int16_t(std::clamp(finite(v), -128.0, 127.0) * 256.0);
        u8(uint16_t(f) & 255);
        u8(uint16_t(f) >> 8);
    }
    void f32(double v) {
        float x = float(std::clamp(finite(v), -3.4e38, 3.4e38));
        uint32_t u;
        std::memcpy(&u, &x, 4);
        for (int i = 0; i < 4; ++i) u8(u >> (8 * i));
    }
    void rgba(uint32_t rgb, double alpha) {
        u8(rgb >> 16);
        u8(rgb >> 8);
        u8(rgb);
        u8(uint32_t(std::lround(std::clamp(finite(alpha), 0.0, 1.0) * 255)));
    }
    static double finite(double v) { return std::isfinite(v) ? v : 0.0; }
    std::vector<uint8_t> bytes;
};

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180;

// Writes one filter record; false for a filter the SWF record cannot carry.
bool encodeFilter(const FilterState& s, FilterWriter& w) {
    if (s.type == FilterType::DisplacementMap) return false;
    uint32_t passes = uint32_t(std::clamp(s.quality, 0, 15));
    auto angleAndDistance = [&] {
        w.fixed(s.angle * kRadiansPerDegree);
        w.fixed(s.distance);
    };
    w.u8(uint32_t(s.type));
    switch (s.type) {
    case FilterType::Blur:
        w.fixed(s.blurX);
        w.fixed(s.blurY);
        w.u8(passes << 3);
        return true;
    case FilterType::DropShadow:
    case FilterType::Glow:
        w.rgba(s.color, s.alpha);
        w.fixed(s.blurX);
        w.fixed(s.blurY);
        if (s.type == FilterType::DropShadow) angleAndDistance();
        w.fixed8(s.strength);
        w.u8((s.inner ? 0x80 : 0) | (s.knockout ? 0x40 : 0) |
             (s.type == FilterType::Glow || !s.hideObject ? 0x20 : 0) | passes);
        return true;
    case FilterType::Bevel:
    case FilterType::GradientGlow:
    case FilterType::GradientBevel: {
        if (s.type == FilterType::Bevel) {
            w.rgba(s.shadowColor, s.shadowAlpha);
            w.rgba(s.highlightColor, s.highlightAlpha);
        } else {
            size_t n = std::min({s.colors.size(), s.alphas.size(), s.ratios.size()});
            w.u8(uint32_t(n));
            for (size_t i = 0; i < n; ++i) w.rgba(s.colors[i], s.alphas[i]);
            for (size_t i = 0; i < n; ++i) w.u8(uint32_t(s.ratios[i]));
        }
        w.fixed(s.blurX);
        w.fixed(s.blurY);
        angleAndDistance();
        w.fixed8(s.strength);
        w.u8((s.bevelType == u"inner" ? 0x80 : 0) | (s.knockout ? 0x40 : 0) | 0x20 |
             (s.bevelType == u"full" ? 0x10 : 0) | std::min(passes, 15u));
        return true;
    }
    case FilterType::Convolution: {
        w.u8(uint32_t(s.matrixX));
        w.u8(uint32_t(s.matrixY));
        w.f32(s.divisor);
        w.f32(s.bias);
        size_t cells = size_t(s.matrixX) * size_t(s.matrixY);
        for (size_t i = 0; i < cells; ++i) w.f32(i < s.matrix.size() ? s.matrix[i] : 0.0);
        w.rgba(s.color, s.alpha);
        w.u8((s.clamp ? 0x02 : 0) | (s.preserveAlpha ? 0x01 : 0));
        return true;
    }
    case FilterType::ColorMatrix:
        for (size_t i = 0; i < 20; ++i) w.f32(i < s.matrix.size() ? s.matrix[i] : 0.0);
        return true;
    case FilterType::DisplacementMap:
        break;
    }
    return false;
}

uint32_t rgbOf(Rgba c) { return (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }

FilterState decodeFilter(const render::FilterDef& f) {
    FilterState s = defaultsFor(FilterType(f.kind));
    s.blurX = f.blurX;
    s.blurY = f.blurY;
    s.angle = f.angle / kRadiansPerDegree;
    s.distance = f.distance;
    s.strength = f.strength;
    s.quality = f.passes;
    s.color = rgbOf(f.color);
    s.alpha = f.color.a / 255.0;
    s.inner = f.inner;
    s.knockout = f.knockout;
    s.hideObject = !f.compositeSource;
    s.shadowColor = rgbOf(f.color);
    s.shadowAlpha = f.color.a / 255.0;
    s.highlightColor = rgbOf(f.highlight);
    s.highlightAlpha = f.highlight.a / 255.0;
    s.bevelType = f.onTop ? QStringLiteral("full") : f.inner ? QStringLiteral("inner") : QStringLiteral("outer");
    for (const GradientStop& g : f.gradient) {
        s.colors.push_back(rgbOf(g.color));
        s.alphas.push_back(g.color.a / 255.0);
        s.ratios.push_back(g.ratio);
    }
    if (f.kind == render::FilterKind::Convolution) {
        s.matrixX = f.matrixX;
        s.matrixY = f.matrixY;
        s.matrix.assign(f.matrix.begin(), f.matrix.end());
        s.divisor = f.divisor;
        s.bias = f.bias;
        s.color = rgbOf(f.defaultColor);
        s.alpha = f.defaultColor.a / 255.0;
        s.clamp = f.clamp;
        s.preserveAlpha = f.preserveAlpha;
    }
    if (f.kind == render::FilterKind::ColorMatrix) s.matrix.assign(f.colorMatrix.begin(), f.colorMatrix.end());
    return s;
}

// Reading `filters` gives new copies each time; writing copies the filters in,
// so later changes to the script's objects do not reach the clip.
Value clipFilters(Vm& vm, CallArgs& a) {
    auto* c = dynamic_cast<DisplayClip*>(a.thisObject());
    if (!c) return Value(); // asked of something that is no display object (a prototype)
    ArrayObject* out = vm.newArray();
    if (!c->object()) return Value(static_cast<Object*>(out));
    for (const auto& f : render::parseFilters(c->object()->filterBytes())) out->items.push_back(newFilter(vm, decodeFilter(f)));
    return Value(static_cast<Object*>(out));
}

Value clipSetFilters(Vm& vm, CallArgs& a) {
    auto* c = dynamic_cast<DisplayClip*>(a.thisObject());
    if (!c || !c->object()) return Value();
    Value list = a.at(0);
    FilterWriter w;
    w.u8(0);
    int count = 0;
    int n = list.asObject() ? std::clamp(vm.toInt(vm.getMember(list, QStringLiteral("length"))), 0, 255) : 0;
    for (int i = 0; i < n && count < limits::kMaxFilters; ++i) {
        const FilterState* s = filterOf(vm.getMember(list, QString::number(i)));
        if (s && encodeFilter(*s, w)) ++count;
    }
    w.bytes[0] = uint8_t(count);
    // Reading the list ran script, which may have removed the clip.
    if (DisplayObject* d = c->object()) d->setFilterBytes(count ? std::move(w.bytes) : std::vector<uint8_t>{});
    return Value();
}

void addAccessor(Vm& vm, Object* on, const QString& name, FunctionObject* getter, FunctionObject* setter,
                 uint32_t flags) {
    Property& p = on->define(vm.key(name), name, Value(), flags);
    p.getter = getter;
    p.setter = setter;
}

} // namespace

bool gfx::filterDefOf(const Value& filter, render::FilterDef& out) {
    const FilterState* s = filterOf(filter);
    FilterWriter w;
    w.u8(1);
    if (!s || !encodeFilter(*s, w)) return false;
    auto defs = render::parseFilters(w.bytes);
    if (defs.empty()) return false;
    out = std::move(defs.front());
    return true;
}

void gfx::installFilters(Vm& vm) {
    Object* filters = gfx::package(vm, QStringLiteral("flash.filters"));
    Object* baseProto = vm.newObject(vm.objectProto);
    FunctionObject* base = vm.newNative(filterCall, baseProto);
    vm.defineMethod(baseProto, QStringLiteral("clone"), filterClone);
    vm.defineValue(filters, QStringLiteral("BitmapFilter"), Value(static_cast<Object*>(base)), kDontEnum);

    for (const auto& fc : filterClasses()) {
        // The prototype is made as `new BitmapFilter()` is in SWF 7: it names
        // its maker and has no `constructor` of its own.
        Object* proto = vm.newObject(baseProto);
        vm.defineValue(proto, QStringLiteral("__constructor__"), Value(static_cast<Object*>(base)), kDontEnum);
        FunctionObject* ctor = vm.newNative(filterCall);
        ctor->constructor = filterCtor;
        ctor->data = Value(double(int(fc.type)));
        vm.defineValue(ctor, QStringLiteral("prototype"), Value(proto), kDontEnum | kDontDelete);
        for (const char* member : fc.members) {
            const FilterProperty* p = propertyNamed(member);
            FunctionObject* get = vm.newNative(filterGet);
            FunctionObject* set = vm.newNative(filterSet);
            get->data = set->data = Value(double(p - kProperties));
            addAccessor(vm, proto, QString::fromLatin1(member), get, set, 0);
        }
        vm.defineValue(filters, QString::fromLatin1(fc.name), Value(static_cast<Object*>(ctor)), kDontEnum);
    }
    addAccessor(vm, vm.clipProto, QStringLiteral("filters"), vm.newNative(clipFilters), vm.newNative(clipSetFilters),
                kHidden | kVersion8);
    addAccessor(vm, vm.buttonProto, QStringLiteral("filters"), vm.newNative(clipFilters), vm.newNative(clipSetFilters), 0);
}

} // namespace swf::avm1::builtins
