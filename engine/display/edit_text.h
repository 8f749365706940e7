#pragma once
// An edit text field (DefineEditText): holds its current text, which a
// script may change directly or through the bound variable name.
#include "engine/display/display_object.h"

namespace swf {

class EditTextObject : public DisplayObject {
public:
    EditTextObject(Runtime& rt, std::shared_ptr<const EditTextDef> def);

    const EditTextDef& def() const { return *m_def; }
    const std::string& text() const { return m_text; }      // UTF-8; HTML source when html()
    void setText(std::string text);
    bool html() const { return m_def->html; }
    const std::string& variableName() const { return m_def->variableName; }

    // Field rectangle; scripts may resize it (_width/_height, autoSize).
    const Rect& bounds() const { return m_bounds; }
    void setBounds(const Rect& r);

    Rect localBounds() const override { return m_bounds; }
    bool hitTest(Point local) const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

private:
    std::shared_ptr<const EditTextDef> m_def;
    std::string m_text;
    Rect m_bounds;
};

} // namespace swf
