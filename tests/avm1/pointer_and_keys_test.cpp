// The pointer and the keys as scripts see and change them: the hand over
// buttons and clips (useHandCursor), Mouse.hide/show, Key.isToggled, and the
// display members buttons and clips share (blendMode, Button.prototype).
#include "tests/avm1/script_movie.h"

namespace {

using avm1test::Asm;
using swf::Cursor;
using swf::test::SwfWriter;


swf::Matrix at(double xPx, double yPx) {
    swf::Matrix m;
    m.tx = xPx * 20;
    m.ty = yPx * 20;
    return m;
}

// A button "b" at (10, 10) and a clip "c" at (50, 10), both 20 px squares.
std::unique_ptr<avm1test::ScriptMovie> buttonAndClip() {
    SwfWriter w(8);
    swf::test::ShapeBuilder s;
    s.rect(0, 0, 20 * 20, 20 * 20, s.addSolidFill({0, 0, 255, 255}));
    w.defineShape(1, s);
    w.defineButton2(2, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 1, .depth = 1}}, {});
    SwfWriter clip(8);
    clip.placeObject2({.depth = 1, .characterId = 1});
    clip.showFrame();
    w.defineSprite(3, clip);
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = at(10, 10), .name = "b"});
    w.placeObject2({.depth = 2, .characterId = 3, .matrix = at(50, 10), .name = "c"});
    w.showFrame();
    return avm1test::playScriptMovie(w);
}

// path.member = value, where `path` is a variable and an optional ".prototype".
Asm assign(const std::string& path, const std::string& member, bool value) {
    Asm a;
    auto dot = path.find('.');
    a.getVariable(path.substr(0, dot));
    if (dot != std::string::npos) a.push(path.substr(dot + 1)).getMember();
    return a.push(member).pushBool(value).setMember();
}

Asm callAndTrace(const std::string& object, const std::string& method, std::vector<int> args = {}) {
    Asm a;
    for (auto it = args.rbegin(); it != args.rend(); ++it) a.push(*it);
    return a.push(int(args.size())).getVariable(object).push(method).callMethod().trace();
}

struct CursorCase {
    const char* what;
    Asm setup;
    double x, y; // stage pixels
    Cursor expected;
};

TEST(Pointer, HandFollowsUseHandCursorAndHideWins) {
    Asm press = Asm().getVariable("c").push("onPress").defineFunction("", {}, Asm()).setMember();
    const CursorCase cases[] = {
        {"over a button", Asm(), 20, 20, Cursor::Hand},
        {"over nothing", Asm(), 200, 200, Cursor::Arrow},
        {"button's own member off", assign("b", "useHandCursor", false), 20, 20, Cursor::Arrow},
        {"Button.prototype's member off", assign("Button.prototype", "useHandCursor", false), 20, 20, Cursor::Arrow},
        {"clip taking the mouse", Asm(press), 60, 20, Cursor::Hand},
        {"clip with its member off", Asm(press).raw(assign("c", "useHandCursor", false).body()), 60, 20,
         Cursor::Arrow},
        {"MovieClip.prototype's member off",
         Asm(press).raw(assign("MovieClip.prototype", "useHandCursor", false).body()), 60, 20, Cursor::Arrow},
        {"hidden pointer", Asm().push(0).getVariable("Mouse").push("hide").callMethod().pop(), 20, 20,
         Cursor::Hidden},
    };
    for (const auto& c : cases) {
        auto m = buttonAndClip();
        m->run(c.setup);
        m->player->mouseMove(c.x, c.y);
        EXPECT_EQ(m->player->cursor(), c.expected) << c.what;
    }
}

TEST(Pointer, ShowAndHideAnswerWhetherThePointerWasVisible) {
    auto m = buttonAndClip();
    Asm a;
    for (const char* call : {"hide", "hide", "show", "show", "hide"}) a.raw(callAndTrace("Mouse", call).body());
    m->run(a);
    EXPECT_EQ(m->trace, (std::vector<std::string>{"1", "0", "0", "1", "1"}));
    EXPECT_EQ(m->player->cursor(), Cursor::Hidden);
}

TEST(Keys, CapsLockAndNumLockToggleOnEachPress) {
    auto m = buttonAndClip();
    constexpr int kCapsLock = 20, kNumLock = 144, kA = 65;
    auto toggles = [&] {
        m->trace.clear();
        Asm a;
        for (int code : {kCapsLock, kNumLock, kA}) a.raw(callAndTrace("Key", "isToggled", {code}).body());
        m->run(a);
        return m->trace;
    };
    using Lines = std::vector<std::string>;
    EXPECT_EQ(toggles(), (Lines{"false", "false", "false"}));
    m->player->keyDown(kCapsLock, 0);
    m->player->keyDown(kCapsLock, 0); // held down: the repeat flips nothing
    m->player->keyUp(kCapsLock, 0);
    m->player->keyDown(kA, 'a');
    m->player->keyUp(kA, 'a');
    EXPECT_EQ(toggles(), (Lines{"true", "false", "false"}));
    for (int code : {kCapsLock, kNumLock}) {
        m->player->keyDown(code, 0);
        m->player->keyUp(code, 0);
    }
    EXPECT_EQ(toggles(), (Lines{"false", "true", "false"}));
}

struct BlendCase {
    Asm value;
    const char* readBack;
};

TEST(DisplayMembers, BlendModeTakesANameOrNumberAndKeepsItsModeOtherwise) {
    // Each case sets c.blendMode after it was "multiply".
    const BlendCase cases[] = {
        {Asm().push("screen"), "screen"}, {Asm().push(2), "layer"},    {Asm().push(1), "normal"},
        {Asm().push(14), "hardlight"},    {Asm().push("normal"), "normal"},
        {Asm().push("SCREEN"), "multiply"}, {Asm().push(0), "multiply"}, {Asm().push(15), "multiply"},
        {Asm().push(2.5), "layer"},       {Asm().pushUndefined(), "multiply"},
    };
    for (const auto& c : cases) {
        for (const char* target : {"c", "b"}) {
            auto m = buttonAndClip();
            Asm a;
            a.getVariable(target).push("blendMode").push("multiply").setMember();
            a.getVariable(target).push("blendMode").raw(c.value.body()).setMember();
            a.getVariable(target).push("blendMode").getMember().trace();
            m->run(a);
            EXPECT_EQ(m->trace, std::vector<std::string>{c.readBack}) << target << " " << c.readBack;
        }
    }
}

TEST(DisplayMembers, ButtonPrototypeListsItsMembers) {
    auto m = buttonAndClip();
    auto& vm = m->engine().vm();
    struct { const char* name; uint32_t flags; bool accessor; } members[] = {
        {"enabled", 0, false}, {"useHandCursor", 0, false}, {"getDepth", 0, false},
        {"blendMode", 0, true}, {"cacheAsBitmap", 0, true}, {"filters", 0, true},
        {"scale9Grid", 0, true}, {"tabIndex", 0, true},
    };
    for (const auto& member : members) {
        const swf::avm1::Property* p = vm.buttonProto->find(vm.key(QString::fromLatin1(member.name)));
        ASSERT_NE(p, nullptr) << member.name;
        EXPECT_EQ(p->flags, member.flags) << member.name;
        EXPECT_EQ(p->isVirtual(), member.accessor) << member.name;
    }
}

} // namespace
