// Selection: keyboard focus, tab order and the caret of input fields.
#include "engine/avm1/builtins.h"

namespace swf::avm1::builtins {

void installFocus(Vm& vm, ScriptEngine& engine) {
    (void)vm;
    (void)engine;
}

} // namespace swf::avm1::builtins
