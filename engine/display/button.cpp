#include "engine/display/button.h"

#include "engine/display/movie_clip.h"

namespace swf {

ButtonObject::ButtonObject(Runtime& rt, std::shared_ptr<const ButtonDef> def, int nestingLevel)
    : DisplayObject(Type::Button, rt, def->id), m_def(std::move(def)) {
    setNesting(nestingLevel);
    buildState();
}

ButtonObject::~ButtonObject() = default;

void ButtonObject::setState(State s) {
    if (s == m_state) return;
    m_state = s;
    buildState();
    markChanged();
}

void ButtonObject::buildState() {
    // Children are made from the records of the shown state, and once for the hit area.
    auto build = [this](auto&& wanted, std::map<int, std::unique_ptr<DisplayObject>>& into) {
        into.clear();
        int nesting = this->nesting() + 1;
        for (const ButtonRecord& rec : m_def->records) {
            if (!wanted(rec)) continue;
            auto obj = createDisplayObject(runtime(), rec.characterId, nesting);
            if (!obj) continue;
            obj->setMatrix(rec.matrix);
            obj->setColorTransform(m_def->version == 1 ? m_def->legacyColorTransform : rec.colorTransform);
            obj->setBlendMode(rec.blendMode);
            obj->setFilterBytes(rec.filterBytes);
            obj->setDepth(rec.depth);
            obj->setOwnerButton(this);
            DisplayObject* placed = (into[rec.depth] = std::move(obj)).get();
            if (placed->type() == Type::MovieClip) {
                // Clips in a button state are named like timeline instances.
                placed->setName("instance" + std::to_string(++runtime().instanceCounter));
                static_cast<MovieClip*>(placed)->enterFirstFrame();
            }
        }
    };
    runtime().buttonsBuilding.push_back(m_def->id);
    State s = m_state;
    build([s](const ButtonRecord& r) { return s == State::Up ? r.up : s == State::Over ? r.over : r.down; },
          m_children);
    if (m_hitChildren.empty()) build([](const ButtonRecord& r) { return r.hitTest; }, m_hitChildren);
    runtime().buttonsBuilding.pop_back();
}

std::vector<std::span<const uint8_t>> ButtonObject::actionsFor(ButtonEvent event) const {
    std::vector<std::span<const uint8_t>> out;
    for (const ButtonAction& a : m_def->actions)
        if ((a.conditions & 0x01ff) & uint16_t(event)) out.push_back(a.actions);
    return out;
}

std::vector<std::span<const uint8_t>> ButtonObject::actionsForKey(int keyPressCode) const {
    std::vector<std::span<const uint8_t>> out;
    for (const ButtonAction& a : m_def->actions)
        if (keyPressCode > 0 && (a.conditions >> 9) == keyPressCode) out.push_back(a.actions);
    return out;
}

void ButtonObject::tick() {
    // Highest depth first, like a clip's children.
    for (auto it = m_children.rbegin(); it != m_children.rend(); ++it)
        if (it->second->type() == Type::MovieClip) static_cast<MovieClip*>(it->second.get())->tick();
}

Rect ButtonObject::localBounds() const {
    Rect r;
    for (const auto& [depth, child] : m_children) r = unite(r, transformRect(child->matrix(), child->localBounds()));
    return r;
}

bool ButtonObject::hitTest(Point local) const {
    for (const auto& [depth, child] : m_hitChildren)
        if (child->hitTest(inverted(child->matrix()).map(local))) return true;
    return false;
}

void ButtonObject::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    MovieClip::drawChildren(m_children, out, world, cx);
}

} // namespace swf
