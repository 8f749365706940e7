#pragma once
// The script properties of text fields (text, htmlText, scroll, textColor ...),
// read and written on the field itself like a clip's _x, so they reach the
// display object before any variable of the same name.
#include "engine/avm1/vm.h"

#include <unordered_map>

namespace swf {
class EditTextObject;
struct TextFormatPatch;
}

namespace swf::avm1 {
class DisplayClip;
}

namespace swf::avm1::builtins {

// True when `name` is a text field property (handled, with `out` set).
bool textFieldGet(Vm& vm, DisplayClip& clip, EditTextObject& field, const QString& name, Value& out);
bool textFieldSet(Vm& vm, DisplayClip& clip, EditTextObject& field, const QString& name, const Value& v);

// TextFormat objects: a new one with the fields a patch sets (display is
// "block"), whether an object is one, and the fields it sets.
Object* newTextFormatObject(Vm& vm, const TextFormatPatch& p);
bool isTextFormatObject(Object* o);
TextFormatPatch textFormatPatchOf(Vm& vm, Object* o);

// TextField.StyleSheet, a member of the TextField constructor.
void installStyleSheet(Vm& vm, Object* textFieldCtor);
// The TextFormats of a style sheet by lower-case selector ("p", ".note").
std::unordered_map<QString, TextFormatPatch> styleSheetFormats(Vm& vm, const Value& sheet);

} // namespace swf::avm1::builtins
