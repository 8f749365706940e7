// flash.geom: Point, Rectangle, Matrix, ColorTransform and Transform.
// Point, Rectangle and Matrix keep their fields as ordinary members, so a
// script may store anything there; toString prints whatever is stored.
#include "engine/avm1/builtins_gfx.h"
#include "engine/avm1/display_clip.h"
#include "engine/avm1/script_engine.h"
#include "engine/display/movie_clip.h"

#include <array>
#include <cmath>

namespace swf::avm1::builtins {

using namespace prop;

// A ColorTransform keeps its eight numbers itself; scripts reach them through
// accessors (seen from version 8 on) that convert what they are given.
namespace {
struct ColorTransformNative : NativeState {
    ColorTransform c;
};
} // namespace

// ---- shared helpers ----------------------------------------------------------------------

namespace gfx {

Object* package(Vm& vm, const QString& dotted) {
    Object* at = vm.global();
    for (const QString& part : dotted.split(u'.')) {
        Property* p = at->find(vm.key(part));
        Object* next = p ? p->value.asObject() : nullptr;
        if (!next) {
            next = vm.newObject();
            // The packages are seen by movies of version 8 on.
            vm.defineValue(at, part, Value(next), at == vm.global() ? kDontEnum | kVersion8 : kDontEnum);
        }
        at = next;
    }
    return at;
}

double number(Vm& vm, Object* o, const char* name) {
    return o ? vm.toNumber(vm.getMember(Value(o), QString::fromLatin1(name))) : std::nan("");
}

Value classOf(Vm& vm, const char* packageName, const char* className) {
    // Found whatever the movie's version, so that the natives work in every movie.
    Object* at = vm.global();
    for (const QString& part : QString::fromLatin1(packageName).split(u'.')) {
        Property* p = at ? at->find(vm.key(part)) : nullptr;
        at = p ? p->value.asObject() : nullptr;
    }
    if (!at) return Value();
    Property* p = at->find(vm.key(QString::fromLatin1(className)));
    return p ? p->value : Value();
}

Value newGeom(Vm& vm, const char* className, std::initializer_list<double> args) {
    std::vector<Value> values;
    for (double d : args) values.emplace_back(d);
    return vm.construct(classOf(vm, "flash.geom", className), values);
}

Matrix matrixFrom(Vm& vm, Object* m) {
    Matrix r;
    r.a = number(vm, m, "a");
    r.b = number(vm, m, "b");
    r.c = number(vm, m, "c");
    r.d = number(vm, m, "d");
    r.tx = number(vm, m, "tx") * 20;
    r.ty = number(vm, m, "ty") * 20;
    return r;
}

Value matrixValue(Vm& vm, const Matrix& m) {
    return newGeom(vm, "Matrix", {m.a, m.b, m.c, m.d, m.tx / 20, m.ty / 20});
}

ColorTransform colorTransformFrom(Vm& vm, Object* ct) {
    if (auto* n = ct ? ct->nativeAs<ColorTransformNative>() : nullptr) return n->c;
    ColorTransform c;
    c.rMult = number(vm, ct, "redMultiplier");
    c.gMult = number(vm, ct, "greenMultiplier");
    c.bMult = number(vm, ct, "blueMultiplier");
    c.aMult = number(vm, ct, "alphaMultiplier");
    c.rAdd = number(vm, ct, "redOffset");
    c.gAdd = number(vm, ct, "greenOffset");
    c.bAdd = number(vm, ct, "blueOffset");
    c.aAdd = number(vm, ct, "alphaOffset");
    return c;
}

Value colorTransformValue(Vm& vm, const ColorTransform& c) {
    return newGeom(vm, "ColorTransform", {c.rMult, c.gMult, c.bMult, c.aMult, c.rAdd, c.gAdd, c.bAdd, c.aAdd});
}

Matrix worldMatrixOf(const DisplayObject& o) {
    Matrix m = o.matrix();
    for (MovieClip* p = o.parent(); p; p = p->parent()) m = p->matrix() * m;
    return m;
}

} // namespace gfx

namespace {

using gfx::newGeom;
using gfx::number;

void set(Vm& vm, Object* o, const char* name, const Value& v) { vm.setMember(o, QString::fromLatin1(name), v); }
Value get(Vm& vm, Object* o, const char* name) { return vm.getMember(Value(o), QString::fromLatin1(name)); }

// "(a=1, b=2)" from the named members, each joined as the + operator joins
// it to a string (valueOf first, then toString).
Value describe(Vm& vm, CallArgs& a, std::initializer_list<std::pair<const char*, const char*>> fields) {
    Object* self = a.thisObject();
    QString out = QStringLiteral("(");
    bool first = true;
    for (auto [label, member] : fields) {
        if (!first) out += QStringLiteral(", ");
        first = false;
        out += QString::fromLatin1(label) + u'=' + vm.toString(self ? vm.toPrimitive(get(vm, self, member)) : Value());
    }
    return Value(out + u')');
}

void addAccessor(Vm& vm, Object* on, const char* name, NativeFn getter, NativeFn setter, uint32_t flags = 0) {
    QString n = QString::fromLatin1(name);
    Property& p = on->define(vm.key(n), n, Value(), kHidden | flags);
    p.getter = vm.newNative(getter);
    if (setter) p.setter = vm.newNative(setter);
}

// Fills fields from the arguments, or with defaults when there are none.
Value construct(Vm& vm, CallArgs& a, std::initializer_list<std::pair<const char*, double>> fields) {
    Object* o = newInstance(vm, a);
    size_t i = 0;
    for (auto [name, fallback] : fields) {
        set(vm, o, name, a.size() ? a.at(i) : Value(fallback));
        ++i;
    }
    return Value(o);
}

// ---- Point ---------------------------------------------------------------------------------

// Flash squares and adds: a NaN in either part is NaN, even beside an infinity.
double lengthOf(double x, double y) { return std::sqrt(x * x + y * y); }

Value pointCtor(Vm& vm, CallArgs& a) { return construct(vm, a, {{"x", 0}, {"y", 0}}); }
Value pointToString(Vm& vm, CallArgs& a) { return describe(vm, a, {{"x", "x"}, {"y", "y"}}); }
Value pointLength(Vm& vm, CallArgs& a) {
    return Value(lengthOf(number(vm, a.thisObject(), "x"), number(vm, a.thisObject(), "y")));
}
Value pointClone(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    Value args[] = {get(vm, self, "x"), get(vm, self, "y")};
    return vm.construct(gfx::classOf(vm, "flash.geom", "Point"), args);
}
Value pointAdd(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    Object* p = a.at(0).asObject();
    return newGeom(vm, "Point", {number(vm, self, "x") + number(vm, p, "x"), number(vm, self, "y") + number(vm, p, "y")});
}
Value pointSubtract(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    Object* p = a.at(0).asObject();
    return newGeom(vm, "Point", {number(vm, self, "x") - number(vm, p, "x"), number(vm, self, "y") - number(vm, p, "y")});
}
Value pointEquals(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    Object* p = a.at(0).asObject();
    if (!self || !p) return Value(false);
    // The point itself is equal even when a part is NaN.
    if (self == p) return Value(true);
    return Value(number(vm, self, "x") == number(vm, p, "x") && number(vm, self, "y") == number(vm, p, "y"));
}
Value pointNormalize(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    double x = number(vm, self, "x"), y = number(vm, self, "y");
    double len = lengthOf(x, y);
    if (len > 0) {
        double k = vm.toNumber(a.at(0)) / len;
        set(vm, self, "x", Value(x * k));
        set(vm, self, "y", Value(y * k));
    }
    return Value();
}
Value pointOffset(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    set(vm, self, "x", Value(number(vm, self, "x") + vm.toNumber(a.at(0))));
    set(vm, self, "y", Value(number(vm, self, "y") + vm.toNumber(a.at(1))));
    return Value();
}
Value pointDistance(Vm& vm, CallArgs& a) {
    Object* p = a.at(0).asObject();
    Object* q = a.at(1).asObject();
    if (!p || !q) return Value();
    return Value(lengthOf(number(vm, p, "x") - number(vm, q, "x"), number(vm, p, "y") - number(vm, q, "y")));
}
Value pointInterpolate(Vm& vm, CallArgs& a) {
    Object* p = a.at(0).asObject();
    Object* q = a.at(1).asObject();
    double f = vm.toNumber(a.at(2));
    double qx = number(vm, q, "x"), qy = number(vm, q, "y");
    return newGeom(vm, "Point", {qx + f * (number(vm, p, "x") - qx), qy + f * (number(vm, p, "y") - qy)});
}
Value pointPolar(Vm& vm, CallArgs& a) {
    double len = vm.toNumber(a.at(0)), angle = vm.toNumber(a.at(1));
    return newGeom(vm, "Point", {len * std::cos(angle), len * std::sin(angle)});
}

// ---- Rectangle -------------------------------------------------------------------------------

struct Box {
    double x, y, w, h;
    bool empty() const { return !(w > 0 && h > 0); }
};
Box boxOf(Vm& vm, Object* r) {
    return {number(vm, r, "x"), number(vm, r, "y"), number(vm, r, "width"), number(vm, r, "height")};
}
void setBox(Vm& vm, Object* r, const Box& b) {
    set(vm, r, "x", Value(b.x));
    set(vm, r, "y", Value(b.y));
    set(vm, r, "width", Value(b.w));
    set(vm, r, "height", Value(b.h));
}
Value rectValue(Vm& vm, const Box& b) { return newGeom(vm, "Rectangle", {b.x, b.y, b.w, b.h}); }

Value rectCtor(Vm& vm, CallArgs& a) { return construct(vm, a, {{"x", 0}, {"y", 0}, {"width", 0}, {"height", 0}}); }
Value rectToString(Vm& vm, CallArgs& a) {
    return describe(vm, a, {{"x", "x"}, {"y", "y"}, {"w", "width"}, {"h", "height"}});
}
Value rectClone(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    Value args[] = {get(vm, self, "x"), get(vm, self, "y"), get(vm, self, "width"), get(vm, self, "height")};
    return vm.construct(gfx::classOf(vm, "flash.geom", "Rectangle"), args);
}
Value rectIsEmpty(Vm& vm, CallArgs& a) { return Value(boxOf(vm, a.thisObject()).empty()); }
Value rectSetEmpty(Vm& vm, CallArgs& a) { setBox(vm, a.thisObject(), {0, 0, 0, 0}); return Value(); }
Value rectContains(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    double x = vm.toNumber(a.at(0)), y = vm.toNumber(a.at(1));
    return Value(x >= b.x && x < b.x + b.w && y >= b.y && y < b.y + b.h);
}
Value rectContainsPoint(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    Object* p = a.at(0).asObject();
    double x = number(vm, p, "x"), y = number(vm, p, "y");
    return Value(x >= b.x && x < b.x + b.w && y >= b.y && y < b.y + b.h);
}
Value rectContainsRect(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    Box r = boxOf(vm, a.at(0).asObject());
    if (r.empty()) return Value(false);
    return Value(r.x >= b.x && r.y >= b.y && r.x + r.w <= b.x + b.w && r.y + r.h <= b.y + b.h);
}
Value rectEquals(Vm& vm, CallArgs& a) {
    Object* r = a.at(0).asObject();
    if (!r) return Value(false);
    Box p = boxOf(vm, a.thisObject()), q = boxOf(vm, r);
    return Value(p.x == q.x && p.y == q.y && p.w == q.w && p.h == q.h);
}
Value rectInflate(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    double dx = vm.toNumber(a.at(0)), dy = vm.toNumber(a.at(1));
    setBox(vm, a.thisObject(), {b.x - dx, b.y - dy, b.w + 2 * dx, b.h + 2 * dy});
    return Value();
}
Value rectInflatePoint(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    Object* p = a.at(0).asObject();
    double dx = number(vm, p, "x"), dy = number(vm, p, "y");
    setBox(vm, a.thisObject(), {b.x - dx, b.y - dy, b.w + 2 * dx, b.h + 2 * dy});
    return Value();
}
Value rectOffset(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    set(vm, a.thisObject(), "x", Value(b.x + vm.toNumber(a.at(0))));
    set(vm, a.thisObject(), "y", Value(b.y + vm.toNumber(a.at(1))));
    return Value();
}
Value rectOffsetPoint(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    Object* p = a.at(0).asObject();
    set(vm, a.thisObject(), "x", Value(b.x + number(vm, p, "x")));
    set(vm, a.thisObject(), "y", Value(b.y + number(vm, p, "y")));
    return Value();
}
Box intersect(const Box& p, const Box& q) {
    if (p.empty() || q.empty()) return {0, 0, 0, 0};
    double x0 = std::max(p.x, q.x), y0 = std::max(p.y, q.y);
    double x1 = std::min(p.x + p.w, q.x + q.w), y1 = std::min(p.y + p.h, q.y + q.h);
    if (x1 <= x0 || y1 <= y0) return {0, 0, 0, 0};
    return {x0, y0, x1 - x0, y1 - y0};
}
Value rectIntersection(Vm& vm, CallArgs& a) {
    return rectValue(vm, intersect(boxOf(vm, a.thisObject()), boxOf(vm, a.at(0).asObject())));
}
Value rectIntersects(Vm& vm, CallArgs& a) {
    return Value(!intersect(boxOf(vm, a.thisObject()), boxOf(vm, a.at(0).asObject())).empty());
}
Value rectUnion(Vm& vm, CallArgs& a) {
    Box p = boxOf(vm, a.thisObject()), q = boxOf(vm, a.at(0).asObject());
    if (p.empty()) return rectValue(vm, q);
    if (q.empty()) return rectValue(vm, p);
    double x0 = std::min(p.x, q.x), y0 = std::min(p.y, q.y);
    double x1 = std::max(p.x + p.w, q.x + q.w), y1 = std::max(p.y + p.h, q.y + q.h);
    return rectValue(vm, {x0, y0, x1 - x0, y1 - y0});
}
Value rectLeft(Vm& vm, CallArgs& a) { return get(vm, a.thisObject(), "x"); }
Value rectSetLeft(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    double v = vm.toNumber(a.at(0));
    set(vm, a.thisObject(), "width", Value(b.w - (v - b.x)));
    set(vm, a.thisObject(), "x", a.at(0));
    return Value();
}
Value rectTop(Vm& vm, CallArgs& a) { return get(vm, a.thisObject(), "y"); }
Value rectSetTop(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    double v = vm.toNumber(a.at(0));
    set(vm, a.thisObject(), "height", Value(b.h - (v - b.y)));
    set(vm, a.thisObject(), "y", a.at(0));
    return Value();
}
Value rectRight(Vm& vm, CallArgs& a) { Box b = boxOf(vm, a.thisObject()); return Value(b.x + b.w); }
Value rectSetRight(Vm& vm, CallArgs& a) {
    set(vm, a.thisObject(), "width", Value(vm.toNumber(a.at(0)) - number(vm, a.thisObject(), "x")));
    return Value();
}
Value rectBottom(Vm& vm, CallArgs& a) { Box b = boxOf(vm, a.thisObject()); return Value(b.y + b.h); }
Value rectSetBottom(Vm& vm, CallArgs& a) {
    set(vm, a.thisObject(), "height", Value(vm.toNumber(a.at(0)) - number(vm, a.thisObject(), "y")));
    return Value();
}
Value rectSize(Vm& vm, CallArgs& a) { Box b = boxOf(vm, a.thisObject()); return newGeom(vm, "Point", {b.w, b.h}); }
Value rectSetSize(Vm& vm, CallArgs& a) {
    Object* p = a.at(0).asObject();
    set(vm, a.thisObject(), "width", Value(number(vm, p, "x")));
    set(vm, a.thisObject(), "height", Value(number(vm, p, "y")));
    return Value();
}
Value rectTopLeft(Vm& vm, CallArgs& a) { Box b = boxOf(vm, a.thisObject()); return newGeom(vm, "Point", {b.x, b.y}); }
Value rectSetTopLeft(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    Object* p = a.at(0).asObject();
    double x = number(vm, p, "x"), y = number(vm, p, "y");
    setBox(vm, a.thisObject(), {x, y, b.w - (x - b.x), b.h - (y - b.y)});
    return Value();
}
Value rectBottomRight(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    return newGeom(vm, "Point", {b.x + b.w, b.y + b.h});
}
Value rectSetBottomRight(Vm& vm, CallArgs& a) {
    Box b = boxOf(vm, a.thisObject());
    Object* p = a.at(0).asObject();
    set(vm, a.thisObject(), "width", Value(number(vm, p, "x") - b.x));
    set(vm, a.thisObject(), "height", Value(number(vm, p, "y") - b.y));
    return Value();
}

// ---- Matrix --------------------------------------------------------------------------------

// The six fields as numbers (tx, ty in pixels, unlike gfx::matrixFrom).
Matrix fieldsOf(Vm& vm, Object* m) {
    return {number(vm, m, "a"), number(vm, m, "b"), number(vm, m, "c"),
            number(vm, m, "d"), number(vm, m, "tx"), number(vm, m, "ty")};
}
void setFields(Vm& vm, Object* o, const Matrix& m) {
    set(vm, o, "a", Value(m.a));
    set(vm, o, "b", Value(m.b));
    set(vm, o, "c", Value(m.c));
    set(vm, o, "d", Value(m.d));
    set(vm, o, "tx", Value(m.tx));
    set(vm, o, "ty", Value(m.ty));
}

Value matrixCtor(Vm& vm, CallArgs& a) {
    return construct(vm, a, {{"a", 1}, {"b", 0}, {"c", 0}, {"d", 1}, {"tx", 0}, {"ty", 0}});
}
Value matrixToString(Vm& vm, CallArgs& a) {
    return describe(vm, a, {{"a", "a"}, {"b", "b"}, {"c", "c"}, {"d", "d"}, {"tx", "tx"}, {"ty", "ty"}});
}
Value matrixClone(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    Value args[] = {get(vm, self, "a"), get(vm, self, "b"), get(vm, self, "c"),
                    get(vm, self, "d"), get(vm, self, "tx"), get(vm, self, "ty")};
    return vm.construct(gfx::classOf(vm, "flash.geom", "Matrix"), args);
}
Value matrixIdentity(Vm& vm, CallArgs& a) { setFields(vm, a.thisObject(), Matrix{}); return Value(); }
// `this` followed by `m` (points go through this first).
Matrix followedBy(const Matrix& self, const Matrix& m) { return m * self; }
Value matrixConcat(Vm& vm, CallArgs& a) {
    Object* other = a.at(0).asObject();
    if (!other) return Value();
    setFields(vm, a.thisObject(), followedBy(fieldsOf(vm, a.thisObject()), fieldsOf(vm, other)));
    return Value();
}
Value matrixInvert(Vm& vm, CallArgs& a) {
    Matrix m = fieldsOf(vm, a.thisObject());
    double det = m.a * m.d - m.b * m.c;
    if (det == 0) {
        setFields(vm, a.thisObject(), Matrix{});
        return Value();
    }
    Matrix r{m.d / det, -m.b / det, -m.c / det, m.a / det, (m.c * m.ty - m.d * m.tx) / det,
             -(m.a * m.ty - m.b * m.tx) / det};
    setFields(vm, a.thisObject(), r);
    return Value();
}
Value matrixRotate(Vm& vm, CallArgs& a) {
    double q = vm.toNumber(a.at(0));
    Matrix r{std::cos(q), std::sin(q), -std::sin(q), std::cos(q), 0, 0};
    setFields(vm, a.thisObject(), followedBy(fieldsOf(vm, a.thisObject()), r));
    return Value();
}
Value matrixScale(Vm& vm, CallArgs& a) {
    Matrix m = fieldsOf(vm, a.thisObject());
    double sx = vm.toNumber(a.at(0)), sy = vm.toNumber(a.at(1));
    setFields(vm, a.thisObject(), {m.a * sx, m.b * sy, m.c * sx, m.d * sy, m.tx * sx, m.ty * sy});
    return Value();
}
Value matrixTranslate(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    set(vm, self, "tx", Value(number(vm, self, "tx") + vm.toNumber(a.at(0))));
    set(vm, self, "ty", Value(number(vm, self, "ty") + vm.toNumber(a.at(1))));
    return Value();
}
// A scale, then a rotation, then a translation; `unit` is the size one scale step covers.
void createBox(Vm& vm, CallArgs& a, double sx, double sy, double rotation, double tx, double ty) {
    setFields(vm, a.thisObject(), {sx * std::cos(rotation), sy * std::sin(rotation), -sx * std::sin(rotation),
                                   sy * std::cos(rotation), tx, ty});
}
Value matrixCreateBox(Vm& vm, CallArgs& a) {
    createBox(vm, a, vm.toNumber(a.at(0)), vm.toNumber(a.at(1)), vm.toNumber(a.at(2)), argNumber(vm, a, 3, 0),
              argNumber(vm, a, 4, 0));
    return Value();
}
Value matrixCreateGradientBox(Vm& vm, CallArgs& a) {
    // The gradient square is 1638.4 pixels wide; the box is centred on the given size.
    double w = vm.toNumber(a.at(0)), h = vm.toNumber(a.at(1));
    createBox(vm, a, w / 1638.4, h / 1638.4, argNumber(vm, a, 2, 0), argNumber(vm, a, 3, 0) + w / 2,
              argNumber(vm, a, 4, 0) + h / 2);
    return Value();
}
Value matrixTransformPoint(Vm& vm, CallArgs& a) {
    Matrix m = fieldsOf(vm, a.thisObject());
    Object* p = a.at(0).asObject();
    double x = number(vm, p, "x"), y = number(vm, p, "y");
    return newGeom(vm, "Point", {m.a * x + m.c * y + m.tx, m.b * x + m.d * y + m.ty});
}
Value matrixDeltaTransformPoint(Vm& vm, CallArgs& a) {
    Matrix m = fieldsOf(vm, a.thisObject());
    Object* p = a.at(0).asObject();
    double x = number(vm, p, "x"), y = number(vm, p, "y");
    return newGeom(vm, "Point", {m.a * x + m.c * y, m.b * x + m.d * y});
}

// ---- ColorTransform --------------------------------------------------------------------------

const std::array<double ColorTransform::*, 8> kColorTransformFields = {
    &ColorTransform::rMult, &ColorTransform::gMult, &ColorTransform::bMult, &ColorTransform::aMult,
    &ColorTransform::rAdd,  &ColorTransform::gAdd,  &ColorTransform::bAdd,  &ColorTransform::aAdd};
const char* const kColorTransformNames[8] = {"redMultiplier", "greenMultiplier", "blueMultiplier",
                                             "alphaMultiplier", "redOffset", "greenOffset",
                                             "blueOffset", "alphaOffset"};

ColorTransformNative* colorTransformOf(const Value& v) {
    Object* o = v.asObject();
    return o ? o->nativeAs<ColorTransformNative>() : nullptr;
}

// All eight numbers, or none: fewer arguments give the identity.
Value colorTransformCtor(Vm& vm, CallArgs& a) {
    Object* o = newInstance(vm, a);
    ColorTransform c;
    if (a.size() >= 8)
        for (size_t i = 0; i < 8; ++i) c.*kColorTransformFields[i] = vm.toNumber(a.at(i));
    o->nativeOrMake<ColorTransformNative>()->c = c;
    return Value(o);
}
template <size_t I>
Value colorTransformField(Vm&, CallArgs& a) {
    auto* n = colorTransformOf(a.thisv);
    return n ? Value(n->c.*kColorTransformFields[I]) : Value();
}
template <size_t I>
Value colorTransformSetField(Vm& vm, CallArgs& a) {
    if (auto* n = colorTransformOf(a.thisv)) n->c.*kColorTransformFields[I] = vm.toNumber(a.at(0));
    return Value();
}
Value colorTransformToString(Vm& vm, CallArgs& a) {
    return describe(vm, a,
                    {{"redMultiplier", "redMultiplier"}, {"greenMultiplier", "greenMultiplier"},
                     {"blueMultiplier", "blueMultiplier"}, {"alphaMultiplier", "alphaMultiplier"},
                     {"redOffset", "redOffset"}, {"greenOffset", "greenOffset"}, {"blueOffset", "blueOffset"},
                     {"alphaOffset", "alphaOffset"}});
}
Value colorTransformRgb(Vm& vm, CallArgs& a) {
    auto* n = colorTransformOf(a.thisv);
    if (!n) return Value();
    auto part = [&](double v) { return vm.toUint32(Value(v)) & 255; };
    return Value(double((part(n->c.rAdd) << 16) | (part(n->c.gAdd) << 8) | part(n->c.bAdd)));
}
Value colorTransformSetRgb(Vm& vm, CallArgs& a) {
    auto* n = colorTransformOf(a.thisv);
    if (!n) return Value();
    uint32_t rgb = vm.toUint32(a.at(0));
    n->c.rAdd = (rgb >> 16) & 255;
    n->c.gAdd = (rgb >> 8) & 255;
    n->c.bAdd = rgb & 255;
    n->c.rMult = n->c.gMult = n->c.bMult = 0;
    return Value();
}
Value colorTransformConcat(Vm& vm, CallArgs& a) {
    auto* n = colorTransformOf(a.thisv);
    Object* other = a.at(0).asObject();
    if (!n || !other) return Value();
    n->c = n->c * gfx::colorTransformFrom(vm, other);
    return Value();
}

// ---- Transform -----------------------------------------------------------------------------

DisplayObject* transformTarget(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return nullptr;
    auto* c = dynamic_cast<DisplayClip*>(vm.getMember(Value(self), QStringLiteral("__target")).asObject());
    return c ? c->object() : nullptr;
}

Value transformCtor(Vm& vm, CallArgs& a) {
    Object* o = newInstance(vm, a);
    vm.defineValue(o, QStringLiteral("__target"), a.at(0), kHidden);
    return Value(o);
}
Value transformMatrix(Vm& vm, CallArgs& a) {
    DisplayObject* d = transformTarget(vm, a);
    return d ? gfx::matrixValue(vm, d->matrix()) : Value();
}
Value transformSetMatrix(Vm& vm, CallArgs& a) {
    DisplayObject* d = transformTarget(vm, a);
    Object* m = a.at(0).asObject();
    if (!d || !m) return Value();
    Matrix mx = gfx::matrixFrom(vm, m);
    for (double v : {mx.a, mx.b, mx.c, mx.d, mx.tx, mx.ty})
        if (!std::isfinite(v)) return Value();
    d->setMatrix(mx);
    d->lockTransform();
    return Value();
}
Value transformConcatenatedMatrix(Vm& vm, CallArgs& a) {
    DisplayObject* d = transformTarget(vm, a);
    return d ? gfx::matrixValue(vm, gfx::worldMatrixOf(*d)) : Value();
}
Value transformColorTransform(Vm& vm, CallArgs& a) {
    DisplayObject* d = transformTarget(vm, a);
    return d ? gfx::colorTransformValue(vm, d->colorTransform()) : Value();
}
Value transformSetColorTransform(Vm& vm, CallArgs& a) {
    DisplayObject* d = transformTarget(vm, a);
    Object* ct = a.at(0).asObject();
    if (!d || !ct) return Value();
    ColorTransform c = gfx::colorTransformFrom(vm, ct);
    for (double* v : {&c.rMult, &c.gMult, &c.bMult, &c.aMult, &c.rAdd, &c.gAdd, &c.bAdd, &c.aAdd})
        if (!std::isfinite(*v)) *v = 0;
    d->setColorTransform(c);
    return Value();
}
Value transformConcatenatedColorTransform(Vm& vm, CallArgs& a) {
    DisplayObject* d = transformTarget(vm, a);
    if (!d) return Value();
    ColorTransform c = d->colorTransform();
    for (MovieClip* p = d->parent(); p; p = p->parent()) c = p->colorTransform() * c;
    return gfx::colorTransformValue(vm, c);
}
Value transformPixelBounds(Vm& vm, CallArgs& a) {
    DisplayObject* d = transformTarget(vm, a);
    if (!d) return Value();
    Rect r = transformRect(gfx::worldMatrixOf(*d), d->localBounds());
    double x0 = std::floor(r.xMin / 20.0), y0 = std::floor(r.yMin / 20.0);
    return rectValue(vm, {x0, y0, std::ceil(r.xMax / 20.0) - x0, std::ceil(r.yMax / 20.0) - y0});
}

Value clipTransform(Vm& vm, CallArgs& a) {
    if (!dynamic_cast<DisplayClip*>(a.thisObject())) return Value();
    Value arg = a.thisv;
    return vm.construct(gfx::classOf(vm, "flash.geom", "Transform"), std::span<const Value>(&arg, 1));
}
// Assigning a Transform copies its matrix and colour transform onto the clip.
Value clipSetTransform(Vm& vm, CallArgs& a) {
    auto* self = dynamic_cast<DisplayClip*>(a.thisObject());
    Object* t = a.at(0).asObject();
    if (!self || !self->object() || !t) return Value();
    Value matrix = vm.getMember(Value(t), QStringLiteral("matrix"));
    Value cx = vm.getMember(Value(t), QStringLiteral("colorTransform"));
    Object* holder = vm.newObject();
    vm.defineValue(holder, QStringLiteral("__target"), Value(static_cast<Object*>(self)), kHidden);
    if (matrix.asObject()) {
        CallArgs m{Value(holder), std::span<const Value>(&matrix, 1), nullptr};
        transformSetMatrix(vm, m);
    }
    if (cx.asObject()) {
        CallArgs c{Value(holder), std::span<const Value>(&cx, 1), nullptr};
        transformSetColorTransform(vm, c);
    }
    return Value();
}

Object* defineGeomClass(Vm& vm, Object* pkg, const char* name, NativeFn ctor,
                        std::initializer_list<std::pair<const char*, NativeFn>> methods) {
    Object* proto = vm.newObject(vm.objectProto);
    FunctionObject* f = vm.newNative(ctor, proto);
    f->constructor = ctor;
    vm.defineValue(proto, QStringLiteral("constructor"), Value(static_cast<Object*>(f)), kHidden);
    vm.defineValue(pkg, QString::fromLatin1(name), Value(static_cast<Object*>(f)), kDontEnum);
    for (auto [n, fn] : methods) vm.defineMethod(proto, QString::fromLatin1(n), fn);
    return proto;
}

} // namespace

void installGeom(Vm& vm) {
    Object* geom = gfx::package(vm, QStringLiteral("flash.geom"));

    defineGeomClass(vm, geom, "Point", pointCtor,
                    {{"toString", pointToString}, {"clone", pointClone}, {"add", pointAdd},
                     {"subtract", pointSubtract}, {"equals", pointEquals}, {"normalize", pointNormalize},
                     {"offset", pointOffset}});
    Object* pointProto = vm.getMember(gfx::classOf(vm, "flash.geom", "Point"), QStringLiteral("prototype")).asObject();
    addAccessor(vm, pointProto, "length", pointLength, nullptr);
    Object* pointClass = gfx::classOf(vm, "flash.geom", "Point").asObject();
    vm.defineMethod(pointClass, QStringLiteral("distance"), pointDistance);
    vm.defineMethod(pointClass, QStringLiteral("interpolate"), pointInterpolate);
    vm.defineMethod(pointClass, QStringLiteral("polar"), pointPolar);

    Object* rect = defineGeomClass(
        vm, geom, "Rectangle", rectCtor,
        {{"toString", rectToString}, {"clone", rectClone}, {"isEmpty", rectIsEmpty}, {"setEmpty", rectSetEmpty},
         {"contains", rectContains}, {"containsPoint", rectContainsPoint}, {"containsRectangle", rectContainsRect},
         {"equals", rectEquals}, {"inflate", rectInflate}, {"inflatePoint", rectInflatePoint},
         {"offset", rectOffset}, {"offsetPoint", rectOffsetPoint}, {"intersection", rectIntersection},
         {"intersects", rectIntersects}, {"union", rectUnion}});
    addAccessor(vm, rect, "left", rectLeft, rectSetLeft);
    addAccessor(vm, rect, "top", rectTop, rectSetTop);
    addAccessor(vm, rect, "right", rectRight, rectSetRight);
    addAccessor(vm, rect, "bottom", rectBottom, rectSetBottom);
    addAccessor(vm, rect, "size", rectSize, rectSetSize);
    addAccessor(vm, rect, "topLeft", rectTopLeft, rectSetTopLeft);
    addAccessor(vm, rect, "bottomRight", rectBottomRight, rectSetBottomRight);

    defineGeomClass(vm, geom, "Matrix", matrixCtor,
                    {{"toString", matrixToString}, {"clone", matrixClone}, {"identity", matrixIdentity},
                     {"concat", matrixConcat}, {"invert", matrixInvert}, {"rotate", matrixRotate},
                     {"scale", matrixScale}, {"translate", matrixTranslate}, {"createBox", matrixCreateBox},
                     {"createGradientBox", matrixCreateGradientBox}, {"transformPoint", matrixTransformPoint},
                     {"deltaTransformPoint", matrixDeltaTransformPoint}});

    Object* ct = defineGeomClass(vm, geom, "ColorTransform", colorTransformCtor,
                                 {{"toString", colorTransformToString}, {"concat", colorTransformConcat}});
    const NativeFn getters[8] = {colorTransformField<0>, colorTransformField<1>, colorTransformField<2>,
                                 colorTransformField<3>, colorTransformField<4>, colorTransformField<5>,
                                 colorTransformField<6>, colorTransformField<7>};
    const NativeFn setters[8] = {colorTransformSetField<0>, colorTransformSetField<1>, colorTransformSetField<2>,
                                 colorTransformSetField<3>, colorTransformSetField<4>, colorTransformSetField<5>,
                                 colorTransformSetField<6>, colorTransformSetField<7>};
    for (size_t i = 0; i < 8; ++i) addAccessor(vm, ct, kColorTransformNames[i], getters[i], setters[i], kVersion8);
    addAccessor(vm, ct, "rgb", colorTransformRgb, colorTransformSetRgb, kVersion8);

    Object* transform = defineGeomClass(vm, geom, "Transform", transformCtor, {});
    addAccessor(vm, transform, "matrix", transformMatrix, transformSetMatrix);
    addAccessor(vm, transform, "concatenatedMatrix", transformConcatenatedMatrix, nullptr);
    addAccessor(vm, transform, "colorTransform", transformColorTransform, transformSetColorTransform);
    addAccessor(vm, transform, "concatenatedColorTransform", transformConcatenatedColorTransform, nullptr);
    addAccessor(vm, transform, "pixelBounds", transformPixelBounds, nullptr);

    // MovieClip.transform, from movies of version 8 on.
    Property& p = vm.clipProto->define(vm.key(QStringLiteral("transform")), QStringLiteral("transform"), Value(),
                                       kHidden | kVersion8);
    p.getter = vm.newNative(clipTransform);
    p.setter = vm.newNative(clipSetTransform);
}

} // namespace swf::avm1::builtins
