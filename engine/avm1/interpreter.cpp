#include "engine/avm1/interpreter.h"

#include "engine/avm1/clip_object.h"
#include "engine/avm1/net.h"
#include "engine/core/limits.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <random>

namespace swf::avm1 {

namespace {

Value pop(ExecFrame& f) {
    if (f.stack.empty()) return Value();
    Value v = std::move(f.stack.back());
    f.stack.pop_back();
    return v;
}
void push(ExecFrame& f, Value v) { f.stack.push_back(std::move(v)); }
// Comparisons push booleans in every version; SWF 4 code prints them as 1 and 0.
void pushBool(ExecFrame& f, bool b) { push(f, Value(b)); }

QString readString(Vm& vm, Reader& r) {
    std::string s = r.cstring();
    // SWF 6 and later store UTF-8; earlier movies use the local code page.
    if (vm.version() >= 6) return QString::fromUtf8(s.data(), qsizetype(s.size()));
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

ClipObject* asClip(const Value& v) { return dynamic_cast<ClipObject*>(v.asObject()); }
ClipObject* asClip(Object* o) { return dynamic_cast<ClipObject*>(o); }

// A chain with `o` in front of `parent`; null, scripts halted, past the scope depth limit.
ScopePtr pushScope(Vm& vm, Object* o, ScopePtr parent) {
    if (parent && parent->depth >= limits::kMaxScopeDepth) {
        vm.halt(QStringLiteral("scope chain deeper than %1").arg(limits::kMaxScopeDepth));
        return nullptr;
    }
    return std::make_shared<const Scope>(o, std::move(parent));
}

// The object the timeline entry of a scope chain stands for in this frame.
Object* scopeObject(Vm& vm, const ExecFrame& f, const Scope* s) {
    Object* o = s->object;
    if (o == f.baseTarget && f.target && f.target != f.baseTarget) o = f.target;
    // A timeline removed from the stage resolves names on _level0 instead.
    if (auto* c = dynamic_cast<ClipObject*>(o); c && c->removed() && vm.root()) return vm.root();
    return o;
}

// Dots separate path elements from SWF 5 on; SWF 4 names may hold them.
bool isPath(const QString& name, int version) {
    return name.contains(u'/') || name.contains(u':') || (version >= 5 && name.contains(u'.'));
}

// The timeline names resolve on: SetTarget's target, or _level0 once it left the stage.
Object* currentTimeline(Vm& vm, const ExecFrame& f) {
    if (auto* c = asClip(f.target); c && c->removed() && vm.root()) return vm.root();
    if (f.target) return f.target;
    // After a failed tellTarget there is no target: names resolve from the root.
    auto* base = asClip(f.baseTarget);
    return base ? static_cast<Object*>(base->rootClip()) : static_cast<Object*>(vm.root());
}

// The objects names resolve in, innermost first: the scope chain, then
// _global (SWF 5 on; SWF 4 code predates the globals, so NaN, Infinity and
// _global are plain unset names there).
template <typename Fn>
bool forEachScope(Vm& vm, const ExecFrame& f, Fn&& fn) {
    for (const Scope* s = f.scope.get(); s; s = s->parent.get())
        if (Object* o = scopeObject(vm, f, s); o && fn(o)) return true;
    return f.version >= 5 && fn(vm.global());
}

// A plain (pathless) variable lookup through the scope chain and _global;
// `holder` receives the object the name was found on.
bool lookupPlain(Vm& vm, ExecFrame& f, const QString& name, Value& out, Object** holder = nullptr) {
    if (vm.namesEqual(name, QStringLiteral("this"))) {
        // A parameter or local named `this` hides the function's own.
        if (f.activation && f.activation->find(vm.key(name))) { out = vm.getMember(Value(f.activation), name); return true; }
        out = f.thisIsLocal ? f.thisv : Value(currentTimeline(vm, f));
        return true;
    }
    // A variable a script named _root or _global hides the built-in name.
    const bool builtinName = vm.namesEqual(name, QStringLiteral("_root")) || vm.namesEqual(name, QStringLiteral("_global"));
    if (builtinName && forEachScope(vm, f, [&](Object* o) {
            if (o == vm.global() || !o->find(vm.key(name))) return false;
            out = vm.getMember(Value(o), name);
            if (holder) *holder = o;
            return true;
        }))
        return true;
    // _global came with SWF 6: older code sees an unset name.
    if (f.version >= 6 && vm.namesEqual(name, QStringLiteral("_global"))) { out = Value(vm.global()); return true; }
    if (f.activation && vm.namesEqual(name, QStringLiteral("super")) && !f.superv.isUndefined()) {
        out = f.superv;
        return true;
    }
    if (vm.namesEqual(name, QStringLiteral("_root"))) {
        if (ClipObject* c = asClip(currentTimeline(vm, f))) { out = Value(c->rootClip()); return true; }
        if (vm.root()) { out = Value(static_cast<Object*>(vm.root())); return true; }
    }
    if (name.startsWith(QStringLiteral("_level"), vm.caseSensitive() ? Qt::CaseSensitive : Qt::CaseInsensitive)) {
        if (Object* o = vm.resolveTarget(f.target, name)) { out = Value(o); return true; }
    }
    return forEachScope(vm, f, [&](Object* o) {
        if (!vm.hasProperty(o, name)) return false;
        out = vm.getMember(Value(o), name);
        if (holder) *holder = o;
        return true;
    });
}

// Where a variable path splits into its target and the variable: the last
// ':' or '.' ("a.b:c", "a:b.c" -> "a.b"/"a:b" and "c"); -1 when there is
// neither (a pure slash path). One at the start (":a", ".a") leaves no target
// and names no variable.
int variableCut(const QString& name, int version) {
    const int colon = name.lastIndexOf(u':');
    return version >= 5 ? std::max(colon, int(name.lastIndexOf(u'.'))) : colon;
}

// A target path from one scope object; "/..." starts at the timeline's root.
Object* resolvePathIn(Vm& vm, ExecFrame& f, Object* start, const QString& path) {
    if (path.startsWith(u'/')) return vm.resolveTarget(currentTimeline(vm, f), path);
    // "this.a" starts at the running code's `this`, whichever scope asks.
    if (path.startsWith(QStringLiteral("this"), vm.caseSensitive() ? Qt::CaseSensitive : Qt::CaseInsensitive) &&
        (path.size() == 4 || path[4] == u'.' || path[4] == u'/' || path[4] == u':'))
        start = f.thisIsLocal ? f.thisv.asObject() : currentTimeline(vm, f);
    return vm.resolveTarget(start, path);
}

// Resolves a target path the way variable paths do: from each scope in turn.
Object* resolvePathFrom(Vm& vm, ExecFrame& f, const QString& path) {
    if (path.isEmpty()) return f.target;
    Object* found = nullptr;
    forEachScope(vm, f, [&](Object* o) { found = resolvePathIn(vm, f, o, path); return found != nullptr; });
    return found;
}

// A clip named by a path from the current target only (GetProperty, tellTarget, gotoAndPlay ...).
Object* resolveFromTarget(Vm& vm, ExecFrame& f, const QString& path) {
    if (path.isEmpty()) return f.target;
    return resolvePathIn(vm, f, currentTimeline(vm, f), path);
}

Value getVariable(Vm& vm, ExecFrame& f, const QString& name, Object** holder = nullptr) {
    Value out;
    if (!isPath(name, f.version)) {
        lookupPlain(vm, f, name, out, holder);
    } else if (int cut = variableCut(name, f.version); cut > 0) {
        // "path.var": the first scope whose path leads to an object holding the variable.
        const QString path = name.left(cut), var = name.mid(cut + 1);
        forEachScope(vm, f, [&](Object* o) {
            Object* t = resolvePathIn(vm, f, o, path);
            if (!t) return false;
            // Built-in members (a text field's text) count even where no property lists them.
            Value v = vm.getMember(Value(t), var);
            if (v.isUndefined() && !vm.hasProperty(t, var)) return false;
            out = v;
            if (holder) *holder = t;
            return true;
        });
    } else if (cut < 0) {
        // A slash path that leads nowhere may still name a plain variable ("a/b").
        if (Object* o = resolvePathFrom(vm, f, name)) out = Value(o);
        else lookupPlain(vm, f, name, out, holder);
    }
    // SWF 4 code reads variables only: clips are not values there.
    if (f.version < 5 && asClip(out)) return Value();
    return out;
}

void setVariable(Vm& vm, ExecFrame& f, const QString& name, const Value& v) {
    const int cut = isPath(name, f.version) ? variableCut(name, f.version) : -2;
    if (cut == 0) return; // ":a" or ".a": no target, no variable
    // A pure slash path ("/a/b") is kept as a variable of that name, the way
    // GetVariable finds it when the path leads nowhere.
    if (cut > 0) {
        const QString path = name.left(cut), var = name.mid(cut + 1);
        forEachScope(vm, f, [&](Object* o) {
            Object* t = resolvePathIn(vm, f, o, path);
            if (t) vm.setMember(t, var, v);
            return t != nullptr;
        });
        return;
    }
    Object* last = nullptr;
    for (const Scope* s = f.scope.get(); s; s = s->parent.get()) {
        Object* o = scopeObject(vm, f, s);
        if (!o) continue;
        last = o;
        // Only a variable of the scope object's own counts: one it inherits is
        // set on the next link (a `with` object never takes a new member).
        if (vm.hasOwnProperty(o, name)) { vm.setMember(o, name, v); return; }
    }
    if (!last) last = f.target;
    if (last) vm.setMember(last, name, v);
}

void defineLocal(Vm& vm, ExecFrame& f, const QString& name, const Value& v) {
    if (f.activation) vm.setMember(f.activation, name, v);
    else setVariable(vm, f, name, v);
}

// ---- Equality and comparison -------------------------------------------------------

bool strictEquals(const Value& a, const Value& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
    case Type::Undefined:
    case Type::Null: return true;
    case Type::Boolean: return a.asBool() == b.asBool();
    case Type::Number:
        // NaN equals NaN in the Flash player's strict comparison.
        return a.asNumber() == b.asNumber() || (std::isnan(a.asNumber()) && std::isnan(b.asNumber()));
    case Type::String: return a.asString() == b.asString();
    case Type::Object: return a.asObject() == b.asObject();
    }
    return false;
}

bool looseEquals(Vm& vm, const Value& a, const Value& b) {
    if (a.type() == b.type()) {
        if (a.isNumber()) return a.asNumber() == b.asNumber();
        return strictEquals(a, b);
    }
    if (a.isNullish() && b.isNullish()) return true;
    // An object without a valueOf (such as _global) equals null and undefined.
    if (a.isObject() && b.isNullish()) return vm.toPrimitive(a, Vm::Hint::Number).isNullish();
    if (b.isObject() && a.isNullish()) return vm.toPrimitive(b, Vm::Hint::Number).isNullish();
    if (a.isNullish() || b.isNullish()) return false;
    if (a.isNumber() && b.isString()) return a.asNumber() == vm.toNumber(b);
    if (a.isString() && b.isNumber()) return vm.toNumber(a) == b.asNumber();
    if (a.isBool()) return looseEquals(vm, Value(a.asBool() ? 1.0 : 0.0), b);
    if (b.isBool()) return looseEquals(vm, a, Value(b.asBool() ? 1.0 : 0.0));
    // Equality asks valueOf of every object, a Date too.
    if (a.isObject() && !b.isObject()) {
        Value p = vm.toPrimitive(a, Vm::Hint::Number);
        if (p.isObject()) return false;
        return looseEquals(vm, p, b);
    }
    if (b.isObject() && !a.isObject()) {
        Value p = vm.toPrimitive(b, Vm::Hint::Number);
        if (p.isObject()) return false;
        return looseEquals(vm, a, p);
    }
    return false;
}

// a < b as Less2 sees it: true, false or undefined (NaN involved).
Value lessThan(Vm& vm, const Value& a, const Value& b) {
    // An object whose valueOf gives no primitive compares false, before the
    // other side is read; a display object is no number (undefined).
    Value pa = vm.toPrimitive(a, Vm::Hint::Number);
    if (pa.isObject() && !asClip(pa)) return Value(false);
    Value pb = vm.toPrimitive(b, Vm::Hint::Number);
    if (pb.isObject() && !asClip(pb)) return Value(false);
    if (pa.isString() && pb.isString()) return Value(pa.asString() < pb.asString());
    double x = vm.primitiveToNumber(pa), y = vm.primitiveToNumber(pb);
    if (std::isnan(x) || std::isnan(y)) return Value();
    return Value(x < y);
}

// ---- Frame control helpers -----------------------------------------------------------

void gotoLabelOrFrame(Vm& vm, ExecFrame& f, const Value& where, bool play, int bias) {
    Object* targetObj = f.target;
    Value frameV = where;
    if (where.isString()) {
        QString s = where.asString();
        int colon = s.lastIndexOf(u':');
        if (colon >= 0) {
            targetObj = resolveFromTarget(vm, f, s.left(colon));
            s = s.mid(colon + 1);
        }
        ClipObject* clip = asClip(targetObj);
        if (!clip) return;
        double n = vm.stringToNumber(s);
        if (!std::isnan(n) && !s.isEmpty()) {
            int frame = int(n) + bias;
            if (frame >= 1) clip->gotoFrame(frame - 1, play);
            return;
        }
        int label = clip->frameOfLabel(s);
        if (label >= 0) clip->gotoFrame(label + bias, play);
        return;
    }
    ClipObject* clip = asClip(targetObj);
    if (!clip) return;
    double n = vm.toNumber(frameV);
    if (std::isnan(n)) return;
    int frame = int(n) + bias;
    clip->gotoFrame(std::max(frame, 1) - 1, play);
}

void doGetUrl(Vm& vm, ExecFrame& f, const QString& url, const QString& target, int method, bool loadTarget,
              bool loadVariables) {
    (void)f;
    (void)method;
    if (url.startsWith(QStringLiteral("fscommand:"), Qt::CaseInsensitive)) {
        if (vm.host().fscommand) vm.host().fscommand(url.mid(10), target);
        return;
    }
    if (loadVariables || loadTarget || target.startsWith(QStringLiteral("_level"), Qt::CaseInsensitive)) {
        Object* clipObj = nullptr;
        if (target.startsWith(QStringLiteral("_level"), Qt::CaseInsensitive)) clipObj = vm.resolveTarget(f.target, target);
        else clipObj = resolveFromTarget(vm, f, target);
        loadIntoTarget(vm, asClip(clipObj), url, target, loadVariables);
        return;
    }
    vm.openUrl(url, target);
}

// ---- Functions ---------------------------------------------------------------------

FunctionObject* makeFunction(Vm& vm, ExecFrame& f, std::unique_ptr<ScriptCode> code) {
    // DefineFunction came with SWF 5: a function body follows SWF 5 rules at least.
    code->version = std::max(f.version, 5);
    code->constantPool = f.pool;
    // Capture the chain with SetTarget's timeline made concrete.
    std::vector<Object*> chain;
    // SWF 5 has no closures: a function defined in a function does not see its locals.
    for (const Scope* s = f.scope.get(); s; s = s->parent.get())
        if (f.version >= 6 || !f.activation || s->object != f.activation) chain.push_back(scopeObject(vm, f, s));
    ScopePtr captured;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        captured = std::make_shared<const Scope>(*it, captured);
    code->scope = captured;
    code->target = f.target ? f.target : f.baseTarget;
    auto* fn = vm.make<FunctionObject>(vm.functionProto, std::move(code));
    vm.giveFunctionMembers(fn);
    Object* proto = vm.newObject();
    vm.defineValue(proto, QStringLiteral("constructor"), Value(fn), prop::kHidden);
    vm.defineValue(fn, QStringLiteral("prototype"), Value(proto), prop::kDontEnum | prop::kDontDelete);
    return fn;
}

void callFunctionValue(Vm& vm, ExecFrame& f, const Value& fn, const Value& thisv, std::vector<Value>& args,
                       Object* superProto) {
    if (auto* sup = dynamic_cast<SuperObject*>(fn.asObject())) {
        // super(...): the parent class constructor on our own `this`.
        Object* sp = sup->proto();
        // The parent constructor is recorded on the prototype that inherits
        // from `sp` (class extends parent), found along `this`'s chain.
        Value ctor;
        Object* home = sup->thisv.asObject() ? sup->thisv.asObject()->proto() : nullptr;
        for (int guard = 0; home && sp && home->proto() != sp && guard < 256; ++guard) home = home->proto();
        if (home && sp) ctor = vm.getMember(Value(home), QStringLiteral("__constructor__"));
        if (!vm.isCallable(ctor) && sp) ctor = vm.getMember(Value(sp), QStringLiteral("__constructor__"));
        if (!vm.isCallable(ctor) && sp) ctor = vm.getMember(Value(sp), QStringLiteral("constructor"));
        push(f, vm.call(ctor, sup->thisv, args, sp ? sp->proto() : nullptr));
        return;
    }
    push(f, vm.call(fn, thisv, args, superProto));
}

std::vector<Value> popArgs(Vm& vm, ExecFrame& f) {
    double n = vm.toNumber(pop(f));
    size_t count = (std::isfinite(n) && n > 0) ? size_t(n) : 0;
    count = std::min(count, f.stack.size());
    std::vector<Value> args;
    args.reserve(count);
    for (size_t i = 0; i < count; ++i) args.push_back(pop(f));
    return args;
}

// ---- Action handlers ---------------------------------------------------------------

#define HANDLER(name) void name([[maybe_unused]] Vm& vm, [[maybe_unused]] ExecFrame& f, [[maybe_unused]] Reader& r)
#define UNUSED_ARGS (void)vm; (void)f; (void)r

HANDLER(aNextFrame) { UNUSED_ARGS; if (auto* c = asClip(f.target)) c->nextFrame(); }
HANDLER(aPrevFrame) { UNUSED_ARGS; if (auto* c = asClip(f.target)) c->prevFrame(); }
HANDLER(aPlay) { UNUSED_ARGS; if (auto* c = asClip(f.target)) c->play(); }
HANDLER(aStop) { UNUSED_ARGS; if (auto* c = asClip(f.target)) c->stop(); }
HANDLER(aToggleQuality) { UNUSED_ARGS; }
HANDLER(aStopSounds) { UNUSED_ARGS; if (auto* c = asClip(f.target)) c->stopAllSounds(); }
HANDLER(aGotoFrame) {
    (void)vm;
    int frame = r.u16();
    if (auto* c = asClip(f.target)) c->gotoFrame(frame, false);
}
HANDLER(aGetUrl) {
    QString url = readString(vm, r), target = readString(vm, r);
    doGetUrl(vm, f, url, target, 0, false, false);
}
HANDLER(aWaitForFrame) {
    int frame = r.u16();
    int skip = r.u8();
    auto* c = asClip(f.target);
    if (c && frame < c->framesLoaded()) return;
    // Skip the next `skip` actions.
    for (int i = 0; i < skip && f.pc < f.code.size(); ++i) {
        uint8_t op = f.code[f.pc];
        size_t len = 1;
        if (op >= 0x80 && f.pc + 2 < f.code.size()) len = 3 + (f.code[f.pc + 1] | (f.code[f.pc + 2] << 8));
        f.pc += len;
    }
}
HANDLER(aSetTarget) {
    QString path = readString(vm, r);
    if (path.isEmpty()) { f.target = f.baseTarget; return; }
    // A path that leads nowhere leaves no target: timeline actions do nothing until the next SetTarget.
    f.target = vm.resolveTarget(f.target ? f.target : f.baseTarget, path);
}
HANDLER(aGotoLabel) {
    QString label = readString(vm, r);
    if (auto* c = asClip(f.target)) {
        int frame = c->frameOfLabel(label);
        if (frame >= 0) c->gotoFrame(frame, false);
    }
}

// SWF 4 arithmetic and logic.
HANDLER(aAdd) { UNUSED_ARGS; Value bv = pop(f), av = pop(f);
    double a = vm.toNumber(av), b = vm.toNumber(bv); push(f, Value(a + b)); }
// Subtract, Divide and the string comparisons convert their right operand first.
HANDLER(aSubtract) { UNUSED_ARGS; Value bv = pop(f), av = pop(f);
    double b = vm.toNumber(bv), a = vm.toNumber(av); push(f, Value(a - b)); }
HANDLER(aMultiply) { UNUSED_ARGS; Value bv = pop(f), av = pop(f);
    double a = vm.toNumber(av), b = vm.toNumber(bv); push(f, Value(a * b)); }
HANDLER(aDivide) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    double b = vm.toNumber(bv), a = vm.toNumber(av);
    if (b == 0 && f.version < 5) { push(f, Value(QStringLiteral("#ERROR#"))); return; }
    push(f, Value(a / b));
}
HANDLER(aEquals) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    // Flash converts the right operand first here.
    double b = vm.toNumber(bv), a = vm.toNumber(av);
    pushBool(f, a == b);
}
HANDLER(aLess) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    double a = vm.toNumber(av), b = vm.toNumber(bv);
    pushBool(f, a < b);
}
HANDLER(aAnd) { UNUSED_ARGS; Value bv = pop(f), av = pop(f);
    bool a = vm.toBool(av), b = vm.toBool(bv); pushBool(f, a && b); }
HANDLER(aOr) { UNUSED_ARGS; Value bv = pop(f), av = pop(f);
    bool a = vm.toBool(av), b = vm.toBool(bv); pushBool(f, a || b); }
HANDLER(aNot) { UNUSED_ARGS; pushBool(f, !vm.toBool(pop(f))); }
HANDLER(aStringEquals) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    QString b = vm.toString(bv), a = vm.toString(av);
    pushBool(f, a == b);
}
HANDLER(aStringLength) { UNUSED_ARGS; push(f, Value(double(vm.toString(pop(f)).size()))); }
HANDLER(aStringAdd) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    QString b = vm.toString(bv), a = vm.toString(av);
    if (!vm.allocateString(b.size(), a.size())) return;
    push(f, Value(a + b));
}
HANDLER(aStringExtract) {
    UNUSED_ARGS;
    int count = vm.toInt32(pop(f));
    int index = vm.toInt32(pop(f));
    QString s = vm.toString(pop(f));
    // 1-based index; out-of-range parts are clipped.
    if (index < 1) index = 1;
    if (count < 0) count = s.size();
    push(f, Value(s.mid(index - 1, count)));
}
HANDLER(aStringLess) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    QString b = vm.toString(bv), a = vm.toString(av);
    pushBool(f, a < b);
}
HANDLER(aToInteger) {
    UNUSED_ARGS;
    // int() wraps to 32 bits like the bit operators: infinities and NaN are 0.
    push(f, Value(double(vm.toInt32(pop(f)))));
}
HANDLER(aCharToAscii) {
    UNUSED_ARGS;
    QString s = vm.toString(pop(f));
    // Half of a surrogate pair is no character: it reads as the replacement character.
    if (s.isEmpty()) push(f, Value(0));
    else push(f, Value(int(s[0].isSurrogate() ? char16_t(QChar::ReplacementCharacter) : s[0].unicode())));
}
// Before SWF 6 strings are bytes in the local code page: chr makes one byte,
// mbchr one or two (high byte first), and a zero byte ends the text.
QString charFromBytes(uint32_t code, bool multibyte) {
    QString s;
    if (multibyte && code > 0xff) s += QChar(char16_t((code >> 8) & 0xff));
    s += QChar(char16_t(code & 0xff));
    const qsizetype nul = s.indexOf(QChar(0));
    return nul < 0 ? s : s.left(nul);
}
void asciiToChar(Vm& vm, ExecFrame& f, bool multibyte) {
    const uint32_t code = uint32_t(vm.toInt32(pop(f)));
    if (f.version < 6) { push(f, Value(charFromBytes(code, multibyte))); return; }
    // Any 16-bit unit, half a surrogate pair included (ord reads that one as the replacement character).
    QChar c(char16_t(code & 0xffff));
    push(f, c.unicode() ? Value(QString(c)) : Value(QString()));
}
HANDLER(aAsciiToChar) { UNUSED_ARGS; asciiToChar(vm, f, false); }
HANDLER(aPush) {
    while (!r.atEnd() && !r.failed()) {
        uint8_t type = r.u8();
        switch (type) {
        case 0: push(f, Value(readString(vm, r))); break;
        case 1: push(f, Value(double(r.f32()))); break;
        case 2: push(f, Value::null()); break;
        case 3: push(f, Value()); break;
        case 4: {
            uint8_t reg = r.u8();
            push(f, reg < f.registers.size() ? f.registers[reg] : Value());
            break;
        }
        case 5: push(f, Value(r.u8() != 0)); break;
        case 6: push(f, Value(r.f64Swapped())); break;
        case 7: push(f, Value(double(r.s32()))); break;
        case 8:
        case 9: {
            size_t i = type == 8 ? r.u8() : r.u16();
            if (f.pool && i < f.pool->size()) push(f, Value((*f.pool)[i]));
            else push(f, Value());
            break;
        }
        default: return; // unknown type: the rest of the record is unreadable
        }
        if (r.failed()) { f.stack.pop_back(); return; }
    }
}
HANDLER(aPop) { UNUSED_ARGS; pop(f); }
HANDLER(aJump) {
    (void)vm;
    int16_t offset = r.s16();
    f.pc = size_t(std::clamp<int64_t>(int64_t(f.pc) + offset, 0, int64_t(f.code.size())));
}
HANDLER(aIf) {
    int16_t offset = r.s16();
    if (vm.toBool(pop(f))) f.pc = size_t(std::clamp<int64_t>(int64_t(f.pc) + offset, 0, int64_t(f.code.size())));
}
HANDLER(aCall) {
    UNUSED_ARGS;
    Value where = pop(f);
    Object* targetObj = f.target;
    QString s = vm.toString(where);
    int colon = s.lastIndexOf(u':');
    if (colon >= 0) { targetObj = resolveFromTarget(vm, f, s.left(colon)); s = s.mid(colon + 1); }
    ClipObject* clip = asClip(targetObj);
    if (!clip) return;
    double n = vm.stringToNumber(s);
    int frame = (!std::isnan(n) && !s.isEmpty()) ? int(n) - 1 : clip->frameOfLabel(s);
    if (frame < 0) return;
    for (auto code : clip->frameScripts(frame)) vm.runActions(code, clip, f.version);
}
HANDLER(aGetVariable) {
    UNUSED_ARGS;
    QString name = vm.toString(pop(f));
    push(f, getVariable(vm, f, name));
}
HANDLER(aSetVariable) {
    UNUSED_ARGS;
    Value v = pop(f);
    QString name = vm.toString(pop(f));
    setVariable(vm, f, name, v);
}
HANDLER(aGetUrl2) {
    uint8_t flags = r.u8();
    QString target = vm.toString(pop(f));
    QString url = vm.toString(pop(f));
    doGetUrl(vm, f, url, target, flags & 3, (flags & 0x40) != 0, (flags & 0x80) != 0);
}
HANDLER(aGotoFrame2) {
    uint8_t flags = r.u8();
    int bias = (flags & 2) ? r.u16() : 0;
    Value where = pop(f);
    if (where.isObject()) where = Value(vm.toString(where)); // an object names its frame by its text
    gotoLabelOrFrame(vm, f, where, (flags & 1) != 0, bias);
}
HANDLER(aSetTarget2) {
    UNUSED_ARGS;
    Value t = pop(f);
    if (ClipObject* c = asClip(t)) {
        // A clip is found again by its path, so a sibling of the same name placed first wins.
        Object* byPath = resolveFromTarget(vm, f, c->targetPath());
        f.target = byPath ? byPath : c;
        return;
    }
    // Anything else names its target by its text (an object through its toString).
    QString path = vm.toString(t);
    if (path.isEmpty()) { f.target = f.baseTarget; return; }
    f.target = resolveFromTarget(vm, f, path);
}
// A clip as it is; anything else (an object through its toString) as a target path.
Object* clipFromValue(Vm& vm, ExecFrame& f, const Value& v) {
    if (ClipObject* c = asClip(v)) return c;
    QString path = vm.toString(v);
    if (path.isEmpty()) return f.target;
    return resolveFromTarget(vm, f, path);
}
HANDLER(aGetProperty) {
    UNUSED_ARGS;
    int index = vm.toInt(pop(f));
    Object* o = clipFromValue(vm, f, pop(f));
    ClipObject* c = asClip(o);
    push(f, c ? c->getProperty(vm, index) : Value());
}
HANDLER(aSetProperty) {
    UNUSED_ARGS;
    Value v = pop(f);
    int index = vm.toInt(pop(f));
    Object* o = clipFromValue(vm, f, pop(f));
    // The value is converted for the property, found or not: text for the names, nothing for
    // the read-only paths, a number for the rest.
    if (v.isObject()) {
        switch (ClipProp(index)) {
        case ClipProp::Name: case ClipProp::Quality: v = Value(vm.toString(v)); break;
        // _focusrect reads the value itself: any object turns the frame off.
        case ClipProp::Target: case ClipProp::DropTarget: case ClipProp::Url: case ClipProp::FocusRect: break;
        default: {
            // valueOf runs once; an object it gives back is no number at all.
            Value primitive = vm.toPrimitive(v, Vm::Hint::Number);
            v = primitive.isObject() ? Value() : primitive;
            break;
        }
        }
    }
    if (ClipObject* c = asClip(o)) c->setProperty(vm, index, v);
}
HANDLER(aCloneSprite) {
    UNUSED_ARGS;
    // The action carries the timeline depth: scripts number depths 16384 lower.
    int depth = int(std::max<int64_t>(int64_t(vm.toInt32(pop(f))) - 16384, INT32_MIN));
    QString target = vm.toString(pop(f));
    Object* source = clipFromValue(vm, f, pop(f));
    if (ClipObject* c = asClip(source)) c->duplicate(vm, target, depth, nullptr);
}
HANDLER(aRemoveSprite) {
    UNUSED_ARGS;
    Object* o = clipFromValue(vm, f, pop(f));
    if (ClipObject* c = asClip(o)) c->removeClip(vm);
}
HANDLER(aStartDrag) {
    UNUSED_ARGS;
    Object* o = clipFromValue(vm, f, pop(f));
    // Objects give their valueOf for both flags.
    Value lockV = pop(f);
    bool lock = vm.toBool(lockV.isObject() ? vm.toPrimitive(lockV, Vm::Hint::Number) : lockV);
    // Only a flag equal to true (1) brings the rectangle's four values.
    bool constrain = vm.toNumber(pop(f)) == 1;
    double rect[4] = {0, 0, 0, 0};
    if (constrain) {
        rect[3] = vm.toNumber(pop(f)); // y2
        rect[2] = vm.toNumber(pop(f)); // x2
        rect[1] = vm.toNumber(pop(f)); // y1
        rect[0] = vm.toNumber(pop(f)); // x1
    }
    if (ClipObject* c = asClip(o)) c->startDrag(vm, lock, constrain ? rect : nullptr);
}
HANDLER(aEndDrag) { UNUSED_ARGS; if (ClipObject* c = asClip(f.target)) c->stopDrag(vm); }
HANDLER(aWaitForFrame2) {
    int skip = r.u8();
    Value frameV = pop(f);
    if (frameV.isObject()) frameV = Value(vm.toString(frameV));
    auto* c = asClip(f.target);
    const double number = c ? vm.toNumber(frameV) : 0.0;
    // A frame past any timeline (or NaN) is simply not loaded yet.
    int frame = std::isfinite(number) ? int(std::clamp(number, -1.0, double(limits::kMaxFrames) + 1)) - 1 : -1;
    if (c && frameV.isString() && std::isnan(number)) {
        frame = c->frameOfLabel(frameV.asString());
        if (frame < 0) return; // a label it does not have never holds the script up
    }
    if (c && frame >= 0 && frame < c->framesLoaded()) return;
    for (int i = 0; i < skip && f.pc < f.code.size(); ++i) {
        uint8_t op = f.code[f.pc];
        size_t len = 1;
        if (op >= 0x80 && f.pc + 2 < f.code.size()) len = 3 + (f.code[f.pc + 1] | (f.code[f.pc + 2] << 8));
        f.pc += len;
    }
}
HANDLER(aTrace) {
    UNUSED_ARGS;
    Value v = pop(f);
    vm.trace(v.isUndefined() ? QStringLiteral("undefined") : vm.toString(v));
}
HANDLER(aGetTime) { UNUSED_ARGS; push(f, Value(std::floor(vm.clockMs()))); }
HANDLER(aRandomNumber) {
    UNUSED_ARGS;
    static thread_local std::mt19937 rng(12345);
    int max = vm.toInt(pop(f));
    push(f, Value(max > 0 ? int(rng() % unsigned(max)) : 0));
}
HANDLER(aMbStringLength) { aStringLength(vm, f, r); }
HANDLER(aMbStringExtract) { aStringExtract(vm, f, r); }
HANDLER(aMbCharToAscii) { aCharToAscii(vm, f, r); }
HANDLER(aMbAsciiToChar) { UNUSED_ARGS; asciiToChar(vm, f, true); }

// SWF 5.
HANDLER(aCallFunction) {
    UNUSED_ARGS;
    QString name = vm.toString(pop(f));
    std::vector<Value> args = popArgs(vm, f);
    // The function runs on the object its name was found on (a timeline, an activation, _global).
    Object* holder = nullptr;
    Value fn = getVariable(vm, f, name, &holder);
    if (!vm.isCallable(fn) && !dynamic_cast<SuperObject*>(fn.asObject())) {
        push(f, Value());
        return;
    }
    callFunctionValue(vm, f, fn, holder ? Value(holder) : Value(), args, nullptr);
}
HANDLER(aCallMethod) {
    UNUSED_ARGS;
    Value nameV = pop(f);
    Value obj = pop(f);
    std::vector<Value> args = popArgs(vm, f);
    QString name = nameV.isUndefined() ? QString() : vm.toString(nameV);
    if (name.isEmpty()) {
        callFunctionValue(vm, f, obj, Value(), args, nullptr);
        return;
    }
    if (auto* sup = dynamic_cast<SuperObject*>(obj.asObject())) {
        Object* holder = nullptr;
        Property* p = vm.findProperty(sup->proto(), name, &holder);
        Value fn = p ? (p->isVirtual() ? vm.call(Value(p->getter), sup->thisv, {}) : p->value) : Value();
        push(f, vm.call(fn, sup->thisv, args, holder ? holder->proto() : nullptr));
        return;
    }
    if (Object* o = obj.asObject()) obj = Value(vm.currentObject(o));
    // A removed clip has lost its methods along with its prototypes.
    if (ClipObject* c = asClip(obj); c && c->removed()) { push(f, Value()); return; }
    Value fn = vm.getMember(obj, name);
    if (!vm.isCallable(fn)) { push(f, Value()); return; }
    Object* holder = nullptr;
    // `super` is the prototype after the one holding the method, searched from
    // the object's prototype on; a method of the object itself counts as held
    // by that prototype.
    Object* start = obj.asObject() ? obj.asObject()->proto() : nullptr;
    if (!obj.isObject())
        if (Object* wrap = vm.toObject(obj)) start = wrap->proto();
    if (start) vm.findProperty(start, name, &holder);
    if (!holder) holder = start;
    Object* superProto = holder ? holder->proto() : nullptr;
    push(f, vm.call(fn, obj, args, superProto ? superProto : vm.emptySuper));
}
HANDLER(aConstantPool) {
    size_t count = r.u16();
    auto pool = std::make_shared<std::vector<QString>>();
    pool->reserve(std::min(count, limits::kReserveCap));
    for (size_t i = 0; i < count && !r.atEnd(); ++i) pool->push_back(readString(vm, r));
    f.pool = std::move(pool);
}
// The function's body follows its header inline: take it out of the running
// code, then push the function (anonymous) or define it by name.
static void finishFunction(Vm& vm, ExecFrame& f, Reader& r, std::unique_ptr<ScriptCode> code) {
    size_t size = r.u16();
    size = std::min(size, f.code.size() - f.pc);
    auto body = f.code.subspan(f.pc, size);
    code->code.assign(body.begin(), body.end());
    f.pc += size;
    QString name = code->name;
    FunctionObject* fn = makeFunction(vm, f, std::move(code));
    if (name.isEmpty()) push(f, Value(fn));
    else defineLocal(vm, f, name, Value(fn));
}
HANDLER(aDefineFunction) {
    auto code = std::make_unique<ScriptCode>();
    code->name = readString(vm, r);
    size_t params = r.u16();
    for (size_t i = 0; i < params && !r.atEnd(); ++i) code->params.push_back(readString(vm, r));
    finishFunction(vm, f, r, std::move(code));
}
HANDLER(aDefineFunction2) {
    auto code = std::make_unique<ScriptCode>();
    code->isFunction2 = true;
    code->name = readString(vm, r);
    size_t params = r.u16();
    code->registerCount = r.u8();
    code->flags = r.u16();
    for (size_t i = 0; i < params && !r.atEnd(); ++i) {
        code->paramRegisters.push_back(r.u8());
        code->params.push_back(readString(vm, r));
    }
    finishFunction(vm, f, r, std::move(code));
}
HANDLER(aDefineLocal) {
    UNUSED_ARGS;
    Value v = pop(f);
    QString name = vm.toString(pop(f));
    defineLocal(vm, f, name, v);
}
HANDLER(aDefineLocal2) {
    UNUSED_ARGS;
    QString name = vm.toString(pop(f));
    if (!f.activation && isPath(name, f.version)) {
        // Outside functions a path declares the variable where it leads.
        const int cut = variableCut(name, f.version);
        Object* on = cut >= 0 ? resolvePathFrom(vm, f, name.left(cut)) : nullptr;
        if (on && !vm.hasOwnProperty(on, name.mid(cut + 1))) vm.setMember(on, name.mid(cut + 1), Value());
        return;
    }
    Object* on = f.activation ? f.activation : f.target;
    if (on && !vm.hasOwnProperty(on, name)) vm.setMember(on, name, Value());
}
HANDLER(aDelete) {
    UNUSED_ARGS;
    QString name = vm.toString(pop(f));
    Value obj = pop(f);
    push(f, Value(vm.deleteMember(obj.asObject(), name)));
}
HANDLER(aDelete2) {
    UNUSED_ARGS;
    QString name = vm.toString(pop(f));
    for (const Scope* s = f.scope.get(); s; s = s->parent.get()) {
        Object* o = scopeObject(vm, f, s);
        if (o && vm.hasOwnProperty(o, name)) { push(f, Value(vm.deleteMember(o, name))); return; }
    }
    if (vm.hasOwnProperty(vm.global(), name)) { push(f, Value(vm.deleteMember(vm.global(), name))); return; }
    push(f, Value(false));
}
void enumerateInto(Vm& vm, ExecFrame& f, const Value& v) {
    push(f, Value::null());
    Object* o = v.asObject();
    if (!o) return;
    // Pushed in creation order, so the loop sees the newest name first, as in Flash.
    for (const QString& k : vm.enumerableKeys(o)) push(f, Value(k));
}
HANDLER(aEnumerate) {
    UNUSED_ARGS;
    QString name = vm.toString(pop(f));
    enumerateInto(vm, f, getVariable(vm, f, name));
}
HANDLER(aEnumerate2) { UNUSED_ARGS; enumerateInto(vm, f, pop(f)); }
HANDLER(aEquals2) {
    UNUSED_ARGS;
    Value b = pop(f), a = pop(f);
    // SWF 5 asks every object for its valueOf first, even one compared with itself.
    if (f.version < 6) {
        if (a.isObject()) a = vm.toPrimitive(a, Vm::Hint::Number);
        if (b.isObject()) b = vm.toPrimitive(b, Vm::Hint::Number);
    }
    push(f, Value(looseEquals(vm, a, b)));
}
HANDLER(aGetMember) {
    UNUSED_ARGS;
    Value nameV = pop(f);
    Value obj = pop(f);
    push(f, vm.getMember(obj, vm.toString(nameV)));
}
HANDLER(aInitArray) {
    UNUSED_ARGS;
    std::vector<Value> items = popArgs(vm, f);
    ArrayObject* a = vm.newArray(std::move(items));
    // A literal takes the prototype _global.Array has now (none once Array is deleted).
    Value array = vm.getMember(Value(vm.global()), QStringLiteral("Array"));
    a->setProto(vm.getMember(array, QStringLiteral("prototype")).asObject());
    push(f, Value(a));
}
HANDLER(aInitObject) {
    UNUSED_ARGS;
    double n = vm.toNumber(pop(f));
    // A count past the stack takes every value left, an odd last one too.
    size_t count = (std::isfinite(n) && n > 0) ? std::min(size_t(n), (f.stack.size() + 1) / 2) : 0;
    Object* o = vm.newObject();
    std::vector<std::pair<Value, Value>> pairs; // (name, value), last first
    for (size_t i = 0; i < count; ++i) {
        Value v = pop(f);
        pairs.emplace_back(pop(f), v);
    }
    // Members are created in source order.
    for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) vm.setMember(o, vm.toString(it->first), it->second);
    push(f, Value(o));
}
HANDLER(aNewMethod) {
    UNUSED_ARGS;
    Value nameV = pop(f);
    Value obj = pop(f);
    std::vector<Value> args = popArgs(vm, f);
    QString name = nameV.isUndefined() ? QString() : vm.toString(nameV);
    Value ctor = name.isEmpty() ? obj : vm.getMember(obj, name);
    push(f, vm.construct(ctor, args));
}
HANDLER(aNewObject) {
    UNUSED_ARGS;
    QString name = vm.toString(pop(f));
    std::vector<Value> args = popArgs(vm, f);
    push(f, vm.construct(getVariable(vm, f, name), args));
}
HANDLER(aSetMember) {
    UNUSED_ARGS;
    Value v = pop(f);
    Value nameV = pop(f);
    Value obj = pop(f);
    // The name converts first, whatever the target: an object name's toString runs either way.
    const QString name = vm.toString(nameV);
    if (Object* o = obj.asObject()) vm.setMember(o, name, v);
}
HANDLER(aTargetPath) {
    UNUSED_ARGS;
    Value v = pop(f);
    if (ClipObject* c = asClip(v)) push(f, Value(c->targetPath()));
    else push(f, Value());
}
HANDLER(aWith) {
    size_t size = r.u16();
    Value v = pop(f);
    Object* o = v.asObject();
    if (!o) o = vm.toObject(v);
    size_t end = std::min(f.pc + size, f.code.size());
    if (!o) { f.pc = end; return; } // with (undefined) skips its body
    ScopePtr inner = pushScope(vm, o, f.scope);
    if (!inner) return;
    f.withEnds.emplace_back(end, f.scope);
    f.scope = std::move(inner);
}
HANDLER(aToNumber) { UNUSED_ARGS; push(f, Value(vm.toNumber(pop(f)))); }
HANDLER(aToString) { UNUSED_ARGS; push(f, Value(vm.toString(pop(f)))); }
HANDLER(aTypeOf) { UNUSED_ARGS; push(f, Value(vm.typeOf(pop(f)))); }
HANDLER(aAdd2) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    Value a = vm.toPrimitive(av), b = vm.toPrimitive(bv);
    if (a.isString() || b.isString()) {
        const QString left = vm.toString(a), right = vm.toString(b);
        if (!vm.allocateString(right.size(), left.size())) return;
        push(f, Value(left + right));
    } else {
        // An object left by valueOf is asked again; a clip has no number.
        push(f, Value(vm.toNumber(a) + vm.toNumber(b)));
    }
}
HANDLER(aLess2) {
    UNUSED_ARGS;
    Value b = pop(f), a = pop(f);
    Value r2 = lessThan(vm, a, b);
    if (r2.isUndefined() && f.version < 5) r2 = Value(false);
    push(f, r2);
}
HANDLER(aGreater) {
    UNUSED_ARGS;
    Value b = pop(f), a = pop(f);
    push(f, lessThan(vm, b, a));
}
HANDLER(aStringGreater) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    QString a = vm.toString(av), b = vm.toString(bv);
    pushBool(f, a > b);
}
HANDLER(aModulo) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    double a = vm.toNumber(av), b = vm.toNumber(bv);
    push(f, Value(std::fmod(a, b)));
}
HANDLER(aBitAnd) { UNUSED_ARGS; Value bv = pop(f), av = pop(f);
    int32_t a = vm.toInt32(av), b = vm.toInt32(bv); push(f, Value(double(a & b))); }
HANDLER(aBitOr) { UNUSED_ARGS; Value bv = pop(f), av = pop(f);
    int32_t a = vm.toInt32(av), b = vm.toInt32(bv); push(f, Value(double(a | b))); }
HANDLER(aBitXor) { UNUSED_ARGS; Value bv = pop(f), av = pop(f);
    int32_t a = vm.toInt32(av), b = vm.toInt32(bv); push(f, Value(double(a ^ b))); }
HANDLER(aBitLShift) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    int32_t a = vm.toInt32(av), b = vm.toInt32(bv);
    push(f, Value(double(int32_t(uint32_t(a) << (b & 31)))));
}
HANDLER(aBitRShift) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    int32_t a = vm.toInt32(av), b = vm.toInt32(bv);
    push(f, Value(double(a >> (b & 31))));
}
HANDLER(aBitURShift) {
    UNUSED_ARGS;
    Value bv = pop(f), av = pop(f);
    uint32_t a = vm.toUint32(av);
    int32_t b = vm.toInt32(bv);
    // The result is read back as a signed 32-bit number.
    push(f, Value(double(int32_t(a >> (b & 31)))));
}
HANDLER(aDecrement) { UNUSED_ARGS; push(f, Value(vm.toNumber(pop(f)) - 1)); }
HANDLER(aIncrement) { UNUSED_ARGS; push(f, Value(vm.toNumber(pop(f)) + 1)); }
HANDLER(aPushDuplicate) { UNUSED_ARGS; Value v = f.stack.empty() ? Value() : f.stack.back(); push(f, v); }
HANDLER(aStackSwap) {
    UNUSED_ARGS;
    Value a = pop(f), b = pop(f);
    push(f, a);
    push(f, b);
}
HANDLER(aStoreRegister) {
    (void)vm;
    uint8_t reg = r.u8();
    if (reg < f.registers.size()) f.registers[reg] = f.stack.empty() ? Value() : f.stack.back();
}
HANDLER(aReturn);

// SWF 6 and 7.
HANDLER(aInstanceOf) {
    UNUSED_ARGS;
    Value ctor = pop(f), obj = pop(f);
    push(f, Value(vm.instanceOfAction(obj, ctor)));
}
HANDLER(aStrictEquals) {
    UNUSED_ARGS;
    Value b = pop(f), a = pop(f);
    push(f, Value(strictEquals(a, b)));
}
HANDLER(aExtends) {
    UNUSED_ARGS;
    Value superclass = pop(f);
    Value subclass = pop(f);
    Object* sub = subclass.asObject();
    if (!sub) return;
    Value superProto = vm.getMember(superclass, QStringLiteral("prototype"));
    Object* proto = vm.make<Object>(superProto.asObject());
    vm.defineValue(proto, QStringLiteral("__constructor__"), superclass, prop::kDontEnum);
    vm.setMember(sub, QStringLiteral("prototype"), Value(proto));
}
HANDLER(aCastOp) {
    UNUSED_ARGS;
    Value obj = pop(f), ctor = pop(f);
    // A primitive is wrapped (its constructor runs) and still is no instance.
    if (!obj.isObject()) { vm.wrapThroughGlobal(obj); push(f, Value::null()); return; }
    push(f, vm.instanceOfAction(obj, ctor) ? obj : Value::null());
}
HANDLER(aImplementsOp) {
    UNUSED_ARGS;
    Value ctor = pop(f);
    std::vector<Value> ifaces = popArgs(vm, f);
    if (Object* c = ctor.asObject())
        for (const Value& i : ifaces)
            if (Object* o = i.asObject()) c->interfaces.push_back(o);
}
HANDLER(aThrow) { UNUSED_ARGS; vm.throwValue(pop(f)); }
HANDLER(aTry) {
    uint8_t flags = r.u8();
    TryBlock t;
    size_t trySize = r.u16(), catchSize = r.u16(), finallySize = r.u16();
    t.hasCatch = flags & 1;
    t.hasFinally = flags & 2;
    t.catchInRegister = flags & 4;
    if (t.catchInRegister) t.catchRegister = r.u8();
    else t.catchName = readString(vm, r);
    t.tryStart = f.pc;
    t.catchStart = std::min(f.pc + trySize, f.code.size());
    t.finallyStart = std::min(t.catchStart + catchSize, f.code.size());
    t.end = std::min(t.finallyStart + finallySize, f.code.size());
    if (!t.hasFinally) t.end = t.finallyStart;
    f.tries.push_back(std::move(t));
}

const Interpreter::Action kActions[] = {
    {0x04, "NextFrame", 3, aNextFrame},
    {0x05, "PreviousFrame", 3, aPrevFrame},
    {0x06, "Play", 3, aPlay},
    {0x07, "Stop", 3, aStop},
    {0x08, "ToggleQuality", 3, aToggleQuality},
    {0x09, "StopSounds", 3, aStopSounds},
    {0x0A, "Add", 4, aAdd},
    {0x0B, "Subtract", 4, aSubtract},
    {0x0C, "Multiply", 4, aMultiply},
    {0x0D, "Divide", 4, aDivide},
    {0x0E, "Equals", 4, aEquals},
    {0x0F, "Less", 4, aLess},
    {0x10, "And", 4, aAnd},
    {0x11, "Or", 4, aOr},
    {0x12, "Not", 4, aNot},
    {0x13, "StringEquals", 4, aStringEquals},
    {0x14, "StringLength", 4, aStringLength},
    {0x15, "StringExtract", 4, aStringExtract},
    {0x17, "Pop", 4, aPop},
    {0x18, "ToInteger", 4, aToInteger},
    {0x1C, "GetVariable", 4, aGetVariable},
    {0x1D, "SetVariable", 4, aSetVariable},
    {0x20, "SetTarget2", 4, aSetTarget2},
    {0x21, "StringAdd", 4, aStringAdd},
    {0x22, "GetProperty", 4, aGetProperty},
    {0x23, "SetProperty", 4, aSetProperty},
    {0x24, "CloneSprite", 4, aCloneSprite},
    {0x25, "RemoveSprite", 4, aRemoveSprite},
    {0x26, "Trace", 4, aTrace},
    {0x27, "StartDrag", 4, aStartDrag},
    {0x28, "EndDrag", 4, aEndDrag},
    {0x29, "StringLess", 4, aStringLess},
    {0x2A, "Throw", 7, aThrow},
    {0x2B, "CastOp", 7, aCastOp},
    {0x2C, "ImplementsOp", 7, aImplementsOp},
    {0x30, "RandomNumber", 4, aRandomNumber},
    {0x31, "MBStringLength", 4, aMbStringLength},
    {0x32, "CharToAscii", 4, aCharToAscii},
    {0x33, "AsciiToChar", 4, aAsciiToChar},
    {0x34, "GetTime", 4, aGetTime},
    {0x35, "MBStringExtract", 4, aMbStringExtract},
    {0x36, "MBCharToAscii", 4, aMbCharToAscii},
    {0x37, "MBAsciiToChar", 4, aMbAsciiToChar},
    {0x3A, "Delete", 5, aDelete},
    {0x3B, "Delete2", 5, aDelete2},
    {0x3C, "DefineLocal", 5, aDefineLocal},
    {0x3D, "CallFunction", 5, aCallFunction},
    {0x3E, "Return", 5, aReturn},
    {0x3F, "Modulo", 5, aModulo},
    {0x40, "NewObject", 5, aNewObject},
    {0x41, "DefineLocal2", 5, aDefineLocal2},
    {0x42, "InitArray", 5, aInitArray},
    {0x43, "InitObject", 5, aInitObject},
    {0x44, "TypeOf", 5, aTypeOf},
    {0x45, "TargetPath", 5, aTargetPath},
    {0x46, "Enumerate", 5, aEnumerate},
    {0x47, "Add2", 5, aAdd2},
    {0x48, "Less2", 5, aLess2},
    {0x49, "Equals2", 5, aEquals2},
    {0x4A, "ToNumber", 5, aToNumber},
    {0x4B, "ToString", 5, aToString},
    {0x4C, "PushDuplicate", 5, aPushDuplicate},
    {0x4D, "StackSwap", 5, aStackSwap},
    {0x4E, "GetMember", 5, aGetMember},
    {0x4F, "SetMember", 5, aSetMember},
    {0x50, "Increment", 5, aIncrement},
    {0x51, "Decrement", 5, aDecrement},
    {0x52, "CallMethod", 5, aCallMethod},
    {0x53, "NewMethod", 5, aNewMethod},
    {0x54, "InstanceOf", 6, aInstanceOf},
    {0x55, "Enumerate2", 6, aEnumerate2},
    {0x60, "BitAnd", 5, aBitAnd},
    {0x61, "BitOr", 5, aBitOr},
    {0x62, "BitXor", 5, aBitXor},
    {0x63, "BitLShift", 5, aBitLShift},
    {0x64, "BitRShift", 5, aBitRShift},
    {0x65, "BitURShift", 5, aBitURShift},
    {0x66, "StrictEquals", 6, aStrictEquals},
    {0x67, "Greater", 6, aGreater},
    {0x68, "StringGreater", 6, aStringGreater},
    {0x69, "Extends", 7, aExtends},
    {0x81, "GotoFrame", 3, aGotoFrame},
    {0x83, "GetURL", 3, aGetUrl},
    {0x87, "StoreRegister", 5, aStoreRegister},
    {0x88, "ConstantPool", 5, aConstantPool},
    {0x8A, "WaitForFrame", 3, aWaitForFrame},
    {0x8B, "SetTarget", 3, aSetTarget},
    {0x8C, "GoToLabel", 3, aGotoLabel},
    {0x8D, "WaitForFrame2", 4, aWaitForFrame2},
    {0x8E, "DefineFunction2", 7, aDefineFunction2},
    {0x8F, "Try", 7, aTry},
    {0x94, "With", 5, aWith},
    {0x96, "Push", 4, aPush},
    {0x99, "Jump", 4, aJump},
    {0x9A, "GetURL2", 4, aGetUrl2},
    {0x9B, "DefineFunction", 5, aDefineFunction},
    {0x9D, "If", 4, aIf},
    {0x9E, "Call", 4, aCall},
    {0x9F, "GotoFrame2", 4, aGotoFrame2},
};

struct ActionTable {
    const Interpreter::Action* byCode[256] = {};
    ActionTable() {
        for (const auto& a : kActions) byCode[a.code] = &a;
    }
};
const ActionTable& actionTable() {
    static const ActionTable table;
    return table;
}

// Return: leaves through any finally block first.
HANDLER(aReturn) {
    UNUSED_ARGS;
    Value v = pop(f);
    for (size_t i = f.tries.size(); i-- > 0;) {
        TryBlock& t = f.tries[i];
        if (t.hasFinally && t.state != TryBlock::State::Finally) {
            t.pendingReturn = v;
            t.pendingThrow.reset();
            t.state = TryBlock::State::Finally;
            f.pc = t.finallyStart;
            f.tries.resize(i + 1);
            return;
        }
    }
    f.returned = true;
    f.returnValue = v;
}

// Moves control into the nearest catch or finally; false when the exception leaves the frame.
bool unwind(Vm& vm, ExecFrame& f) {
    while (!f.tries.empty()) {
        TryBlock& t = f.tries.back();
        if (t.state == TryBlock::State::Try && t.hasCatch) {
            Value e = *vm.takeException();
            if (t.catchInRegister) {
                if (t.catchRegister < f.registers.size()) f.registers[t.catchRegister] = e;
            } else {
                defineLocal(vm, f, t.catchName, e);
            }
            t.state = TryBlock::State::Catch;
            f.pc = t.catchStart;
            return true;
        }
        if (t.state != TryBlock::State::Finally && t.hasFinally) {
            t.pendingThrow = vm.takeException();
            t.state = TryBlock::State::Finally;
            f.pc = t.finallyStart;
            return true;
        }
        f.tries.pop_back();
    }
    return false;
}

// Handles reaching the end of try, catch and finally regions; false when the frame must stop.
bool crossTryBoundaries(Vm& vm, ExecFrame& f) {
    while (!f.tries.empty()) {
        TryBlock& t = f.tries.back();
        if (f.pc < t.tryStart || f.pc > t.end) { f.tries.pop_back(); continue; } // jumped out
        if (t.state == TryBlock::State::Try && f.pc == t.catchStart) {
            if (t.hasFinally) { t.state = TryBlock::State::Finally; f.pc = t.finallyStart; }
            else { f.pc = t.end; f.tries.pop_back(); continue; }
        }
        if (t.state == TryBlock::State::Catch && f.pc == t.finallyStart) {
            if (t.hasFinally) t.state = TryBlock::State::Finally;
            else { f.tries.pop_back(); continue; }
        }
        if (t.state == TryBlock::State::Finally && f.pc == t.end) {
            TryBlock done = std::move(t);
            f.tries.pop_back();
            if (done.pendingThrow) {
                vm.throwValue(*done.pendingThrow);
                if (!unwind(vm, f)) return false;
                continue;
            }
            if (done.pendingReturn) {
                f.stack.push_back(*done.pendingReturn);
                Reader none;
                aReturn(vm, f, none);
                if (f.returned) return false;
            }
            continue;
        }
        break;
    }
    return true;
}

} // namespace

const Interpreter::Action* Interpreter::action(uint8_t code) { return actionTable().byCode[code]; }

void Interpreter::run(Vm& vm, ExecFrame& f) {
    const ActionTable& table = actionTable();
    while (!vm.halted()) {
        while (!f.withEnds.empty() && (f.pc >= f.withEnds.back().first)) {
            f.scope = f.withEnds.back().second;
            f.withEnds.pop_back();
        }
        if (!f.tries.empty() && !crossTryBoundaries(vm, f)) break;
        if (vm.hasException()) break;
        if (f.pc >= f.code.size()) break;
        if (!vm.countAction()) break;
        const uint8_t op = f.code[f.pc];
        if (op == 0) break; // End
        size_t length = 0;
        size_t next = f.pc + 1;
        if (op >= 0x80) {
            if (f.pc + 3 > f.code.size()) break;
            length = f.code[f.pc + 1] | (f.code[f.pc + 2] << 8);
            next = f.pc + 3 + length;
            if (next > f.code.size()) break; // truncated action: the block ends here
        }
        Reader payload(f.code.subspan(f.pc + (op >= 0x80 ? 3 : 1), length));
        f.pc = next;
        // Code whose timeline left the stage runs on until its next call
        // (a method call only when made on an object), then stops.
        bool callChecksTimeline = op == 0x3D || op == 0x40;
        if (op == 0x52 || op == 0x53) callChecksTimeline = f.stack.size() >= 2 && f.stack[f.stack.size() - 2].isObject();
        if (const Action* a = table.byCode[op]) {
            a->handler(vm, f, payload);
        } else {
            vm.unimplemented(QStringLiteral("action 0x%1").arg(op, 2, 16, QLatin1Char('0')));
        }
        if (!f.stack.empty()) {
            if (f.stack.size() > limits::kMaxOperandStack) {
                vm.halt(QStringLiteral("more than %1 values on the stack").arg(limits::kMaxOperandStack));
                break;
            }
            if (f.stack.back().isString()) vm.chargeNewString(f.stack.back().asString());
        }
        if (callChecksTimeline) {
            auto* base = dynamic_cast<ClipObject*>(f.baseTarget);
            if (base && base->removed()) break;
        }
        if (vm.hasException() && !unwind(vm, f)) break;
        if (f.returned) break;
    }
}


// ---- Entry points on the Vm that need the interpreter ------------------------------

namespace {
// Values left on the shared stack beyond this are dropped (a leaking script
// must not grow it without bound).
constexpr size_t kMaxSharedStack = 65536;
// Saves and restores the Vm's notion of the running frame and version.
struct FrameScope {
    Vm& vm;
    ExecFrame* savedFrame;
    int savedVersion;
    FrameScope(Vm& v, ExecFrame* f, ExecFrame*& slot, int& version)
        : vm(v), savedFrame(slot), savedVersion(version), m_slot(slot), m_version(version) {
        f->caller = slot;
        slot = f;
        version = f->version;
    }
    ~FrameScope() { m_slot = savedFrame; m_version = savedVersion; }
    ExecFrame*& m_slot;
    int& m_version;
};
} // namespace

void Vm::runActions(std::span<const uint8_t> code, Object* target, int version, Object* thisObj) {
    if (m_halted || !target) return;
    ExecFrame f;
    f.code = code;
    f.version = version;
    f.registers.resize(4);
    f.baseTarget = f.target = target;
    f.thisv = Value(thisObj ? thisObj : target);
    f.scope = std::make_shared<const Scope>(target, nullptr);
    if (m_depth >= limits::kMaxCallDepth) { halt(QStringLiteral("recursion limit")); return; }
    const bool topLevel = m_frame == nullptr;
    if (topLevel) {
        f.stack = std::move(m_sharedStack);
        f.pool = m_sharedPool;
    }
    ++m_depth;
    {
        ScriptRun run(m_budget);
        FrameScope scope(*this, &f, m_frame, m_version);
        Interpreter::run(*this, f);
    }
    --m_depth;
    if (topLevel) {
        m_sharedStack = std::move(f.stack);
        if (m_sharedStack.size() > kMaxSharedStack || m_halted) m_sharedStack.clear();
        m_sharedPool = f.pool;
    }
    if (!m_frame && m_exception) {
        // An uncaught exception ends this action block only; the Flash player
        // reports it in the trace output.
        Value e = *takeException();
        trace(QStringLiteral("Warning: Uncaught exception, ") + toString(e));
        takeException();
    }
}

Value Vm::runFunction(FunctionObject* fn, const Value& thisv, std::span<const Value> args, Object* superProto) {
    const ScriptCode& sc = *fn->script();
    ExecFrame f;
    f.constructing = std::exchange(m_constructNext, false);
    f.code = sc.code;
    f.version = sc.version;
    f.pool = sc.constantPool;
    f.baseTarget = f.target = sc.target;
    // A function called without an object runs with its timeline as `this`.
    f.thisv = thisv.isNullish() && sc.target ? Value(sc.target) : thisv;
    Object* activation = make<Object>(nullptr);
    f.activation = activation;
    f.scope = pushScope(*this, activation, sc.scope);
    if (!f.scope) return Value();
    // `super` came with SWF 6: older functions see a plain, unset name.
    if (superProto && sc.version >= 6) f.superv = Value(make<SuperObject>(superProto, f.thisv));

    ArrayObject* arguments = nullptr;
    auto makeArguments = [&]() {
        arguments = newArray(std::vector<Value>(args.begin(), args.end()));
        defineValue(arguments, QStringLiteral("callee"), Value(fn), prop::kDontEnum);
        Value caller = m_frame && m_frame->activation ? getMember(Value(m_frame->activation), QStringLiteral("arguments")) : Value();
        Object* callerArgs = caller.asObject();
        Value callerFn = callerArgs ? getMember(caller, QStringLiteral("callee")) : Value::null();
        defineValue(arguments, QStringLiteral("caller"), callerFn, prop::kDontEnum);
        return Value(arguments);
    };

    if (!sc.isFunction2) {
        f.registers.resize(4);
        defineValue(activation, QStringLiteral("arguments"), makeArguments(), 0);
        for (size_t i = 0; i < sc.params.size(); ++i)
            defineValue(activation, sc.params[i], i < args.size() ? args[i] : Value(), 0);
    } else {
        f.registers.resize(std::max<size_t>(sc.registerCount, 1));
        const uint16_t fl = sc.flags;
        size_t reg = 1;
        auto preload = [&](const Value& v) { if (reg < f.registers.size()) f.registers[reg] = v; ++reg; };
        // A suppressed value still takes its register, left undefined.
        if (fl & 0x0001) preload((fl & 0x0002) ? Value() : f.thisv);
        // Preloading arguments wins over suppressing them.
        if (fl & 0x0004) preload(makeArguments());
        else if (!(fl & 0x0008)) defineValue(activation, QStringLiteral("arguments"), makeArguments(), 0);
        if (fl & 0x0010) preload((fl & 0x0020) ? Value() : f.superv);
        if (fl & 0x0030) f.superv = Value();
        if (fl & 0x0003) f.thisIsLocal = false;
        if (fl & 0x0040) {
            Object* rootObj = m_root;
            if (auto* c = dynamic_cast<ClipObject*>(sc.target)) rootObj = c->rootClip();
            preload(Value(rootObj));
        }
        if (fl & 0x0080) {
            // A timeline without a parent preloads nothing: _global then takes that register.
            auto* c = dynamic_cast<ClipObject*>(sc.target);
            if (c && c->parentClip()) preload(Value(static_cast<Object*>(c->parentClip())));
        }
        if (fl & 0x0100) preload(Value(m_global));
        for (size_t i = 0; i < sc.params.size(); ++i) {
            Value v = i < args.size() ? args[i] : Value();
            uint8_t r = i < sc.paramRegisters.size() ? sc.paramRegisters[i] : 0;
            if (r && r < f.registers.size()) f.registers[r] = v;
            else defineValue(activation, sc.params[i], v, 0);
        }
        if (fl & 0x0002) f.thisv = Value(); // suppressed: `this` is undefined inside
    }
    {
        FrameScope scope(*this, &f, m_frame, m_version);
        Interpreter::run(*this, f);
    }
    return f.returned ? f.returnValue : Value();
}

// The longest name one element of a target path holds.
constexpr int kMaxPathNameLength = 127;

Object* Vm::resolveTarget(Object* base, const QString& path) {
    Object* cur = base ? base : static_cast<Object*>(m_root);
    const int n = path.size();
    int i = 0;
    // Once a '/' was seen, '.' is part of names ("a/b.c" names "b.c"), as it
    // always is in SWF 4; ':' always separates. ".." is the parent only
    // before a '/' or at the end.
    bool dots = m_version >= 5;
    if (path.startsWith(u'/')) {
        auto* clip = dynamic_cast<ClipObject*>(cur);
        cur = clip ? clip->rootClip() : static_cast<Object*>(m_root);
        i = 1;
        dots = false;
    } else if (path.startsWith(u':')) {
        i = 1; // ":a" is "a", from where we are
    }
    while (i < n) {
        if (!cur) return nullptr;
        auto* clip = dynamic_cast<ClipObject*>(cur);
        int end = i;
        if (path.mid(i, 2) == u".." && (i + 2 == n || path[i + 2] == u'/')) {
            end = i + 2;
        } else {
            while (end < n && path[end] != u'/' && path[end] != u':' && !(path[end] == u'.' && dots)) ++end;
        }
        // A longer name is read as several: its first 127 characters, then the rest.
        const bool cut = end - i > kMaxPathNameLength;
        if (cut) end = i + kMaxPathNameLength;
        const QString seg = path.mid(i, end - i);
        const bool parentDots = seg == u".." && (end >= n || path[end] == u'/');
        if (!cut && end < n && path[end] == u'/') dots = false;
        i = cut ? end : end + 1;
        if (seg.isEmpty()) {
            if (end < n && path[end] == u':') continue; // "a::b" is "a:b"
            if (end < n) return nullptr; // "a//b": an empty name leads nowhere
            break;
        }
        if (parentDots || namesEqual(seg, QStringLiteral("_parent"))) {
            cur = clip ? clip->parentClip() : nullptr;
        } else if (namesEqual(seg, QStringLiteral("_root"))) {
            cur = clip ? clip->rootClip() : static_cast<Object*>(m_root);
        } else if (namesEqual(seg, QStringLiteral("this"))) {
            // stays
        } else if (namesEqual(seg, QStringLiteral("_global"))) {
            cur = m_global;
        } else if (seg.startsWith(QStringLiteral("_level"), m_caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive)) {
            bool ok = false;
            int level = seg.mid(6).toInt(&ok);
            cur = ok ? levelClip(level) : nullptr;
        } else if (Object* child = clip ? clip->childByName(seg) : nullptr) {
            cur = child; // a path element names a child clip before a variable of that name
        } else {
            cur = getMember(Value(cur), seg).asObject();
        }
    }
    return cur;
}

Value Vm::getVariable(const QString& name) {
    if (!m_frame) return getMember(Value(static_cast<Object*>(m_root)), name);
    return swf::avm1::getVariable(*this, *m_frame, name);
}

void Vm::setVariable(const QString& name, const Value& v) {
    if (!m_frame) { setMember(m_root, name, v); return; }
    swf::avm1::setVariable(*this, *m_frame, name, v);
}

} // namespace swf::avm1
