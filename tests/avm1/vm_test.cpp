// The virtual machine on its own: action bytes run against a bare timeline,
// judged by what they trace.
#include "engine/avm1/clip_object.h"
#include "engine/avm1/interpreter.h"
#include "engine/avm1/vm.h"
#include "engine/core/limits.h"
#include "tests/avm1/action_builder.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using avm1test::Asm;
using swf::avm1::ClipObject;
using swf::avm1::Vm;
using swf::avm1::VmHost;

struct RunResult {
    std::vector<std::string> trace;
    std::vector<std::string> warnings;
    std::vector<std::string> opened;
    bool halted = false;
};

RunResult run(int version, const Asm& program) {
    RunResult out;
    VmHost host;
    host.trace = [&](const QString& s) { out.trace.push_back(s.toStdString()); };
    host.log = [&](swf::LogLevel level, const std::string& m) {
        if (level == swf::LogLevel::Warning) out.warnings.push_back(m);
    };
    host.openUrl = [&](const QString& url, const QString&) { out.opened.push_back(url.toStdString()); };
    Vm vm(version, host);
    auto* root = vm.make<ClipObject>(vm.clipProto);
    vm.setRoot(root);
    std::vector<uint8_t> code = program.bytes();
    vm.beginFrame();
    vm.runActions(code, root, version);
    out.halted = vm.halted();
    return out;
}

// Calls obj.method(args...) and leaves the result on the stack.
Asm& callMethod(Asm& a, const std::string& obj, const std::string& method, std::vector<Asm> args = {}) {
    for (auto it = args.rbegin(); it != args.rend(); ++it) a.raw(it->body());
    a.push(int(args.size())).getVariable(obj).push(method).callMethod();
    return a;
}
Asm callExpr(const std::string& obj, const std::string& method, std::vector<Asm> args = {}) {
    Asm a;
    callMethod(a, obj, method, std::move(args));
    return a;
}
Asm value(const std::string& s) { return Asm().push(s); }
Asm value(double d) { return Asm().push(d); }

// ---- Version-dependent conversions ------------------------------------------------------

struct ConversionCase {
    const char* name;
    int version;
    Asm program;
    std::vector<std::string> expected;
};

class Conversions : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(Conversions, TraceMatches) {
    const ConversionCase& c = GetParam();
    EXPECT_EQ(run(c.version, c.program).trace, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Avm1, Conversions,
    ::testing::Values(
        ConversionCase{"UndefinedConcatV6", 6, Asm().pushUndefined().push("x").op(0x47).trace(), {"x"}},
        ConversionCase{"UndefinedConcatV7", 7, Asm().pushUndefined().push("x").op(0x47).trace(), {"undefinedx"}},
        ConversionCase{"UndefinedToNumberV6", 6, Asm().pushUndefined().op(0x4A).trace(), {"0"}},
        ConversionCase{"UndefinedToNumberV7", 7, Asm().pushUndefined().op(0x4A).trace(), {"NaN"}},
        ConversionCase{"Swf4AddReadsLeadingNumber", 4, Asm().push("150a").push("1").op(0x0A).trace(), {"151"}},
        ConversionCase{"Swf4AddIgnoresHex", 4, Asm().push("0x10").push(1).op(0x0A).trace(), {"1"}},
        ConversionCase{"HexString", 6, Asm().push("0x10").op(0x4A).trace(), {"16"}},
        ConversionCase{"OctalString", 6, Asm().push("010").op(0x4A).trace(), {"8"}},
        ConversionCase{"TrailingTextIsNaN", 6, Asm().push("12abc").op(0x4A).trace(), {"NaN"}},
        ConversionCase{"Swf4EqualsPushesNumber", 4, Asm().push(1).push(1).op(0x0E).trace(), {"1"}},
        ConversionCase{"Swf5EqualsPushesBoolean", 5, Asm().push(1).push(1).op(0x0E).trace(), {"true"}},
        ConversionCase{"StringTruthV6", 6, Asm().push("abc").op(0x12).trace(), {"true"}},
        ConversionCase{"StringTruthV7", 7, Asm().push("abc").op(0x12).trace(), {"false"}},
        ConversionCase{"LargeNumberExponent", 8, Asm().push(1e21).trace(), {"1e+21"}},
        ConversionCase{"FifteenDigits", 8, Asm().push(1.0 / 3.0).trace(), {"0.333333333333333"}},
        ConversionCase{"NamesIgnoreCaseBeforeV7", 6,
                       Asm().push("Foo").push(1).setVariable().getVariable("foo").trace(), {"1"}},
        ConversionCase{"NamesKeepCaseFromV7", 7,
                       Asm().push("Foo").push(1).setVariable().getVariable("foo").trace(), {"undefined"}},
        ConversionCase{"NaNStrictEqualsNaN", 8, Asm().push(std::nan("")).push(std::nan("")).op(0x66).trace(),
                       {"true"}},
        ConversionCase{"NullEqualsUndefined", 6, Asm().pushNull().pushUndefined().op(0x49).trace(), {"true"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Built-ins ---------------------------------------------------------------------------

struct BuiltinCase {
    const char* name;
    Asm program;
    std::vector<std::string> expected;
};

class Builtins : public ::testing::TestWithParam<BuiltinCase> {};

TEST_P(Builtins, TraceMatches) { EXPECT_EQ(run(8, GetParam().program).trace, GetParam().expected); }

Asm arrayOf(std::vector<Asm> items) {
    Asm a;
    for (auto it = items.rbegin(); it != items.rend(); ++it) a.raw(it->body());
    return a.push(int(items.size())).op(0x42);
}
// var a = <array>; then a.method(args); trace(result); trace(a)
Asm arrayCall(Asm array, const std::string& method, std::vector<Asm> args) {
    Asm a;
    a.push("a").raw(array.body()).setVariable();
    callMethod(a, "a", method, std::move(args)).trace();
    return a.getVariable("a").trace();
}

INSTANTIATE_TEST_SUITE_P(
    Avm1, Builtins,
    ::testing::Values(
        BuiltinCase{"SortStrings", arrayCall(arrayOf({value("b"), value("C"), value("a")}), "sort", {}),
                    {"C,a,b", "C,a,b"}},
        BuiltinCase{"SortCaseInsensitive", arrayCall(arrayOf({value("b"), value("C"), value("a")}), "sort", {value(1)}),
                    {"a,b,C", "a,b,C"}},
        BuiltinCase{"SortNumericDescending", arrayCall(arrayOf({value(10), value(9), value(100)}), "sort", {value(18)}),
                    {"100,10,9", "100,10,9"}},
        BuiltinCase{"SortDefaultIsTextual", arrayCall(arrayOf({value(10), value(9), value(100)}), "sort", {}),
                    {"10,100,9", "10,100,9"}},
        BuiltinCase{"SortReturnIndexedArray", arrayCall(arrayOf({value("b"), value("a")}), "sort", {value(8)}),
                    {"1,0", "b,a"}},
        BuiltinCase{"SortUniqueFails", arrayCall(arrayOf({value("a"), value("a")}), "sort", {value(4)}), {"0", "a,a"}},
        BuiltinCase{"Splice", arrayCall(arrayOf({value(1), value(2), value(3), value(4)}), "splice",
                                        {value(1), value(2), value("x")}),
                    {"2,3", "1,x,4"}},
        BuiltinCase{"SliceNegative", arrayCall(arrayOf({value(1), value(2), value(3)}), "slice", {value(-2)}),
                    {"2,3", "1,2,3"}},
        BuiltinCase{"JoinSeparator", arrayCall(arrayOf({value(1), value(2)}), "join", {value("-")}), {"1-2", "1,2"}},
        BuiltinCase{"ConcatFlattensOneLevel",
                    arrayCall(arrayOf({value(1)}), "concat", {arrayOf({value(2), value(3)}), value(4)}),
                    {"1,2,3,4", "1"}},
        BuiltinCase{"PushReturnsLength", arrayCall(arrayOf({value(1)}), "push", {value(2), value(3)}), {"3", "1,2,3"}},
        BuiltinCase{"StringMethods",
                    [] {
                        Asm a;
                        a.push("s").push("Hello World").setVariable();
                        callMethod(a, "s", "substr", {value(-5), value(3)}).trace();
                        callMethod(a, "s", "substring", {value(7), value(2)}).trace();
                        callMethod(a, "s", "indexOf", {value("o"), value(5)}).trace();
                        callMethod(a, "s", "split", {value(" ")}).trace();
                        callMethod(a, "s", "toUpperCase").trace();
                        callMethod(a, "s", "charCodeAt", {value(1)}).trace();
                        return a;
                    }(),
                    {"Wor", "llo W", "7", "Hello,World", "HELLO WORLD", "101"}},
        BuiltinCase{"FromCharCode", callExpr("String", "fromCharCode",
                                               {value(72), value(105)}).trace(),
                    {"Hi"}},
        BuiltinCase{"NumberRadix",
                    [] {
                        Asm a;
                        a.push("n").push(255).setVariable();
                        callMethod(a, "n", "toString", {value(16)}).trace();
                        callMethod(a, "n", "toString", {value(2)}).trace();
                        return a;
                    }(),
                    {"ff", "11111111"}},
        BuiltinCase{"ParseIntAndFloat",
                    [] {
                        Asm a;
                        a.raw(value("0x1F").body()).push(1).push("parseInt").callFunction().trace();
                        a.raw(value(2).body()).raw(value("101").body()).push(2).push("parseInt").callFunction().trace();
                        a.raw(value("3.5e1xyz").body()).push(1).push("parseFloat").callFunction().trace();
                        return a;
                    }(),
                    {"31", "5", "35"}},
        BuiltinCase{"EscapeUnescape",
                    [] {
                        Asm a;
                        a.raw(value("a b&c").body()).push(1).push("escape").callFunction().trace();
                        a.raw(value("%41%20").body()).push(1).push("unescape").callFunction().trace();
                        return a;
                    }(),
                    {"a%20b%26c", "A "}},
        BuiltinCase{"MathMinTakesTwo", callExpr("Math", "min", {value(3), value(2)}).trace(),
                    {"2"}},
        BuiltinCase{"DateUtc",
                    callExpr("Date", "UTC", {value(2000), value(0), value(1)}).trace(),
                    {"946684800000"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Functions, scopes and exceptions ------------------------------------------------------

TEST(Avm1Functions, DefineFunctionCallsWithArgumentsAndReturn) {
    Asm body;
    body.getVariable("a").getVariable("b").op(0x47).op(0x3E);
    Asm a;
    a.defineFunction("add", {"a", "b"}, body);
    a.push(2).push(40).push(2).push("add").callFunction().trace();
    EXPECT_EQ(run(6, a).trace, std::vector<std::string>{"42"});
}

TEST(Avm1Functions, Function2PreloadsThisAndParameterRegisters) {
    // function f(x) { return this._name + x } with `this` in r1 and x in r2.
    Asm body;
    body.pushRegister(1).push("tag").getMember().pushRegister(2).op(0x47).op(0x3E);
    Asm a;
    a.defineFunction2("f", {{2, "x"}}, 3, 0x0001, body);
    a.push("o").push(0).push("Object").op(0x40).setVariable();
    a.getVariable("o").push("tag").push("T").setMember();
    a.getVariable("o").push("m").getVariable("f").setMember();
    callMethod(a, "o", "m", {value("!")}).trace();
    EXPECT_EQ(run(7, a).trace, std::vector<std::string>{"T!"});
}

TEST(Avm1Functions, TryCatchFinallyRunsInOrder) {
    Asm body, handler, fin;
    body.push("try").trace().push("boom").op(0x2A).push("not reached").trace();
    handler.push("catch ").getVariable("e").op(0x47).trace();
    fin.push("finally").trace();
    Asm a;
    a.tryBlock(body, "e", &handler, &fin).push("after").trace();
    EXPECT_EQ(run(7, a).trace, (std::vector<std::string>{"try", "catch boom", "finally", "after"}));
}

TEST(Avm1Functions, ReturnInsideTryRunsFinally) {
    Asm body, fin;
    body.push("r").op(0x3E);
    fin.push("finally").trace();
    Asm fn;
    fn.tryBlock(body, "", nullptr, &fin);
    Asm a;
    a.defineFunction("f", {}, fn).push(0).push("f").callFunction().trace();
    EXPECT_EQ(run(7, a).trace, (std::vector<std::string>{"finally", "r"}));
}

TEST(Avm1Functions, UncaughtThrowEndsOnlyItsBlock) {
    Asm a;
    a.push("before").trace().push("x").op(0x2A).push("after").trace();
    RunResult r = run(7, a);
    EXPECT_EQ(r.trace, (std::vector<std::string>{"before", "Warning: Uncaught exception, x"}));
    EXPECT_FALSE(r.halted);
}

TEST(Avm1Functions, ForInListsInCreationOrder) {
    // for (k in {a:1, b:2, c:3}) trace(k)
    Asm a;
    a.push("a").push(1).push("b").push(2).push("c").push(3).push(3).op(0x43).op(0x55);
    // loop: r0 = pop; if (r0 == null) break; trace(r0)
    Asm loop;
    loop.storeRegister(0).pushNull().op(0x49);
    Asm tail;
    tail.pushRegister(0).trace();
    const int16_t tailJump = int16_t(tail.size() + 5);
    loop.ifTrue(tailJump).raw(tail.body());
    const int16_t back = int16_t(-(int(loop.size()) + 5));
    loop.jump(back);
    a.raw(loop.body()).pop();
    EXPECT_EQ(run(7, a).trace, (std::vector<std::string>{"c", "b", "a"}));
}

TEST(Avm1Functions, ExtendsAndSuperCallTheParentConstructor) {
    // function A() { trace("A") }  function B() { super(); trace("B") }  B extends A; new B()
    Asm ctorA;
    ctorA.push("A").trace();
    Asm ctorB;
    ctorB.push(0).getVariable("super").pushUndefined().callMethod().pop().push("B").trace();
    Asm a;
    a.defineFunction("A", {}, ctorA).defineFunction("B", {}, ctorB);
    a.getVariable("B").getVariable("A").op(0x69);
    a.push("o").push(0).push("B").op(0x40).setVariable();
    a.getVariable("o").getVariable("A").op(0x54).trace();
    EXPECT_EQ(run(7, a).trace, (std::vector<std::string>{"A", "B", "true"}));
}

TEST(Avm1Functions, AddPropertyGetterAndWatch) {
    // o.addProperty("p", function(){return 5}, null); trace(o.p)
    Asm getter;
    getter.push(5).op(0x3E);
    Asm a;
    a.push("o").push(0).push("Object").op(0x40).setVariable();
    a.pushNull();
    a.defineFunction("", {}, getter);
    a.push("p").push(3).getVariable("o").push("addProperty").callMethod().pop();
    a.getVariable("o").push("p").getMember().trace();
    // o.watch("w", function(n, o, v){ return v * 2 }); o.w = 4; trace(o.w)
    Asm watcher;
    watcher.getVariable("v").push(2).op(0x0C).op(0x3E);
    a.defineFunction("", {"n", "o", "v"}, watcher);
    a.push("w").push(2).getVariable("o").push("watch").callMethod().pop();
    a.getVariable("o").push("w").push(4).setMember();
    a.getVariable("o").push("w").getMember().trace();
    EXPECT_EQ(run(7, a).trace, (std::vector<std::string>{"5", "8"}));
}

TEST(Avm1Functions, ASSetPropFlagsHidesFromForIn) {
    Asm a;
    a.push("o").push("a").push(1).push("b").push(2).push(2).op(0x43).setVariable();
    a.push(0).push(1).push("a").getVariable("o").push(4).push("ASSetPropFlags").callFunction().pop();
    a.getVariable("o").op(0x55);
    Asm loop;
    loop.storeRegister(0).pushNull().op(0x49);
    Asm tail;
    tail.pushRegister(0).trace();
    loop.ifTrue(int16_t(tail.size() + 5)).raw(tail.body());
    loop.jump(int16_t(-(int(loop.size()) + 5)));
    a.raw(loop.body()).pop();
    EXPECT_EQ(run(7, a).trace, std::vector<std::string>{"b"});
}

// ---- Limits ------------------------------------------------------------------------------------

TEST(Avm1Limits, InfiniteLoopIsHaltedWithOneWarning) {
    Asm a;
    a.push("start").trace().jump(-5);
    RunResult r = run(7, a);
    EXPECT_EQ(r.trace, std::vector<std::string>{"start"});
    EXPECT_TRUE(r.halted);
    EXPECT_EQ(r.warnings.size(), 1u);
}

TEST(Avm1Limits, UnboundedRecursionIsHalted) {
    Asm body;
    body.push(0).push("f").callFunction().op(0x3E);
    Asm a;
    a.defineFunction("f", {}, body).push(0).push("f").callFunction().pop().push("after").trace();
    RunResult r = run(7, a);
    EXPECT_TRUE(r.halted);
    EXPECT_TRUE(r.trace.empty());
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("recursion"), std::string::npos);
}

TEST(Avm1Limits, HaltedScriptsLeaveTheirObjectsToTheCollector) {
    // o = {next: o} 20000 times, kept on the timeline; then endless recursion.
    Asm step;
    step.push("o").push("next").getVariable("o").push(1).op(0x43).setVariable();
    step.push("i").getVariable("i").op(0x50).setVariable();
    Asm test;
    test.getVariable("i").push(20000).op(0x48).op(0x12);
    test.ifTrue(int16_t(step.size() + 5));
    Asm body;
    body.push(0).push("f").callFunction().op(0x3E);
    Asm a;
    a.push("i").push(0).setVariable().raw(test.body()).raw(step.body()).jump(int16_t(-int(test.size() + step.size() + 5)));
    a.defineFunction("f", {}, body).push(0).push("f").callFunction().pop();

    Vm vm(8, VmHost{});
    auto* root = vm.make<ClipObject>(vm.clipProto);
    vm.setRoot(root);
    const std::vector<uint8_t> code = a.bytes();
    vm.beginFrame();
    vm.runActions(code, root, 8);
    ASSERT_TRUE(vm.halted());
    const size_t held = vm.heapSize();
    ASSERT_GT(held, 20000u);
    vm.collect();
    EXPECT_LT(vm.heapSize(), held - 20000);
    EXPECT_LT(vm.budget().heapBytes(), size_t(1) << 20);
}

TEST(Avm1Limits, TruncatedActionsEndTheBlock) {
    // A Push whose declared length runs past the end of the code.
    Asm a;
    a.push("ok").trace().raw({0x96, 0x40, 0x00, 0x00, 'x'});
    RunResult r = run(7, a);
    EXPECT_EQ(r.trace, std::vector<std::string>{"ok"});
    EXPECT_FALSE(r.halted);
}

// ---- getURL -----------------------------------------------------------------------------------

struct UrlCase {
    const char* name;
    const char* url;
    bool opened;
};

class GetUrlSchemes : public ::testing::TestWithParam<UrlCase> {};

TEST_P(GetUrlSchemes, OnlyWebAndMailAddressesReachTheHost) {
    const UrlCase& c = GetParam();
    RunResult r = run(8, Asm().getUrl(c.url, "_blank"));
    EXPECT_EQ(r.opened.size(), c.opened ? 1u : 0u);
    EXPECT_EQ(r.warnings.size(), c.opened ? 0u : 1u);
    // GetURL2 takes the same path.
    RunResult r2 = run(8, Asm().push(c.url).push("_blank").op(0x9A, {0}));
    EXPECT_EQ(r2.opened.size(), c.opened ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Avm1, GetUrlSchemes,
                         ::testing::Values(UrlCase{"Http", "http://example.com/", true},
                                           UrlCase{"Https", "HTTPS://example.com/a", true},
                                           UrlCase{"Mailto", "mailto:a@example.com", true},
                                           UrlCase{"Javascript", "javascript:alert(1)", false},
                                           UrlCase{"File", "file:///etc/passwd", false},
                                           UrlCase{"Ftp", "ftp://example.com/", false},
                                           UrlCase{"NoScheme", "page.html", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Action table ---------------------------------------------------------------------------

TEST(Avm1ActionTable, EveryActionOfSwf3To7HasARowWithItsVersion) {
    // The action codes of SWF 3 to 7 with the version that introduced them.
    const std::pair<uint8_t, int> expected[] = {
        {0x04, 3}, {0x07, 3}, {0x81, 3}, {0x83, 3}, {0x8A, 3}, {0x8B, 3}, {0x8C, 3}, {0x0A, 4}, {0x15, 4},
        {0x1C, 4}, {0x26, 4}, {0x96, 4}, {0x99, 4}, {0x9A, 4}, {0x9D, 4}, {0x9E, 4}, {0x9F, 4}, {0x3D, 5},
        {0x47, 5}, {0x52, 5}, {0x88, 5}, {0x94, 5}, {0x9B, 5}, {0x54, 6}, {0x55, 6}, {0x66, 6}, {0x67, 6},
        {0x68, 6}, {0x2A, 7}, {0x2B, 7}, {0x2C, 7}, {0x69, 7}, {0x8E, 7}, {0x8F, 7},
    };
    for (auto [code, version] : expected) {
        const auto* a = swf::avm1::Interpreter::action(code);
        ASSERT_NE(a, nullptr) << int(code);
        EXPECT_EQ(a->minVersion, version) << a->name;
    }
    EXPECT_EQ(swf::avm1::Interpreter::action(0x01), nullptr);
}

TEST(Avm1Heap, CollectionFreesUnreachableObjects) {
    Vm vm(8);
    auto* root = vm.make<ClipObject>(vm.clipProto);
    vm.setRoot(root);
    const size_t base = [&] { vm.collect(); return vm.heapSize(); }();
    // Garbage: 100 unreferenced objects; one kept on the root.
    Asm a;
    for (int i = 0; i < 100; ++i) a.push(0).push("Object").op(0x40).pop();
    a.push("kept").push(0).push("Object").op(0x40).setVariable();
    std::vector<uint8_t> code = a.bytes();
    vm.runActions(code, root, 8);
    EXPECT_GE(vm.heapSize(), base + 100);
    vm.collect();
    EXPECT_LT(vm.heapSize(), base + 10);
    EXPECT_TRUE(vm.getMember(swf::avm1::Value(static_cast<swf::avm1::Object*>(root)), "kept").isObject());
}

} // namespace

namespace {

TEST(Avm1Limits, SelfReadingGetterStopsAtTheGetterDepth) {
    // o.addProperty("p", function() { n++; return this.p; }, null); trace(o.p); trace(n)
    Asm getter;
    getter.push("n").getVariable("n").op(0x50).setVariable();
    getter.getVariable("this").push("p").getMember().op(0x3E);
    Asm a;
    a.push("n").push(0).setVariable();
    a.push("o").push(0).push("Object").op(0x40).setVariable();
    a.pushNull().defineFunction("", {}, getter).push("p").push(3).getVariable("o").push("addProperty").callMethod().pop();
    a.getVariable("o").push("p").getMember().trace().getVariable("n").trace();
    RunResult r = run(7, a);
    EXPECT_FALSE(r.halted);
    EXPECT_EQ(r.trace, (std::vector<std::string>{"undefined", std::to_string(swf::limits::kMaxGetterDepth + 1)}));
}

TEST(Avm1Limits, EachPropertyCountsItsOwnGetterDepth) {
    // a.p's getter reads b.p, whose getter reads a.p: each slot nests to the getter depth.
    auto crossGetter = [](const std::string& other) {
        Asm g;
        g.push("n").getVariable("n").op(0x50).setVariable();
        g.getVariable(other).push("p").getMember().op(0x3E);
        return g;
    };
    Asm a;
    a.push("n").push(0).setVariable();
    for (const char* name : {"a", "b"}) a.push(name).push(0).push("Object").op(0x40).setVariable();
    a.pushNull().defineFunction("", {}, crossGetter("b")).push("p").push(3).getVariable("a").push("addProperty")
        .callMethod().pop();
    a.pushNull().defineFunction("", {}, crossGetter("a")).push("p").push(3).getVariable("b").push("addProperty")
        .callMethod().pop();
    a.getVariable("a").push("p").getMember().trace().getVariable("n").trace();
    RunResult r = run(7, a);
    EXPECT_FALSE(r.halted);
    EXPECT_EQ(r.trace, (std::vector<std::string>{"undefined", std::to_string(2 * (swf::limits::kMaxGetterDepth + 1))}));
}

} // namespace
