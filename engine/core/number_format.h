#pragma once
// Numbers printed as ActionScript prints them. ActionScript 3 follows
// ECMAScript (the shortest digits that read back to the same double);
// ActionScript 1/2 prints 15 significant digits in printf's layout.
#include <string>

namespace swf {

// ECMAScript's ToString(Number): 0.1+0.2 is "0.30000000000000004", 1e21 is "1e+21".
std::string numberToString(double v);
// ActionScript 1/2: 15 significant digits, integers below 1e15 in full, and
// exponents without leading zeros ("1e-7", "1.5e+21").
std::string numberToStringAvm1(double v);

// Number.prototype.toString(radix), 2..36 (callers check the range): every
// digit of the whole part, with no fraction (0.5 in base 2 is "0").
std::string numberToStringRadix(double v, int radix);
// ActionScript 1/2's toString(radix): the integer part only.
std::string numberToStringRadixAvm1(double v, int radix);

// Number.prototype.toFixed, toExponential and toPrecision, exactly rounded
// (a tie takes the larger digits). A digit count outside the allowed range
// (toFixed and toExponential 0..20, toPrecision 1..21) gives errorId 1002,
// Flash's RangeError; toExponential without a digit count passes -1.
struct FormattedNumber {
    std::string text;
    int errorId = 0;
};
FormattedNumber numberToFixed(double v, int fractionDigits);
FormattedNumber numberToExponential(double v, int fractionDigits);
FormattedNumber numberToPrecision(double v, int precision);

} // namespace swf
