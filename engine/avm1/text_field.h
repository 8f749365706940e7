#pragma once
// The script properties of text fields (text, htmlText, scroll, textColor ...),
// read and written on the field itself like a clip's _x, so they reach the
// display object before any variable of the same name.
#include "engine/avm1/vm.h"

namespace swf {
class EditTextObject;
}

namespace swf::avm1 {
class DisplayClip;
}

namespace swf::avm1::builtins {

// True when `name` is a text field property (handled, with `out` set).
bool textFieldGet(Vm& vm, DisplayClip& clip, EditTextObject& field, const QString& name, Value& out);
bool textFieldSet(Vm& vm, DisplayClip& clip, EditTextObject& field, const QString& name, const Value& v);

} // namespace swf::avm1::builtins
