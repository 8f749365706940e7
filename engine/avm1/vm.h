#pragma once
// The ActionScript 1/2 virtual machine: heap, globals, conversions, member
// access, calls and the action interpreter. One Vm per player; it runs the
// code of one root movie (whose version sets the language rules) and every
// movie loaded into it. Objects live on the Vm's heap and are collected
// between frames, never while a script runs.
#include "engine/avm1/object.h"
#include "engine/core/log.h"
#include "engine/core/script_budget.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace swf::avm1 {

class ClipObject;
class ScriptEngine;
struct ExecFrame;

// How the VM reaches its host. Every callback only notifies.
struct VmHost {
    std::function<void(const QString&)> trace;
    LogFn log;
    // A web address the movie asked to open (already checked: http, https, mailto).
    std::function<void(const QString& url, const QString& window)> openUrl;
    std::function<void(const QString& command, const QString& args)> fscommand;
    // Scripts have been running for a while (see HostCallbacks::scriptsBusy).
    std::function<void()> busy;
};

// Rough heap cost of script things, as the budget counts them.
inline constexpr size_t kObjectOverheadBytes = 64; // allocation and property index of an object
inline constexpr size_t kPropertyBytes = sizeof(Property) + 64; // with its name and index entry
inline constexpr size_t kIndexKeyBytes = 48;       // an array index made into a string key
inline size_t stringBytes(qsizetype chars) { return chars > 0 ? 32 + 2 * size_t(chars) : 0; }

// A timer made by setInterval/setTimeout.
struct ScriptTimer {
    int id = 0;
    double intervalMs = 0;
    double dueMs = 0;
    bool repeat = true;
    Value target;        // function, or object whose method is called
    QString method;      // empty when target is the function
    std::vector<Value> args;
};

class Vm {
public:
    explicit Vm(int swfVersion, VmHost host = {});
    ~Vm();
    Vm(const Vm&) = delete;
    Vm& operator=(const Vm&) = delete;

    // The version of the code running now (the root movie's between scripts).
    int version() const { return m_version; }
    int rootVersion() const { return m_rootVersion; }
    const VmHost& host() const { return m_host; }
    void setHost(VmHost host) { m_host = std::move(host); }

    // ---- Heap ----------------------------------------------------------------
    // A new object on the heap; past the heap budget scripts halt (the object is still made).
    template <typename T, typename... A>
    T* make(A&&... args) {
        chargeObject(sizeof(T) + kObjectOverheadBytes);
        auto obj = std::make_unique<T>(std::forward<A>(args)...);
        T* raw = obj.get();
        m_heap.push_back(std::move(obj));
        return raw;
    }
    Object* newObject(Object* proto = nullptr);
    ArrayObject* newArray(std::vector<Value> items = {});
    FunctionObject* newNative(NativeFn fn, Object* prototype = nullptr);
    Object* newError(const QString& message);
    // Asks the heap budget for `bytes` before a large allocation; false (and
    // scripts halted) when refused.
    bool allocate(size_t bytes);
    // The same for `chars` more characters of a string already `length` long
    // (also bounded by the string length limit).
    bool allocateString(qsizetype chars, qsizetype length = 0);
    // Charges a string just made, unless it is shared with one already counted.
    void chargeNewString(const QString& s);
    // Bytes the heap holds now: objects, their members and strings, and the
    // values on running stacks (strings shared by many places count once).
    size_t measureHeap() const;
    ScriptBudget& budget() { return m_budget; }
    // Mark from the globals, the timelines and `extraRoots`, and free the rest.
    void collect(const std::vector<Object*>& extraRoots = {});
    size_t heapSize() const { return m_heap.size(); }
    // Timelines (clip objects) that must survive collection; the display glue registers them.
    void addRoot(Object* o) { m_roots.push_back(o); }
    void removeRoot(Object* o);

    // ---- Built-ins -----------------------------------------------------------
    Object* global() const { return m_global; }
    Object* objectProto = nullptr;
    Object* functionProto = nullptr;
    Object* arrayProto = nullptr;
    Object* stringProto = nullptr;
    Object* numberProto = nullptr;
    Object* booleanProto = nullptr;
    Object* dateProto = nullptr;
    Object* errorProto = nullptr;
    Object* clipProto = nullptr;
    Object* buttonProto = nullptr;
    Object* textFieldProto = nullptr;
    // The prototype `super` stands for in a method of the object itself: an empty one.
    Object* emptySuper = nullptr;
    // Classes registered for exported symbols (Object.registerClass), by
    // registeredClassKey(): movies before version 7 share a table that
    // ignores case, later movies another one.
    std::map<QString, Object*> registeredClasses;
    static QString registeredClassKey(int swfVersion, const QString& symbol) {
        return swfVersion < 7 ? QStringLiteral("6:") + symbol.toLower() : QStringLiteral("7:") + symbol;
    }
    // Built-in functions reached only by number (ASnative(category, index)),
    // kept here because no class holds them for good.
    std::map<std::pair<int, int>, Object*> nativeIds;
    // Defines a built-in member (hidden and permanent by default).
    void defineValue(Object* on, const QString& name, const Value& v, uint32_t flags = prop::kHidden);
    FunctionObject* defineMethod(Object* on, const QString& name, NativeFn fn, uint32_t flags = prop::kHidden);
    // A constructor with its prototype object, stored on _global under `name`.
    // Sets and clears flags on every own member (ASSetPropFlags with no names).
    void changeFlags(Object* on, uint32_t set, uint32_t clear);
    // Gives a built-in object (Math, Key ...) its own constructor (Object) and
    // sets `flags` on all its members.
    void sealBuiltinObject(Object* o, uint32_t flags);
    // The members every function has of its own (constructor, __proto__ from SWF 6).
    void giveFunctionMembers(FunctionObject* f);
    FunctionObject* defineClass(const QString& name, NativeFn call, NativeFn construct, Object* prototype);

    // ---- Conversions ---------------------------------------------------------
    double toNumber(const Value& v);
    QString toString(const Value& v);
    bool toBool(const Value& v);
    enum class Hint { None, Number, String };
    // valueOf (toString for dates and the String hint) of an object; undefined
    // when the object has no such method, the object itself when it returns one.
    Value toPrimitive(const Value& v, Hint hint = Hint::None);
    // A toPrimitive result as a number (an object there has none: NaN).
    double primitiveToNumber(const Value& p);
    Object* toObject(const Value& v);
    int32_t toInt32(const Value& v);
    uint32_t toUint32(const Value& v) { return uint32_t(toInt32(v)); }
    // ToInteger clamped to int (for indices and counts).
    int toInt(const Value& v);
    QString typeOf(const Value& v);
    static QString numberToString(double n);
    static QString numberToString(double n, int radix);
    double stringToNumber(const QString& s) const;
    // Property key of a name: folded to lower case before SWF 7.
    QString key(const QString& name) const { return m_caseSensitive ? name : name.toLower(); }
    bool caseSensitive() const { return m_caseSensitive; }
    bool namesEqual(const QString& a, const QString& b) const {
        return m_caseSensitive ? a == b : a.compare(b, Qt::CaseInsensitive) == 0;
    }

    // ---- Members -------------------------------------------------------------
    Value getMember(const Value& obj, const QString& name);
    // The object a reference stands for now (a removed clip: the clip at its path).
    Object* currentObject(Object* obj);
    void setMember(Object* obj, const QString& name, const Value& v);
    // Finds a property on the object or its prototypes, with its holder
    // (with `anyVersion`, also one that version flags hide).
    Property* findProperty(Object* obj, const QString& name, Object** holder = nullptr, bool anyVersion = false);
    bool hasProperty(Object* obj, const QString& name);
    bool hasOwnProperty(Object* obj, const QString& name);
    bool deleteMember(Object* obj, const QString& name);
    // Visible to this movie's version (ASSetPropFlags version bits)?
    bool visible(const Property& p) const;
    // for..in names, own first then inherited, each listed once.
    std::vector<QString> enumerableKeys(Object* obj);
    bool instanceOf(const Value& v, Object* ctor);
    // The InstanceOf action: a primitive is never an instance; a primitive class, or a primitive
    // `prototype`, is wrapped by the movie's own _global String/Number/Boolean first (whatever a
    // script put there runs). Only the class's own plain `prototype` slot counts.
    bool instanceOfAction(const Value& v, const Value& ctor);
    // A primitive wrapped by the _global constructor of its type; an object as it is.
    Object* wrapThroughGlobal(const Value& v);

    // ---- Calls ---------------------------------------------------------------
    Value call(const Value& fn, const Value& thisv, std::span<const Value> args, Object* superProto = nullptr);
    Value callMethod(const Value& obj, const QString& name, std::span<const Value> args);
    Value construct(const Value& ctor, std::span<const Value> args);
    // Records on a new instance the constructor that made it.
    void markConstructed(Object* o, const Value& ctor);
    // Calls with an explicit `this` object and a prototype for `super`.
    bool isCallable(const Value& v) const;

    // Runs a top-level action block (DoAction, DoInitAction, clip event) on
    // `target`. `version` is the version of the movie the code comes from.
    void runActions(std::span<const uint8_t> code, Object* target, int version, Object* thisObj = nullptr);

    // ---- Exceptions and limits -------------------------------------------------
    void throwValue(const Value& v);
    void throwError(const QString& message) { throwValue(Value(newError(message))); }
    bool hasException() const { return m_exception.has_value(); }
    std::optional<Value> takeException();
    // A new player tick (a frame, or one input event): the time and work
    // budget start again, and the shared stack is cleared.
    void beginFrame();
    // Drops what the last scripts left on the shared stack.
    void clearSharedStack() { m_sharedStack.clear(); }
    // Scripts are halted after a limit breach; nothing more runs.
    bool halted() const { return m_halted; }
    void halt(const QString& reason);
    // Counts one action; false when a limit is breached.
    bool countAction();
    // Counts `units` of a built-in's own work (elements sorted, split,
    // joined, parsed, pixels walked); false, scripts halted, past the tick's budget.
    bool chargeWork(uint64_t units);

    // ---- Host ---------------------------------------------------------------
    void trace(const QString& line);
    void log(LogLevel level, const QString& message);
    // Logs an unimplemented feature once per Vm.
    void unimplemented(const QString& what);
    void openUrl(const QString& url, const QString& window);

    // ---- Timers --------------------------------------------------------------
    int addTimer(ScriptTimer t);
    void removeTimer(int id);
    // Fires the timers due in the next `ms`; `afterEach` runs after every callback.
    void advanceTimers(double ms, const std::function<void()>& afterEach = {});
    double clockMs() const { return m_clockMs; }

    // The timeline scripts run against when no clip is given; the display glue sets it.
    ClipObject* root() const { return m_root; }
    void setRoot(ClipObject* root) { m_root = root; m_levels[0] = root; }
    ClipObject* levelClip(int level) const {
        auto it = m_levels.find(level);
        return it == m_levels.end() ? nullptr : it->second;
    }
    void setLevel(int level, ClipObject* clip) {
        if (clip) m_levels[level] = clip; else m_levels.erase(level);
    }
    // Resolves "_root", "_levelN", "/a/b", "a.b" ... from `base` to a clip.
    Object* resolveTarget(Object* base, const QString& path);
    // The interpreter's scratch: the frame running now (null between scripts).
    ExecFrame* currentFrame() const { return m_frame; }
    // Finds a variable in the running code's scope (for natives like eval).
    Value getVariable(const QString& name);
    void setVariable(const QString& name, const Value& v);

    int callDepth() const { return m_depth; }
    // A movie's ScriptLimits tag may lower the call depth (never raise it past our own limit).
    void setMaxCallDepth(int depth);
    // The display bridge running this Vm (null for scripts run without a player).
    ScriptEngine* engine = nullptr;

private:
    friend class Interpreter;
    friend struct ExecFrame;
    void installBuiltins();
    Value conversionMethod(Object* o, const QString& name);
    Value getterValue(Object* holder, const Property& p, const Value& thisv, Object* superProto = nullptr);
    // Calls a getter or setter of `holder`'s slot: each slot's accessors nest kMaxGetterDepth deep
    // at most (two objects whose getters read each other get that depth each).
    Value callAccessor(Object* holder, const Property& p, Object* accessor, const Value& thisv,
                       std::span<const Value> args, Object* superProto);
    Value runFunction(FunctionObject* fn, const Value& thisv, std::span<const Value> args, Object* superProto);
    void chargeObject(size_t bytes);
    // Measures the heap again when a breach may be garbage charged since the last measurement.
    void remeasureFor(size_t bytes);

    VmHost m_host;
    int m_rootVersion = 0;
    int m_version = 0;
    bool m_caseSensitive = true;
    ScriptBudget m_budget;
    uint64_t m_busyWork = 0; // work since the host was last told scripts are busy
    std::vector<std::unique_ptr<Object>> m_heap;
    std::vector<Object*> m_roots;
    Object* m_global = nullptr;
    ClipObject* m_root = nullptr;
    std::map<int, ClipObject*> m_levels;

    std::optional<Value> m_exception;
    // Top-level action blocks share one stack, as in the Flash player: what
    // one DoAction leaves there the next one finds.
    std::vector<Value> m_sharedStack;
    // The constant pool also outlives its action block: the next block starts with it.
    std::shared_ptr<const std::vector<QString>> m_sharedPool;
    bool m_halted = false;
    int m_depth = 0;
    int m_maxCallDepth = 0;
    ExecFrame* m_frame = nullptr;
    bool m_constructNext = false; // the next call is a constructor's, for `new`
    std::vector<QString> m_unimplemented;

    std::vector<ScriptTimer> m_timers;
    int m_nextTimerId = 1;
    double m_clockMs = 0;

    friend Value getValueThroughGetter(Vm&, Property&, Object*, const Value&);
};

} // namespace swf::avm1
