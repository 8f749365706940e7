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
Value toLowerCase(Vm& vm, const Value& self, Args) { return Value::string(self_(vm, self).toLower()); }
Value toUpperCase(Vm& vm, const Value& self, Args) { return Value::string(self_(vm, self).toUpper()); }
Value split(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    Value sepV = arg(a, 0);
    double limit = arg(a, 1).isUndefined() ? 4294967295.0 : vm.toUint(arg(a, 1));
    std::vector<Value> out;
    if (sepV.isUndefined()) {
        out.push_back(Value::string(s));
    } else {
        QString sep = vm.toString(sepV);
        if (sep.isEmpty()) {
            for (QChar c : s) {
                if (double(out.size()) >= limit) break;
                out.push_back(Value::string(QString(c)));
            }
        } else {
            qsizetype pos = 0;
            while (double(out.size()) < limit) {
                qsizetype next = s.indexOf(sep, pos);
                if (next < 0) { out.push_back(Value::string(s.mid(pos))); break; }
                out.push_back(Value::string(s.mid(pos, next - pos)));
                pos = next + sep.size();
            }
        }
    }
    return Value::object(vm.newArray(std::move(out)));
}
Value replace(Vm& vm, const Value& self, Args a) {
    QString s = self_(vm, self);
    QString pattern = vm.toString(arg(a, 0));
    qsizetype at = s.indexOf(pattern);
    if (at < 0) return Value::string(s);
    Value with = arg(a, 1);
    QString replacement;
    if (with.isObject() && with.o->as<FunctionObject>()) {
        Value args[3] = {Value::string(pattern), Value::number(double(at)), Value::string(s)};
        replacement = vm.toString(vm.call(with, Value::null(), args));
    } else {
        QString w = vm.toString(with);
        for (qsizetype i = 0; i < w.size(); ++i) {
            if (w[i] == u'$' && i + 1 < w.size()) {
                QChar n = w[i + 1];
                if (n == u'$') { replacement += u'$'; ++i; continue; }
                if (n == u'&') { replacement += pattern; ++i; continue; }
                if (n == u'`') { replacement += s.left(at); ++i; continue; }
                if (n == u'\'') { replacement += s.mid(at + pattern.size()); ++i; continue; }
            }
            replacement += w[i];
        }
    }
    return Value::string(s.left(at) + replacement + s.mid(at + pattern.size()));
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
Value stringToString(Vm& vm, const Value& self, Args) {
    if (!self.isString()) vm.throwError(ErrorType::TypeError, 1004, {QStringLiteral("String.prototype.toString")});
    return self;
}

} // namespace

void installStringClass(Vm& vm) {
    ClassObject* c = vm.defineClass(QStringLiteral("String"), vm.builtin("Object"), nullptr, stringCtor, 1);
    c->call = stringCtor;
    c->isFinal = true;
    vm.defineAccessor(c, QStringLiteral("length"), length);
    struct M { const char* name; NativeFn fn; int arity; };
    const M methods[] = {
        {"charAt", charAt, 1}, {"charCodeAt", charCodeAt, 1}, {"concat", concat, 0}, {"indexOf", indexOf, 1},
        {"lastIndexOf", lastIndexOf, 1}, {"slice", slice, 2}, {"substring", substring, 2}, {"substr", substr, 2},
        {"toLowerCase", toLowerCase, 0}, {"toUpperCase", toUpperCase, 0}, {"toLocaleLowerCase", toLowerCase, 0},
        {"toLocaleUpperCase", toUpperCase, 0}, {"split", split, 2}, {"replace", replace, 2},
        {"localeCompare", localeCompare, 1}, {"toString", stringToString, 0}, {"valueOf", stringToString, 0},
    };
    for (const M& m : methods) vm.defineMethod(c, QString::fromLatin1(m.name), m.fn, m.arity);
    vm.defineStatic(c, QStringLiteral("fromCharCode"), fromCharCode, 0);
    vm.defineConstant(c, QStringLiteral("length"), Value::number(1));
}

} // namespace swf::avm2
