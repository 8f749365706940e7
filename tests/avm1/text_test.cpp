// Text fields and TextFormat as scripts see them: the TextFormat setters'
// coercions and rounding, the field properties, formats over character
// ranges, editing and htmlText, in movies written in code.
#include "engine/avm1/script_engine.h"
#include "engine/display/player.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <gtest/gtest.h>

#include <variant>

namespace {

using avm1test::Asm;
using swf::test::SwfWriter;

using Arg = std::variant<std::string, double, bool, std::nullptr_t>;

Asm& pushArg(Asm& a, const Arg& v) {
    if (auto s = std::get_if<std::string>(&v)) return a.push(*s);
    if (auto d = std::get_if<double>(&v)) return a.push(*d);
    if (auto b = std::get_if<bool>(&v)) return a.pushBool(*b);
    return a.pushNull();
}

// Small script steps on named variables.
struct Script {
    Asm a;
    Script& newObject(const std::string& var, const std::string& cls, std::vector<Arg> args = {}) {
        a.push(var);
        for (auto it = args.rbegin(); it != args.rend(); ++it) pushArg(a, *it);
        a.push(int(args.size())).push(cls).op(0x40).setVariable();
        return *this;
    }
    Script& set(const std::string& obj, const std::string& prop, const Arg& v) {
        a.getVariable(obj).push(prop);
        pushArg(a, v);
        a.setMember();
        return *this;
    }
    Script& trace(const std::string& obj, const std::string& prop) {
        a.getVariable(obj).push(prop).getMember().trace();
        return *this;
    }
    // obj.method(args); the result is kept in `var` when given, else dropped.
    Script& call(const std::string& obj, const std::string& method, std::vector<Arg> args,
                 const std::string& var = {}) {
        if (!var.empty()) a.push(var);
        for (auto it = args.rbegin(); it != args.rend(); ++it) pushArg(a, *it);
        a.push(int(args.size())).getVariable(obj).push(method).callMethod();
        if (var.empty()) a.pop();
        else a.setVariable();
        return *this;
    }
    // var = new TextField.StyleSheet()
    Script& styleSheet(const std::string& var) {
        a.push(var).push(0).getVariable("TextField").push("StyleSheet").op(0x53).setVariable();
        return *this;
    }
    // trace(obj.method(arg)[prop])
    Script& traceResultMember(const std::string& obj, const std::string& method, const Arg& arg,
                              const std::string& prop) {
        pushArg(a, arg);
        a.push(1).getVariable(obj).push(method).callMethod().push(prop).getMember().trace();
        return *this;
    }
    // A text field "tf" of 200 x 100 px on the root.
    Script& field() {
        a.push("tf");
        for (int v : {100, 200, 10, 10, 1}) a.push(v);
        a.push("tf").push(6).getVariable("_root").push("createTextField").callMethod().setVariable();
        return *this;
    }
};

// Scripts only: nothing here lays text out with device fonts (the layout tests measure).
std::vector<std::string> run(const Script& s, int version = 8) {
    std::vector<std::string> trace;
    swf::HostCallbacks host;
    host.trace = [&trace](const std::string& line) { trace.push_back(line); };
    swf::Player player(host);
    player.setScriptHostFactory(swf::avm1ScriptHostFactory());
    SwfWriter w(version);
    w.doAction(s.a.bytes()).showFrame();
    EXPECT_TRUE(player.load(w.bytes(), "text.swf").ok());
    player.runFrame();
    return trace;
}

// ---- TextFormat ----------------------------------------------------------------------------

struct Coercion {
    const char* field;
    Arg value;
    const char* expected;
};
class TextFormatSetter : public ::testing::TestWithParam<Coercion> {};
TEST_P(TextFormatSetter, CoercesAndRoundsAsFlash) {
    const Coercion& c = GetParam();
    Script s;
    s.newObject("f", "TextFormat").set("f", c.field, c.value).trace("f", c.field);
    EXPECT_EQ(run(s), std::vector<std::string>{c.expected}) << c.field;
}
INSTANTIATE_TEST_SUITE_P(
    Fields, TextFormatSetter,
    ::testing::Values(
        // Sizes and indents round half to even; anything outside 32 bits is INT_MIN.
        Coercion{"size", 2.5, "2"}, Coercion{"size", 3.5, "4"}, Coercion{"size", -2.5, "-2"},
        Coercion{"size", 4294967295.0, "-2147483648"}, Coercion{"indent", -3.5, "-4"},
        Coercion{"leading", 1e300, "-2147483648"},
        // Margins are never negative.
        Coercion{"leftMargin", -3.0, "0"}, Coercion{"rightMargin", 3.5, "4"},
        // Colours are 32-bit unsigned, cut toward zero.
        Coercion{"color", -2.5, "4294967294"}, Coercion{"color", 3.5, "3"},
        Coercion{"bold", std::string("test"), "true"}, Coercion{"underline", 0.0, "false"},
        Coercion{"font", 5.0, "5"}, Coercion{"url", nullptr, "null"},
        Coercion{"letterSpacing", 2.5, "2.5"},
        // Unknown alignments leave the field as it was.
        Coercion{"align", std::string("CENTER"), "center"}, Coercion{"align", std::string("middle"), "null"}));

TEST(TextFormat, NewFormatsHaveNullFieldsAndTheConstructorTruncates) {
    Script s;
    s.newObject("f", "TextFormat").trace("f", "size").trace("f", "bold").trace("f", "tabStops");
    s.newObject("g", "TextFormat", {std::string("Arial"), 12.9, -1.0, true, false, true, std::string("u"),
                                    std::string("t"), std::string("right"), -10.9, 3.0, 4.0, 5.0});
    for (const char* f : {"font", "size", "color", "align", "leftMargin", "indent", "leading", "url", "target"})
        s.trace("g", f);
    EXPECT_EQ(run(s), (std::vector<std::string>{"null", "null", "null", "Arial", "12", "4294967295", "right", "-10",
                                                "4", "5", "u", "t"}));
}

TEST(TextFormat, TabStopsCopyTheArrayRounded) {
    Script s;
    s.newObject("f", "TextFormat");
    s.a.getVariable("f").push("tabStops").push(2.5).push(1.5).push(2).op(0x42).setMember();
    s.trace("f", "tabStops");
    EXPECT_EQ(run(s), std::vector<std::string>{"2,2"});
}

// ---- TextField -------------------------------------------------------------------------------

// A reference to a removed field stands for whatever lives at its path
// later; with nothing there it reads nothing and is a clip reference.
TEST(TextField, ReferencesFollowThePathAfterRemoval) {
    Script s;
    s.field();
    s.a.push("b").getVariable("tf").setVariable();
    s.set("tf", "v", 1.0);
    auto typeOfB = [&] { s.a.push("typeof ").getVariable("b").op(0x44).op(0x47).trace(); };
    s.call("tf", "removeTextField", {});
    typeOfB();
    s.trace("b", "v");
    s.call("_root", "createEmptyMovieClip", {std::string("tf"), 2.0});
    typeOfB();
    s.set("tf", "w", 2.0).trace("b", "w");
    s.call("tf", "removeMovieClip", {});
    s.field();
    typeOfB();
    s.trace("b", "_name");
    EXPECT_EQ(run(s), (std::vector<std::string>{"typeof movieclip", "undefined", "typeof movieclip", "2",
                                                "typeof object", "tf"}));
}

TEST(TextField, PlainTextPropertiesAndLength) {
    Script s;
    s.field().set("tf", "text", std::string("Hello\nWorld")).trace("tf", "text").trace("tf", "length");
    s.trace("tf", "type").set("tf", "type", std::string("INPUT")).trace("tf", "type");
    s.set("tf", "type", std::string("bogus")).trace("tf", "type");
    s.set("tf", "borderColor", -1.0).trace("tf", "borderColor");
    s.trace("tf", "variable").trace("tf", "maxChars").trace("tf", "restrict");
    // The field keeps "\r" for newlines, and trace passes the text on as it is.
    EXPECT_EQ(run(s), (std::vector<std::string>{"Hello\rWorld", "11", "dynamic", "input", "input", "16777215",
                                                "null", "null", "null"}));
}

TEST(TextField, HtmlTextIsGeneratedOnlyForHtmlFields) {
    Script s;
    s.field().set("tf", "htmlText", std::string("<b>x</b>")).trace("tf", "text");
    s.set("tf", "html", true).set("tf", "htmlText", std::string("<p align='center'><b>bold</b> &amp; plain</p>"));
    s.trace("tf", "text").trace("tf", "htmlText");
    auto out = run(s);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], "<b>x</b>");
    EXPECT_EQ(out[1], "bold & plain");
    EXPECT_EQ(out[2], "<P ALIGN=\"CENTER\"><FONT FACE=\"\" SIZE=\"12\" COLOR=\"#000000\" LETTERSPACING=\"0\" "
                      "KERNING=\"0\"><B>bold</B></FONT><FONT FACE=\"\" SIZE=\"12\" COLOR=\"#000000\" "
                      "LETTERSPACING=\"0\" KERNING=\"0\"> &amp; plain</FONT></P>");
}

TEST(TextField, FormatsApplyToRangesAndDisagreeingFieldsReadNull) {
    Script s;
    s.field().set("tf", "text", std::string("abcdef"));
    s.newObject("f", "TextFormat").set("f", "bold", true).set("f", "size", 20.0);
    // tf.setTextFormat(2, 4, f)
    s.a.getVariable("f").push(4).push(2).push(3).getVariable("tf").push("setTextFormat").callMethod().pop();
    s.call("tf", "getTextFormat", {2.0, 4.0}, "r").trace("r", "bold").trace("r", "size");
    s.call("tf", "getTextFormat", {}, "r").trace("r", "bold").trace("r", "size").trace("r", "font");
    s.call("tf", "getTextFormat", {0.0}, "r").trace("r", "bold");
    EXPECT_EQ(run(s), (std::vector<std::string>{"true", "20", "null", "null", "", "false"}));
}

TEST(TextField, NewTextFormatAndTextColor) {
    Script s;
    s.field().set("tf", "textColor", 0x404040 * 1.0);
    s.call("tf", "getNewTextFormat", {}, "r").trace("r", "color");
    s.newObject("f", "TextFormat").set("f", "color", 255.0);
    s.a.getVariable("f").push(1).getVariable("tf").push("setNewTextFormat").callMethod().pop();
    s.trace("tf", "textColor").set("tf", "text", std::string("x"));
    s.call("tf", "getTextFormat", {0.0}, "r").trace("r", "color");
    EXPECT_EQ(run(s), (std::vector<std::string>{"4210752", "255", "255"}));
}

TEST(TextField, ReplaceTextAndReplaceSel) {
    Script s;
    s.field().set("tf", "text", std::string("Hello World"));
    s.call("tf", "replaceText", {6.0, 11.0, std::string("there")}).trace("tf", "text");
    s.call("tf", "replaceText", {20.0, 3.0, std::string("x")}).trace("tf", "text"); // a reversed range is refused
    s.call("tf", "replaceSel", {std::string(">")}).trace("tf", "text");
    EXPECT_EQ(run(s), (std::vector<std::string>{"Hello there", "Hello there", ">Hello there"}));
}

TEST(TextField, FieldsAreTheirOwnFirstListener) {
    Script s;
    s.field();
    s.a.getVariable("tf").push("_listeners").getMember().push("length").getMember().trace();
    s.a.getVariable("tf").push("_listeners").getMember().push(0).getMember().trace();
    EXPECT_EQ(run(s), (std::vector<std::string>{"1", "_level0.tf"}));
}

// ---- TextField.StyleSheet ---------------------------------------------------------------------

struct CssCase {
    const char* css;
    const char* parsed;   // what parseCSS answers
    const char* selector;
    const char* property; // after the dash-to-capital renaming
    const char* value;    // "undefined" when the rule was not stored
};
class StyleSheetParse : public ::testing::TestWithParam<CssCase> {};
TEST_P(StyleSheetParse, ReadsCssAsFlashDoes) {
    const CssCase& c = GetParam();
    Script s;
    s.styleSheet("ss").call("ss", "parseCSS", {std::string(c.css)}, "ok");
    s.a.getVariable("ok").trace();
    s.traceResultMember("ss", "getStyle", std::string(c.selector), c.property);
    EXPECT_EQ(run(s), (std::vector<std::string>{c.parsed, c.value})) << c.css;
}
INSTANTIATE_TEST_SUITE_P(
    Css, StyleSheetParse,
    ::testing::Values(
        // Values keep their trailing spaces; names keep the spaces before the colon.
        CssCase{"a, b { kerning: 5 }", "true", "b", "kerning", "5 "},
        CssCase{"key {  property  :   test  value  }", "true", "key", "property  ", "test  value  "},
        CssCase{"x{font-size: 12;this--one: v}", "true", "x", "fontSize", "12"},
        CssCase{"x{font-size: 12;this--one: v}", "true", "x", "this-one", "v"},
        // A name runs to its colon, whatever it holds.
        CssCase{"a{name}b{:value}", "true", "a", "name}b{", "value"},
        CssCase{"e{key;other: value;}", "true", "e", "key;other", "value"},
        // A block left open after a complete property is closed by the end of the text.
        CssCase{"a{key:;", "true", "a", "key", ""},
        CssCase{"KeY{color: red}", "true", "key", "color", "undefined"},
        // Malformed texts store nothing.
        CssCase{"a{key:value", "false", "a", "key", "undefined"},
        CssCase{"d{key: value;;}", "false", "d", "key", "undefined"},
        CssCase{"long key { kerning: 5 }", "false", "long", "kerning", "undefined"},
        CssCase{"one { color: blue; }; this is not css", "false", "one", "color", "undefined"},
        CssCase{"key {property with space: value; }", "false", "key", "property", "undefined"},
        CssCase{"name", "false", "name", "x", "undefined"}));

TEST(StyleSheet, SetStyleCopiesTheStyleAndTransformMakesATextFormat) {
    Script s;
    s.styleSheet("ss").newObject("st", "Object").set("st", "color", std::string("#FF0000"));
    s.call("ss", "setStyle", {std::string("Red"), std::string("unused")});
    s.a.getVariable("st").push("Red").push(2).getVariable("ss").push("setStyle").callMethod().pop();
    s.set("st", "color", std::string("#0000FF")); // the sheet keeps its own copy
    s.traceResultMember("ss", "getStyle", std::string("Red"), "color");
    s.traceResultMember("ss", "getStyle", std::string("red"), "color"); // names are case sensitive
    s.a.getVariable("ss").push("_styles").getMember().push("Red").getMember().push("color").getMember().trace();
    s.call("ss", "getStyleNames", {}, "names").trace("names", "length");
    s.call("ss", "clear", {}).call("ss", "getStyleNames", {}, "names").trace("names", "length");
    EXPECT_EQ(run(s), (std::vector<std::string>{"#FF0000", "undefined", "16711680", "1", "0"}));
}

struct TransformCase {
    const char* property;
    Arg value;
    const char* field;
    const char* expected;
};
class StyleSheetTransform : public ::testing::TestWithParam<TransformCase> {};
TEST_P(StyleSheetTransform, TurnsCssValuesIntoFormatFields) {
    const TransformCase& c = GetParam();
    Script s;
    s.styleSheet("ss").newObject("st", "Object").set("st", c.property, c.value);
    s.a.getVariable("st").push(1).getVariable("ss").push("transform").callMethod().push(c.field).getMember().trace();
    EXPECT_EQ(run(s), std::vector<std::string>{c.expected}) << c.property;
}
INSTANTIATE_TEST_SUITE_P(
    Values, StyleSheetTransform,
    ::testing::Values(
        TransformCase{"fontSize", std::string("42px"), "size", "42"},
        TransformCase{"fontSize", 0.9, "size", "null"}, TransformCase{"fontSize", -5.0, "size", "null"},
        TransformCase{"color", std::string("#faFAfa"), "color", "16448250"},
        TransformCase{"color", std::string("#456"), "color", "null"},
        TransformCase{"color", std::string(" #faFAfa"), "color", "null"},
        TransformCase{"leading", std::string("x"), "leading", "0"},
        TransformCase{"leading", -1.9, "leading", "-1"}, TransformCase{"leading", 0.0, "leading", "null"},
        TransformCase{"letterSpacing", std::string("x"), "letterSpacing", "NaN"},
        TransformCase{"marginLeft", std::string(" -10 "), "leftMargin", "0"},
        TransformCase{"marginRight", std::string("10 suffix"), "rightMargin", "10"},
        TransformCase{"textAlign", std::string("CenTeR"), "align", "center"},
        TransformCase{"textAlign", std::string(" center"), "align", "null"},
        TransformCase{"kerning", std::string("true"), "kerning", "true"},
        TransformCase{"kerning", true, "kerning", "false"}, TransformCase{"kerning", -1.5, "kerning", "true"},
        TransformCase{"fontFamily", std::string("  A  ,  B ,, C "), "font", "A  ,B ,C "},
        TransformCase{"fontFamily", 0.0, "font", "null"},
        TransformCase{"fontStyle", std::string("italic"), "italic", "true"},
        TransformCase{"fontWeight", std::string("Bold"), "bold", "null"},
        TransformCase{"textDecoration", std::string("underline"), "underline", "true"},
        TransformCase{"display", std::string("inline"), "display", "inline"},
        TransformCase{"display", std::string("Inline"), "display", "block"}));

TEST(StyleSheet, LoadedTextGoesThroughParseAndOnLoad) {
    Script s;
    s.styleSheet("ss");
    Asm onLoad;
    onLoad.getVariable("ok").trace();
    s.a.getVariable("ss").push("onLoad").defineFunction("", {"ok"}, onLoad).setMember();
    s.call("ss", "onData", {std::string("a { color: red }")}).call("ss", "onData", {});
    s.call("ss", "onData", {std::string("not css")});
    s.traceResultMember("ss", "getStyle", std::string("a"), "color");
    EXPECT_EQ(run(s), (std::vector<std::string>{"true", "false", "false", "red "}));
}

TEST(StyleSheet, FieldsFormatTheirHtmlWithTheSheet) {
    Script s;
    s.field().set("tf", "html", true).styleSheet("ss");
    s.call("ss", "parseCSS", {std::string("p { font-weight: bold; } .big { font-size: 30px }")});
    s.set("tf", "styleSheet", std::string("ignored"));
    s.a.getVariable("tf").push("styleSheet").getVariable("ss").setMember();
    const std::string html = "<p>a<span class='BIG'>b</span></p>";
    s.set("tf", "htmlText", html).trace("tf", "htmlText");
    s.call("tf", "getTextFormat", {0.0}, "r").trace("r", "bold").trace("r", "size");
    s.call("tf", "getTextFormat", {1.0}, "r").trace("r", "bold").trace("r", "size");
    // Text set otherwise reads back as generated HTML.
    s.set("tf", "text", std::string("x"));
    s.a.getVariable("tf").push("htmlText").getMember().push(html).op(0x49).trace();
    s.set("tf", "htmlText", html);
    // Without the sheet the same HTML is plain again.
    s.set("tf", "styleSheet", nullptr).set("tf", "htmlText", html);
    s.call("tf", "getTextFormat", {1.0}, "r").trace("r", "bold").trace("r", "size");
    EXPECT_EQ(run(s), (std::vector<std::string>{html, "true", "12", "true", "30", "false", "false", "12"}));
}

} // namespace
