// XML and XMLNode: parsing, the node tree and serialising.
#include "engine/avm1/builtins.h"

namespace swf::avm1::builtins {

void installXml(Vm& vm, ScriptEngine& engine) {
    (void)vm;
    (void)engine;
}

} // namespace swf::avm1::builtins
