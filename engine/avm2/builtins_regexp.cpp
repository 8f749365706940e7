// RegExp (ECMA-262 15.10 with AS3's flags g i m s x and named groups): the
// class over the library's matcher, and the exec that String's pattern
// methods share.
#include "engine/avm2/builtins.h"

namespace swf::avm2 {

using avm2lib::RegExpFlags;
using avm2lib::RegExpMatch;

namespace {

RegExpObject* regExpThis(Vm& vm, const Value& self) { return thisAs<RegExpObject>(vm, self, "RegExp"); }

// Flash reads the flag letters it knows and ignores every other character.
RegExpFlags flagsFrom(const QString& letters) {
    RegExpFlags f;
    for (QChar c : letters) {
        switch (c.unicode()) {
        case u'g': f.global = true; break;
        case u'i': f.ignoreCase = true; break;
        case u'm': f.multiline = true; break;
        case u's': f.dotAll = true; break;
        case u'x': f.extended = true; break;
        default: break;
        }
    }
    return f;
}

// A pattern that does not compile stays a RegExp that matches nothing.
void compileInto(RegExpObject& r, const QString& source, RegExpFlags flags) {
    r.source = source;
    r.flags = flags;
    r.re = avm2lib::RegExp::compile(u16(source), flags);
}

Value regExpCtor(Vm& vm, const Value& self, Args a) {
    RegExpObject* r = regExpThis(vm, self);
    Value pattern = arg(a, 0), flags = arg(a, 1);
    if (pattern.isObject())
        if (auto* from = pattern.o->as<RegExpObject>()) {
            if (!flags.isUndefined()) vm.throwError(ErrorType::TypeError, 1100);
            compileInto(*r, from->source, from->flags);
            return {};
        }
    const QString source = pattern.isUndefined() ? QString() : vm.toString(pattern);
    compileInto(*r, source, flagsFrom(flags.isUndefined() ? QString() : vm.toString(flags)));
    return {};
}

// RegExp(re) with no flags is `re` itself; any other call constructs.
Value regExpCall(Vm& vm, const Value&, Args a) {
    if (a.size() >= 1 && arg(a, 1).isUndefined() && a[0].isObject() && a[0].o->as<RegExpObject>()) return a[0];
    return vm.construct(Value::object(vm.builtin("RegExp")), a);
}

QString flagLetters(const RegExpFlags& f) {
    QString s;
    if (f.global) s += u'g';
    if (f.ignoreCase) s += u'i';
    if (f.multiline) s += u'm';
    if (f.dotAll) s += u's';
    if (f.extended) s += u'x';
    return s;
}

Value regExpToString(Vm& vm, const Value& self, Args) {
    RegExpObject* r = regExpThis(vm, self);
    return Value::string(u'/' + r->source + u'/' + flagLetters(r->flags));
}
Value regExpExecMethod(Vm& vm, const Value& self, Args a) {
    return regExpExec(vm, *regExpThis(vm, self), vm.toString(arg(a, 0)));
}
Value regExpTest(Vm& vm, const Value& self, Args a) {
    return Value::boolean(!regExpExec(vm, *regExpThis(vm, self), vm.toString(arg(a, 0))).isNull());
}

template <bool RegExpFlags::*Flag> Value flagGetter(Vm& vm, const Value& self, Args) {
    return Value::boolean(regExpThis(vm, self)->flags.*Flag);
}
Value sourceGetter(Vm& vm, const Value& self, Args) { return Value::string(regExpThis(vm, self)->source); }
Value lastIndexGetter(Vm& vm, const Value& self, Args) { return Value::number(regExpThis(vm, self)->lastIndex); }
Value lastIndexSetter(Vm& vm, const Value& self, Args a) {
    regExpThis(vm, self)->lastIndex = double(vm.toInt(arg(a, 0)));
    return {};
}

} // namespace

RegExpObject* regExpOf(Vm& vm, const Value& pattern) {
    if (pattern.isObject())
        if (auto* r = pattern.o->as<RegExpObject>()) return r;
    // Any other pattern is converted to a string first: undefined looks for "undefined".
    Value args[1] = {Value::string(vm.toString(pattern))};
    Value made = vm.construct(Value::object(vm.builtin("RegExp")), std::span<const Value>(args, 1));
    return made.o->as<RegExpObject>();
}

RegExpMatch matchFrom(const RegExpObject& re, const QString& subject, int start) {
    if (!re.re.valid() || start < 0 || start > subject.size()) return {};
    RegExpMatch m = re.re.execAt(u16(subject), start);
    return m.matched() ? m : RegExpMatch{};
}

Value regExpExec(Vm& vm, RegExpObject& re, const QString& subject) {
    if (!re.re.valid()) return Value::null();
    RegExpMatch m = re.re.exec(u16(subject), re.lastIndex);
    if (!m.matched()) {
        if (re.flags.global) re.lastIndex = 0; // a step-budget stop ends the search like a miss
        return Value::null();
    }
    std::vector<Value> items;
    const int groups = re.re.groupCount();
    for (int g = 0; g <= groups; ++g)
        items.push_back(m.defined(g) ? Value::string(subject.mid(m.start(g), m.end(g) - m.start(g))) : Value());
    ArrayObject* result = vm.newArray(items);
    const Value out = Value::object(result);
    vm.setPublic(out, QStringLiteral("index"), Value::number(m.start()));
    vm.setPublic(out, QStringLiteral("input"), Value::string(subject));
    for (int g = 1; g <= groups; ++g)
        if (!re.re.groupName(g).empty()) vm.setPublic(out, qstr(re.re.groupName(g)), items[size_t(g)]);
    return out;
}

void installRegExpClass(Vm& vm) {
    ClassObject* c = vm.defineClass(QStringLiteral("RegExp"), vm.builtin("Object"),
                                    [](Vm& vm, ClassObject*) -> Object* { return vm.make<RegExpObject>(); }, regExpCtor, 1);
    c->call = regExpCall;
    vm.defineMethod(c, QStringLiteral("exec"), regExpExecMethod, 1);
    vm.defineMethod(c, QStringLiteral("test"), regExpTest, 1);
    vm.defineMethod(c, QStringLiteral("toString"), regExpToString, 0);
    const std::pair<const char*, NativeFn> flags[] = {
        {"global", flagGetter<&RegExpFlags::global>},       {"ignoreCase", flagGetter<&RegExpFlags::ignoreCase>},
        {"multiline", flagGetter<&RegExpFlags::multiline>}, {"dotall", flagGetter<&RegExpFlags::dotAll>},
        {"extended", flagGetter<&RegExpFlags::extended>},   {"source", sourceGetter},
    };
    for (const auto& [name, fn] : flags) vm.defineAccessor(c, QString::fromLatin1(name), fn);
    vm.defineAccessor(c, QStringLiteral("lastIndex"), lastIndexGetter, lastIndexSetter);
    vm.defineConstant(c, QStringLiteral("length"), Value::number(1));
}

} // namespace swf::avm2
