// Fonts (DefineFont 1-3 and DefineFontInfo 1-2), static text (DefineText
// 1-2) and edit text (DefineEditText).
#include "engine/core/limits.h"
#include "engine/swf/definitions.h"
#include "engine/swf/shape.h"

#include <algorithm>

namespace swf {

namespace {

// Glyph shapes lie between consecutive offsets; each is read from its own
// slice so that a broken glyph cannot disturb its neighbours.
std::optional<Error> readGlyphs(const TagContext& t, std::span<const uint8_t> table,
                                const std::vector<uint32_t>& offsets, size_t end, FontDef& font) {
    font.glyphs.resize(offsets.size());
    for (size_t i = 0; i < offsets.size(); ++i) {
        size_t from = offsets[i];
        size_t to = i + 1 < offsets.size() ? offsets[i + 1] : end;
        if (from > to || to > table.size())
            return t.error(ErrorCode::Malformed, "glyph " + std::to_string(i) + " offset exceeds tag data");
        Reader gr(table.subspan(from, to - from));
        font.glyphs[i].shape.id = font.id;
        font.glyphs[i].shape.version = 1;
        // An empty glyph (a space) has no records at all.
        if (to > from && !readGlyphShape(gr, font.glyphs[i].shape))
            return t.error(ErrorCode::Malformed, "glyph " + std::to_string(i) + " shape is broken");
    }
    return std::nullopt;
}

std::string trimName(std::span<const uint8_t> bytes) {
    std::string s(bytes.begin(), bytes.end());
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

std::optional<Error> parseFont1(const TagContext& t, FontDef& font) {
    std::span<const uint8_t> table = t.body.subspan(std::min<size_t>(2, t.body.size()));
    Reader tr(table);
    uint16_t first = tr.u16();
    if (tr.failed()) return std::nullopt; // a font without glyphs
    size_t count = first / 2;
    if (count * 2 > table.size())
        return t.error(ErrorCode::Malformed, std::to_string(count) + " glyphs exceed tag data");
    std::vector<uint32_t> offsets;
    offsets.reserve(count);
    offsets.push_back(first);
    for (size_t i = 1; i < count; ++i) offsets.push_back(tr.u16());
    return readGlyphs(t, table, offsets, table.size(), font);
}

std::optional<Error> parseFont2(const TagContext& t, Reader& r, FontDef& font) {
    uint8_t flags = r.u8();
    font.hasLayout = flags & 0x80;
    font.smallText = flags & 0x20;
    const bool wideOffsets = flags & 0x08, wideCodes = flags & 0x04;
    font.italic = flags & 0x02;
    font.bold = flags & 0x01;
    r.u8(); // language
    font.name = trimName(r.bytes(r.u8()));
    size_t count = r.u16();
    if (r.failed()) return t.truncated();
    const size_t offsetSize = wideOffsets ? 4 : 2;
    if ((count + 1) * offsetSize > r.remaining() && count > 0)
        return t.error(ErrorCode::Malformed, std::to_string(count) + " glyphs exceed tag data");
    // Offsets count from the start of the offset table.
    std::span<const uint8_t> table = t.body.subspan(r.pos());
    std::vector<uint32_t> offsets;
    offsets.reserve(std::min(count, limits::kReserveCap));
    for (size_t i = 0; i < count; ++i) offsets.push_back(wideOffsets ? r.u32() : r.u16());
    uint32_t codeTable = count > 0 || r.remaining() >= offsetSize ? (wideOffsets ? r.u32() : r.u16()) : 0;
    if (r.failed()) return t.truncated();
    // A font without glyphs (a device font) may still carry its layout.
    if (count == 0) codeTable = uint32_t(std::min(r.pos() - (t.body.size() - table.size()), table.size()));
    if (codeTable > table.size())
        return t.error(ErrorCode::Malformed, "code table offset exceeds tag data");
    if (auto e = readGlyphs(t, table, offsets, codeTable, font)) return e;

    Reader cr(table.subspan(codeTable));
    if (count == 0 && cr.atEnd()) return std::nullopt;
    for (auto& g : font.glyphs) g.code = wideCodes ? cr.u16() : cr.u8();
    if (cr.failed()) return t.truncated("font code table cut short");
    if (!font.hasLayout) return std::nullopt;
    font.ascent = cr.u16();
    font.descent = cr.u16();
    font.leading = cr.s16();
    // Advances are unsigned to the Flash player, though some documents say signed.
    for (auto& g : font.glyphs) g.advance = cr.u16();
    for (size_t i = 0; i < count; ++i) readRect(cr); // glyph bounds: computed from shapes when needed
    size_t kerns = cr.u16();
    if (cr.failed()) return t.truncated("font layout cut short");
    if (kerns * (wideCodes ? 6 : 4) > cr.remaining())
        return t.error(ErrorCode::Malformed, std::to_string(kerns) + " kerning pairs exceed tag data");
    for (size_t i = 0; i < kerns; ++i) {
        uint16_t a = wideCodes ? cr.u16() : cr.u8();
        uint16_t b = wideCodes ? cr.u16() : cr.u8();
        font.kerning[{a, b}] = cr.s16();
    }
    return std::nullopt;
}

} // namespace

Result<std::shared_ptr<FontDef>> parseDefineFont(const TagContext& t) {
    Reader r(t.body);
    auto font = std::make_shared<FontDef>();
    font->id = r.u16();
    font->version = t.code == tag::DefineFont3 ? 3 : t.code == tag::DefineFont2 ? 2 : 1;
    font->emSquare = font->version == 3 ? 20480 : 1024;
    auto err = font->version == 1 ? parseFont1(t, *font) : parseFont2(t, r, *font);
    if (err) return *err;
    return font;
}

std::optional<Error> applyDefineFontInfo(const TagContext& t, FontDef& font) {
    Reader r(t.body);
    r.u16(); // font id
    font.name = trimName(r.bytes(r.u8()));
    uint8_t flags = r.u8();
    font.smallText = flags & 0x20;
    font.italic = flags & 0x04;
    font.bold = flags & 0x02;
    const bool wide = flags & 0x01 || t.code == tag::DefineFontInfo2;
    if (t.code == tag::DefineFontInfo2) r.u8(); // language
    for (auto& g : font.glyphs) g.code = wide ? r.u16() : r.u8();
    if (r.failed()) return t.truncated("font info codes cut short");
    return std::nullopt;
}

Result<std::shared_ptr<TextDef>> parseDefineText(const TagContext& t) {
    Reader r(t.body);
    auto text = std::make_shared<TextDef>();
    const bool withAlpha = t.code == tag::DefineText2;
    text->id = r.u16();
    text->bounds = readRect(r);
    text->matrix = readMatrix(r);
    unsigned glyphBits = r.u8(), advanceBits = r.u8();
    if (glyphBits > 32 || advanceBits > 32)
        return t.error(ErrorCode::Malformed, "glyph field widths exceed 32 bits");
    // The style fields carry over from record to record until changed; x
    // continues after the previous record's glyphs.
    TextRecord style;
    size_t glyphTotal = 0;
    while (!r.failed()) {
        uint8_t flags = r.u8();
        if (flags == 0) break;
        if (text->records.size() >= limits::kMaxRecordsPerTag)
            return t.error(ErrorCode::LimitExceeded, "text records exceed the limit");
        TextRecord rec = style;
        rec.glyphs.clear();
        if (flags & 0x08) rec.fontId = r.u16();
        if (flags & 0x04) rec.color = withAlpha ? readRgba(r) : readRgb(r);
        if (flags & 0x01) rec.x = r.s16();
        if (flags & 0x02) rec.y = r.s16();
        if (flags & 0x08) rec.height = r.u16();
        size_t count = r.u8();
        glyphTotal += count;
        if (glyphTotal > limits::kMaxRecordsPerTag)
            return t.error(ErrorCode::LimitExceeded, "text glyphs exceed the limit");
        rec.glyphs.reserve(count);
        double advance = 0;
        for (size_t i = 0; i < count; ++i) {
            TextGlyph g;
            g.index = r.ubits(glyphBits);
            g.advance = r.sbits(advanceBits);
            advance += g.advance;
            rec.glyphs.push_back(g);
        }
        r.align();
        style = rec;
        style.x = rec.x + advance;
        text->records.push_back(std::move(rec));
    }
    if (r.failed()) return t.truncated("text records run past the end of the tag");
    return text;
}

Result<std::shared_ptr<EditTextDef>> parseDefineEditText(const TagContext& t) {
    Reader r(t.body);
    auto e = std::make_shared<EditTextDef>();
    e->id = r.u16();
    e->bounds = readRect(r);
    uint8_t f1 = r.u8(), f2 = r.u8();
    const bool hasText = f1 & 0x80, hasColor = f1 & 0x04, hasMaxLength = f1 & 0x02, hasFont = f1 & 0x01;
    e->wordWrap = f1 & 0x40;
    e->multiline = f1 & 0x20;
    e->password = f1 & 0x10;
    e->readOnly = f1 & 0x08;
    const bool hasFontClass = f2 & 0x80, hasLayout = f2 & 0x20;
    e->autoSize = f2 & 0x40;
    e->noSelect = f2 & 0x10;
    e->border = f2 & 0x08;
    e->wasStatic = f2 & 0x04;
    e->html = f2 & 0x02;
    e->useOutlines = f2 & 0x01;
    if (hasFont) e->fontId = r.u16();
    if (hasFontClass) e->fontClass = r.cstring();
    if (hasFont || hasFontClass) e->fontHeight = r.u16();
    if (hasColor) e->color = readRgba(r);
    if (hasMaxLength) e->maxLength = r.u16();
    if (hasLayout) {
        uint8_t align = r.u8();
        e->align = align <= 3 ? TextAlign(align) : TextAlign::Left;
        e->leftMargin = r.u16();
        e->rightMargin = r.u16();
        e->indent = r.s16(); // signed, though margins are not
        e->leading = r.s16();
    }
    e->variableName = r.cstring();
    if (hasText) e->initialText = r.cstring();
    if (r.failed()) return t.truncated();
    return e;
}

} // namespace swf
