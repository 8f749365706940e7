// BitmapData's pixel operations, each rule on the smallest bitmap that shows it:
// channels, merges, colour transforms, palettes, scrolling, flood fills, colour
// bounds, comparisons, seeded noise and dissolves.
#include "tests/avm1/gfx_script.h"

#include <functional>

namespace {

using namespace gfxtest;

class BitmapOperation : public ::testing::TestWithParam<TraceCase> {};

TEST_P(BitmapOperation, TracesWhatFlashPrints) {
    Asm a;
    GetParam().script(a);
    EXPECT_EQ(runScript(a)->trace, GetParam().expected);
}

// name = new BitmapData(w, h, transparent, argb)
void bitmap(Asm& a, const std::string& name, double w, double h, bool transparent, double argb) {
    make(a, name, "display", "BitmapData", {w, h, transparent, argb});
}
void origin(Asm& a) { make(a, "p", "geom", "Point", {0.0, 0.0}); }
void rectOf(Asm& a, const std::string& b) { a.push("r").getVariable(b).push("rectangle").getMember().setVariable(); }
void tracePixel(Asm& a, const std::string& b, double x, double y) { call(a, b, "getPixel", {x, y}).trace(); }

std::vector<double> invertedRed() {
    std::vector<double> v;
    for (int i = 0; i < 256; ++i) v.push_back(double((255 - i) << 16));
    return v;
}

const TraceCase kScripts[] = {
    {"CopyChannelWritesOneChannelFromAnother",
     [](Asm& a) {
         bitmap(a, "s", 2, 1, false, double(0x123456));
         bitmap(a, "d", 2, 1, false, double(0x000001));
         rectOf(a, "s");
         origin(a);
         run(a, "d", "copyChannel", {Var{"s"}, Var{"r"}, Var{"p"}, 1.0, 4.0});
         tracePixel(a, "d", 0, 0);
         run(a, "d", "copyChannel", {Var{"s"}, Var{"r"}, Var{"p"}, 3.0, 4.0}); // not one channel
         tracePixel(a, "d", 1, 0);
     },
     {"18", "18"}},
    {"MergeWeighsEachChannel",
     [](Asm& a) {
         bitmap(a, "s", 1, 1, false, double(0xFF0000));
         bitmap(a, "d", 1, 1, false, double(0x0000FF));
         rectOf(a, "s");
         origin(a);
         run(a, "d", "merge", {Var{"s"}, Var{"r"}, Var{"p"}, 128.0, 256.0, 0.0, 0.0});
         tracePixel(a, "d", 0, 0);
     },
     {"8323327"}},
    {"ColorTransformMultipliesThenAddsAndClamps",
     [](Asm& a) {
         bitmap(a, "b", 2, 2, false, double(0x102030));
         make(a, "t", "geom", "ColorTransform", {2.0, 1.0, 20.0, 1.0, 10.0, 0.0, 0.0, 0.0});
         make(a, "r", "geom", "Rectangle", {1.0, 1.0, 5.0, 5.0});
         run(a, "b", "colorTransform", {Var{"r"}, Var{"t"}});
         tracePixel(a, "b", 0, 0);
         tracePixel(a, "b", 1, 1);
     },
     {"1056816", "2760959"}},
    {"PaletteMapLooksEachChannelUp",
     [](Asm& a) {
         bitmap(a, "b", 1, 1, false, double(0x102030));
         makeArray(a, "red", invertedRed());
         rectOf(a, "b");
         origin(a);
         run(a, "b", "paletteMap", {Var{"b"}, Var{"r"}, Var{"p"}, Var{"red"}});
         tracePixel(a, "b", 0, 0);
     },
     {"15671344"}},
    {"ScrollMovesPixelsAndLeavesTheUncovered",
     [](Asm& a) {
         bitmap(a, "b", 3, 1, false, 0.0);
         run(a, "b", "setPixel", {0.0, 0.0, 255.0});
         run(a, "b", "scroll", {1.0, 0.0});
         tracePixel(a, "b", 0, 0);
         tracePixel(a, "b", 1, 0);
         tracePixel(a, "b", 2, 0);
     },
     {"255", "255", "0"}},
    {"FloodFillStopsAtOtherColours",
     [](Asm& a) {
         bitmap(a, "b", 3, 3, false, 0.0);
         for (double y : {0.0, 1.0, 2.0}) run(a, "b", "setPixel", {1.0, y, double(0xFFFFFF)});
         run(a, "b", "floodFill", {0.0, 0.0, double(0xFF0000)});
         tracePixel(a, "b", 0, 2);
         tracePixel(a, "b", 1, 1);
         tracePixel(a, "b", 2, 0);
     },
     {"16711680", "16777215", "0"}},
    {"ColorBoundsFindOrAvoidTheColour",
     [](Asm& a) {
         bitmap(a, "b", 5, 5, true, 0.0);
         run(a, "b", "setPixel32", {1.0, 2.0, double(0xFFFF0000)});
         run(a, "b", "setPixel32", {3.0, 3.0, double(0xFFFF0000)});
         call(a, "b", "getColorBoundsRect", {double(0xFFFFFFFF), double(0xFFFF0000)}).trace();
         call(a, "b", "getColorBoundsRect", {double(0xFF000000), 0.0, false}).trace();
         call(a, "b", "getColorBoundsRect", {double(0xFF), double(0x12)}).trace();
     },
     {"(x=1, y=2, w=3, h=2)", "(x=1, y=2, w=3, h=2)", "(x=0, y=0, w=0, h=0)"}},
    {"CompareAnswersCodesOrADifferenceBitmap",
     [](Asm& a) {
         bitmap(a, "b", 1, 1, false, double(0x00FF99));
         bitmap(a, "c", 1, 1, false, double(0xAA3366));
         call(a, "b", "compare", {Var{"b"}}).trace();
         bitmap(a, "w", 2, 1, false, 0.0);
         call(a, "b", "compare", {Var{"w"}}).trace();
         bitmap(a, "h", 1, 2, false, 0.0);
         call(a, "b", "compare", {Var{"h"}}).trace();
         assign(a, "d", "b", "compare", {Var{"c"}});
         call(a, "d", "getPixel32", {0.0, 0.0}).trace();
         bitmap(a, "t", 1, 1, true, double(0xFFFFFFFF));
         bitmap(a, "u", 1, 1, true, double(0xCCFFFFFF));
         assign(a, "d", "t", "compare", {Var{"u"}});
         call(a, "d", "getPixel32", {0.0, 0.0}).trace();
         bitmap(a, "e", 1, 1, false, double(0x00FF99));
         call(a, "b", "compare", {Var{"e"}}).trace();
     },
     {"0", "-3", "-4", "-11088845", "872415231", "0"}},
    {"NoiseIsSetByItsSeed",
     [](Asm& a) {
         for (const char* n : {"x", "y", "z"}) bitmap(a, n, 4, 4, false, 0.0);
         run(a, "x", "noise", {5.0});
         run(a, "y", "noise", {5.0});
         run(a, "z", "noise", {6.0});
         call(a, "x", "compare", {Var{"y"}}).trace();
         call(a, "x", "compare", {Var{"z"}}).op(0x44).trace(); // typeof
         run(a, "x", "noise", {5.0, 7.0, 7.0, 1.0});
         tracePixel(a, "x", 2, 3);
     },
     {"0", "object", "458752"}},
    {"PixelDissolveTurnsTheAskedCount",
     [](Asm& a) {
         bitmap(a, "b", 10, 10, false, 0.0);
         rectOf(a, "b");
         origin(a);
         run(a, "b", "pixelDissolve", {Var{"b"}, Var{"r"}, Var{"p"}, 3.0, 37.0, double(0xFF0000)});
         // threshold counts the red pixels (it repaints them red).
         call(a, "b", "threshold",
              {Var{"b"}, Var{"r"}, Var{"p"}, std::string("=="), double(0xFFFF0000), double(0xFFFF0000)})
             .trace();
         run(a, "b", "pixelDissolve", {Var{"b"}, Var{"r"}, Var{"p"}, 3.0, 1000.0, double(0xFF0000)});
         call(a, "b", "getColorBoundsRect", {double(0xFFFFFF), double(0xFF0000), false}).trace();
     },
     {"37", "(x=0, y=0, w=0, h=0)"}},
    {"CopyPixelsTakesAlphaFromTheAlphaBitmap",
     [](Asm& a) {
         bitmap(a, "s", 2, 1, true, double(0xFFFF0000));
         bitmap(a, "m", 2, 1, true, 0.0);
         run(a, "m", "setPixel32", {1.0, 0.0, double(0x80000000)});
         bitmap(a, "d", 2, 1, true, 0.0);
         rectOf(a, "s");
         origin(a);
         make(a, "q", "geom", "Point", {1.0, 0.0});
         run(a, "d", "copyPixels", {Var{"s"}, Var{"r"}, Var{"p"}, Var{"m"}, Var{"q"}});
         call(a, "d", "getPixel32", {0.0, 0.0}).trace();
         call(a, "d", "getPixel32", {1.0, 0.0}).trace(); // its alpha lies outside the alpha bitmap
     },
     {"-2130771968", "0"}},
    {"DisposedBitmapsAnswerMinusOne",
     [](Asm& a) {
         bitmap(a, "b", 2, 2, false, 0.0);
         run(a, "b", "dispose");
         call(a, "b", "noise", {1.0}).trace();
         call(a, "b", "scroll", {1.0, 1.0}).trace();
         call(a, "b", "getColorBoundsRect", {1.0, 1.0}).trace();
     },
     {"-1", "-1", "-1"}},
};

INSTANTIATE_TEST_SUITE_P(Bitmap, BitmapOperation, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
