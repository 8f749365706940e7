// The typing operations: conversions, coercion to the core types, `is`
// and `as`, equality and typeof, each as a table of the rule's cases.
#include "engine/avm2/vm.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace swf::avm2;

Value num(double d) { return Value::number(d); }
Value str(const char* s) { return Value::string(QString::fromUtf8(s)); }

class Typing : public testing::Test {
protected:
    Vm vm{[](const QString&) {}};
};

TEST_F(Typing, NumberToStringIsTheShortestRoundTripUpTo15DigitsInExponentForm) {
    const std::pair<double, const char*> cases[] = {
        {0, "0"}, {-0.0, "0"}, {1, "1"}, {-1.5, "-1.5"}, {0.1 + 0.2, "0.30000000000000004"}, {1e21, "1e+21"},
        {123456789012345680000.0, "123456789012345680000"}, {1e-7, "1e-7"}, {0.000001, "0.000001"},
        {1.7976931348623157e308, "1.79769313486231e+308"}, {1.2315987654321987e21, "1.23159876543219e+21"}, {NAN, "NaN"}, {INFINITY, "Infinity"},
        {-INFINITY, "-Infinity"}, {4294967296.0, "4294967296"}, {5e-324, "5e-324"},
    };
    for (const auto& [d, text] : cases) EXPECT_EQ(numberToString(d), QString::fromLatin1(text)) << text;
}

TEST_F(Typing, StringToNumberFollowsTheStringNumericLiteral) {
    const std::pair<const char*, double> cases[] = {
        {"", 0}, {"  12  ", 12}, {"0x1F", 31}, {"-0x10", -16}, {"1e3", 1000}, {".5", 0.5}, {"5.", 5},
        {"Infinity", INFINITY}, {"-Infinity", -INFINITY}, {"\t\n 7", 7},
    };
    for (const auto& [text, d] : cases) EXPECT_EQ(stringToNumber(QString::fromUtf8(text)), d) << text;
    for (const char* bad : {"abc", "1e", "12px", "0x", "--1", "infinity", "1 2"})
        EXPECT_TRUE(std::isnan(stringToNumber(QString::fromUtf8(bad)))) << bad;
}

TEST_F(Typing, Int32AndUint32Wrap) {
    const std::tuple<double, int32_t, uint32_t> cases[] = {
        {0, 0, 0}, {-1, -1, 4294967295u}, {2147483648.0, -2147483647 - 1, 2147483648u}, {4294967296.0, 0, 0},
        {-2.7, -2, 4294967294u}, {NAN, 0, 0}, {INFINITY, 0, 0}, {1e20, 1661992960, 1661992960u},
    };
    for (const auto& [d, i, u] : cases) {
        EXPECT_EQ(toInt32(d), i) << d;
        EXPECT_EQ(toUint32(d), u) << d;
    }
}

TEST_F(Typing, CoercionToTheCoreTypes) {
    struct Case { Value in; const char* type; Value out; };
    const Case cases[] = {
        {str("3.7"), "int", num(3)}, {num(-1), "uint", num(4294967295.0)}, {Value(), "Number", num(NAN)},
        {Value::null(), "Number", num(0)}, {str(""), "Boolean", Value::boolean(false)},
        {num(0.5), "Boolean", Value::boolean(true)}, {Value(), "String", Value::null()},
        {num(12), "String", str("12")}, {Value(), "Object", Value::null()}, {Value::boolean(true), "int", num(1)},
    };
    for (const Case& c : cases) {
        Value r = vm.coerceTo(c.in, vm.builtin(c.type));
        EXPECT_EQ(int(r.kind), int(c.out.kind)) << c.type;
        if (c.out.isNumber() && std::isnan(c.out.d)) EXPECT_TRUE(std::isnan(r.d)) << c.type;
        else EXPECT_TRUE(vm.strictEquals(r, c.out)) << c.type << " gave " << vm.toString(r).toStdString();
    }
}

TEST_F(Typing, FailedCoercionIsTypeError1034) {
    Value array = Value::object(vm.newArray());
    try {
        vm.coerceTo(array, vm.builtin("Date"));
        ADD_FAILURE() << "an Array coerced to Date";
    } catch (const ScriptThrow& t) {
        EXPECT_EQ(vm.classOf(t.value)->name, QStringLiteral("TypeError"));
        EXPECT_EQ(vm.toNumber(vm.getPublic(t.value, QStringLiteral("errorID"))), 1034);
        EXPECT_TRUE(vm.toString(t.value).startsWith(QStringLiteral("TypeError: Error #1034: Type Coercion failed: cannot convert ")));
    }
}

TEST_F(Typing, IsChecksNumbersByValueAndObjectsByClass) {
    struct Case { Value v; const char* type; bool is; };
    const Case cases[] = {
        {num(5), "int", true}, {num(5), "uint", true}, {num(-5), "uint", false}, {num(5.5), "int", false},
        {num(-0.0), "int", false}, {num(5.5), "Number", true}, {num(3e9), "uint", true}, {num(3e9), "int", false},
        {str("x"), "String", true}, {str("x"), "Object", true}, {Value::null(), "Object", false},
        {Value(), "Object", false}, {Value::boolean(false), "Boolean", true},
        {Value::object(vm.newArray()), "Array", true}, {Value::object(vm.newArray()), "Object", true},
        {Value::object(vm.newObject()), "Array", false},
    };
    for (const Case& c : cases) EXPECT_EQ(vm.isInstanceOf(c.v, vm.builtin(c.type)), c.is) << c.type << " " << vm.toString(c.v).toStdString();
}

TEST_F(Typing, EqualityFollowsTheAbstractAndStrictAlgorithms) {
    struct Case { Value a, b; bool loose, strict; };
    const Case cases[] = {
        {num(1), str("1"), true, false}, {Value(), Value::null(), true, false}, {num(NAN), num(NAN), false, false},
        {Value::boolean(true), num(1), true, false}, {str("a"), str("a"), true, true}, {num(0), num(-0.0), true, true},
        {Value::null(), num(0), false, false}, {str(""), num(0), true, false}, {Value(), Value(), true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vm.looseEquals(c.a, c.b), c.loose) << vm.toString(c.a).toStdString() << " == " << vm.toString(c.b).toStdString();
        EXPECT_EQ(vm.strictEquals(c.a, c.b), c.strict) << vm.toString(c.a).toStdString() << " === " << vm.toString(c.b).toStdString();
    }
}

TEST_F(Typing, TypeofNamesEveryKind) {
    const std::pair<Value, const char*> cases[] = {
        {Value(), "undefined"}, {Value::null(), "object"}, {Value::boolean(true), "boolean"}, {num(1), "number"},
        {str("s"), "string"}, {Value::object(vm.newObject()), "object"},
        {Value::object(vm.newNative(QStringLiteral("f"), [](Vm&, const Value&, Args) { return Value(); }, 0)), "function"},
    };
    for (const auto& [v, name] : cases) EXPECT_EQ(vm.typeOf(v), QString::fromLatin1(name));
}

TEST_F(Typing, AdditionConcatenatesWhenEitherSideIsAString) {
    EXPECT_TRUE(vm.strictEquals(vm.add(num(1), num(2)), num(3)));
    EXPECT_TRUE(vm.strictEquals(vm.add(num(1), str("2")), str("12")));
    EXPECT_TRUE(vm.strictEquals(vm.add(Value(), num(1)), num(NAN)) == false); // NaN is never equal
    EXPECT_TRUE(std::isnan(vm.add(Value(), num(1)).d));
    EXPECT_TRUE(vm.strictEquals(vm.add(Value::null(), str("x")), str("nullx")));
    EXPECT_TRUE(vm.strictEquals(vm.add(Value::boolean(true), num(1)), num(2)));
}

} // namespace
