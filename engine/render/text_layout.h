#pragma once
// Layout of edit text fields: the field's text (plain or the HTML subset)
// broken into lines as the Flash player does, and turned into drawing
// commands (embedded glyphs or device text) plus the text's measured size.
#include "engine/render/commands.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace swf::render {

// How the runtime finds fonts: by character id (the field's own font) and by
// name (HTML <font face>); either may be empty or answer null.
struct FontResolver {
    std::function<std::shared_ptr<const FontDef>(uint16_t id)> byId;
    std::function<std::shared_ptr<const FontDef>(const std::string& name, bool bold, bool italic)> byName;
};

struct TextFormat {
    std::string font;                         // face name; device fonts use it as the family
    std::shared_ptr<const FontDef> embedded;  // the embedded font, when there is one with glyphs
    double size = 240;                        // twips
    Rgba color{0, 0, 0, 255};
    bool bold = false, italic = false, underline = false;
    std::string url, target;                  // <a href target>
    // Paragraph settings: the first character of a paragraph decides them.
    TextAlign align = TextAlign::Left;
    double leftMargin = 0, rightMargin = 0, indent = 0, leading = 0, blockIndent = 0; // twips
    bool bullet = false;
    std::vector<double> tabStops;             // twips
    double letterSpacing = 0;                 // twips
    bool kerning = false;
};
bool sameFormat(const TextFormat& a, const TextFormat& b);

enum class AutoSize : uint8_t { None, Left, Center, Right };

// Text with its formats; paragraphs end in '\r'.
struct TextRun {
    QString text;
    TextFormat format;
};

// What a field shows right now: its definition's values, as scripts may have changed them.
struct EditTextState {
    std::vector<TextRun> runs;                // the text; adjacent runs differ in format
    bool wordWrap = false, multiline = false, password = false, useOutlines = false;
    AutoSize autoSize = AutoSize::None;
    TextFormat format;                        // the format of text scripts set (the "new text format")
    Rect bounds;                              // twips, character space
    bool border = false, background = false;
    Rgba borderColor{0, 0, 0, 255}, backgroundColor{255, 255, 255, 255};
    int scroll = 1;                           // first line shown (1-based)
    double hscroll = 0;                       // twips scrolled to the left
};

// The state a field starts with, from its definition.
EditTextState initialState(const EditTextDef& def, const FontResolver& fonts);

struct LineBox {
    double x = 0, top = 0;                    // twips, from the field's top-left corner
    double width = 0, ascent = 0, descent = 0, leading = 0;
    int firstChar = 0, charCount = 0;         // into the laid-out characters
    bool wrapped = false;                     // ended by word wrap, not by a newline or the text's end
    double spaceExtra = 0;                    // justified lines: added to each space's advance
    double height() const { return ascent + descent + leading; }
};

struct TextLayout {
    std::vector<LineBox> lines;
    QString chars;                            // the text as shown (HTML resolved, password masked)
    std::vector<double> charX;                // each character's left edge, twips from the field's left
    std::vector<double> charWidth;            // each character's advance (justified spaces included)
    double textWidth = 0, textHeight = 0;     // twips, as the field's textWidth/textHeight
    Rect bounds;                              // the field's bounds after autoSize
    int maxScroll = 1;                        // the largest useful `scroll` (1-based line)
    int bottomScroll = 1;                     // the last line shown at the current scroll
    double maxHScroll = 0;                    // twips
    std::vector<Command> commands;            // background, border and text, clipped to the field
};

// Lays out a field (its runs carry their resolved fonts) and makes its drawing
// commands with `matrix` (field character space -> device) and `colorTransform`.
TextLayout layoutEditText(const EditTextState& state, const Matrix& matrix, const ColorTransform& colorTransform);

// The caret position for a point (twips from the field's top-left corner) in
// a laid-out field scrolled to `scroll` and `hscroll`: on the line under it
// (the first or last when above or below), before the character whose left
// half holds it.
int caretIndexAt(const TextLayout& layout, double x, double y, int scroll, double hscroll);

// Plain text as one run; "\r\n" and "\n" become '\r'.
std::vector<TextRun> plainRuns(const QString& text, const TextFormat& format);
// All characters of the runs.
QString runsText(const std::vector<TextRun>& runs);
// Appends a run, merging it into the last one when the formats agree.
void appendRun(std::vector<TextRun>& runs, const QString& text, const TextFormat& format);

// A style sheet's say on a tag's format: its name (lower case) and class attribute.
using HtmlStyler = std::function<void(const QString& tag, const QString& cls, TextFormat& format)>;
// The HTML subset as runs of text with their formats; paragraphs end in '\r'.
// `condenseWhite` folds runs of white space (newlines included) into one space;
// a field that is not `multiline` drops the breaks of <p>, <li> and <br>.
std::vector<TextRun> parseHtml(const QString& html, const TextFormat& base, const FontResolver& fonts,
                               bool useOutlines, bool condenseWhite = false, bool multiline = true,
                               const HtmlStyler& styler = {});
// The runs as the HTML Flash reports for htmlText (upper-case tags, one <P> per paragraph).
QString toHtml(const std::vector<TextRun>& runs);

// The device font a format is drawn with (sans-serif unless it names another family).
QFont deviceFont(const TextFormat& format);

} // namespace swf::render
