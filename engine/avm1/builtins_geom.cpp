// flash.geom: Point, Rectangle, Matrix, ColorTransform and Transform.
#include "engine/avm1/builtins.h"

namespace swf::avm1::builtins {

void installGeom(Vm& vm) {
    (void)vm;
}

} // namespace swf::avm1::builtins
