// Where clips are and what they cover, as scripts ask: getBounds in a clip's
// own space or another's (strokes of the drawing API included), and
// hitTest against clips named by object or path.
#include "tests/avm1/script_movie.h"

namespace {

using avm1test::Asm;
using swf::test::SwfWriter;
using Lines = std::vector<std::string>;

constexpr uint8_t kAdd2 = 0x47;

std::unique_ptr<avm1test::ScriptMovie> emptyMovie() {
    SwfWriter w(8);
    w.showFrame();
    return avm1test::playScriptMovie(w);
}

// object.method(args...), its result left on the stack; each argument is a push.
Asm call(const std::string& object, const std::string& method, const std::vector<Asm>& args = {}) {
    Asm a;
    for (auto it = args.rbegin(); it != args.rend(); ++it) a.raw(it->body());
    a.push(int(args.size()));
    if (object.empty()) return a.push(method).callFunction();
    return a.getVariable(object).push(method).callMethod();
}
Asm num(double d) { return Asm().push(d); }
Asm str(const std::string& s) { return Asm().push(s); }

// a: an empty clip at (10, 10) with a 100 px square outline drawn `lineWidth` thick
// (no stroke for a negative width); e: an empty clip; b: a filled 10 px square at (200, 200).
Asm setup(double lineWidth) {
    Asm a;
    a.raw(call("this", "createEmptyMovieClip", {str("a"), num(1)}).pop().body());
    a.raw(call("this", "createEmptyMovieClip", {str("e"), num(2)}).pop().body());
    a.raw(call("this", "createEmptyMovieClip", {str("b"), num(3)}).pop().body());
    a.getVariable("a").push("_x").push(10).setMember().getVariable("a").push("_y").push(10).setMember();
    if (lineWidth >= 0) a.raw(call("a", "lineStyle", {num(lineWidth)}).pop().body());
    a.raw(call("a", "moveTo", {num(0), num(0)}).pop().body());
    for (auto [x, y] : {std::pair{0, 100}, {100, 100}, {100, 0}, {0, 0}})
        a.raw(call("a", "lineTo", {num(x), num(y)}).pop().body());
    a.getVariable("b").push("_x").push(200).setMember().getVariable("b").push("_y").push(200).setMember();
    a.raw(call("b", "beginFill", {num(0xff0000)}).pop().body());
    a.raw(call("b", "moveTo", {num(0), num(0)}).pop().body());
    for (auto [x, y] : {std::pair{10, 0}, {10, 10}, {0, 10}}) a.raw(call("b", "lineTo", {num(x), num(y)}).pop().body());
    a.raw(call("b", "endFill").pop().body());
    return a;
}

// Traces "xMin,yMin,xMax,yMax" of a.getBounds(args), or "undefined".
Asm traceBounds(const std::vector<Asm>& args) {
    Asm a = call("a", "getBounds", args);
    a.storeRegister(0).pop();
    a.pushRegister(0).push("xMin").getMember();
    for (const char* k : {"yMin", "xMax", "yMax"})
        a.push(",").op(kAdd2).pushRegister(0).push(k).getMember().op(kAdd2);
    return a.trace();
}

struct BoundsCase {
    const char* what;
    double lineWidth;
    std::vector<Asm> args;
    const char* expected;
};

TEST(ClipSpace, GetBoundsByStrokeAndSpace) {
    const BoundsCase cases[] = {
        {"no stroke, own space", -1, {}, "0,0,100,100"},
        {"4 px stroke grows by its width", 4, {}, "-4,-4,104,104"},
        {"hairline grows by a pixel", 0, {}, "-1,-1,101,101"},
        {"parent space", 4, {Asm().getVariable("this")}, "6,6,114,114"},
        {"parent space by path", 4, {str("_level0")}, "6,6,114,114"},
        {"own space named", 4, {Asm().getVariable("a")}, "-4,-4,104,104"},
        {"a number names no space", 4, {num(2)}, "undefined,undefined,undefined,undefined"},
        {"a path to nothing", 4, {str("nowhere")}, "undefined,undefined,undefined,undefined"},
        {"undefined is the own space", 4, {Asm().pushUndefined()}, "-4,-4,104,104"},
    };
    for (const auto& c : cases) {
        auto m = emptyMovie();
        Asm code = setup(c.lineWidth);
        code.raw(traceBounds(c.args).body());
        EXPECT_EQ(m->run(code), Lines{c.expected}) << c.what;
    }
}

struct HitCase {
    const char* what;
    Asm call;
    const char* expected;
};

TEST(ClipSpace, HitTestTakesClipsPathsAndPoints) {
    const HitCase cases[] = {
        {"overlapping clip", call("a", "hitTest", {Asm().getVariable("_level0")}), "true"},
        {"clip apart", call("a", "hitTest", {Asm().getVariable("b")}), "false"},
        {"path apart", call("a", "hitTest", {str("b")}), "false"},
        {"path to the parent", call("b", "hitTest", {str("_parent")}), "true"},
        {"path to nothing", call("a", "hitTest", {str("nowhere")}), "false"},
        {"empty clip overlaps nothing", call("e", "hitTest", {Asm().getVariable("_level0")}), "false"},
        {"nothing hits an empty clip", call("_level0", "hitTest", {str("e")}), "false"},
        {"point in bounds", call("b", "hitTest", {num(205), num(205)}), "true"},
        {"point outside", call("b", "hitTest", {num(150), num(150)}), "false"},
        {"point on the outline's hollow, by bounds", call("a", "hitTest", {num(60), num(60)}), "true"},
        {"point on the outline's hollow, by shape", call("a", "hitTest", {num(60), num(60), Asm().pushBool(true)}),
         "false"},
    };
    for (const auto& c : cases) {
        auto m = emptyMovie();
        Asm code = setup(2);
        code.raw(c.call.body()).trace();
        EXPECT_EQ(m->run(code), Lines{c.expected}) << c.what;
    }
}

} // namespace
