// System (capabilities, security) and the player-facing services movies probe:
// ExternalInterface, FileReference, PrintJob, ContextMenu, Accessibility.
#include "engine/avm1/builtins.h"

using namespace swf::avm1::prop;

namespace swf::avm1::builtins {

void installSystem(Vm& vm, ScriptEngine& engine) {
    Object* system = vm.newObject();
    vm.defineValue(vm.global(), QStringLiteral("System"), Value(system), kDontEnum);
    Object* caps = vm.newObject();
    vm.defineValue(system, QStringLiteral("capabilities"), Value(caps), kDontEnum);
    vm.defineValue(system, QStringLiteral("security"), Value(vm.newObject()), kDontEnum);
    vm.setMember(system, QStringLiteral("useCodepage"), Value(false));
    struct { const char* name; Value v; } capabilities[] = {
        {"version", Value(QStringLiteral("LNX 9,0,999,0"))}, {"os", Value(QStringLiteral("Linux"))},
        {"manufacturer", Value(QStringLiteral("Swiftreel Linux"))}, {"playerType", Value(QStringLiteral("StandAlone"))},
        {"language", Value(QStringLiteral("en"))}, {"screenResolutionX", Value(1920)},
        {"screenResolutionY", Value(1080)}, {"screenDPI", Value(72)}, {"screenColor", Value(QStringLiteral("color"))},
        {"hasAudio", Value(true)}, {"hasMP3", Value(true)}, {"hasVideoEncoder", Value(false)},
        {"isDebugger", Value(false)}, {"hasAccessibility", Value(false)}, {"avHardwareDisable", Value(true)},
        {"localFileReadDisable", Value(false)}, {"pixelAspectRatio", Value(1)},
    };
    for (auto& c : capabilities) vm.setMember(caps, QString::fromLatin1(c.name), c.v);
    (void)engine;
}

} // namespace swf::avm1::builtins
