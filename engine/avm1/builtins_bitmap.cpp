// flash.display.BitmapData and the flash.filters classes.
#include "engine/avm1/builtins.h"

namespace swf::avm1::builtins {

void installBitmap(Vm& vm, ScriptEngine& engine) {
    (void)vm;
    (void)engine;
}

} // namespace swf::avm1::builtins
