#include "engine/core/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace swf;

namespace {

TEST(NumberFormat, ToStringShortestRoundTrip) {
    struct { double v; const char* as3; const char* avm1; } cases[] = {
        {0.1 + 0.2, "0.30000000000000004", "0.3"},
        {123.456, "123.456", "123.456"},
        {1e21, "1e+21", "1e+21"},
        {1e20, "100000000000000000000", "1e+20"},
        {123456789012345680000.0, "123456789012345680000", "1.23456789012346e+20"},
        {1e15, "1000000000000000", "1e+15"},
        {123456789012345.0, "123456789012345", "123456789012345"},
        {0.000001, "0.000001", "1e-6"},
        {1e-7, "1e-7", "1e-7"},
        {-1.5e-10, "-1.5e-10", "-1.5e-10"},
        {5e-324, "5e-324", "4.94065645841247e-324"},
        {1.7976931348623157e308, "1.7976931348623157e+308", "1.79769313486232e+308"},
        {-0.0, "0", "0"},
        {std::nan(""), "NaN", "NaN"},
        {-INFINITY, "-Infinity", "-Infinity"},
        {-42, "-42", "-42"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(numberToString(c.v), c.as3) << c.as3;
        EXPECT_EQ(numberToStringAvm1(c.v), c.avm1) << c.avm1;
        // Shortest digits read back to the same double.
        if (std::isfinite(c.v)) {
            EXPECT_EQ(std::strtod(numberToString(c.v).c_str(), nullptr), c.v) << c.as3;
        }
    }
}

TEST(NumberFormat, RadixPrintsTheWholePart) {
    struct { double v; int radix; const char* as3; const char* avm1; } cases[] = {
        {255, 16, "ff", "ff"},
        {-255, 2, "-11111111", "-11111111"},
        {0.5, 2, "0", "0"},
        {-0.5, 2, "0", "0"},
        {255.5, 16, "ff", "ff"},
        {3.75, 2, "11", "11"},
        {-35.25, 36, "-z", "-z"},
        {5e-324, 36, "0", "0"},
        {1e21, 16, "3635c9adc5dea00000", "7fffffffffffffff"},
        {NAN, 2, "NaN", "NaN"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(numberToStringRadix(c.v, c.radix), c.as3) << c.as3;
        if (std::fabs(c.v) < 1e18 || std::isnan(c.v)) {
            EXPECT_EQ(numberToStringRadixAvm1(c.v, c.radix), c.avm1) << c.avm1;
        }
    }
}

enum class Op { Fixed, Exponential, Precision };

TEST(NumberFormat, FixedExponentialPrecision) {
    struct { Op op; double v; int digits; const char* text; } cases[] = {
        {Op::Fixed, 1.005, 2, "1.00"},   // 1.005 is a little below 1.005
        {Op::Fixed, 0.5, 0, "1"},        // a tie takes the larger
        {Op::Fixed, 2.5, 0, "3"},
        {Op::Fixed, -1.5, 0, "-2"},
        {Op::Fixed, 1.45, 1, "1.4"},
        {Op::Fixed, 0.005, 2, "0.01"},
        {Op::Fixed, 0, 2, "0.00"},
        {Op::Fixed, -0.0001, 2, "-0.00"},
        {Op::Fixed, 123.456, 10, "123.4560000000"},
        {Op::Fixed, 1e20, 2, "100000000000000000000.00"},
        {Op::Fixed, 1e21, 2, "1e+21"},
        {Op::Fixed, 0.000001, 20, "0.00000100000000000000"},
        {Op::Exponential, 123456, 2, "1.23e+5"},
        {Op::Exponential, 0, -1, "0"},
        {Op::Exponential, 0, 2, "0.00"},
        {Op::Exponential, 123.456, -1, "1.23456e+2"},
        {Op::Exponential, -1e-7, 3, "-1.000e-7"},
        {Op::Exponential, 9.99, 1, "1.0e+1"},
        {Op::Exponential, -1, 20, "-1.00000000000000000000"},
        {Op::Exponential, 5, 0, "5"},
        {Op::Exponential, INFINITY, 2, "Infinity"},
        {Op::Precision, 123.456, 4, "123.5"},
        {Op::Precision, 0.00001234, 2, "0.000012"},
        {Op::Precision, 1e-7, 2, "1.0e-7"},
        {Op::Precision, 123456, 2, "1.2e+5"},
        {Op::Precision, 1, 21, "1.00000000000000000000"},
        {Op::Precision, 0, 3, "0.00"},
        {Op::Precision, 99.99, 3, "100"},
        {Op::Precision, 99.99, 2, "1.0e+2"},
        {Op::Precision, -NAN, 3, "NaN"},
        {Op::Precision, 1e21, 3, "1.00e+21"},
        {Op::Precision, -0.000123456, 3, "-0.000123"},
        {Op::Fixed, 1.23e-10, 2, "0.00"},
        {Op::Fixed, 999.995, 2, "1000.00"}, // a little above the tie, and the carry adds a digit
        {Op::Exponential, 1.45, 1, "1.4"},
        {Op::Exponential, 5e-324, 2, "4.94e-324"},
    };
    for (const auto& c : cases) {
        const FormattedNumber r = c.op == Op::Fixed ? numberToFixed(c.v, c.digits)
                                : c.op == Op::Exponential ? numberToExponential(c.v, c.digits)
                                : numberToPrecision(c.v, c.digits);
        EXPECT_EQ(r.errorId, 0) << c.text;
        EXPECT_EQ(r.text, c.text) << c.text;
    }
    // Digit counts outside Flash's ranges are RangeError #1002.
    for (int bad : {-1, 21}) EXPECT_EQ(numberToFixed(1, bad).errorId, 1002) << bad;
    for (int bad : {-2, 21}) EXPECT_EQ(numberToExponential(1, bad).errorId, 1002) << bad;
    for (int bad : {0, 22}) EXPECT_EQ(numberToPrecision(1, bad).errorId, 1002) << bad;
}

} // namespace
