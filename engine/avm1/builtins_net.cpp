// Loading: LoadVars, MovieClipLoader, SharedObject and movies loaded into levels and clips.
#include "engine/avm1/builtins.h"

namespace swf::avm1::builtins {

void installNet(Vm& vm, ScriptEngine& engine) {
    (void)vm;
    (void)engine;
}

} // namespace swf::avm1::builtins
