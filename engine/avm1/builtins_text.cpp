// TextField, TextFormat, TextSnapshot and TextField.StyleSheet.
#include "engine/avm1/builtins.h"

namespace swf::avm1::builtins {

void installText(Vm& vm, ScriptEngine& engine) {
    (void)vm;
    (void)engine;
}

} // namespace swf::avm1::builtins
