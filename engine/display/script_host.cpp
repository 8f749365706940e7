#include "engine/display/script_host.h"

#include "engine/avm1/script_engine.h"

namespace swf {

std::function<std::unique_ptr<ScriptHost>(Player&)> defaultScriptHostFactory() {
    return avm1ScriptHostFactory();
}

} // namespace swf
