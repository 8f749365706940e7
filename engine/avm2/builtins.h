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

// `this` of a method of Boolean, Number, int, uint or String: the primitive
// itself, or the class's default value (false, 0, "") when the method runs on
// one of `classes`' prototype objects; anything else is TypeError #1004.
template <typename Is>
Value primitiveThis(Vm& vm, const Value& self, Is is, const Value& dflt, std::initializer_list<const char*> classes,
                    const char* method) {
    if (is(self)) return self;
    for (const char* c : classes)
        if (self.isObject() && self.o == vm.builtin(c)->prototype) return dflt;
    vm.throwError(ErrorType::TypeError, 1004, {QString::fromLatin1(method)});
}

void installObjectClasses(Vm& vm);   // Object, Class, Function, Namespace, QName, Boolean, Number, int, uint, Error
void installStringClass(Vm& vm);
void installArrayClasses(Vm& vm);    // Array, Vector
void installMathAndDate(Vm& vm);
void installGlobals(Vm& vm);         // trace, parseInt, isNaN, escape, ...
void installRegExpClass(Vm& vm);
void installJson(Vm& vm);
void installFlashUtils(Vm& vm);
void installByteArray(Vm& vm);       // flash.utils.ByteArray
void installXmlClasses(Vm& vm);      // XML, XMLList      // flash.utils
void installDisplayClasses(Vm& vm);  // the minimal flash.display / flash.events tree

// flash.utils.Proxy: the flash_proxy namespace, and the operation `method` on a
// Proxy for a name its class does not declare (nullopt when `o` is no Proxy or
// declares the name). `extra` follows the name as arguments.
Namespace flashProxyNs();
Value proxyCall(Vm& vm, Object* proxy, const char* method, Args args); // proxy.flash_proxy::method(args)
std::optional<Value> proxyOperation(Vm& vm, Object* o, const Name& name, const char* method, Args extra = {});

// A string as the library's UTF-16 view, and back.
inline std::u16string_view u16(const QString& s) { return {reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size())}; }
inline QString qstr(std::u16string_view s) { return QString::fromUtf16(s.data(), qsizetype(s.size())); }

// The pattern of String's match, search, replace and split: a RegExp as it
// is, anything else compiled as `new RegExp(pattern)` would.
RegExpObject* regExpOf(Vm& vm, const Value& pattern);
// The first match of `re` in `subject` from `start`; a pattern too complex to
// finish in its step budget matches nothing.
avm2lib::RegExpMatch matchFrom(const RegExpObject& re, const QString& subject, int start);
// RegExp.exec: the match as an Array with index, input and the named groups,
// or null; moves lastIndex as the g flag asks.
Value regExpExec(Vm& vm, RegExpObject& re, const QString& subject);

// A ByteArray's numeric properties: its bytes. Get gives nullopt and set
// false for a name that is no byte index.
std::optional<Value> byteArrayIndexGet(ByteArrayObject& b, double index);
bool byteArrayIndexSet(Vm& vm, ByteArrayObject& b, double index, const Value& v);

// E4X (builtins_xml.cpp): new XML and XMLList objects, and property
// access on them as the VM's property operations hand it over.
Value makeXml(Vm& vm, avm2lib::xml::NodePtr node);
Value makeXmlList(Vm& vm, avm2lib::xml::NodeList nodes);
avm2lib::xml::NodeList toXmlListForInsert(Vm& vm, const Value& v);
avm2lib::xml::NameTest xmlNameTest(const Name& name);
Value xmlGet(Vm& vm, XmlObject& x, const Name& name);
void xmlSet(Vm& vm, XmlObject& x, const Name& name, const Value& v);
bool xmlDelete(Vm& vm, XmlObject& x, const Name& name);
bool xmlHas(XmlObject& x, const Name& name);
Value xmlDescendants(Vm& vm, const Value& obj, const Name& name); // the .. operator
// E4X equality (ECMA-357 11.5.1): same markup, or same text for simple content.
bool xmlEquals(Vm& vm, XmlObject& a, XmlObject& b);

// Array elements and length as property writes change them: an index or length far
// past the elements makes the array sparse. denseItems gives every element in
// order (holes marked), or RangeError #1000 when the length is too long for that.
void arraySetElement(Vm& vm, ArrayObject& a, uint32_t index, const Value& v);
void arraySetLength(ArrayObject& a, uint32_t length);
void arrayDeleteElement(ArrayObject& a, uint32_t index);
std::vector<Value>& denseItems(Vm& vm, ArrayObject& a);

// ToString of Array.join and Vector.join: undefined and null elements are
// empty unless `writeNulls`.
QString joinValues(Vm& vm, const std::vector<Value>& items, const QString& sep, bool writeNulls = false);

} // namespace swf::avm2
