#pragma once
// The core library: each install function defines its classes and global
// functions on the VM's top level.
#include "engine/avm2/vm.h"

namespace swf::avm2 {

inline Value arg(Args a, size_t i) { return i < a.size() ? a[i] : Value(); }

// `self` as an instance of T, or TypeError #1034 naming the expected class.
template <typename T> T* thisAs(Vm& vm, const Value& self, const char* cls) {
    if (self.isObject())
        if (T* t = self.o->as<T>()) return t;
    vm.throwError(ErrorType::TypeError, 1034, {vm.describeForError(self), QString::fromLatin1(cls)});
}

void installObjectClasses(Vm& vm);   // Object, Class, Function, Namespace, QName, Boolean, Number, int, uint, Error
void installStringClass(Vm& vm);
void installArrayClasses(Vm& vm);    // Array, Vector
void installMathAndDate(Vm& vm);
void installGlobals(Vm& vm);         // trace, parseInt, isNaN, escape, ...
void installFlashUtils(Vm& vm);      // flash.utils
void installDisplayClasses(Vm& vm);  // the minimal flash.display / flash.events tree

// ToString of Array.join and Vector.join: undefined and null elements are
// empty unless `writeNulls`.
QString joinValues(Vm& vm, const std::vector<Value>& items, const QString& sep, bool writeNulls = false);

} // namespace swf::avm2
