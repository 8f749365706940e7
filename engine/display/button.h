#pragma once
// A button (DefineButton 1/2): shows the records of its current state (up,
// over, down) and is hit through the records of its hit state. The Player's
// input tracking drives its state; transitions go to the script host.
#include "engine/display/display_object.h"
#include "engine/display/script_host.h"

#include <map>

namespace swf {

class ButtonObject : public DisplayObject {
public:
    enum class State { Up, Over, Down };

    ButtonObject(Runtime& rt, std::shared_ptr<const ButtonDef> def, int nestingLevel = 0);
    ~ButtonObject() override;

    const ButtonDef& def() const { return *m_def; }
    State state() const { return m_state; }
    void setState(State s);
    bool enabled() const { return m_enabled; }
    void setEnabled(bool e) { m_enabled = e; }
    bool trackAsMenu() const { return m_def->trackAsMenu; }

    // The action bodies whose conditions match a transition.
    std::vector<std::span<const uint8_t>> actionsFor(ButtonEvent event) const;
    // The action bodies bound to a key (Flash key-press code 1..127).
    std::vector<std::span<const uint8_t>> actionsForKey(int keyPressCode) const;

    const std::map<int, std::unique_ptr<DisplayObject>>& children() const { return m_children; }
    // Steps the timelines of clips in the shown state.
    void tick();

    Rect localBounds() const override;
    // Tests the hit-state records, as Flash does for buttons.
    bool hitTest(Point local) const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

private:
    void buildState();

    std::shared_ptr<const ButtonDef> m_def;
    State m_state = State::Up;
    bool m_enabled = true;
    std::map<int, std::unique_ptr<DisplayObject>> m_children; // records of the shown state
    std::map<int, std::unique_ptr<DisplayObject>> m_hitChildren;
};

} // namespace swf
