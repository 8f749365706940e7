// String: every method takes `this` as a string (ToString of anything else).
#include "engine/avm2/builtins.h"

#include "engine/core/limits.h"

namespace swf::avm2 {

namespace {

QString self_(Vm& vm, const Value& self) { return self.isString() ? self.s : vm.toString(self); }

// ToInteger, clamped into [0, len] after negative values count from the end where asked.
qsizetype clampIndex(Vm& vm, const Value& v, qsizetype len, qsizetype dflt, bool fromEnd) {
    if (v.isUndefined()) return dflt;
    double d = vm.toNumber(v);
    if (std::isnan(d)) d = 0;
    d = std::trunc(d);
    if (fromEnd && d < 0) d += double(len);
    return qsizetype(std::clamp(d, 0.0, double(len)));
}

Value stringCtor(Vm& vm, const Value&, Args a) { return Value::string(a.empty() ? QString() : vm.toString(a[0])); }
Value length(Vm& vm, const Value& self, Args) { return Value::number(double(self_(vm, self).size())); }
Value charAt(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    double i = a.empty() ? 0 : std::trunc(vm.toNumber(a[0]));
    if (std::isnan(i)) i = 0;
    return Value::string(i >= 0 && i < double(s.size()) ? QString(s[qsizetype(i)]) : QString());
}
Value charCodeAt(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    double i = a.empty() ? 0 : std::trunc(vm.toNumber(a[0]));
    if (std::isnan(i)) i = 0;
    return Value::number(i >= 0 && i < double(s.size()) ? s[qsizetype(i)].unicode() : std::nan(""));
}
Value concat(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    for (const Value& v : a) s += vm.toString(v);
    if (size_t(s.size()) > limits::kMaxStringLength) vm.throwError(ErrorType::RangeError, 1000);
    return Value::string(s);
}
Value indexOf(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    QString needle = vm.toString(arg(a, 0));
    qsizetype from = clampIndex(vm, arg(a, 1), s.size(), 0, false);
    return Value::number(double(s.indexOf(needle, from)));
}
Value lastIndexOf(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    QString needle = vm.toString(arg(a, 0));
    double from = a.size() > 1 ? vm.toNumber(a[1]) : INFINITY;
    if (std::isnan(from)) from = INFINITY;
    qsizetype start = qsizetype(std::clamp(std::trunc(from), 0.0, double(s.size())));
    for (qsizetype i = std::min(start, s.size() - needle.size()); i >= 0; --i)
        if (QStringView(s).mid(i, needle.size()) == needle) return Value::number(double(i));
    return Value::number(-1);
}
Value slice(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    qsizetype b = clampIndex(vm, arg(a, 0), s.size(), 0, true);
    qsizetype e = clampIndex(vm, arg(a, 1), s.size(), s.size(), true);
    return Value::string(e > b ? s.mid(b, e - b) : QString());
}
Value substring(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    qsizetype b = clampIndex(vm, arg(a, 0), s.size(), 0, false);
    qsizetype e = clampIndex(vm, arg(a, 1), s.size(), s.size(), false);
    if (b > e) std::swap(b, e);
    return Value::string(s.mid(b, e - b));
}
Value substr(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    qsizetype b = clampIndex(vm, arg(a, 0), s.size(), 0, true);
    double len = arg(a, 1).isUndefined() ? double(s.size()) : std::trunc(vm.toNumber(arg(a, 1)));
    if (std::isnan(len)) len = 0;
    qsizetype n = qsizetype(std::clamp(len, 0.0, double(s.size() - b)));
    return Value::string(s.mid(b, n));
}
// Case changes go one code unit at a time through the one-to-one mappings of
// the Unicode of the player's day: a letter whose capital needs two
// characters (ß) or that gained a capital later (Georgian) stays as it is,
// and so does the micro sign, which the player's table gives no capital.
template <bool Upper> Value changeCase(Vm& vm, const Value& self, Args) {
    QString s = self_(vm, self);
    for (QChar& c : s) {
        const char16_t from = c.unicode();
        // Qt leaves the dotted capital I to its special casing; its one-to-one lower case is i.
        const char32_t to = Upper ? QChar::toUpper(char32_t(from)) : from == u'\u0130' ? U'i' : QChar::toLower(char32_t(from));
        if (to != from && to <= 0xFFFF && from != u'\u00B5' && QChar::unicodeVersion(to) <= QChar::Unicode_5_0) c = QChar(char16_t(to));
    }
    return Value::string(s);
}
bool isRegExp(const Value& v) { return v.isObject() && v.o->as<RegExpObject>(); }

Value substringOrUndefined(const QString& s, const avm2lib::RegExpMatch& m, int group) {
    return m.defined(group) ? Value::string(s.mid(m.start(group), m.end(group) - m.start(group))) : Value();
}

// ECMA-262 15.5.4.14: a RegExp separator splits where it matches (an empty
// match only past the previous piece) and its groups join the result.
Value split(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    Value sepV = arg(a, 0);
    const double limit = arg(a, 1).isUndefined() ? 4294967295.0 : vm.toUint(arg(a, 1));
    std::vector<Value> out;
    auto full = [&] { return double(out.size()) >= limit; };
    if (limit == 0) return Value::object(vm.newArray());
    if (sepV.isUndefined()) {
        out.push_back(Value::string(s));
    } else if (isRegExp(sepV)) {
        const RegExpObject& re = *sepV.o->as<RegExpObject>();
        if (s.isEmpty()) {
            if (!matchFrom(re, s, 0).matched()) out.push_back(Value::string(s));
            return Value::object(vm.newArray(std::move(out)));
        }
        int p = 0, q = 0;
        while (q < s.size()) {
            avm2lib::RegExpMatch m = matchFrom(re, s, q);
            if (!m.matched() || m.start() >= s.size()) break;
            if (m.end() == p) { // an empty match where the last piece ended
                q = m.start() + 1;
                continue;
            }
            vm.chargeWork();
            out.push_back(Value::string(s.mid(p, m.start() - p)));
            if (full()) return Value::object(vm.newArray(std::move(out)));
            for (int g = 1; g <= re.re.groupCount(); ++g) {
                out.push_back(substringOrUndefined(s, m, g));
                if (full()) return Value::object(vm.newArray(std::move(out)));
            }
            p = q = m.end();
        }
        out.push_back(Value::string(s.mid(p)));
    } else {
        QString sep = vm.toString(sepV);
        if (sep.isEmpty()) {
            for (QChar c : s) {
                if (full()) break;
                out.push_back(Value::string(QString(c)));
            }
        } else {
            qsizetype pos = 0;
            while (!full()) {
                qsizetype next = s.indexOf(sep, pos);
                if (next < 0) { out.push_back(Value::string(s.mid(pos))); break; }
                out.push_back(Value::string(s.mid(pos, next - pos)));
                pos = next + sep.size();
            }
        }
    }
    return Value::object(vm.newArray(std::move(out)));
}

// ECMA-262 15.5.4.11: a global RegExp replaces every match, any other
// pattern the first; the replacement is a function's result or a string
// with $ patterns.
Value replace(Vm& vm, const Value& self, Args a) {
    const QString s = self_(vm, self);
    const Value pattern = arg(a, 0), with = arg(a, 1);
    const bool callback = with.isObject() && with.o->as<FunctionObject>();
    const QString withText = callback ? QString() : vm.toString(with);
    struct Found { int start, end; avm2lib::RegExpMatch groups; };
    std::vector<Found> found;
    if (isRegExp(pattern)) {
        RegExpObject& re = *pattern.o->as<RegExpObject>();
        for (int from = 0; from <= s.size();) {
            avm2lib::RegExpMatch m = matchFrom(re, s, from);
            if (!m.matched()) break;
            vm.chargeWork();
            found.push_back({m.start(), m.end(), m});
            if (!re.flags.global) break;
            from = m.end() > m.start() ? m.end() : m.end() + 1;
        }
        if (re.flags.global) re.lastIndex = 0;
    } else {
        const QString needle = vm.toString(pattern);
        const qsizetype at = s.indexOf(needle);
        if (at >= 0) {
            avm2lib::RegExpMatch m;
            m.status = avm2lib::MatchStatus::Match;
            m.spans = {int(at), int(at + needle.size())};
            found.push_back({int(at), int(at + needle.size()), m});
        }
    }
    QString out;
    int last = 0;
    for (const Found& f : found) {
        out += QStringView(s).mid(last, f.start - last);
        if (callback) {
            std::vector<Value> args;
            const int groups = int(f.groups.spans.size() / 2);
            for (int g = 0; g < groups; ++g) args.push_back(substringOrUndefined(s, f.groups, g));
            args.push_back(Value::number(f.start));
            args.push_back(Value::string(s));
            out += vm.toString(vm.call(with, Value::null(), args));
        } else {
            out += qstr(avm2lib::expandReplacement(u16(withText), u16(s), f.groups));
        }
        if (size_t(out.size()) > limits::kMaxStringLength) vm.throwError(ErrorType::RangeError, 1000);
        last = f.end;
    }
    out += QStringView(s).mid(last);
    return Value::string(out);
}

// ECMA-262 15.5.4.10: without g the first match as exec gives it, with g
// every match's text, or null when there is none.
Value match(Vm& vm, const Value& self, Args a) {
    const QString s = self_(vm, self);
    RegExpObject& re = *regExpOf(vm, arg(a, 0));
    if (!re.flags.global) return regExpExec(vm, re, s);
    std::vector<Value> all;
    for (int from = 0; from <= s.size();) {
        avm2lib::RegExpMatch m = matchFrom(re, s, from);
        if (!m.matched()) break;
        vm.chargeWork();
        all.push_back(Value::string(s.mid(m.start(), m.end() - m.start())));
        from = m.end() > m.start() ? m.end() : m.end() + 1;
    }
    re.lastIndex = 0;
    if (all.empty()) return Value::null();
    return Value::object(vm.newArray(std::move(all)));
}

// The first match's position from the start, whatever g and lastIndex say.
Value search(Vm& vm, const Value& self, Args a) {
    const QString s = self_(vm, self);
    avm2lib::RegExpMatch m = matchFrom(*regExpOf(vm, arg(a, 0)), s, 0);
    return Value::number(m.matched() ? m.start() : -1);
}
Value localeCompare(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self), o = vm.toString(arg(a, 0));
    return Value::number(s < o ? -1 : s > o ? 1 : 0);
}
Value fromCharCode(Vm& vm, const Value&, Args a) {
    QString s;
    for (const Value& v : a) s += QChar(char16_t(vm.toUint(v) & 0xFFFF));
    return Value::string(s);
}
template <const char* Method> Value stringValue(Vm& vm, const Value& self, Args) {
    return primitiveThis(vm, self, [](const Value& v) { return v.isString(); }, Value::string(QString()), {"String"}, Method);
}
constexpr char kToString[] = "String.prototype.toString", kValueOf[] = "String.prototype.valueOf";

} // namespace

void installStringClass(Vm& vm) {
    ClassObject* c = vm.defineClass(QStringLiteral("String"), vm.builtin("Object"), nullptr, stringCtor, 1);
    c->call = stringCtor;
    c->isFinal = true;
    vm.defineAccessor(c, QStringLiteral("length"), length);
    struct M { const char* name; NativeFn fn; int arity; };
    const M methods[] = {
        {"charAt", charAt, 1}, {"charCodeAt", charCodeAt, 1}, {"concat", concat, 0}, {"indexOf", indexOf, 1},
        {"lastIndexOf", lastIndexOf, 2}, {"slice", slice, 2}, {"substring", substring, 2}, {"substr", substr, 2},
        {"toLowerCase", changeCase<false>, 0}, {"toUpperCase", changeCase<true>, 0}, {"toLocaleLowerCase", changeCase<false>, 0},
        {"toLocaleUpperCase", changeCase<true>, 0}, {"split", split, 2}, {"replace", replace, 2}, {"match", match, 1}, {"search", search, 1},
        {"localeCompare", localeCompare, 1}, {"toString", stringValue<kToString>, 0}, {"valueOf", stringValue<kValueOf>, 0},
    };
    for (const M& m : methods) vm.defineMethod(c, QString::fromLatin1(m.name), m.fn, m.arity);
    vm.defineStatic(c, QStringLiteral("fromCharCode"), fromCharCode, 0);
    vm.defineConstant(c, QStringLiteral("length"), Value::number(1));
}

} // namespace swf::avm2
