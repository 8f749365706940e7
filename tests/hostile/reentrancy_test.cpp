// Script that runs from inside a C++ loop (getters, toString/valueOf,
// comparators, unload saving) and frees or moves what the loop holds. Each
// case plays a movie written in code, drives it, and states the outcome.
#include "tests/hostile/hostile_env.h"

#include <functional>

namespace {

using namespace hostile;
using swf::test::SwfWriter;

std::vector<std::string>& events() {
    static std::vector<std::string> log;
    return log;
}

// Notes its data (a string) in the event log.
Value note(Vm& vm, CallArgs& a) {
    events().push_back(vm.toString(a.callee->data).toStdString());
    return Value(true);
}
// Removes every clip and field in its data (an array), then answers true.
Value removeAll(Vm& vm, CallArgs& a) {
    auto* list = dynamic_cast<ArrayObject*>(a.callee->data.asObject());
    for (const Value& v : list ? std::vector<Value>(list->items) : std::vector<Value>{}) {
        vm.callMethod(v, QStringLiteral("removeMovieClip"), {});
        vm.callMethod(v, QStringLiteral("removeTextField"), {});
    }
    return Value(true);
}
// A sort comparator that grows and shrinks the array it sorts and answers -1, 0, 1 in turn.
Value unsteadyCompare(Vm& vm, CallArgs& a) {
    static int turn = 0;
    Value one(1);
    vm.callMethod(a.callee->data, QStringLiteral("push"), std::span<const Value>(&one, 1));
    vm.callMethod(a.callee->data, QStringLiteral("shift"), {});
    return Value(double(turn++ % 3 - 1));
}
Value throwingCompare(Vm& vm, CallArgs&) {
    vm.throwValue(Value(QStringLiteral("stop")));
    return Value();
}
// toString of a bound variable: removes the field showing it and makes 40
// clips (the script engine makes a script object for each).
Value removeFieldMakeClips(Vm& vm, CallArgs& a) {
    Value root = a.callee->data;
    vm.callMethod(vm.getMember(root, QStringLiteral("f")), QStringLiteral("removeTextField"), {});
    for (int i = 0; i < 40; ++i) {
        Value args[] = {Value(QStringLiteral("m%1").arg(i)), Value(10 + i)};
        vm.callMethod(root, QStringLiteral("createEmptyMovieClip"), args);
    }
    return Value(QStringLiteral("text"));
}
// An onLoad getter on every clip that removes the clip named "copy".
Value onLoadRemovingCopy(Vm& vm, CallArgs& a) {
    events().push_back("onLoad read");
    if (vm.toString(vm.getMember(a.thisv, QStringLiteral("_name"))) == u"copy")
        vm.callMethod(a.thisv, QStringLiteral("removeMovieClip"), {});
    return Value();
}

// A 100 x 100 stage and an exported clip "holder" with a button "b" filling it.
SwfWriter hostileMovie() {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    swf::test::ShapeBuilder square;
    square.rect(0, 0, 100 * 20, 100 * 20, square.addSolidFill({255, 0, 0, 255}));
    w.defineShape(1, square);
    w.defineButton2(3, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 1, .depth = 1}}, {});
    SwfWriter holder(8);
    holder.placeObject2({.depth = 1, .characterId = 3, .name = "b"});
    holder.showFrame();
    w.defineSprite(4, holder);
    // "states": a button showing an empty clip until the pointer is over it.
    w.defineSprite(5, SwfWriter(8).showFrame());
    w.defineButton2(6, {{.up = true, .characterId = 5, .depth = 1},
                        {.up = false, .over = true, .down = true, .hitTest = true, .characterId = 1, .depth = 2}},
                    {});
    SwfWriter states(8);
    states.placeObject2({.depth = 1, .characterId = 6, .name = "b"});
    states.showFrame();
    w.defineSprite(7, states);
    w.exportAssets({{4, "holder"}, {7, "states"}});
    w.showFrame();
    return w;
}

Value str(const char* s) { return Value(QString::fromLatin1(s)); }
Value list(Env& e, std::vector<Value> items) { return Value(static_cast<Object*>(e.vm().newArray(std::move(items)))); }
Value newClip(Env& e, const char* name, int depth) {
    return e.call(e.root(), "createEmptyMovieClip", {str(name), Value(depth)});
}
std::string joined(const std::vector<std::string>& v) {
    std::string out;
    for (const auto& s : v) out += (out.empty() ? "" : ";") + s;
    return out;
}

struct Case {
    const char* name;
    std::function<std::string(Env&)> run; // the outcome, as text
    const char* expected;
};

const Case kCases[] = {
    {"sort keeps each item once whatever the comparator answers and changes",
     [](Env& e) {
         Value arr = list(e, {Value(9), Value(8), Value(7), Value(6), Value(5), Value(4), Value(3), Value(2), Value(1), Value(0)});
         e.call(arr, "sort", {e.native(unsteadyCompare, arr)});
         std::vector<Value> items = dynamic_cast<ArrayObject*>(arr.asObject())->items;
         std::sort(items.begin(), items.end(), [](const Value& x, const Value& y) { return x.asNumber() < y.asNumber(); });
         return e.text(list(e, items));
     },
     "0,1,2,3,4,5,6,7,8,9"},
    {"a comparator that throws leaves the array as it was",
     [](Env& e) {
         Value arr = list(e, {Value(3), Value(1), Value(2)});
         e.call(arr, "sort", {e.native(throwingCompare)});
         return e.text(arr);
     },
     "3,1,2"},
    {"hit testing runs no enabled getter, which would remove the button",
     [](Env& e) {
         Value holder = e.call(e.root(), "attachMovie", {str("holder"), str("h"), Value(1)});
         Value b = e.get(holder, "b");
         e.call(b, "addProperty", {str("enabled"), e.native(removeAll, list(e, {holder})), Value::null()});
         e.vm().setMember(b.asObject(), QStringLiteral("onRelease"), e.native(note, str("release")));
         e.player->mouseMove(50, 50);
         e.player->mouseDown(50, 50, swf::MouseButton::Left);
         e.player->mouseUp(50, 50, swf::MouseButton::Left);
         e.player->runFrame();
         return joined(events());
     },
     "release"},
    {"Tab order survives a tabEnabled getter that removes the other stops",
     [](Env& e) {
         Value a = newClip(e, "a", 1), b = newClip(e, "b", 2), c = newClip(e, "c", 3);
         e.vm().setMember(b.asObject(), QStringLiteral("tabEnabled"), Value(true));
         e.vm().setMember(c.asObject(), QStringLiteral("tabEnabled"), Value(true));
         e.call(a, "addProperty", {str("tabEnabled"), e.native(removeAll, list(e, {b, c})), Value::null()});
         e.player->keyDown(9);
         e.player->runFrame();
         return e.text(e.call(e.global(QStringLiteral("Selection")), "getFocus"));
     },
     "_level0.a"},
    {"a bound variable whose toString removes its field and makes clips",
     [](Env& e) {
         e.call(e.root(), "createTextField", {str("f"), Value(1), Value(0), Value(0), Value(50), Value(20)});
         e.vm().setMember(e.get(e.root(), "f").asObject(), QStringLiteral("variable"), str("v"));
         Object* v = e.vm().newObject();
         e.vm().setMember(v, QStringLiteral("toString"), e.native(removeFieldMakeClips, e.root()));
         e.vm().setMember(e.root().asObject(), QStringLiteral("v"), Value(v));
         e.player->runFrame();
         return e.type(e.get(e.root(), "f")) + " " + e.text(e.get(e.get(e.root(), "m39"), "_name"));
     },
     "undefined m39"},
    {"an onLoad getter is read when the load event runs, not while the duplicate is placed",
     [](Env& e) {
         Value src = newClip(e, "src", 1);
         e.call(e.global(QStringLiteral("MovieClip.prototype")), "addProperty",
                {str("onLoad"), e.native(onLoadRemovingCopy), Value::null()});
         e.call(src, "duplicateMovieClip", {str("copy"), Value(2)});
         bool placed = e.get(e.root(), "copy").isObject();
         e.player->runFrame();
         return std::string(placed ? "placed" : "missing") + ", then " + e.type(e.get(e.root(), "copy"));
     },
     "placed, then undefined"},
    {"a duplicate made at its original's depth takes its place",
     [](Env& e) {
         Value src = newClip(e, "src", 1);
         e.call(src, "duplicateMovieClip", {str("copy"), Value(1)});
         e.player->runFrame();
         return e.type(e.get(e.root(), "src")) + " " + e.text(e.get(e.get(e.root(), "copy"), "_name"));
     },
     "undefined copy"},
    {"a property set whose valueOf removes the clip",
     [](Env& e) {
         Value clip = newClip(e, "c", 1);
         Object* value = e.vm().newObject();
         e.vm().setMember(value, QStringLiteral("valueOf"), e.native(removeAll, list(e, {clip})));
         for (const char* property : {"_x", "_visible", "_alpha", "_xscale", "_width", "_rotation"})
             e.vm().setMember(clip.asObject(), QString::fromLatin1(property), Value(value));
         return e.type(e.get(e.root(), "c"));
     },
     "undefined"},
    {"text field settings and a bound text whose conversions remove the field",
     [](Env& e) {
         std::string out;
         for (const char* property : {"text", "htmlText", "borderColor", "maxChars", "scroll", "autoSize", "tabIndex"}) {
             e.call(e.root(), "createTextField", {str("f"), Value(1), Value(0), Value(0), Value(50), Value(20)});
             Value field = e.get(e.root(), "f");
             e.vm().setMember(field.asObject(), QStringLiteral("html"), Value(true));
             Object* value = e.vm().newObject();
             for (const char* conversion : {"valueOf", "toString"})
                 e.vm().setMember(value, QString::fromLatin1(conversion), e.native(removeAll, list(e, {field})));
             e.vm().setMember(field.asObject(), QString::fromLatin1(property), Value(value));
             out += e.type(e.get(e.root(), "f")) + " ";
         }
         // A field showing a variable reads it (through its toString) when its text is asked for.
         e.call(e.root(), "createTextField", {str("f"), Value(1), Value(0), Value(0), Value(50), Value(20)});
         Value field = e.get(e.root(), "f");
         e.vm().setMember(field.asObject(), QStringLiteral("variable"), str("bound"));
         Object* bound = e.vm().newObject();
         e.vm().setMember(bound, QStringLiteral("toString"), e.native(removeAll, list(e, {field})));
         e.vm().setMember(e.root().asObject(), QStringLiteral("bound"), Value(bound));
         return out + e.type(e.get(field, "text"));
     },
     "undefined undefined undefined undefined undefined undefined undefined undefined"},
    {"a clip of a button state, gone when the pointer changes the state, leaves no script object behind",
     [](Env& e) {
         e.call(e.root(), "attachMovie", {str("states"), str("s"), Value(1)});
         e.call(e.root(), "createTextField", {str("f"), Value(2), Value(0), Value(0), Value(50), Value(20)});
         e.vm().setMember(e.get(e.root(), "f").asObject(), QStringLiteral("variable"), str("v"));
         e.player->runFrame(); // the state's clip gets its enterFrame, so a script object
         e.player->mouseMove(50, 50);
         e.player->runFrame();
         e.player->mouseMove(150, 150);
         e.player->runFrame();
         return e.type(e.get(e.get(e.root(), "s"), "b"));
     },
     "object"},
    {"a Sound method on a SharedObject does nothing",
     [](Env& e) {
         Value so = e.call(e.global(QStringLiteral("SharedObject")), "getLocal", {str("a")});
         Value r = e.vm().call(e.global(QStringLiteral("Sound.prototype.setVolume")), so, std::vector<Value>{Value(50)});
         return e.type(r) + " " + e.text(e.call(so, "getSize"));
     },
     "undefined 10"},
    {"LoadVars loading into a Sound leaves the Sound's mix alone",
     [](Env& e) {
         Value sound = e.make(QStringLiteral("Sound"));
         Value r = e.call(e.make(QStringLiteral("LoadVars")), "sendAndLoad", {str("x.txt"), sound});
         for (int i = 0; i < 3; ++i) e.player->runFrame();
         return e.text(r) + " " + e.text(e.call(sound, "getVolume"));
     },
     "true 100"},
};

class Reentrancy : public testing::TestWithParam<Case> {};

TEST_P(Reentrancy, Outcome) {
    events().clear();
    Env e(hostileMovie());
    EXPECT_EQ(GetParam().run(e), GetParam().expected);
    EXPECT_FALSE(e.vm().halted());
}

INSTANTIATE_TEST_SUITE_P(Hostile, Reentrancy, testing::ValuesIn(kCases));

// Stored objects are written at unload without running the movie's script:
// a getter there could start work that outlives the VM.
TEST(HostileUnload, StoredObjectsAreWrittenWithoutRunningScript) {
    events().clear();
    {
        Env e(hostileMovie());
        Value so = e.call(e.global(QStringLiteral("SharedObject")), "getLocal", {str("keep")});
        e.call(so, "clear");
        Object* data = e.get(so, "data").asObject();
        e.vm().setMember(data, QStringLiteral("plain"), str("kept"));
        Value trap = e.native(note, str("trap"));
        e.call(Value(data), "addProperty", {str("trap"), trap, Value::null()});
        e.player->unload();
    }
    Env e(hostileMovie());
    Value so = e.call(e.global(QStringLiteral("SharedObject")), "getLocal", {str("keep")});
    EXPECT_EQ(e.text(e.get(e.get(so, "data"), "plain")), "kept");
    EXPECT_TRUE(events().empty()) << joined(events());
    e.call(so, "clear");
}

} // namespace
