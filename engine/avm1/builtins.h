#pragma once
// Installers of the built-in classes and functions, one per file; the Vm
// calls them in order when it starts.
#include "engine/avm1/vm.h"

namespace swf::avm1::builtins {

void installObject(Vm& vm);   // Object, Function, Error, Boolean, globals
void installArray(Vm& vm);
void installString(Vm& vm);   // String, Number, Math
void installDate(Vm& vm);
void installClip(Vm& vm);     // MovieClip, Button, TextField prototypes
// Key, Mouse, Stage, System and the display methods of MovieClip, which need the player.
void installPlayerObjects(Vm& vm, ScriptEngine& engine);
// Keeps the built-in functions scripts reach by number (ASnative) as they are now.
void recordNativeIds(Vm& vm);

void installMedia(Vm& vm);    // Color, Sound
// Called at the end of installPlayerObjects, in this order.
void installGeom(Vm& vm);                          // flash.geom
void installBitmap(Vm& vm, ScriptEngine& engine);  // BitmapData, flash.filters
void installDrawing(Vm& vm, ScriptEngine& engine); // MovieClip drawing API
void installText(Vm& vm, ScriptEngine& engine);    // TextField, TextFormat, TextSnapshot, StyleSheet
void installFocus(Vm& vm, ScriptEngine& engine);   // Selection, focus, tab order
void installXml(Vm& vm, ScriptEngine& engine);     // XML, XMLNode
void installNet(Vm& vm, ScriptEngine& engine);     // LoadVars, MovieClipLoader, SharedObject, loading
void installSystem(Vm& vm, ScriptEngine& engine);  // System, ExternalInterface, FileReference, ...
void installVideo(Vm& vm, ScriptEngine& engine);   // Video, NetConnection, NetStream

// Helpers shared by the installers.
// A new plain object whose prototype is the called constructor's `prototype`.
inline Object* newInstance(Vm& vm, CallArgs& a) {
    Object* proto = a.callee ? vm.getMember(Value(static_cast<Object*>(a.callee)), QStringLiteral("prototype")).asObject() : nullptr;
    return vm.newObject(proto);
}
// _global.AsBroadcaster as it is now, from code of any version (movies see it from SWF 6 on,
// but the built-in broadcasters of every version are made with it).
inline Value broadcasterClass(Vm& vm) {
    const Property* p = vm.global()->find(vm.key(QStringLiteral("AsBroadcaster")));
    return p && !p->isVirtual() ? p->value : Value();
}
inline double argNumber(Vm& vm, CallArgs& a, size_t i, double fallback) {
    return i < a.size() && !a.at(i).isUndefined() ? vm.toNumber(a.at(i)) : fallback;
}

} // namespace swf::avm1::builtins
