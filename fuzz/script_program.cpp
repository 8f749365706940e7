#include "fuzz/script_program.h"

#include "engine/avm1/script_engine.h"
#include "engine/display/player.h"
#include "fuzz/fuzz_movies.h"
#include "tests/avm1/action_builder.h"

#include <set>

namespace fuzzing {
namespace {

using avm1test::Asm;
using avm1test::Bytes;

// Action codes the generator writes.
enum Op : uint8_t {
    Not = 0x12, Pop = 0x17, GetVariable = 0x1C, SetVariable = 0x1D, Throw = 0x2A, Delete = 0x3A,
    CallFunction = 0x3D, Return = 0x3E, NewObject = 0x40, InitArray = 0x42, InitObject = 0x43,
    TypeOf = 0x44, Add2 = 0x47, Less2 = 0x48, Equals2 = 0x49, GetMember = 0x4E, SetMember = 0x4F,
    Decrement = 0x51, CallMethod = 0x52, InstanceOf = 0x54, Enumerate2 = 0x55, StrictEquals = 0x66,
    Greater = 0x67, With = 0x94,
};

// Members that live in the runtime's own code rather than in property
// tables (display properties, event handlers) and names that steer lookup.
const char* const kExtraMembers[] = {
    "_x", "_y", "_xscale", "_yscale", "_rotation", "_alpha", "_visible", "_width", "_height", "_name",
    "_target", "_url", "_droptarget", "_currentframe", "_totalframes", "_framesloaded", "_quality",
    "_focusrect", "_xmouse", "_ymouse", "_lockroot", "_parent", "text", "htmlText", "html", "variable",
    "length", "enabled", "tabEnabled", "tabIndex", "tabChildren", "focusEnabled", "useHandCursor",
    "hitArea", "trackAsMenu", "scrollRect", "filters", "transform", "blendMode", "cacheAsBitmap",
    "opaqueBackground", "scale9Grid", "styleSheet", "multiline", "wordWrap", "autoSize", "border",
    "background", "textColor", "embedFonts", "selectable", "type", "restrict", "password", "maxscroll",
    "scroll", "hscroll", "bottomScroll", "onEnterFrame", "onLoad", "onUnload", "onData", "onPress",
    "onRelease", "onReleaseOutside", "onRollOver", "onRollOut", "onDragOver", "onDragOut", "onMouseDown",
    "onMouseUp", "onMouseMove", "onKeyDown", "onKeyUp", "onSetFocus", "onKillFocus", "onChanged",
    "onScroller", "onResize", "onStatus", "onLoadInit", "onLoadStart", "onLoadProgress",
    "onLoadComplete", "onLoadError", "onSoundComplete", "onID3", "onClose", "onConnect", "onXML",
    "onHTTPStatus", "onSelect", "__proto__", "prototype", "constructor", "__constructor__", "__resolve",
    "toString", "valueOf", "0", "1", "2", "100",
};

const double kNumbers[] = {
    0, -0.0, 1, -1, 0.5, 2, 3, 7, 100, 255, 256, 1000, 65535, 2147483647.0, -2147483648.0, 4294967295.0,
    16777216, 1e9, 1e300, -1e300, 3.14159, 1.0 / 0.0, -1.0 / 0.0, 0.0 / 0.0,
};

const char* const kStrings[] = {
    "", "a", "0", "-1", "1e309", "NaN", "true", "_root", "_level0", "_level1", "_parent", "/", "/:a", "a.b",
    "<a b='1'><c>t</c><d/></a>", "<p><b>x</b><font size='99'>y</font></p>", "<!DOCTYPE x><?x?><a",
    "x=1&y=%41&z", "http://127.0.0.1/x.txt", "http://example.com/crossdomain.xml", "https://10.0.0.1/a.swf",
    "file:///etc/passwd", "/etc/passwd", "/dev/zero", "mailto:a@b.c?attach=/etc/passwd", "fscommand:quit",
    "javascript:alert(1)", "%u0041%", "\xC3\xA9\xE4\xB8\xAD", "GET", "POST", "_blank", "Arial", "\t\n ",
    "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
};

// Variables the program keeps its values in, and the local names of functions' parameters.
constexpr int kVariables = 8;
const char* const kParams[] = {"a", "b", "c"};

constexpr int kMaxExpressionDepth = 4;
constexpr int kMaxBlockDepth = 4;
constexpr int kMaxLoopCount = 8;
constexpr int kMaxArguments = 5;
constexpr size_t kMaxStatements = 400;

class Generator {
public:
    Generator(const BuiltinNames& names, std::span<const uint8_t> choices) : m_names(names), m_choices(choices) {}

    Bytes program() {
        Asm a;
        // A clip and a text field to call things on (and with).
        a.push("v0").push(1).push("m").push(2).getVariable("_root").push("createEmptyMovieClip").callMethod();
        a.setVariable();
        a.push(20).push(100).push(0).push(0).push(3).push("t").push(6).getVariable("_root");
        a.push("createTextField").callMethod().pop();
        a.push("v1").getVariable("t").setVariable();
        while (!done()) a.raw(block(0, 1 + below(16)).body());
        return a.bytes();
    }

private:
    uint8_t next() { return m_pos < m_choices.size() ? m_choices[m_pos++] : 0; }
    bool done() const { return m_pos >= m_choices.size() || m_statements >= kMaxStatements; }
    size_t below(size_t n) { return n ? next() % n : 0; }
    template <typename T> const T& pick(const std::vector<T>& v) { return v[(next() | next() << 8) % v.size()]; }
    template <typename T, size_t N> const T& pick(const T (&a)[N]) { return a[below(N)]; }

    const std::string& member() { return pick(m_names.members); }
    std::string variable() { return "v" + std::to_string(below(kVariables)); }

    Asm& path(Asm& a, const std::vector<std::string>& p) {
        a.getVariable(p[0]);
        for (size_t i = 1; i < p.size(); ++i) a.push(p[i]).op(GetMember);
        return a;
    }

    // Pushes the arguments of a call (last first) and their count.
    void arguments(Asm& a, int depth) {
        const int n = int(below(kMaxArguments + 1));
        std::vector<Asm> args(static_cast<size_t>(n));
        for (auto& arg : args) value(arg, depth + 1);
        for (auto it = args.rbegin(); it != args.rend(); ++it) a.raw(it->body());
        a.push(n);
    }

    void callMethod(Asm& a, int depth, const std::string& name) {
        arguments(a, depth);
        value(a, depth + 1);
        a.push(name).op(CallMethod);
    }

    // Some built-in method called with any `this`: Ctor.prototype.m.call(this, ...).
    void callWithAnyThis(Asm& a, int depth) {
        const int n = int(below(kMaxArguments));
        std::vector<Asm> args(size_t(n) + 1);
        for (auto& arg : args) value(arg, depth + 1);
        for (auto it = args.rbegin(); it != args.rend(); ++it) a.raw(it->body());
        a.push(n + 1);
        if (below(4) == 0) path(a, pick(m_names.globals)).push(member()).op(GetMember);
        else path(a, pick(m_names.constructors)).push("prototype").op(GetMember).push(member()).op(GetMember);
        a.push(below(3) ? "call" : "apply").op(CallMethod);
    }

    void functionLiteral(Asm& a, int depth) {
        const Asm body = block(m_blockDepth + 1, 1 + below(4), /*inFunction=*/true);
        std::vector<std::pair<uint8_t, std::string>> params;
        for (size_t i = 0, n = below(4); i < n; ++i) params.emplace_back(0, kParams[i]);
        (void)depth;
        a.defineFunction2("", params, 4, 0, body);
    }

    // Pushes one value.
    void value(Asm& a, int depth) {
        const size_t kinds = depth >= kMaxExpressionDepth ? 7 : 17;
        switch (below(kinds)) {
        case 0: a.push(pick(kNumbers)); break;
        case 1: a.push(std::string(pick(kStrings))); break;
        case 2: a.push(int(next()) - 8); break;
        case 3:
            switch (below(4)) {
            case 0: a.pushBool(below(2)); break;
            case 1: a.pushNull(); break;
            case 2: a.pushUndefined(); break;
            default: a.push(member()); break;
            }
            break;
        case 4: a.getVariable(variable()); break;
        case 5: path(a, pick(m_names.globals)); break;
        case 6: {
            static const char* const kScope[] = {"_root", "this", "arguments", "_global", "m", "t", "_level0"};
            a.getVariable(pick(kScope));
            break;
        }
        case 7: path(a, pick(m_names.globals)); a.push(member()).op(GetMember); break;
        case 8:
            path(a, pick(m_names.constructors));
            a.push("prototype").op(GetMember).push(member()).op(GetMember);
            break;
        case 9: { // new Ctor(args): the constructor object itself as the "method"
            const auto& ctor = pick(m_names.constructors);
            arguments(a, depth);
            if (ctor.size() == 1) {
                a.push(ctor[0]).op(NewObject);
            } else {
                std::vector<std::string> owner(ctor.begin(), ctor.end() - 1);
                path(a, owner);
                a.push(ctor.back()).op(0x53); // NewMethod
            }
            break;
        }
        case 10: callMethod(a, depth, member()); break;
        case 11: callWithAnyThis(a, depth); break;
        case 12: { // {name: value, ...}
            const int n = int(below(4));
            for (int i = 0; i < n; ++i) {
                a.push(member());
                value(a, depth + 1);
            }
            a.push(n).op(InitObject);
            break;
        }
        case 13: {
            const int n = int(below(5));
            for (int i = 0; i < n; ++i) value(a, depth + 1);
            a.push(n).op(InitArray);
            break;
        }
        case 14: functionLiteral(a, depth); break;
        case 15: {
            static const uint8_t kBinary[] = {Add2, Less2, Equals2, StrictEquals, InstanceOf, Greater};
            value(a, depth + 1);
            value(a, depth + 1);
            a.op(pick(kBinary));
            break;
        }
        default: { // a global function: f(args)
            const auto& g = pick(m_names.globals);
            arguments(a, depth);
            if (g.size() == 1) {
                a.push(g[0]).op(CallFunction);
            } else {
                path(a, std::vector<std::string>(g.begin(), g.end() - 1));
                a.push(g.back()).op(CallMethod);
            }
            break;
        }
        }
    }

    // n = count; while (n > 0) { body; n-- } with n in a register of its own.
    void loop(Asm& a, int depth, bool inFunction) {
        const uint8_t reg = uint8_t(1 + depth % 3);
        a.push(int(below(kMaxLoopCount + 1))).storeRegister(reg).pop();
        Asm body = block(depth + 1, 1 + below(4), inFunction);
        body.pushRegister(reg).op(Decrement).storeRegister(reg).pop();
        Asm test;
        test.pushRegister(reg).push(0).op(Greater).op(Not);
        const int bodyWithJump = int(body.size()) + 5;
        test.ifTrue(int16_t(bodyWithJump));
        a.raw(test.body()).raw(body.body());
        a.jump(int16_t(-(int(test.size()) + bodyWithJump)));
    }

    // for (name in value) vN = name;
    void forIn(Asm& a, int depth) {
        value(a, depth);
        a.op(Enumerate2);
        Asm body;
        body.push(variable()).pushRegister(0).setVariable();
        Asm test;
        test.storeRegister(0).pushNull().op(StrictEquals);
        const int bodyWithJump = int(body.size()) + 5;
        test.ifTrue(int16_t(bodyWithJump));
        a.raw(test.body()).raw(body.body());
        a.jump(int16_t(-(int(test.size()) + bodyWithJump)));
    }

    void statement(Asm& a, int depth, bool inFunction) {
        ++m_statements;
        switch (below(inFunction ? 15 : 14)) {
        case 0: case 1:
            a.push(variable());
            value(a, 0);
            a.setVariable();
            break;
        case 2: case 3: value(a, 0); a.pop(); break;
        case 4:
            value(a, 1);
            a.push(member());
            value(a, 1);
            a.setMember();
            break;
        case 5: callWithAnyThis(a, 0); a.pop(); break;
        case 6: { // obj.addProperty(name, getter, setter) or obj.watch(name, fn)
            const bool watch = below(3) == 0;
            if (!watch) functionLiteral(a, 1);
            functionLiteral(a, 1);
            a.push(member()).push(watch ? 2 : 3);
            value(a, 1);
            a.push(watch ? "watch" : "addProperty").callMethod().pop();
            break;
        }
        case 7:
            if (depth < kMaxBlockDepth) loop(a, depth, inFunction);
            break;
        case 8:
            value(a, 1);
            a.push(member()).op(Delete).pop();
            break;
        case 9:
            if (depth < kMaxBlockDepth) forIn(a, 1);
            break;
        case 10: { // with (value) { ... }
            if (depth >= kMaxBlockDepth) break;
            value(a, 1);
            Asm body = block(depth + 1, 1 + below(3), inFunction);
            a.op(With, Bytes{uint8_t(body.size()), uint8_t(body.size() >> 8)}).raw(body.body());
            break;
        }
        case 11: { // try { ... } catch (e) { ... }
            if (depth >= kMaxBlockDepth) break;
            Asm body = block(depth + 1, 1 + below(3), inFunction);
            Asm handler = block(depth + 1, 1 + below(2), inFunction);
            a.tryBlock(body, "e", &handler, nullptr);
            break;
        }
        case 12:
            value(a, 0);
            a.op(Throw);
            break;
        case 13: // hand a value to a built-in global: trace(typeof v)
            value(a, 1);
            a.op(TypeOf).trace();
            break;
        default:
            value(a, 0);
            a.op(Return);
            break;
        }
    }

    Asm block(int depth, size_t statements, bool inFunction = false) {
        const int saved = m_blockDepth;
        m_blockDepth = depth;
        Asm a;
        for (size_t i = 0; i < statements && !done(); ++i) statement(a, depth, inFunction);
        m_blockDepth = saved;
        return a;
    }

    const BuiltinNames& m_names;
    std::span<const uint8_t> m_choices;
    size_t m_pos = 0;
    size_t m_statements = 0;
    int m_blockDepth = 0;
};

// Adds the objects under `o` (packages like flash.geom, classes, their
// statics and prototypes) to `out`.
void walk(swf::avm1::Vm& vm, swf::avm1::Object* o, const std::vector<std::string>& at, int depth,
          BuiltinNames& out, std::set<std::string>& members, std::set<swf::avm1::Object*>& seen) {
    for (const auto& p : o->properties()) {
        const std::string name = p.name.toStdString();
        members.insert(name);
        swf::avm1::Object* child = p.isVirtual() ? nullptr : p.value.asObject();
        if (!child || !seen.insert(child).second) continue;
        std::vector<std::string> here = at;
        here.push_back(name);
        if (name == "prototype") {
            for (const auto& q : child->properties()) members.insert(q.name.toStdString());
            continue;
        }
        out.globals.push_back(here);
        if (child->kind() == swf::avm1::Kind::Function && child->find(vm.key(QStringLiteral("prototype"))))
            out.constructors.push_back(here);
        if (depth < 3) walk(vm, child, here, depth + 1, out, members, seen);
    }
}

} // namespace

BuiltinNames collectBuiltinNames(int version) {
    BuiltinNames out;
    swf::Player player;
    player.setScriptHostFactory(swf::avm1ScriptHostFactory());
    const uint8_t end = 0;
    if (!player.load(movieWithActions(uint8_t(version), std::span<const uint8_t>(&end, 1)), "names.swf").ok()) return out;
    auto* engine = static_cast<swf::avm1::ScriptEngine*>(player.scriptHost());
    swf::avm1::Vm& vm = engine->vm();
    std::set<std::string> members(std::begin(kExtraMembers), std::end(kExtraMembers));
    std::set<swf::avm1::Object*> seen{vm.global()};
    walk(vm, vm.global(), {}, 0, out, members, seen);
    out.members.assign(members.begin(), members.end());
    if (out.globals.empty()) out.globals.push_back({"Object"});
    if (out.constructors.empty()) out.constructors.push_back({"Object"});
    return out;
}

std::vector<uint8_t> buildProgram(const BuiltinNames& names, std::span<const uint8_t> choices) {
    return Generator(names, choices).program();
}

} // namespace fuzzing
