#pragma once
// Helpers shared by the graphics built-ins (flash.geom, BitmapData, filters,
// the drawing API).
#include "engine/avm1/builtins.h"
#include "engine/swf/types.h"

#include <memory>

namespace swf::render {
struct FilterDef;
}
namespace swf {
class BitmapSurface;
class DisplayObject;
}

namespace swf::avm1::builtins::gfx {

// The object at a dotted package path under _global ("flash.geom"),
// made where missing and kept where another installer already made it.
Object* package(Vm& vm, const QString& dotted);
// A member of an object as a number (NaN for undefined in movies 7+).
double number(Vm& vm, Object* o, const char* name);
// A class constructor looked up in a package ("flash.geom", "Matrix").
Value classOf(Vm& vm, const char* packageName, const char* className);
// A new instance of a flash.geom class with numeric arguments.
Value newGeom(Vm& vm, const char* className, std::initializer_list<double> args);

// Conversions between flash.geom objects and engine values. Matrices are in
// pixels for scripts and twips (translation) in the engine.
Matrix matrixFrom(Vm& vm, Object* m);
Value matrixValue(Vm& vm, const Matrix& m);
ColorTransform colorTransformFrom(Vm& vm, Object* ct);
Value colorTransformValue(Vm& vm, const ColorTransform& cx);

// Product of an object's matrices from the root down (twips).
Matrix worldMatrixOf(const DisplayObject& o);

// flash.filters and MovieClip.filters (installed with BitmapData).
void installFilters(Vm& vm);
// The settings of a flash.filters object as the renderer takes them; false for
// anything else and for a filter the renderer cannot draw.
bool filterDefOf(const Value& filter, render::FilterDef& out);

// The pixels of a BitmapData object; null for anything else and for a
// disposed bitmap.
std::shared_ptr<BitmapSurface> surfaceOf(const Value& v);

} // namespace swf::avm1::builtins::gfx

