#include "engine/display/script_host.h"

#include "engine/display/button.h"

namespace swf {

std::optional<ClipEvent> clipEventFor(ButtonEvent event) {
    switch (event) {
    case ButtonEvent::RollOver: return ClipEvent::RollOver;
    case ButtonEvent::RollOut: return ClipEvent::RollOut;
    case ButtonEvent::Press: return ClipEvent::Press;
    case ButtonEvent::Release: return ClipEvent::Release;
    case ButtonEvent::DragOut: case ButtonEvent::MenuDragOut: return ClipEvent::DragOut;
    case ButtonEvent::DragOver: case ButtonEvent::MenuDragOver: return ClipEvent::DragOver;
    case ButtonEvent::ReleaseOutside: return ClipEvent::ReleaseOutside;
    }
    return std::nullopt;
}

bool ScriptHost::tracksAsMenu(DisplayObject& obj) {
    return obj.type() == DisplayObject::Type::Button && static_cast<ButtonObject&>(obj).trackAsMenu();
}

bool ScriptHost::buttonEnabled(ButtonObject& button) { return button.enabled(); }

} // namespace swf
