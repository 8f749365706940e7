#pragma once
// An ActionScript 3 value. int, uint and Number share one representation
// (a double holds every int and uint exactly); the class a number reports
// follows from its value, as the Flash player's does for literals.
#include <QString>

#include <cmath>
#include <cstdint>

namespace swf::avm2 {

class Object;

struct Value {
    enum class Kind : uint8_t { Undefined, Null, Boolean, Number, String, Object };
    Kind kind = Kind::Undefined;
    bool b = false;
    double d = 0;
    QString s;
    Object* o = nullptr;

    Value() = default;
    static Value null() { Value v; v.kind = Kind::Null; return v; }
    static Value boolean(bool x) { Value v; v.kind = Kind::Boolean; v.b = x; return v; }
    static Value number(double x) { Value v; v.kind = Kind::Number; v.d = x; return v; }
    static Value string(QString x) { Value v; v.kind = Kind::String; v.s = std::move(x); return v; }
    static Value object(Object* x) { if (!x) return null(); Value v; v.kind = Kind::Object; v.o = x; return v; }

    // An array element never set, or deleted: it reads as undefined but is not
    // in the array, so `in`, for-in and the prototype chain see past it.
    static Value hole() { Value v; v.b = true; return v; }
    bool isHole() const { return kind == Kind::Undefined && b; }
    // The value as a script sees it: a hole is plain undefined.
    Value read() const { return isHole() ? Value() : *this; }

    bool isUndefined() const { return kind == Kind::Undefined; }
    bool isNull() const { return kind == Kind::Null; }
    bool isNullish() const { return kind == Kind::Undefined || kind == Kind::Null; }
    bool isNumber() const { return kind == Kind::Number; }
    bool isString() const { return kind == Kind::String; }
    bool isBoolean() const { return kind == Kind::Boolean; }
    bool isObject() const { return kind == Kind::Object; }
    bool isInt() const { return kind == Kind::Number && d == std::trunc(d) && d >= -2147483648.0 && d <= 2147483647.0 && !(d == 0 && std::signbit(d)); }
    bool isUint() const { return kind == Kind::Number && d == std::trunc(d) && d >= 0 && d <= 4294967295.0 && !(d == 0 && std::signbit(d)); }
};

// ECMA-262 ToInt32 / ToUint32 on a number.
inline int32_t toInt32(double d) {
    if (!std::isfinite(d)) return 0;
    double m = std::fmod(std::trunc(d), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return int32_t(uint32_t(m));
}
inline uint32_t toUint32(double d) { return uint32_t(toInt32(d)); }

// ECMA-262 9.8.1: the shortest decimal that reads back as the same double.
QString numberToString(double d);
// ECMA-262 9.3.1 on a string (hex, Infinity, surrounding white space).
double stringToNumber(const QString& s);

} // namespace swf::avm2
