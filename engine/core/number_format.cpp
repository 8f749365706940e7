#include "engine/core/number_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace swf {

namespace {

// A positive finite double as decimal digits d1 d2 ... and the exponent of
// d1 (value = 0.d1d2... * 10^(pointPos)).
struct Decimal {
    std::string digits;
    int point = 0; // digits before the decimal point (may be <= 0)
};

// Digits and exponent of printf-style scientific text ("1.25e+02"),
// trailing zeros dropped.
Decimal fromScientific(std::string_view s) {
    const size_t e = s.find('e');
    Decimal d;
    for (size_t i = 0; i < e; ++i)
        if (s[i] != '.') d.digits += s[i];
    d.point = std::atoi(s.data() + e + 1) + 1;
    while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

// The shortest digits that round-trip.
Decimal shortestDigits(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf - 1, v, std::chars_format::scientific);
    *r.ptr = 0;
    return fromScientific(buf);
}

// Every digit of the double's exact decimal value (a double has at most
// 767 significant decimal digits).
Decimal exactDigits(double v) {
    static thread_local char buf[1200];
    std::snprintf(buf, sizeof buf, "%.800e", v);
    return fromScientific(buf);
}

// Keeps `count` leading digits (count may be 0 or negative: everything
// rounds at that place), rounding half up; the result has exactly
// max(count, 0) digits, or one more place when rounding carried.
Decimal roundTo(Decimal d, int count) {
    Decimal out;
    out.point = d.point;
    if (count < 0) { out.digits.clear(); return out; }
    const bool up = size_t(count) < d.digits.size() && d.digits[size_t(count)] >= '5';
    out.digits = d.digits.substr(0, std::min(size_t(count), d.digits.size()));
    out.digits.resize(size_t(count), '0');
    if (up) {
        int i = count - 1;
        while (i >= 0 && out.digits[size_t(i)] == '9') out.digits[size_t(i--)] = '0';
        if (i >= 0) {
            ++out.digits[size_t(i)];
        } else {
            out.digits.insert(out.digits.begin(), '1');
            ++out.point;
            if (count > 0) out.digits.pop_back(); // keep the digit count
            else ++count;
        }
    }
    return out;
}

std::string exponentSuffix(int e) { return std::string(e < 0 ? "e-" : "e+") + std::to_string(std::abs(e)); }

// Digits in exponential layout: d.ddd e+x.
// d.ddd, the digits with the point after the first.
std::string mantissa(const Decimal& d) {
    std::string s(1, d.digits[0]);
    if (d.digits.size() > 1) s += "." + d.digits.substr(1);
    return s;
}
std::string exponential(const Decimal& d) { return mantissa(d) + exponentSuffix(d.point - 1); }

std::string nonFinite(double v) {
    if (std::isnan(v)) return "NaN";
    return v > 0 ? "Infinity" : "-Infinity";
}

char digitChar(int d) { return char(d < 10 ? '0' + d : 'a' + d - 10); }

} // namespace

std::string numberToString(double v) {
    if (!std::isfinite(v)) return nonFinite(v);
    if (v == 0) return "0";
    const std::string sign = v < 0 ? "-" : "";
    const Decimal d = shortestDigits(std::fabs(v));
    const int k = int(d.digits.size()), n = d.point;
    if (k <= n && n <= 21) return sign + d.digits + std::string(size_t(n - k), '0');
    if (0 < n && n <= 21) return sign + d.digits.substr(0, size_t(n)) + "." + d.digits.substr(size_t(n));
    if (-6 < n && n <= 0) return sign + "0." + std::string(size_t(-n), '0') + d.digits;
    return sign + exponential(d);
}

std::string numberToStringAvm1(double v) {
    if (!std::isfinite(v)) return nonFinite(v);
    if (v == 0) return "0";
    if (std::fabs(v) < 1e15 && v == std::trunc(v)) return std::to_string(int64_t(v));
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    std::string s(buf);
    const size_t e = s.find('e');
    if (e != std::string::npos) {
        // Flash writes exponents without leading zeros: 1e-7, 1.5e+21.
        size_t digits = e + 2;
        while (digits < s.size() - 1 && s[digits] == '0') s.erase(digits, 1);
    }
    return s;
}

std::string numberToStringRadixAvm1(double v, int radix) {
    if (radix == 10 || radix < 2 || radix > 36 || !std::isfinite(v)) return numberToStringAvm1(v);
    const int64_t i = int64_t(v);
    uint64_t u = i < 0 ? uint64_t(0) - uint64_t(i) : uint64_t(i);
    std::string out;
    do {
        out.insert(out.begin(), digitChar(int(u % uint64_t(radix))));
        u /= uint64_t(radix);
    } while (u);
    return i < 0 ? "-" + out : out;
}

std::string numberToStringRadix(double v, int radix) {
    if (radix == 10 || !std::isfinite(v)) return numberToString(v);
    // The whole part only, every digit of it, signed when it is not zero.
    double whole = std::trunc(std::fabs(v));
    const bool negative = v < 0 && whole > 0;
    std::string intPart;
    do {
        const double q = std::floor(whole / radix);
        intPart.insert(intPart.begin(), digitChar(int(whole - q * radix)));
        whole = q;
    } while (whole > 0);
    return (negative ? "-" : "") + intPart;
}

FormattedNumber numberToFixed(double v, int f) {
    if (f < 0 || f > 20) return {{}, 1002};
    if (!std::isfinite(v)) return {nonFinite(v)};
    if (std::fabs(v) >= 1e21) return {numberToString(v)};
    const std::string sign = v < 0 ? "-" : "";
    std::string digits;
    int point = 1;
    if (v != 0) {
        const Decimal exact = exactDigits(std::fabs(v));
        const Decimal d = roundTo(exact, exact.point + f);
        digits = d.digits;
        point = d.point;
    }
    // digits stand for 0.digits * 10^point, with f places after the point.
    const int intDigits = point;
    std::string all = intDigits < 0 ? std::string(size_t(-intDigits), '0') + digits : digits;
    const int intCount = std::max(intDigits, 0);
    all.resize(size_t(intCount + f), '0');
    std::string intPart = intCount ? all.substr(0, size_t(intCount)) : "0";
    std::string out = intPart;
    if (f > 0) out += "." + all.substr(size_t(intCount), size_t(f));
    return {sign + out};
}

FormattedNumber numberToExponential(double v, int f) {
    if (f < -1 || f > 20) return {{}, 1002};
    if (!std::isfinite(v)) return {nonFinite(v)};
    const std::string sign = v < 0 ? "-" : "";
    Decimal d;
    if (v == 0) {
        d.digits = std::string(size_t(std::max(f, 0) + 1), '0');
        d.point = 1;
    } else {
        d = f < 0 ? shortestDigits(std::fabs(v)) : roundTo(exactDigits(std::fabs(v)), f + 1);
    }
    // The player leaves out an exponent of zero: 1.5.toExponential(1) is "1.5".
    return {sign + (d.point == 1 ? mantissa(d) : exponential(d))};
}

FormattedNumber numberToPrecision(double v, int p) {
    if (p < 1 || p > 21) return {{}, 1002};
    if (!std::isfinite(v)) return {nonFinite(v)};
    const std::string sign = v < 0 ? "-" : "";
    Decimal d;
    if (v == 0) {
        d.digits = std::string(size_t(p), '0');
        d.point = 1;
    } else {
        d = roundTo(exactDigits(std::fabs(v)), p);
    }
    const int e = d.point - 1;
    if (e < -6 || e >= p) return {sign + exponential(d)};
    if (e >= 0) {
        std::string out = d.digits.substr(0, size_t(e + 1));
        if (p > e + 1) out += "." + d.digits.substr(size_t(e + 1));
        return {sign + out};
    }
    return {sign + "0." + std::string(size_t(-e - 1), '0') + d.digits};
}

} // namespace swf
