#include "engine/display/edit_text.h"

namespace swf {

EditTextObject::EditTextObject(Runtime& rt, std::shared_ptr<const EditTextDef> def)
    : DisplayObject(Type::EditText, rt, def->id), m_def(std::move(def)),
      m_state(render::initialState(*m_def, rt.fonts)) {}

void EditTextObject::setText(const std::string& text) {
    QString t = QString::fromStdString(text);
    if (t == m_state.text) return;
    m_state.text = t;
    markChanged();
}

void EditTextObject::setHtml(bool html) {
    if (html == m_state.html) return;
    m_state.html = html;
    markChanged();
}

void EditTextObject::setState(render::EditTextState state) {
    m_state = std::move(state);
    markChanged();
}

void EditTextObject::setBounds(const Rect& r) {
    if (r == m_state.bounds) return;
    m_state.bounds = r;
    markChanged();
}

render::TextLayout EditTextObject::layout() const {
    return render::layoutEditText(m_state, runtime().fonts, Matrix{}, ColorTransform{});
}

Rect EditTextObject::localBounds() const {
    if (m_state.autoSize == render::AutoSize::None) return m_state.bounds;
    return layout().bounds;
}

bool EditTextObject::hitTest(Point local) const { return DisplayObject::hitTest(local); }

void EditTextObject::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    render::TextLayout l = render::layoutEditText(m_state, runtime().fonts, world, cx);
    for (auto& c : l.commands) out.commands.push_back(std::move(c));
}

} // namespace swf
