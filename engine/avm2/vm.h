#pragma once
// The ActionScript 3 virtual machine: loaded ABC blocks, the global
// definitions, the value operations of ECMA-262 as AS3 defines them,
// property access by multiname, calls and the heap. One per movie, owned
// by its ScriptHost; runs on the player's thread.
#include "engine/avm2/abc.h"
#include "engine/avm2/object.h"
#include "engine/avm2/value.h"
#include "engine/core/result.h"
#include "engine/core/script_budget.h"

#include <QStringList>
#include <QTimeZone>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace swf::avm2 {

// What the display classes ask of the player (implemented by the ScriptHost).
class DisplayBridge {
public:
    virtual ~DisplayBridge() = default;
    virtual uint32_t currentFrame(uint64_t serial) = 0; // 1-based
    virtual uint32_t totalFrames(uint64_t serial) = 0;
    virtual void play(uint64_t serial, bool playing) = 0;
    virtual void gotoFrame(uint64_t serial, uint32_t frame, bool play) = 0;
    virtual QString name(uint64_t serial) = 0;
};

// One loaded ABC block and the runtime state made from it.
struct AbcUnit {
    std::shared_ptr<const AbcFile> abc;
    std::vector<std::unique_ptr<Method>> methods;
    std::vector<ClassObject*> classes;     // by class index, once newclass made them
    std::vector<Object*> scriptGlobals;    // by script index
    std::vector<uint8_t> scriptState;      // 0 not run, 1 running, 2 done
    std::vector<int8_t> verified;          // per body: 0 not yet, 1 passed, -1 refused
    std::vector<std::vector<uint8_t>> instructionStarts; // per verified body
    std::vector<std::pair<int, QStringList>> verifyErrors; // per body, the refusal
    std::vector<std::unique_ptr<Traits>> activationTraits; // per body, made on first use
    // The catch scope of each handler (by body and handler index): one slot typed as the
    // caught type, and a class named after the variable, as errors name it.
    struct CatchScope { std::unique_ptr<Traits> traits; ClassObject* klass = nullptr; };
    std::map<std::pair<int, uint32_t>, CatchScope> catchScopes;
};

// A property name as the instructions use it: one name, a set of namespaces.
struct Name {
    QString name;
    const Namespace* nss = nullptr;
    size_t nsCount = 0;
    Namespace own;       // a runtime namespace
    Value key;           // a runtime name that is an object (Dictionary keys)
    bool anyName = false;
    bool anyNs = false;
    bool attribute = false;
    bool matches(const Namespace& ns) const {
        if (anyNs) return true;
        for (size_t i = 0; i < nsCount; ++i)
            if (nss[i] == ns) return true;
        return false;
    }
    // Dynamic properties live in the public namespace.
    bool includesPublic() const;
    static Name publicName(const QString& n);
};

// Error classes the VM throws itself.
enum class ErrorType : uint8_t { Error, TypeError, ReferenceError, ArgumentError, RangeError, VerifyError, EvalError, SecurityError, SyntaxError, UriError, IOError, EOFError, MemoryError };

// An ActionScript exception in flight (thrown by `throw` or a failing instruction).
struct ScriptThrow { Value value; };
// A breached limit: the movie's scripts stop; never caught by scripts.
struct ScriptHalt { std::string reason; };

class Vm {
public:
    explicit Vm(std::function<void(const QString&)> trace);
    ~Vm();
    Vm(const Vm&) = delete;
    Vm& operator=(const Vm&) = delete;

    // Loads an ABC block; a block that is not lazy runs its entry script.
    Result<AbcUnit*> load(std::span<const uint8_t> bytes, bool lazy);
    void trace(const QString& line) { if (m_trace) m_trace(line); }
    ScriptBudget& budget() { return m_budget; }
    // Work done (an instruction, or elements a built-in walks); a spent tick
    // halts the movie's scripts.
    void chargeWork(uint64_t units = 1) {
        if (!m_budget.chargeWork(units)) halt();
    }
    // Stops the movie's scripts with the budget's first breach as the reason.
    [[noreturn]] void halt() { throw ScriptHalt{m_budget.breach().toStdString()}; }

    // ---- Heap
    template <typename T> T* make() {
        auto obj = std::make_unique<T>();
        T* raw = obj.get();
        if (!m_budget.chargeObject(sizeof(T))) halt();
        m_heap.push_back(std::move(obj));
        return raw;
    }
    Object* newObject();                       // a plain Object
    ArrayObject* newArray(std::vector<Value> items = {});
    FunctionObject* newNative(const QString& name, NativeFn fn, int arity);
    // Mark-and-sweep from the roots and `extraRoots`; only between script runs.
    void collectGarbage(const std::vector<Value>& extraRoots);
    size_t heapObjects() const { return m_heap.size(); }

    // ---- Conversions (ECMA-262 as AS3 defines them)
    QString toString(const Value& v);
    double toNumber(const Value& v);
    bool toBoolean(const Value& v);
    Value toPrimitive(const Value& v, bool hintString = false);
    int32_t toInt(const Value& v) { return toInt32(toNumber(v)); }
    uint32_t toUint(const Value& v) { return toUint32(toNumber(v)); }
    QString typeOf(const Value& v);
    bool strictEquals(const Value& a, const Value& b);
    bool looseEquals(const Value& a, const Value& b);
    // a < b: true, false, or undefined (NaN) as -1
    int lessThan(const Value& a, const Value& b);
    Value add(const Value& a, const Value& b);
    // The class a value is an instance of (int, Number, String, ... for primitives).
    ClassObject* classOf(const Value& v);
    bool isInstanceOf(const Value& v, ClassObject* c);     // is / istype
    Value coerceTo(const Value& v, ClassObject* type);     // coerce, typed slots and parameters
    QString describeForError(const Value& v);              // "[object Foo]" style, as errors name values

    // ---- Properties
    Value getProperty(const Value& obj, const Name& name);
    Value primitiveProperty(const Value& obj, const Name& name, bool& found);
    void setProperty(const Value& obj, const Name& name, const Value& v, bool init = false);
    bool deleteProperty(const Value& obj, const Name& name);
    bool hasProperty(const Value& obj, const Name& name);
    Value callProperty(const Value& obj, const Name& name, Args args, bool lex = false);
    Value constructProperty(const Value& obj, const Name& name, Args args);
    Value getPublic(const Value& obj, const QString& name) { return getProperty(obj, Name::publicName(name)); }
    void setPublic(const Value& obj, const QString& name, const Value& v) { setProperty(obj, Name::publicName(name), v); }
    // The declared binding of `name` in the traits of `obj` (its class's, or its own).
    const Binding* findBinding(Object* obj, const Name& name);
    // Enumeration: the cursor after `index` (0 = end) and what it names.
    int nextIndex(Object* obj, int index);
    Value nameAt(Object* obj, int index);
    Value valueAt(Object* obj, int index);

    // ---- Calls
    Value call(const Value& f, const Value& self, Args args);
    Value construct(const Value& f, Args args);
    // `callee` is the function object called, when there is one (the arguments object names it).
    Value invoke(Method* m, const Value& self, Args args, const ScopeChain* scope, ClassObject* home, FunctionObject* callee = nullptr);
    Value callBinding(Object* holder, const Binding& b, const Value& self, Args args);
    FunctionObject* methodClosure(const Binding& b, const Value& self);
    FunctionObject* newFunction(Method* m, ScopeChain scope, ClassObject* home);

    // ---- Errors
    [[noreturn]] void throwError(ErrorType type, int id, const QStringList& params = {});
    [[noreturn]] void throwValue(const Value& v) { throw ScriptThrow{v}; }
    Value makeError(ErrorType type, int id, const QStringList& params = {});
    // The line the debug player prints for an uncaught error.
    QString uncaughtText(const Value& v);

    // ---- Definitions
    // The global definitions: built-ins first, then each script's exports.
    // Finding one in a lazy block runs its script.
    Object* findDefinition(const Name& name);
    ClassObject* classByQualifiedName(const QString& name);   // "flash.display.MovieClip", "Foo"
    ClassObject* builtin(const char* name);
    Object* toplevel() const { return m_toplevel; }
    void defineBuiltin(const Namespace& ns, const QString& name, const Value& v);
    ClassObject* defineClass(const QString& qualifiedName, ClassObject* base, Object* (*allocate)(Vm&, ClassObject*),
                             NativeFn ctor, int ctorArity = 0);
    void defineMethod(ClassObject* c, const QString& name, NativeFn fn, int arity = 0); // prototype member
    void defineFixedMethod(ClassObject* c, const QString& name, NativeFn fn, int arity = 0,
                           const Namespace* ns = nullptr); // instance trait, public unless `ns`
    void defineAccessor(ClassObject* c, const QString& name, NativeFn getter, NativeFn setter = nullptr);
    void defineStatic(ClassObject* c, const QString& name, NativeFn fn, int arity = 0, int required = 0);
    void defineStaticAccessor(ClassObject* c, const QString& name, NativeFn getter, NativeFn setter = nullptr);
    void defineConstant(ClassObject* c, const QString& name, const Value& v);
    void defineSlot(ClassObject* c, const QString& name, const Value& initial); // instance variable
    // A new instance of a class, allocated as its nearest native base requires.
    Object* allocateInstance(ClassObject* c);
    Namespace publicNs() const { return Namespace{NsKind::Package, QString(), 0}; }
    static Namespace packageNs(const QString& uri) { return Namespace{NsKind::Package, uri, 0}; }
    Value applyType(const Value& factory, Args params);

    // ---- ABC helpers used by the interpreter and verifier
    Value constant(AbcUnit& unit, const ConstantRef& c);
    ClassObject* resolveType(AbcUnit& unit, uint32_t multiname, bool strict = true); // null for `*`
    void runScript(AbcUnit& unit, size_t index);
    Traits* activationTraits(AbcUnit& unit, int body);
    void buildTraits(AbcUnit& unit, Traits& traits, const std::vector<Trait>& list, ClassObject* home, Object* holder,
                     const ScopeChain* scope, uint32_t baseSlots);
    void initSlots(Object* obj);
    // Checks a method body before its first run; a refusal gives Flash's VerifyError number.
    struct VerifyFailure { int id = 0; QStringList params; };
    std::optional<VerifyFailure> verify(AbcUnit& unit, int body);
    Value interpret(AbcUnit& unit, Method& m, const Value& self, Args args, const ScopeChain& outer, ClassObject* home,
                    FunctionObject* callee = nullptr);
    ClassObject* newClass(AbcUnit& unit, uint32_t index, ClassObject* base, const ScopeChain& scope);
    int callDepth() const { return m_depth; }
    // Debug information of the running methods, for stack traces.
    struct FrameInfo { Method* method; ClassObject* home; int line; QString file; };
    std::vector<FrameInfo>& frames() { return m_frames; }
    QString stackTrace();
    Value stringProperty(const QString& s, const Name& name, bool& found);

    std::vector<std::unique_ptr<AbcUnit>> units;
    std::vector<std::unique_ptr<Method>> nativeMethods;
    std::vector<std::function<void(std::vector<Value>&)>> rootProviders; // the host's own roots
    double (*clock)() = nullptr; // ms since the movie started (getTimer)
    struct Timer { int id; double due; double interval; bool repeat; Value fn; std::vector<Value> args; };
    std::vector<Timer> timers;
    int nextTimerId = 1;
    double nowMs = 0; // the movie clock, advanced by the host
    double dateNowMs = std::nan(""); // fixed Date.now for reproducible runs, NaN = wall clock
    std::optional<QTimeZone> dateZone; // Date's local zone; empty: the system's
    uint32_t byteArrayDefaultEncoding = 3; // ByteArray.defaultObjectEncoding: AMF3
    DisplayBridge* display = nullptr;
    avm2lib::xml::Settings xmlSettings; // XML.ignoreComments and the other statics
    // The movie's one application domain (flash.system.ApplicationDomain.currentDomain, made
    // on first use) and the ByteArray its memory instructions address, or null.
    Object* currentDomain = nullptr;
    Value domainMemory = Value::null();
    ByteArrayObject* domainMemoryBuffer() { return domainMemory.isObject() ? domainMemory.o->as<ByteArrayObject>() : nullptr; }

private:
    friend class Interpreter;
    void installBuiltins();
    ClassObject* globalClass();
    ClassObject* interfaceAhead(AbcUnit& unit, uint32_t multiname, const ScopeChain& scope);
    Method* addNativeMethod(Traits& traits, const QString& name, NativeFn fn, int arity, ClassObject* home,
                            const Namespace* ns = nullptr);
    void addNativeAccessor(Traits& traits, const QString& name, NativeFn getter, NativeFn setter);
    Value lookupTraitOrProto(Object* o, const Name& name, const Value& self, bool& found);

    std::function<void(const QString&)> m_trace;
    ScriptBudget m_budget;
    std::vector<std::unique_ptr<Object>> m_heap;
    Object* m_toplevel = nullptr;
    struct Definition { Namespace ns; QString name; AbcUnit* unit; size_t script; };
    std::vector<Definition> m_definitions;
    QHash<QString, ClassObject*> m_builtinClasses; // by qualified name
    int m_depth = 0;
    int m_makingError = 0; // nesting of makeError: error objects get room past the call limit
    static constexpr int kErrorHeadroom = 16;
    std::vector<FrameInfo> m_frames;
    uint64_t m_privateIds = 0;
    ClassObject* m_globalClass = nullptr;
    std::vector<ClassObject**> m_interfacesAhead; // interfaces being made ahead, against cycles
};

} // namespace swf::avm2
