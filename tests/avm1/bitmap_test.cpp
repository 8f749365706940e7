// BitmapData from scripts (pixels, limits, copies, tests, drawing clips into
// bitmaps, showing them) and the filter classes on clips.
#include "engine/display/drawing.h"
#include "tests/avm1/gfx_script.h"

#include <functional>

namespace {

using namespace gfxtest;

// ---- premultiplied storage ----------------------------------------------------------------

struct RoundTrip {
    uint32_t in, out;
};
class PixelRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(PixelRoundTrip, LosesPrecisionAsFlashDoes) {
    swf::BitmapSurface s(2, 2, true, 0);
    s.setPixel32(1, 1, GetParam().in);
    EXPECT_EQ(s.pixel32(1, 1), GetParam().out) << std::hex << GetParam().in;
}

INSTANTIATE_TEST_SUITE_P(Bitmap, PixelRoundTrip,
                         ::testing::Values(RoundTrip{0xFF123456, 0xFF123456}, RoundTrip{0xAABBCCDC, 0xAABBCCDC},
                                           RoundTrip{0xAA345678, 0xAA345578}, RoundTrip{0xAA00000A, 0xAA00000A},
                                           RoundTrip{0xAAFFFFFE, 0xAAFFFFFD}, RoundTrip{0x00FFFFFF, 0x00000000},
                                           RoundTrip{0x01FFFFFF, 0x01FFFFFF}));

TEST(BitmapSurface, OpaqueSurfacesIgnoreAlphaAndOutsideReadsAsZero) {
    swf::BitmapSurface s(3, 3, false, 0x00112233);
    EXPECT_EQ(s.pixel32(0, 0), 0xFF112233u);
    s.setPixel32(2, 2, 0x10445566);
    EXPECT_EQ(s.pixel32(2, 2), 0xFF445566u);
    EXPECT_EQ(s.pixel32(3, 0), 0u);
    EXPECT_EQ(s.pixel32(-1, 0), 0u);
    s.setPixel32(5, 5, 0xFFFFFFFF); // ignored
}

TEST(BitmapSurface, SnapshotsStayUntouchedByLaterWrites) {
    swf::BitmapSurface s(2, 1, true, 0xFF000000);
    auto before = s.snapshot();
    uint64_t v = s.version();
    s.setPixel32(0, 0, 0xFFFFFFFF);
    EXPECT_GT(s.version(), v);
    EXPECT_EQ(before->image.pixel(0, 0), 0xFF000000u);
    EXPECT_EQ(s.snapshot()->image.pixel(0, 0), 0xFFFFFFFFu);
}

// ---- scripts -------------------------------------------------------------------------------

struct ScriptCase {
    const char* name;
    int version;
    std::function<void(Asm&)> script;
    std::vector<std::string> expected;
};
class BitmapScript : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(BitmapScript, TracesWhatFlashPrints) {
    Asm a;
    GetParam().script(a);
    EXPECT_EQ(runScript(a, GetParam().version)->trace, GetParam().expected);
}

void traceSize(Asm& a, const std::string& v) {
    traceMember(a, v, "width");
    traceMember(a, v, "height");
}

const ScriptCase kScripts[] = {
    {"SizeLimitsOfVersion8", 8,
     [](Asm& a) {
         make(a, "b", "display", "BitmapData", {2880.0, 1.0});
         traceSize(a, "b");
         make(a, "b", "display", "BitmapData", {2881.0, 1.0});
         traceSize(a, "b");
         make(a, "b", "display", "BitmapData", {0.0, 10.0});
         traceSize(a, "b");
         make(a, "b", "display", "BitmapData", {-5.0, 10.0});
         traceSize(a, "b");
         make(a, "b", "display", "BitmapData", {std::string("x"), 10.0});
         traceSize(a, "b");
     },
     {"2880", "1", "-1", "-1", "-1", "-1", "-1", "-1", "-1", "-1"}},
    {"SizeLimitsOfVersion10", 10,
     [](Asm& a) {
         make(a, "b", "display", "BitmapData", {8191.0, 2.0});
         traceSize(a, "b");
         make(a, "b", "display", "BitmapData", {4096.0, 4096.0});
         traceSize(a, "b");
         make(a, "b", "display", "BitmapData", {8192.0, 1.0});
         traceMember(a, "b", "width");
     },
     {"8191", "2", "-1", "-1", "-1"}},
    {"PixelsReadBackAndDefaults", 8,
     [](Asm& a) {
         make(a, "b", "display", "BitmapData", {4.0, 4.0});
         call(a, "b", "getPixel32", {0.0, 0.0}).trace();
         traceMember(a, "b", "transparent");
         traceMember(a, "b", "rectangle");
         run(a, "b", "setPixel32", {1.0, 1.0, double(0x80FF0000)});
         call(a, "b", "getPixel", {1.0, 1.0}).trace();
         call(a, "b", "getPixel32", {1.0, 1.0}).trace();
         run(a, "b", "setPixel", {1.0, 1.0, double(0x00FF00)});
         call(a, "b", "getPixel32", {1.0, 1.0}).trace();
         call(a, "b", "getPixel", {9.0, 9.0}).trace();
         call(a, "b", "setPixel", {1.0}).trace();
     },
     {"-1", "true", "(x=0, y=0, w=4, h=4)", "16711680", "-2130771968", "-2147418368", "0", "-1"}},
    {"FillRectClipsToTheBitmap", 8,
     [](Asm& a) {
         make(a, "b", "display", "BitmapData", {4.0, 4.0, false, 0.0});
         make(a, "r", "geom", "Rectangle", {2.0, 2.0, 10.0, 10.0});
         run(a, "b", "fillRect", {Var{"r"}, double(0x123456)});
         call(a, "b", "getPixel", {1.0, 1.0}).trace();
         call(a, "b", "getPixel", {3.0, 3.0}).trace();
         call(a, "b", "getPixel32", {2.0, 3.0}).trace();
     },
     {"0", "1193046", "-15584170"}},
    {"CloneIsIndependentAndDisposeEmpties", 8,
     [](Asm& a) {
         make(a, "b", "display", "BitmapData", {2.0, 2.0, false, double(0xFF0000)});
         assign(a, "c", "b", "clone");
         run(a, "b", "setPixel", {0.0, 0.0, 0.0});
         call(a, "c", "getPixel", {0.0, 0.0}).trace();
         run(a, "b", "dispose");
         traceMember(a, "b", "width");
         call(a, "b", "getPixel", {0.0, 0.0}).trace();
         traceMember(a, "c", "width");
     },
     {"16711680", "-1", "-1", "2"}},
    {"CopyPixelsMovesARectangle", 8,
     [](Asm& a) {
         make(a, "s", "display", "BitmapData", {4.0, 4.0, false, double(0x0000FF)});
         make(a, "d", "display", "BitmapData", {4.0, 4.0, false, 0.0});
         make(a, "r", "geom", "Rectangle", {0.0, 0.0, 2.0, 2.0});
         make(a, "p", "geom", "Point", {3.0, 3.0});
         run(a, "d", "copyPixels", {Var{"s"}, Var{"r"}, Var{"p"}});
         call(a, "d", "getPixel", {3.0, 3.0}).trace();
         call(a, "d", "getPixel", {2.0, 2.0}).trace();
     },
     {"255", "0"}},
    {"ThresholdCountsAndPaints", 8,
     [](Asm& a) {
         make(a, "b", "display", "BitmapData", {3.0, 1.0, false, 0.0});
         run(a, "b", "setPixel", {0.0, 0.0, double(0x000010)});
         run(a, "b", "setPixel", {1.0, 0.0, double(0x000080)});
         run(a, "b", "setPixel", {2.0, 0.0, double(0x0000F0)});
         make(a, "p", "geom", "Point", {0.0, 0.0});
         a.push("n");
         a.push(double(0x000000FF)).push(double(0xFFFF0000)).push(double(0x00000070)).push(">").getVariable("p");
         a.getVariable("b").push("rectangle").getMember().getVariable("b").push(7);
         a.getVariable("b").push("threshold").callMethod().setVariable();
         traceVar(a, "n");
         call(a, "b", "getPixel", {0.0, 0.0}).trace();
         call(a, "b", "getPixel", {2.0, 0.0}).trace();
     },
     {"2", "16", "16711680"}},
    {"HitTestNeedsAlphaAboveZero", 8,
     [](Asm& a) {
         make(a, "b", "display", "BitmapData", {4.0, 4.0, true, 0.0});
         run(a, "b", "setPixel32", {1.0, 1.0, double(0x80FFFFFF)});
         make(a, "o", "geom", "Point", {0.0, 0.0});
         make(a, "p", "geom", "Point", {1.0, 1.0});
         make(a, "q", "geom", "Point", {2.0, 2.0});
         call(a, "b", "hitTest", {Var{"o"}, 0.0, Var{"p"}}).trace();
         call(a, "b", "hitTest", {Var{"o"}, 0.0, Var{"q"}}).trace();
         call(a, "b", "hitTest", {Var{"o"}, 200.0, Var{"p"}}).trace();
         make(a, "r", "geom", "Rectangle", {0.0, 0.0, 2.0, 2.0});
         call(a, "b", "hitTest", {Var{"o"}, 1.0, Var{"r"}}).trace();
     },
     {"true", "false", "false", "true"}},
    {"HiddenBeforeVersion8", 7, [](Asm& a) { a.getVariable("flash").push("display").getMember().op(0x44).trace(); }, {"undefined"}},
    {"FiltersRoundTripThroughTheClip", 8,
     [](Asm& a) {
         createClip(a, "c", 1);
         make(a, "f", "filters", "BlurFilter", {5.0, 6.0, 2.0});
         a.push("list").getVariable("f").push(1).op(0x42).setVariable();
         setMemberOf(a, "c", "filters", Var{"list"});
         a.push("g").getVariable("c").push("filters").getMember().push(0.0).getMember().setVariable();
         traceMember(a, "g", "blurX");
         traceMember(a, "g", "blurY");
         traceMember(a, "g", "quality");
         a.getVariable("g").getVariable("f").op(0x66).trace();
         make(a, "d", "filters", "DropShadowFilter");
         traceMember(a, "d", "distance");
         traceMember(a, "d", "angle");
         assign(a, "e", "d", "clone");
         traceMember(a, "e", "blurX");
     },
     {"5", "6", "2", "false", "4", "45", "4"}},
};

INSTANTIATE_TEST_SUITE_P(Bitmap, BitmapScript, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
