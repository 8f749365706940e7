#pragma once
// Script objects: a property map with flags, getters/setters and watches,
// a prototype link, and the specialised kinds (functions, arrays, wrappers).
// Every object is owned by the Vm's heap and freed by its collector.
#include "engine/avm1/value.h"

#include <QHash>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace swf::avm1 {

class Vm;
class Object;
class FunctionObject;

// Property flags, as ASSetPropFlags numbers them.
namespace prop {
inline constexpr uint32_t kDontEnum = 1;
inline constexpr uint32_t kDontDelete = 2;
inline constexpr uint32_t kReadOnly = 4;
// Visible only from movies of this version on (the built-ins use these).
inline constexpr uint32_t kVersion6 = 1u << 7;
inline constexpr uint32_t kNotVersion6 = 1u << 8;
inline constexpr uint32_t kVersion7 = 1u << 10;
inline constexpr uint32_t kVersion8 = 1u << 12;
inline constexpr uint32_t kVersion9 = 1u << 13;
inline constexpr uint32_t kVersion10 = 1u << 14;
inline constexpr uint32_t kHidden = kDontEnum | kDontDelete; // built-in members
} // namespace prop

struct Property {
    QString name;
    Value value;
    Object* getter = nullptr; // addProperty: a getter makes this a virtual property
    Object* setter = nullptr;
    uint32_t flags = 0;
    int runningAccessors = 0; // getter/setter calls of this slot under way
    bool isVirtual() const { return getter != nullptr; }
};

// One link of a scope chain: an activation object, a `with` object, a
// timeline or _global.
// Chains are bounded by limits::kMaxScopeDepth and freed link by link, so
// a long one cannot overflow the native stack when it goes.
struct Scope {
    Scope(Object* o, std::shared_ptr<const Scope> up)
        : object(o), parent(std::move(up)), depth(parent ? parent->depth + 1 : 1) {}
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    Object* object = nullptr;
    mutable std::shared_ptr<const Scope> parent; // mutable only for the destructor's unlinking
    int depth = 1;                               // links from here to the end of the chain
};
using ScopePtr = std::shared_ptr<const Scope>;

enum class Kind : uint8_t {
    Object, Function, Array, String, Number, Boolean, Date, Clip, Button, TextField, Error, Arguments, Other
};

// The heap's mark callback, handed to markChildren.
using MarkFn = std::function<void(Object*)>;

// The native part of a built-in's instance (a Sound's mix, an XML node's
// links, a BitmapData's pixels). Each class derives its own type; methods
// reach it through Object::nativeAs<T>(), which gives null for any other
// type, so a method called on a foreign `this` finds nothing to work on.
struct NativeState {
    virtual ~NativeState() = default;
    // Marks the script objects the part refers to (the collector calls it).
    virtual void mark(const MarkFn& mark) const { (void)mark; }
};

// The prototype link is the object's own `__proto__` member (DontEnum and
// DontDelete from birth): scripts read, reassign, unhide and delete it like
// any other member, and the chain follows whatever object it holds.
inline QString protoKey() { return QStringLiteral("__proto__"); }

// Objects with up to this many members find them by a linear search; the
// hash index is made only for larger ones, so small objects stay small.
inline constexpr size_t kLinearMembers = 8;

class Object {
public:
    explicit Object(Object* proto, Kind kind = Kind::Object);
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Kind kind() const { return m_kind; }
    Object* proto() const { return m_proto; }
    // Points `__proto__` at p, making the member (DontEnum, DontDelete) when
    // the object has none.
    void setProto(Object* p);

    // Own properties, in creation order. Keys are folded by the caller
    // (lower case before SWF 7).
    Property* find(const QString& key);
    const Property* find(const QString& key) const;
    Property& define(const QString& key, const QString& name, const Value& v, uint32_t flags = 0);
    bool erase(const QString& key);
    // Stores a new value in an own member (the prototype link follows `__proto__`).
    void assign(Property& p, const Value& v);
    // Whether the members have outgrown the linear search (the hash index exists).
    bool indexed() const { return !m_index.isEmpty(); }
    const std::vector<Property>& properties() const { return m_props; }
    std::vector<Property>& properties() { return m_props; }

    // Special properties of derived kinds (array length and indices, clip
    // properties). Return true when the name was handled.
    virtual bool getSpecial(Vm&, const QString& name, Value& out) { (void)name; (void)out; return false; }
    virtual bool setSpecial(Vm&, const QString& name, const Value& v) { (void)name; (void)v; return false; }
    virtual bool hasSpecial(Vm&, const QString& name) { (void)name; return false; }
    virtual bool deleteSpecial(Vm&, const QString& name) { (void)name; return false; }
    // Names of the special members that for..in lists (array indices, child clips).
    virtual void specialKeys(Vm&, std::vector<QString>& out) { (void)out; }
    virtual void markChildren(const MarkFn& mark);
    // Forgets every member and link to other script objects: once a movie's
    // scripts are halted nothing reads them again, and the collector frees
    // what only they held.
    virtual void dropMembers();

    // A primitive held by wrappers (Number, String, Boolean) and Date (its time).
    Value primitive;
    // Watches set by Object.watch: key -> {callback, user data}.
    struct Watch { QString key; Object* callback = nullptr; Value data; };
    std::vector<Watch> watches;
    // Interfaces named by `implements` (on constructor functions).
    std::vector<Object*> interfaces;
    bool marked = false;

    // The object's native part when it is a T (or derives from one), else null.
    template <typename T>
    T* nativeAs() const { return dynamic_cast<T*>(m_native.get()); }
    // The native part as a T, made when the object has none yet; null when
    // it holds another type. A part, once given, stays for the object's
    // life, so a pointer to it survives any script a method calls.
    template <typename T>
    T* nativeOrMake() {
        if (!m_native) m_native = std::make_unique<T>();
        return nativeAs<T>();
    }

protected:
    Kind m_kind;
    std::vector<Property> m_props;
    std::vector<QString> m_keys; // the folded key of each member, in step with m_props
    QHash<QString, int> m_index; // key -> slot, once there are more than kLinearMembers

private:
    int slotOf(const QString& key) const;
    void reindex();
    void followProtoMember();
    Object* m_proto = nullptr; // the object `__proto__` holds, cached for chain walks
    std::unique_ptr<NativeState> m_native;
};

// Arguments given to a native function.
struct CallArgs {
    Value thisv;
    std::span<const Value> args;
    FunctionObject* callee = nullptr;
    const Value& at(size_t i) const {
        static const Value kUndefined{};
        return i < args.size() ? args[i] : kUndefined;
    }
    size_t size() const { return args.size(); }
    Object* thisObject() const { return thisv.asObject(); }
};
using NativeFn = Value (*)(Vm&, CallArgs&);

// Script code of a DefineFunction / DefineFunction2.
struct ScriptCode {
    QString name;
    // The body is copied: the block that defined it (a loaded movie, a
    // script's own buffer) may be gone while the function lives on.
    std::vector<uint8_t> code;
    std::vector<QString> params;
    std::vector<uint8_t> paramRegisters; // 0 = not in a register (DefineFunction2)
    uint8_t registerCount = 0;
    uint16_t flags = 0;                  // DefineFunction2 preload/suppress flags
    bool isFunction2 = false;
    int version = 0;
    std::shared_ptr<const std::vector<QString>> constantPool;
    ScopePtr scope;                      // the chain where the function was defined
    Object* target = nullptr;            // the timeline it was defined on
};

class FunctionObject : public Object {
public:
    FunctionObject(Object* proto, NativeFn fn) : Object(proto, Kind::Function), m_native(fn) {}
    FunctionObject(Object* proto, std::unique_ptr<ScriptCode> code)
        : Object(proto, Kind::Function), m_script(std::move(code)) {}

    NativeFn native() const { return m_native; }
    const ScriptCode* script() const { return m_script.get(); }
    // Native constructor used by `new` (Array, Date ...); null means: make a
    // plain object and call the function on it.
    NativeFn constructor = nullptr;
    // Free slot for natives made at run time (ASnative ids, bound values).
    Value data;
    void markChildren(const MarkFn& mark) override;

private:
    NativeFn m_native = nullptr;
    std::unique_ptr<ScriptCode> m_script;
};

class ArrayObject : public Object {
public:
    explicit ArrayObject(Object* proto) : Object(proto, Kind::Array) {}
    std::vector<Value> items;
    // A script's `length = v` reads back as v itself (-4, 3.4, "har") until
    // the elements change again.
    std::optional<Value> assignedLength;
    size_t assignedLengthFor = 0;
    // `length` is an own member with flags like any other (hidden and permanent).
    uint32_t lengthFlags = prop::kDontEnum | prop::kDontDelete;

    bool getSpecial(Vm&, const QString& name, Value& out) override;
    bool setSpecial(Vm&, const QString& name, const Value& v) override;
    bool hasSpecial(Vm&, const QString& name) override;
    bool deleteSpecial(Vm&, const QString& name) override;
    void specialKeys(Vm&, std::vector<QString>& out) override;
    void markChildren(const MarkFn& mark) override;
    void dropMembers() override;
    // Resizes within the array length limit and the script heap; false when refused.
    bool resize(Vm& vm, double length);
};

// An array index in a property name ("0", "12"), or -1.
int64_t arrayIndex(const QString& name);

} // namespace swf::avm1
