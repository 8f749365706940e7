// The display runtime and the Player façade, on movies built in code.
#include "engine/core/limits.h"
#include "engine/display/player.h"
#include "engine/sound/offline_mix.h"
#include "tests/support/swf_writer.h"

#include <QApplication>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace swf;
using swf::test::Place;
using swf::test::ShapeBuilder;
using swf::test::SwfWriter;

namespace {

const Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255}, kWhite{255, 255, 255, 255};

// A 100 x 100 pixel stage at 10 frames per second.
SwfWriter smallMovie() { return SwfWriter(8, Rect{0, 2000, 0, 2000}, 10); }

// A filled square of `size` twips at the origin.
ShapeBuilder square(Rgba color, int32_t size = 400) {
    ShapeBuilder b;
    b.rect(0, 0, size, size, b.addSolidFill(color));
    return b;
}

Matrix translate(double xPx, double yPx) { return Matrix{1, 0, 0, 1, xPx * 20, yPx * 20}; }

std::unique_ptr<Player> load(const SwfWriter& w, HostCallbacks host = {}) {
    auto p = std::make_unique<Player>(std::move(host));
    auto r = p->load(w.bytes(), "test.swf");
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message);
    p->setViewport(100, 100);
    return p;
}

QRgb pixel(Player& p, int x, int y) { return p.renderImage().pixel(x, y); }

// Records what the runtime hands to the script engine.
struct RecordingHost : ScriptHost {
    std::vector<std::string>* log;
    explicit RecordingHost(std::vector<std::string>* l) : log(l) {}
    void frameActions(MovieClip& clip, std::span<const uint8_t> a) override {
        log->push_back("frame " + clip.path() + " " + std::to_string(clip.currentFrame()) + " bytes " +
                       std::to_string(a.size()));
    }
    void initActions(MovieClip&, uint16_t id, std::span<const uint8_t>) override {
        log->push_back("init " + std::to_string(id));
    }
    void buttonEvent(ButtonObject&, ButtonEvent e, std::span<const std::span<const uint8_t>> actions) override {
        log->push_back("button " + std::to_string(int(e)) + " actions " + std::to_string(actions.size()));
    }
    void objectRemoved(DisplayObject& o) override { log->push_back("removed " + std::to_string(o.depth())); }
};

class DisplayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "display_tests";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) new QApplication(argc, argv);
    }
};

// ---- timeline -------------------------------------------------------------

TEST_F(DisplayTest, TimelinePlacesMovesReplacesAndRemoves) {
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed)).defineShape(2, square(kBlue));
    w.placeObject2({.depth = 1, .characterId = 1, .matrix = translate(10, 10)}).showFrame();
    w.placeObject2({.depth = 1, .move = true, .matrix = translate(50, 10)}).showFrame();
    w.placeObject2({.depth = 1, .move = true, .characterId = 2}).showFrame();
    w.removeObject2(1).showFrame();
    auto p = load(w);

    p->runFrame();
    DisplayObject* obj = p->root()->childAtDepth(1);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->characterId(), 1);
    EXPECT_EQ(pixel(*p, 15, 15), qRgb(255, 0, 0));

    p->runFrame();
    EXPECT_EQ(p->root()->childAtDepth(1)->x(), 50);
    EXPECT_EQ(pixel(*p, 15, 15), qRgb(255, 255, 255));
    EXPECT_EQ(pixel(*p, 55, 15), qRgb(255, 0, 0));

    p->runFrame();
    DisplayObject* replaced = p->root()->childAtDepth(1);
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(replaced->characterId(), 2);
    EXPECT_EQ(replaced->x(), 50) << "a replaced character keeps its placement";
    EXPECT_EQ(pixel(*p, 55, 15), qRgb(0, 0, 255));

    p->runFrame();
    EXPECT_EQ(p->root()->childAtDepth(1), nullptr);
    EXPECT_EQ(pixel(*p, 55, 15), qRgb(255, 255, 255));
}

TEST_F(DisplayTest, SpritesRunTheirOwnTimelinesWhileTheRootIsStopped) {
    SwfWriter sprite = smallMovie();
    sprite.placeObject2({.depth = 1, .characterId = 1, .matrix = translate(0, 0)}).showFrame();
    sprite.placeObject2({.depth = 1, .move = true, .matrix = translate(20, 0)}).showFrame();
    sprite.placeObject2({.depth = 1, .move = true, .matrix = translate(40, 0)}).showFrame();
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed)).defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .name = std::string("walker")}).showFrame().showFrame();
    auto p = load(w);

    p->runFrame();
    p->stop();
    auto* clip = dynamic_cast<MovieClip*>(p->root()->childByName("walker"));
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(clip->currentFrame(), 1u) << "a clip placed this frame shows its first frame";
    p->runFrame();
    EXPECT_EQ(p->currentFrame(), 1u);
    EXPECT_EQ(clip->currentFrame(), 2u);
    EXPECT_EQ(clip->childAtDepth(1)->x(), 20);
    p->runFrame();
    p->runFrame();
    EXPECT_EQ(clip->currentFrame(), 1u) << "sprites loop";
    EXPECT_EQ(clip->childAtDepth(1)->x(), 0);
    EXPECT_EQ(clip->path(), "_level0.walker");
}

TEST_F(DisplayTest, BackRebuildsFromTheFirstFrameKeepingSurvivors) {
    SwfWriter sprite = smallMovie();
    sprite.placeObject2({.depth = 1, .characterId = 1}).showFrame().showFrame().showFrame();
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed)).defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = translate(0, 0)}).showFrame();     // 1
    w.placeObject2({.depth = 1, .move = true, .matrix = translate(30, 0)}).showFrame();        // 2
    w.placeObject2({.depth = 2, .characterId = 1, .matrix = translate(0, 50)}).showFrame();    // 3
    w.removeObject2(1).placeObject2({.depth = 1, .characterId = 2}).showFrame();               // 4
    auto p = load(w);
    for (int i = 0; i < 3; ++i) p->runFrame();
    DisplayObject* survivor = p->root()->childAtDepth(1);
    ASSERT_NE(survivor, nullptr);
    const uint64_t survivorId = survivor->serial();
    ASSERT_NE(p->root()->childAtDepth(2), nullptr);

    p->back();
    EXPECT_EQ(p->currentFrame(), 2u);
    EXPECT_FALSE(p->isPlaying());
    EXPECT_EQ(p->root()->childAtDepth(2), nullptr) << "placed after the target frame";
    EXPECT_EQ(p->root()->childAtDepth(1)->serial(), survivorId) << "the same placement survives";
    EXPECT_EQ(survivor->x(), 30);

    p->back();
    EXPECT_EQ(p->currentFrame(), 1u);
    EXPECT_EQ(p->root()->childAtDepth(1)->serial(), survivorId);
    EXPECT_EQ(survivor->x(), 0) << "the transform is rebuilt from frame 1";

    p->gotoFrame(4);
    DisplayObject* second = p->root()->childAtDepth(1);
    ASSERT_NE(second, nullptr);
    const uint64_t secondId = second->serial();
    EXPECT_NE(secondId, survivorId) << "removed and placed again: a new instance";
    p->gotoFrame(2);
    EXPECT_NE(p->root()->childAtDepth(1)->serial(), secondId) << "the frame-1 placement comes back as a new instance";
    EXPECT_EQ(p->root()->childAtDepth(1)->x(), 30);
}

TEST_F(DisplayTest, ForwardAndBackStopAtTheEnds) {
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed)).placeObject2({.depth = 1, .characterId = 1}).showFrame().showFrame().showFrame();
    auto p = load(w);
    p->runFrame();
    p->back();
    EXPECT_EQ(p->currentFrame(), 1u);
    p->forward();
    p->forward();
    EXPECT_EQ(p->currentFrame(), 3u);
    p->forward();
    EXPECT_EQ(p->currentFrame(), 3u);
    EXPECT_FALSE(p->isPlaying());
    p->runFrame();
    EXPECT_EQ(p->currentFrame(), 3u) << "stepping stops playback";
    p->rewind();
    EXPECT_EQ(p->currentFrame(), 1u);
}

struct LoopCase { bool loop; uint32_t frameAfterFour; bool playing; };
class LoopTest : public DisplayTest, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(LoopTest, RootLoopsOnlyWhenLoopIsOn) {
    SwfWriter w = smallMovie();
    w.showFrame().showFrame().showFrame();
    auto p = load(w);
    p->setLoop(GetParam().loop);
    for (int i = 0; i < 4; ++i) p->runFrame();
    EXPECT_EQ(p->currentFrame(), GetParam().frameAfterFour);
    EXPECT_EQ(p->isPlaying(), GetParam().playing);
}
INSTANTIATE_TEST_SUITE_P(Loop, LoopTest, ::testing::Values(LoopCase{true, 1, true}, LoopCase{false, 3, false}));

TEST_F(DisplayTest, FrameAndInitActionsGoToTheScriptHostInOrder) {
    std::vector<std::string> log;
    SwfWriter w = smallMovie();
    w.doInitAction(5, {0x00}).doAction({0x07, 0x00}).showFrame().doAction({0x00}).showFrame();
    Player p;
    p.setScriptHostFactory([&log](Player&) { return std::make_unique<RecordingHost>(&log); });
    ASSERT_TRUE(p.load(w.bytes(), "t.swf").ok());
    p.runFrame();
    p.runFrame();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "init 5");
    EXPECT_EQ(log[1], "frame _level0 1 bytes 2");
    EXPECT_EQ(log[2], "frame _level0 2 bytes 1");
}

// Every loop is a full visit of frame 1, in the root and in a sprite: its
// actions run (seen on frame 1) and its sounds start again.
TEST_F(DisplayTest, LoopingBackRunsTheFirstFramesActionsAndSounds) {
    std::vector<std::string> log;
    test::Bytes beep; // 441 samples (10 ms) of 16-bit mono
    for (int i = 0; i < 441; ++i) beep.insert(beep.end(), {0xe8, 0x03});
    SwfWriter sprite = smallMovie();
    sprite.doAction({0x00}).startSound(1).showFrame().showFrame();
    SwfWriter w = smallMovie();
    w.defineSound(1, 3, 3, true, false, 441, beep).defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .name = std::string("s")});
    w.doAction({0x07, 0x00}).startSound(1).showFrame().showFrame();
    Player p;
    p.setScriptHostFactory([&log](Player&) { return std::make_unique<RecordingHost>(&log); });
    p.setSoundPlayer(std::make_unique<SoundPlayer>());
    ASSERT_TRUE(p.load(w.bytes(), "t.swf").ok());
    OfflineMix mix(*p.soundPlayer(), p.frameRate());
    for (int loop = 0; loop < 3; ++loop) {
        log.clear();
        p.runFrame();
        ASSERT_EQ(p.currentFrame(), 1u);
        EXPECT_THAT(log, ::testing::UnorderedElementsAre("frame _level0 1 bytes 2", "frame _level0.s 1 bytes 1"))
            << "loop " << loop;
        EXPECT_EQ(p.soundPlayer()->activeSoundCount(), 2u) << "loop " << loop;
        mix.captureFrame(); // the short sounds play out
        p.runFrame();
        ASSERT_EQ(p.currentFrame(), 2u);
        EXPECT_EQ(p.soundPlayer()->activeSoundCount(), 0u);
        mix.captureFrame();
    }
}

// ---- stage ----------------------------------------------------------------

struct ScaleCase {
    ScaleMode mode;
    uint8_t align;
    double sx, sy, tx, ty; // expected stage matrix for a 100x100 movie in 200x100
};
class ScaleModeTest : public DisplayTest, public ::testing::WithParamInterface<ScaleCase> {};

TEST_P(ScaleModeTest, StageMatrixFitsTheMovie) {
    Stage s;
    s.setMovieRect({0, 2000, 0, 2000});
    s.setViewport(200, 100);
    s.setScaleMode(GetParam().mode);
    s.setAlign(GetParam().align);
    Matrix m = s.matrix();
    EXPECT_DOUBLE_EQ(m.a, GetParam().sx);
    EXPECT_DOUBLE_EQ(m.d, GetParam().sy);
    EXPECT_DOUBLE_EQ(m.tx, GetParam().tx);
    EXPECT_DOUBLE_EQ(m.ty, GetParam().ty);
}
INSTANTIATE_TEST_SUITE_P(
    Modes, ScaleModeTest,
    ::testing::Values(ScaleCase{ScaleMode::ShowAll, 0, 0.05, 0.05, 50, 0},
                      ScaleCase{ScaleMode::ShowAll, align::Left, 0.05, 0.05, 0, 0},
                      ScaleCase{ScaleMode::ShowAll, align::Right, 0.05, 0.05, 100, 0},
                      ScaleCase{ScaleMode::NoBorder, 0, 0.1, 0.1, 0, -50},
                      ScaleCase{ScaleMode::NoBorder, align::Top, 0.1, 0.1, 0, 0},
                      ScaleCase{ScaleMode::ExactFit, 0, 0.1, 0.05, 0, 0},
                      ScaleCase{ScaleMode::NoScale, 0, 0.05, 0.05, 50, 0},
                      ScaleCase{ScaleMode::NoScale, align::Left | align::Top, 0.05, 0.05, 0, 0}));

// The frame counts in whole pixels (the nearest, at least one): a movie a
// fraction of a pixel off its window's size shows at scale 1, its origin
// where the frame's corner says.
TEST_F(DisplayTest, StageMeasuresTheFrameInWholePixels) {
    struct Case {
        Rect frame;       // twips
        int width, height; // viewport
        double scale, tx, ty;
    } cases[] = {
        {{-13, 2013, -13, 493}, 101, 25, 0.05, 0.65, 0.65},  // 101.3 x 25.3 px
        {{0, 2008, 0, 1992}, 100, 100, 0.05, 0, 0},          // 100.4 x 99.6 px
        {{-2000, 2000, -2000, 2000}, 200, 200, 0.05, 100, 100},
        {{0, 5, 0, 5}, 2, 2, 0.1, 0, 0},                      // less than a pixel counts as one
        {{0, 2000, 0, 2000}, 200, 200, 0.1, 0, 0},
    };
    for (const Case& c : cases) {
        Stage s;
        s.setMovieRect(c.frame);
        s.setViewport(c.width, c.height);
        Matrix m = s.matrix();
        SCOPED_TRACE(testing::Message() << c.frame.xMin << ".." << c.frame.xMax);
        EXPECT_DOUBLE_EQ(m.a, c.scale);
        EXPECT_DOUBLE_EQ(m.d, c.scale);
        EXPECT_NEAR(m.tx, c.tx, 1e-9);
        EXPECT_NEAR(m.ty, c.ty, 1e-9);
        EXPECT_FALSE(s.zoomed());
    }
}

TEST_F(DisplayTest, ZoomSequencesActOnTheCurrentViewAboutItsCentre) {
    Stage s;
    s.setMovieRect({0, 2000, 0, 2000});
    s.setViewport(100, 100);
    const Point centre{1000, 1000};
    struct Step { int percent; double scale; };
    const Step steps[] = {{50, 0.1}, {50, 0.2}, {200, 0.1}, {0, 0.05}, {200, 0.025}, {0, 0.05}};
    for (const Step& step : steps) {
        s.zoom(step.percent);
        Matrix m = s.matrix();
        EXPECT_DOUBLE_EQ(m.a, step.scale) << "after Zoom(" << step.percent << ")";
        Point c = m.map(centre);
        EXPECT_NEAR(c.x, 50, 1e-9);
        EXPECT_NEAR(c.y, 50, 1e-9);
    }
    EXPECT_FALSE(s.zoomed());
    for (int i = 0; i < 40; ++i) s.zoom(50);
    EXPECT_DOUBLE_EQ(s.matrix().a, 0.05 * limits::kMaxZoom) << "zooming in is bounded";
    for (int i = 0; i < 80; ++i) s.zoom(200);
    EXPECT_DOUBLE_EQ(s.matrix().a, 0.05 / limits::kMaxZoom) << "zooming out is bounded";
}

TEST_F(DisplayTest, ZoomedPlayerDrawsTheCentreLarger) {
    SwfWriter w = smallMovie();
    // A red square in the top-left quarter only.
    w.defineShape(1, square(kRed, 1000)).placeObject2({.depth = 1, .characterId = 1}).showFrame();
    auto p = load(w);
    p->runFrame();
    EXPECT_EQ(pixel(*p, 40, 40), qRgb(255, 0, 0));
    EXPECT_EQ(pixel(*p, 60, 60), qRgb(255, 255, 255));
    p->zoom(50);
    EXPECT_EQ(pixel(*p, 45, 45), qRgb(255, 0, 0));
    EXPECT_EQ(pixel(*p, 55, 55), qRgb(255, 255, 255));
    EXPECT_EQ(pixel(*p, 5, 5), qRgb(255, 0, 0));
    p->zoom(0);
    EXPECT_EQ(pixel(*p, 60, 60), qRgb(255, 255, 255));
}

TEST_F(DisplayTest, BackgroundComesFromTheMovieUnlessOverridden) {
    SwfWriter w = smallMovie();
    w.backgroundColor(Rgba{0, 0, 255, 255}).showFrame();
    auto p = load(w);
    p->runFrame();
    EXPECT_EQ(pixel(*p, 50, 50), qRgb(0, 0, 255));
    p->setBackgroundOverride(kGreen);
    EXPECT_EQ(pixel(*p, 50, 50), qRgb(0, 255, 0));
}

// ---- masks, colour, layers ----------------------------------------------------

TEST_F(DisplayTest, MasksAndColourTransformsReachTheCommands) {
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed)).defineShape(2, square(kBlue));
    ColorTransform half;
    half.aMult = 0.5;
    half.rAdd = 10;
    w.placeObject2({.depth = 1, .characterId = 1, .clipDepth = 3});
    w.placeObject2({.depth = 2, .characterId = 2, .colorTransform = half});
    w.placeObject3({.depth = 4, .characterId = 2, .blendMode = BlendMode::Multiply});
    w.showFrame();
    auto p = load(w);
    p->runFrame();
    auto list = p->buildCommands();
    ASSERT_EQ(list.commands.size(), 8u);
    EXPECT_TRUE(std::holds_alternative<render::PushMask>(list.commands[0]));
    EXPECT_TRUE(std::holds_alternative<render::DrawShape>(list.commands[1]));
    EXPECT_TRUE(std::holds_alternative<render::ActivateMask>(list.commands[2]));
    ASSERT_TRUE(std::holds_alternative<render::DrawShape>(list.commands[3]));
    EXPECT_EQ(std::get<render::DrawShape>(list.commands[3]).colorTransform, half);
    EXPECT_DOUBLE_EQ(std::get<render::DrawShape>(list.commands[3]).matrix.a, 0.05) << "stage scale folded in";
    EXPECT_TRUE(std::holds_alternative<render::PopMask>(list.commands[4]));
    ASSERT_TRUE(std::holds_alternative<render::BeginLayer>(list.commands[5]));
    EXPECT_EQ(std::get<render::BeginLayer>(list.commands[5]).blendMode, BlendMode::Multiply);
    EXPECT_TRUE(std::holds_alternative<render::DrawShape>(list.commands[6]));
    EXPECT_TRUE(std::holds_alternative<render::EndLayer>(list.commands[7]));
}

// Filter sizes follow the stage's zoom only: a layer's filter matrix drops
// the clip's own scale and rotation and those of its parents.
TEST_F(DisplayTest, LayersMeasureFiltersInStageSpace) {
    struct Case {
        Matrix outer; // the sprite holding the layered shape
        int zoom;     // percent, 0 = the whole movie
        double scale; // expected filter matrix: scale only
    } cases[] = {
        {Matrix{}, 0, 0.05},
        {Matrix{2, 0, 0, 2, 100, 100}, 0, 0.05},
        {Matrix{0, 1.5, -1.5, 0, 0, 0}, 0, 0.05},   // turned a quarter
        {Matrix{0.5, 0, 0, 4, 0, 0}, 50, 0.1},      // zoomed in twice
    };
    for (const Case& c : cases) {
        SwfWriter sprite = smallMovie();
        sprite.placeObject3({.depth = 1, .characterId = 1, .matrix = Matrix{3, 0, 0, 3, 0, 0},
                             .blendMode = BlendMode::Multiply});
        sprite.showFrame();
        SwfWriter w = smallMovie();
        w.defineShape(1, square(kRed)).defineSprite(2, sprite);
        w.placeObject2({.depth = 1, .characterId = 2, .matrix = c.outer}).showFrame();
        auto p = load(w);
        p->runFrame();
        if (c.zoom) p->zoom(c.zoom);
        auto list = p->buildCommands();
        auto layer = std::find_if(list.commands.begin(), list.commands.end(),
                                  [](const render::Command& k) { return std::holds_alternative<render::BeginLayer>(k); });
        ASSERT_NE(layer, list.commands.end());
        const Matrix& f = std::get<render::BeginLayer>(*layer).filterMatrix;
        SCOPED_TRACE(testing::Message() << "outer " << c.outer.a << "," << c.outer.b << " zoom " << c.zoom);
        EXPECT_NEAR(f.a, c.scale, 1e-9);
        EXPECT_NEAR(f.d, c.scale, 1e-9);
        EXPECT_NEAR(f.b, 0, 1e-9);
        EXPECT_NEAR(f.c, 0, 1e-9);
    }
}

TEST_F(DisplayTest, ParentColourTransformAppliesAfterTheChilds) {
    SwfWriter sprite = smallMovie();
    ColorTransform inner;
    inner.rMult = 0.5;
    sprite.placeObject2({.depth = 1, .characterId = 1, .colorTransform = inner}).showFrame();
    SwfWriter w = smallMovie();
    ColorTransform outer;
    outer.rAdd = 20;
    w.defineShape(1, square(kRed)).defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = Matrix{2, 0, 0, 2, 0, 0}, .colorTransform = outer});
    w.showFrame();
    auto p = load(w);
    p->runFrame();
    auto list = p->buildCommands();
    ASSERT_EQ(list.commands.size(), 1u);
    const auto& cmd = std::get<render::DrawShape>(list.commands[0]);
    EXPECT_DOUBLE_EQ(cmd.colorTransform.rMult, 0.5);
    EXPECT_DOUBLE_EQ(cmd.colorTransform.rAdd, 20);
    EXPECT_DOUBLE_EQ(cmd.matrix.a, 0.1);
}

TEST_F(DisplayTest, ScriptMasksClipTheirOwnerAndAreNotDrawn) {
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed, 2000)).defineShape(2, square(kBlue, 400));
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = translate(60, 60), .clipDepth = 5});
    w.placeObject2({.depth = 2, .characterId = 1});
    w.showFrame();
    auto p = load(w);
    p->runFrame();
    DisplayObject* big = p->root()->childAtDepth(2);
    DisplayObject* mask = p->root()->childAtDepth(1);
    EXPECT_EQ(pixel(*p, 10, 10), qRgb(255, 255, 255)) << "a clip-depth mask hides what it does not cover";
    big->setMask(mask);
    EXPECT_EQ(big->mask(), mask);
    EXPECT_EQ(mask->maskOwner(), big);
    EXPECT_EQ(pixel(*p, 10, 10), qRgb(255, 255, 255));
    EXPECT_EQ(pixel(*p, 65, 65), qRgb(255, 0, 0)) << "the owner shows through its mask, the mask is not drawn";
    big->setMask(nullptr);
    EXPECT_EQ(mask->maskOwner(), nullptr);
    EXPECT_EQ(pixel(*p, 65, 65), qRgb(255, 0, 0));
    EXPECT_EQ(pixel(*p, 10, 10), qRgb(255, 0, 0)) << "a timeline mask used by a script mask masks no more";
    big->setMask(mask);
    p->root()->removeChild(1);
    EXPECT_EQ(big->mask(), nullptr) << "a removed mask is forgotten";
    EXPECT_EQ(pixel(*p, 10, 10), qRgb(255, 0, 0));
}

TEST_F(DisplayTest, ScriptDrawingShowsBelowTheClipsChildren) {
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kBlue, 400));
    w.placeObject2({.depth = 1, .characterId = 1, .matrix = translate(40, 40)}).showFrame();
    auto p = load(w);
    p->runFrame();
    Drawing& d = p->root()->drawing();
    FillStyle red;
    red.color = kRed;
    d.beginFill(red);
    d.moveTo(600, 600);
    d.lineTo(1400, 600);
    d.lineTo(1400, 1400);
    d.lineTo(600, 1400); // left open: endFill closes it
    d.endFill();
    p->root()->drawingChanged();
    EXPECT_EQ(pixel(*p, 35, 35), qRgb(255, 0, 0));
    EXPECT_EQ(pixel(*p, 45, 45), qRgb(0, 0, 255)) << "children stay above the drawing";
    EXPECT_EQ(pixel(*p, 25, 25), qRgb(255, 255, 255));
    EXPECT_TRUE(p->root()->hitTest({1000, 1300}));
    d.clear();
    p->root()->drawingChanged();
    EXPECT_EQ(pixel(*p, 35, 35), qRgb(255, 255, 255));
}

// ---- buttons and input --------------------------------------------------------

SwfWriter buttonMovie() {
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed, 800)).defineShape(2, square(kGreen, 800)).defineShape(3, square(kBlue, 800));
    w.defineButton2(10,
                    {{.up = true, .characterId = 1, .depth = 1},
                     {.up = false, .over = true, .characterId = 2, .depth = 1},
                     {.up = false, .down = true, .characterId = 3, .depth = 1},
                     {.up = false, .hitTest = true, .characterId = 1, .depth = 2}},
                    {{0x0004, {0x07, 0x00}}, {0x0008, {0x06, 0x00}}});
    w.placeObject2({.depth = 1, .characterId = 10, .matrix = translate(10, 10)}).showFrame();
    return w;
}

TEST_F(DisplayTest, ButtonsFollowTheMouseThroughTheirStates) {
    std::vector<std::string> log;
    Player p;
    p.setScriptHostFactory([&log](Player&) { return std::make_unique<RecordingHost>(&log); });
    ASSERT_TRUE(p.load(buttonMovie().bytes(), "b.swf").ok());
    p.setViewport(200, 200); // shown at twice the size: input is mapped through the stage
    p.runFrame();
    auto* button = dynamic_cast<ButtonObject*>(p.root()->childAtDepth(1));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(p.renderImage().pixel(40, 40), qRgb(255, 0, 0));

    struct Step { const char* what; int x, y; int action; ButtonObject::State state; Cursor cursor; QRgb colour; };
    const Step steps[] = {
        {"move over", 40, 40, 0, ButtonObject::State::Over, Cursor::Hand, qRgb(0, 255, 0)},
        {"press", 40, 40, 1, ButtonObject::State::Down, Cursor::Hand, qRgb(0, 0, 255)},
        {"drag out", 150, 150, 0, ButtonObject::State::Over, Cursor::Arrow, qRgb(0, 255, 0)},
        {"drag back", 40, 40, 0, ButtonObject::State::Down, Cursor::Hand, qRgb(0, 0, 255)},
        {"release", 40, 40, 2, ButtonObject::State::Over, Cursor::Hand, qRgb(0, 255, 0)},
        {"move away", 150, 150, 0, ButtonObject::State::Up, Cursor::Arrow, qRgb(255, 0, 0)},
    };
    for (const Step& s : steps) {
        if (s.action == 1) p.mouseDown(s.x, s.y);
        else if (s.action == 2) p.mouseUp(s.x, s.y);
        else p.mouseMove(s.x, s.y);
        EXPECT_EQ(button->state(), s.state) << s.what;
        EXPECT_EQ(p.cursor(), s.cursor) << s.what;
        EXPECT_EQ(p.renderImage().pixel(40, 40), s.colour) << s.what;
    }
    std::vector<std::string> expected = {"button 1 actions 0", "button 4 actions 1", "button 16 actions 0",
                                         "button 32 actions 0", "button 8 actions 1", "button 2 actions 0"};
    EXPECT_EQ(log, expected);
}

TEST_F(DisplayTest, ReleaseOutsideReturnsTheButtonToUp) {
    auto p = load(buttonMovie());
    p->runFrame();
    auto* button = dynamic_cast<ButtonObject*>(p->root()->childAtDepth(1));
    p->mouseMove(20, 20);
    p->mouseDown(20, 20);
    p->mouseMove(90, 90);
    p->mouseUp(90, 90);
    EXPECT_EQ(button->state(), ButtonObject::State::Up);
    EXPECT_EQ(p->cursor(), Cursor::Arrow);
}

TEST_F(DisplayTest, KeyPressesReachButtonsBoundToThatKey) {
    std::vector<std::string> log;
    struct KeyHost : RecordingHost {
        using RecordingHost::RecordingHost;
        void buttonKey(ButtonObject&, std::span<const uint8_t> a) override {
            log->push_back("key actions " + std::to_string(a.size()));
        }
    };
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed));
    // Condition key codes sit in the top seven bits: 'a' (97) and the left arrow (1).
    w.defineButton2(10, {{.up = true, .hitTest = true, .characterId = 1, .depth = 1}},
                    {{uint16_t(97 << 9), {0x07, 0x00}}, {uint16_t(1 << 9), {0x06, 0x06, 0x00}}});
    w.placeObject2({.depth = 1, .characterId = 10}).showFrame();
    Player p;
    p.setScriptHostFactory([&log](Player&) { return std::make_unique<KeyHost>(&log); });
    ASSERT_TRUE(p.load(w.bytes(), "k.swf").ok());
    p.runFrame();
    p.keyDown(65, 'a');
    p.keyDown(37, 0);
    p.keyDown(66, 'b');
    EXPECT_EQ(log, (std::vector<std::string>{"key actions 2", "key actions 3"}));
}

// The factory picks the engine by the movie; one that has none for
// ActionScript 3 leaves the movie its timeline, with one notice.
TEST_F(DisplayTest, ActionScript3MoviesWithoutAnEngineShowTheirTimeline) {
    std::vector<std::string> messages;
    HostCallbacks host;
    host.log = [&messages](LogLevel, const std::string& m) { messages.push_back(m); };
    bool askedForAs3 = false;
    SwfWriter w = smallMovie();
    w.tag(tag::FileAttributes, {0x08, 0, 0, 0});
    w.tag(tag::DoABC, {1, 2, 3, 4});
    w.defineShape(1, square(kRed)).placeObject2({.depth = 1, .characterId = 1, .matrix = translate(10, 10)}).showFrame();
    Player p(host);
    p.setScriptHostFactory([&askedForAs3](Player& player) -> std::unique_ptr<ScriptHost> {
        askedForAs3 = player.movie() && player.movie()->isAs3();
        return nullptr;
    });
    ASSERT_TRUE(p.load(w.bytes(), "as3.swf").ok());
    p.setViewport(100, 100);
    p.runFrame();
    EXPECT_TRUE(askedForAs3);
    EXPECT_EQ(p.scriptHost(), nullptr);
    size_t notices = 0;
    for (const auto& m : messages) notices += m.find("ActionScript 3") != std::string::npos;
    EXPECT_EQ(notices, 1u);
    EXPECT_EQ(p.renderImage().pixel(15, 15), qRgb(255, 0, 0));
}

// ---- dirty regions and the clock -----------------------------------------------

TEST_F(DisplayTest, OnlyChangedRegionsAreRedrawn) {
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed, 200)).defineShape(2, square(kBlue, 200));
    w.placeObject2({.depth = 1, .characterId = 1, .matrix = translate(0, 0)});
    w.placeObject2({.depth = 2, .characterId = 2, .matrix = translate(80, 80)}).showFrame();
    w.showFrame(); // nothing changes
    w.placeObject2({.depth = 1, .move = true, .matrix = translate(20, 0)}).showFrame();
    auto p = load(w);
    p->stop();
    p->runFrame();
    QImage image;
    EXPECT_TRUE(p->render(image));
    EXPECT_FALSE(p->needsRedraw());
    EXPECT_FALSE(p->render(image)) << "no change, no drawing";

    p->play();
    p->runFrame();
    EXPECT_FALSE(p->prepareRender().has_value()) << "a frame without changes costs no drawing";

    p->runFrame();
    auto job = p->prepareRender();
    ASSERT_TRUE(job.has_value());
    EXPECT_FALSE(job->full);
    EXPECT_TRUE(job->dirty.contains(QPoint(5, 5)));   // old place
    EXPECT_TRUE(job->dirty.contains(QPoint(25, 5)));  // new place
    EXPECT_FALSE(job->dirty.contains(QPoint(85, 85))) << "the still square is not redrawn";
}

TEST_F(DisplayTest, AdvanceRunsDueFramesWithoutDrift) {
    SwfWriter w = smallMovie(); // 10 fps: 100 ms a frame
    for (int i = 0; i < 50; ++i) w.showFrame();
    auto p = load(w);
    p->setLoop(false);
    EXPECT_EQ(p->advance(250), 2);
    EXPECT_EQ(p->advance(50), 1) << "the carried 50 ms count";
    EXPECT_EQ(p->currentFrame(), 3u);
    int ran = 0;
    for (int i = 0; i < 30; ++i) ran += p->advance(33.3333333);
    EXPECT_EQ(ran, 10);
    EXPECT_EQ(p->advance(60000), 10) << "catching up is bounded";
}

// ---- bad input ------------------------------------------------------------------

TEST_F(DisplayTest, BrokenMoviesLeaveTheStageEmpty) {
    Player p;
    EXPECT_FALSE(p.load({'F', 'W', 'S'}, "x.swf").ok());
    EXPECT_FALSE(p.isLoaded());
    EXPECT_FALSE(p.loadFile("/nonexistent/movie.swf").ok());
    p.setViewport(10, 10);
    p.runFrame();
    p.back();
    p.mouseDown(1, 1);
    EXPECT_EQ(p.renderImage().pixel(5, 5), qRgb(255, 255, 255));
}

TEST_F(DisplayTest, MoviesThatContainThemselvesStopAtTheNestingLimit) {
    std::vector<std::string> warnings;
    HostCallbacks host;
    host.log = [&warnings](LogLevel, const std::string& m) { warnings.push_back(m); };
    // Sprite 2 places itself; button 3 shows itself and sprite 4, which places button 3.
    SwfWriter sprite = smallMovie();
    sprite.placeObject2({.depth = 1, .characterId = 2, .matrix = translate(1, 1)}).showFrame();
    SwfWriter inner = smallMovie();
    inner.placeObject2({.depth = 1, .characterId = 3}).showFrame();
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed));
    w.defineSprite(2, sprite).defineSprite(4, inner);
    w.defineButton2(3, {{.up = true, .hitTest = true, .characterId = 3, .depth = 1},
                        {.up = true, .characterId = 4, .depth = 2},
                        {.up = true, .characterId = 1, .depth = 3}}, {});
    w.placeObject2({.depth = 1, .characterId = 2}).placeObject2({.depth = 2, .characterId = 3}).showFrame();
    auto p = load(w, host);
    p->runFrame();
    p->runFrame();
    EXPECT_LE(p->runtime().objectCount, limits::kMaxDisplayObjects) << "a branching self-reference stops at the object limit";
    EXPECT_FALSE(warnings.empty());
    int depth = 0;
    for (auto* c = dynamic_cast<MovieClip*>(p->root()->childAtDepth(1)); c;
         c = dynamic_cast<MovieClip*>(c->childAtDepth(1)))
        ++depth;
    EXPECT_EQ(depth, limits::kMaxClipNesting - 1);
    EXPECT_EQ(p->renderImage().size(), QSize(100, 100));
}

TEST_F(DisplayTest, AButtonThatShowsItselfIsPlacedOnceNotWithoutEnd) {
    // Four self-references a state branch four ways at every level: without a
    // cycle check this takes exponential time long before any object limit.
    std::vector<std::string> warnings;
    HostCallbacks host;
    host.log = [&warnings](LogLevel, const std::string& m) { warnings.push_back(m); };
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed));
    w.defineButton2(3, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 3, .depth = 1},
                        {.up = true, .over = true, .down = true, .hitTest = true, .characterId = 3, .depth = 2},
                        {.up = true, .characterId = 1, .depth = 3}}, {});
    w.placeObject2({.depth = 1, .characterId = 3}).showFrame();
    auto p = load(w, host);
    p->runFrame();
    p->runFrame();
    EXPECT_LT(p->runtime().objectCount, 10u);
    EXPECT_THAT(warnings, testing::Contains(testing::HasSubstr("contains itself")));
    EXPECT_EQ(p->renderImage().pixelColor(5, 5), QColor(Qt::red));
}

TEST_F(DisplayTest, EveryPrefixOfAMoviePlaysOrFailsCleanly) {
    SwfWriter sprite = smallMovie();
    sprite.placeObject2({.depth = 1, .characterId = 1}).showFrame().showFrame();
    SwfWriter w = smallMovie();
    w.defineShape(1, square(kRed)).defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .name = std::string("a")}).showFrame();
    w.placeObject3({.depth = 2, .characterId = 1, .filterList = swf::test::Bytes{1, 1, 0, 0, 4, 0, 0, 0, 4, 0, 1}})
        .showFrame();
    auto bytes = w.bytes();
    for (size_t n = 0; n <= bytes.size(); ++n) {
        Player p;
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(n));
        if (!p.load(prefix, "t.swf").ok()) continue;
        p.setViewport(20, 20);
        for (int i = 0; i < 3; ++i) p.runFrame();
        p.back();
        QImage image = p.renderImage();
        EXPECT_EQ(image.size(), QSize(20, 20));
    }
}

} // namespace
