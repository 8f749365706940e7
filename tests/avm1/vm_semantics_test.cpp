// Language rules of the VM that depend on the movie's version or on the
// scope chain: comparisons, conversions, variable paths, DefineFunction2
// registers and property flags. Each case is a small action program judged
// by what it traces.
#include "engine/avm1/clip_object.h"
#include "engine/avm1/vm.h"
#include "engine/core/limits.h"
#include "tests/avm1/action_builder.h"

#include <cmath>

#include <gtest/gtest.h>

namespace {

using avm1test::Asm;
using avm1test::Bytes;
using swf::avm1::ClipObject;
using swf::avm1::Object;
using swf::avm1::Value;
using swf::avm1::Vm;
using swf::avm1::VmHost;

// Action codes used below.
constexpr uint8_t kLess = 0x0F, kEquals = 0x0E, kDivide = 0x0D, kStringLength = 0x14, kStringExtract = 0x15,
                  kCharToAscii = 0x32, kAsciiToChar = 0x33, kDefineLocal = 0x3C, kDefineLocal2 = 0x41,
                  kInitObject = 0x43, kInitArray = 0x42, kTypeOf = 0x44, kAdd2 = 0x47, kLess2 = 0x48,
                  kEquals2 = 0x49, kToNumber = 0x4A, kToString = 0x4B, kGreater = 0x67, kDelete = 0x3A,
                  kEnumerate2 = 0x55, kStrictEquals = 0x66;

std::vector<std::string> run(int version, const Asm& program, const std::function<void(Vm&, ClipObject*)>& setup = {}) {
    std::vector<std::string> trace;
    VmHost host;
    host.trace = [&](const QString& s) { trace.push_back(s.toStdString()); };
    Vm vm(version, host);
    auto* root = vm.make<ClipObject>(vm.clipProto);
    vm.setRoot(root);
    if (setup) setup(vm, root);
    std::vector<uint8_t> code = program.bytes();
    vm.beginFrame();
    vm.runActions(code, root, version);
    return trace;
}

// A function defined with DefineFunction (anonymous) that traces `text` and returns `result`.
Asm tracingFunction(const std::string& text, const Asm& result) {
    Asm body;
    body.push(text).trace().raw(result.body()).op(0x3E);
    return Asm().defineFunction("", {}, body);
}

// with (name) { body }
Asm withBlock(const std::string& name, const Asm& body) {
    Asm a;
    a.getVariable(name).op(0x94, Bytes{uint8_t(body.size()), uint8_t(body.size() >> 8)}).raw(body.body());
    return a;
}

struct Case {
    const char* name;
    int version;
    Asm program;
    std::vector<std::string> expected;
};

class Semantics : public ::testing::TestWithParam<Case> {};

TEST_P(Semantics, TraceMatches) {
    const Case& c = GetParam();
    EXPECT_EQ(run(c.version, c.program), c.expected);
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

// ---- Comparisons by version -----------------------------------------------------------------

INSTANTIATE_TEST_SUITE_P(
    Comparisons, Semantics,
    ::testing::Values(
        // The SWF 4 actions push booleans, which SWF 4 prints as 1/0 and later versions as words.
        Case{"Swf4LessPrintsDigit", 4, Asm().push(1).push(2).op(kLess).trace(), {"1"}},
        Case{"Swf4LessIsBoolean", 4, Asm().push(1).push(2).op(kLess).op(kTypeOf).trace(), {"boolean"}},
        Case{"Swf5EqualsPrintsWord", 5, Asm().push(1).push(1).op(kEquals).trace(), {"true"}},
        // SWF 4 code has no globals: NaN and Infinity are unset names, read as 0.
        Case{"Swf4NaNIsUnset", 4, Asm().getVariable("NaN").push(1).op(kLess).trace(), {"1"}},
        Case{"Swf5NaNIsGlobal", 5, Asm().getVariable("NaN").op(kTypeOf).trace(), {"number"}},
        // A function body follows SWF 5 rules even in an SWF 4 movie.
        Case{"Swf4FunctionDividesLikeSwf5", 4,
             Asm().defineFunction("f", {}, Asm().push(4).push(0).op(kDivide).trace())
                 .push(0).push("f").callFunction().pop()
                 .push(4).push(0).op(kDivide).trace(),
             {"Infinity", "#ERROR#"}},
        // An object without valueOf reads as undefined: 0 before SWF 7, NaN from SWF 7.
        Case{"BareObjectLessSwf6", 6,
             Asm().push("__proto__").pushNull().push(1).op(kInitObject).push(1).op(kLess2).trace(), {"true"}},
        Case{"BareObjectLessSwf7", 7,
             Asm().push("__proto__").pushNull().push(1).op(kInitObject).push(1).op(kLess2).trace(), {"undefined"}},
        // valueOf giving an object: false at once, the other side is not read.
        Case{"ObjectWithoutPrimitiveLessIsFalse", 6,
             Asm().push(0).op(kInitObject)
                 .push("valueOf").raw(tracingFunction("right", Asm().push(1)).body()).push(1).op(kInitObject)
                 .op(kLess2).trace(),
             {"false"}},
        Case{"GreaterWithNaNIsUndefined", 6, Asm().push("a").push(1).op(kGreater).trace(), {"undefined"}},
        Case{"StringsCompareAsText", 6, Asm().push("b").push("a").op(kGreater).trace(), {"true"}},
        // _global has no valueOf, so it equals null.
        // _global came with SWF 6.
        Case{"Swf5HasNoGlobal", 5, Asm().getVariable("_global").op(kTypeOf).trace(), {"undefined"}},
        Case{"GlobalEqualsNull", 6, Asm().getVariable("_global").pushNull().op(kEquals2).trace(), {"true"}},
        Case{"PlainObjectNotNull", 6, Asm().push(0).op(kInitObject).pushNull().op(kEquals2).trace(), {"false"}}),
    caseName);

// ---- Conversions ------------------------------------------------------------------------------

Asm objectWith(const std::string& method, const Asm& fn) {
    Asm a;
    a.push(method).raw(fn.body()).push(1).op(kInitObject);
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, Semantics,
    ::testing::Values(
        // toString giving a non-string names the type instead.
        Case{"ToStringNumberResultNamesType", 7,
             Asm().raw(objectWith("toString", tracingFunction("ts", Asm().push(5))).body()).op(kToString).trace(),
             {"ts", "[type Object]"}},
        // String conversion never falls back to valueOf.
        Case{"StringConversionIgnoresValueOf", 7,
             Asm().push("__proto__").pushNull().push("valueOf")
                 .raw(tracingFunction("vo", Asm().push("v")).body()).push(2).op(kInitObject).trace(),
             {"[type Object]"}},
        // Adding asks valueOf only; a missing one gives undefined.
        Case{"AddWithoutValueOfIsUndefined", 7,
             Asm().push("").push("__proto__").pushNull().push(1).op(kInitObject).op(kAdd2).trace(), {"undefined"}},
        // valueOf returning an object: the object itself is joined as text.
        Case{"AddValueOfObjectUsesToString", 7,
             Asm().push("")
                 .push("valueOf").raw(tracingFunction("vo", Asm().push(0).op(kInitObject)).body())
                 .push("toString").raw(tracingFunction("ts", Asm().push("T")).body())
                 .push(2).op(kInitObject).op(kAdd2).trace(),
             {"vo", "ts", "T"}},
        // __resolve is not asked for valueOf or toString.
        Case{"ConversionSkipsResolve", 7,
             Asm().push("__proto__").pushNull()
                 .push("__resolve").raw(tracingFunction("resolve", Asm().push(1)).body())
                 .push(2).op(kInitObject).op(kToNumber).trace(),
             {"NaN"}},
        // Octal needs the leading zero first and wraps to 32 bits; whitespace makes it decimal.
        Case{"OctalString", 7, Asm().push("010").op(kToNumber).trace(), {"8"}},
        Case{"OctalAfterSpaceIsDecimal", 7, Asm().push(" 010").op(kToNumber).trace(), {"10"}},
        Case{"OctalWraps", 7, Asm().push("-037777777777").op(kToNumber).trace(), {"1"}},
        // Characters: a lone surrogate is the replacement character; codes wrap at 16 bits.
        Case{"ChrWrapsTo16Bits", 6, Asm().push(65616).op(kAsciiToChar).trace(), {"P"}},
        Case{"ChrSurrogateIsReplacement", 6, Asm().push(0xd801).op(kAsciiToChar).op(kCharToAscii).trace(), {"65533"}},
        Case{"SubstringWraps32Bits", 6,
             Asm().push("abcdefgh").push(4294967299.0).push(-4294967294.0).op(kStringExtract).trace(), {"cd"}},
        // An object left by valueOf is asked again by ToNumber: twice in all, then NaN.
        Case{"AddAsksValueOfAgain", 6,
             Asm().push(0).raw(objectWith("valueOf", tracingFunction("vo", Asm().push(0).op(kInitObject))).body())
                 .op(kAdd2).trace(),
             {"vo", "vo", "NaN"}},
        // A movie clip is a primitive of its own: no script method is asked, it has no number,
        // and it reads as its target path.
        Case{"ClipPlusNumberIsNaN", 6,
             Asm().getVariable("this").push("valueOf").raw(tracingFunction("vo", Asm().push(1)).body()).setMember()
                 .push(0).getVariable("this").op(kAdd2).trace(),
             {"NaN"}},
        Case{"ClipPlusTextIsPath", 6,
             Asm().getVariable("this").push("toString").raw(tracingFunction("ts", Asm().push("t")).body()).setMember()
                 .push("").getVariable("this").op(kAdd2).trace(),
             {"_level0"}},
        Case{"ValueOfGivingClipGivesThePath", 6,
             Asm().push("").raw(objectWith("valueOf", Asm().raw(tracingFunction("vo", Asm().getVariable("_level0")).body()))
                                    .body()).op(kAdd2).trace(),
             {"vo", "_level0"}},
        // A String object converts to its own text without asking its toString.
        Case{"StringObjectGivesItsText", 6,
             Asm().push("s").push(1).push("String").op(0x40).storeRegister(1).push("toString")
                 .raw(tracingFunction("ts", Asm().push("t")).body()).setMember()
                 .pushRegister(1).op(kToString).trace(),
             {"s"}},
        // SWF 5 gives a function the number 0; later versions NaN.
        Case{"Swf5FunctionIsZero", 5, Asm().push(2).getVariable("Number").op(kAdd2).trace(), {"2"}},
        Case{"Swf5FunctionDivides", 5, Asm().push(2).getVariable("Number").op(kDivide).trace(), {"Infinity"}},
        Case{"Swf6FunctionIsNaN", 6, Asm().push(2).getVariable("Number").op(kAdd2).trace(), {"NaN"}},
        // int() wraps to 32 bits in every version.
        Case{"ToIntegerWrapsInfinity", 5, Asm().getVariable("Infinity").op(0x18).trace(), {"0"}},
        Case{"ToIntegerWraps2Pow31", 7, Asm().push(2147483648.0).op(0x18).trace(), {"-2147483648"}},
        Case{"ToIntegerWraps2Pow32", 6, Asm().push(-4294967295.0).op(0x18).trace(), {"1"}},
        Case{"StringLengthOfObject", 6,
             Asm().raw(objectWith("toString", tracingFunction("ts", Asm().push(2))).body()).op(kStringLength).trace(),
             {"ts", "13"}}),
    caseName);

// ---- The order SWF 4 actions convert their operands in ------------------------------------------

// An object whose valueOf traces "<name>.valueOf" and gives `number`, and whose toString traces
// "<name>.toString" and gives `text`.
Asm noisy(const std::string& name, int number, const std::string& text) {
    Asm a;
    a.push("valueOf").raw(tracingFunction(name + ".valueOf", Asm().push(number)).body())
        .push("toString").raw(tracingFunction(name + ".toString", Asm().push(text)).body())
        .push(2).op(kInitObject);
    return a;
}
Asm noisyPair(uint8_t action) {
    Asm a;
    a.raw(noisy("a", 1, "x").body()).raw(noisy("b", 2, "y").body()).op(action).trace();
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    CoercionOrder, Semantics,
    ::testing::Values(
        Case{"AddLeftFirst", 4, noisyPair(0x0A), {"a.valueOf", "b.valueOf", "3"}},
        Case{"SubtractRightFirst", 4, noisyPair(0x0B), {"b.valueOf", "a.valueOf", "-1"}},
        Case{"DivideRightFirst", 4, noisyPair(kDivide), {"b.valueOf", "a.valueOf", "0.5"}},
        Case{"LessLeftFirst", 4, noisyPair(kLess), {"a.valueOf", "b.valueOf", "1"}},
        Case{"StringEqualsRightFirst", 4, noisyPair(0x13), {"b.toString", "a.toString", "0"}},
        Case{"StringAddRightFirst", 4, noisyPair(0x21), {"b.toString", "a.toString", "xy"}},
        Case{"StringLessRightFirst", 4, noisyPair(0x29), {"b.toString", "a.toString", "1"}},
        // A target given as an object is its text: the property index is read first.
        Case{"GetPropertyReadsIndexThenTarget", 4,
             Asm().raw(noisy("target", 0, "/").body()).raw(noisy("index", 13, "13").body()).op(0x22).trace(),
             {"index.valueOf", "target.toString", ""}},
        // A property value is converted for its property even when nothing is set.
        Case{"SetPropertyConvertsForTheProperty", 4,
             Asm().push("/nowhere").push(0).raw(noisy("x", 5, "5").body()).op(0x23)
                 .push("/nowhere").push(13).raw(noisy("name", 5, "n").body()).op(0x23)
                 .push("/nowhere").push(15).raw(noisy("url", 5, "u").body()).op(0x23),
             {"x.valueOf", "name.toString"}},
        // Both flags are numbers; only a constraint equal to 1 takes the rectangle off the stack.
        Case{"StartDragReadsTheRectangleOnlyForOne", 4,
             Asm().push(7).push(8).push(9).push(10)
                 .raw(noisy("constrain", 7, "7").body()).raw(noisy("lock", 1, "1").body()).push("/nowhere").op(0x27)
                 .trace(),
             {"lock.valueOf", "constrain.valueOf", "10"}}),
    caseName);

// ---- instanceof and cast ------------------------------------------------------------------------

constexpr uint8_t kInstanceOf = 0x54, kCastOp = 0x2B;

// Register 1 holds a fresh object P.
Asm withProtoInRegister1() { return Asm().push(0).op(kInitObject).storeRegister(1).pop(); }
// { __proto__: P }
Asm objectFromP() { return Asm().push("__proto__").pushRegister(1).push(1).op(kInitObject); }

INSTANTIATE_TEST_SUITE_P(
    InstanceOf, Semantics,
    ::testing::Values(
        Case{"PrimitiveIsNeverAnInstance", 7, Asm().push("s").getVariable("String").op(kInstanceOf).trace(),
             {"false"}},
        Case{"OwnPrototypeMatches", 7,
             withProtoInRegister1().raw(objectFromP().body())
                 .push("prototype").pushRegister(1).push(1).op(kInitObject).op(kInstanceOf).trace(),
             {"true"}},
        // Only the class's own prototype slot counts, not one it inherits.
        Case{"InheritedPrototypeDoesNotCount", 7,
             withProtoInRegister1().raw(objectFromP().body())
                 .push("__proto__").push("prototype").pushRegister(1).push(1).op(kInitObject).push(1).op(kInitObject)
                 .op(kInstanceOf).trace(),
             {"false"}},
        // A text class is wrapped by whatever _global.String is now.
        Case{"PrimitiveClassIsWrappedByTheGlobalString", 7,
             Asm().getVariable("_global").push("String").raw(tracingFunction("wrapped", Asm().pushUndefined()).body())
                 .setMember()
                 .push(0).op(kInitObject).push("right").op(kInstanceOf).trace(),
             {"wrapped", "false"}},
        // cast: a primitive is wrapped and still gives null; an instance gives itself.
        Case{"CastOfPrimitiveIsNull", 7,
             Asm().getVariable("Object").push("s").op(kCastOp).op(kTypeOf).trace()
                 .getVariable("Object").push(0).op(kInitObject).op(kCastOp).op(kTypeOf).trace(),
             {"null", "object"}}),
    caseName);

// ---- Variables, paths and scopes ----------------------------------------------------------------

INSTANTIATE_TEST_SUITE_P(
    Scopes, Semantics,
    ::testing::Values(
        // "a.b.c" tries each scope: the timeline's a.b has no c, _global's has.
        Case{"DotPathFallsThroughScopes", 7,
             Asm().getVariable("_global").push("a")
                 .push("b").push("c").push("G").push(1).op(kInitObject).push(1).op(kInitObject)
                 .setMember()
                 .push("a").push("b").push(0).op(kInitObject).push(1).op(kInitObject).setVariable()
                 .getVariable("a.b.c").trace(),
             {"G"}},
        // Setting through a path takes the first scope where the path leads to an object.
        Case{"DotPathSetFirstObject", 7,
             Asm().push("a").push("b").push(0).op(kInitObject).push(1).op(kInitObject).setVariable()
                 .push("a.b.c").push("set").setVariable()
                 .getVariable("a").push("b").getMember().push("c").getMember().trace(),
             {"set"}},
        // A variable named _root hides the built-in name.
        Case{"RootVariableShadows", 7, Asm().push("_root").push("fake").setVariable().getVariable("_root").trace(),
             {"fake"}},
        // Outside functions DefineLocal2 with a path declares the variable where the path leads.
        Case{"DefineLocal2WithPath", 7,
             Asm().push("/:ghi").op(kDefineLocal2).push("ghi").push(1).getVariable("_root").push("hasOwnProperty")
                 .callMethod().trace(),
             {"true"}},
        // A tellTarget path that leads nowhere leaves no target: an empty GetProperty path reads undefined.
        Case{"FailedSetTargetHasNoTarget", 7,
             Asm().op(0x8B, Bytes{'n', 'o', 'n', 'e', 0}).push("").push(0).op(0x22).trace().op(0x8B, Bytes{0})
                 .push("").push(0).op(0x22).trace(),
             {"undefined", "0"}},
        // A function called by name runs on the object its name was found on.
        Case{"CallFunctionThisIsHolder", 7,
             Asm().push("o").push(0).op(kInitObject).setVariable()
                 .getVariable("o").push("tag").push("on o").setMember()
                 .getVariable("o").push("f")
                 .defineFunction("", {}, Asm().getVariable("this").push("tag").getMember().trace())
                 .setMember()
                 .raw(withBlock("o", Asm().push(0).push("f").callFunction().pop()).body()),
             {"on o"}}),
    caseName);

// ---- Path grammar ------------------------------------------------------------------------------

// name = {H: {v: 42}}
Asm nestedObject(const std::string& name) {
    return Asm().push(name).push("H").push("v").push(42).push(1).op(kInitObject).push(1).op(kInitObject).setVariable();
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Semantics,
    ::testing::Values(
        // Dots separate path elements from SWF 5 on; in SWF 4 they are part of the name.
        Case{"Swf4DotIsPartOfName", 4, Asm().push("a.b").push("x").setVariable().getVariable("a.b").trace(), {"x"}},
        Case{"Swf5DotSeparates", 5, Asm().push("a.b").push("x").setVariable().getVariable("a.b").trace(),
             {"undefined"}},
        Case{"Swf5DotPathReads", 5, nestedObject("o").getVariable("o.H.v").trace(), {"42"}},
        // A variable path with nothing before its ':' or '.' names no variable.
        Case{"EmptyTargetNamesNothing", 7,
             Asm().push("v").push("1").setVariable().getVariable(":v").trace().getVariable(".v").trace()
                 .push(":w").push("2").setVariable().getVariable("w").trace(),
             {"undefined", "undefined", "undefined"}},
        // One path element holds 127 characters; the rest of a longer name is the next element.
        Case{"LongNameIsTwoElements", 7,
             nestedObject(std::string(127, 'n')).getVariable(std::string(127, 'n') + "H:v").trace(), {"42"}}),
    caseName);

// ---- Natives by number ---------------------------------------------------------------------------

// name = ASnative(category, index)
Asm native(const std::string& name, int category, int index) {
    return Asm().push(name).push(index).push(category).push(2).push("ASnative").callFunction().setVariable();
}

INSTANTIATE_TEST_SUITE_P(
    NativeIds, Semantics,
    ::testing::Values(
        // 101 is Object.prototype's row; a method is reached by number whatever its version flags.
        Case{"HasOwnPropertyInSwf5", 5,
             native("h", 101, 5).push("o").push("a").push(1).push(1).op(kInitObject).setVariable()
                 .getVariable("o").push("h").getVariable("h").setMember()
                 .push("a").push(1).getVariable("o").push("h").callMethod().trace(),
             {"true"}},
        // ASnew (2, 0) tells whether the calling function runs for `new`.
        Case{"AsNewInPlainCallAndNew", 7,
             Asm().defineFunction("F", {}, native("n", 2, 0).push(0).push("n").callFunction().trace())
                 .push(0).push("F").callFunction().pop().push(0).push("F").op(0x40).pop(),
             {"false", "true"}}),
    caseName);

// ---- DefineFunction2 registers -----------------------------------------------------------------

// Calls a DefineFunction2 function with `flags` as a method of {tag: "obj"} with
// arguments (1, 2) and traces registers 1 to `regs`.
Asm function2Registers(uint16_t flags, int regs) {
    Asm body;
    for (int r = 1; r <= regs; ++r) body.pushRegister(uint8_t(r)).trace();
    Asm a;
    a.push("o").push("tag").push("obj").push(1).op(kInitObject).setVariable();
    a.getVariable("o").push("f").defineFunction2("", {}, uint8_t(regs + 1), flags, body).setMember();
    a.push(2).push(1).push(2).getVariable("o").push("f").callMethod().pop();
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Function2, Semantics,
    ::testing::Values(
        // this, arguments: a suppressed `this` keeps its register, left undefined.
        Case{"PreloadThisArguments", 7, function2Registers(0x0005, 2), {"[object Object]", "1,2"}},
        Case{"SuppressedThisKeepsRegister", 7, function2Registers(0x0007, 2), {"undefined", "1,2"}},
        // Preloading the arguments wins over suppressing them.
        Case{"ArgumentsPreloadBeatsSuppress", 7, function2Registers(0x000C, 1), {"1,2"}},
        // _root, then _parent (none on _level0: it takes no register), then _global.
        Case{"RootParentGlobal", 7, function2Registers(0x01C0, 3), {"_level0", "[type Object]", "undefined"}}),
    caseName);

// ---- Property flags ---------------------------------------------------------------------------

// o = {p: "v"}; ASSetPropFlags(o, "p", flags, 0) then `then`.
Asm withHiddenP(uint32_t flags, const Asm& then) {
    Asm a;
    a.push("o").push("p").push("v").push(1).op(kInitObject).setVariable();
    a.push(0).push(int(flags)).push("p").getVariable("o").push(4).push("ASSetPropFlags").callFunction().pop();
    a.raw(then.body());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    PropFlags, Semantics,
    ::testing::Values(
        // A member for a later version reads undefined but is still own, listed and deletable.
        Case{"VersionHiddenReadsUndefined", 8, withHiddenP(8192, Asm().getVariable("o").push("p").getMember().trace()),
             {"undefined"}},
        Case{"VersionHiddenStillOwn", 8,
             withHiddenP(8192, Asm().push("p").push(1).getVariable("o").push("hasOwnProperty").callMethod().trace()),
             {"true"}},
        Case{"VersionHiddenDeletable", 8,
             withHiddenP(8192, Asm().getVariable("o").push("p").op(kDelete).trace()), {"true"}},
        Case{"VersionHiddenEnumerated", 8,
             withHiddenP(8192, Asm().getVariable("o").op(kEnumerate2).trace()), {"p"}},
        Case{"DontEnumNotListed", 8,
             withHiddenP(1, Asm().getVariable("o").op(kEnumerate2).trace()), {"null"}},
        // A names object is read through its toString.
        Case{"NamesFromToString", 8,
             Asm().push("o").push("p").push(1).push("q").push(2).push(2).op(kInitObject).setVariable()
                 .push(0).push(1)
                 .raw(objectWith("toString", tracingFunction("names", Asm().push("p,q"))).body())
                 .getVariable("o").push(4).push("ASSetPropFlags").callFunction().pop()
                 .getVariable("o").op(kEnumerate2).trace(),
             {"names", "null"}}),
    caseName);

// ---- Conversions by version, assignment through prototypes and scopes ----------------------------

constexpr uint8_t kNewObject = 0x40, kReturn = 0x3E;

// A function that returns `value` without tracing.
Asm returning(const Asm& value) { return Asm().defineFunction("", {}, Asm().raw(value.body()).op(kReturn)); }

// d = new Date(0) whose toString gives "text"; trace(d + "").
Asm dateAdded() {
    return Asm().push("d").push(0).push(1).push("Date").op(kNewObject).setVariable()
        .getVariable("d").push("toString").raw(returning(Asm().push("text")).body()).setMember()
        .getVariable("d").push("").op(kAdd2).trace();
}

// P2 gets an x with a getter (0) and `setter`; P1 = {x: 10, __proto__: P2}; o = {__proto__: P1};
// o.x = 5, then trace(o.x).
Asm assignBehindInheritedValue(const Asm& setter) {
    return Asm().push("P2").push(0).op(kInitObject).setVariable()
        .raw(setter.body()).raw(returning(Asm().push(0)).body()).push("x").push(3)
        .getVariable("P2").push("addProperty").callMethod().pop()
        .push("P1").push("x").push(10).push("__proto__").getVariable("P2").push(2).op(kInitObject).setVariable()
        .push("o").push("__proto__").getVariable("P1").push(1).op(kInitObject).setVariable()
        .getVariable("o").push("x").push(5).setMember()
        .getVariable("o").push("x").getMember().trace();
}

// String.prototype.m = ASnative(category, index); trace(text.m()).
Asm nativeOnString(int category, int index, const std::string& text) {
    return native("m", category, index)
        .getVariable("String").push("prototype").getMember().push("m").getVariable("m").setMember()
        .push(0).push(text).push("m").callMethod().trace();
}

INSTANTIATE_TEST_SUITE_P(
    VersionRules, Semantics,
    ::testing::Values(
        // Before SWF 6 a Date adds as its time, like any object's valueOf; later as its text.
        Case{"Swf5DateAddsAsTime", 5, dateAdded(), {"0"}},
        Case{"Swf6DateAddsAsText", 6, dateAdded(), {"text"}},
        // Object(undefined) as a function is a bare object: no valueOf, so it adds as undefined.
        Case{"ObjectOfUndefinedSwf7", 7,
             Asm().pushUndefined().push(1).push("Object").callFunction().storeRegister(1).op(kTypeOf).trace()
                 .pushRegister(1).push("!").op(kAdd2).trace(),
             {"object", "undefined!"}},
        Case{"ObjectOfNullSwf6", 6, Asm().pushNull().push(1).push("Object").callFunction().push("!").op(kAdd2).trace(),
             {"!"}},
        // The built-in new Object(undefined) is a plain object.
        Case{"NewObjectOfUndefined", 7,
             Asm().pushUndefined().push(1).push("Object").op(kNewObject).push("").op(kAdd2).trace(),
             {"[object Object]"}},
        // The first players' case mapping (ASnative 102) changes only ASCII letters.
        Case{"OldLowerCaseIsAscii", 6, nativeOnString(102, 1, "\xC3\x84" "Bc"), {"\xC3\x84" "bc"}},
        Case{"OldUpperCaseIsAscii", 6, nativeOnString(102, 0, "\xC3\xA4" "bC"), {"\xC3\xA4" "BC"}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    AssignmentRules, Semantics,
    ::testing::Values(
        // A setter up the prototypes takes the assignment even behind a plain inherited value...
        Case{"SetterBehindInheritedValue", 7,
             assignBehindInheritedValue(Asm().defineFunction("", {}, Asm().push("set").trace())), {"set", "10"}},
        // ... and a getter without a setter refuses it.
        Case{"GetterOnlyRefuses", 7, assignBehindInheritedValue(Asm().pushNull()), {"10"}},
        // A `with` object that only inherits the variable does not take it: the timeline does.
        Case{"WithObjectInheritedVariable", 6,
             Asm().push("o").push("__proto__").push("a").push(4).push(1).op(kInitObject).push(1).op(kInitObject)
                 .setVariable()
                 .raw(withBlock("o", Asm().push("a").push(5).setVariable()).body())
                 .getVariable("o").push("a").getMember().trace().getVariable("a").trace(),
             {"4", "5"}},
        // A parameter named `this` hides the function's own this.
        Case{"ThisParameterHidesThis", 7,
             Asm().defineFunction2("f", {{0, "this"}}, 1, 0, Asm().getVariable("this").trace())
                 .push(84).push(1).push("f").callFunction().pop(),
             {"84"}},
        // A name that is no path to anything may still name a plain variable; a nameless one is never kept.
        Case{"PathLeadingNowhereIsAName", 6,
             Asm().getVariable("this").push("a/b").push(42).setMember().getVariable("a/b").trace()
                 .getVariable("this").push("").push(42).setMember()
                 .getVariable("this").push("").getMember().trace(),
             {"42", "undefined"}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    HiddenMembers, Semantics,
    ::testing::Values(
        // isPropertyEnumerable asks only DontEnum, whatever the version flags.
        Case{"EnumerableDespiteVersionFlag", 7,
             withHiddenP(4096, Asm().push("p").push(1).getVariable("o").push("isPropertyEnumerable").callMethod()
                                   .trace()),
             {"true"}},
        // __resolve answers even when a version flag hides it.
        Case{"ResolveHiddenByVersion", 7,
             Asm().push("o").push("__resolve").raw(returning(Asm().push("resolved")).body()).push(1).op(kInitObject)
                 .setVariable()
                 .push(0).push(4096).push("__resolve").getVariable("o").push(4).push("ASSetPropFlags").callFunction()
                 .pop()
                 .getVariable("o").push("missing").getMember().trace(),
             {"resolved"}}),
    caseName);

// `super` in a method of a function is of the function's type: Object's toString names a function.
TEST(SemanticsMembers, SuperConvertsWithTheRealThis) {
    Asm a;
    a.push("F").raw(returning(Asm().pushUndefined()).body()).setVariable();
    a.getVariable("F").push("f").raw(Asm().defineFunction("", {}, Asm().getVariable("super").trace()).body())
        .setMember();
    a.push(0).getVariable("F").push("f").callMethod().pop();
    EXPECT_EQ(run(7, a), (std::vector<std::string>{"[type Function]"}));
}

// AsBroadcaster.initialize asks ASnative(101, 12) for broadcastMessage as ASnative is now.
TEST(SemanticsMembers, BroadcasterTakesBroadcastFromASnative) {
    Asm a;
    a.push("o").push(0).op(kInitObject).setVariable();
    a.getVariable("o").push(1).getVariable("AsBroadcaster").push("initialize").callMethod().pop();
    a.getVariable("o").push("broadcastMessage").getMember().op(kTypeOf).trace();
    a.getVariable("_global").push("ASnative").push(22).setMember();
    a.push("p").push(0).op(kInitObject).setVariable();
    a.getVariable("p").push(1).getVariable("AsBroadcaster").push("initialize").callMethod().pop();
    a.getVariable("p").push("broadcastMessage").getMember().op(kTypeOf).trace();
    EXPECT_EQ(run(6, a), (std::vector<std::string>{"function", "undefined"}));
}

// A method of the object itself has an empty super: no prototype, no conversions.
TEST(SemanticsMembers, OwnMethodHasEmptySuper) {
    Asm a;
    a.push("o").push(0).op(kInitObject).setVariable();
    a.getVariable("o").push("f").defineFunction2("", {}, 2, 0x0010, Asm().pushRegister(1).trace()).setMember();
    a.push(0).getVariable("o").push("f").callMethod().pop();
    // The same method on a prototype: super is the prototype after it.
    a.push("p").push("__proto__").getVariable("o").push(1).op(kInitObject).setVariable();
    a.push(0).getVariable("p").push("f").callMethod().pop();
    EXPECT_EQ(run(7, a), (std::vector<std::string>{"[type Object]", "[object Object]"}));
}

// addProperty on an array's length: the getter wins over the built-in length.
TEST(SemanticsMembers, AddPropertyHidesArrayLength) {
    Asm a;
    a.push("arr").push(3).push(2).push(1).push(3).op(kInitArray).setVariable();
    a.pushNull().raw(Asm().defineFunction("", {}, Asm().push(10).op(0x3E)).body()).push("length").push(3);
    a.getVariable("arr").push("addProperty").callMethod().trace();
    a.getVariable("arr").push("length").getMember().trace();
    EXPECT_EQ(run(7, a), (std::vector<std::string>{"true", "10"}));
}

// A watch reports the stored value as old, without asking a getter on the prototype.
TEST(SemanticsMembers, WatchSeesStoredValue) {
    Asm a;
    a.push("base").push("x").push(3).push(1).op(kInitObject).setVariable();
    a.raw(tracingFunction("set", Asm().pushUndefined()).body()).raw(tracingFunction("get", Asm().push(0)).body());
    a.push("x").push(3).getVariable("base").push("addProperty").callMethod().pop();
    a.push("o").push("__proto__").getVariable("base").push(1).op(kInitObject).setVariable();
    Asm watcher;
    watcher.push("old ").push("old").op(0x1C).op(kAdd2).trace().getVariable("nv").op(0x3E);
    a.defineFunction("", {"name", "old", "nv"}, watcher);
    a.push("x").push(2).getVariable("o").push("watch").callMethod().pop();
    a.getVariable("o").push("x").push(4).setMember();
    EXPECT_EQ(run(7, a), (std::vector<std::string>{"old 3", "set"}));
}

// ---- Rules by version: member visibility, closures, super, equality --------------------------
// Which members a version sees, closures and `super` (none in SWF 5),
// equality's valueOf calls, and the generic Array methods on objects that
// are no Array.

using Trace = std::vector<std::string>;

// ASSetPropFlags(name, member, set, clear) on a variable.
Asm setFlags(const std::string& name, const std::string& member, int set, int clear) {
    return Asm().push(clear).push(set).push(member).getVariable(name).push(4).push("ASSetPropFlags").callFunction().pop();
}

// o = {p: "v"}
Asm objectWithP() { return Asm().push("o").push("p").push("v").push(1).op(kInitObject).setVariable(); }
Asm traceOP() { return Asm().getVariable("o").push("p").getMember().trace(); }

// ---- Version bits -----------------------------------------------------------------------------

// Each version bit hides a member from the movies before one version (256:
// from SWF 6 alone); the rest see it.
TEST(LanguageRules, VersionBitsHideFromEarlierVersions) {
    const struct { int bit; int from; int only; } bits[] = {{128, 6, 0}, {256, 0, 6}, {1024, 7, 0},
                                                           {4096, 8, 0}, {8192, 9, 0}, {16384, 10, 0}};
    for (int version = 5; version <= 10; ++version) {
        for (const auto& b : bits) {
            const bool hidden = b.only ? version == b.only : version < b.from;
            Asm program = objectWithP();
            program.raw(setFlags("o", "p", b.bit, 0).body()).raw(traceOP().body());
            EXPECT_EQ(run(version, program), Trace{hidden ? "undefined" : "v"}) << "SWF " << version << ", bit " << b.bit;
        }
    }
}

// ---- Functions by version ---------------------------------------------------------------------

// x = "timeline"; function outer() { var x = "local"; function inner() { return x; } return inner(); }
// trace(outer());
Asm nestedRead() {
    Asm inner = Asm().getVariable("x").op(kReturn);
    Asm outer = Asm().push("x").push("local").op(kDefineLocal).defineFunction("inner", {}, inner);
    outer.push(0).push("inner").callFunction().op(kReturn);
    return Asm().push("x").push("timeline").setVariable().defineFunction("outer", {}, outer)
        .push(0).push("outer").callFunction().trace();
}

// o = {}; o.f = function() { trace(typeof super); }; o.f();
Asm superFromMethod() {
    Asm body = Asm().getVariable("super").op(kTypeOf).trace();
    return Asm().push("o").push(0).op(kInitObject).setVariable()
        .getVariable("o").push("f").defineFunction("", {}, body).setMember()
        .push(0).getVariable("o").push("f").callMethod().pop();
}

// o = {valueOf: function() { trace("valueOf"); return 1; }}; trace(o == o); trace(o == 1);
Asm equalityOfSelf() {
    Asm valueOf = Asm().push("valueOf").trace().push(1).op(kReturn);
    return Asm().push("o").push("valueOf").defineFunction("", {}, valueOf).push(1).op(kInitObject).setVariable()
        .getVariable("o").getVariable("o").op(kEquals2).trace()
        .getVariable("o").push(1).op(kEquals2).trace();
}

TEST(LanguageRules, FunctionsByVersion) {
    const struct { const char* rule; int version; Asm program; Trace expected; } cases[] = {
        // SWF 5 has no closures: an inner function sees the timeline, not the outer locals.
        {"closure", 5, nestedRead(), {"timeline"}},
        {"closure", 6, nestedRead(), {"local"}},
        {"super", 5, superFromMethod(), {"undefined"}},
        {"super", 6, superFromMethod(), {"object"}},
        // SWF 5 equality asks each object operand for valueOf, itself included.
        {"equality", 5, equalityOfSelf(), {"valueOf", "valueOf", "true", "valueOf", "true"}},
        {"equality", 6, equalityOfSelf(), {"true", "valueOf", "true"}},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.version, c.program), c.expected) << c.rule << ", SWF " << c.version;
}

// ---- Array methods on objects -----------------------------------------------------------------

// o = {0: "a", 1: "b", length: 2}; trace(Array.prototype.<method>.call(o, args...)); then o's length and 0..2.
Asm arrayMethodOnObject(const std::string& method, const std::vector<std::string>& args) {
    Asm a;
    a.push("o").push("0").push("a").push("1").push("b").push("length").push(2).push(3).op(kInitObject).setVariable();
    for (auto it = args.rbegin(); it != args.rend(); ++it) a.push(*it);
    a.getVariable("o").push(int(args.size()) + 1);
    a.getVariable("Array").push("prototype").getMember().push(method).getMember().push("call").callMethod().trace();
    a.getVariable("o").push("length").getMember().trace();
    for (const char* i : {"0", "1", "2"}) a.getVariable("o").push(i).getMember().trace();
    return a;
}

// push and splice write the length; pop, shift and unshift move and delete
// members but leave the length as it was.
TEST(LanguageRules, ArrayMethodsOnAnObject) {
    const struct { const char* method; std::vector<std::string> args; Trace expected; } cases[] = {
        {"push", {"c"}, {"3", "3", "a", "b", "c"}},
        {"pop", {}, {"b", "2", "a", "undefined", "undefined"}},
        {"shift", {}, {"a", "2", "b", "b", "undefined"}},
        {"unshift", {"z"}, {"2", "2", "z", "a", "b"}},
        {"reverse", {}, {"[object Object]", "2", "b", "a", "undefined"}},
    };
    for (const auto& c : cases) EXPECT_EQ(run(7, arrayMethodOnObject(c.method, c.args)), c.expected) << c.method;
}

// push puts its elements at `length` as it reads, a negative one included:
// a = []; a.length = -3; a.push("x") gives -2 and a[-3] is "x".
TEST(LanguageRules, PushGoesAtTheLengthAsItReads) {
    Asm program;
    program.push("a").push(0).op(kInitArray).setVariable()
        .getVariable("a").push("length").push(-3).setMember()
        .push("x").push(1).getVariable("a").push("push").callMethod().trace()
        .getVariable("a").push(-3).getMember().trace()
        .getVariable("a").push("length").getMember().trace();
    EXPECT_EQ(run(7, program), (Trace{"-2", "x", "-2"}));
}

// a.sort("text"): an order that is neither a function nor flags sorts
// nothing and gives undefined.
TEST(LanguageRules, SortWithAnOrderOfNoKind) {
    Asm program;
    program.push("a").push("a").push("b").push(2).op(kInitArray).setVariable()
        .push("text").push(1).getVariable("a").push("sort").callMethod().trace()
        .push(0).getVariable("a").push("join").callMethod().trace();
    EXPECT_EQ(run(7, program), (Trace{"undefined", "b,a"}));
}

// a = ["b", undefined, "a"]; a.sort(); trace(a.join("|")): undefined sorts as
// the text it converts to, "" before SWF 7.
TEST(LanguageRules, SortConvertsUndefinedByVersion) {
    Asm program;
    program.push("a").push("a").pushUndefined().push("b").push(3).op(kInitArray).setVariable()
        .push(0).getVariable("a").push("sort").callMethod().pop()
        .push("|").push(1).getVariable("a").push("join").callMethod().trace();
    EXPECT_EQ(run(6, program), Trace{"|a|b"});
    EXPECT_EQ(run(7, program), Trace{"a|b|undefined"});
}

// ---- Built-ins -------------------------------------------------------------------------------

// broadcastMessage reads any object with a length and numbered members as its listeners.
TEST(LanguageRules, BroadcastReadsListenersGenerically) {
    Asm heard = Asm().push("heard").trace();
    Asm program;
    program.push("o").push(0).op(kInitObject).setVariable()
        .getVariable("o").push(1).getVariable("AsBroadcaster").push("initialize").callMethod().pop()
        .getVariable("o").push("_listeners")
        .push("0").push("m").defineFunction("", {}, heard).push(1).op(kInitObject).push("length").push(1).push(2)
        .op(kInitObject).setMember()
        .push("m").push(1).getVariable("o").push("broadcastMessage").callMethod().trace();
    EXPECT_EQ(run(6, program), (Trace{"heard", "true"}));
}

// %XX escapes are UTF-8 bytes from SWF 6; before, each is one character.
TEST(LanguageRules, UnescapeByVersion) {
    Asm program;
    program.push("%C3%A9x").push(1).push("unescape").callFunction().storeRegister(0).pop()
        .pushRegister(0).push("length").getMember().trace()
        .push(0).push(1).pushRegister(0).push("charCodeAt").callMethod().trace();
    EXPECT_EQ(run(5, program), (Trace{"3", "195"}));
    EXPECT_EQ(run(6, program), (Trace{"2", "233"}));
}

// String.fromCharCode: SWF 5 writes a code above 255 as its two bytes
// (a zero byte adds nothing); later versions as one character.
TEST(LanguageRules, FromCharCodeByVersion) {
    const struct { int version; int code; Trace expected; } cases[] = {
        {5, 258, {"2", "1"}}, {5, 256, {"1", "1"}}, {5, 255, {"1", "255"}}, {6, 258, {"1", "258"}},
    };
    for (const auto& c : cases) {
        Asm program;
        program.push(c.code).push(1).getVariable("String").push("fromCharCode").callMethod().storeRegister(0).pop()
            .pushRegister(0).push("length").getMember().trace()
            .push(0).push(1).pushRegister(0).push("charCodeAt").callMethod().trace();
        EXPECT_EQ(run(c.version, program), c.expected) << "SWF " << c.version << ", " << c.code;
    }
}

// new Date(t) keeps the time it is given whole, even past the clip range;
// far past it (or not finite) the date has no fields and reads "Invalid Date".
TEST(LanguageRules, DateFromATimeKeepsIt) {
    const struct { double time; Trace expected; } cases[] = {
        {8640000000000001.0, {"8.64e+15", "1"}},
        {1e300, {"1e+300", "NaN", "Invalid Date"}},
        {HUGE_VAL, {"Infinity", "NaN", "Invalid Date"}},
    };
    for (const auto& c : cases) {
        Asm program;
        program.push("d").push(c.time).push(1).push("Date").op(kNewObject).setVariable()
            .push(0).getVariable("d").push("getTime").callMethod().trace()
            .push(0).getVariable("d").push("getUTCMilliseconds").callMethod().trace();
        if (c.expected.size() > 2) program.push(0).getVariable("d").push("toString").callMethod().trace();
        EXPECT_EQ(run(8, program), c.expected) << c.time;
    }
}

// Assigning through more prototypes than the limit allows stops the movie's
// scripts; a chain within the limit takes the new member.
TEST(LanguageRules, AssignmentThroughTooManyPrototypesHalts) {
    for (int links : {swf::limits::kMaxProtoDepth - 1, swf::limits::kMaxProtoDepth + 1}) {
        Vm vm(7);
        swf::avm1::Object* top = vm.newObject();
        for (int i = 0; i < links; ++i) top = vm.newObject(top);
        vm.setMember(top, QStringLiteral("x"), swf::avm1::Value(1));
        const bool tooDeep = links > swf::limits::kMaxProtoDepth;
        EXPECT_EQ(vm.halted(), tooDeep) << links;
        EXPECT_EQ(vm.hasOwnProperty(top, QStringLiteral("x")), !tooDeep) << links;
    }
}

} // namespace

// A function keeps its own body: the block that defined it (a loaded movie
// that was unloaded, a script's buffer) may be gone when it is called.
// ConstantPool "x", "y": count, then the strings.
Asm constantPool(const std::vector<std::string>& items) {
    Bytes b{uint8_t(items.size()), uint8_t(items.size() >> 8)};
    for (const std::string& s : items) {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
    }
    return Asm().op(0x88, b);
}

TEST(SemanticsBlocks, TheConstantPoolCarriesToTheNextBlock) {
    std::vector<std::string> trace;
    VmHost host;
    host.trace = [&](const QString& s) { trace.push_back(s.toStdString()); };
    Vm vm(6, host);
    auto* root = vm.make<ClipObject>(vm.clipProto);
    vm.setRoot(root);
    vm.beginFrame();
    const Bytes pushFirstEntry{8, 0}; // Push constant 0
    std::vector<uint8_t> first = constantPool({"kept"}).bytes();
    vm.runActions(first, root, 6);
    std::vector<uint8_t> second = Asm().op(0x96, pushFirstEntry).trace().bytes();
    vm.runActions(second, root, 6);
    std::vector<uint8_t> third = constantPool({"replaced"}).op(0x96, pushFirstEntry).trace().bytes();
    vm.runActions(third, root, 6);
    vm.runActions(second, root, 6);
    EXPECT_EQ(trace, (std::vector<std::string>{"kept", "replaced", "replaced"}));
}

TEST(SemanticsFunctions, FunctionOutlivesTheBlockThatDefinedIt) {
    std::vector<std::string> trace;
    VmHost host;
    host.trace = [&](const QString& s) { trace.push_back(s.toStdString()); };
    Vm vm(7, host);
    auto* root = vm.make<ClipObject>(vm.clipProto);
    vm.setRoot(root);
    vm.beginFrame();
    {
        std::vector<uint8_t> code = Asm().push("f").raw(tracingFunction("called", Asm().push(1)).body())
                                        .setVariable().bytes();
        vm.runActions(code, root, 7);
        std::fill(code.begin(), code.end(), uint8_t(0));
    }
    std::vector<uint8_t> call = Asm().push(0).push("f").op(0x3D).trace().bytes();
    vm.runActions(call, root, 7);
    EXPECT_EQ(trace, (std::vector<std::string>{"called", "1"}));
}
