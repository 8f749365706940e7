// The flash.filters classes: constructor defaults and argument counts, the
// conversion and clamping of every property on write, arrays copied in and
// out, clone(), and what MovieClip.filters keeps.
#include "tests/avm1/gfx_script.h"

#include <functional>
#include <limits>

namespace {

using namespace gfxtest;

// ---- one property written, then read back ------------------------------------------------

struct WriteCase {
    const char* cls;
    const char* property;
    Arg written;
    const char* readBack;
};

class FilterPropertyWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(FilterPropertyWrite, ConvertsAndClampsAsFlashDoes) {
    const WriteCase& c = GetParam();
    Asm a;
    make(a, "f", "filters", c.cls);
    setMemberOf(a, "f", c.property, c.written);
    traceMember(a, "f", c.property);
    EXPECT_EQ(runScript(a)->trace, std::vector<std::string>{c.readBack});
}

const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterPropertyWrite,
    ::testing::Values(
        // Blur radii and strength: numbers held in [0, 255]; NaN stays.
        WriteCase{"BlurFilter", "blurX", 0.5, "0.5"}, WriteCase{"BlurFilter", "blurX", -1.0, "0"},
        WriteCase{"BlurFilter", "blurY", kInf, "255"}, WriteCase{"BlurFilter", "blurY", std::string("x"), "NaN"},
        WriteCase{"GlowFilter", "strength", 300.0, "255"}, WriteCase{"GlowFilter", "strength", 1.5, "1.5"},
        // Quality: a whole number in [0, 15]; infinities are 0 as integers.
        WriteCase{"BlurFilter", "quality", 2.7, "2"}, WriteCase{"BlurFilter", "quality", 99.0, "15"},
        WriteCase{"BlurFilter", "quality", -3.0, "0"}, WriteCase{"BlurFilter", "quality", kInf, "0"},
        // Alphas in [0, 1]; colours are the low 24 bits of the integer.
        WriteCase{"DropShadowFilter", "alpha", 2.0, "1"}, WriteCase{"BevelFilter", "shadowAlpha", -1.0, "0"},
        WriteCase{"DropShadowFilter", "color", -1.0, "16777215"},
        WriteCase{"BevelFilter", "highlightColor", double(0x12345678), "3430008"},
        // Angles and distances are kept as given.
        WriteCase{"DropShadowFilter", "angle", 400.0, "400"}, WriteCase{"BevelFilter", "distance", -7.5, "-7.5"},
        // Flags are booleans.
        WriteCase{"DropShadowFilter", "hideObject", 1.0, "true"}, WriteCase{"GlowFilter", "inner", std::string(""), "false"},
        // Bevel types: inner, outer, anything else full.
        WriteCase{"BevelFilter", "type", std::string("outer"), "outer"},
        WriteCase{"GradientGlowFilter", "type", std::string("sideways"), "full"},
        // Convolution sizes: whole numbers in [0, 15].
        WriteCase{"ConvolutionFilter", "matrixX", 20.0, "15"}, WriteCase{"ConvolutionFilter", "divisor", 0.25, "0.25"},
        // Displacement modes: clamp, ignore, color, anything else wrap.
        WriteCase{"DisplacementMapFilter", "mode", std::string("clamp"), "clamp"},
        WriteCase{"DisplacementMapFilter", "mode", std::string("bogus"), "wrap"}),
    [](const auto& info) { return std::string(info.param.cls) + "_" + info.param.property + "_" + std::to_string(info.index); });

// ---- whole scripts -------------------------------------------------------------------------

class FilterScript : public ::testing::TestWithParam<TraceCase> {};

TEST_P(FilterScript, TracesWhatFlashPrints) {
    Asm a;
    GetParam().script(a);
    EXPECT_EQ(runScript(a)->trace, GetParam().expected);
}

const TraceCase kScripts[] = {
    {"AbsentArgumentsKeepDefaultsGivenUndefinedDoesNot",
     [](Asm& a) {
         make(a, "f", "filters", "GlowFilter");
         traceMember(a, "f", "color");
         traceMember(a, "f", "blurX");
         traceMember(a, "f", "strength");
         make(a, "f", "filters", "BlurFilter", {1.0});
         traceMember(a, "f", "blurX");
         traceMember(a, "f", "blurY");
         a.push("f").push("x").getVariable("undefined").push(2);
         a.getVariable("flash").push("filters").getMember().push("BlurFilter").op(0x53).setVariable();
         traceMember(a, "f", "blurX");
         traceMember(a, "f", "blurY");
     },
     {"16711680", "6", "2", "1", "4", "NaN", "NaN"}},
    {"CalledWithoutNewMakesNothing",
     [](Asm& a) {
         a.push(0).getVariable("flash").push("filters").getMember().push("BlurFilter").callMethod().trace();
     },
     {"undefined"}},
    {"ArraysAreCopiedInAndOut",
     [](Asm& a) {
         makeArray(a, "c", {double(0x1FF0000), 255.0});
         makeArray(a, "al", {2.0, 0.5});
         makeArray(a, "r", {-4.0, 300.0});
         make(a, "f", "filters", "GradientBevelFilter", {4.0, 45.0, Var{"c"}, Var{"al"}, Var{"r"}});
         a.getVariable("c").push("0").push(7.0).setMember();
         traceMember(a, "f", "colors");
         traceMember(a, "f", "alphas");
         traceMember(a, "f", "ratios");
         // A read gives a fresh copy: changing it leaves the filter alone.
         a.push("got").getVariable("f").push("colors").getMember().setVariable();
         a.getVariable("got").push("0").push(1.0).setMember();
         traceMember(a, "f", "colors");
     },
     {"16711680,255", "1,0.5", "0,255", "16711680,255"}},
    {"ColorMatrixHasTwentyEntries",
     [](Asm& a) {
         make(a, "f", "filters", "ColorMatrixFilter");
         traceMember(a, "f", "matrix");
         makeArray(a, "m", {2.0, 3.0});
         setMemberOf(a, "f", "matrix", Var{"m"});
         traceMember(a, "f", "matrix");
     },
     {"1,0,0,0,0,0,1,0,0,0,0,0,1,0,0,0,0,0,1,0", "2,3,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0"}},
    {"CloneIsASeparateFilterOfTheSameClass",
     [](Asm& a) {
         make(a, "f", "filters", "BevelFilter", {9.0});
         assign(a, "g", "f", "clone");
         setMemberOf(a, "f", "distance", 1.0);
         traceMember(a, "g", "distance");
         a.getVariable("g").getVariable("flash").push("filters").getMember().push("BevelFilter").getMember();
         a.op(0x54).trace(); // instanceof
     },
     {"9", "true"}},
    {"PrototypeAccessorsAnswerUndefinedOffAFilter",
     [](Asm& a) {
         a.push("p").getVariable("flash").push("filters").getMember().push("DropShadowFilter").getMember();
         a.push("prototype").getMember().setVariable();
         traceMember(a, "p", "blurX");
         setMemberOf(a, "p", "blurX", 3.0);
         traceMember(a, "p", "blurX");
     },
     {"undefined", "undefined"}},
    {"ClipFiltersAreCopies",
     [](Asm& a) {
         createClip(a, "c", 1);
         make(a, "f", "filters", "GlowFilter", {double(0x00FF00), 0.5, 3.0, 4.0, 2.0, 2.0, true});
         a.push("list").getVariable("f").push(1).op(0x42).setVariable();
         setMemberOf(a, "c", "filters", Var{"list"});
         setMemberOf(a, "f", "blurX", 9.0);
         a.push("g").getVariable("c").push("filters").getMember().push(0.0).getMember().setVariable();
         traceMember(a, "g", "blurX");
         traceMember(a, "g", "color");
         traceMember(a, "g", "inner");
         traceMember(a, "g", "quality");
     },
     {"3", "65280", "true", "2"}},
};

INSTANTIATE_TEST_SUITE_P(Filters, FilterScript, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
