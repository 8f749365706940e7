// The MovieClip drawing API: lines, fills, gradients and curves drawn by scripts.
#include "engine/avm1/builtins.h"

namespace swf::avm1::builtins {

void installDrawing(Vm& vm, ScriptEngine& engine) {
    (void)vm;
    (void)engine;
}

} // namespace swf::avm1::builtins
