// A clip's life as scripts see it: made (onConstruct), loaded (onLoad of the
// main timeline), removed (parked while unload handlers wait), placed over an
// occupied depth, and line ends in a text field's text. Every movie
// is written in code.
#include "engine/avm1/script_engine.h"
#include "engine/display/player.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using avm1test::Asm;
using swf::Player;
using swf::test::SwfWriter;
using Lines = std::vector<std::string>;

constexpr uint8_t kStop = 0x07;

// Plays `frames` frames of a 100x100 px movie and returns its trace.
Lines playFrames(const SwfWriter& w, int frames) {
    Lines trace;
    swf::HostCallbacks host;
    host.trace = [&trace](const std::string& s) { trace.push_back(s); };
    Player player(host);
    player.setScriptHostFactory(swf::avm1ScriptHostFactory());
    EXPECT_TRUE(player.load(w.bytes(), "test.swf").ok());
    player.setViewport(100, 100);
    for (int i = 0; i < frames; ++i) player.runFrame();
    return trace;
}

Lines runScript(int version, const std::function<void(Asm&)>& script) {
    SwfWriter w(version, {0, 100 * 20, 0, 100 * 20});
    Asm a;
    script(a);
    w.doAction(a.op(kStop).bytes()).showFrame();
    return playFrames(w, 1);
}

// parent.createEmptyMovieClip(name, depth)
Asm& createClip(Asm& a, const std::string& parent, const std::string& name, int depth) {
    return a.push(depth).push(name).push(2).getVariable(parent).push("createEmptyMovieClip").callMethod().pop();
}
// target[member] = function () { trace(prefix + this); }
Asm& setTracingMethod(Asm& a, const std::string& target, const std::string& member, const std::string& prefix) {
    Asm body;
    body.push(prefix).getVariable("this").op(0x47).trace();
    return a.getVariable(target).push(member).defineFunction("", {}, body).setMember();
}
// trace(target.method())
Asm& traceCall(Asm& a, const std::string& target, const std::string& method) {
    return a.push(0).getVariable(target).push(method).callMethod().trace();
}

struct LifeCase {
    const char* name;
    int version;
    std::function<void(Asm&)> script;
    Lines expected;
};

class ClipLife : public ::testing::TestWithParam<LifeCase> {};

TEST_P(ClipLife, FollowsFlashOrder) { EXPECT_EQ(runScript(GetParam().version, GetParam().script), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Lifetime, ClipLife,
    ::testing::Values(
        LifeCase{"MadeClipsGetOnConstructAndNoLoad", 8,
                 [](Asm& a) {
                     a.getVariable("MovieClip").push("prototype").getMember();
                     a.push("onConstruct").defineFunction("", {}, Asm().push("made ").getVariable("this").op(0x47).trace());
                     a.setMember();
                     a.getVariable("MovieClip").push("prototype").getMember();
                     a.push("onLoad").defineFunction("", {}, Asm().push("loaded ").getVariable("this").op(0x47).trace());
                     a.setMember();
                     createClip(a, "this", "a", 1);
                     createClip(a, "a", "c", 1);
                     a.push("done").trace();
                 },
                 {"made _level0.a", "made _level0.a.c", "done", "loaded _level0"}},
        LifeCase{"TheMainTimelineLoadsAfterItsFirstFrame", 6,
                 [](Asm& a) {
                     setTracingMethod(a, "_root", "onLoad", "load ");
                     a.push("start").trace();
                 },
                 {"start", "load _level0"}},
        LifeCase{"Version5MoviesCallNoEventMethods", 5,
                 [](Asm& a) {
                     setTracingMethod(a, "_root", "onLoad", "load ");
                     a.push("start").trace();
                 },
                 {"start"}},
        LifeCase{"ARemovedClipWaitsWhileAChildHasAnUnloadHandler", 7,
                 [](Asm& a) {
                     createClip(a, "this", "a", 0);
                     createClip(a, "a", "a", 0);
                     createClip(a, "a", "b", 1);
                     setTracingMethod(a, "a.b", "onUnload", "unload ");
                     a.push(0).getVariable("a").push("removeMovieClip").callMethod().pop();
                     traceCall(a, "a", "getDepth");
                     a.getVariable("a").push("a").getMember().trace();
                     traceCall(a, "a.b", "getDepth");
                     a.push("===").trace();
                 },
                 {"-32769", "undefined", "1", "===", "unload _level0.a.b"}},
        LifeCase{"ARemovedClipWithoutUnloadHandlersGoesAtOnce", 7,
                 [](Asm& a) {
                     createClip(a, "this", "a", 0);
                     createClip(a, "a", "b", 1);
                     a.push(0).getVariable("a").push("removeMovieClip").callMethod().pop();
                     traceCall(a, "a", "getDepth");
                     a.getVariable("a.b").op(0x44).trace(); // typeof
                 },
                 {"undefined", "undefined"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A second PlaceObject on a depth its first one still holds changes nothing;
// only movies of version 8 and later say so in the trace.
class OccupiedDepth : public ::testing::TestWithParam<int> {};

TEST_P(OccupiedDepth, WarnsFromVersion8) {
    const int version = GetParam();
    SwfWriter w(version, {0, 100 * 20, 0, 100 * 20});
    SwfWriter sprite(version);
    sprite.showFrame();
    w.defineSprite(1, sprite);
    w.placeObject2({.depth = 1, .characterId = 1, .name = std::string("first")}).showFrame();
    w.placeObject2({.depth = 1, .characterId = 1, .name = std::string("second")});
    Asm a;
    a.getVariable("first").op(0x44).trace().getVariable("second").op(0x44).trace();
    w.doAction(a.op(kStop).bytes()).showFrame();
    Lines expected;
    if (version >= 8) expected.push_back("Warning: Failed to place object at depth 1.");
    expected.insert(expected.end(), {"movieclip", "undefined"});
    EXPECT_EQ(playFrames(w, 2), expected);
}

INSTANTIATE_TEST_SUITE_P(Versions, OccupiedDepth, ::testing::Values(6, 7, 8, 9));

// Line ends in a text field's text: each \r and each \n is a paragraph break.
struct LineEndCase {
    const char* text;
    const char* length;
};

class TextLineEnds : public ::testing::TestWithParam<LineEndCase> {};

TEST_P(TextLineEnds, EachIsOneBreak) {
    Lines trace = runScript(7, [](Asm& a) {
        a.push(20).push(100).push(0).push(0).push(1).push("t").push(6).getVariable("this");
        a.push("createTextField").callMethod().pop();
        a.getVariable("t").push("text").push(GetParam().text).setMember();
        a.getVariable("t").push("length").getMember().trace();
    });
    EXPECT_EQ(trace, Lines{GetParam().length});
}

INSTANTIATE_TEST_SUITE_P(Breaks, TextLineEnds,
                         ::testing::Values(LineEndCase{"a\r\nb", "4"}, LineEndCase{"a\nb", "3"},
                                           LineEndCase{"\r\n", "2"}, LineEndCase{"a\n\rb", "4"}));

} // namespace
