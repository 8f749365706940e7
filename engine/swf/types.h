#pragma once
// Basic value types of the SWF format: twips geometry, colours, matrices and
// colour transforms. Coordinates are in twips (1/20 pixel) unless a name says
// otherwise.
#include <cstdint>

namespace swf {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

struct Point {
    double x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

struct Rect {
    int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    int32_t width() const { return xMax - xMin; }
    int32_t height() const { return yMax - yMin; }
    bool empty() const { return xMax <= xMin || yMax <= yMin; }
    bool operator==(const Rect&) const = default;
};

// x' = a*x + c*y + tx ; y' = b*x + d*y + ty (tx, ty in twips).
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    Point map(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    // this * other: apply other first, then this.
    Matrix operator*(const Matrix& o) const {
        return {a * o.a + c * o.b, b * o.a + d * o.b, a * o.c + c * o.d, b * o.c + d * o.d,
                a * o.tx + c * o.ty + tx, b * o.tx + d * o.ty + ty};
    }
    bool operator==(const Matrix&) const = default;
};

// Per channel: out = in * mult + add; multipliers are fractions (1.0 = 256/256),
// additions are in 0..255 units.
struct ColorTransform {
    double rMult = 1, gMult = 1, bMult = 1, aMult = 1;
    double rAdd = 0, gAdd = 0, bAdd = 0, aAdd = 0;
    bool isIdentity() const {
        return rMult == 1 && gMult == 1 && bMult == 1 && aMult == 1 && rAdd == 0 && gAdd == 0 &&
               bAdd == 0 && aAdd == 0;
    }
    // this after other (other applied first).
    ColorTransform operator*(const ColorTransform& o) const {
        return {rMult * o.rMult, gMult * o.gMult, bMult * o.bMult, aMult * o.aMult,
                rMult * o.rAdd + rAdd, gMult * o.gAdd + gAdd, bMult * o.bAdd + bAdd,
                aMult * o.aAdd + aAdd};
    }
    bool operator==(const ColorTransform&) const = default;
};

enum class BlendMode : uint8_t {
    Normal = 0, Layer = 2, Multiply, Screen, Lighten, Darken, Difference, Add, Subtract,
    Invert, Alpha, Erase, Overlay, Hardlight
};

} // namespace swf
