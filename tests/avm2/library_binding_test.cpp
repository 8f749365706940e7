// The library pieces as AS3 classes: RegExp and String's pattern methods,
// JSON, ByteArray and XML, driven through the VM's own calls and property
// operations, each rule as a table.
#include "engine/avm2/builtins.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace swf::avm2;

class Library : public testing::Test {
protected:
    Vm vm{[](const QString&) {}};

    Value str(const char* s) { return Value::string(QString::fromUtf8(s)); }
    Value make(const char* cls, std::vector<Value> args = {}) {
        return vm.construct(Value::object(vm.builtin(cls)), args);
    }
    Value call(const Value& on, const char* method, std::vector<Value> args = {}) {
        return vm.callProperty(on, Name::publicName(QString::fromLatin1(method)), args);
    }
    Value callStatic(const char* cls, const char* method, std::vector<Value> args = {}) {
        return call(Value::object(vm.builtin(cls)), method, args);
    }
    Value regexp(const char* source, const char* flags = "") { return make("RegExp", {str(source), str(flags)}); }
    Value xmlDescendantsOf(const Value& x, const char* name) {
        return xmlDescendants(vm, x, Name::publicName(QString::fromLatin1(name)));
    }
    // How a trace would print the value (null and arrays as Flash joins them).
    QString text(const Value& v) { return v.isNull() ? QStringLiteral("null") : vm.toString(v); }
    // The errorID of the error `f` throws, or 0.
    int errorId(const std::function<void()>& f) {
        try {
            f();
        } catch (const ScriptThrow& t) {
            return vm.toInt(vm.getPublic(t.value, QStringLiteral("errorID")));
        }
        return 0;
    }
};

TEST_F(Library, StringPatternMethodsFollowEcma262) {
    struct Case { const char* subject; const char* method; Value pattern; Value with; const char* expected; };
    const Case cases[] = {
        {"a1b22c333", "split", regexp("\\d+"), Value(), "a,b,c,"},
        {"abc", "split", regexp("(b)"), Value(), "a,b,c"},
        {"abc", "split", regexp(""), Value(), "a,b,c"},
        {"a,b,c", "split", str(","), Value::number(2), "a,b"},
        {"aaa", "replace", regexp("a", "g"), str("b"), "bbb"},
        {"aaa", "replace", regexp("a"), str("b"), "baa"},
        {"abc", "replace", regexp("(b)"), str("[$1$&]"), "a[bb]c"},
        {"abc", "replace", str("b"), str("$'"), "acc"},
        {"a.b.c", "replace", str("."), str("-"), "a-b.c"},
        {"xyz", "replace", regexp("", "g"), str("-"), "-x-y-z-"},
        {"Boston, MA 02134", "match", regexp("([\\d]{5})([-\\ ]?[\\d]{4})?$", "g"), Value(), "02134"},
        {"abab", "match", regexp("a", "g"), Value(), "a,a"},
        {"abc", "match", regexp("x", "g"), Value(), "null"},
        {"abc", "match", regexp("(b)(x)?"), Value(), "b,b,"},
        {"a+b", "match", str("+"), Value(), "null"},
        {"mtchablematmatmat", "search", str("mat"), Value(), "8"},
        {"mtchablematmatmat", "search", regexp("MA*T", "ig"), Value(), "0"},
        {"mtchablematmatmat", "search", regexp("MA+T", "ig"), Value(), "8"},
        {"abc", "search", regexp("x"), Value(), "-1"},
    };
    for (const Case& c : cases) {
        std::vector<Value> args{c.pattern};
        if (!c.with.isUndefined()) args.push_back(c.with);
        Value r;
        int thrown = errorId([&] { r = call(str(c.subject), c.method, args); });
        EXPECT_EQ(thrown, 0) << c.subject << " " << c.method;
        EXPECT_EQ(text(r), QString::fromUtf8(c.expected)) << c.subject << " " << c.method << " " << c.expected;
    }
    // An empty subject splits into nothing where the pattern matches it, else into itself.
    EXPECT_EQ(vm.toInt(vm.getPublic(call(str(""), "split", {regexp("")}), QStringLiteral("length"))), 0);
    EXPECT_EQ(vm.toInt(vm.getPublic(call(str(""), "split", {regexp("x")}), QStringLiteral("length"))), 1);
    // A replacement function gets the match, the groups, the position and the subject.
    Value swap = Value::object(vm.newNative(QStringLiteral("swap"), [](Vm& vm, const Value&, Args a) {
        return Value::string(vm.toString(a[2]) + vm.toString(a[1]) + vm.toString(a[3]) + vm.toString(a[4]));
    }, 0));
    EXPECT_EQ(text(call(str("x-y"), "replace", {regexp("(\\w)-(\\w)"), swap})), QStringLiteral("yx0x-y"));
}

TEST_F(Library, RegExpFlagsSourceAndLastIndex) {
    const std::pair<const char*, const char*> flags[] = {
        {"", "/a/"}, {"ssgg", "/a/gs"}, {"sxgim", "/a/gimsx"}, {"SXGIM", "/a/"}, {"|%?-/.q", "/a/"},
    };
    for (const auto& [letters, printed] : flags) EXPECT_EQ(text(regexp("a", letters)), QString::fromLatin1(printed)) << letters;
    EXPECT_EQ(text(make("RegExp")), QStringLiteral("//"));
    EXPECT_EQ(errorId([&] { make("RegExp", {regexp("a", "s"), str("")}); }), 1100);
    EXPECT_EQ(text(make("RegExp", {regexp("a", "m")})), QStringLiteral("/a/m"));

    // With g, exec starts at lastIndex and moves it; a miss sets it back to 0.
    Value re = regexp("o", "g");
    const std::pair<const char*, int> steps[] = {{"o", 2}, {"o", 3}, {"o", 6}, {"null", 0}, {"o", 2}};
    for (const auto& [match, lastIndex] : steps) {
        EXPECT_EQ(text(call(re, "exec", {str("foo bo")})).left(4), QString::fromLatin1(match).left(4));
        EXPECT_EQ(vm.toInt(vm.getPublic(re, QStringLiteral("lastIndex"))), lastIndex);
    }
    Value m = call(regexp("(?P<word>b\\w+)"), "exec", {str("a bcd")});
    EXPECT_EQ(text(vm.getPublic(m, QStringLiteral("word"))), QStringLiteral("bcd"));
    EXPECT_EQ(vm.toInt(vm.getPublic(m, QStringLiteral("index"))), 2);
    // A pattern that does not compile matches nothing and throws nothing.
    EXPECT_EQ(text(call(regexp("(a"), "exec", {str("(a")})), QStringLiteral("null"));
}

TEST_F(Library, NumberFormsTakeADigitCountInTheirRange) {
    struct Case { double value; const char* method; Value digits; const char* expected; int error; };
    const Case cases[] = {
        {1.005, "toFixed", Value::number(2), "1.00", 0},       {1.5, "toFixed", Value(), "2", 0},
        {-1.5, "toFixed", Value::number(0), "-2", 0},          {123.456, "toExponential", Value::number(2), "1.23e+2", 0},
        {123.456, "toPrecision", Value::number(4), "123.5", 0}, {0.5, "toPrecision", Value(), "0.5", 0},
        {1, "toPrecision", Value::number(-1), "", 1002},       {1, "toFixed", Value::number(21), "", 1002},
        {1, "toExponential", Value::number(21), "", 1002},     {1, "toExponential", Value::number(-1), "", 1002},
        {0.5, "toString", Value::number(2), "0", 0},           {-255.75, "toString", Value::number(16), "-ff", 0},
    };
    for (const Case& c : cases) {
        Value r;
        std::vector<Value> args;
        if (!c.digits.isUndefined()) args.push_back(c.digits);
        EXPECT_EQ(errorId([&] { r = call(Value::number(c.value), c.method, args); }), c.error) << c.method << " " << c.value;
        if (!c.error) {
            EXPECT_EQ(text(r), QString::fromLatin1(c.expected)) << c.method << " " << c.value;
        }
    }
}

TEST_F(Library, JsonRoundTripsAndRefusals) {
    const std::pair<const char*, const char*> roundTrips[] = {
        {R"({"a":[1,2,{"b":null}],"c":"x\n"})", R"({"a":[1,2,{"b":null}],"c":"x\n"})"},
        {"[true,false,1.5e3,-0]", "[true,false,1500,0]"},
        {R"("\u00e9")", "\"\xC3\xA9\""},
    };
    for (const auto& [in, out] : roundTrips)
        EXPECT_EQ(text(callStatic("JSON", "stringify", {callStatic("JSON", "parse", {str(in)})})), QString::fromUtf8(out)) << in;
    EXPECT_EQ(text(callStatic("JSON", "stringify", {callStatic("JSON", "parse", {str("[1,[2]]")}), Value::null(), Value::number(1)})),
              QStringLiteral("[\n 1,\n [\n  2\n ]\n]"));
    EXPECT_EQ(text(callStatic("JSON", "stringify", {callStatic("JSON", "parse", {str(R"({"a":1,"b":2,"c":3})")}), make("Array", {str("c"), str("a")})})),
              QStringLiteral(R"({"c":3,"a":1})"));

    Value cyclic = Value::object(vm.newObject());
    vm.setPublic(cyclic, QStringLiteral("self"), cyclic);
    const std::pair<std::function<void()>, int> refusals[] = {
        {[&] { callStatic("JSON", "parse", {str("{a:1}")}); }, 1132},
        {[&] { callStatic("JSON", "parse", {str("[1,]")}); }, 1132},
        {[&] { callStatic("JSON", "stringify", {cyclic}); }, 1129},
        {[&] { callStatic("JSON", "stringify", {Value::number(1), Value::number(2)}); }, 1131},
        {[&] { callStatic("JSON", "stringify", {Value::number(1), Value()}); }, 1131},
    };
    for (const auto& [f, id] : refusals) EXPECT_EQ(errorId(f), id);

    // The reviver sees every member after its children; undefined removes it.
    Value dropB = Value::object(vm.newNative(QStringLiteral("reviver"), [](Vm& vm, const Value&, Args a) {
        return vm.toString(a[0]) == QLatin1String("b") ? Value() : a[1];
    }, 2));
    EXPECT_EQ(text(callStatic("JSON", "stringify", {callStatic("JSON", "parse", {str(R"({"a":{"b":1,"c":2},"b":3})"), dropB})})),
              QStringLiteral(R"({"a":{"c":2}})"));
}

TEST_F(Library, ByteArrayNumbersStringsAndIndices) {
    Value b = make("flash.utils.ByteArray");
    call(b, "writeInt", {Value::number(0x01020304)});
    vm.setPublic(b, QStringLiteral("endian"), str("littleEndian"));
    call(b, "writeShort", {Value::number(-2)});
    call(b, "writeUTF", {str("h\xC3\xA9")});
    call(b, "writeDouble", {Value::number(0.1)});
    EXPECT_EQ(vm.toInt(vm.getPublic(b, QStringLiteral("length"))), 4 + 2 + 2 + 3 + 8);
    EXPECT_EQ(vm.toInt(vm.getPublic(b, QStringLiteral("0"))), 1);
    EXPECT_EQ(vm.toInt(vm.getPublic(b, QStringLiteral("4"))), 0xFE);
    EXPECT_TRUE(vm.getPublic(b, QStringLiteral("99")).isUndefined());

    vm.setPublic(b, QStringLiteral("position"), Value::number(0));
    vm.setPublic(b, QStringLiteral("endian"), str("bigEndian"));
    EXPECT_EQ(vm.toInt(call(b, "readInt")), 0x01020304);
    vm.setPublic(b, QStringLiteral("endian"), str("littleEndian"));
    EXPECT_EQ(vm.toInt(call(b, "readShort")), -2);
    EXPECT_EQ(text(call(b, "readUTF")), QString::fromUtf8("h\xC3\xA9"));
    EXPECT_EQ(vm.toNumber(call(b, "readDouble")), 0.1);
    const std::pair<const char*, int> refusals[] = {{"readByte", 2030}, {"readInt", 2030}, {"readUTF", 2030}};
    for (const auto& [method, id] : refusals) EXPECT_EQ(errorId([&, m = method] { call(b, m); }), id) << method;
    EXPECT_EQ(errorId([&] { vm.setPublic(b, QStringLiteral("endian"), str("middle")); }), 2008);
    // String parameters refuse null and undefined.
    const std::pair<const char*, std::vector<Value>> nulls[] = {
        {"writeUTF", {Value::null()}}, {"writeUTFBytes", {Value()}}, {"writeMultiByte", {str("x"), Value::null()}},
        {"writeMultiByte", {Value::null(), str("utf-8")}}, {"readMultiByte", {Value::number(0), Value()}},
    };
    for (const auto& [method, args] : nulls) EXPECT_EQ(errorId([&, m = method, &v = args] { call(b, m, v); }), 2007) << method;

    // Writing past the end through an index grows the buffer with zeros.
    vm.setPublic(b, QStringLiteral("30"), Value::number(257));
    EXPECT_EQ(vm.toInt(vm.getPublic(b, QStringLiteral("length"))), 31);
    EXPECT_EQ(vm.toInt(vm.getPublic(b, QStringLiteral("30"))), 1);
    EXPECT_EQ(vm.toInt(vm.getPublic(b, QStringLiteral("25"))), 0);

    call(b, "compress");
    call(b, "uncompress");
    EXPECT_EQ(vm.toInt(vm.getPublic(b, QStringLiteral("length"))), 31);
    Value junk = make("flash.utils.ByteArray");
    call(junk, "writeUTFBytes", {str("not zlib")});
    EXPECT_EQ(errorId([&] { call(junk, "uncompress"); }), 2058);
}

TEST_F(Library, ByteArrayObjectsSurviveAmfRoundTrips) {
    for (int encoding : {0, 3}) {
        Value shared = callStatic("JSON", "parse", {str(R"({"n":1.5,"s":"x"})")});
        Value root = callStatic("JSON", "parse", {str(R"({"i":7,"t":true,"u":null,"list":[1,"two",-3]})")});
        vm.setPublic(root, QStringLiteral("p"), shared);
        vm.setPublic(root, QStringLiteral("q"), shared);
        Value b = make("flash.utils.ByteArray");
        vm.setPublic(b, QStringLiteral("objectEncoding"), Value::number(encoding));
        call(b, "writeObject", {root});
        vm.setPublic(b, QStringLiteral("position"), Value::number(0));
        Value back = call(b, "readObject");
        EXPECT_EQ(vm.toInt(vm.getPublic(b, QStringLiteral("bytesAvailable"))), 0) << encoding;
        EXPECT_EQ(text(callStatic("JSON", "stringify", {back})), text(callStatic("JSON", "stringify", {root}))) << encoding;
        // One object written twice comes back as one object.
        EXPECT_EQ(vm.getPublic(back, QStringLiteral("p")).o, vm.getPublic(back, QStringLiteral("q")).o) << encoding;
    }
}

TEST_F(Library, XmlPropertiesMethodsAndSettings) {
    Value x = make("XML", {str("<a x='1'><b>t</b><b>u</b><c><b>deep</b></c></a>")});
    auto count = [&](const Value& list) { return vm.toInt(call(list, "length")); };
    EXPECT_EQ(count(vm.getPublic(x, QStringLiteral("b"))), 2);
    EXPECT_EQ(text(vm.getPublic(x, QStringLiteral("b"))), QStringLiteral("<b>t</b>\n<b>u</b>"));
    Name attr = Name::publicName(QStringLiteral("x"));
    attr.attribute = true;
    EXPECT_EQ(text(vm.getProperty(x, attr)), QStringLiteral("1"));
    EXPECT_EQ(count(xmlDescendantsOf(x, "b")), 3);
    EXPECT_EQ(text(call(x, "name")), QStringLiteral("a"));
    EXPECT_EQ(text(call(x, "nodeKind")), QStringLiteral("element"));
    EXPECT_EQ(text(call(vm.getPublic(vm.getPublic(x, QStringLiteral("b")), QStringLiteral("0")), "childIndex")), QStringLiteral("0"));

    // Assignment: a child's text, a new child, an attribute.
    vm.setPublic(x, QStringLiteral("c"), str("plain"));
    vm.setPublic(x, QStringLiteral("d"), Value::number(5));
    vm.setProperty(x, attr, str("2"));
    EXPECT_EQ(text(call(x, "toXMLString")),
              QStringLiteral("<a x=\"2\">\n  <b>t</b>\n  <b>u</b>\n  <c>plain</c>\n  <d>5</d>\n</a>"));
    vm.deleteProperty(x, Name::publicName(QStringLiteral("b")));
    EXPECT_EQ(count(call(x, "children")), 2);

    // Equality is by content; + joins into a list.
    EXPECT_TRUE(vm.looseEquals(make("XML", {str("<p>1</p>")}), make("XML", {str("<p>1</p>")})));
    EXPECT_FALSE(vm.looseEquals(make("XML", {str("<p>1</p>")}), make("XML", {str("<p>2</p>")})));
    EXPECT_EQ(count(vm.add(make("XML", {str("<p/>")}), make("XML", {str("<q/>")}))), 2);
    EXPECT_EQ(vm.typeOf(x), QStringLiteral("xml"));

    const std::pair<const char*, int> malformed[] = {{"<a>", 1085}, {"<a></b>", 1085}, {"<a/><b/>", 1088}, {"<a><!-- x</a>", 1094}};
    for (const auto& [source, id] : malformed) EXPECT_EQ(errorId([&, s = source] { make("XML", {str(s)}); }), id) << source;

    Value xmlClass = Value::object(vm.builtin("XML"));
    vm.setPublic(xmlClass, QStringLiteral("prettyPrinting"), Value::boolean(false));
    EXPECT_EQ(text(call(make("XML", {str("<a><b/></a>")}), "toXMLString")), QStringLiteral("<a><b/></a>"));
    call(xmlClass, "setSettings", {Value::null()});
    EXPECT_TRUE(vm.toBoolean(vm.getPublic(xmlClass, QStringLiteral("prettyPrinting"))));
}

TEST_F(Library, GlobalFunctionsReadStringParameters) {
    auto global = [&](const char* name, std::vector<Value> args) {
        return vm.call(vm.getPublic(Value::object(vm.toplevel()), QString::fromLatin1(name)), Value(), args);
    };
    // Left out, a String parameter takes its default; undefined passed in reads as "null".
    struct Case { const char* fn; std::vector<Value> args; const char* expected; };
    const Case cases[] = {
        {"escape", {}, "undefined"},                {"escape", {Value()}, "null"},
        {"unescape", {Value()}, "null"},            {"encodeURI", {}, "undefined"},
        {"decodeURIComponent", {Value::null()}, "null"},
        {"parseInt", {}, "NaN"},                    {"parseInt", {Value(), Value::number(32)}, "785077"},
        {"parseInt", {str("0x1000000000000081")}, "1152921504606847200"},
        {"parseInt", {str("11111111111111111111111111111111111111111111111111111111"), Value::number(2)}, "72057594037927940"},
        {"parseInt", {str("z"), Value::number(36)}, "35"},
        {"decodeURI", {str("%E2%82%AC%3B")}, "\xE2\x82\xAC%3B"},
        {"decodeURIComponent", {str("%F0%9F%98%80%3B")}, "\xF0\x9F\x98\x80;"},
        {"isXMLName", {str("_x.y-z9")}, "true"},    {"isXMLName", {str("1a")}, "false"},
        {"isXMLName", {str("a:b")}, "false"},       {"isXMLName", {str("")}, "false"},
        {"isXMLName", {}, "false"},                 {"isXMLName", {str("\xC3\xA9t\xC3\xA9")}, "true"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(global(c.fn, c.args)), QString::fromUtf8(c.expected)) << c.fn;

    // Broken escapes and lone surrogates are URIError 1052.
    const std::pair<const char*, const char*> refused[] = {
        {"decodeURI", "%"}, {"decodeURI", "%E2%82"}, {"decodeURI", "%C0%80"}, {"decodeURI", "%ED%A0%80"},
        {"decodeURIComponent", "%FF"}, {"decodeURIComponent", "%8"},
    };
    for (const auto& [fn, arg] : refused) EXPECT_EQ(errorId([&, f = fn, a = arg] { global(f, {str(a)}); }), 1052) << fn << " " << arg;
    const QString lone(QChar(0xD800));
    EXPECT_EQ(errorId([&] { global("encodeURIComponent", {Value::string(lone)}); }), 1052);
    EXPECT_EQ(errorId([&] { make("JSON"); }), 2012);
}

TEST_F(Library, StringCaseUsesOneToOneMappings) {
    const std::pair<char16_t, char16_t> upper[] = {
        {u'a', u'A'}, {0xE9, 0xC9}, {0xFF, 0x178}, {0x17F, u'S'}, {0x131, u'I'},
        {0xDF, 0xDF}, {0xB5, 0xB5}, {0x149, 0x149}, {0x10D0, 0x10D0}, {0x3B1, 0x391},
    };
    for (const auto& [from, to] : upper)
        EXPECT_EQ(text(call(Value::string(QString(QChar(from))), "toUpperCase")), QString(QChar(to))) << int(from);
    EXPECT_EQ(text(call(Value::string(QString(QChar(0x130))), "toLowerCase")), QStringLiteral("i"));
    EXPECT_EQ(text(call(str("ABC"), "toLocaleLowerCase")), QStringLiteral("abc"));
    // A pattern that is not a RegExp is a string first: undefined looks for "undefined".
    EXPECT_EQ(text(call(str("xundefined"), "search", {Value()})), QStringLiteral("1"));
    EXPECT_EQ(text(call(str("abc"), "match", {})), QStringLiteral("null"));
}

TEST_F(Library, DateFieldsAccessorsAndLengths) {
    vm.dateZone = QTimeZone(QByteArrayLiteral("America/Los_Angeles"));
    Value d = make("Date", {Value::number(2000), Value::number(6), Value::number(4), Value::number(12)});
    EXPECT_EQ(text(call(d, "getTime")), QStringLiteral("962737200000")); // daylight time: UTC-7
    EXPECT_EQ(text(call(d, "toString")), QStringLiteral("Tue Jul 4 12:00:00 GMT-0700 2000"));
    EXPECT_EQ(text(call(d, "getTimezoneOffset")), QStringLiteral("420"));
    vm.setPublic(d, QStringLiteral("month"), Value::number(0)); // into standard time
    EXPECT_EQ(text(vm.getPublic(d, QStringLiteral("hours"))), QStringLiteral("12"));
    EXPECT_EQ(text(vm.getPublic(d, QStringLiteral("hoursUTC"))), QStringLiteral("20"));
    vm.setPublic(d, QStringLiteral("fullYearUTC"), Value::number(1999));
    EXPECT_EQ(text(call(d, "toUTCString")), QStringLiteral("Mon Jan 4 20:00:00 1999 UTC"));
    // One argument: a string is parsed, anything else is a number.
    EXPECT_EQ(text(call(make("Date", {str("Jan 4 1999 12:00:00 PM")}), "getTime")), QStringLiteral("915480000000"));
    EXPECT_EQ(text(call(make("Date", {str("12")}), "getTime")), QStringLiteral("NaN"));
    // A NaN date stays NaN through setters, except the year, which starts from +0 local.
    Value nan = make("Date", {Value::number(NAN)});
    EXPECT_EQ(text(call(nan, "setHours", {Value::number(1)})), QStringLiteral("NaN"));
    EXPECT_EQ(text(call(nan, "setFullYear", {Value::number(1970)})), QStringLiteral("28800000"));

    const std::pair<const char*, int> lengths[] = {
        {"setTime", 1}, {"setMilliseconds", 1}, {"setSeconds", 2}, {"setMinutes", 3}, {"setHours", 4},
        {"setDate", 1}, {"setMonth", 2}, {"setFullYear", 3}, {"setUTCHours", 4}, {"getDay", 0},
    };
    Value proto = vm.getPublic(Value::object(vm.builtin("Date")), QStringLiteral("prototype"));
    for (const auto& [name, length] : lengths)
        EXPECT_EQ(text(vm.getPublic(vm.getPublic(proto, QString::fromLatin1(name)), QStringLiteral("length"))), QString::number(length)) << name;
}

// Date's methods given another object as `this` see an invalid date; setters
// return what they compute from it.
TEST_F(Library, DateMethodsOnOtherObjectsSeeAnInvalidDate) {
    Value proto = vm.getPublic(Value::object(vm.builtin("Date")), QStringLiteral("prototype"));
    Value other = Value::object(vm.newObject());
    const std::pair<const char*, const char*> cases[] = {
        {"toString", "Invalid Date"}, {"toDateString", "Invalid Date"}, {"toUTCString", "Invalid Date"},
        {"valueOf", "NaN"}, {"getTime", "NaN"}, {"getDate", "NaN"}, {"getDay", "NaN"}, {"getUTCSeconds", "NaN"},
        {"getTimezoneOffset", "NaN"}, {"setTime", "1"}, {"setHours", "NaN"}, {"setUTCFullYear", "-62135596800000"},
    };
    for (const auto& [name, expected] : cases) {
        const Value one[1] = {Value::number(1)};
        EXPECT_EQ(text(vm.call(vm.getPublic(proto, QString::fromLatin1(name)), other, one)), QString::fromLatin1(expected)) << name;
    }
}

// toLocaleString gives what the value's own toString gives; an array joins
// its elements' toLocaleString.
TEST_F(Library, ToLocaleStringFollowsToString) {
    const std::pair<Value, const char*> cases[] = {
        {Value::number(3.5), "3.5"}, {Value::boolean(true), "true"}, {str("s"), "s"},
        {Value::object(vm.newArray({Value::number(1), Value::null(), Value::boolean(false), Value()})), "1,,false,"},
        {make("Date", {Value::number(NAN)}), "Invalid Date"},
    };
    for (const auto& [v, expected] : cases) EXPECT_EQ(text(call(v, "toLocaleString")), QString::fromLatin1(expected)) << expected;
}

TEST_F(Library, XmlContainsComparesLikeEquality) {
    Value list = call(make("XML", {str("<r><a>A</a><b>B</b></r>")}), "children");
    const std::pair<Value, bool> cases[] = {
        {str("A"), true}, {str("B"), true}, {str("C"), false}, {Value::null(), false}, {Value(), false},
        {make("XML", {str("<b>B</b>")}), true},
    };
    for (const auto& [v, expected] : cases) EXPECT_EQ(vm.toBoolean(call(list, "contains", {v})), expected) << text(v).toStdString();
    // An XML object contains only XML equal to it.
    Value one = make("XML", {str("<a>A</a>")});
    const std::pair<Value, bool> single[] = {
        {str("A"), false}, {make("XML", {str("<a>A</a>")}), true}, {make("XMLList", {str("<a>A</a>")}), false}, {one, true},
    };
    for (const auto& [v, expected] : single) EXPECT_EQ(vm.toBoolean(call(one, "contains", {v})), expected) << text(v).toStdString();

    // setSettings: an object changes only what it names; a string changes nothing.
    Value xmlClass = Value::object(vm.builtin("XML"));
    Value some = Value::object(vm.newObject());
    vm.setPublic(some, QStringLiteral("prettyIndent"), Value::number(4));
    call(xmlClass, "setSettings", {some});
    call(xmlClass, "setSettings", {str("")});
    EXPECT_EQ(text(vm.getPublic(xmlClass, QStringLiteral("prettyIndent"))), QStringLiteral("4"));
    EXPECT_TRUE(vm.toBoolean(vm.getPublic(xmlClass, QStringLiteral("ignoreComments"))));
    call(xmlClass, "setSettings", {});
    EXPECT_EQ(text(vm.getPublic(xmlClass, QStringLiteral("prettyIndent"))), QStringLiteral("2"));
}

TEST_F(Library, ByteArrayDefaultEncodingAppliesToNewArrays) {
    Value cls = Value::object(vm.builtin("flash.utils.ByteArray"));
    vm.setPublic(cls, QStringLiteral("defaultObjectEncoding"), Value::number(0));
    EXPECT_EQ(text(vm.getPublic(make("flash.utils.ByteArray"), QStringLiteral("objectEncoding"))), QStringLiteral("0"));
    EXPECT_EQ(errorId([&] { vm.setPublic(cls, QStringLiteral("defaultObjectEncoding"), Value::number(1)); }), 2008);
    vm.setPublic(cls, QStringLiteral("defaultObjectEncoding"), Value::number(3));
    EXPECT_EQ(text(vm.getPublic(make("flash.utils.ByteArray"), QStringLiteral("objectEncoding"))), QStringLiteral("3"));

    // A Dictionary comes back a Dictionary, with its object and string keys, in either encoding.
    for (int encoding : {0, 3}) {
        Value dict = make("flash.utils.Dictionary");
        Value key = Value::object(vm.newObject());
        Name objectKey = Name::publicName(QString());
        objectKey.key = key;
        vm.setProperty(dict, objectKey, str("by object"));
        vm.setPublic(dict, QStringLiteral("name"), str("by name"));
        Value bytes = make("flash.utils.ByteArray");
        vm.setPublic(bytes, QStringLiteral("objectEncoding"), Value::number(encoding));
        call(bytes, "writeObject", {dict});
        vm.setPublic(bytes, QStringLiteral("position"), Value::number(0));
        Value back = call(bytes, "readObject");
        ASSERT_TRUE(back.isObject() && back.o->as<DictionaryObject>()) << encoding;
        EXPECT_EQ(text(vm.getPublic(back, QStringLiteral("name"))), QStringLiteral("by name")) << encoding;
        ASSERT_EQ(back.o->as<DictionaryObject>()->objectKeys.size(), 1u) << encoding;
        EXPECT_EQ(text(back.o->as<DictionaryObject>()->objectKeys.front().second), QStringLiteral("by object")) << encoding;
    }
}

// Declarations in scope, the namespace of a name, and the methods that add,
// drop and change them.
TEST_F(Library, XmlNamespaceMethods) {
    auto declared = [&](const Value& array) {
        QStringList out;
        const int n = vm.toInt(vm.getPublic(array, QStringLiteral("length")));
        for (int i = 0; i < n; ++i) {
            Value ns = vm.getPublic(array, QString::number(i));
            out << text(vm.getPublic(ns, QStringLiteral("prefix"))) + u'=' + text(vm.getPublic(ns, QStringLiteral("uri")));
        }
        return out.join(u' ');
    };
    Value x = make("XML", {str("<r xmlns:p='u1' xmlns='d'><p:c q='1'/><e/></r>")});
    Value c = vm.getPublic(call(x, "children"), QStringLiteral("0"));
    Value e = vm.getPublic(call(x, "children"), QStringLiteral("1"));
    EXPECT_EQ(declared(call(x, "inScopeNamespaces")), QStringLiteral("p=u1 =d"));
    EXPECT_EQ(declared(call(c, "inScopeNamespaces")), QStringLiteral("p=u1 =d"));
    EXPECT_EQ(declared(call(c, "namespaceDeclarations")), QString());
    EXPECT_EQ(text(call(x, "namespace")), QStringLiteral("d"));
    EXPECT_EQ(text(call(c, "namespace")), QStringLiteral("u1"));
    EXPECT_EQ(text(call(x, "namespace", {str("p")})), QStringLiteral("u1"));
    EXPECT_TRUE(call(x, "namespace", {str("zz")}).isUndefined());

    call(x, "addNamespace", {make("Namespace", {str("n"), str("u2")})});
    EXPECT_EQ(declared(call(x, "namespaceDeclarations")), QStringLiteral("p=u1 =d n=u2"));
    call(x, "removeNamespace", {make("Namespace", {str("p"), str("u1")})});
    call(e, "setNamespace", {make("Namespace", {str("s"), str("u3")})});
    EXPECT_EQ(text(call(x, "toXMLString")),
              QStringLiteral("<r xmlns=\"d\" xmlns:n=\"u2\">\n  <p:c q=\"1\" xmlns:p=\"u1\"/>\n  <s:e xmlns:s=\"u3\"/>\n</r>"));

    // Namespace(ns) is ns itself; no namespace takes no prefix but the empty one.
    Value ns = make("Namespace", {str("u")});
    Value namespaceClass = Value::object(vm.builtin("Namespace"));
    EXPECT_TRUE(vm.strictEquals(vm.call(namespaceClass, Value(), std::vector<Value>{ns}), ns));
    EXPECT_EQ(errorId([&] { make("Namespace", {str("p"), str("")}); }), 1098);
    EXPECT_TRUE(vm.getPublic(make("Namespace", {str("1x"), str("u")}), QStringLiteral("prefix")).isUndefined());
}

// replace, hasOwnProperty and propertyIsEnumerable on names and indices.
TEST_F(Library, XmlReplaceAndOwnProperties) {
    Value x = make("XML", {str("<a><b>1</b><c/><b>2</b></a>")});
    const std::pair<const char*, bool> own[] = {{"c", true}, {"b", true}, {"zz", false}, {"0", true}, {"1", false}, {"@q", false}};
    for (const auto& [name, expected] : own) EXPECT_EQ(vm.toBoolean(call(x, "hasOwnProperty", {str(name)})), expected) << name;
    EXPECT_TRUE(vm.toBoolean(call(x, "propertyIsEnumerable", {str("0")})));
    EXPECT_FALSE(vm.toBoolean(call(x, "propertyIsEnumerable", {str("b")})));

    // The methods are on the prototypes as well, for calls through them.
    for (const char* cls : {"XML", "XMLList"}) {
        Value proto = vm.getPublic(Value::object(vm.builtin(cls)), QStringLiteral("prototype"));
        for (const char* method : {"appendChild", "addNamespace", "replace", "inScopeNamespaces", "toXMLString"})
            EXPECT_TRUE(vm.toBoolean(call(proto, "hasOwnProperty", {str(method)}))) << cls << "." << method;
    }
    Value viaPrototype = vm.getPublic(vm.getPublic(Value::object(vm.builtin("XML")), QStringLiteral("prototype")), QStringLiteral("toXMLString"));
    EXPECT_EQ(text(vm.call(viaPrototype, make("XML", {str("<p/>")}), {})), QStringLiteral("<p/>"));

    call(x, "replace", {str("b"), str("t")});
    EXPECT_EQ(text(call(x, "toXMLString")), QStringLiteral("<a>\n  t\n  <c/>\n</a>"));
    call(x, "replace", {Value::number(7), make("XML", {str("<z/>")})});
    call(x, "replace", {Value::number(0), make("XML", {str("<y/>")})});
    EXPECT_EQ(text(call(x, "toXMLString")), QStringLiteral("<a>\n  <y/>\n  <c/>\n  <z/>\n</a>"));
}

// Indices of a list and "@name" strings reach what E4X says they name.
TEST_F(Library, XmlListIndicesAndAttributeStrings) {
    Value x = make("XML", {str("<r a='1'><b>1</b><c>2</c><d>3</d></r>")});
    Value kids = call(x, "children");
    vm.deleteProperty(kids, Name::publicName(QStringLiteral("1")));
    EXPECT_EQ(text(kids), QStringLiteral("<b>1</b>\n<d>3</d>"));
    EXPECT_EQ(text(call(x, "children")), QStringLiteral("<b>1</b>\n<d>3</d>"));
    Value attrs = call(x, "attributes");
    vm.deleteProperty(attrs, Name::publicName(QStringLiteral("0")));
    EXPECT_EQ(vm.toInt(call(call(x, "attributes"), "length")), 0);

    vm.setPublic(x, QStringLiteral("@n"), str("v"));
    EXPECT_EQ(text(vm.getPublic(x, QStringLiteral("@n"))), QStringLiteral("v"));
    EXPECT_EQ(vm.toInt(call(vm.getPublic(x, QStringLiteral("n")), "length")), 0);
    vm.deleteProperty(x, Name::publicName(QStringLiteral("@n")));
    EXPECT_EQ(text(call(x, "toXMLString")), QStringLiteral("<r>\n  <b>1</b>\n  <d>3</d>\n</r>"));
}

// x.name = value: XML replaces the first match or is appended as it is; a
// string becomes the text of the match, or of a new element of that name.
TEST_F(Library, XmlAssignmentReplacesOrAppends) {
    const struct { const char* source; const char* name; Value value; const char* expected; } cases[] = {
        {"<a><b>1</b></a>", "b", str("2"), "<a><b>2</b></a>"},
        {"<a><b>1</b></a>", "b", str(""), "<a><b/></a>"},
        {"<a/>", "foo", str("x"), "<a><foo>x</foo></a>"},
        {"<a/>", "foo", make("XML", {str("<n>t</n>")}), "<a><n>t</n></a>"},
        {"<a><b>1</b><c/><b>2</b></a>", "b", make("XML", {str("<d/>")}), "<a><d/><c/></a>"},
        {"<a><b>1</b></a>", "b", vm.getPublic(make("XML", {str("<q k='v'/>")}), QStringLiteral("@k")), "<a><b>v</b></a>"},
    };
    Value xmlClass = Value::object(vm.builtin("XML"));
    vm.setPublic(xmlClass, QStringLiteral("prettyPrinting"), Value::boolean(false));
    for (const auto& c : cases) {
        Value x = make("XML", {str(c.source)});
        vm.setPublic(x, QString::fromLatin1(c.name), c.value);
        EXPECT_EQ(text(call(x, "toXMLString")), QString::fromLatin1(c.expected)) << c.source << " " << c.name;
    }
    // A list item assigned by index is that very node.
    Value tree = make("XML", {str("<a><b/></a>")});
    Value b = vm.getPublic(tree, QStringLiteral("b"));
    Value list = make("XMLList");
    vm.setPublic(list, QStringLiteral("0"), b);
    call(list, "appendChild", {make("XML", {str("<c/>")})});
    EXPECT_EQ(text(call(tree, "toXMLString")), QStringLiteral("<a><b><c/></b></a>"));
    // A node may not go inside itself.
    EXPECT_EQ(errorId([&] { call(b, "appendChild", {tree}); }), 1118);
    const std::pair<const char*, std::vector<Value>> cycles[] = {
        {"appendChild", {tree}}, {"prependChild", {tree}}, {"insertChildAfter", {Value::null(), tree}}, {"setChildren", {tree}},
    };
    for (const auto& [method, args] : cycles) EXPECT_EQ(errorId([&, m = method, &v = args] { call(tree, m, v); }), 1118) << method;
    // A copy made by new XML leaves out what the settings ignore.
    vm.setPublic(xmlClass, QStringLiteral("ignoreComments"), Value::boolean(false));
    Value commented = make("XML", {str("<a><!--c--><b/></a>")});
    vm.setPublic(xmlClass, QStringLiteral("ignoreComments"), Value::boolean(true));
    EXPECT_EQ(text(call(make("XML", {commented}), "toXMLString")), QStringLiteral("<a><b/></a>"));
    EXPECT_EQ(text(call(commented, "toXMLString")), QStringLiteral("<a><!--c--><b/></a>"));
}

TEST_F(Library, XmlProcessingInstructionsByTarget) {
    Value xmlClass = Value::object(vm.builtin("XML"));
    vm.setPublic(xmlClass, QStringLiteral("ignoreProcessingInstructions"), Value::boolean(false));
    Value x = make("XML", {str("<r><?a 1?><?b 2?><e/><?a 3?></r>")});
    const std::pair<std::vector<Value>, int> cases[] = {
        {{}, 3}, {{str("*")}, 3}, {{str("a")}, 2}, {{make("QName", {str("b")})}, 1}, {{str("@a")}, 0}, {{str("c")}, 0},
    };
    for (const auto& [args, count] : cases)
        EXPECT_EQ(vm.toInt(call(call(x, "processingInstructions", args), "length")), count) << (args.empty() ? "" : text(args[0]).toStdString());
}

// The prototypes of the primitive classes stand for the class's default
// value; other objects are refused with #1004.
TEST_F(Library, PrimitivePrototypesActAsTheDefaultValue) {
    const struct { const char* cls; const char* method; const char* expected; } cases[] = {
        {"Boolean", "toString", "false"}, {"Boolean", "valueOf", "false"}, {"Number", "toString", "0"},
        {"Number", "valueOf", "0"}, {"int", "toString", "0"}, {"uint", "valueOf", "0"}, {"Number", "toFixed", "0"},
        {"String", "toString", ""}, {"String", "valueOf", ""},
    };
    for (const auto& c : cases) {
        Value proto = vm.getPublic(Value::object(vm.builtin(c.cls)), QStringLiteral("prototype"));
        Value method = vm.getPublic(proto, QString::fromLatin1(c.method));
        EXPECT_EQ(text(vm.call(method, proto, {})), QString::fromLatin1(c.expected)) << c.cls << "." << c.method;
        EXPECT_EQ(errorId([&] { vm.call(method, Value::object(vm.newObject()), {}); }), 1004) << c.cls << "." << c.method;
    }
}

} // namespace
