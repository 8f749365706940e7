#pragma once
// An edit text field (DefineEditText): holds what it shows now (text with
// per-character formats, field settings, scrolling), which scripts may change
// directly or through the bound variable name, and the editing operations
// input uses (replace a range, selection, caret). Layout and drawing are the
// text layout's work.
#include "engine/display/display_object.h"
#include "engine/render/text_layout.h"

#include <optional>
#include <unordered_map>

namespace swf {

// A TextFormat as scripts see it: every field may be unset (null).
struct TextFormatPatch {
    std::optional<std::string> font, url, target;
    std::optional<double> size;                // pixels
    std::optional<uint32_t> color;             // 0xRRGGBB
    std::optional<bool> bold, italic, underline, bullet, kerning;
    std::optional<TextAlign> align;
    std::optional<double> leftMargin, rightMargin, indent, leading, blockIndent, letterSpacing; // pixels
    std::optional<std::vector<double>> tabStops;                                          // pixels

    // Sets the fields this patch has on `f`.
    void applyTo(render::TextFormat& f) const;
    // Every field of `f`.
    static TextFormatPatch from(const render::TextFormat& f);
    // Keeps only the fields both agree on.
    void intersect(const TextFormatPatch& other);
};

class EditTextObject : public DisplayObject {
public:
    EditTextObject(Runtime& rt, std::shared_ptr<const EditTextDef> def);

    const EditTextDef& def() const { return *m_def; }
    const std::string& variableName() const { return m_variable; }
    void setVariableName(const std::string& name) { m_variable = name; }

    // The value a bound variable shows and sets: the HTML source of an HTML
    // field, else the plain text (UTF-8).
    std::string text() const;
    void setText(const std::string& text);

    // The characters (paragraphs end in '\r').
    QString plainText() const;
    void setPlainText(const QString& text);
    // The text as Flash's HTML, and setting it from the HTML subset.
    QString htmlText() const;
    void setHtmlText(const QString& html);
    // A script style sheet's formats by lower-case selector ("p", ".note"):
    // HTML text set afterwards is formatted by them, and htmlText then reads
    // back the HTML as it was set. No styles: back to plain HTML fields.
    void setStyleSheet(std::unordered_map<QString, TextFormatPatch> styles);
    bool hasStyleSheet() const { return m_styled; }
    bool html() const { return m_html; }
    void setHtml(bool html) { m_html = html; }
    int length() const { return int(plainText().size()); }

    // Formats: of the characters [begin, end) (fields they disagree on are unset),
    // and changing them.
    TextFormatPatch formatOf(int begin, int end) const;
    void setFormat(int begin, int end, const TextFormatPatch& patch);
    // The format that text set by scripts or typed gets.
    const render::TextFormat& newTextFormat() const { return m_state.format; }
    void setNewTextFormat(const TextFormatPatch& patch);

    // ---- Editing (input fields, replaceSel, replaceText) ------------------------------
    // Replaces the characters [begin, end) by `text` in the format of the
    // character at `begin` (the new text format when the field is empty).
    void replaceText(int begin, int end, const QString& text);
    // The selection; the caret is its end. Indices are clamped to the text.
    int selectionBegin() const { return m_selBegin; }
    int selectionEnd() const { return m_selEnd; }
    int caretIndex() const { return m_selEnd; }
    void setSelection(int begin, int end);
    // The caret position for a point in the field's own space (twips).
    int charIndexAt(Point local) const;
    // Replaces the selection and puts the caret after the new text.
    void replaceSelection(const QString& text);
    // Applies maxChars and restrict to typed text: what may be inserted.
    QString filterInput(const QString& typed) const;

    // ---- Field settings scripts change --------------------------------------------
    struct Options {
        bool selectable = true, editable = false, condenseWhite = false, mouseWheelEnabled = true;
        bool embedFonts = false;
        int maxChars = 0;                       // 0: no limit
        std::optional<QString> restrict;        // null: any character
        QString antiAliasType = QStringLiteral("normal"), gridFitType = QStringLiteral("pixel");
        double sharpness = 0, thickness = 0;
    };
    const Options& options() const { return m_options; }
    Options& options() { return m_options; }

    // Everything the field shows; changing it redraws the field.
    const render::EditTextState& state() const { return m_state; }
    void setState(render::EditTextState state);
    render::EditTextState& editState() { markChanged(); m_layoutValid = false; return m_state; }

    // Field rectangle in its own space (twips).
    const Rect& bounds() const { return m_state.bounds; }
    void setBounds(const Rect& r);
    // The current layout (lines, text size, bounds after autoSize).
    const render::TextLayout& layout() const;

    Rect localBounds() const override;
    bool hitTest(Point local) const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

private:
    void changed();
    // The runs as one format per character, and back.
    std::vector<render::TextFormat> charFormats() const;
    void setFromChars(const QString& chars, const std::vector<render::TextFormat>& formats);

    std::shared_ptr<const EditTextDef> m_def;
    render::EditTextState m_state;
    bool m_html = false;
    bool m_styled = false;
    std::unordered_map<QString, TextFormatPatch> m_styles;
    QString m_htmlSource;                     // the HTML last set on a styled field
    bool m_sourceCurrent = false;             // ... and the text still is what it made
    std::string m_variable;
    Options m_options;
    int m_selBegin = 0, m_selEnd = 0;
    mutable render::TextLayout m_layout;
    mutable bool m_layoutValid = false;
};

} // namespace swf
