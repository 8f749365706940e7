#pragma once
// Small statements for graphics scripts (flash.geom, BitmapData, drawing) in
// tests: `x = new flash.geom.Matrix(1, 2)`, `x.scale(2, 3)`, `trace(x)`.
#include "engine/avm1/script_engine.h"
#include "engine/display/player.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace gfxtest {

using avm1test::Asm;

// An argument: a number, a string, a boolean, or a variable's value.
struct Var {
    std::string name;
};
using Arg = std::variant<double, std::string, Var, bool>;

inline void pushArg(Asm& a, const Arg& arg) {
    if (auto* d = std::get_if<double>(&arg)) a.push(*d);
    else if (auto* s = std::get_if<std::string>(&arg)) a.push(*s);
    else if (auto* b = std::get_if<bool>(&arg)) a.pushBool(*b);
    else a.getVariable(std::get<Var>(arg).name);
}

inline void pushArgs(Asm& a, const std::vector<Arg>& args) {
    for (auto it = args.rbegin(); it != args.rend(); ++it) pushArg(a, *it);
    a.push(int(args.size()));
}

// Leaves `target.method(args)` on the stack; target is a variable name.
inline Asm& call(Asm& a, const std::string& target, const std::string& method, const std::vector<Arg>& args = {}) {
    pushArgs(a, args);
    a.getVariable(target).push(method).callMethod();
    return a;
}
// target.method(args); the result is dropped.
inline Asm& run(Asm& a, const std::string& target, const std::string& method, const std::vector<Arg>& args = {}) {
    return call(a, target, method, args).pop();
}
// name = new flash.<package>.<cls>(args)
inline Asm& make(Asm& a, const std::string& name, const std::string& package, const std::string& cls,
                 const std::vector<Arg>& args = {}) {
    a.push(name);
    pushArgs(a, args);
    a.getVariable("flash").push(package).getMember().push(cls).op(0x53);
    return a.setVariable();
}
// name = target.method(args)
inline Asm& assign(Asm& a, const std::string& name, const std::string& target, const std::string& method,
                   const std::vector<Arg>& args = {}) {
    a.push(name);
    return call(a, target, method, args).setVariable();
}
inline Asm& traceVar(Asm& a, const std::string& name) { return a.getVariable(name).trace(); }
inline Asm& traceMember(Asm& a, const std::string& name, const std::string& member) {
    return a.getVariable(name).push(member).getMember().trace();
}
inline Asm& setMemberOf(Asm& a, const std::string& name, const std::string& member, const Arg& v) {
    a.getVariable(name).push(member);
    pushArg(a, v);
    return a.setMember();
}

// name = _root.createEmptyMovieClip(name, depth)
inline Asm& createClip(Asm& a, const std::string& name, int depth) {
    a.push(name).push(double(depth)).push(name).push(2).getVariable("_root").push("createEmptyMovieClip");
    return a.callMethod().setVariable();
}
// name = [items...] (numbers)
inline Asm& makeArray(Asm& a, const std::string& name, const std::vector<double>& items) {
    a.push(name);
    for (auto it = items.rbegin(); it != items.rend(); ++it) a.push(*it);
    return a.push(int(items.size())).op(0x42).setVariable();
}

// A script and the trace lines it must print, for tables of script tests.
struct TraceCase {
    const char* name;
    std::function<void(Asm&)> script;
    std::vector<std::string> expected;
};

struct Run {
    std::unique_ptr<swf::Player> player;
    std::vector<std::string> trace;
};

// A 100 x 100 pixel movie of `version` whose first frame runs `script`.
inline std::unique_ptr<Run> runScript(const Asm& script, int version = 8, int frames = 1) {
    swf::test::SwfWriter w(version, {0, 100 * 20, 0, 100 * 20});
    w.doAction(script.bytes()).showFrame();
    auto r = std::make_unique<Run>();
    swf::HostCallbacks host;
    Run* raw = r.get();
    host.trace = [raw](const std::string& s) { raw->trace.push_back(s); };
    r->player = std::make_unique<swf::Player>(host);
    r->player->setScriptHostFactory(swf::avm1ScriptHostFactory());
    EXPECT_TRUE(r->player->load(w.bytes(), "test.swf").ok());
    r->player->setViewport(100, 100);
    for (int i = 0; i < frames; ++i) r->player->runFrame();
    return r;
}

} // namespace gfxtest
