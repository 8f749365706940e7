#pragma once
// An edit text field (DefineEditText): holds what it shows now (text, format,
// size, scrolling), which scripts may change directly or through the bound
// variable name. Layout and drawing are the text layout's work.
#include "engine/display/display_object.h"
#include "engine/render/text_layout.h"

namespace swf {

class EditTextObject : public DisplayObject {
public:
    EditTextObject(Runtime& rt, std::shared_ptr<const EditTextDef> def);

    const EditTextDef& def() const { return *m_def; }
    const std::string& variableName() const { return m_def->variableName; }

    // The text as UTF-8 (HTML source when the field is HTML).
    std::string text() const { return m_state.text.toStdString(); }
    void setText(const std::string& text);
    bool html() const { return m_state.html; }
    void setHtml(bool html);

    // Everything the field shows; changing it redraws the field.
    const render::EditTextState& state() const { return m_state; }
    void setState(render::EditTextState state);

    // Field rectangle in its own space (twips).
    const Rect& bounds() const { return m_state.bounds; }
    void setBounds(const Rect& r);
    // The current layout (lines, text size, bounds after autoSize).
    render::TextLayout layout() const;

    Rect localBounds() const override;
    bool hitTest(Point local) const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

private:
    std::shared_ptr<const EditTextDef> m_def;
    render::EditTextState m_state;
};

} // namespace swf
