// flash.geom from scripts: Point, Rectangle, Matrix, ColorTransform and a
// clip's Transform, checked through what the scripts trace.
#include "tests/avm1/gfx_script.h"

#include <cmath>
#include <functional>

namespace {

using namespace gfxtest;

struct GeomCase {
    const char* name;
    std::function<void(Asm&)> script;
    std::vector<std::string> expected;
};

class GeomScript : public ::testing::TestWithParam<GeomCase> {};

TEST_P(GeomScript, TracesWhatFlashPrints) {
    Asm a;
    GetParam().script(a);
    auto r = runScript(a);
    EXPECT_EQ(r->trace, GetParam().expected);
}

const GeomCase kCases[] = {
    {"MatrixDefaultIsIdentity", [](Asm& a) { traceVar(make(a, "m", "geom", "Matrix"), "m"); },
     {"(a=1, b=0, c=0, d=1, tx=0, ty=0)"}},
    {"MatrixKeepsMissingArgumentsUndefined", [](Asm& a) { traceVar(make(a, "m", "geom", "Matrix", {1.0, 2.0}), "m"); },
     {"(a=1, b=2, c=undefined, d=undefined, tx=undefined, ty=undefined)"}},
    {"MatrixScaleScalesTranslation",
     [](Asm& a) {
         make(a, "m", "geom", "Matrix", {2.0, 0.0, 0.0, 2.0, 100.0, 100.0});
         traceVar(run(a, "m", "scale", {7.0, 11.0}), "m");
     },
     {"(a=14, b=0, c=0, d=22, tx=700, ty=1100)"}},
    {"MatrixInvert",
     [](Asm& a) {
         make(a, "m", "geom", "Matrix", {2.0, 3.0, 5.0, 7.0, 9.0, 11.0});
         traceVar(run(a, "m", "invert"), "m");
     },
     {"(a=-7, b=3, c=5, d=-2, tx=8, ty=-5)"}},
    {"MatrixConcatAppliesTheOtherAfter",
     [](Asm& a) {
         make(a, "m", "geom", "Matrix", {1.0, 0.0, 0.0, 1.0, 10.0, 0.0});
         make(a, "s", "geom", "Matrix", {2.0, 0.0, 0.0, 3.0, 0.0, 0.0});
         traceVar(run(a, "m", "concat", {Var{"s"}}), "m");
     },
     {"(a=2, b=0, c=0, d=3, tx=20, ty=0)"}},
    {"MatrixTranslateAndRotateZero",
     [](Asm& a) {
         make(a, "m", "geom", "Matrix", {1.0, 2.0, 3.0, 4.0, 5.0, 6.0});
         run(a, "m", "rotate", {0.0});
         traceVar(run(a, "m", "translate", {1.0, 2.0}), "m");
     },
     {"(a=1, b=2, c=3, d=4, tx=6, ty=8)"}},
    {"CreateGradientBoxCentresTheSquare",
     [](Asm& a) {
         make(a, "m", "geom", "Matrix");
         traceVar(run(a, "m", "createGradientBox", {200.0, 300.0}), "m");
     },
     {"(a=0.1220703125, b=0, c=0, d=0.18310546875, tx=100, ty=150)"}},
    {"CreateBoxWithoutRotationIsNaN",
     [](Asm& a) {
         make(a, "m", "geom", "Matrix");
         traceVar(run(a, "m", "createBox", {2.0, 3.0}), "m");
     },
     {"(a=NaN, b=NaN, c=NaN, d=NaN, tx=0, ty=0)"}},
    {"TransformPointAndDelta",
     [](Asm& a) {
         make(a, "m", "geom", "Matrix", {2.0, 3.0, 5.0, 7.0, 11.0, 13.0});
         make(a, "p", "geom", "Point", {1.0, 1.0});
         a.push("q");
         call(a, "m", "transformPoint", {Var{"p"}}).setVariable();
         traceVar(a, "q");
         a.push("q");
         call(a, "m", "deltaTransformPoint", {Var{"p"}}).setVariable();
         traceVar(a, "q");
     },
     {"(x=18, y=23)", "(x=7, y=10)"}},
    {"CloneIsANewObjectWithTheSameFields",
     [](Asm& a) {
         make(a, "m", "geom", "Matrix", {1.0, 2.0, 3.0, 4.0, 5.0, 6.0});
         assign(a, "c", "m", "clone");
         traceVar(a, "c");
         a.getVariable("c").getVariable("m").op(0x66).trace(); // strict equals
     },
     {"(a=1, b=2, c=3, d=4, tx=5, ty=6)", "false"}},
    {"PointArithmetic",
     [](Asm& a) {
         make(a, "p", "geom", "Point", {3.0, 4.0});
         make(a, "q", "geom", "Point", {1.0, 1.0});
         traceMember(a, "p", "length");
         assign(a, "s", "p", "add", {Var{"q"}});
         traceVar(a, "s");
         assign(a, "s", "p", "subtract", {Var{"q"}});
         traceVar(a, "s");
         traceVar(run(a, "p", "normalize", {10.0}), "p");
     },
     {"5", "(x=4, y=5)", "(x=2, y=3)", "(x=6, y=8)"}},
    {"RectangleEdgesAndTests",
     [](Asm& a) {
         make(a, "r", "geom", "Rectangle", {10.0, 20.0, 30.0, 40.0});
         traceVar(a, "r");
         traceMember(a, "r", "right");
         traceMember(a, "r", "bottomRight");
         call(a, "r", "contains", {10.0, 20.0}).trace();
         call(a, "r", "contains", {40.0, 20.0}).trace();
         make(a, "o", "geom", "Rectangle", {30.0, 50.0, 100.0, 100.0});
         assign(a, "i", "r", "intersection", {Var{"o"}});
         traceVar(a, "i");
         assign(a, "u", "r", "union", {Var{"o"}});
         traceVar(a, "u");
         setMemberOf(a, "r", "left", 0.0);
         traceVar(a, "r");
         traceVar(run(a, "r", "inflate", {1.0, 2.0}), "r");
         traceVar(make(a, "e", "geom", "Rectangle"), "e");
         call(a, "e", "isEmpty").trace();
     },
     {"(x=10, y=20, w=30, h=40)", "40", "(x=40, y=60)", "true", "false", "(x=30, y=50, w=10, h=10)",
      "(x=10, y=20, w=120, h=130)", "(x=0, y=20, w=40, h=40)", "(x=-1, y=18, w=42, h=44)", "(x=0, y=0, w=0, h=0)",
      "true"}},
    {"ColorTransformDefaultsAndRgb",
     [](Asm& a) {
         make(a, "c", "geom", "ColorTransform");
         traceVar(a, "c");
         setMemberOf(a, "c", "rgb", double(0x102030));
         traceVar(a, "c");
         traceMember(a, "c", "rgb");
     },
     {"(redMultiplier=1, greenMultiplier=1, blueMultiplier=1, alphaMultiplier=1, redOffset=0, greenOffset=0, "
      "blueOffset=0, alphaOffset=0)",
      "(redMultiplier=0, greenMultiplier=0, blueMultiplier=0, alphaMultiplier=1, redOffset=16, greenOffset=32, "
      "blueOffset=48, alphaOffset=0)",
      "1056816"}},
    // Lengths square and add: a NaN part is NaN even beside an infinity.
    {"PointLengthsSquareAndAdd",
     [](Asm& a) {
         make(a, "p", "geom", "Point", {40.0, std::nan("")});
         make(a, "q", "geom", "Point", {50.0, -HUGE_VAL});
         traceMember(a, "p", "length");
         traceMember(a, "q", "length");
         a.getVariable("q").getVariable("p").push(2).getVariable("flash").push("geom").getMember();
         a.push("Point").getMember().push("distance").callMethod().trace();
     },
     {"NaN", "Infinity", "NaN"}},
    {"PointEqualsItselfEvenWithNaN",
     [](Asm& a) {
         make(a, "p", "geom", "Point", {40.0, std::nan("")});
         make(a, "q", "geom", "Point", {40.0, std::nan("")});
         call(a, "p", "equals", {Var{"p"}}).trace();
         call(a, "p", "equals", {Var{"q"}}).trace();
     },
     {"true", "false"}},
    // toString joins each member as + does: valueOf before toString.
    {"ToStringAsksValueOfFirst",
     [](Asm& a) {
         Asm seven, text;
         seven.push(7).op(0x3E);
         text.push("text").op(0x3E);
         a.push("v").push(0).op(0x43).setVariable();
         a.getVariable("v").push("valueOf").defineFunction("", {}, seven).setMember();
         a.getVariable("v").push("toString").defineFunction("", {}, text).setMember();
         traceVar(make(a, "p", "geom", "Point", {Var{"v"}, 1.0}), "p");
     },
     {"(x=7, y=1)"}},
    // All eight numbers or the identity; each converted as it is stored.
    {"ColorTransformTakesEightNumbersOrNone",
     [](Asm& a) {
         traceVar(make(a, "c", "geom", "ColorTransform", {0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5}), "c");
         traceVar(make(a, "c", "geom", "ColorTransform",
                       {true, std::string("x"), 2.0, 3.0, 4.0, Var{"nothing"}, 6.0, std::string("7")}),
                  "c");
         setMemberOf(a, "c", "redOffset", std::string("-4.5"));
         a.getVariable("c").push("redOffset").getMember().op(0x44).trace(); // typeof
     },
     {"(redMultiplier=1, greenMultiplier=1, blueMultiplier=1, alphaMultiplier=1, redOffset=0, greenOffset=0, "
      "blueOffset=0, alphaOffset=0)",
      "(redMultiplier=1, greenMultiplier=NaN, blueMultiplier=2, alphaMultiplier=3, redOffset=4, greenOffset=NaN, "
      "blueOffset=6, alphaOffset=7)",
      "number"}},
    {"ColorTransformConcatAppliesTheOtherFirst",
     [](Asm& a) {
         make(a, "c", "geom", "ColorTransform", {0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5});
         traceVar(run(a, "c", "concat", {Var{"c"}}), "c");
     },
     {"(redMultiplier=0.25, greenMultiplier=2.25, blueMultiplier=6.25, alphaMultiplier=12.25, redOffset=6.75, "
      "greenOffset=13.75, blueOffset=22.75, alphaOffset=33.75)"}},
};

INSTANTIATE_TEST_SUITE_P(Geom, GeomScript, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GeomTransform, ReadsAndWritesTheClipsMatrix) {
    // c = _root.createEmptyMovieClip("c", 1)
    Asm s;
    s.push("c").push(1.0).push("c").push(2).getVariable("_root").push("createEmptyMovieClip").callMethod().setVariable();
    setMemberOf(s, "c", "_x", 15.0);
    setMemberOf(s, "c", "_xscale", 200.0);
    s.push("t").getVariable("c").push("transform").getMember().setVariable();
    traceMember(s, "t", "matrix");
    make(s, "m", "geom", "Matrix", {1.0, 0.0, 0.0, 3.0, 7.0, 9.0});
    setMemberOf(s, "t", "matrix", Var{"m"});
    traceMember(s, "c", "_x");
    traceMember(s, "c", "_yscale");
    auto r = runScript(s);
    EXPECT_EQ(r->trace, (std::vector<std::string>{"(a=2, b=0, c=0, d=1, tx=15, ty=0)", "7", "300"}));
}

TEST(GeomTransform, HiddenFromMoviesBeforeVersion8) {
    Asm s;
    s.push("c").push(1.0).push("c").push(2).getVariable("_root").push("createEmptyMovieClip").callMethod().setVariable();
    traceMember(s, "c", "transform");
    EXPECT_EQ(runScript(s, 7)->trace, std::vector<std::string>{"undefined"});
}

} // namespace
