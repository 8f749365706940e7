// Color and Sound objects: what their members are, whose mix a Sound
// controls (its target clip's, or its own once it loads a sound), and the
// load's progress and outcome.
#include "tests/avm1/script_movie.h"

namespace {

using avm1test::Asm;
using swf::test::SwfWriter;
using Lines = std::vector<std::string>;
namespace prop = swf::avm1::prop;

constexpr uint8_t kNewObject = 0x40;

// A movie whose first frame makes the clip "a" (at a depth scripts may remove).
std::unique_ptr<avm1test::ScriptMovie> movieWithClip() {
    SwfWriter w(8);
    w.doAction(Asm().push(1).push("a").push(2).getVariable("this").push("createEmptyMovieClip").callMethod().pop().bytes());
    w.showFrame();
    w.doAction(Asm().op(0x07).bytes()); // stop
    w.showFrame();
    return avm1test::playScriptMovie(w, "/nonexistent-folder/test.swf");
}

Asm call(const std::string& object, const std::string& method, const std::vector<Asm>& args = {}) {
    Asm a;
    for (auto it = args.rbegin(); it != args.rend(); ++it) a.raw(it->body());
    return a.push(int(args.size())).getVariable(object).push(method).callMethod();
}
// var name = new Sound(target) (no argument for an empty target)
Asm newSound(const std::string& name, const std::string& target) {
    Asm a;
    a.push(name);
    if (!target.empty()) a.getVariable(target);
    return a.push(target.empty() ? 0 : 1).push("Sound").op(kNewObject).setVariable();
}
Asm num(double d) { return Asm().push(d); }
Asm str(const std::string& s) { return Asm().push(s); }

TEST(Color, MembersAreHiddenPermanentAndReadOnly) {
    auto m = movieWithClip();
    Asm code;
    code.push("c").getVariable("a").push(1).push("Color").op(kNewObject).setVariable();
    code.getVariable("c").push("target").push("elsewhere").setMember();
    code.getVariable("c").push("target").getMember().trace();
    EXPECT_EQ(m->run(code), Lines{"_level0.a"});
    auto& vm = m->engine().vm();
    const uint32_t sealed = prop::kDontEnum | prop::kDontDelete | prop::kReadOnly;
    swf::avm1::Object* c = vm.getMember(swf::avm1::Value(vm.root()), QStringLiteral("c")).asObject();
    swf::avm1::Object* proto = c ? c->proto() : nullptr;
    ASSERT_NE(proto, nullptr);
    for (const char* member : {"setRGB", "getRGB", "setTransform", "getTransform", "constructor", "__proto__"}) {
        const swf::avm1::Property* p = proto->find(vm.key(QString::fromLatin1(member)));
        ASSERT_NE(p, nullptr) << member;
        EXPECT_EQ(p->flags & sealed, sealed) << member;
    }
    for (const char* member : {"target", "__constructor__", "__proto__"}) {
        const swf::avm1::Property* p = c->find(vm.key(QString::fromLatin1(member)));
        ASSERT_NE(p, nullptr) << member;
        EXPECT_EQ(p->flags & sealed, sealed) << member;
    }
    EXPECT_EQ(c->find(vm.key(QStringLiteral("constructor"))), nullptr);
}

struct MixCase {
    const char* what;
    Asm steps;
    const char* volume; // s.getVolume() afterwards
};

TEST(Sound, LoadSoundGivesTheSoundAMixOfItsOwn) {
    auto load = [] { return call("s", "loadSound", {str("missing.mp3"), Asm().pushBool(true)}).pop(); };
    auto setVolume = [](double v) { return call("s", "setVolume", {num(v)}).pop(); };
    auto remove = [] { return call("a", "removeMovieClip").pop(); };
    const MixCase cases[] = {
        {"a clip's Sound mixes the clip", Asm(newSound("s", "a")).raw(setVolume(25).body()), "25"},
        {"loading starts a fresh mix", Asm(newSound("s", "a")).raw(setVolume(25).body()).raw(load().body()), "100"},
        {"the loaded sound's mix changes", Asm(newSound("s", "a")).raw(load().body()).raw(setVolume(40).body()), "40"},
        {"a loaded Sound outlives its target", Asm(newSound("s", "a")).raw(load().body()).raw(remove().body()), "100"},
        {"a clip's Sound of a removed clip has no mix", Asm(newSound("s", "a")).raw(remove().body()), "undefined"},
    };
    for (const auto& c : cases) {
        auto m = movieWithClip();
        Asm code = c.steps;
        code.raw(call("s", "getVolume").body()).trace();
        EXPECT_EQ(m->run(code), Lines{c.volume}) << c.what;
    }
}

TEST(Sound, LoadReportsItsBytesAndOutcome) {
    auto m = movieWithClip();
    Asm code = newSound("s", "");
    code.getVariable("s").push("onLoad").defineFunction("", {"ok"}, Asm().push("onLoad ").getVariable("ok").op(0x47).trace()).setMember();
    code.raw(call("s", "getBytesLoaded").body()).trace();
    code.raw(call("s", "loadSound", {str("missing.mp3"), Asm().pushBool(false)}).pop().body());
    code.raw(call("s", "getBytesLoaded").body()).trace();
    code.raw(call("s", "getBytesTotal").body()).trace();
    EXPECT_EQ(m->run(code), (Lines{"undefined", "0", "undefined"}));
    m->trace.clear();
    for (int i = 0; i < 20 && m->trace.empty(); ++i) m->player->runFrame();
    EXPECT_EQ(m->trace, Lines{"onLoad false"});
}

} // namespace
