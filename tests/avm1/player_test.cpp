// Scripts in whole movies: the ActionScript engine driven by the Player,
// with movies written in code.
#include "engine/avm1/script_engine.h"
#include "engine/display/player.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <gtest/gtest.h>

namespace {

using avm1test::Asm;
using swf::Player;
using swf::test::SwfWriter;

struct Movie {
    std::unique_ptr<Player> player;
    std::vector<std::string> trace;
    std::vector<std::string> warnings;
    std::vector<std::string> fscommands;
};

std::unique_ptr<Movie> play(const SwfWriter& w) {
    auto m = std::make_unique<Movie>();
    swf::HostCallbacks host;
    Movie* raw = m.get();
    host.trace = [raw](const std::string& s) { raw->trace.push_back(s); };
    host.log = [raw](swf::LogLevel level, const std::string& s) {
        if (level == swf::LogLevel::Warning) raw->warnings.push_back(s);
    };
    host.fscommand = [raw](const std::string& c, const std::string& a) { raw->fscommands.push_back(c + "|" + a); };
    m->player = std::make_unique<Player>(host);
    m->player->setScriptHostFactory(swf::avm1ScriptHostFactory());
    auto loaded = m->player->load(w.bytes(), "test.swf");
    EXPECT_TRUE(loaded.ok());
    return m;
}

swf::test::ShapeBuilder square(int size) {
    swf::test::ShapeBuilder s;
    uint32_t fill = s.addSolidFill({255, 0, 0, 255});
    s.rect(0, 0, size, size, fill);
    return s;
}

TEST(Avm1Movie, InitActionsFirstThenLoadAndFrameActionsInTagOrder) {
    SwfWriter sprite(8);
    sprite.doAction(Asm().push("child frame 1").trace().op(0x07).bytes()).showFrame();
    SwfWriter w(8);
    w.defineSprite(2, sprite);
    w.doInitAction(2, Asm().push("init").trace().bytes());
    w.placeObject2({.depth = 1, .characterId = 2, .name = "c",
                    .clipActions = {{swf::clip_event::Load, Asm().push("load").trace().bytes()}}});
    w.doAction(Asm().push("root frame 1").trace().bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    // The child is placed before the root's DoAction tag: its load event, then its first frame, run first.
    EXPECT_EQ(m->trace, (std::vector<std::string>{"init", "load", "child frame 1", "root frame 1"}));
}

TEST(Avm1Movie, StopOnFrameOneHoldsUntilAPlayButtonIsClicked) {
    SwfWriter w(6, {0, 100 * 20, 0, 100 * 20});
    w.defineShape(1, square(100 * 20));
    // DefineButton2 condition 0x08: release inside; its action is Play.
    w.defineButton2(3, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 1, .depth = 1}},
                    {{0x0008, Asm().op(0x06).bytes()}});
    w.placeObject2({.depth = 1, .characterId = 3});
    w.doAction(Asm().op(0x07).bytes()).showFrame();
    w.doAction(Asm().push("frame 2").trace().op(0x07).bytes()).showFrame();
    auto m = play(w);
    Player& p = *m->player;
    p.setViewport(100, 100);
    for (int i = 0; i < 5; ++i) p.runFrame();
    EXPECT_EQ(p.currentFrame(), 1u);
    p.mouseMove(50, 50);
    p.mouseDown(50, 50);
    p.mouseUp(50, 50);
    p.runFrame();
    EXPECT_EQ(p.currentFrame(), 2u);
    EXPECT_EQ(m->trace, std::vector<std::string>{"frame 2"});
}

TEST(Avm1Movie, GotoAndStopByLabelAndVariablesAcrossFrames) {
    SwfWriter w(6);
    w.doAction(Asm().push("n").push(1).setVariable().push("there").op(0x8C, {'e', 'n', 'd', 0}).op(0x07).bytes());
    w.showFrame();
    w.doAction(Asm().push("frame 2 is skipped").trace().bytes()).showFrame();
    w.frameLabel("end");
    w.doAction(Asm().push("end, n = ").getVariable("n").op(0x47).trace().bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    m->player->runFrame();
    EXPECT_EQ(m->player->currentFrame(), 3u);
    EXPECT_EQ(m->trace, std::vector<std::string>{"end, n = 1"});
}

TEST(Avm1Movie, RunawayScriptStopsScriptsButTheMovieKeepsPlaying) {
    SwfWriter w(7, {0, 50 * 20, 0, 50 * 20});
    w.defineShape(1, square(50 * 20));
    w.placeObject2({.depth = 1, .characterId = 1});
    w.doAction(Asm().push("looping").trace().jump(-5).bytes()).showFrame();
    w.doAction(Asm().push("never").trace().bytes()).showFrame();
    w.showFrame();
    auto m = play(w);
    Player& p = *m->player;
    p.setViewport(50, 50);
    p.runFrame();
    p.runFrame();
    p.runFrame();
    EXPECT_EQ(p.currentFrame(), 3u);
    EXPECT_EQ(m->trace, std::vector<std::string>{"looping"});
    EXPECT_EQ(m->warnings.size(), 1u);
    QImage image = p.renderImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixel(25, 25), qRgb(255, 0, 0));
}

TEST(Avm1Movie, ClipPropertiesAndMethodsReachTheDisplayList) {
    SwfWriter sprite(8);
    sprite.showFrame().showFrame().showFrame();
    SwfWriter w(8);
    w.defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .name = "mc"});
    Asm a;
    a.push("mc._x").push(30).setVariable();
    a.getVariable("mc").push("_rotation").push(90).setMember();
    a.getVariable("mc._x").trace();
    a.getVariable("mc").push("_rotation").getMember().trace();
    a.push(1).push(1).getVariable("mc").push("gotoAndStop").callMethod().pop();
    a.push(3).push(1).getVariable("mc").push("gotoAndStop").callMethod().pop();
    a.getVariable("mc").push("_currentframe").getMember().trace();
    a.getVariable("mc").op(0x45).trace();
    a.push(0).getVariable("mc").push("getDepth").callMethod().trace();
    w.doAction(a.bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    EXPECT_EQ(m->trace, (std::vector<std::string>{"30", "90", "3", "_level0.mc", "-16383"}));
    auto* child = m->player->root()->childByName("mc");
    ASSERT_NE(child, nullptr);
    EXPECT_DOUBLE_EQ(child->x(), 30);
}

TEST(Avm1Movie, FscommandGoesToTheHost) {
    SwfWriter w(6);
    w.doAction(Asm().getUrl("FSCommand:quit", "now").bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    EXPECT_EQ(m->fscommands, std::vector<std::string>{"quit|now"});
}

TEST(Avm1Movie, EnterFrameHandlersRunEveryFrame) {
    SwfWriter sprite(8);
    sprite.showFrame();
    SwfWriter w(8);
    w.defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .name = "mc",
                    .clipActions = {{swf::clip_event::EnterFrame,
                                     Asm().push("_root.n").getVariable("_root.n").op(0x50).setVariable().push("tick ").getVariable("_root.n").op(0x47).trace().bytes()}}});
    w.doAction(Asm().push("n").push(0).setVariable().op(0x07).bytes()).showFrame();
    auto m = play(w);
    for (int i = 0; i < 4; ++i) m->player->runFrame();
    // One tick per frame from the first frame after the clip appeared.
    ASSERT_GE(m->trace.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(m->trace.begin(), m->trace.begin() + 3),
              (std::vector<std::string>{"tick 1", "tick 2", "tick 3"}));
}

} // namespace

namespace {

TEST(Avm1Movie, ColorSetRgbTintsTheClip) {
    SwfWriter sprite(6);
    sprite.defineShape(1, square(50 * 20));
    sprite.placeObject2({.depth = 1, .characterId = 1}).showFrame();
    SwfWriter w(6, {0, 50 * 20, 0, 50 * 20});
    w.defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .name = "mc"});
    // c = new Color(mc); c.setRGB(0x0000FF); trace(c.getRGB())
    Asm a;
    a.push("c").getVariable("mc").push(1).push("Color").op(0x40).setVariable();
    a.push(255).push(1).getVariable("c").push("setRGB").callMethod().pop();
    a.push(0).getVariable("c").push("getRGB").callMethod().trace();
    w.doAction(a.bytes()).showFrame();
    auto m = play(w);
    m->player->setViewport(50, 50);
    m->player->runFrame();
    EXPECT_EQ(m->trace, std::vector<std::string>{"255"});
    EXPECT_EQ(m->player->renderImage().pixel(25, 25), qRgb(0, 0, 255));
}

} // namespace

namespace {

TEST(Avm1Movie, ScriptLimitsTagLowersTheRecursionDepth) {
    // function f() { trace("f"); f(); }  with a limit of 4 calls.
    Asm body;
    body.push("f").trace().push(0).push("f").callFunction().pop();
    SwfWriter w(8);
    w.tag(swf::tag::ScriptLimits, {4, 0, 15, 0});
    w.doAction(Asm().defineFunction("f", {}, body).push(0).push("f").callFunction().pop().bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    // The frame's own action block takes the first of the four levels.
    EXPECT_EQ(m->trace, std::vector<std::string>(3, "f"));
    EXPECT_EQ(m->warnings.size(), 1u);
}

} // namespace

// The trace log keeps every 16-bit unit: half a surrogate pair is written as its own three bytes.
TEST(TraceText, KeepsLoneSurrogates) {
    using swf::avm1::utf8KeepingLoneSurrogates;
    const struct { std::u16string in; std::string out; } cases[] = {
        {u"a", "a"},
        {u"\u00e9", "\xc3\xa9"},
        {std::u16string(1, char16_t(0xd804)), "\xed\xa0\x84"},
        {std::u16string{char16_t(0xdc00), u'x'}, "\xed\xb0\x80x"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf8KeepingLoneSurrogates(QString::fromUtf16(c.in.data(), qsizetype(c.in.size()))), c.out);
}
