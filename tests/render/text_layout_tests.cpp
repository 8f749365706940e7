// Edit text layout: line breaking, alignment, margins, the HTML subset,
// autoSize, and the commands it produces, with an embedded font of square
// glyphs whose metrics are known exactly.
#include "tests/render/render_test_support.h"

#include "engine/render/text_layout.h"

#include <gtest/gtest.h>

using namespace swf;
using namespace swf::render;
using namespace swf::render::test;

namespace {

// Font of square glyphs: every glyph is a 1024-unit square standing on the
// baseline, advance 1024, ascent 800, descent 224 (EM 1024).
std::shared_ptr<FontDef> squareFont() {
    auto f = std::make_shared<FontDef>();
    f->name = "Squares";
    f->emSquare = 1024;
    f->hasLayout = true;
    f->ascent = 800;
    f->descent = 224;
    for (char16_t c : std::u16string(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz*<>&")) {
        Glyph g;
        g.code = c;
        g.advance = 1024;
        ShapeLayer layer;
        layer.fillStyles.push_back(solid(Rgba{0, 0, 0, 255}));
        layer.fills.push_back({0, rectEdges(0, -1024, 1024, 0)});
        g.shape.layers.push_back(layer);
        g.shape.bounds = Rect{0, 1024, -1024, 0};
        f->glyphs.push_back(g);
    }
    return f;
}

FontResolver resolverFor(std::shared_ptr<FontDef> font) {
    return {[font](uint16_t id) { return id == 1 ? font : nullptr; },
            [font](const std::string& name, bool, bool) { return name == font->name ? font : nullptr; }};
}

// A field 100 x 60 px using the square font at 10 px.
EditTextState field(const QString& text, TextAlign align = TextAlign::Left) {
    EditTextState s;
    s.useOutlines = true;
    s.multiline = true;
    s.bounds = Rect{0, 2000, 0, 1200};
    s.format.font = "Squares";
    s.format.embedded = squareFont();
    s.format.size = 200;
    s.format.align = align;
    s.runs = plainRuns(text, s.format);
    return s;
}

// Gives every run of a field one change of format.
template <class F> void reformat(EditTextState& s, F change) {
    change(s.format);
    for (TextRun& r : s.runs) change(r.format);
}

std::vector<const DrawGlyphs*> glyphRuns(const TextLayout& l) {
    std::vector<const DrawGlyphs*> out;
    for (const auto& c : l.commands)
        if (auto* g = std::get_if<DrawGlyphs>(&c)) out.push_back(g);
    return out;
}

TEST(TextLayout, FirstBaselineIsGutterPlusAscent) {
    auto font = squareFont();
    TextLayout l = layoutEditText(field(QStringLiteral("AB")), pixels(), {});
    ASSERT_EQ(l.lines.size(), 1u);
    auto runs = glyphRuns(l);
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0]->glyphs.size(), 2u);
    EXPECT_DOUBLE_EQ(runs[0]->glyphs[0].second.x, 40);
    EXPECT_DOUBLE_EQ(runs[0]->glyphs[0].second.y, 40 + 200 * 800.0 / 1024);
    EXPECT_DOUBLE_EQ(runs[0]->glyphs[1].second.x, 240);
    EXPECT_DOUBLE_EQ(l.textWidth, 400);
    EXPECT_DOUBLE_EQ(l.textHeight, 200);
}

struct AlignCase {
    TextAlign align;
    double firstX; // twips
};
class Alignment : public ::testing::TestWithParam<AlignCase> {};
TEST_P(Alignment, PlacesTheLineInsideTheGutters) {
    TextLayout l = layoutEditText(field(QStringLiteral("ABC"), GetParam().align), pixels(), {});
    auto runs = glyphRuns(l);
    ASSERT_FALSE(runs.empty());
    EXPECT_DOUBLE_EQ(runs[0]->glyphs[0].second.x, GetParam().firstX);
}
// The line is 600 twips wide in a 2000 twips field with 40 twips gutters.
INSTANTIATE_TEST_SUITE_P(Modes, Alignment,
                         ::testing::Values(AlignCase{TextAlign::Left, 40}, AlignCase{TextAlign::Right, 1360},
                                           AlignCase{TextAlign::Center, 700}));

TEST(TextLayout, MarginsAndIndentMoveTheText) {
    EditTextState s = field(QStringLiteral("AB\nCD"));
    reformat(s, [](TextFormat& f) { f.leftMargin = 100; f.indent = 60; });
    TextLayout l = layoutEditText(s, pixels(), {});
    ASSERT_EQ(l.lines.size(), 2u);
    EXPECT_DOUBLE_EQ(l.lines[0].x, 200); // gutter + margin + indent (first line of a paragraph)
    EXPECT_DOUBLE_EQ(l.lines[1].x, 200); // the second paragraph is indented too
    reformat(s, [](TextFormat& f) { f.rightMargin = 100; f.align = TextAlign::Right; });
    l = layoutEditText(s, pixels(), {});
    EXPECT_DOUBLE_EQ(l.lines[0].x, 2000 - 40 - 100 - 400);
}

TEST(TextLayout, ANegativeIndentStopsAtTheLeftGutter) {
    EditTextState s = field(QStringLiteral("AB"));
    reformat(s, [](TextFormat& f) { f.leftMargin = 160; f.indent = -80; });
    EXPECT_DOUBLE_EQ(layoutEditText(s, pixels(), {}).lines[0].x, 120);
    reformat(s, [](TextFormat& f) { f.indent = -32768; });
    EXPECT_DOUBLE_EQ(layoutEditText(s, pixels(), {}).lines[0].x, 40);
}

TEST(TextLayout, WordWrapBreaksAtSpaces) {
    // Each word is 600 twips; the field holds 1920 twips of text.
    EditTextState s = field(QStringLiteral("AAA BBB CCC DDD"));
    s.wordWrap = true;
    TextLayout l = layoutEditText(s, pixels(), {});
    ASSERT_EQ(l.lines.size(), 2u);
    EXPECT_EQ(l.chars.mid(l.lines[0].firstChar, l.lines[0].charCount), QStringLiteral("AAA BBB "));
    EXPECT_DOUBLE_EQ(l.lines[0].width, 1400); // the trailing space does not count
    EXPECT_EQ(l.chars.mid(l.lines[1].firstChar, l.lines[1].charCount), QStringLiteral("CCC DDD"));
    s.wordWrap = false;
    EXPECT_EQ(layoutEditText(s, pixels(), {}).lines.size(), 1u);
}

TEST(TextLayout, ASpaceMayHangPastTheEdge) {
    // "AAAA AAAA" is 1800 twips and fits in 1920; its space would end at 2000.
    EditTextState s = field(QStringLiteral("AAAA AAAA BB"));
    s.wordWrap = true;
    TextLayout l = layoutEditText(s, pixels(), {});
    ASSERT_EQ(l.lines.size(), 2u);
    EXPECT_EQ(l.chars.mid(l.lines[0].firstChar, l.lines[0].charCount), QStringLiteral("AAAA AAAA "));
    EXPECT_DOUBLE_EQ(l.lines[0].width, 1800);
    EXPECT_EQ(l.chars.mid(l.lines[1].firstChar, l.lines[1].charCount), QStringLiteral("BB"));
}

struct CaretCase {
    double x, y; // pixels from the field's corner
    int scroll;
    int expected;
};
class CaretPlacement : public ::testing::TestWithParam<CaretCase> {};
TEST_P(CaretPlacement, PicksTheLineAndTheNearerCharacterEdge) {
    // Lines "AAA BBB " / "CCC" of 10 px squares from x 2, 12 px apart (ascent 7.8 + descent 2.2 + leading 2).
    EditTextState s = field(QStringLiteral("AAA BBB CCC"));
    s.bounds = Rect{0, 1600, 0, 1200};
    s.wordWrap = true;
    reformat(s, [](TextFormat& f) { f.leading = 40; });
    TextLayout l = layoutEditText(s, pixels(), {});
    ASSERT_EQ(l.lines.size(), 2u);
    const CaretCase& c = GetParam();
    EXPECT_EQ(caretIndexAt(l, c.x * 20, c.y * 20, c.scroll, 0), c.expected) << c.x << "," << c.y;
}
INSTANTIATE_TEST_SUITE_P(
    Points, CaretPlacement,
    ::testing::Values(CaretCase{0, 5, 1, 0}, CaretCase{6.9, 5, 1, 0}, CaretCase{7.1, 5, 1, 1},
                      CaretCase{33, 5, 1, 3}, CaretCase{200, 5, 1, 7}, // a wrapped line ends before its space
                      CaretCase{13, 15, 1, 9}, CaretCase{13, 90, 1, 9}, CaretCase{200, 15, 1, 11},
                      CaretCase{13, -20, 1, 1},
                      CaretCase{13, 5, 2, 9})); // scrolled: the top line is the second

TEST(TextLayout, LongWordsBreakInsideTheWord) {
    EditTextState s = field(QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
    s.wordWrap = true;
    TextLayout l = layoutEditText(s, pixels(), {});
    ASSERT_EQ(l.lines.size(), 3u);
    EXPECT_EQ(l.lines[0].charCount, 9); // 9 x 200 fits in 1920
}

TEST(TextLayout, NewlinesAndLeadingStackLines) {
    EditTextState s = field(QStringLiteral("A\rB\nC\n"));
    reformat(s, [](TextFormat& f) { f.leading = 40; });
    TextLayout l = layoutEditText(s, pixels(), {});
    ASSERT_EQ(l.lines.size(), 4u); // the final newline opens an empty line
    EXPECT_DOUBLE_EQ(l.lines[1].top - l.lines[0].top, 240);
    EXPECT_DOUBLE_EQ(l.textHeight, 4 * 240 - 40);
}

TEST(TextLayout, AutoSizeFitsTheBoxAroundTheText) {
    EditTextState s = field(QStringLiteral("ABC"));
    s.autoSize = AutoSize::Left;
    TextLayout l = layoutEditText(s, pixels(), {});
    EXPECT_EQ(l.bounds, (Rect{0, 680, 0, 280}));
    s.autoSize = AutoSize::Right;
    l = layoutEditText(s, pixels(), {});
    EXPECT_EQ(l.bounds, (Rect{2000 - 680, 2000, 0, 280}));
    EXPECT_DOUBLE_EQ(glyphRuns(l)[0]->glyphs[0].second.x, 2000 - 680 + 40);
}

TEST(TextLayout, PasswordFieldsShowStars) {
    EditTextState s = field(QStringLiteral("abc"));
    s.password = true;
    EXPECT_EQ(layoutEditText(s, pixels(), {}).chars, QStringLiteral("***"));
}

TEST(Html, FormatsNestAndParagraphsBreak) {
    auto font = squareFont();
    TextFormat base;
    base.size = 200;
    auto runs = parseHtml(QStringLiteral("<p align=\"right\"><font color='#ff0000' size='20'>Hi</font> <b>x</b></p>"
                                         "<p>y<br>z</p>"),
                          base, resolverFor(font), false);
    QString all;
    for (const auto& r : runs) all += r.text;
    EXPECT_EQ(all, QStringLiteral("Hi x\ry\rz"));
    ASSERT_GE(runs.size(), 3u);
    EXPECT_EQ(runs[0].text, QStringLiteral("Hi"));
    EXPECT_EQ(runs[0].format.color, (Rgba{255, 0, 0, 255}));
    EXPECT_DOUBLE_EQ(runs[0].format.size, 400);
    EXPECT_EQ(runs[0].format.align, TextAlign::Right);
    EXPECT_DOUBLE_EQ(runs[1].format.size, 200); // </font> restores the size
    EXPECT_TRUE(runs[2].format.bold);
    EXPECT_EQ(runs.back().format.align, TextAlign::Left);
}

TEST(Html, EntitiesLinksAndTextFormat) {
    TextFormat base;
    auto runs = parseHtml(QStringLiteral("&lt;b&gt; &amp; &#65;<a href='http://x.org/'><u>go</u></a>"
                                         "<textformat leftmargin='5' indent='3'>t</textformat><i"),
                          base, {}, false);
    ASSERT_GE(runs.size(), 3u);
    EXPECT_EQ(runs[0].text, QStringLiteral("<b> & A"));
    EXPECT_EQ(runs[1].text, QStringLiteral("go"));
    EXPECT_EQ(runs[1].format.url, "http://x.org/");
    EXPECT_TRUE(runs[1].format.underline);
    EXPECT_DOUBLE_EQ(runs[2].format.leftMargin, 100);
    EXPECT_DOUBLE_EQ(runs[2].format.indent, 60);
    EXPECT_EQ(runs.back().text, QStringLiteral("<i")); // an unclosed tag stays text
}

TEST(Html, FontFaceSelectsTheEmbeddedFont) {
    auto font = squareFont();
    TextFormat base;
    auto runs = parseHtml(QStringLiteral("a<font face='Squares'>b</font>"), base, resolverFor(font), true);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].format.embedded, nullptr);
    EXPECT_EQ(runs[1].format.embedded, font);
}

TEST(TextLayout, DrawsEmbeddedGlyphsWhereLaidOut) {
    TextLayout l = layoutEditText(field(QStringLiteral("A B")), pixels(), {});
    QImage img = renderList(CommandList{Rgba{255, 255, 255, 255}, l.commands}, 100, 60);
    // "A" covers x 2..12 px, the space 12..22, "B" 22..32; the baseline is at 2 + 7.8 px.
    EXPECT_COLOR_NEAR(at(img, 7, 6), (Rgba{0, 0, 0, 255}), 0);
    EXPECT_COLOR_NEAR(at(img, 17, 6), (Rgba{255, 255, 255, 255}), 0);
    EXPECT_COLOR_NEAR(at(img, 27, 6), (Rgba{0, 0, 0, 255}), 0);
    EXPECT_COLOR_NEAR(at(img, 7, 12), (Rgba{255, 255, 255, 255}), 0);
}

TEST(TextLayout, OverflowingTextIsClippedToTheField) {
    EditTextState s = field(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    s.border = true;
    TextLayout l = layoutEditText(s, pixels(), {});
    QImage img = renderList(CommandList{Rgba{255, 255, 255, 255}, l.commands}, 140, 60);
    EXPECT_COLOR_NEAR(at(img, 95, 6), (Rgba{0, 0, 0, 255}), 0);
    EXPECT_COLOR_NEAR(at(img, 99, 6), (Rgba{255, 255, 255, 255}), 0);  // in the right gutter
    EXPECT_COLOR_NEAR(at(img, 120, 6), (Rgba{255, 255, 255, 255}), 0); // past the right edge
    EXPECT_COLOR_NEAR(at(img, 0, 30), (Rgba{0, 0, 0, 255}), 0);         // the border
}

TEST(TextLayout, TheClipReachesAGutterBelowTheBox) {
    // An 8 px high box: the first line's squares stand on a baseline at 9.8 px.
    EditTextState s = field(QStringLiteral("AB"));
    s.bounds = Rect{0, 2000, 0, 160};
    TextLayout l = layoutEditText(s, pixels(), {});
    QImage img = renderList(CommandList{Rgba{255, 255, 255, 255}, l.commands}, 140, 30);
    EXPECT_COLOR_NEAR(at(img, 5, 8), (Rgba{0, 0, 0, 255}), 0);
    EXPECT_COLOR_NEAR(at(img, 1, 5), (Rgba{255, 255, 255, 255}), 0); // the left gutter
}

TEST(TextLayout, DeviceTextDrawsInsideTheField) {
    ensureApp();
    EditTextState s = field(QStringLiteral("Hello"));
    s.useOutlines = false;
    reformat(s, [](TextFormat& f) { f.embedded = nullptr; f.font = "_sans"; f.size = 400; });
    TextLayout l = layoutEditText(s, pixels(), {});
    ASSERT_EQ(l.lines.size(), 1u);
    EXPECT_GT(l.textWidth, 400);
    EXPECT_LT(l.textWidth, 2000);
    bool device = false;
    for (const auto& c : l.commands) device |= std::holds_alternative<DrawDeviceText>(c);
    EXPECT_TRUE(device);
    QImage img = renderList(CommandList{Rgba{255, 255, 255, 255}, l.commands}, 100, 60);
    int dark = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x) {
            if (at(img, x, y).r >= 128) continue;
            ++dark;
            EXPECT_GE(x, 2);
            EXPECT_LE(x, 2 + l.textWidth / 20 + 1);
            EXPECT_LE(y, 2 + l.textHeight / 20 + 1);
        }
    EXPECT_GT(dark, 20);
}

} // namespace

namespace {

TEST(TextLayout, JustifiedWrappedLinesSpreadOverTheirSpaces) {
    EditTextState s = field(QStringLiteral("AAA BBB CCC DDD"), TextAlign::Justify);
    s.wordWrap = true;
    TextLayout l = layoutEditText(s, pixels(), {});
    ASSERT_EQ(l.lines.size(), 2u);
    EXPECT_TRUE(l.lines[0].wrapped);
    // "AAA BBB" is 1400 twips in 1920: one inner space takes the 520 left over.
    EXPECT_DOUBLE_EQ(l.lines[0].spaceExtra, 520);
    EXPECT_FALSE(l.lines[1].wrapped); // the paragraph's last line stays as it is
    EXPECT_DOUBLE_EQ(l.lines[1].spaceExtra, 0);
    auto runs = glyphRuns(l);
    ASSERT_FALSE(runs.empty());
    EXPECT_DOUBLE_EQ(runs[0]->glyphs[3].second.x, 40 + 800 + 520); // "B" after the widened space
}

TEST(TextLayout, LinesThatDoNotFitWholeAreNotDrawn) {
    EditTextState s = field(QStringLiteral("A\nB\nC\nD\nE\nF"));
    s.bounds = Rect{0, 2000, 0, 500}; // 25 px: the first line (10 px) and the second fit, not a third
    TextLayout l = layoutEditText(s, pixels(), {});
    ASSERT_EQ(l.lines.size(), 6u);
    size_t glyphs = 0;
    for (const DrawGlyphs* g : glyphRuns(l)) glyphs += g->glyphs.size();
    EXPECT_EQ(glyphs, 2u);
}

struct ScrollCase {
    int lines;
    int scroll;
    int maxScroll, bottomScroll;
};
class ScrollFigures : public ::testing::TestWithParam<ScrollCase> {};
TEST_P(ScrollFigures, FollowTheLinesThatFit) {
    // 60 px high: 56 px inside the gutters hold five 10 px lines.
    QString text;
    for (int i = 0; i < GetParam().lines; ++i) text += i ? QStringLiteral("\nA") : QStringLiteral("A");
    EditTextState s = field(text);
    s.scroll = GetParam().scroll;
    TextLayout l = layoutEditText(s, pixels(), {});
    EXPECT_EQ(l.maxScroll, GetParam().maxScroll);
    EXPECT_EQ(l.bottomScroll, GetParam().bottomScroll);
}
INSTANTIATE_TEST_SUITE_P(Cases, ScrollFigures,
                         ::testing::Values(ScrollCase{1, 1, 1, 1}, ScrollCase{5, 1, 1, 5}, ScrollCase{8, 1, 4, 5},
                                           ScrollCase{8, 4, 4, 8}, ScrollCase{8, 9, 4, 8}));

TEST(TextLayout, EmbeddedAdvancesAreWholeTwips) {
    EditTextState s = field(QStringLiteral("AAA"));
    reformat(s, [](TextFormat& f) { f.size = 130; }); // 1024 units at 130 twips: 130 each
    EXPECT_DOUBLE_EQ(layoutEditText(s, pixels(), {}).textWidth, 390);
    auto font = std::make_shared<FontDef>(*squareFont());
    for (Glyph& g : font->glyphs) g.advance = 1000; // 126.95 twips, kept as 126
    reformat(s, [&](TextFormat& f) { f.embedded = font; });
    EXPECT_DOUBLE_EQ(layoutEditText(s, pixels(), {}).textWidth, 378);
}

TEST(TextLayout, EmptyAutoSizedFieldShrinksToItsGutters) {
    EditTextState s = field(QString());
    s.autoSize = AutoSize::Left;
    TextLayout l = layoutEditText(s, pixels(), {});
    EXPECT_EQ(l.bounds, (Rect{0, 80, 0, 80}));
    EXPECT_DOUBLE_EQ(l.textHeight, 0);
}

TEST(TextLayout, BorderLiesOnTheBoxEdgesAndBackgroundFillsIt) {
    EditTextState s = field(QString());
    s.border = s.background = true;
    TextLayout l = layoutEditText(s, pixels(), {});
    std::vector<const DrawRect*> rects;
    for (const auto& c : l.commands)
        if (auto* r = std::get_if<DrawRect>(&c)) rects.push_back(r);
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[0]->rect, (Rect{0, 2000, 0, 1200}));
    EXPECT_TRUE(rects[0]->fill.has_value());
    EXPECT_EQ(rects[1]->rect, (Rect{0, 2020, 0, 1220})); // one pixel further right and down
    EXPECT_TRUE(rects[1]->line.has_value());
}

TEST(Html, ParagraphsBulletsAndCondensedWhite) {
    TextFormat base;
    auto runs = parseHtml(QStringLiteral("<li>one</li><li>two</li>x\ny"), base, {}, false);
    EXPECT_EQ(runsText(runs), QStringLiteral("one\rtwo\rx\ry"));
    EXPECT_TRUE(runs[0].format.bullet);
    EXPECT_FALSE(runs.back().format.bullet);
    runs = parseHtml(QStringLiteral("  a \n\n  b<br>  c"), base, {}, false, true);
    EXPECT_EQ(runsText(runs), QStringLiteral("a b\rc"));
}

TEST(Html, SingleLineFieldsDropParagraphAndLineBreaks) {
    TextFormat base;
    const QString html = QStringLiteral("<p>one</p><p>two<br> three</p><li>four</li>");
    EXPECT_EQ(runsText(parseHtml(html, base, {}, false, false, true)), QStringLiteral("one\rtwo\r three\rfour"));
    EXPECT_EQ(runsText(parseHtml(html, base, {}, false, false, false)), QStringLiteral("onetwo threefour"));
}

TEST(Html, AStylerFormatsTagsAndClasses) {
    TextFormat base;
    auto styler = [](const QString& tag, const QString& cls, TextFormat& f) {
        if (tag == u"p") f.bold = true;
        if (cls == u"big") f.size = 600;
    };
    auto runs = parseHtml(QStringLiteral("<p>a<span class='big'>b</span></p>c"), base, {}, false, false, true, styler);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_TRUE(runs[0].format.bold);
    EXPECT_DOUBLE_EQ(runs[0].format.size, base.size);
    EXPECT_TRUE(runs[1].format.bold);
    EXPECT_DOUBLE_EQ(runs[1].format.size, 600);
    EXPECT_FALSE(runs[2].format.bold);
}

struct TurnCase {
    const char* name;
    bool embedded;
    Matrix matrix;
};

class TurnedField : public ::testing::TestWithParam<TurnCase> {};

TEST_P(TurnedField, DeviceTextKeepsOnlyScalesAndOffset) {
    ensureApp();
    // Embedded glyphs turn and skew with the field; a field of device text
    // (border, background and text) keeps to the axes.
    const TurnCase& c = GetParam();
    EditTextState s = field(QStringLiteral("AB"));
    s.useOutlines = c.embedded;
    if (!c.embedded) s.format.embedded = nullptr, s.runs = plainRuns(QStringLiteral("AB"), s.format);
    s.border = s.background = true;
    TextLayout l = layoutEditText(s, c.matrix, {});
    ASSERT_GE(l.commands.size(), 3u) << c.name;
    for (const Command& cmd : l.commands) {
        const Matrix& m = std::visit([](const auto& d) -> const Matrix& {
            static const Matrix none;
            if constexpr (requires { d.matrix; }) return d.matrix; else return none;
        }, cmd);
        EXPECT_DOUBLE_EQ(m.a, c.matrix.a) << c.name;
        EXPECT_DOUBLE_EQ(m.d, c.matrix.d) << c.name;
        EXPECT_DOUBLE_EQ(m.tx, c.matrix.tx) << c.name;
        EXPECT_DOUBLE_EQ(m.b, c.embedded ? c.matrix.b : 0) << c.name;
        EXPECT_DOUBLE_EQ(m.c, c.embedded ? c.matrix.c : 0) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    TextLayout, TurnedField,
    ::testing::Values(TurnCase{"device, small skew", false, Matrix{0.05, 0.0003, 0, 0.05, 10, 20}},
                      TurnCase{"device, turned", false, Matrix{0.035, 0.035, -0.035, 0.035, 10, 20}},
                      TurnCase{"embedded, turned", true, Matrix{0.035, 0.035, -0.035, 0.035, 10, 20}}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(Html, GeneratedHtmlReadsBackToTheSameRuns) {
    TextFormat base;
    base.font = "Arial";
    auto runs = parseHtml(QStringLiteral("<p align='right'><font color='#ff0000'>Red</font> <b>&lt;b&gt;</b></p>"
                                         "<textformat leading='4'><p>next</p></textformat>"),
                          base, {}, false);
    QString html = toHtml(runs);
    EXPECT_TRUE(html.startsWith(QStringLiteral("<P ALIGN=\"RIGHT\"><FONT FACE=\"Arial\" SIZE=\"12\" COLOR=\"#FF0000\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("<TEXTFORMAT LEADING=\"4\"><P ALIGN=\"LEFT\">")));
    auto again = parseHtml(html, base, {}, false);
    ASSERT_EQ(again.size(), runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(again[i].text, runs[i].text);
        EXPECT_TRUE(sameFormat(again[i].format, runs[i].format)) << i;
    }
}

TEST(Html, PlainRunsUseCarriageReturns) {
    EXPECT_EQ(runsText(plainRuns(QStringLiteral("a\r\nb\nc\rd"), TextFormat{})), QStringLiteral("a\r\rb\rc\rd"));
    EXPECT_TRUE(plainRuns(QString(), TextFormat{}).empty());
}

} // namespace
