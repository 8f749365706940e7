// The MovieClip drawing API from scripts: shapes drawn and rendered, pixels
// checked; and the drawing's guards against hostile input.
#include "engine/core/limits.h"
#include "engine/display/drawing.h"
#include "engine/display/movie_clip.h"
#include "tests/avm1/gfx_script.h"

#include <QColor>

#include <cmath>
#include <functional>
#include <limits>

namespace {

using namespace gfxtest;

// c.moveTo(x0, y0) and lines round the rectangle back to the start.
void rectPath(Asm& a, const std::string& clip, double x0, double y0, double x1, double y1) {
    run(a, clip, "moveTo", {x0, y0});
    run(a, clip, "lineTo", {x1, y0});
    run(a, clip, "lineTo", {x1, y1});
    run(a, clip, "lineTo", {x0, y1});
    run(a, clip, "lineTo", {x0, y0});
}

// c.moveTo(20, 20) and lines round three sides of a square to (20, 80).
void threeSides(Asm& a) {
    run(a, "c", "moveTo", {20.0, 20.0});
    run(a, "c", "lineTo", {80.0, 20.0});
    run(a, "c", "lineTo", {80.0, 80.0});
    run(a, "c", "lineTo", {20.0, 80.0});
}

// c: a red square 10..50 px; m (above it): a blue square 30..60 px.
void redSquareMaskedByBlue(Asm& a) {
    run(a, "c", "beginFill", {double(0xFF0000)});
    rectPath(a, "c", 10, 10, 50, 50);
    run(a, "c", "endFill");
    createClip(a, "m", 2);
    run(a, "m", "beginFill", {double(0x0000FF)});
    rectPath(a, "m", 30, 30, 60, 60);
    run(a, "m", "endFill");
}

struct PixelCase {
    const char* name;
    std::function<void(Asm&)> script;
    std::vector<std::tuple<int, int, QRgb>> pixels; // x, y, colour (opaque)
};

class DrawPixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(DrawPixels, RendersWhatTheScriptDrew) {
    Asm a;
    createClip(a, "c", 1);
    GetParam().script(a);
    auto r = runScript(a);
    QImage img = r->player->renderImage();
    for (auto [x, y, want] : GetParam().pixels) {
        QRgb got = img.pixel(x, y) | 0xFF000000u;
        EXPECT_LE(std::abs(qRed(got) - qRed(want)) + std::abs(qGreen(got) - qGreen(want)) +
                      std::abs(qBlue(got) - qBlue(want)),
                  24)
            << "at " << x << "," << y << " got " << std::hex << got << " want " << want;
    }
}

const PixelCase kPixelCases[] = {
    {"SolidFill",
     [](Asm& a) {
         run(a, "c", "beginFill", {double(0xFF0000)});
         rectPath(a, "c", 10, 10, 50, 50);
         run(a, "c", "endFill");
     },
     {{30, 30, qRgb(255, 0, 0)}, {5, 5, qRgb(255, 255, 255)}, {55, 30, qRgb(255, 255, 255)}}},
    {"HalfAlphaFillBlendsWithTheBackground",
     [](Asm& a) {
         run(a, "c", "beginFill", {double(0x0000FF), 50.0});
         rectPath(a, "c", 10, 10, 50, 50);
         run(a, "c", "endFill");
     },
     {{30, 30, qRgb(128, 128, 255)}}},
    {"OpenFillIsClosedByEndFill",
     [](Asm& a) {
         run(a, "c", "beginFill", {double(0x00FF00)});
         run(a, "c", "moveTo", {10.0, 10.0});
         run(a, "c", "lineTo", {90.0, 10.0});
         run(a, "c", "lineTo", {90.0, 90.0});
         run(a, "c", "endFill");
     },
     {{80, 20, qRgb(0, 255, 0)}, {20, 80, qRgb(255, 255, 255)}}},
    {"LineOutlineLeavesTheInsideEmpty",
     [](Asm& a) {
         run(a, "c", "lineStyle", {4.0, double(0x0000FF), 100.0});
         rectPath(a, "c", 20, 20, 80, 80);
     },
     {{20, 50, qRgb(0, 0, 255)}, {80, 50, qRgb(0, 0, 255)}, {50, 50, qRgb(255, 255, 255)}}},
    {"ClosingEdgeOfAFillIsStroked",
     [](Asm& a) {
         run(a, "c", "lineStyle", {4.0, 0.0});
         run(a, "c", "beginFill", {double(0xFF0000)});
         threeSides(a);
         run(a, "c", "endFill");
     },
     {{20, 50, qRgb(0, 0, 0)}, {50, 50, qRgb(255, 0, 0)}}},
    {"ClosingEdgeOfAFillLeftOpenIsStroked",
     [](Asm& a) {
         run(a, "c", "beginFill", {double(0xFF0000)});
         run(a, "c", "lineStyle", {4.0, 0.0});
         threeSides(a);
     },
     {{20, 50, qRgb(0, 0, 0)}, {50, 50, qRgb(255, 0, 0)}}},
    {"CurveBulgesTowardsItsControlPoint",
     [](Asm& a) {
         run(a, "c", "beginFill", {0.0});
         run(a, "c", "moveTo", {10.0, 50.0});
         run(a, "c", "curveTo", {50.0, 0.0, 90.0, 50.0});
         run(a, "c", "endFill");
     },
     {{50, 40, qRgb(0, 0, 0)}, {50, 20, qRgb(255, 255, 255)}, {50, 60, qRgb(255, 255, 255)}}},
    {"LinearGradientRunsAcrossTheBox",
     [](Asm& a) {
         make(a, "m", "geom", "Matrix");
         run(a, "m", "createGradientBox", {100.0, 100.0});
         makeArray(a, "cs", {double(0xFF0000), double(0x0000FF)});
         makeArray(a, "as", {100.0, 100.0});
         makeArray(a, "rs", {0.0, 255.0});
         run(a, "c", "beginGradientFill", {std::string("linear"), Var{"cs"}, Var{"as"}, Var{"rs"}, Var{"m"}});
         rectPath(a, "c", 0, 0, 100, 100);
         run(a, "c", "endFill");
     },
     {{1, 50, qRgb(253, 0, 2)}, {50, 50, qRgb(128, 0, 127)}, {98, 50, qRgb(2, 0, 253)}}},
    {"RadialGradientFromTheCentre",
     [](Asm& a) {
         make(a, "m", "geom", "Matrix");
         run(a, "m", "createGradientBox", {100.0, 100.0});
         makeArray(a, "cs", {double(0xFFFFFF), 0.0});
         makeArray(a, "as", {100.0, 100.0});
         makeArray(a, "rs", {0.0, 255.0});
         run(a, "c", "beginGradientFill", {std::string("radial"), Var{"cs"}, Var{"as"}, Var{"rs"}, Var{"m"}});
         rectPath(a, "c", 0, 0, 100, 100);
         run(a, "c", "endFill");
     },
     {{50, 50, qRgb(255, 255, 255)}, {50, 25, qRgb(128, 128, 128)}, {2, 2, qRgb(0, 0, 0)}}},
    {"BoxMatrixObject",
     [](Asm& a) {
         // {matrixType: "box", x: 0, y: 0, w: 100, h: 100, r: 0}
         a.push("m").push("matrixType").push("box").push("x").push(0.0).push("y").push(0.0).push("w").push(100.0);
         a.push("h").push(100.0).push("r").push(0.0).push(6).op(0x43).setVariable();
         makeArray(a, "cs", {0.0, double(0x00FF00)});
         makeArray(a, "as", {100.0, 100.0});
         makeArray(a, "rs", {0.0, 255.0});
         run(a, "c", "beginGradientFill", {std::string("linear"), Var{"cs"}, Var{"as"}, Var{"rs"}, Var{"m"}});
         rectPath(a, "c", 0, 0, 100, 100);
         run(a, "c", "endFill");
     },
     {{1, 50, qRgb(0, 2, 0)}, {98, 50, qRgb(0, 253, 0)}}},
    {"GradientWithoutMatrixDrawsNothing",
     [](Asm& a) {
         makeArray(a, "cs", {0.0, 0.0});
         makeArray(a, "as", {100.0, 100.0});
         makeArray(a, "rs", {0.0, 255.0});
         run(a, "c", "beginGradientFill", {std::string("linear"), Var{"cs"}, Var{"as"}, Var{"rs"}});
         rectPath(a, "c", 0, 0, 100, 100);
         run(a, "c", "endFill");
     },
     {{50, 50, qRgb(255, 255, 255)}}},
    {"LaterFillCoversEarlierLines",
     [](Asm& a) {
         run(a, "c", "lineStyle", {10.0, 0.0});
         run(a, "c", "moveTo", {0.0, 50.0});
         run(a, "c", "lineTo", {100.0, 50.0});
         run(a, "c", "lineStyle");
         run(a, "c", "beginFill", {double(0xFF0000)});
         rectPath(a, "c", 40, 40, 60, 60);
         run(a, "c", "endFill");
     },
     {{50, 50, qRgb(255, 0, 0)}, {20, 50, qRgb(0, 0, 0)}}},
    {"ClearRemovesEverything",
     [](Asm& a) {
         run(a, "c", "beginFill", {0.0});
         rectPath(a, "c", 0, 0, 100, 100);
         run(a, "c", "endFill");
         run(a, "c", "clear");
     },
     {{50, 50, qRgb(255, 255, 255)}}},
    {"NotANumberCoordinatesAreIgnored",
     [](Asm& a) {
         run(a, "c", "beginFill", {double(0xFF0000)});
         run(a, "c", "moveTo", {10.0, 10.0});
         run(a, "c", "lineTo", {90.0, 10.0});
         run(a, "c", "lineTo", {std::string("abc"), 90.0});
         run(a, "c", "lineTo", {90.0, 90.0});
         run(a, "c", "lineTo", {10.0, 90.0});
         run(a, "c", "endFill");
     },
     {{50, 50, qRgb(255, 0, 0)}, {95, 50, qRgb(255, 255, 255)}}},
    {"DuplicateKeepsTheDrawing",
     [](Asm& a) {
         run(a, "c", "beginFill", {double(0x0000FF)});
         rectPath(a, "c", 0, 0, 20, 20);
         run(a, "c", "endFill");
         assign(a, "d", "c", "duplicateMovieClip", {std::string("d"), 5.0});
         setMemberOf(a, "d", "_x", 50.0);
     },
     {{10, 10, qRgb(0, 0, 255)}, {60, 10, qRgb(0, 0, 255)}, {35, 10, qRgb(255, 255, 255)}}},
    // A red square masked by a blue one drawn above it: only the overlap
    // shows, in red; the mask itself is not drawn.
    {"SetMaskShowsOnlyTheMasksArea",
     [](Asm& a) {
         redSquareMaskedByBlue(a);
         run(a, "c", "setMask", {Var{"m"}});
     },
     {{15, 15, qRgb(255, 255, 255)}, {35, 35, qRgb(255, 0, 0)}, {55, 55, qRgb(255, 255, 255)}}},
    {"SetMaskTakesATargetPath",
     [](Asm& a) {
         redSquareMaskedByBlue(a);
         run(a, "c", "setMask", {std::string("_root.m")});
     },
     {{15, 15, qRgb(255, 255, 255)}, {35, 35, qRgb(255, 0, 0)}}},
    {"SetMaskNullDrawsBothAgain",
     [](Asm& a) {
         redSquareMaskedByBlue(a);
         run(a, "c", "setMask", {Var{"m"}});
         a.pushNull().push(1).getVariable("c").push("setMask").callMethod().pop();
     },
     {{15, 15, qRgb(255, 0, 0)}, {35, 35, qRgb(0, 0, 255)}, {55, 55, qRgb(0, 0, 255)}}},
};

INSTANTIATE_TEST_SUITE_P(Draw, DrawPixels, ::testing::ValuesIn(kPixelCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DrawApi, ShapesOfTheDrawingCountInTheClipsBounds) {
    Asm a;
    createClip(a, "c", 1);
    run(a, "c", "beginFill", {0.0});
    rectPath(a, "c", 10, 20, 30, 60);
    run(a, "c", "endFill");
    traceMember(a, "c", "_width");
    traceMember(a, "c", "_height");
    auto r = runScript(a);
    EXPECT_EQ(r->trace, (std::vector<std::string>{"20", "40"}));
}

TEST(DrawApi, AbsentBeforeVersion6) {
    Asm a;
    createClip(a, "c", 1);
    a.getVariable("c").push("beginFill").getMember().op(0x44).trace(); // typeof
    EXPECT_EQ(runScript(a, 5)->trace, std::vector<std::string>{"undefined"});
    EXPECT_EQ(runScript(a, 6)->trace, std::vector<std::string>{"function"});
}

TEST(Drawing, RecordsStopAtTheLimit) {
    swf::Drawing d;
    swf::FillStyle f;
    d.beginFill(f);
    for (size_t i = 0; i < swf::limits::kMaxDrawingRecords + 1000; ++i) d.lineTo(double(i % 100), double(i % 7));
    auto shape = d.shape();
    ASSERT_TRUE(shape);
    size_t edges = 0;
    for (const auto& layer : shape->layers)
        for (const auto& path : layer.fills) edges += path.edges.size();
    EXPECT_LE(edges, swf::limits::kMaxDrawingRecords);
    EXPECT_GT(edges, swf::limits::kMaxDrawingRecords / 2);
}

TEST(Drawing, HugeAndNonFiniteCoordinatesKeepBoundsSane) {
    swf::Drawing d;
    d.moveTo(0, 0);
    d.lineTo(1e300, -1e300);
    d.lineTo(std::numeric_limits<double>::quiet_NaN(), 5);
    d.lineTo(std::numeric_limits<double>::infinity(), 5);
    swf::Rect b = d.bounds();
    EXPECT_EQ(b.xMax, int32_t(swf::limits::kMaxDrawingCoordinate));
    EXPECT_EQ(b.yMin, -int32_t(swf::limits::kMaxDrawingCoordinate));
    EXPECT_EQ(b.xMin, 0);
}

} // namespace
