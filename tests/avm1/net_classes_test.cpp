// The rules of the network and style classes that need no load to show:
// LoadVars.decode, MovieClipLoader's broadcaster and getProgress,
// LocalConnection, PrintJob's page properties and the StyleSheet parsers,
// checked through what scripts trace.
#include "tests/avm1/gfx_script.h"

#include <functional>

namespace {

using namespace gfxtest;

// name = new <cls>(args), cls a global class
Asm& makeGlobal(Asm& a, const std::string& name, const std::string& cls, const std::vector<Arg>& args = {}) {
    a.push(name);
    pushArgs(a, args);
    return a.push(cls).op(0x40).setVariable();
}

// name = new TextField.StyleSheet()
Asm& makeStyleSheet(Asm& a, const std::string& name) {
    a.push(name).push(0).getVariable("TextField").push("StyleSheet").op(0x53);
    return a.setVariable();
}

struct NetCase {
    const char* name;
    int version;
    std::function<void(Asm&)> script;
    std::vector<std::string> expected;
};

class NetClassScript : public ::testing::TestWithParam<NetCase> {};

TEST_P(NetClassScript, TracesWhatFlashPrints) {
    Asm a;
    GetParam().script(a);
    EXPECT_EQ(runScript(a, GetParam().version)->trace, GetParam().expected);
}

const NetCase kCases[] = {
    // decode answers false only when given nothing.
    {"DecodeWithoutArgumentIsFalse", 8,
     [](Asm& a) {
         makeGlobal(a, "l", "LoadVars");
         call(a, "l", "decode").trace();
         call(a, "l", "decode", {std::string("a=b&c")}).trace();
         traceMember(a, "l", "a");
         traceMember(a, "l", "c");
     },
     {"false", "undefined", "b", ""}},
    // getProgress: a bare object for a movie's root, 0 bytes for a clip that
    // is no movie's root, undefined for no target or a foreign `this`.
    {"GetProgressByTarget", 8,
     [](Asm& a) {
         makeGlobal(a, "m", "MovieClipLoader");
         createClip(a, "c", 1);
         assign(a, "p", "m", "getProgress", {Var{"_root"}});
         traceVar(a, "p");
         a.getVariable("p").push("bytesTotal").getMember().push(0).op(0x67).trace(); // p.bytesTotal > 0
         assign(a, "p", "m", "getProgress", {Var{"c"}});
         traceMember(a, "p", "bytesLoaded");
         call(a, "m", "getProgress", {Var{"nothing"}}).trace();
         makeGlobal(a, "o", "Object");
         a.getVariable("o").push("getProgress").getVariable("m").push("getProgress").getMember().setMember();
         call(a, "o", "getProgress", {Var{"_root"}}).trace();
     },
     {"[type Object]", "true", "0", "undefined", "undefined"}},
    // The loader is its own first listener; the broadcaster methods are shared.
    {"LoaderListensToItself", 8,
     [](Asm& a) {
         makeGlobal(a, "m", "MovieClipLoader");
         a.getVariable("m").push("_listeners").getMember().push(0).getMember().getVariable("m").op(0x66).trace();
         a.push("addListener").push(1).getVariable("m").push("hasOwnProperty").callMethod().trace();
     },
     {"true", "false"}},
    {"LocalConnectionAlone", 8,
     [](Asm& a) {
         makeGlobal(a, "lc", "LocalConnection");
         call(a, "lc", "connect", {std::string("channel")}).trace();
         call(a, "lc", "connect").trace();
         call(a, "lc", "send", {std::string("channel"), std::string("method"), 1.0}).trace();
         call(a, "lc", "send", {std::string("channel")}).trace();
         call(a, "lc", "domain").trace();
     },
     {"true", "false", "true", "false", "localhost"}},
    // The page properties reach whatever PrintJob.prototype is when the first
    // job is made.
    {"PrintJobPropertiesComeWithTheFirstJob", 8,
     [](Asm& a) {
         auto traceOwn = [&a] {
             a.push("orientation").push(1).getVariable("PrintJob").push("prototype").getMember();
             a.push("hasOwnProperty").callMethod().trace();
         };
         traceOwn();
         makeGlobal(a, "j", "PrintJob");
         traceOwn();
         traceMember(a, "j", "pageWidth");
     },
     {"false", "true", "0"}},
    {"ParseColorTakesOnlySixHexDigits", 8,
     [](Asm& a) {
         makeStyleSheet(a, "s");
         for (const char* text : {"#FF0000", "#abcabc", "#FFF", "#FFXXFF", " #FF00FF", "xFF00FF", "white"})
             call(a, "s", "parseColor", {std::string(text)}).trace();
         call(a, "s", "parseColor").trace();
     },
     {"16711680", "11258556", "null", "null", "null", "null", "null", "null"}},
    {"ParseFontFamilyNamesTheDeviceFonts", 8,
     [](Asm& a) {
         makeStyleSheet(a, "s");
         for (const char* text : {"mono", "SANS-SERIF", "serif", "serif ", "Arial"})
             call(a, "s", "parseCSSFontFamily", {std::string(text)}).trace();
         call(a, "s", "parseCSSFontFamily", {1.0}).op(0x44).trace(); // typeof: given back as it was
     },
     {"_typewriter", "_sans", "_serif", "serif ", "Arial", "number"}},
};

INSTANTIATE_TEST_SUITE_P(Net, NetClassScript, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
