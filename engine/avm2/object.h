#pragma once
// Script objects of the ActionScript 3 VM: declared traits (slots, methods,
// accessors) shared per class, dynamic properties per object, a prototype
// link. The Vm's heap owns every object; values hold plain pointers.
#include "engine/avm2/abc.h"
#include "engine/avm2/lib/byte_array.h"
#include "engine/avm2/lib/regexp.h"
#include "engine/avm2/lib/xml.h"
#include "engine/avm2/value.h"

#include <QHash>

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

namespace swf::avm2 {

class Vm;
class ClassObject;
class Object;
using Args = std::span<const Value>;
using NativeFn = Value (*)(Vm&, const Value& self, Args args);

// The code of a method: a method_info of an ABC block, or a native function.
struct Method {
    std::shared_ptr<const AbcFile> abc;
    struct AbcUnit* unit = nullptr;
    int index = -1; // method_info index
    NativeFn native = nullptr;
    QString name;
    QString label; // how stack traces and verify errors name it ("Foo/bar", "Foo$cinit")
    int arity = 0; // `length` of a native function
    bool closure = false; // made by newfunction: surplus arguments are dropped
    int required = 0;     // natives: fewer arguments are ArgumentError #1063
    const MethodInfo& info() const { return abc->methods[size_t(index)]; }
};

// What a scope chain entry is: a plain scope searches declared traits only;
// a with-scope also searches dynamic properties.
struct ScopeEntry {
    Value object;
    bool with = false;
};
using ScopeChain = std::vector<ScopeEntry>;

struct SlotInfo {
    QString name;
    uint32_t typeName = 0;                  // multiname in `unit`, 0 = *
    struct AbcUnit* unit = nullptr;
    ClassObject* type = nullptr;            // resolved lazily
    bool typeResolved = false;
    bool isConst = false;
    Value initial;
};

struct Binding {
    enum class Kind : uint8_t { Slot, Method, Accessor };
    Kind kind = Kind::Slot;
    Namespace ns;
    QString name;
    uint32_t slot = 0;             // Slot: 0-based index into Object::slotValues
    Method* method = nullptr;      // Method
    Method* getter = nullptr;      // Accessor
    Method* setter = nullptr;
    ClassObject* home = nullptr;   // class whose scope the method runs in (null: script or native)
    uint32_t dispId = 0;
};

// The declared traits of a kind of object (class instances, a class's
// statics, a script's global object, an activation).
struct Traits {
    std::vector<Binding> bindings;
    std::vector<SlotInfo> slotDefs;
    QHash<QString, std::vector<uint32_t>> byName;
    void add(Binding b) {
        for (uint32_t i : byName.value(b.name))
            if (bindings[i].ns == b.ns) {
                // An override, or a getter meeting its setter.
                Binding& old = bindings[i];
                if (b.kind == Binding::Kind::Accessor && old.kind == Binding::Kind::Accessor) {
                    if (b.getter) old.getter = b.getter;
                    if (b.setter) old.setter = b.setter;
                    old.home = b.home;
                } else {
                    old = std::move(b);
                }
                return;
            }
        byName[b.name].push_back(uint32_t(bindings.size()));
        bindings.push_back(std::move(b));
    }
};

// Dynamic properties in insertion order, with the DontEnum flag that
// built-in prototype members carry.
class PropertyMap {
public:
    struct Entry { QString name; Value value; bool enumerable = true; bool deleted = false; };
    Value* find(const QString& name) {
        auto it = m_index.find(name);
        return it == m_index.end() ? nullptr : &m_entries[*it].value;
    }
    const Entry* entry(const QString& name) const {
        auto it = m_index.find(name);
        return it == m_index.end() ? nullptr : &m_entries[*it];
    }
    void set(const QString& name, Value v, bool enumerable = true) {
        auto it = m_index.find(name);
        if (it != m_index.end()) { m_entries[*it].value = std::move(v); return; }
        m_index.insert(name, uint32_t(m_entries.size()));
        m_entries.push_back(Entry{name, std::move(v), enumerable, false});
    }
    bool remove(const QString& name) {
        auto it = m_index.find(name);
        if (it == m_index.end()) return false;
        m_entries[*it].deleted = true;
        m_entries[*it].value = Value();
        m_index.erase(it);
        if (m_entries.size() > 64 && size_t(m_index.size()) < m_entries.size() / 2) compact();
        return true;
    }
    void setEnumerable(const QString& name, bool e) {
        auto it = m_index.find(name);
        if (it != m_index.end()) m_entries[*it].enumerable = e;
    }
    const std::vector<Entry>& entries() const { return m_entries; }
    size_t size() const { return size_t(m_index.size()); }

private:
    void compact() {
        std::vector<Entry> keep;
        m_index.clear();
        for (auto& e : m_entries)
            if (!e.deleted) { m_index.insert(e.name, uint32_t(keep.size())); keep.push_back(std::move(e)); }
        m_entries = std::move(keep);
    }
    std::vector<Entry> m_entries;
    QHash<QString, uint32_t> m_index;
};

class Object {
public:
    enum class Type : uint8_t { Plain, Function, Class, Array, Namespace, QName, Error, Date, Activation, Global, Boxed, Vector, Dictionary, Display, RegExp, Xml, ByteArray, Proxy };
    explicit Object(Type t = Type::Plain) : m_type(t) {}
    virtual ~Object() = default;
    Type type() const { return m_type; }

    // Checked access to a native kind of object: null when it is not one.
    template <typename T> T* as() { return m_type == T::kType ? static_cast<T*>(this) : nullptr; }
    template <typename T> const T* as() const { return m_type == T::kType ? static_cast<const T*>(this) : nullptr; }

    // The garbage collector's walk: every value this object holds.
    virtual void visit(const std::function<void(const Value&)>& f) const;
    virtual size_t approxBytes() const { return sizeof(Object) + slotValues.size() * sizeof(Value) + dynamic.size() * 64; }

    Traits* traits = nullptr;       // declared traits (shared), may be null
    std::vector<Value> slotValues;
    PropertyMap dynamic;
    Object* proto = nullptr;
    ClassObject* klass = nullptr;   // the class this is an instance of
    bool sealed = false;            // no dynamic properties may be added
    bool marked = false;

private:
    Type m_type;
};

// A callable: a function closure, a method closure (bound `this`) or a native.
class FunctionObject : public Object {
public:
    static constexpr Type kType = Type::Function;
    FunctionObject() : Object(kType) {}
    void visit(const std::function<void(const Value&)>& f) const override;
    Method* method = nullptr;
    ScopeChain scope;
    ClassObject* home = nullptr;    // for methods: the declaring class (super, protected names)
    bool bound = false;             // a method closure: `boundThis` is always the receiver
    Value boundThis;
    Object* prototypeObject = nullptr; // made on first use of `prototype`
};

class ClassObject : public Object {
public:
    static constexpr Type kType = Type::Class;
    ClassObject() : Object(kType) {}
    void visit(const std::function<void(const Value&)>& f) const override;
    Namespace ns;
    QString name;
    QString qualifiedName() const { return ns.uri.isEmpty() || ns.kind == NsKind::Private ? name : ns.uri + QStringLiteral("::") + name; }
    ClassObject* base = nullptr;
    std::vector<ClassObject*> interfaces;
    bool isInterface = false;
    bool isFinal = false;
    bool instancesSealed = true;
    Traits instanceTraits;
    Traits classTraits;
    Object* prototype = nullptr;
    ScopeChain scope;                // captured at newclass; methods see it plus the class
    Method* iinit = nullptr;
    // Natives: how an instance of this class (or a subclass) is made, and
    // what calling the class as a function does.
    Object* (*allocate)(Vm&, ClassObject*) = nullptr;
    NativeFn call = nullptr;
    // Vector.<T>: the element type, and the parameterised classes made from a generic.
    ClassObject* elementType = nullptr;
    bool isGeneric = false;
    std::map<ClassObject*, ClassObject*> applied;
    ClassObject* appliedAny = nullptr;
    bool isSubclassOf(const ClassObject* other) const;
};

class ArrayObject : public Object {
public:
    static constexpr Type kType = Type::Array;
    ArrayObject() : Object(kType) {}
    void visit(const std::function<void(const Value&)>& f) const override;
    size_t approxBytes() const override { return Object::approxBytes() + (items.size() + sparse.size() * 2) * sizeof(Value); }
    // The elements from 0 (holes marked), then, for an array whose length reaches far past
    // them (a[4e9] = x), the elements beyond kept by index.
    std::vector<Value> items;
    std::map<uint32_t, Value> sparse; // every key >= items.size()
    uint32_t sparseLength = 0;        // the length when it is past items.size(), else 0
    uint32_t length() const { return std::max(uint32_t(items.size()), sparseLength); }
    bool isSparse() const { return sparseLength > items.size(); }
    // The element at `i`, or null for a hole.
    const Value* element(uint32_t i) const {
        if (i < items.size()) return items[i].isHole() ? nullptr : &items[i];
        auto it = sparse.find(i);
        return it == sparse.end() ? nullptr : &it->second;
    }
};

// Vector.<T>: typed, optionally fixed-length.
class VectorObject : public Object {
public:
    static constexpr Type kType = Type::Vector;
    VectorObject() : Object(kType) {}
    void visit(const std::function<void(const Value&)>& f) const override;
    size_t approxBytes() const override { return Object::approxBytes() + items.size() * sizeof(Value); }
    std::vector<Value> items;
    bool fixed = false;
};

class NamespaceObject : public Object {
public:
    static constexpr Type kType = Type::Namespace;
    NamespaceObject() : Object(kType) {}
    Namespace ns;
    QString prefix;
    bool hasPrefix = false;
};

class QNameObject : public Object {
public:
    static constexpr Type kType = Type::QName;
    QNameObject() : Object(kType) {}
    Namespace ns;
    bool anyNs = false;
    bool attribute = false; // names an XML attribute (what flash_proxy's isAttribute answers)
    QString localName;
};

// A flash.utils.Proxy: what its class does not declare, its flash_proxy methods handle.
class ProxyObject : public Object {
public:
    static constexpr Type kType = Type::Proxy;
    ProxyObject() : Object(kType) {}
};

// Boolean, Number and String objects made with `new` keep their primitive.
class BoxedObject : public Object {
public:
    static constexpr Type kType = Type::Boxed;
    BoxedObject() : Object(kType) {}
    void visit(const std::function<void(const Value&)>& f) const override;
    Value value;
};

class DateObject : public Object {
public:
    static constexpr Type kType = Type::Date;
    DateObject() : Object(kType) {}
    double time = std::nan(""); // ms since 1970 UTC
};

class ErrorObject : public Object {
public:
    static constexpr Type kType = Type::Error;
    ErrorObject() : Object(kType) {}
    QString stackTrace; // "\tat ..." lines, set when thrown with debug information
    int errorId = 0;
};

class DictionaryObject : public Object {
public:
    static constexpr Type kType = Type::Dictionary;
    DictionaryObject() : Object(kType) {}
    void visit(const std::function<void(const Value&)>& f) const override;
    std::vector<std::pair<Object*, Value>> objectKeys; // object keys by identity, in insertion order
    bool weakKeys = false;
};

// A RegExp: the compiled pattern and the lastIndex that global matching moves.
class RegExpObject : public Object {
public:
    static constexpr Type kType = Type::RegExp;
    RegExpObject() : Object(kType) {}
    avm2lib::RegExp re;          // invalid when the source does not compile: matches nothing
    QString source;
    avm2lib::RegExpFlags flags;
    double lastIndex = 0;
};

// flash.utils.ByteArray: the buffer and the AMF version readObject and writeObject use.
class ByteArrayObject : public Object {
public:
    static constexpr Type kType = Type::ByteArray;
    ByteArrayObject() : Object(kType) {}
    size_t approxBytes() const override { return Object::approxBytes() + data.length(); }
    avm2lib::ByteArray data;
    uint32_t objectEncoding = 3;
};

// XML and XMLList: an XML holds one node, an XMLList any number. The roots
// of the nodes' trees are held too: parent links are weak.
class XmlObject : public Object {
public:
    static constexpr Type kType = Type::Xml;
    XmlObject() : Object(kType) {}
    size_t approxBytes() const override { return Object::approxBytes() + nodes.size() * 256; }
    void setNodes(avm2lib::xml::NodeList list);
    avm2lib::xml::NodeList nodes;
    avm2lib::xml::NodeList roots;
    bool isList = false;
};

// Every flash.events.EventDispatcher: its listeners, and for display
// objects the timeline object of the player it stands for.
class DispatcherObject : public Object {
public:
    static constexpr Type kType = Type::Display;
    DispatcherObject() : Object(kType) {}
    void visit(const std::function<void(const Value&)>& f) const override;
    struct Listener { QString type; Value fn; bool capture = false; int priority = 0; };
    std::vector<Listener> listeners;
    uint64_t serial = 0;                   // the display object, 0 when none
    std::map<uint32_t, Value> frameScripts; // addFrameScript: 0-based frame -> function
};

} // namespace swf::avm2
