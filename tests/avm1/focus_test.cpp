// Keyboard focus: Selection, focus handlers, tab order, keys to the focused
// object and typing into input fields, with movies written in code.
#include "engine/avm1/script_engine.h"
#include "engine/display/edit_text.h"
#include "engine/display/player.h"
#include "tests/avm1/action_builder.h"
// A click in a field without a font finds its caret in device text.
#include "tests/support/gui_application.h"
#include "tests/support/swf_writer.h"

#include <gtest/gtest.h>

namespace {

using avm1test::Asm;
using swf::Player;
using swf::test::Bytes;
using swf::test::SwfWriter;

constexpr uint8_t kAdd2 = 0x47;

struct Movie {
    std::unique_ptr<Player> player;
    std::vector<std::string> trace;
    swf::avm1::ScriptEngine& engine() { return *dynamic_cast<swf::avm1::ScriptEngine*>(player->scriptHost()); }
    swf::avm1::FocusTracker& focus() { return engine().focus(); }
    swf::DisplayObject* child(const std::string& name) { return player->root()->childByName(name); }
    std::string focusName() {
        swf::DisplayObject* f = focus().focused();
        return f ? f->name() : "none";
    }
    // Runs `code` as a frame script would, on the root.
    void run(const Asm& code) {
        Bytes b = code.bytes();
        engine().vm().beginFrame();
        engine().vm().runActions(b, engine().vm().root(), 8);
        engine().runQueued();
    }
    void type(const std::string& text) {
        for (char c : text) {
            player->keyDown(0, uint32_t(c));
            player->textInput(uint32_t(c));
            player->keyUp(0, uint32_t(c));
        }
    }
    void key(int code) {
        player->keyDown(code, 0);
        player->keyUp(code, 0);
    }
};

std::unique_ptr<Movie> play(const SwfWriter& w) {
    auto m = std::make_unique<Movie>();
    swf::HostCallbacks host;
    Movie* raw = m.get();
    host.trace = [raw](const std::string& s) { raw->trace.push_back(s); };
    m->player = std::make_unique<Player>(host);
    m->player->setScriptHostFactory(swf::avm1ScriptHostFactory());
    EXPECT_TRUE(m->player->load(w.bytes(), "test.swf").ok());
    m->player->setViewport(550, 400);
    m->player->runFrame();
    return m;
}

swf::Matrix at(double xPx, double yPx) {
    swf::Matrix m;
    m.tx = xPx * 20;
    m.ty = yPx * 20;
    return m;
}

// A movie with a square shape (1) and a button (2) showing it, 20 px wide.
SwfWriter baseMovie() {
    SwfWriter w(8);
    swf::test::ShapeBuilder s;
    uint32_t fill = s.addSolidFill({0, 0, 255, 255});
    s.rect(0, 0, 20 * 20, 20 * 20, fill);
    w.defineShape(1, s);
    w.defineButton2(2, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 1, .depth = 1}}, {});
    SwfWriter clip(8);
    clip.placeObject2({.depth = 1, .characterId = 1});
    clip.showFrame();
    w.defineSprite(3, clip);
    return w;
}

// DefineEditText without a font: `readOnly` makes a dynamic field.
void editText(SwfWriter& w, uint16_t id, bool readOnly, std::optional<uint16_t> maxLength,
              const std::string& variable, const std::string& text, bool multiline = false) {
    swf::test::ByteWriter b;
    b.u16(id).rect({0, 100 * 20, 0, 20 * 20});
    uint8_t flags1 = (text.empty() ? 0 : 0x80) | (multiline ? 0x20 : 0) | (readOnly ? 0x08 : 0) |
                     (maxLength ? 0x02 : 0);
    b.u8(flags1).u8(0);
    if (maxLength) b.u16(*maxLength);
    b.cstring(variable);
    if (!text.empty()) b.cstring(text);
    w.tag(37, b.data());
}

// obj[event] = function (x, y) { trace(label + " " + x + " " + y); }
Asm handler(const std::string& obj, const std::string& event, const std::string& label) {
    Asm body;
    body.push(label + " ").getVariable("x").op(kAdd2).push(" ").op(kAdd2).getVariable("y").op(kAdd2).trace();
    Asm a;
    a.getVariable(obj).push(event).defineFunction("", {"x", "y"}, body).setMember();
    return a;
}

Asm callSelection(const std::string& method, const Asm& args, int argc) {
    Asm a = args;
    a.push(argc).getVariable("Selection").push(method).callMethod();
    return a;
}

TEST(Focus, ChangeRunsKillFocusSetFocusThenListenersAtOnce) {
    SwfWriter w = baseMovie();
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = at(10, 10), .name = "a"});
    w.placeObject2({.depth = 2, .characterId = 2, .matrix = at(50, 10), .name = "b"});
    w.showFrame();
    auto m = play(w);
    Asm setup;
    setup.push("l").push(0).push("Object").op(0x40).op(0x3C); // var l = new Object()
    setup.raw(handler("a", "onSetFocus", "a.set").body()).raw(handler("a", "onKillFocus", "a.kill").body());
    setup.raw(handler("b", "onSetFocus", "b.set").body()).raw(handler("l", "onSetFocus", "listener").body());
    setup.getVariable("l").push(1).getVariable("Selection").push("addListener").callMethod().pop();
    m->run(setup);
    Asm steps;
    for (const char* target : {"a", "b"}) {
        steps.push(std::string("set ") + target).trace();
        steps.raw(callSelection("setFocus", Asm().getVariable(target), 1).body()).trace();
    }
    steps.raw(callSelection("getFocus", Asm(), 0).body()).trace();
    m->run(steps);
    EXPECT_EQ(m->trace, (std::vector<std::string>{
                            "set a", "a.set null undefined", "listener null _level0.a", "true",
                            "set b", "a.kill _level0.b undefined", "b.set _level0.a undefined",
                            "listener _level0.a _level0.b", "true", "_level0.b"}));
}

struct SetFocusCase {
    const char* name;
    Asm target;
    const char* result;
    const char* focus;
};

class SetFocusResult : public testing::TestWithParam<SetFocusCase> {};

TEST_P(SetFocusResult, TellsWhetherTheTargetTookTheFocus) {
    SwfWriter w = baseMovie();
    w.placeObject2({.depth = 1, .characterId = 2, .name = "button"});
    w.placeObject2({.depth = 2, .characterId = 3, .name = "plain"});
    w.placeObject2({.depth = 3, .characterId = 3, .name = "enabled"});
    editText(w, 4, true, std::nullopt, "", "dynamic");
    w.placeObject2({.depth = 4, .characterId = 4, .name = "field"});
    w.showFrame();
    auto m = play(w);
    m->run(Asm().getVariable("enabled").push("focusEnabled").pushBool(true).setMember());
    m->run(callSelection("setFocus", GetParam().target, 1).trace());
    m->run(callSelection("getFocus", Asm(), 0).trace());
    ASSERT_EQ(m->trace.size(), 2u);
    EXPECT_EQ(m->trace[0], GetParam().result);
    EXPECT_EQ(m->trace[1], GetParam().focus);
}

INSTANTIATE_TEST_SUITE_P(Focus, SetFocusResult, testing::Values(
    SetFocusCase{"False", Asm().pushBool(false), "false", "null"},
    SetFocusCase{"Null", Asm().pushNull(), "true", "null"},
    SetFocusCase{"Button", Asm().getVariable("button"), "true", "_level0.button"},
    SetFocusCase{"ClipWithoutHandlers", Asm().getVariable("plain"), "false", "null"},
    SetFocusCase{"ClipWithFocusEnabled", Asm().getVariable("enabled"), "true", "_level0.enabled"},
    SetFocusCase{"DynamicField", Asm().getVariable("field"), "true", "_level0.field"},
    SetFocusCase{"PathString", Asm().push("button"), "true", "_level0.button"},
    SetFocusCase{"MissingPath", Asm().push("nothing"), "false", "null"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TabCase {
    const char* name;
    Asm setup;
    std::vector<std::string> order;
};

class TabOrder : public testing::TestWithParam<TabCase> {};

TEST_P(TabOrder, VisitsTheTabStopsInOrder) {
    SwfWriter w = baseMovie();
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = at(100, 50), .name = "a"});
    w.placeObject2({.depth = 2, .characterId = 2, .matrix = at(10, 50), .name = "b"});
    w.placeObject2({.depth = 3, .characterId = 2, .matrix = at(300, 10), .name = "c"});
    editText(w, 4, false, std::nullopt, "", "input");
    w.placeObject2({.depth = 4, .characterId = 4, .matrix = at(10, 200), .name = "in"});
    editText(w, 5, true, std::nullopt, "", "dynamic");
    w.placeObject2({.depth = 5, .characterId = 5, .matrix = at(10, 300), .name = "dyn"});
    w.placeObject2({.depth = 6, .characterId = 3, .matrix = at(5, 5), .name = "clip"});
    w.showFrame();
    auto m = play(w);
    m->run(GetParam().setup);
    std::vector<std::string> names;
    for (swf::DisplayObject* o : m->focus().tabOrder()) names.push_back(o->name());
    EXPECT_EQ(names, GetParam().order);
    // Tab walks the same order and wraps around.
    std::vector<std::string> visited;
    for (size_t i = 0; i <= names.size() && !names.empty(); ++i) {
        m->key(9);
        visited.push_back(m->focusName());
    }
    if (!names.empty()) {
        std::vector<std::string> expected = names;
        expected.push_back(names.front());
        EXPECT_EQ(visited, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Focus, TabOrder, testing::Values(
    TabCase{"ByPositionRowsFirst", Asm(), {"c", "b", "a", "in"}},
    TabCase{"TabEnabledFalseLeavesOut", Asm().getVariable("b").push("tabEnabled").pushBool(false).setMember(),
            {"c", "a", "in"}},
    TabCase{"InvisibleLeftOut", Asm().getVariable("c").push("_visible").pushBool(false).setMember(), {"b", "a", "in"}},
    TabCase{"ClipWithTabEnabled", Asm().getVariable("clip").push("tabEnabled").pushBool(true).setMember(),
            {"clip", "c", "b", "a", "in"}},
    TabCase{"TabIndexPicksAndSorts",
            Asm().getVariable("a").push("tabIndex").push(2).setMember()
                 .getVariable("in").push("tabIndex").push(1).setMember()
                 .getVariable("c").push("tabIndex").push(2).setMember(),
            {"in", "a", "c"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Focus, ShiftTabGoesBackAndAButtonKeyConditionKeepsTab) {
    SwfWriter w = baseMovie();
    // Key condition 18 (Tab) in the high bits of the condition word.
    w.defineButton2(5, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 1, .depth = 1}},
                    {{uint16_t(18 << 9), Asm().push("tab condition").trace().bytes()}});
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = at(10, 10), .name = "a"});
    w.placeObject2({.depth = 2, .characterId = 2, .matrix = at(50, 10), .name = "b"});
    w.showFrame();
    auto m = play(w);
    m->key(9);
    EXPECT_EQ(m->focusName(), "a");
    m->player->keyDown(16, 0); // Shift held
    m->key(9);
    m->player->keyUp(16, 0);
    EXPECT_EQ(m->focusName(), "b");
    // A button whose key condition is Tab takes the key: the focus stays.
    auto placed = m->player->root()->instantiate(5);
    ASSERT_TRUE(placed);
    placed->setName("keyed");
    m->player->root()->addChild(std::move(placed), 10);
    m->key(9);
    EXPECT_EQ(m->focusName(), "b");
    EXPECT_EQ(m->trace, std::vector<std::string>{"tab condition"});
}

TEST(Focus, KeysGoToTheFocusedButtonAndEnterPressesIt) {
    SwfWriter w = baseMovie();
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = at(10, 10), .name = "a"});
    w.placeObject2({.depth = 2, .characterId = 2, .matrix = at(50, 10), .name = "b"});
    w.showFrame();
    auto m = play(w);
    Asm setup;
    for (const char* b : {"a", "b"})
        for (const char* ev : {"onKeyDown", "onKeyUp", "onPress", "onRelease"})
            setup.raw(handler(b, ev, std::string(b) + "." + ev).body());
    m->run(setup);
    m->key(65);
    EXPECT_TRUE(m->trace.empty()) << "no focus, no key events";
    m->run(callSelection("setFocus", Asm().getVariable("b"), 1).pop());
    m->trace.clear();
    m->key(65);
    m->key(13);
    EXPECT_EQ(m->trace, (std::vector<std::string>{
                            "b.onKeyDown undefined undefined", "b.onKeyUp undefined undefined",
                            "b.onKeyDown undefined undefined", "b.onPress undefined undefined",
                            "b.onRelease undefined undefined", "b.onKeyUp undefined undefined"}));
}

struct TypingCase {
    const char* name;
    std::optional<uint16_t> maxLength;
    const char* restrict; // empty: none
    std::string typed;
    std::vector<int> keys;  // pressed after typing
    const char* text;
};

class Typing : public testing::TestWithParam<TypingCase> {};

TEST_P(Typing, EditsTheFocusedInputFieldAndItsVariable) {
    const TypingCase& c = GetParam();
    SwfWriter w = baseMovie();
    editText(w, 4, false, c.maxLength, "v", "");
    w.placeObject2({.depth = 1, .characterId = 4, .name = "field"});
    w.showFrame();
    auto m = play(w);
    Asm setup = handler("field", "onChanged", "changed");
    if (*c.restrict) setup.getVariable("field").push("restrict").push(c.restrict).setMember();
    setup.raw(callSelection("setFocus", Asm().getVariable("field"), 1).pop().body());
    m->run(setup);
    m->type(c.typed);
    for (int k : c.keys) m->key(k);
    auto* field = static_cast<swf::EditTextObject*>(m->child("field"));
    EXPECT_EQ(field->text(), c.text);
    m->trace.clear();
    m->run(Asm().getVariable("v").trace());
    EXPECT_EQ(m->trace, std::vector<std::string>{c.text});
}

INSTANTIATE_TEST_SUITE_P(Focus, Typing, testing::Values(
    TypingCase{"Plain", std::nullopt, "", "hello", {}, "hello"},
    TypingCase{"MaxChars", 3, "", "hello", {}, "hel"},
    TypingCase{"RestrictRange", std::nullopt, "a-z", "aB1c", {}, "ac"},
    TypingCase{"RestrictExcluded", std::nullopt, "^0-9", "a1b2", {}, "ab"},
    TypingCase{"Backspace", std::nullopt, "", "abc", {8}, "ab"},
    TypingCase{"LeftThenDelete", std::nullopt, "", "abc", {37, 37, 46}, "ac"},
    TypingCase{"DeleteAtEndDoesNothing", std::nullopt, "", "ab", {46}, "ab"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Focus, TypingRunsOnChangedAndSkipsDynamicFields) {
    SwfWriter w = baseMovie();
    editText(w, 4, false, std::nullopt, "", "");
    w.placeObject2({.depth = 1, .characterId = 4, .name = "in"});
    editText(w, 5, true, std::nullopt, "", "fixed");
    w.placeObject2({.depth = 2, .characterId = 5, .name = "dyn"});
    w.showFrame();
    auto m = play(w);
    m->run(handler("in", "onChanged", "changed").raw(callSelection("setFocus", Asm().getVariable("in"), 1).pop().body()));
    m->type("ab");
    m->key(36);
    m->type("x");
    EXPECT_EQ(static_cast<swf::EditTextObject*>(m->child("in"))->text(), "xab");
    EXPECT_EQ(m->trace, std::vector<std::string>(3, "changed _level0.in undefined"));
    m->run(callSelection("setFocus", Asm().getVariable("dyn"), 1).pop());
    m->type("zz");
    m->key(8);
    EXPECT_EQ(static_cast<swf::EditTextObject*>(m->child("dyn"))->text(), "fixed");
}

TEST(Focus, SelectionIndicesFollowSetSelectionAndReplaceSel) {
    SwfWriter w = baseMovie();
    editText(w, 4, false, std::nullopt, "", "Input text");
    w.placeObject2({.depth = 1, .characterId = 4, .name = "field"});
    w.showFrame();
    auto m = play(w);
    m->run(callSelection("setFocus", Asm().getVariable("field"), 1).pop());
    auto range = [&] {
        auto r = m->focus().selection();
        return std::vector<int>{r.begin, r.end, r.caret};
    };
    EXPECT_EQ(range(), (std::vector<int>{-1, -1, -1}));
    // Arguments go on the stack last first: this is setSelection(5, 2).
    m->run(callSelection("setSelection", Asm().push(2).push(5), 2).pop());
    EXPECT_EQ(range(), (std::vector<int>{2, 5, 2}));
    m->run(callSelection("setSelection", Asm().push(-1).push(3), 2).pop());
    EXPECT_EQ(range(), (std::vector<int>{0, 3, 0}));
    m->run(callSelection("setSelection", Asm().push(1).push(99), 2).pop());
    EXPECT_EQ(range(), (std::vector<int>{1, 10, 1}));
    m->run(callSelection("setSelection", Asm().push(3).push(1), 2).pop());
    m->run(Asm().push("blah").push(1).getVariable("field").push("replaceSel").callMethod().pop());
    EXPECT_EQ(static_cast<swf::EditTextObject*>(m->child("field"))->text(), "Iblahut text");
    EXPECT_EQ(range(), (std::vector<int>{5, 5, 5}));
}

struct TabIndexCase {
    const char* name;
    Asm value;
    const char* onField;
    const char* onButton;
    const char* onClip;
};

class TabIndexValue : public testing::TestWithParam<TabIndexCase> {};

TEST_P(TabIndexValue, IsConvertedPerKind) {
    SwfWriter w = baseMovie();
    w.placeObject2({.depth = 1, .characterId = 2, .name = "button"});
    w.placeObject2({.depth = 2, .characterId = 3, .name = "clip"});
    editText(w, 4, false, std::nullopt, "", "input");
    w.placeObject2({.depth = 3, .characterId = 4, .name = "field"});
    w.showFrame();
    auto m = play(w);
    for (const char* target : {"field", "button", "clip"}) {
        Asm a;
        a.getVariable(target).push("tabIndex").raw(GetParam().value.body()).setMember();
        a.getVariable(target).push("tabIndex").getMember().trace();
        m->run(a);
    }
    EXPECT_EQ(m->trace, (std::vector<std::string>{GetParam().onField, GetParam().onButton, GetParam().onClip}));
}

INSTANTIATE_TEST_SUITE_P(Focus, TabIndexValue, testing::Values(
    TabIndexCase{"Negative", Asm().push(-4), "4294967292", "-4", "-4"},
    TabIndexCase{"Fraction", Asm().push(1.5), "1", "1", "1"},
    TabIndexCase{"PastSignedRange", Asm().push(2147483648.0), "2147483648", "-2147483648", "-2147483648"},
    TabIndexCase{"NotANumber", Asm().push("x"), "0", "-2147483648", "-2147483648"},
    TabIndexCase{"Object", Asm().push(0).push("Object").op(0x40), "0", "-2147483648", "-2147483648"},
    TabIndexCase{"Undefined", Asm().pushUndefined(), "undefined", "undefined", "undefined"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- _focusrect and the focus frame --------------------------------------------------------

struct FocusRectCase {
    const char* name;
    Asm value;
    const char* global; // _focusrect after setting it on _root
    const char* clip;   // clip._focusrect after setting it there
};

class FocusRectValue : public testing::TestWithParam<FocusRectCase> {};

TEST_P(FocusRectValue, RootHoldsTheMovieWideSwitchAndClipsTheirOwn) {
    SwfWriter w = baseMovie();
    w.placeObject2({.depth = 1, .characterId = 3, .name = "clip"});
    w.showFrame();
    auto m = play(w);
    Asm a;
    a.getVariable("clip").push("_focusrect").getMember().trace(); // unset: null
    a.getVariable("_root").push("_focusrect").raw(GetParam().value.body()).setMember();
    a.getVariable("_focusrect").trace();
    a.getVariable("clip").push("_focusrect").raw(GetParam().value.body()).setMember();
    a.getVariable("clip").push("_focusrect").getMember().trace();
    m->run(a);
    EXPECT_EQ(m->trace, (std::vector<std::string>{"null", GetParam().global, GetParam().clip}));
}

INSTANTIATE_TEST_SUITE_P(Focus, FocusRectValue, testing::Values(
    FocusRectCase{"Zero", Asm().push(0), "false", "false"},
    FocusRectCase{"ZeroString", Asm().push("0"), "false", "true"},
    FocusRectCase{"Fraction", Asm().push(0.1), "true", "true"},
    FocusRectCase{"NotANumber", Asm().push(0).push(0).op(0x0D), "true", "false"},
    FocusRectCase{"Object", Asm().push(0).push("Object").op(0x40), "false", "true"},
    FocusRectCase{"False", Asm().pushBool(false), "false", "false"},
    FocusRectCase{"NullKeepsTheSwitch", Asm().pushNull(), "true", "null"},
    FocusRectCase{"UndefinedKeepsTheSwitch", Asm().pushUndefined(), "true", "null"}),
    [](const auto& info) { return std::string(info.param.name); });

uint32_t rgbAt(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }
constexpr uint32_t kYellow = 0xFFFF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

struct FrameCase {
    const char* name;
    Asm setup;       // run before the clip `c` (rotated 45 degrees at 100,100) takes the focus
    bool drawn;
    bool visible = true;
};

class FocusFrame : public testing::TestWithParam<FrameCase> {};

TEST_P(FocusFrame, SurroundsTheFocusedObjectsBoundsOnTheStage) {
    SwfWriter w = baseMovie();
    w.placeObject2({.depth = 1, .characterId = 3, .matrix = at(100, 100), .name = "c"});
    w.showFrame();
    auto m = play(w);
    Asm a;
    a.getVariable("c").push("focusEnabled").pushBool(true).setMember();
    a.getVariable("c").push("_rotation").push(45).setMember();
    a.raw(GetParam().setup.body());
    a.raw(callSelection("setFocus", Asm().getVariable("c"), 1).pop().body());
    m->run(a);
    QImage image = m->player->renderImage();
    // The 20 px square turned 45 degrees spans x 85.9..114.1 and y 100..128.3:
    // the frame is the upright box around it, three pixels wide, inside.
    uint32_t band = GetParam().drawn ? kYellow : kWhite;
    EXPECT_EQ(rgbAt(image, 87, 103), band);  // left side, beside the square
    EXPECT_EQ(rgbAt(image, 112, 103), band); // right side
    EXPECT_EQ(rgbAt(image, 92, 101), band);  // top, left of the square's corner
    EXPECT_EQ(rgbAt(image, 92, 126), band);  // bottom
    EXPECT_EQ(rgbAt(image, 100, 114), GetParam().visible ? kBlue : kWhite); // the square inside
    EXPECT_EQ(rgbAt(image, 84, 114), kWhite); // outside
    EXPECT_EQ(rgbAt(image, 92, 98), kWhite);
}

INSTANTIATE_TEST_SUITE_P(Focus, FocusFrame, testing::Values(
    FrameCase{"ByDefault", Asm(), true},
    FrameCase{"GlobalOff", Asm().push("_focusrect").pushBool(false).setVariable(), false},
    FrameCase{"ClipOnOverridesGlobalOff",
              Asm().push("_focusrect").pushBool(false).setVariable().getVariable("c").push("_focusrect")
                  .pushBool(true).setMember(), true},
    FrameCase{"ClipOff", Asm().getVariable("c").push("_focusrect").pushBool(false).setMember(), false},
    FrameCase{"Hidden", Asm().getVariable("c").push("_visible").pushBool(false).setMember(), false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Focus, FrameGoesWithAClickAndNeverSurroundsAField) {
    SwfWriter w = baseMovie();
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = at(100, 100), .name = "b"});
    editText(w, 4, false, std::nullopt, "", "input");
    w.placeObject2({.depth = 2, .characterId = 4, .matrix = at(200, 200), .name = "field"});
    w.showFrame();
    auto m = play(w);
    m->run(callSelection("setFocus", Asm().getVariable("b"), 1).pop());
    std::optional<swf::Rect> frame = m->focus().highlightBounds();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(*frame, (swf::Rect{100 * 20, 120 * 20, 100 * 20, 120 * 20}));
    m->run(callSelection("setFocus", Asm().getVariable("field"), 1).pop());
    EXPECT_FALSE(m->focus().highlightBounds().has_value());
    m->key(9); // Tab back to the button: framed again
    EXPECT_EQ(m->focusName(), "b");
    EXPECT_TRUE(m->focus().highlightBounds().has_value());
    m->player->mouseMove(5, 390);
    m->player->mouseDown(5, 390);
    m->player->mouseUp(5, 390);
    EXPECT_FALSE(m->focus().highlightBounds().has_value());
}

TEST(Focus, ClickFocusesAFieldAndElsewhereClearsIt) {
    SwfWriter w = baseMovie();
    editText(w, 4, false, std::nullopt, "", "click me");
    w.placeObject2({.depth = 1, .characterId = 4, .matrix = at(100, 100), .name = "field"});
    w.showFrame();
    auto m = play(w);
    // The caret goes where the click is: past the text's end here.
    m->player->mouseMove(195, 110);
    m->player->mouseDown(195, 110);
    m->player->mouseUp(195, 110);
    EXPECT_EQ(m->focusName(), "field");
    m->type("!");
    EXPECT_EQ(static_cast<swf::EditTextObject*>(m->child("field"))->text(), "click me!");
    m->player->mouseMove(5, 390);
    m->player->mouseDown(5, 390);
    m->player->mouseUp(5, 390);
    EXPECT_EQ(m->focusName(), "none");
}

struct ClickCase {
    const char* name;
    bool input, selectable, focused;
};

class ClickOnField : public testing::TestWithParam<ClickCase> {};

TEST_P(ClickOnField, FocusesOnlySelectableFields) {
    SwfWriter w = baseMovie();
    editText(w, 4, !GetParam().input, std::nullopt, "", "text");
    w.placeObject2({.depth = 1, .characterId = 4, .matrix = at(100, 100), .name = "field"});
    w.showFrame();
    auto m = play(w);
    m->run(Asm().getVariable("field").push("selectable").pushBool(GetParam().selectable).setMember());
    m->player->mouseMove(110, 110);
    m->player->mouseDown(110, 110);
    m->player->mouseUp(110, 110);
    EXPECT_EQ(m->focusName(), GetParam().focused ? "field" : "none");
}

INSTANTIATE_TEST_SUITE_P(Focus, ClickOnField, testing::Values(
    ClickCase{"SelectableInput", true, true, true},
    ClickCase{"SelectableDynamic", false, true, true},
    ClickCase{"UnselectableInput", true, false, false},
    ClickCase{"UnselectableDynamic", false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct EnabledCase {
    const char* name;
    Asm change; // run on the button `b` before the click
    bool pressed;
};

class ButtonEnabled : public testing::TestWithParam<EnabledCase> {};

TEST_P(ButtonEnabled, OnlyAFalseValueTurnsTheButtonOff) {
    SwfWriter w = baseMovie();
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = at(100, 100), .name = "b"});
    w.showFrame();
    auto m = play(w);
    Asm a;
    a.getVariable("b").push("onPress").defineFunction("", {}, Asm().push("press").trace()).setMember();
    a.raw(GetParam().change.body());
    m->run(a);
    m->player->mouseMove(110, 110);
    m->player->mouseDown(110, 110);
    m->player->mouseUp(110, 110);
    EXPECT_EQ(m->trace, GetParam().pressed ? std::vector<std::string>{"press"} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Focus, ButtonEnabled, testing::Values(
    EnabledCase{"Untouched", Asm(), true},
    EnabledCase{"False", Asm().getVariable("b").push("enabled").pushBool(false).setMember(), false},
    EnabledCase{"Zero", Asm().getVariable("b").push("enabled").push(0).setMember(), false},
    EnabledCase{"Undefined", Asm().getVariable("b").push("enabled").pushUndefined().setMember(), true},
    EnabledCase{"DeletedAfterFalse",
                Asm().getVariable("b").push("enabled").pushBool(false).setMember()
                    .getVariable("b").push("enabled").op(0x3A).pop(), true},
    EnabledCase{"PrototypeOff",
                Asm().getVariable("Button").push("prototype").getMember().push("enabled").pushBool(false).setMember(),
                false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Focus, EnabledIsAPlainMemberOfClipAndButtonPrototypes) {
    SwfWriter w = baseMovie();
    w.placeObject2({.depth = 1, .characterId = 2, .name = "b"});
    w.showFrame();
    auto m = play(w);
    Asm a;
    for (const char* cls : {"MovieClip", "Button"})
        a.push("enabled").push(1).getVariable(cls).push("prototype").getMember().push("hasOwnProperty").callMethod()
            .trace();
    a.push("enabled").push(1).getVariable("b").push("hasOwnProperty").callMethod().trace();
    a.getVariable("b").push("enabled").pushUndefined().setMember();
    a.push("enabled").push(1).getVariable("b").push("hasOwnProperty").callMethod().trace();
    m->run(a);
    EXPECT_EQ(m->trace, (std::vector<std::string>{"true", "true", "false", "true"}));
}

// Button 7 shows sprite 5, which holds button 6 over its left half; each
// button traces its name when pressed.
TEST(ButtonMouse, AButtonInsideAButtonsClipTakesThePressFirst) {
    SwfWriter w = baseMovie();
    Bytes pressInner = Asm().push("inner").trace().bytes(), pressOuter = Asm().push("outer").trace().bytes();
    constexpr uint16_t kPress = 0x0004;
    swf::test::ShapeBuilder wide;
    wide.rect(0, 0, 40 * 20, 20 * 20, wide.addSolidFill({255, 0, 0, 255}));
    w.defineShape(4, wide);
    w.defineButton2(6, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 1}},
                    {{kPress, pressInner}});
    SwfWriter holder(8);
    holder.placeObject2({.depth = 1, .characterId = 6});
    holder.showFrame();
    w.defineSprite(5, holder);
    w.defineButton2(7, {{.up = true, .over = true, .down = true, .characterId = 5, .depth = 2},
                        {.hitTest = true, .characterId = 4}},
                    {{kPress, pressOuter}});
    w.placeObject2({.depth = 1, .characterId = 7, .matrix = at(100, 100)});
    w.showFrame();
    auto m = play(w);
    for (double x : {110.0, 130.0}) { // the inner button, then only the outer one
        m->player->mouseMove(x, 110);
        m->player->mouseDown(x, 110);
        m->player->mouseUp(x, 110);
    }
    EXPECT_EQ(m->trace, (std::vector<std::string>{"inner", "outer"}));
}

TEST(Focus, RemovingTheFocusedClipClearsTheFocus) {
    SwfWriter w = baseMovie();
    w.showFrame();
    auto m = play(w);
    Asm a;
    a.push(5).push("c").push(2).getVariable("_root").push("createEmptyMovieClip").callMethod().pop();
    a.getVariable("c").push("focusEnabled").pushBool(true).setMember();
    a.push("l").push(0).push("Object").op(0x40).op(0x3C);
    a.raw(handler("l", "onSetFocus", "changed").body());
    a.getVariable("l").push(1).getVariable("Selection").push("addListener").callMethod().pop();
    a.raw(callSelection("setFocus", Asm().getVariable("c"), 1).pop().body());
    a.push(0).getVariable("c").push("removeMovieClip").callMethod().pop();
    a.raw(callSelection("getFocus", Asm(), 0).trace().body());
    m->run(a);
    EXPECT_EQ(m->trace, (std::vector<std::string>{"changed null _level0.c", "changed _level0.c null", "null"}));
}

} // namespace
