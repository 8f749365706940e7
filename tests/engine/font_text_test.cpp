// Fonts, static and edit text, buttons.
#include "tests/engine/test_util.h"

#include "engine/swf/place_object.h"

namespace swf::test {
namespace {

Bytes squareGlyph(int32_t size) {
    ShapeBuilder g;
    g.rect(0, -size, size, size, 1);
    return g.shapeRecords(1, false);
}

// DefineFont2/3 with glyphs 'A' (a square) and ' ' (empty), layout and one kerning pair.
Bytes font2Body(uint16_t id, bool wideOffsets, bool wideCodes) {
    Bytes a = squareGlyph(500), space;
    ByteWriter w;
    w.u16(id).u8(uint8_t(0x80 | (wideOffsets ? 0x08 : 0) | (wideCodes ? 0x04 : 0) | 0x01)); // layout, bold
    w.u8(1).u8(5).bytes({'A', 'r', 'i', 'a', 'l'}).u16(2);
    size_t offSize = wideOffsets ? 4 : 2;
    size_t tableSize = offSize * 3;
    auto off = [&](size_t v) { wideOffsets ? w.u32(uint32_t(v)) : w.u16(uint16_t(v)); };
    off(tableSize);
    off(tableSize + a.size());
    off(tableSize + a.size() + space.size()); // code table offset
    w.bytes(a).bytes(space);
    auto code = [&](uint16_t c) { wideCodes ? w.u16(c) : w.u8(uint8_t(c)); };
    code('A');
    code(' ');
    w.u16(900).u16(300).s16(40).u16(600).u16(40000); // advances are unsigned
    w.rect({0, 500, -500, 0}).rect({0, 0, 0, 0});
    w.u16(1);
    code('A');
    code(' ');
    w.s16(-30);
    return w.data();
}

TEST(Font, DefineFont2And3GlyphsCodesAndLayout) {
    struct Case { uint16_t code; bool wideOffsets, wideCodes; double em; };
    for (Case c : {Case{tag::DefineFont2, false, false, 1024}, Case{tag::DefineFont2, true, true, 1024},
                   Case{tag::DefineFont3, true, true, 20480}}) {
        SCOPED_TRACE(c.code);
        SwfWriter w;
        w.tag(c.code, font2Body(4, c.wideOffsets, c.wideCodes)).showFrame();
        auto f = parseCharacter<FontDef>(w, 4);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->name, "Arial");
        EXPECT_TRUE(f->bold);
        EXPECT_FALSE(f->italic);
        EXPECT_TRUE(f->hasLayout);
        EXPECT_EQ(f->emSquare, c.em);
        ASSERT_EQ(f->glyphs.size(), 2u);
        EXPECT_EQ(f->glyphs[0].code, 'A');
        EXPECT_EQ(f->glyphs[1].code, ' ');
        EXPECT_EQ(f->glyphs[0].advance, 600);
        EXPECT_EQ(f->glyphs[1].advance, 40000);
        ASSERT_EQ(f->glyphs[0].shape.layers.size(), 1u);
        ASSERT_EQ(f->glyphs[0].shape.layers[0].fills.size(), 1u);
        EXPECT_EQ(f->glyphs[0].shape.layers[0].fills[0].edges.size(), 4u);
        EXPECT_TRUE(f->glyphs[1].shape.layers.empty() || f->glyphs[1].shape.layers[0].fills.empty());
        EXPECT_EQ(f->ascent, 900);
        EXPECT_EQ(f->descent, 300);
        EXPECT_EQ(f->leading, 40);
        EXPECT_EQ(f->kerning.at({'A', ' '}), -30);
    }
}

TEST(Font, DefineFontWithFontInfo) {
    Bytes a = squareGlyph(800), b = squareGlyph(400);
    ByteWriter font;
    font.u16(2).u16(4).u16(uint16_t(4 + a.size())).bytes(a).bytes(b);
    ByteWriter info;
    info.u16(2).u8(5).bytes({'S', 'e', 'r', 'i', 'f'}).u8(0x04 | 0x01).u16('x').u16(0x4e2d); // italic, wide codes
    SwfWriter w;
    w.tag(tag::DefineFont, font.data()).tag(tag::DefineFontInfo, info.data()).showFrame();
    auto f = parseCharacter<FontDef>(w, 2);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->version, 1);
    EXPECT_EQ(f->name, "Serif");
    EXPECT_TRUE(f->italic);
    EXPECT_FALSE(f->bold);
    ASSERT_EQ(f->glyphs.size(), 2u);
    EXPECT_EQ(f->glyphs[0].code, 'x');
    EXPECT_EQ(f->glyphs[1].code, 0x4e2d);
    EXPECT_EQ(f->glyphs[1].shape.layers[0].fills[0].edges[1].to, (Point{400, 0}));
}

TEST(Font, InfoForAMissingFontIsAWarning) {
    SwfWriter w;
    w.tag(tag::DefineFontInfo2, ByteWriter().u16(77).u8(0).u8(0).u8(1).data()).showFrame();
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    EXPECT_TRUE(hasWarning(*m, ErrorCode::Malformed, tag::DefineFontInfo2));
}

TEST(Text, RecordsResolveStyleAndPosition) {
    for (uint16_t code : {tag::DefineText, tag::DefineText2}) {
        SCOPED_TRACE(code);
        const bool alpha = code == tag::DefineText2;
        ByteWriter w;
        w.u16(5).rect({0, 2000, 0, 400}).matrix(Matrix{1, 0, 0, 1, 20, 0}).u8(4).u8(10);
        // Record 1: font, colour, x, y, height; glyphs 1 and 2 with advances 100, 200.
        w.u8(0x80 | 0x08 | 0x04 | 0x02 | 0x01).u16(4);
        alpha ? w.rgba({10, 20, 30, 40}) : w.rgb({10, 20, 30, 255});
        w.s16(50).s16(300).u16(240).u8(2);
        w.ubits(1, 4).sbits(100, 10).ubits(2, 4).sbits(200, 10).align();
        // Record 2: only a new y; x continues after record 1's glyphs.
        w.u8(0x80 | 0x02).s16(600).u8(1).ubits(3, 4).sbits(-5, 10).align();
        w.u8(0);
        SwfWriter movie;
        movie.tag(code, w.data()).showFrame();
        auto t = parseCharacter<TextDef>(movie, 5);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->bounds, (Rect{0, 2000, 0, 400}));
        EXPECT_EQ(t->matrix.tx, 20);
        ASSERT_EQ(t->records.size(), 2u);
        const TextRecord& r1 = t->records[0];
        EXPECT_EQ(r1.fontId, 4);
        EXPECT_EQ(r1.color, (Rgba{10, 20, 30, uint8_t(alpha ? 40 : 255)}));
        EXPECT_EQ(r1.x, 50);
        EXPECT_EQ(r1.y, 300);
        EXPECT_EQ(r1.height, 240);
        ASSERT_EQ(r1.glyphs.size(), 2u);
        EXPECT_EQ(r1.glyphs[1].index, 2u);
        EXPECT_EQ(r1.glyphs[1].advance, 200);
        const TextRecord& r2 = t->records[1];
        EXPECT_EQ(r2.fontId, 4);
        EXPECT_EQ(r2.color, r1.color);
        EXPECT_EQ(r2.height, 240);
        EXPECT_EQ(r2.x, 350);
        EXPECT_EQ(r2.y, 600);
        ASSERT_EQ(r2.glyphs.size(), 1u);
        EXPECT_EQ(r2.glyphs[0].advance, -5);
    }
}

TEST(EditText, AllFields) {
    ByteWriter w;
    w.u16(8).rect({-40, 4000, -40, 1000});
    w.u8(0x80 | 0x40 | 0x20 | 0x10 | 0x08 | 0x04 | 0x02 | 0x01);
    w.u8(0x80 | 0x40 | 0x20 | 0x10 | 0x08 | 0x04 | 0x02 | 0x01);
    w.u16(4).cstring("MyFont").u16(360).rgba({1, 2, 3, 4}).u16(99);
    w.u8(2).u16(10).u16(20).s16(-30).s16(-4);
    w.cstring("_root.value").cstring("<b>Hello</b>");
    SwfWriter movie;
    movie.tag(tag::DefineEditText, w.data()).showFrame();
    auto e = parseCharacter<EditTextDef>(movie, 8);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->bounds, (Rect{-40, 4000, -40, 1000}));
    EXPECT_TRUE(e->wordWrap && e->multiline && e->password && e->readOnly);
    EXPECT_TRUE(e->autoSize && e->noSelect && e->border && e->wasStatic && e->html && e->useOutlines);
    EXPECT_EQ(e->fontId, 4);
    EXPECT_EQ(e->fontClass, "MyFont");
    EXPECT_EQ(e->fontHeight, 360);
    EXPECT_EQ(e->color, (Rgba{1, 2, 3, 4}));
    EXPECT_EQ(e->maxLength, 99);
    EXPECT_EQ(e->align, TextAlign::Center);
    EXPECT_EQ(e->leftMargin, 10);
    EXPECT_EQ(e->rightMargin, 20);
    EXPECT_EQ(e->indent, -30); // the indent is signed, as Flash reads it
    EXPECT_EQ(e->leading, -4);
    EXPECT_EQ(e->variableName, "_root.value");
    EXPECT_EQ(e->initialText, "<b>Hello</b>");

    ByteWriter bare;
    bare.u16(9).rect({0, 100, 0, 100}).u8(0).u8(0).cstring("");
    SwfWriter m2;
    m2.tag(tag::DefineEditText, bare.data()).showFrame();
    auto b = parseCharacter<EditTextDef>(m2, 9);
    ASSERT_TRUE(b);
    EXPECT_FALSE(b->fontId);
    EXPECT_FALSE(b->color);
    EXPECT_TRUE(b->initialText.empty());
}

TEST(Button, DefineButton2StatesAndConditionActions) {
    ButtonRecordSpec up{.up = true, .characterId = 1, .depth = 1};
    ButtonRecordSpec hit{.up = false, .hitTest = true, .characterId = 2, .depth = 2,
                         .matrix = Matrix{2, 0, 0, 2, 10, 10},
                         .colorTransform = ColorTransform{1, 1, 1, 0.5, 0, 0, 0, 0},
                         .blendMode = BlendMode::Screen};
    ButtonRecordSpec overDown{.up = false, .over = true, .down = true, .characterId = 3, .depth = 3};
    SwfWriter w;
    w.defineButton2(6, {up, hit, overDown}, {{0x0008, {0x07, 0x00}}, {0x0001 | (13 << 9), {0x06, 0x00}}}, true);
    w.showFrame();
    auto b = parseCharacter<ButtonDef>(w, 6);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->version, 2);
    EXPECT_TRUE(b->trackAsMenu);
    ASSERT_EQ(b->records.size(), 3u);
    EXPECT_TRUE(b->records[0].up);
    EXPECT_FALSE(b->records[0].hitTest);
    EXPECT_TRUE(b->records[1].hitTest);
    EXPECT_EQ(b->records[1].matrix, (Matrix{2, 0, 0, 2, 10, 10}));
    EXPECT_EQ(b->records[1].colorTransform.aMult, 0.5);
    EXPECT_EQ(b->records[1].blendMode, BlendMode::Screen);
    EXPECT_TRUE(b->records[2].over && b->records[2].down && !b->records[2].up);
    ASSERT_EQ(b->actions.size(), 2u);
    EXPECT_EQ(b->actions[0].conditions, 0x0008);
    EXPECT_EQ(Bytes(b->actions[0].actions.begin(), b->actions[0].actions.end()), (Bytes{0x07, 0x00}));
    EXPECT_EQ(b->actions[1].conditions >> 9, 13);
    EXPECT_EQ(Bytes(b->actions[1].actions.begin(), b->actions[1].actions.end()), (Bytes{0x06, 0x00}));
}

TEST(Button, DefineButtonWithCxformAndSounds) {
    ByteWriter body;
    body.u16(7).u8(0x01).u16(1).u16(1).matrix(Matrix{}).u8(0); // one up record
    body.bytes({0x07, 0x00});                                   // actions: play, end
    ByteWriter cx;
    cx.u16(7).colorTransform(ColorTransform{0.5, 1, 1, 1, 0, 0, 0, 0}, false);
    ByteWriter sounds;
    sounds.u16(7).u16(0).u16(11).u8(0x04).u16(3).u16(0).u16(12).u8(0x00); // idle->over: loops 3; down: plain
    SwfWriter w;
    w.tag(tag::DefineButton, body.data()).tag(tag::DefineButtonCxform, cx.data());
    w.tag(tag::DefineButtonSound, sounds.data()).showFrame();
    auto b = parseCharacter<ButtonDef>(w, 7);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->version, 1);
    ASSERT_EQ(b->records.size(), 1u);
    ASSERT_EQ(b->actions.size(), 1u);
    EXPECT_EQ(b->actions[0].conditions, 0x08);
    EXPECT_EQ(b->actions[0].actions.size(), 2u);
    EXPECT_EQ(b->legacyColorTransform.rMult, 0.5);
    EXPECT_EQ(b->sounds[0].soundId, 0);
    EXPECT_EQ(b->sounds[1].soundId, 11);
    EXPECT_EQ(b->sounds[1].info.size(), 3u);
    EXPECT_EQ(b->sounds[2].soundId, 0);
    EXPECT_EQ(b->sounds[3].soundId, 12);
    EXPECT_EQ(b->sounds[3].info.size(), 1u);
}

} // namespace
} // namespace swf::test
