#pragma once
// The action interpreter: one ExecFrame per running action block or
// function call, and the table of actions of SWF 3 to 8.
#include "engine/avm1/vm.h"
#include "engine/core/reader.h"

#include <optional>

namespace swf::avm1 {

// A try/catch/finally region of one frame's code (offsets into the code).
struct TryBlock {
    size_t tryStart = 0, catchStart = 0, finallyStart = 0, end = 0;
    bool hasCatch = false, hasFinally = false;
    bool catchInRegister = false;
    uint8_t catchRegister = 0;
    QString catchName;
    enum class State { Try, Catch, Finally } state = State::Try;
    std::optional<Value> pendingThrow;
    std::optional<Value> pendingReturn;
};

struct ExecFrame {
    std::span<const uint8_t> code;
    size_t pc = 0;
    int version = 0;
    std::shared_ptr<const std::vector<QString>> pool;
    std::vector<Value> registers;
    ScopePtr scope;               // innermost first; ends with the timeline
    Object* baseTarget = nullptr; // the timeline the code belongs to
    Object* target = nullptr;     // the timeline after SetTarget
    Value thisv;
    Object* activation = nullptr; // function locals; null at top level
    Value superv;
    // DefineFunction2 may keep `this` in a register only (or drop it); the
    // name `this` then means the timeline, as for code outside functions.
    bool thisIsLocal = true;
    std::vector<Value> stack;
    std::vector<TryBlock> tries;
    std::vector<std::pair<size_t, ScopePtr>> withEnds; // scope to restore at an offset
    bool returned = false;
    Value returnValue;
    bool constructing = false;    // the function runs for `new` (ASnew tells)
    ExecFrame* caller = nullptr;  // the frame running when this one started
};

// The object `super` names inside a method: members come from the parent
// prototype, calls run with the method's own `this`.
class SuperObject : public Object {
public:
    SuperObject(Object* superProto, Value thisv) : Object(superProto, Kind::Other), thisv(std::move(thisv)) {}
    Value thisv;
    void markChildren(const MarkFn& mark) override {
        Object::markChildren(mark);
        if (Object* o = thisv.asObject()) mark(o);
    }
};

class Interpreter {
public:
    using Handler = void (*)(Vm&, ExecFrame&, Reader&);
    struct Action {
        uint8_t code;
        const char* name;
        uint8_t minVersion;
        Handler handler;
    };
    static const Action* action(uint8_t code);
    // Runs the frame until its code ends, it returns, or scripts halt. An
    // uncaught exception is left on the Vm for the caller.
    static void run(Vm& vm, ExecFrame& frame);
};

} // namespace swf::avm1
