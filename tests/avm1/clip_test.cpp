// Movie clips and buttons as scripts see them: depths, clip creation,
// registered classes, execution order, the button state machine, dragging
// and the pointer position. Every movie is written in code.
#include "engine/avm1/script_engine.h"
#include "engine/core/limits.h"
#include "engine/display/player.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <variant>

namespace {

using avm1test::Asm;
using swf::Player;
using swf::test::SwfWriter;
using Lines = std::vector<std::string>;
using Arg = std::variant<int, double, std::string>;

struct Movie {
    std::unique_ptr<Player> player;
    Lines trace;
};

std::unique_ptr<Movie> play(const SwfWriter& w, int viewW = 100, int viewH = 100) {
    auto m = std::make_unique<Movie>();
    swf::HostCallbacks host;
    Movie* raw = m.get();
    host.trace = [raw](const std::string& s) { raw->trace.push_back(s); };
    m->player = std::make_unique<Player>(host);
    m->player->setScriptHostFactory(swf::avm1ScriptHostFactory());
    EXPECT_TRUE(m->player->load(w.bytes(), "test.swf").ok());
    m->player->setViewport(viewW, viewH);
    return m;
}

// target.method(args...), leaving the result on the stack.
Asm& call(Asm& a, const std::string& target, const std::string& method, const std::vector<Arg>& args = {}) {
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        std::visit([&](const auto& v) { a.push(v); }, *it);
    a.push(int(args.size())).getVariable(target).push(method).callMethod();
    return a;
}
// trace(target.member)
Asm& traceMember(Asm& a, const std::string& target, const std::string& member) {
    return a.getVariable(target).push(member).getMember().trace();
}
// target.member = value
Asm& setMember(Asm& a, const std::string& target, const std::string& member, const Arg& value) {
    a.getVariable(target).push(member);
    std::visit([&](const auto& v) { a.push(v); }, value);
    return a.setMember();
}

swf::test::ShapeBuilder square(int sizeTwips) {
    swf::test::ShapeBuilder s;
    uint32_t fill = s.addSolidFill({255, 0, 0, 255});
    s.rect(0, 0, sizeTwips, sizeTwips, fill);
    return s;
}

swf::Matrix at(double xPx, double yPx) { return swf::Matrix{1, 0, 0, 1, xPx * 20, yPx * 20}; }

// A 100x100 px movie defining a 20x20 px square (1) and a clip showing it (2).
SwfWriter movieWithSquareClip() {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.defineShape(1, square(20 * 20));
    SwfWriter sprite(8);
    sprite.placeObject2({.depth = 1, .characterId = 1});
    sprite.showFrame();
    w.defineSprite(2, sprite);
    return w;
}

// One frame of script in a 100x100 px movie, run once.
Lines runScript(const std::function<void(Asm&)>& script, int version = 8) {
    SwfWriter w(version, {0, 100 * 20, 0, 100 * 20});
    Asm a;
    script(a);
    w.doAction(a.op(0x07).bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    return m->trace;
}

// ---- depths -------------------------------------------------------------------------

struct ScriptCase {
    const char* name;
    std::function<void(Asm&)> script;
    Lines expected;
};

class ClipDepths : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ClipDepths, AsFlashNumbersThem) { EXPECT_EQ(runScript(GetParam().script), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Depths, ClipDepths,
    ::testing::Values(
        ScriptCase{"CreateAtDepthThenNextHighest",
                   [](Asm& a) {
                       call(a, "this", "createEmptyMovieClip", {"a", 5}).pop();
                       call(a, "a", "getDepth").trace();
                       call(a, "this", "getNextHighestDepth").trace();
                   },
                   {"5", "6"}},
        ScriptCase{"NegativeDepthsLeaveNextHighestAtZero",
                   [](Asm& a) {
                       call(a, "this", "createEmptyMovieClip", {"a", -100}).pop();
                       call(a, "a", "getDepth").trace();
                       call(a, "this", "getNextHighestDepth").trace();
                   },
                   {"-100", "0"}},
        ScriptCase{"DepthsWrapLike32BitIntegers",
                   [](Asm& a) {
                       call(a, "this", "createEmptyMovieClip", {"a", 4294967297.0}).pop();
                       call(a, "a", "getDepth").trace();
                   },
                   {"1"}},
        ScriptCase{"CreatingOnAnOccupiedDepthReplacesTheClip",
                   [](Asm& a) {
                       call(a, "this", "createEmptyMovieClip", {"a", 1}).pop();
                       call(a, "this", "createEmptyMovieClip", {"b", 1}).pop();
                       traceMember(a, "a", "_name");
                       call(a, "this", "getInstanceAtDepth", {1}).push("_name").getMember().trace();
                   },
                   {"undefined", "b"}},
        ScriptCase{"SwapWithADepthAndWithAClip",
                   [](Asm& a) {
                       call(a, "this", "createEmptyMovieClip", {"a", 1}).pop();
                       call(a, "this", "createEmptyMovieClip", {"b", 2}).pop();
                       call(a, "a", "swapDepths", {7}).pop();
                       call(a, "a", "getDepth").trace();
                       call(a, "b", "swapDepths", {"../a"}).pop(); // a target path names the clip
                       call(a, "a", "getDepth").trace();
                       call(a, "b", "getDepth").trace();
                       call(a, "this", "getInstanceAtDepth", {7}).push("_name").getMember().trace();
                   },
                   {"7", "2", "7", "b"}},
        ScriptCase{"SwapOutsideTheScriptRangeOrWithUndefinedIsIgnored",
                   [](Asm& a) {
                       call(a, "this", "createEmptyMovieClip", {"a", 3}).pop();
                       call(a, "a", "swapDepths", {2130690045}).pop();
                       call(a, "a", "getDepth").trace();
                       call(a, "a", "swapDepths", {-16385}).pop();
                       call(a, "a", "getDepth").trace();
                       a.pushUndefined().push(1).getVariable("a").push("swapDepths").callMethod().pop();
                       call(a, "a", "getDepth").trace();
                       call(a, "a", "swapDepths", {2130690044}).pop();
                       call(a, "a", "getDepth").trace();
                   },
                   {"3", "3", "3", "2130690044"}},
        ScriptCase{"RemoveMovieClipFreesTheDepth",
                   [](Asm& a) {
                       call(a, "this", "createEmptyMovieClip", {"a", 4}).pop();
                       call(a, "a", "removeMovieClip").pop();
                       call(a, "this", "getInstanceAtDepth", {4}).trace();
                       call(a, "this", "getNextHighestDepth").trace();
                   },
                   {"undefined", "0"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- clips named by scripts -------------------------------------------------------------------

TEST(ClipTargets, SetTarget2WithAClipFindsItAgainByItsPath) {
    Lines trace = runScript([](Asm& a) {
        a.push("first");
        call(a, "this", "createEmptyMovieClip", {"twin", 1}).op(0x3C); // var first = ...
        setMember(a, "first", "x", "first");
        a.push("second");
        call(a, "this", "createEmptyMovieClip", {"twin", 2}).op(0x3C);
        setMember(a, "second", "x", "second");
        // tellTarget(second) lands on the clip its path names: the twin placed first.
        a.getVariable("second").op(0x20).getVariable("x").trace().op(0x8B, {0});
    });
    EXPECT_EQ(trace, Lines{"first"});
}

TEST(ClipTargets, ARemovedClipHasNoMethods) {
    Lines trace = runScript([](Asm& a) {
        a.push("kept");
        call(a, "this", "createEmptyMovieClip", {"gone", 1}).op(0x3C);
        call(a, "gone", "removeMovieClip").pop();
        call(a, "kept", "getDepth").op(0x44).trace();
    });
    EXPECT_EQ(trace, Lines{"undefined"});
}

TEST(ClipProperties, ValuesAreStoredAsFlashKeepsThem) {
    Lines trace = runScript([](Asm& a) {
        call(a, "this", "createEmptyMovieClip", {"c", 1}).pop();
        setMember(a, "c", "_x", 1);
        a.getVariable("c").push("_x").pushUndefined().setMember(); // ignored
        setMember(a, "c", "_y", "abc");                             // NaN: ignored
        traceMember(a, "c", "_x");
        setMember(a, "c", "_x", std::numeric_limits<double>::infinity()); // beyond 32-bit twips
        traceMember(a, "c", "_x");
        setMember(a, "c", "_alpha", 2); // kept in 256ths
        traceMember(a, "c", "_alpha");
        setMember(a, "c", "_alpha", -5);
        traceMember(a, "c", "_alpha");
        setMember(a, "c", "_visible", "abc"); // no number: still visible
        traceMember(a, "c", "_visible");
        setMember(a, "c", "_visible", 0);
        traceMember(a, "c", "_visible");
    }, 6);
    EXPECT_EQ(trace, (Lines{"1", "-107374182.4", "1.953125", "-4.6875", "true", "false"}));
}

TEST(ClipBytes, AClipCountsTheBytesOfItsMovie) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    Asm a;
    call(a, "this", "getBytesTotal").trace();
    call(a, "this", "getBytesLoaded").trace();
    call(a, "this", "createEmptyMovieClip", {"made", 1}).pop();
    call(a, "made", "getBytesTotal").trace();
    w.doAction(a.op(0x07).bytes()).showFrame();
    const std::string size = std::to_string(w.bytes().size());
    auto m = play(w);
    m->player->runFrame();
    // A clip made empty by a script plays no movie: it counts no bytes.
    EXPECT_EQ(m->trace, (Lines{size, size, "0"}));
}

// ---- characters imported from another movie ---------------------------------------------------

std::unique_ptr<Movie> playFile(const std::string& path) {
    auto m = std::make_unique<Movie>();
    swf::HostCallbacks host;
    Movie* raw = m.get();
    host.trace = [raw](const std::string& s) { raw->trace.push_back(s); };
    m->player = std::make_unique<Player>(host);
    m->player->setScriptHostFactory(swf::avm1ScriptHostFactory());
    EXPECT_TRUE(m->player->loadFile(path).ok());
    m->player->setViewport(100, 100);
    return m;
}

void writeFile(const QString& path, const swf::test::Bytes& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

TEST(ClipImports, AnImportedSpritePlaysWithTheCharactersOfItsOwnMovie) {
    QTemporaryDir dir;
    // lib.swf exports sprite 1, which holds its own shape 2 as "box".
    SwfWriter lib(6, {0, 100 * 20, 0, 100 * 20});
    lib.defineShape(2, square(100));
    SwfWriter sprite(6);
    sprite.placeObject2({.depth = 1, .characterId = 2, .name = "box"});
    sprite.doAction(Asm().push("imported").trace().getVariable("box").push("_width").getMember().trace().bytes());
    sprite.showFrame();
    lib.defineSprite(1, sprite).exportAssets({{1, "sym"}}).showFrame();
    writeFile(dir.filePath("lib.swf"), lib.bytes());
    // main.swf calls it 2 (its own id 1 is another shape), and imports a name lib.swf lacks.
    SwfWriter w(6, {0, 100 * 20, 0, 100 * 20});
    w.defineShape(1, square(40));
    w.importAssets("lib.swf", {{2, "sym"}, {3, "missing"}});
    w.placeObject2({.depth = 1, .characterId = 2, .name = "imp"});
    w.placeObject2({.depth = 2, .characterId = 3, .name = "none"});
    w.doAction(Asm().getVariable("imp").push("box").getMember().push("_width").getMember().trace()
                   .getVariable("none").op(0x44).trace().op(0x07).bytes())
        .showFrame();
    writeFile(dir.filePath("main.swf"), w.bytes());
    auto m = playFile(dir.filePath("main.swf").toStdString());
    m->player->runFrame();
    EXPECT_EQ(m->trace, (Lines{"imported", "5", "5", "undefined"}));
}

TEST(ClipImports, FilesBeyondTheImportLimitAreNotLoaded) {
    QTemporaryDir dir;
    SwfWriter lib(6, {0, 100 * 20, 0, 100 * 20});
    lib.defineSprite(1, SwfWriter(6).showFrame()).exportAssets({{1, "sym"}}).showFrame();
    SwfWriter w(6, {0, 100 * 20, 0, 100 * 20});
    const uint16_t files = uint16_t(swf::limits::kMaxImportSources + 1);
    for (uint16_t i = 0; i < files; ++i) {
        const std::string name = "lib" + std::to_string(i) + ".swf";
        writeFile(dir.filePath(QString::fromStdString(name)), lib.bytes());
        w.importAssets(name, {{uint16_t(10 + i), "sym"}});
    }
    w.placeObject2({.depth = 1, .characterId = 10, .name = "first"});
    w.placeObject2({.depth = 2, .characterId = uint16_t(10 + files - 1), .name = "last"});
    w.doAction(Asm().getVariable("first").op(0x44).trace().getVariable("last").op(0x44).trace().op(0x07).bytes())
        .showFrame();
    writeFile(dir.filePath("main.swf"), w.bytes());
    auto m = playFile(dir.filePath("main.swf").toStdString());
    m->player->runFrame();
    EXPECT_EQ(m->trace, (Lines{"movieclip", "undefined"}));
}

TEST(ClipImports, AMissingFileLeavesTheCharacterOut) {
    QTemporaryDir dir;
    SwfWriter w(6, {0, 100 * 20, 0, 100 * 20});
    w.importAssets("absent.swf", {{2, "sym"}});
    w.placeObject2({.depth = 1, .characterId = 2, .name = "imp"});
    w.doAction(Asm().getVariable("imp").op(0x44).trace().op(0x07).bytes()).showFrame();
    writeFile(dir.filePath("main.swf"), w.bytes());
    auto m = playFile(dir.filePath("main.swf").toStdString());
    m->player->runFrame();
    EXPECT_EQ(m->trace, Lines{"undefined"});
}

// ---- creating clips and registered classes ------------------------------------------------

class ClipCreation : public ::testing::TestWithParam<ScriptCase> {};

// A movie exporting sprite 2 (a red square) as "sym".
TEST_P(ClipCreation, NamesInitObjectsAndClasses) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.defineShape(1, square(200));
    SwfWriter sprite(8);
    sprite.placeObject2({.depth = 1, .characterId = 1});
    sprite.showFrame();
    w.defineSprite(2, sprite);
    w.exportAssets({{2, "sym"}});
    Asm a;
    GetParam().script(a);
    w.doAction(a.op(0x07).bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    EXPECT_EQ(m->trace, GetParam().expected);
}

Asm& defineClass(Asm& a) {
    // function Cls() { trace("ctor " + this._name + " " + this.v); }
    // Cls.prototype.hello = function () { trace("hello"); };
    Asm ctor;
    ctor.push("ctor ").getVariable("this").push("_name").getMember().op(0x47).push(" ").op(0x47);
    ctor.getVariable("this").push("v").getMember().op(0x47).trace();
    a.defineFunction("Cls", {}, ctor);
    a.getVariable("Cls").push("prototype").getMember().push("hello");
    a.defineFunction("", {}, Asm().push("hello").trace()).setMember();
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Clips, ClipCreation,
    ::testing::Values(
        ScriptCase{"AttachMovieWithAnInitObject",
                   [](Asm& a) {
                       // this.attachMovie("sym", "x", 3, {v: 9})
                       a.push("v").push(9).push(1).op(0x43).push(3).push("x").push("sym");
                       a.push(4).getVariable("this").push("attachMovie").callMethod().trace();
                       traceMember(a, "x", "v");
                       traceMember(a, "x", "_width");
                   },
                   {"_level0.x", "9", "10"}},
        ScriptCase{"AttachingAnUnknownSymbolGivesUndefined",
                   [](Asm& a) { call(a, "this", "attachMovie", {"nothing", "x", 3}).trace(); },
                   {"undefined"}},
        ScriptCase{"DuplicateCopiesPlacementAndInitObject",
                   [](Asm& a) {
                       call(a, "this", "attachMovie", {"sym", "x", 3}).pop();
                       setMember(a, "x", "_x", 30);
                       a.push("v").push(5).push(1).op(0x43).push(4).push("y");
                       a.push(3).getVariable("x").push("duplicateMovieClip").callMethod().trace();
                       traceMember(a, "y", "_x");
                       traceMember(a, "y", "v");
                       call(a, "y", "getDepth").trace();
                   },
                   {"_level0.y", "30", "5", "4"}},
        ScriptCase{"RegisteredClassConstructsAttachedClips",
                   [](Asm& a) {
                       defineClass(a);
                       a.getVariable("Cls").push("sym").push(2).getVariable("Object");
                       a.push("registerClass").callMethod().trace();
                       a.push("v").push(1).push(1).op(0x43).push(3).push("x").push("sym");
                       a.push(4).getVariable("this").push("attachMovie").callMethod().pop();
                       call(a, "x", "hello").pop();
                   },
                   {"true", "ctor x 1", "hello"}},
        ScriptCase{"RegisterClassTakesOnlyFunctionsOrNull",
                   [](Asm& a) {
                       for (Arg v : {Arg(12), Arg(std::string("text"))}) {
                           std::visit([&](const auto& x) { a.push(x); }, v);
                           a.push("sym").push(2).getVariable("Object").push("registerClass").callMethod().trace();
                       }
                       a.pushNull().push("sym").push(2).getVariable("Object").push("registerClass").callMethod().trace();
                       a.push("sym").push(1).getVariable("Object").push("registerClass").callMethod().trace();
                   },
                   {"false", "false", "true", "false"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClipTree, LockRootMakesAClipItsOwnRoot) {
    Lines out = runScript([](Asm& a) {
        call(a, "this", "createEmptyMovieClip", {"c", 1}).pop();
        call(a, "c", "createEmptyMovieClip", {"d", 1}).pop();
        a.getVariable("c").push("d").getMember().push("_root").getMember().trace();
        setMember(a, "c", "_lockroot", 1);
        a.getVariable("c").push("d").getMember().push("_root").getMember().trace();
        traceMember(a, "c", "_lockroot");
    });
    EXPECT_EQ(out, (Lines{"_level0", "_level0.c", "true"}));
}

TEST(ClipTree, ANamedShapeResolvesToItsClip) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.defineShape(1, square(200));
    w.placeObject2({.depth = 1, .characterId = 1, .name = "box"});
    w.doAction(Asm().getVariable("box").trace().getVariable("nothing").trace().bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    EXPECT_EQ(m->trace, (Lines{"_level0", "undefined"}));
}

TEST(ClipTree, AClipInAButtonHasTheButtonAsParent) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.defineShape(1, square(200));
    SwfWriter sprite(8);
    sprite.placeObject2({.depth = 1, .characterId = 1});
    sprite.doAction(Asm().getVariable("_parent").trace().bytes()).showFrame();
    w.defineSprite(2, sprite);
    w.defineButton2(3, {{.up = true, .characterId = 2, .depth = 1}, {.up = false, .hitTest = true, .characterId = 1, .depth = 2}},
                    {});
    w.placeObject2({.depth = 1, .characterId = 3, .name = "btn"});
    w.showFrame();
    auto m = play(w);
    m->player->runFrame();
    EXPECT_EQ(m->trace, Lines{"_level0.btn"});
}

// ---- the timeline ---------------------------------------------------------------------------

TEST(ClipTimeline, ChildrenStepHighestDepthFirst) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    for (uint16_t id : {2, 3}) {
        SwfWriter sprite(8);
        std::string n = id == 2 ? "A" : "B";
        sprite.doAction(Asm().push(n + "1").trace().bytes()).showFrame();
        sprite.doAction(Asm().push(n + "2").trace().op(0x07).bytes()).showFrame();
        w.defineSprite(id, sprite);
    }
    w.placeObject2({.depth = 1, .characterId = 2});
    w.placeObject2({.depth = 2, .characterId = 3});
    w.doAction(Asm().op(0x07).bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    m->player->runFrame();
    EXPECT_EQ(m->trace, (Lines{"A1", "B1", "B2", "A2"}));
}

TEST(ClipTimeline, ChildrenRunTheirFrameBeforeTheParentAfterTheFirst) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    SwfWriter sprite(8);
    sprite.doAction(Asm().push("child1").trace().bytes()).showFrame();
    sprite.doAction(Asm().push("child2").trace().op(0x07).bytes()).showFrame();
    w.defineSprite(2, sprite);
    w.doAction(Asm().push("root1a").trace().bytes());
    w.placeObject2({.depth = 1, .characterId = 2});
    w.doAction(Asm().push("root1b").trace().bytes()).showFrame();
    w.doAction(Asm().push("root2").trace().op(0x07).bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    m->player->runFrame();
    // A placed clip's first frame runs where it is placed; later frames run child first.
    EXPECT_EQ(m->trace, (Lines{"root1a", "child1", "root1b", "child2", "root2"}));
}

TEST(ClipTimeline, RewindingLeavesClipsSwappedOnTheFrameAsTheyAre) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.defineSprite(2, SwfWriter(8).showFrame());
    w.defineSprite(3, SwfWriter(8).showFrame());
    w.showFrame();
    w.placeObject2({.depth = 1, .characterId = 2, .name = "a"});
    w.placeObject2({.depth = 2, .characterId = 3, .name = "b"}).showFrame();
    Asm swap;
    setMember(swap, "a", "code", "A");
    call(swap, "a", "swapDepths", {"../b"}).pop();
    w.doAction(swap.bytes()).showFrame();
    Asm back;
    back.op(0x81, {1, 0}).op(0x07); // gotoAndStop(2)
    call(back, "a", "getDepth").trace();
    traceMember(back, "a", "code");
    call(back, "b", "getDepth").trace();
    w.doAction(back.bytes()).showFrame();
    auto m = play(w);
    for (int i = 0; i < 4; ++i) m->player->runFrame();
    EXPECT_EQ(m->trace, (Lines{"-16382", "A", "-16383"}));
}

TEST(ClipTimeline, ConstructHandlersRunAsTheClipIsPlaced) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.defineSprite(2, SwfWriter(8).showFrame());
    w.placeObject2({.depth = 1, .characterId = 2, .name = "c",
                    .clipActions = {{swf::clip_event::Load, Asm().push("load").trace().bytes()},
                                    {swf::clip_event::Construct, Asm().push("construct").trace().bytes()}}});
    w.doAction(Asm().push("root").trace().op(0x07).bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    m->player->runFrame();
    EXPECT_EQ(m->trace, (Lines{"construct", "load", "root"}));
}

TEST(ClipTimeline, AClipWaitingForItsUnloadKeepsItsDepth) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.defineSprite(2, SwfWriter(8).showFrame());
    w.placeObject2({.depth = 1, .characterId = 2, .name = "a"});
    w.placeObject2({.depth = 2, .characterId = 2, .name = "b"});
    Asm handler;
    handler.getVariable("a").push("onUnload").defineFunction("", {}, Asm()).setMember();
    w.doAction(handler.bytes()).showFrame();
    w.removeObject2(1);
    Asm check;
    call(check, "a", "getDepth").trace();
    call(check, "a", "swapDepths", {5}).pop();
    call(check, "b", "swapDepths", {"../a"}).pop();
    call(check, "a", "getDepth").trace();
    call(check, "b", "getDepth").trace();
    w.doAction(check.op(0x07).bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    m->player->runFrame();
    EXPECT_EQ(m->trace, (Lines{"-16386", "-16386", "-16382"}));
}

TEST(ClipTimeline, PlacingOnAnOccupiedDepthIsRefusedWithAWarning) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.defineShape(1, square(200));
    w.defineShape(2, square(400));
    w.placeObject2({.depth = 1, .characterId = 1, .name = "first"});
    w.placeObject2({.depth = 1, .characterId = 2, .name = "second"});
    w.doAction(Asm().getVariable("first").trace().bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    EXPECT_EQ(m->trace, (Lines{"Warning: Failed to place object at depth 1.", "_level0"}));
    EXPECT_EQ(m->player->root()->childAtDepth(1)->characterId(), 1);
}

// ---- buttons ----------------------------------------------------------------------------------

struct Gesture {
    enum Kind { Move, Down, Up } kind;
    double x, y;
};

struct ButtonCase {
    const char* name;
    std::vector<Gesture> gestures;
    Lines expected;
};

class ButtonStates : public ::testing::TestWithParam<ButtonCase> {};

// A 50x50 px button in the top-left corner whose actions trace each transition.
TEST_P(ButtonStates, TransitionsRunTheirActions) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.defineShape(1, square(50 * 20));
    std::vector<std::pair<uint16_t, avm1test::Bytes>> actions;
    const std::pair<uint16_t, const char*> conditions[] = {
        {0x01, "rollOver"}, {0x02, "rollOut"},  {0x04, "press"},          {0x08, "release"},
        {0x10, "dragOut"},  {0x20, "dragOver"}, {0x40, "releaseOutside"},
    };
    for (const auto& [bit, name] : conditions) actions.push_back({bit, Asm().push(name).trace().bytes()});
    w.defineButton2(2, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 1, .depth = 1}},
                    actions);
    w.placeObject2({.depth = 1, .characterId = 2});
    w.doAction(Asm().op(0x07).bytes()).showFrame();
    auto m = play(w);
    Player& p = *m->player;
    p.runFrame();
    for (const Gesture& g : GetParam().gestures) {
        if (g.kind == Gesture::Move) p.mouseMove(g.x, g.y);
        else if (g.kind == Gesture::Down) p.mouseDown(g.x, g.y);
        else p.mouseUp(g.x, g.y);
    }
    EXPECT_EQ(m->trace, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, ButtonStates,
    ::testing::Values(
        ButtonCase{"ClickInside",
                   {{Gesture::Move, 25, 25}, {Gesture::Down, 25, 25}, {Gesture::Up, 25, 25}},
                   {"rollOver", "press", "release"}},
        ButtonCase{"RollOverAndOut", {{Gesture::Move, 25, 25}, {Gesture::Move, 75, 75}}, {"rollOver", "rollOut"}},
        ButtonCase{"PressDragOutReleaseOutside",
                   {{Gesture::Move, 25, 25}, {Gesture::Down, 25, 25}, {Gesture::Move, 75, 75}, {Gesture::Up, 75, 75}},
                   {"rollOver", "press", "dragOut", "releaseOutside"}},
        ButtonCase{"DragOutAndBackThenRelease",
                   {{Gesture::Move, 25, 25},
                    {Gesture::Down, 25, 25},
                    {Gesture::Move, 75, 75},
                    {Gesture::Move, 20, 20},
                    {Gesture::Up, 20, 20}},
                   {"rollOver", "press", "dragOut", "dragOver", "release"}},
        ButtonCase{"ClickOutside", {{Gesture::Move, 75, 75}, {Gesture::Down, 75, 75}, {Gesture::Up, 75, 75}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- dragging and the pointer ----------------------------------------------------------------------

// Clip "target" (20x20 px at 0,0 holding a square) under clip "drag" that
// follows the pointer; releasing the mouse traces where it was dropped.
std::unique_ptr<Movie> dragMovie() {
    SwfWriter w = movieWithSquareClip();
    w.placeObject2({.depth = 1, .characterId = 2, .name = "target"});
    Asm onUp;
    call(onUp, "this", "stopDrag").pop();
    traceMember(onUp, "this", "_droptarget");
    w.placeObject2({.depth = 2, .characterId = 2, .matrix = at(50, 50), .name = "drag",
                    .clipActions = {{swf::clip_event::MouseUp, onUp.bytes()}}});
    Asm start;
    start.push(1).push(1).getVariable("drag").push("startDrag").callMethod().pop(); // centred on the pointer
    w.doAction(start.op(0x07).bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    return m;
}

TEST(ClipDrag, DropTargetIsTheClipUnderTheDraggedOne) {
    auto m = dragMovie();
    m->player->mouseMove(60, 60);
    m->player->mouseMove(10, 10); // over target's square
    EXPECT_NEAR(m->player->root()->childAtDepth(2)->x(), 10, 1e-9);
    m->player->mouseDown(10, 10);
    m->player->mouseUp(10, 10);
    EXPECT_EQ(m->trace, Lines{"/target"});
}

TEST(ClipDrag, DroppingOnNothingGivesAnEmptyTarget) {
    auto m = dragMovie();
    m->player->mouseMove(80, 80);
    m->player->mouseDown(80, 80);
    m->player->mouseUp(80, 80);
    EXPECT_EQ(m->trace, Lines{""});
}

struct PointerCase {
    const char* name;
    int viewW, viewH;
    double x, y;
    Lines expected; // _root._xmouse, _root._ymouse, clip._xmouse, clip._ymouse
};

class ClipPointer : public ::testing::TestWithParam<PointerCase> {};

// A clip at (10, 20) px scaled 50 %; the pointer is read on every move.
TEST_P(ClipPointer, MouseCoordinatesFollowTheStageScale) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    SwfWriter empty(8);
    empty.showFrame();
    w.defineSprite(2, empty);
    Asm onMove;
    traceMember(onMove, "_root", "_xmouse");
    traceMember(onMove, "_root", "_ymouse");
    traceMember(onMove, "this", "_xmouse");
    traceMember(onMove, "this", "_ymouse");
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = swf::Matrix{0.5, 0, 0, 0.5, 200, 400}, .name = "c",
                    .clipActions = {{swf::clip_event::MouseMove, onMove.bytes()}}});
    w.doAction(Asm().op(0x07).bytes()).showFrame();
    const PointerCase& c = GetParam();
    auto m = play(w, c.viewW, c.viewH);
    m->player->runFrame();
    m->player->mouseMove(c.x, c.y);
    EXPECT_EQ(m->trace, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pointer, ClipPointer,
    ::testing::Values(PointerCase{"Unscaled", 100, 100, 30, 40, {"30", "40", "40", "40"}},
                      // Twice the movie's size: window pixels are half stage pixels.
                      PointerCase{"DoubleSize", 200, 200, 60, 80, {"30", "40", "40", "40"}},
                      PointerCase{"HalfPixels", 200, 200, 61, 81, {"30.5", "40.5", "41", "41"}}),
    [](const auto& info) { return std::string(info.param.name); });

// startDrag in frame 1 hands the clip to the script: the timeline's move in
// frame 2 leaves it where it is, even after stopDrag.
TEST(ClipDrag, TimelineNoLongerMovesADraggedClip) {
    SwfWriter w = movieWithSquareClip();
    w.placeObject2({.depth = 1, .characterId = 2, .name = "mc"});
    Asm start;
    call(start, "mc", "startDrag").pop();
    w.doAction(start.bytes()).showFrame();
    w.placeObject2({.depth = 1, .move = true, .matrix = at(50, 50)});
    Asm stop;
    call(stop, "mc", "stopDrag").pop();
    traceMember(stop, "mc", "_x");
    w.doAction(stop.op(0x07).bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    m->player->runFrame();
    EXPECT_EQ(m->trace, Lines{"0"});
}

// Clips "a" (0..20 px), "b" (40..60 px) and "plain" (80..100 px) with drag
// handlers; a and b track as menus.
TEST(ClipDrag, HeldDownElsewhereThePointerDragsOntoMenuItemsOnly) {
    SwfWriter w = movieWithSquareClip();
    Asm script;
    const std::pair<const char*, double> clips[] = {{"a", 0}, {"b", 40}, {"plain", 80}};
    for (const auto& [name, x] : clips) {
        w.placeObject2({.depth = uint16_t(x + 1), .characterId = 2, .matrix = at(x, 0), .name = name});
        for (const char* event : {"onDragOver", "onDragOut", "onRelease"})
            script.getVariable(name).push(event).defineFunction("", {}, Asm().push(std::string(event) + " " + name).trace())
                .setMember();
        if (std::string(name) != "plain") script.getVariable(name).push("trackAsMenu").pushBool(true).setMember();
    }
    w.doAction(script.op(0x07).bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    m->player->mouseMove(30, 90); // on nothing
    m->player->mouseDown(30, 90);
    m->player->mouseMove(90, 10); // plain: not a menu
    m->player->mouseMove(10, 10);
    m->player->mouseMove(50, 10);
    m->player->mouseUp(50, 10);
    EXPECT_EQ(m->trace, (Lines{"onDragOver a", "onDragOut a", "onDragOver b", "onRelease b"}));
}

struct PointerRoundingCase {
    const char* name;
    double clipX;    // stage pixels
    double xScale;   // percent
    int viewScale;   // window pixels per stage pixel
    double pointerX; // window pixels
    const char* xmouse;
};

class ClipPointerRounding : public ::testing::TestWithParam<PointerRoundingCase> {};

// The clip's place in the window is rounded to whole pixels, halves to the
// even one; the way back into the clip keeps its offset in whole twips.
TEST_P(ClipPointerRounding, XMouseOfAClipAtAFractionalPlace) {
    const PointerRoundingCase& c = GetParam();
    SwfWriter w(8, {0, 400 * 20, 0, 100 * 20});
    SwfWriter empty(8);
    empty.showFrame();
    w.defineSprite(2, empty);
    Asm onMove;
    traceMember(onMove, "this", "_xmouse");
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = at(c.clipX, 0), .name = "c",
                    .clipActions = {{swf::clip_event::MouseMove, onMove.bytes()}}});
    w.doAction(Asm().getVariable("c").push("_xscale").push(c.xScale).setMember().op(0x07).bytes()).showFrame();
    auto m = play(w, 400 * c.viewScale, 100 * c.viewScale);
    m->player->runFrame();
    m->player->mouseMove(c.pointerX, 10);
    EXPECT_EQ(m->trace, Lines{c.xmouse});
}

INSTANTIATE_TEST_SUITE_P(
    Pointer, ClipPointerRounding,
    ::testing::Values(PointerRoundingCase{"HalfUpToEven", 125.5, 100, 1, 308, "182"},
                      PointerRoundingCase{"HalfDownToEven", 126.5, 100, 1, 308, "182"},
                      PointerRoundingCase{"HalfWindowPixel", 60.25, 100, 2, 200, "40"},
                      PointerRoundingCase{"ScaledWholeTwipOffset", 364.3, 42, 1, 308, "-133.3"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the stage ---------------------------------------------------------------------------------

struct StageCase {
    const char* property;
    Arg value;
    std::string expected;
};

class StageProperties : public ::testing::TestWithParam<StageCase> {};

TEST_P(StageProperties, AreNormalised) {
    const StageCase& c = GetParam();
    Lines out = runScript([&](Asm& a) {
        setMember(a, "Stage", c.property, c.value);
        traceMember(a, "Stage", c.property);
    });
    EXPECT_EQ(out, Lines{c.expected});
}

INSTANTIATE_TEST_SUITE_P(Stage, StageProperties,
                         ::testing::Values(StageCase{"align", std::string("TL"), "LT"},
                                           StageCase{"align", std::string("rbxx"), "RB"},
                                           StageCase{"align", std::string("nothing"), "T"},
                                           StageCase{"align", std::string(""), ""},
                                           StageCase{"scaleMode", std::string("EXACTFIT"), "exactFit"},
                                           StageCase{"scaleMode", std::string("noscale"), "noScale"},
                                           StageCase{"scaleMode", std::string("bogus"), "showAll"},
                                           StageCase{"scaleMode", 1, "showAll"}));

TEST(StageSize, NoScaleShowsTheWindowSizeAndTellsListeners) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    Asm a;
    // Stage.addListener({onResize: function () { trace("resize " + Stage.width); }})
    a.push("onResize").defineFunction("", {}, Asm().push("resize ").getVariable("Stage").push("width").getMember().op(0x47).trace());
    a.push(1).op(0x43).push(1).getVariable("Stage").push("addListener").callMethod().pop();
    traceMember(a, "Stage", "width");
    setMember(a, "Stage", "scaleMode", std::string("noScale"));
    traceMember(a, "Stage", "height");
    w.doAction(a.op(0x07).bytes()).showFrame();
    auto m = play(w, 300, 200);
    m->player->runFrame();
    EXPECT_EQ(m->trace, (Lines{"100", "resize 300", "200"}));
}

// ---- clips in buttons -------------------------------------------------------------------------

// An unnamed button whose up state shows the same sprite at depths 1 and 3:
// the button is instance1 and its clips come after it.
TEST(ButtonClips, TakeInstanceNumbersAfterTheirButton) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.defineShape(1, square(20 * 20));
    SwfWriter sprite(8);
    sprite.doAction(Asm().getVariable("_name").trace().bytes());
    sprite.placeObject2({.depth = 1, .characterId = 1});
    sprite.showFrame();
    w.defineSprite(2, sprite);
    w.defineButton2(3, {{.up = true, .characterId = 2, .depth = 1}, {.up = true, .characterId = 2, .depth = 3},
                        {.up = false, .hitTest = true, .characterId = 1, .depth = 1}}, {});
    w.placeObject2({.depth = 1, .characterId = 3});
    w.doAction(Asm().getVariable("instance1").push("_name").getMember().trace().bytes());
    w.showFrame();
    auto m = play(w);
    m->player->runFrame();
    Lines names = m->trace;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Lines{"instance1", "instance2", "instance3"}));
}

// ---- load events ---------------------------------------------------------------------------

// Clip "a" has a load clip action and "b" none; the frame script that runs
// after they were placed gives both an onLoad method: neither is called.
TEST(ClipLoad, OnLoadGivenAfterPlacementIsNotCalledButLoadActionsRun) {
    SwfWriter w = movieWithSquareClip();
    w.placeObject2({.depth = 1, .characterId = 2, .name = "a",
                    .clipActions = {{swf::clip_event::Load, Asm().push("a load action").trace().bytes()}}});
    w.placeObject2({.depth = 2, .characterId = 2, .name = "b"});
    Asm script;
    for (const char* name : {"a", "b"})
        script.getVariable(name).push("onLoad").defineFunction("", {}, Asm().push(std::string(name) + ".onLoad").trace())
            .setMember();
    script.push("script").trace();
    w.doAction(script.bytes()).showFrame();
    auto m = play(w);
    m->player->runFrame();
    // The load event runs where the clip is placed, before the frame script.
    EXPECT_EQ(m->trace, (Lines{"a load action", "script"}));
}

} // namespace
