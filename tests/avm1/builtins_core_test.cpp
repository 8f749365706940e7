// The core built-in classes called directly through the VM of a playing
// movie: String, Array, Date, Color, Sound and the System services.
#include "engine/avm1/date_clock.h"
#include "engine/avm1/script_engine.h"
#include "engine/avm1/vm.h"
#include "engine/display/player.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <gtest/gtest.h>

#include <functional>

#include <cmath>

namespace {

using swf::avm1::ArrayObject;
using swf::avm1::Object;
using swf::avm1::Value;
using swf::avm1::Vm;
using swf::test::SwfWriter;

constexpr uint16_t kFileAttributesTag = 69;
constexpr uint8_t kUseNetwork = 0x01;

// A playing movie with one empty clip named "mc" on the root; the built-ins
// are reached through its VM.
struct Env {
    std::unique_ptr<swf::Player> player;
    std::vector<std::string> trace;

    explicit Env(int version = 8, uint8_t fileAttributes = 0, const std::string& url = "test.swf") {
        SwfWriter sprite(version);
        sprite.showFrame();
        SwfWriter w(version);
        if (version >= 8) w.tag(kFileAttributesTag, {fileAttributes, 0, 0, 0});
        w.defineSprite(2, sprite);
        w.placeObject2({.depth = 1, .characterId = 2, .name = "mc"});
        w.showFrame();
        swf::HostCallbacks host;
        host.trace = [this](const std::string& s) { trace.push_back(s); };
        player = std::make_unique<swf::Player>(host);
        player->setScriptHostFactory(swf::avm1ScriptHostFactory());
        EXPECT_TRUE(player->load(w.bytes(), url).ok());
        player->runFrame();
    }
    Vm& vm() { return dynamic_cast<swf::avm1::ScriptEngine*>(player->scriptHost())->vm(); }
    // A dotted path from _global ("flash.net.FileReferenceList") or a root member.
    Value global(const QString& path) {
        Value v(vm().global());
        for (const QString& part : path.split(u'.')) v = vm().getMember(v, part);
        return v;
    }
    Value rootMember(const QString& name) { return vm().getMember(Value(static_cast<Object*>(vm().root())), name); }
    Value make(const QString& cls, std::vector<Value> args = {}) { return vm().construct(global(cls), args); }
    Value call(const Value& obj, const QString& method, std::vector<Value> args = {}) {
        return vm().callMethod(obj, method, args);
    }
    std::string text(const Value& v) { return vm().toString(v).toStdString(); }
    Value array(std::vector<Value> items) { return Value(vm().newArray(std::move(items))); }
    Value object(std::vector<std::pair<QString, Value>> members) {
        Object* o = vm().newObject();
        for (auto& [k, v] : members) vm().setMember(o, k, v);
        return Value(o);
    }
};

// ---- String ---------------------------------------------------------------------------------

struct SubstrCase {
    const char* text;
    double start;
    std::optional<double> length;
    const char* expected;
};

class StringSubstr : public ::testing::TestWithParam<SubstrCase> {};

TEST_P(StringSubstr, CutsAsFlashDoes) {
    Env env;
    const auto& c = GetParam();
    std::vector<Value> args{Value(c.start)};
    if (c.length) args.push_back(Value(*c.length));
    EXPECT_EQ(env.text(env.call(Value(QString::fromLatin1(c.text)), QStringLiteral("substr"), args)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Builtins, StringSubstr,
                         ::testing::Values(SubstrCase{"hello world", 0, -1, "hello worl"},
                                           SubstrCase{"hello world", 3, -4, "lo worl"},
                                           // A negative length reaching the last character gives nothing.
                                           SubstrCase{"hello world", 3, -3, ""},
                                           SubstrCase{"hello world", 8, -4, ""},
                                           SubstrCase{"abcd", -5, std::nullopt, "abcd"},
                                           SubstrCase{"abcd", -3, -2, "bc"},
                                           SubstrCase{"abcd", -3, -1, ""},
                                           SubstrCase{"abcd", -5, -1, "abc"},
                                           SubstrCase{"abcd", 1, 10, "bcd"},
                                           SubstrCase{"abcd", 4, 1, ""}));

// A String method called on a string primitive in a movie of one version.
struct StringMethodCase {
    const char* name;
    int version;
    const char* text;
    const char* method;
    std::vector<Value> args;
    const char* expected;
};

class StringMethods : public ::testing::TestWithParam<StringMethodCase> {};

TEST_P(StringMethods, FollowTheirVersionsRule) {
    const auto& c = GetParam();
    Env env(c.version);
    Value r = env.call(Value(QString::fromUtf8(c.text)), QString::fromLatin1(c.method), c.args);
    EXPECT_EQ(r.isUndefined() ? "undefined" : env.text(r), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Builtins, StringMethods,
    ::testing::Values(
        StringMethodCase{"SliceNeedsAStart", 7, "abc", "slice", {}, "undefined"},
        StringMethodCase{"SliceFromNegative", 7, "abcd", "slice", {Value(-2)}, "cd"},
        // SWF 5 reads past the end as the terminating zero; before the start is still NaN.
        StringMethodCase{"CharCodePastEndSwf5", 5, "ab", "charCodeAt", {Value(5)}, "0"},
        StringMethodCase{"CharCodeBeforeStartSwf5", 5, "ab", "charCodeAt", {Value(-1)}, "NaN"},
        StringMethodCase{"CharCodePastEndSwf6", 6, "ab", "charCodeAt", {Value(2)}, "NaN"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Array ----------------------------------------------------------------------------------

// Array construction, length and join, each case a step on a fresh array
// [1, 2] (or on what the case builds) judged by the array's text and length.
struct ArrayRuleCase {
    const char* name;
    int version;
    std::function<Value(Env&)> run; // gives the array
    const char* text;
    const char* length;
};

class ArrayRules : public ::testing::TestWithParam<ArrayRuleCase> {};

TEST_P(ArrayRules, Hold) {
    const auto& c = GetParam();
    Env env(c.version);
    Value a = c.run(env);
    EXPECT_EQ(env.text(env.call(a, QStringLiteral("join"), {Value("|")})), c.text);
    EXPECT_EQ(env.text(env.vm().getMember(a, QStringLiteral("length"))), c.length);
}

Value arrayOf(Env& env, std::vector<Value> args) { return env.make(QStringLiteral("Array"), std::move(args)); }
Value withLength(Env& env, Value length) {
    Value a = env.array({Value(1), Value(2), Value(3)});
    env.vm().setMember(a.asObject(), QStringLiteral("length"), length);
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Builtins, ArrayRules,
    ::testing::Values(
        // One number is a length cut to a 32-bit integer; no count gives an empty array.
        ArrayRuleCase{"FractionIsCut", 7, [](Env& e) { return arrayOf(e, {Value(3.5)}); }, "undefined|undefined|undefined", "3"},
        ArrayRuleCase{"NegativeIsEmpty", 7, [](Env& e) { return arrayOf(e, {Value(-4)}); }, "", "0"},
        ArrayRuleCase{"InfinityIsEmpty", 7, [](Env& e) { return arrayOf(e, {Value(HUGE_VAL)}); }, "", "0"},
        ArrayRuleCase{"TextIsAnElement", 7, [](Env& e) { return arrayOf(e, {Value("3")}); }, "3", "1"},
        // An assigned length cuts the elements and reads back as given.
        ArrayRuleCase{"LengthNegative", 7, [](Env& e) { return withLength(e, Value(-4)); }, "", "-4"},
        ArrayRuleCase{"LengthFraction", 7, [](Env& e) { return withLength(e, Value(2.5)); }, "1|2", "2.5"},
        ArrayRuleCase{"LengthText", 7, [](Env& e) { return withLength(e, Value("har")); }, "", "har"},
        ArrayRuleCase{"LengthGrows", 7, [](Env& e) { return withLength(e, Value(4)); }, "1|2|3|undefined", "4"},
        ArrayRuleCase{"PushForgetsAssignedLength", 7,
                      [](Env& e) {
                          Value a = withLength(e, Value(1.5));
                          e.call(a, QStringLiteral("push"), {Value(9)});
                          return a;
                      },
                      "1|9", "2"}),
    [](const auto& info) { return std::string(info.param.name); });

// join: only a missing separator is ","; undefined converts by the version's rule.
TEST(ArrayJoin, GivenSeparatorConverts) {
    for (auto [version, expected] : {std::pair{6, "12"}, std::pair{7, "1undefined2"}}) {
        Env env(version);
        Value a = env.array({Value(1), Value(2)});
        EXPECT_EQ(env.text(env.call(a, QStringLiteral("join"), {Value()})), expected) << version;
        EXPECT_EQ(env.text(env.call(a, QStringLiteral("join"))), "1,2") << version;
    }
}

TEST(ArrayStatics, SortFlagNamesAreWritable) {
    Env env;
    Value array = env.global(QStringLiteral("Array"));
    env.vm().setMember(array.asObject(), QStringLiteral("NUMERIC"), Value(3));
    EXPECT_EQ(env.text(env.global(QStringLiteral("Array.NUMERIC"))), "3");
}

// ---- AsBroadcaster ---------------------------------------------------------------------------

TEST(AsBroadcaster, BroadcastIsTrueOnlyWhenAListenerWasThere) {
    Env env;
    Value emitter = env.object({});
    env.call(env.global(QStringLiteral("AsBroadcaster")), QStringLiteral("initialize"), {emitter});
    Value listeners = env.vm().getMember(emitter, QStringLiteral("_listeners"));
    EXPECT_TRUE(env.call(emitter, QStringLiteral("broadcastMessage"), {Value("m")}).isUndefined());
    env.vm().setMember(listeners.asObject(), QStringLiteral("0"), Value());
    env.vm().setMember(listeners.asObject(), QStringLiteral("1"), Value::null());
    EXPECT_TRUE(env.call(emitter, QStringLiteral("broadcastMessage"), {Value("m")}).isUndefined());
    env.vm().setMember(listeners.asObject(), QStringLiteral("1"), Value("hi"));
    EXPECT_EQ(env.text(env.call(emitter, QStringLiteral("broadcastMessage"), {Value("m")})), "true");
}

TEST(AsBroadcaster, InitializeGivesTheBuiltInBroadcast) {
    Env env;
    Value bc = env.global(QStringLiteral("AsBroadcaster"));
    Value builtIn = env.vm().getMember(bc, QStringLiteral("broadcastMessage"));
    Value replacement = env.object({});
    env.vm().setMember(bc.asObject(), QStringLiteral("broadcastMessage"), replacement);
    env.vm().setMember(bc.asObject(), QStringLiteral("addListener"), replacement);
    Value emitter = env.object({});
    env.call(bc, QStringLiteral("initialize"), {emitter});
    // broadcastMessage is a function of its own that runs the built-in code.
    auto* own = dynamic_cast<swf::avm1::FunctionObject*>(env.vm().getMember(emitter, QStringLiteral("broadcastMessage")).asObject());
    auto* original = dynamic_cast<swf::avm1::FunctionObject*>(builtIn.asObject());
    ASSERT_TRUE(own && original);
    EXPECT_NE(own, original);
    EXPECT_EQ(own->native(), original->native());
    EXPECT_EQ(env.vm().getMember(emitter, QStringLiteral("addListener")).asObject(), replacement.asObject());
}

struct SpliceCase {
    const char* name;
    std::vector<Value> args;
    const char* returned; // "undefined" when splice refuses
    const char* after;
};

class ArraySplice : public ::testing::TestWithParam<SpliceCase> {};

TEST_P(ArraySplice, RemovesInsertsOrRefuses) {
    Env env;
    const auto& c = GetParam();
    Value a = env.array({Value("a"), Value("b"), Value("c"), Value("d"), Value("e")});
    Value removed = env.call(a, QStringLiteral("splice"), c.args);
    EXPECT_EQ(env.text(removed), c.returned);
    EXPECT_EQ(env.text(a), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Builtins, ArraySplice,
    ::testing::Values(SpliceCase{"StartOnly", {Value(2)}, "c,d,e", "a,b"},
                      SpliceCase{"NegativeStart", {Value(-2), Value(1)}, "d", "a,b,c,e"},
                      SpliceCase{"CountPastEnd", {Value(2), Value(8)}, "c,d,e", "a,b"},
                      SpliceCase{"Insert", {Value(1), Value(0), Value("x"), Value("y")}, "", "a,x,y,b,c,d,e"},
                      SpliceCase{"UndefinedCount", {Value(2), Value()}, "undefined", "a,b,c,d,e"},
                      SpliceCase{"NegativeCount", {Value(2), Value(-2)}, "undefined", "a,b,c,d,e"},
                      SpliceCase{"NoArguments", {}, "undefined", "a,b,c,d,e"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuiltinsArray, MethodsOnPlainObjectsReadOnlyOwnStoredElements) {
    Env env;
    Vm& vm = env.vm();
    Value base = env.array({Value("p0"), Value("p1"), Value("p2")});
    Value o = env.object({{QStringLiteral("length"), Value(3)}, {QStringLiteral("0"), Value("own")}});
    // Element 2 is a getter and element 1 only inherited: neither counts.
    Value getter(vm.newNative([](Vm&, swf::avm1::CallArgs&) { return Value("got"); }));
    env.call(o, QStringLiteral("addProperty"), {Value("2"), getter, Value::null()});
    vm.setMember(o.asObject(), QStringLiteral("__proto__"), base);
    EXPECT_EQ(env.text(env.call(o, QStringLiteral("join"), {Value("|")})), "own|undefined|undefined");
    EXPECT_EQ(env.text(vm.getMember(o, QStringLiteral("1"))), "p1"); // plain member access still inherits
}

// ---- Date -----------------------------------------------------------------------------------

struct DateEnv : Env {
    DateEnv() {
        // Sat Feb 3 2001 04:05:06 in a zone 5:45 ahead of UTC.
        swf::avm1::setDateClock(vm(), {[] { return 981152406000.0; }, QTimeZone(5 * 3600 + 45 * 60)});
    }
};

struct DatePartCase {
    const char* getter;
    double expected;
};

class DateParts : public ::testing::TestWithParam<DatePartCase> {};

TEST_P(DateParts, LocalAndUtcFieldsOfTheClock) {
    DateEnv env;
    Value now = env.make(QStringLiteral("Date"));
    EXPECT_EQ(env.vm().toNumber(env.call(now, QString::fromLatin1(GetParam().getter))), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Builtins, DateParts,
                         ::testing::Values(DatePartCase{"getFullYear", 2001}, DatePartCase{"getYear", 101},
                                           DatePartCase{"getMonth", 1}, DatePartCase{"getDate", 3},
                                           DatePartCase{"getDay", 6}, DatePartCase{"getHours", 4},
                                           DatePartCase{"getMinutes", 5}, DatePartCase{"getSeconds", 6},
                                           DatePartCase{"getTime", 981152406000.0},
                                           DatePartCase{"getTimezoneOffset", -345}, DatePartCase{"getUTCDate", 2},
                                           DatePartCase{"getUTCDay", 5}, DatePartCase{"getUTCHours", 22},
                                           DatePartCase{"getUTCMinutes", 20}));

TEST(BuiltinsDate, ToStringWritesTheZoneWithItsSign) {
    DateEnv env;
    EXPECT_EQ(env.text(env.make(QStringLiteral("Date"))), "Sat Feb 3 04:05:06 GMT+0545 2001");
    EXPECT_EQ(env.text(env.make(QStringLiteral("Date"), {Value(0)})), "Thu Jan 1 05:45:00 GMT+0545 1970");
    swf::avm1::setDateClock(env.vm(), {[] { return 0.0; }, QTimeZone(-3 * 3600 - 30 * 60)});
    EXPECT_EQ(env.text(env.make(QStringLiteral("Date"))), "Wed Dec 31 20:30:00 GMT-0330 1969");
}

TEST(BuiltinsDate, LocalFieldsBuildTheTimeInTheZone) {
    DateEnv env;
    Value d = env.make(QStringLiteral("Date"), {Value(2001), Value(1), Value(3), Value(4), Value(5), Value(6)});
    EXPECT_EQ(env.vm().toNumber(env.call(d, QStringLiteral("getTime"))), 981152406000.0);
    env.call(d, QStringLiteral("setHours"), {Value(28)}); // rolls into the next day
    EXPECT_EQ(env.vm().toNumber(env.call(d, QStringLiteral("getDate"))), 4);
    EXPECT_EQ(env.vm().toNumber(env.call(d, QStringLiteral("getHours"))), 4);
}

// Setters on the clock's date: fields are whole numbers; a missing or NaN
// field invalidates the date except the month (read as 0) and the minutes
// (read as the lowest 32-bit integer).
struct DateSetCase {
    const char* setter;
    std::vector<Value> args;
    double time; // NaN: invalid
};
class DateSetters : public ::testing::TestWithParam<DateSetCase> {};
TEST_P(DateSetters, ReplaceFieldsAsFlashDoes) {
    DateEnv env;
    Value d = env.make(QStringLiteral("Date"));
    double t = env.vm().toNumber(env.call(d, QString::fromLatin1(GetParam().setter), GetParam().args));
    if (std::isnan(GetParam().time)) EXPECT_TRUE(std::isnan(t));
    else EXPECT_EQ(t, GetParam().time);
}
INSTANTIATE_TEST_SUITE_P(
    Builtins, DateSetters,
    ::testing::Values(DateSetCase{"setHours", {}, std::nan("")}, DateSetCase{"setFullYear", {Value(std::nan(""))}, std::nan("")},
                      DateSetCase{"setMonth", {Value(std::nan(""))}, 981152406000.0 - 31 * 86400000.0},
                      DateSetCase{"setMinutes", {}, 981152406000.0 - 5 * 60000.0 + double(INT32_MIN) * 60000.0},
                      DateSetCase{"setDate", {Value(4.5)}, 981152406000.0 + 86400000.0},
                      DateSetCase{"setSeconds", {Value(7.9)}, 981152407000.0}));

TEST(BuiltinsDate, UtcNeedsAYearAndAMonthAndTimesKeepFractions) {
    DateEnv env;
    EXPECT_TRUE(env.call(env.global(QStringLiteral("Date")), QStringLiteral("UTC"), {Value(1)}).isUndefined());
    EXPECT_EQ(env.vm().toNumber(env.call(env.global(QStringLiteral("Date")), QStringLiteral("UTC"), {Value(1970), Value(0)})), 0);
    Value d = env.make(QStringLiteral("Date"), {Value(5.5)});
    EXPECT_EQ(env.vm().toNumber(env.call(d, QStringLiteral("getTime"))), 5.5);
    EXPECT_EQ(env.vm().toNumber(env.call(d, QStringLiteral("getMilliseconds"))), 5);
}

// ---- Color and Sound ------------------------------------------------------------------------

struct ColorCase {
    const char* name;
    std::vector<std::pair<QString, Value>> transform;
    const char* expected; // ra ga ba aa rb gb bb ab
};

class ColorTransforms : public ::testing::TestWithParam<ColorCase> {};

TEST_P(ColorTransforms, StoredInFixedPointAndRead) {
    Env env;
    Value color = env.make(QStringLiteral("Color"), {env.rootMember(QStringLiteral("mc"))});
    env.call(color, QStringLiteral("setTransform"), {env.object(GetParam().transform)});
    Value t = env.call(color, QStringLiteral("getTransform"));
    std::string got;
    for (const char* k : {"ra", "ga", "ba", "aa", "rb", "gb", "bb", "ab"})
        got += (got.empty() ? "" : " ") + env.text(env.vm().getMember(t, QString::fromLatin1(k)));
    EXPECT_EQ(got, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Builtins, ColorTransforms,
    ::testing::Values(
        ColorCase{"Empty", {}, "100 100 100 100 0 0 0 0"},
        ColorCase{"Plain", {{"ra", Value(50)}, {"ga", Value(-100)}, {"rb", Value(100)}, {"ab", Value(25)}},
                  "50 -100 100 100 100 0 0 25"},
        // 1% is 2.56/256 in 8.8 fixed point: it reads back as 0.78125.
        ColorCase{"FixedPointMultiplier", {{"aa", Value(1)}}, "100 100 100 0.78125 0 0 0 0"},
        ColorCase{"Overflow", {{"ra", Value(12800)}, {"gb", Value(32704 + 65536)}}, "-12800 100 100 100 0 32704 0 0"},
        ColorCase{"NonNumbers", {{"ra", Value("NaN")}, {"ba", Value("0x64")}, {"rb", Value(true)}},
                  "0 100 100 100 1 0 0 0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuiltinsColor, InheritedMembersAreIgnoredAndRgbIsSigned) {
    Env env;
    Value color = env.make(QStringLiteral("Color"), {env.rootMember(QStringLiteral("mc"))});
    Value proto = env.object({{QStringLiteral("ab"), Value(-66)}});
    Value t = env.object({{QStringLiteral("rb"), Value(-50)}, {QStringLiteral("gb"), Value(-25)},
                          {QStringLiteral("bb"), Value(25)}});
    env.vm().setMember(t.asObject(), QStringLiteral("__proto__"), proto);
    env.call(color, QStringLiteral("setTransform"), {t});
    EXPECT_EQ(env.text(env.vm().getMember(env.call(color, QStringLiteral("getTransform")), QStringLiteral("ab"))), "0");
    EXPECT_EQ(env.text(env.call(color, QStringLiteral("getRGB"))), "-6375");
    env.call(color, QStringLiteral("setRGB"), {Value(0xFF8040)});
    EXPECT_EQ(env.text(env.call(color, QStringLiteral("getRGB"))), "16744512");
}

TEST(BuiltinsColor, MissingOrEmptyTargetDoesNothing) {
    Env env;
    for (Value target : {Value(), Value(""), Value("nothere")}) {
        Value color = env.make(QStringLiteral("Color"), {target});
        env.call(color, QStringLiteral("setRGB"), {Value(0x333333)});
        EXPECT_TRUE(env.call(color, QStringLiteral("getRGB")).isUndefined());
    }
}

TEST(BuiltinsSound, MixBelongsToTheTargetClip) {
    Env env;
    Value sound = env.make(QStringLiteral("Sound"), {Value("mc")});
    EXPECT_EQ(env.text(env.call(sound, QStringLiteral("getVolume"))), "100");
    env.call(sound, QStringLiteral("setVolume"), {Value(50)});
    env.call(sound, QStringLiteral("setPan"), {Value(-30)});
    EXPECT_EQ(env.text(env.call(sound, QStringLiteral("getVolume"))), "50");
    EXPECT_EQ(env.text(env.call(sound, QStringLiteral("getPan"))), "-30");
    EXPECT_EQ(env.text(env.vm().getMember(env.call(sound, QStringLiteral("getTransform")), QStringLiteral("ll"))), "100");
    // Nothing attached: no duration or position.
    EXPECT_TRUE(env.call(sound, QStringLiteral("getDuration")).isUndefined());
    EXPECT_TRUE(env.call(sound, QStringLiteral("getPosition")).isUndefined());

    Value lost = env.make(QStringLiteral("Sound"), {Value("nothere")});
    for (const char* getter : {"getVolume", "getPan", "getTransform"})
        EXPECT_TRUE(env.call(lost, QString::fromLatin1(getter)).isUndefined()) << getter;
    Value global = env.make(QStringLiteral("Sound"));
    EXPECT_EQ(env.text(env.call(global, QStringLiteral("getVolume"))), "100");
}

// ---- System services ------------------------------------------------------------------------

struct SandboxCase {
    const char* name;
    uint8_t fileAttributes;
    const char* url;
    const char* expected;
};

class SandboxType : public ::testing::TestWithParam<SandboxCase> {};

TEST_P(SandboxType, FollowsWhereTheMovieCameFrom) {
    Env env(8, GetParam().fileAttributes, GetParam().url);
    EXPECT_EQ(env.text(env.global(QStringLiteral("System.security.sandboxType"))), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Builtins, SandboxType,
                         ::testing::Values(SandboxCase{"LocalFile", 0, "movie.swf", "localWithFile"},
                                           SandboxCase{"LocalNetwork", kUseNetwork, "movie.swf", "localWithNetwork"},
                                           SandboxCase{"Remote", kUseNetwork, "http://example.com/m.swf", "remote"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FilterCase {
    const char* name;
    std::function<std::vector<Value>(Env&)> args;
    bool expected;
};

class BrowseFilters : public ::testing::TestWithParam<FilterCase> {};

TEST_P(BrowseFilters, OnlyArraysOfCompleteOwnFiltersAreAccepted) {
    Env env;
    Value list = env.make(QStringLiteral("flash.net.FileReferenceList"));
    Value r = env.call(list, QStringLiteral("browse"), GetParam().args(env));
    ASSERT_TRUE(r.isBool());
    EXPECT_EQ(r.asBool(), GetParam().expected);
}

Value filter(Env& env, const char* description, const char* extension) {
    return env.object({{QStringLiteral("description"), Value(description)}, {QStringLiteral("extension"), Value(extension)}});
}

INSTANTIATE_TEST_SUITE_P(
    Builtins, BrowseFilters,
    ::testing::Values(
        FilterCase{"NoFilters", [](Env&) { return std::vector<Value>{}; }, true},
        FilterCase{"OneFilter", [](Env& e) { return std::vector<Value>{e.array({filter(e, "Text", "*.txt")})}; }, true},
        FilterCase{"EmptyArray", [](Env& e) { return std::vector<Value>{e.array({})}; }, false},
        FilterCase{"NotAnArray", [](Env&) { return std::vector<Value>{Value("*.txt")}; }, false},
        FilterCase{"ExplicitUndefined", [](Env&) { return std::vector<Value>{Value()}; }, false},
        FilterCase{"NonObjectItem", [](Env& e) { return std::vector<Value>{e.array({Value("x")})}; }, false},
        FilterCase{"EmptyDescription", [](Env& e) { return std::vector<Value>{e.array({filter(e, "", "*.txt")})}; }, false},
        FilterCase{"InheritedFields",
                   [](Env& e) {
                       Value f = e.object({});
                       e.vm().setMember(f.asObject(), QStringLiteral("__proto__"), filter(e, "Text", "*.txt"));
                       return std::vector<Value>{e.array({f})};
                   },
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuiltinsSystem, BrowseIsCancelledOnTheNextTick) {
    Env env;
    Vm& vm = env.vm();
    Value list = env.make(QStringLiteral("flash.net.FileReferenceList"));
    Value heard = env.object({});
    Value onCancel(vm.newNative([](Vm& v, swf::avm1::CallArgs& a) {
        v.setMember(a.thisObject(), QStringLiteral("target"), a.at(0));
        return Value();
    }));
    vm.setMember(heard.asObject(), QStringLiteral("onCancel"), onCancel);
    env.call(list, QStringLiteral("addListener"), {heard});
    EXPECT_TRUE(env.call(list, QStringLiteral("browse")).asBool());
    EXPECT_TRUE(vm.getMember(heard, QStringLiteral("target")).isUndefined()); // not yet
    vm.advanceTimers(50);
    EXPECT_EQ(vm.getMember(heard, QStringLiteral("target")).asObject(), list.asObject());
}

TEST(BuiltinsSystem, FileReferencesShareListenerMethodsButNotListeners) {
    Env env;
    Vm& vm = env.vm();
    {
        const QString cls = QStringLiteral("flash.net.FileReference");
        Value a = env.make(cls), b = env.make(cls);
        Value listA = vm.getMember(a, QStringLiteral("_listeners")), listB = vm.getMember(b, QStringLiteral("_listeners"));
        ASSERT_TRUE(listA.asObject() && listB.asObject());
        EXPECT_NE(listA.asObject(), listB.asObject());
        EXPECT_TRUE(vm.hasOwnProperty(a.asObject(), QStringLiteral("_listeners")));
        EXPECT_FALSE(vm.hasOwnProperty(a.asObject(), QStringLiteral("addListener")));
        env.call(a, QStringLiteral("addListener"), {env.object({})});
        EXPECT_EQ(env.text(vm.getMember(listA, QStringLiteral("length"))), "1");
        EXPECT_EQ(env.text(vm.getMember(listB, QStringLiteral("length"))), "0");
    }
    Value file = env.make(QStringLiteral("flash.net.FileReference"));
    vm.setMember(file.asObject(), QStringLiteral("name"), Value("x.txt"));
    EXPECT_TRUE(vm.getMember(file, QStringLiteral("name")).isUndefined());
    EXPECT_TRUE(vm.getMember(file, QStringLiteral("size")).isUndefined());
}

TEST(BuiltinsSystem, PrintJobRefusesAndKeepsItsSizesAtZero) {
    Env env;
    Value job = env.make(QStringLiteral("PrintJob"));
    EXPECT_FALSE(env.vm().toBool(env.call(job, QStringLiteral("start"))));
    env.vm().setMember(job.asObject(), QStringLiteral("pageWidth"), Value(500));
    EXPECT_EQ(env.text(env.vm().getMember(job, QStringLiteral("pageWidth"))), "0");
    EXPECT_EQ(env.text(env.vm().getMember(job, QStringLiteral("orientation"))), "0");
}

TEST(BuiltinsSystem, ContextMenuItemsAndCopies) {
    Env env;
    Vm& vm = env.vm();
    Value item = env.make(QStringLiteral("ContextMenuItem"), {Value("Caption")});
    EXPECT_EQ(env.text(vm.getMember(item, QStringLiteral("caption"))), "Caption");
    EXPECT_EQ(env.text(vm.getMember(item, QStringLiteral("separatorBefore"))), "false");
    EXPECT_EQ(env.text(vm.getMember(item, QStringLiteral("enabled"))), "true");
    EXPECT_EQ(env.text(vm.getMember(item, QStringLiteral("visible"))), "true");

    Value menu = env.make(QStringLiteral("ContextMenu"));
    env.call(vm.getMember(menu, QStringLiteral("customItems")), QStringLiteral("push"), {item});
    env.call(menu, QStringLiteral("hideBuiltInItems"));
    Value copy = env.call(menu, QStringLiteral("copy"));
    Value copiedItem = vm.getMember(vm.getMember(copy, QStringLiteral("customItems")), QStringLiteral("0"));
    EXPECT_NE(copiedItem.asObject(), item.asObject());
    EXPECT_EQ(env.text(vm.getMember(copiedItem, QStringLiteral("caption"))), "Caption");
    EXPECT_EQ(env.text(vm.getMember(vm.getMember(copy, QStringLiteral("builtInItems")), QStringLiteral("print"))), "false");
}

struct XmlCase {
    const char* name;
    std::function<Value(Env&)> value;
    const char* expected;
};

class ExternalToXml : public ::testing::TestWithParam<XmlCase> {};

TEST_P(ExternalToXml, WritesTheValue) {
    Env env;
    Value ei = env.global(QStringLiteral("flash.external.ExternalInterface"));
    EXPECT_EQ(env.text(env.call(ei, QStringLiteral("_toXML"), {GetParam().value(env)})), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Builtins, ExternalToXml,
    ::testing::Values(
        XmlCase{"Undefined", [](Env&) { return Value(); }, "<undefined/>"},
        XmlCase{"Number", [](Env&) { return Value(-2.5); }, "<number>-2.5</number>"},
        XmlCase{"EscapedString", [](Env&) { return Value("a<&>'\""); },
                "<string>a&lt;&amp;&gt;&apos;&quot;</string>"},
        XmlCase{"EmptyString", [](Env&) { return Value(""); }, "<string>null</string>"},
        XmlCase{"Array", [](Env& e) { return e.array({Value(true), Value::null()}); },
                "<array><property id=\"0\"><true/></property><property id=\"1\"><null/></property></array>"},
        XmlCase{"Object", [](Env& e) { return e.object({{QStringLiteral("x"), Value("y")}}); },
                "<object><property id=\"x\"><string>y</string></property></object>"},
        XmlCase{"Function", [](Env& e) { return e.global(QStringLiteral("Object")); }, "<null/>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuiltinsSystem, ExternalInterfaceUnescapesTheFiveEntitiesOnce) {
    Env env;
    Value ei = env.global(QStringLiteral("flash.external.ExternalInterface"));
    auto unescape = [&](const char* s) { return env.text(env.call(ei, QStringLiteral("_unescapeXML"), {Value(s)})); };
    EXPECT_EQ(unescape("a&lt;b&gt;&quot;&apos;"), "a<b>\"'");
    EXPECT_EQ(unescape("&amp;gt;"), "&gt;");
    EXPECT_EQ(unescape("a&LT;b"), "a&LT;b");
    EXPECT_TRUE(env.call(ei, QStringLiteral("_unescapeXML"), {Value("")}).isNull());
    EXPECT_FALSE(env.vm().toBool(env.global(QStringLiteral("flash.external.ExternalInterface.available"))));
}

TEST(BuiltinsSystem, ExternalInterfaceReadsNodesBack) {
    Env env;
    Vm& vm = env.vm();
    Value ei = env.global(QStringLiteral("flash.external.ExternalInterface"));
    auto node = [&](const char* name, Value firstChild) {
        return env.object({{QStringLiteral("nodeName"), Value(name)}, {QStringLiteral("firstChild"), firstChild}});
    };
    auto toAs = [&](Value n) { return env.call(ei, QStringLiteral("_toAS"), {n}); };
    EXPECT_TRUE(toAs(node("null", Value())).isNull());
    EXPECT_EQ(toAs(node("true", Value())).asBool(), true);
    EXPECT_EQ(env.text(toAs(node("string", Value("value")))), "value");
    EXPECT_EQ(vm.toNumber(toAs(node("number", Value(" -2.1")))), -2.1);
    EXPECT_TRUE(std::isnan(vm.toNumber(toAs(node("number", Value("-2.1 "))))));
    EXPECT_TRUE(toAs(node("TRUE", Value())).isUndefined());
    // <array><property id="1"><true/></property></array>
    Value prop = env.object({{QStringLiteral("attributes"), env.object({{QStringLiteral("id"), Value("1")}})},
                             {QStringLiteral("firstChild"), node("true", Value())}});
    Value arrayNode = env.object({{QStringLiteral("nodeName"), Value("array")},
                                  {QStringLiteral("childNodes"), env.array({prop})}});
    EXPECT_EQ(env.text(toAs(arrayNode)), "undefined,true");
}

// What a movie of each version sees of System, Accessibility and the broadcaster.
struct VersionedMember {
    int version;
    const char* path;
    const char* type;
};
class VersionedMembers : public ::testing::TestWithParam<VersionedMember> {};
TEST_P(VersionedMembers, HaveTheTypeOfTheirVersion) {
    Env env(GetParam().version);
    EXPECT_EQ(env.text(Value(env.vm().typeOf(env.global(QString::fromLatin1(GetParam().path))))), GetParam().type);
}
INSTANTIATE_TEST_SUITE_P(
    Builtins, VersionedMembers,
    ::testing::Values(VersionedMember{5, "Accessibility.isActive", "undefined"},
                      VersionedMember{6, "Accessibility.isActive", "function"},
                      VersionedMember{5, "System.exactSettings", "undefined"},
                      VersionedMember{6, "System.exactSettings", "boolean"},
                      VersionedMember{5, "System.Product", "function"},
                      VersionedMember{5, "System.capabilities.serverString", "string"},
                      VersionedMember{5, "System.capabilities.hasIME", "boolean"},
                      VersionedMember{5, "AsBroadcaster", "undefined"},
                      VersionedMember{6, "AsBroadcaster", "function"},
                      VersionedMember{7, "flash", "undefined"},
                      VersionedMember{8, "flash.external.ExternalInterface", "object"},
                      VersionedMember{8, "flash.net.FileReference", "function"}));

TEST(BuiltinsSystem, VersionLivesOnTheRootTimelineOnly) {
    Env env(5);
    Value version = env.rootMember(QStringLiteral("$version"));
    EXPECT_EQ(env.text(version), env.text(env.global(QStringLiteral("System.capabilities.version"))));
    EXPECT_TRUE(env.global(QStringLiteral("$version")).isUndefined());
}

// The platform code that starts $version ("WIN", "MAC", "LNX") names the
// system that `os` and `manufacturer` name.
TEST(BuiltinsSystem, VersionAndCapabilitiesNameOneSystem) {
    Env env(8);
    const std::string version = env.text(env.rootMember(QStringLiteral("$version")));
    const std::string os = env.text(env.global(QStringLiteral("System.capabilities.os")));
    const std::string maker = env.text(env.global(QStringLiteral("System.capabilities.manufacturer")));
    const struct { const char* code; const char* system; } platforms[] = {{"WIN", "Windows"}, {"MAC", "Mac"}, {"LNX", "Linux"}};
    int matches = 0;
    for (const auto& p : platforms) {
        if (version.rfind(p.code, 0) != 0) continue;
        ++matches;
        EXPECT_EQ(os.rfind(p.system, 0), 0u) << version << " / " << os;
        EXPECT_NE(maker.find(p.system), std::string::npos) << version << " / " << maker;
    }
    EXPECT_EQ(matches, 1) << version;
}

TEST(BuiltinsSystem, ServerStringSummarisesTheCapabilities) {
    Env env;
    std::string s = env.text(env.global(QStringLiteral("System.capabilities.serverString")));
    EXPECT_NE(s.find("A=t&"), std::string::npos) << s;
    EXPECT_NE(s.find("V=LNX%209%2C0%2C999%2C0&"), std::string::npos) << s;
    EXPECT_NE(s.find("&R=1920x1080&"), std::string::npos) << s;
}

TEST(BuiltinsSystem, AllowDomainNeedsADomainAndProductsNeverInstall) {
    Env env;
    Value security = env.global(QStringLiteral("System.security"));
    EXPECT_EQ(env.call(security, QStringLiteral("allowDomain"), {Value("example.org")}).asBool(), true);
    EXPECT_EQ(env.call(security, QStringLiteral("allowDomain"), {Value()}).asBool(), true);
    EXPECT_EQ(env.call(security, QStringLiteral("allowDomain")).asBool(), false);
    Value product = env.make(QStringLiteral("System.Product"), {Value("component")});
    ASSERT_NE(product.asObject(), nullptr);
    EXPECT_EQ(env.call(product, QStringLiteral("download")).asBool(), false);
    EXPECT_EQ(env.call(product, QStringLiteral("launch")).asBool(), false);
}

// What a movie traces in its first frame.
std::vector<std::string> traceOfFirstFrame(const SwfWriter& w) {
    swf::HostCallbacks host;
    std::vector<std::string> trace;
    host.trace = [&trace](const std::string& s) { trace.push_back(s); };
    swf::Player player(host);
    player.setScriptHostFactory(swf::avm1ScriptHostFactory());
    const bool loaded = player.load(w.bytes(), "test.swf").ok();
    EXPECT_TRUE(loaded);
    if (loaded) player.runFrame();
    return trace;
}

// Object.registerClass: movies before version 7 share one table that ignores
// case, later movies another; an exported button never takes a class.
struct Registration {
    int version;
    const char* registeredAs;
    uint16_t exportedId; // 2: a clip, 3: a button
    bool constructed;
};
class RegisterClass : public ::testing::TestWithParam<Registration> {};
TEST_P(RegisterClass, AttachMovieConstructsWithTheMatchingClass) {
    const Registration& r = GetParam();
    SwfWriter sprite(r.version);
    sprite.showFrame();
    SwfWriter w(r.version);
    w.defineSprite(2, sprite);
    w.defineButton2(3, {}, {});
    w.exportAssets({{r.exportedId, "sym"}});
    avm1test::Asm a;
    a.defineFunction("C", {}, avm1test::Asm().push("constructed").trace())
        .getVariable("C").push(r.registeredAs).push(2).getVariable("Object").push("registerClass").callMethod().pop()
        .push(1).push("made").push("sym").push(3).getVariable("_root").push("attachMovie").callMethod().pop();
    w.doAction(a.bytes()).showFrame();
    std::vector<std::string> trace = traceOfFirstFrame(w);
    EXPECT_EQ(trace, r.constructed ? std::vector<std::string>{"constructed"} : std::vector<std::string>{});
}
INSTANTIATE_TEST_SUITE_P(Builtins, RegisterClass,
                         ::testing::Values(Registration{6, "sym", 2, true}, Registration{6, "SYM", 2, true},
                                           Registration{7, "sym", 2, true}, Registration{7, "SYM", 2, false},
                                           Registration{8, "sym", 3, false}));

TEST(BuiltinsObject, RegisteredClassSeesTheFirstFramesChildren) {
    SwfWriter inner(8);
    inner.showFrame();
    SwfWriter outer(8);
    outer.placeObject2({.depth = 1, .characterId = 2, .name = "box"});
    outer.showFrame();
    SwfWriter w(8);
    w.defineSprite(2, inner);
    w.defineSprite(3, outer);
    w.exportAssets({{3, "withBox"}});
    avm1test::Asm a;
    a.defineFunction("C", {}, avm1test::Asm().getVariable("this").push("box").getMember().trace())
        .getVariable("C").push("withBox").push(2).getVariable("Object").push("registerClass").callMethod().pop()
        .push(1).push("made").push("withBox").push(3).getVariable("_root").push("attachMovie").callMethod().pop();
    w.doAction(a.bytes()).showFrame();
    std::vector<std::string> trace = traceOfFirstFrame(w);
    EXPECT_EQ(trace, std::vector<std::string>{"_level0.made.box"});
}

// _rotation reads back what a script set, within -180..180, even through
// later position and scale changes; NaN leaves it alone, an infinity reads NaN.
struct RotationCase {
    double set;
    double read;
};
class ClipRotation : public ::testing::TestWithParam<RotationCase> {};
TEST_P(ClipRotation, ReadsBackAsSet) {
    Env env;
    Value mc = env.rootMember(QStringLiteral("mc"));
    ASSERT_NE(mc.asObject(), nullptr);
    env.vm().setMember(mc.asObject(), QStringLiteral("_rotation"), Value(30.0));
    env.vm().setMember(mc.asObject(), QStringLiteral("_rotation"), Value(GetParam().set));
    env.vm().setMember(mc.asObject(), QStringLiteral("_x"), Value(12.0));
    env.vm().setMember(mc.asObject(), QStringLiteral("_xscale"), Value(50.0));
    double read = env.vm().toNumber(env.vm().getMember(mc, QStringLiteral("_rotation")));
    if (std::isnan(GetParam().read)) EXPECT_TRUE(std::isnan(read)) << read;
    else EXPECT_EQ(read, GetParam().read);
}
INSTANTIATE_TEST_SUITE_P(Builtins, ClipRotation,
                         ::testing::Values(RotationCase{262, -98}, RotationCase{-98, -98}, RotationCase{180, 180},
                                           RotationCase{182, -178}, RotationCase{-190, 170}, RotationCase{720.5, 0.5},
                                           RotationCase{std::nan(""), 30}, RotationCase{INFINITY, std::nan("")},
                                           RotationCase{-INFINITY, std::nan("")}));

// localToGlobal converts only a point with its own numeric x and y.
struct PointCase {
    const char* what;
    Value y;
    bool inherited;
    double x;
};
class LocalToGlobal : public ::testing::TestWithParam<PointCase> {};
TEST_P(LocalToGlobal, ConvertsOnlyNumericOwnCoordinates) {
    Env env;
    Value mc = env.rootMember(QStringLiteral("mc"));
    env.vm().setMember(mc.asObject(), QStringLiteral("_x"), Value(100.0));
    Object* proto = env.vm().newObject(env.vm().objectProto);
    Object* pt = env.vm().newObject(proto);
    env.vm().setMember(pt, QStringLiteral("x"), Value(10.0));
    env.vm().setMember(GetParam().inherited ? proto : pt, QStringLiteral("y"), GetParam().y);
    env.call(mc, QStringLiteral("localToGlobal"), {Value(pt)});
    EXPECT_EQ(env.vm().toNumber(env.vm().getMember(Value(pt), QStringLiteral("x"))), GetParam().x) << GetParam().what;
}
INSTANTIATE_TEST_SUITE_P(Builtins, LocalToGlobal,
                         ::testing::Values(PointCase{"numbers", Value(10.0), false, 110},
                                           PointCase{"string y", Value("10"), false, 10},
                                           PointCase{"boolean y", Value(true), false, 10},
                                           PointCase{"null y", Value::null(), false, 10},
                                           PointCase{"inherited y", Value(10.0), true, 10}));

TEST(BuiltinsClip, GlobalToLocalLeavesThePointWhenTheClipHasNoArea) {
    Env env;
    Value mc = env.rootMember(QStringLiteral("mc"));
    env.vm().setMember(mc.asObject(), QStringLiteral("_xscale"), Value(0.0));
    Value pt = env.object({{QStringLiteral("x"), Value(123.0)}, {QStringLiteral("y"), Value(234.0)}});
    env.call(mc, QStringLiteral("globalToLocal"), {pt});
    EXPECT_EQ(env.vm().toNumber(env.vm().getMember(pt, QStringLiteral("x"))), 123);
    EXPECT_EQ(env.vm().toNumber(env.vm().getMember(pt, QStringLiteral("y"))), 234);
}

} // namespace
