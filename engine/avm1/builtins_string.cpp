// String, Number and Math.
#include "engine/avm1/builtins.h"
#include "engine/core/limits.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

QString thisString(Vm& vm, CallArgs& a) {
    if (a.thisv.isString()) return a.thisv.asString();
    if (Object* o = a.thisObject(); o && o->kind() == Kind::String) return vm.toString(o->primitive);
    return vm.toString(a.thisv);
}

Value stringCall(Vm& vm, CallArgs& a) { return Value(a.size() ? vm.toString(a.at(0)) : QString()); }
Value stringCtor(Vm& vm, CallArgs& a) {
    Object* o = vm.make<Object>(vm.stringProto, Kind::String);
    o->primitive = Value(a.size() ? vm.toString(a.at(0)) : QString());
    vm.defineValue(o, QStringLiteral("length"), Value(double(o->primitive.asString().size())), kHidden | kReadOnly);
    return Value(o);
}
Value stringValueOf(Vm& vm, CallArgs& a) { return Value(thisString(vm, a)); }

Value stringCharAt(Vm& vm, CallArgs& a) {
    QString s = thisString(vm, a);
    double i = std::trunc(vm.toNumber(a.at(0)));
    if (!(i >= 0 && i < s.size())) return Value(QString());
    return Value(QString(s[int(i)]));
}
Value stringCharCodeAt(Vm& vm, CallArgs& a) {
    QString s = thisString(vm, a);
    double i = std::trunc(vm.toNumber(a.at(0)));
    // SWF 5 reads past the end as the terminating zero.
    if (i >= s.size() && vm.version() < 6) return Value(0);
    if (!(i >= 0 && i < s.size())) return Value(std::nan(""));
    return Value(int(s[int(i)].unicode()));
}
Value stringConcat(Vm& vm, CallArgs& a) {
    QString s = thisString(vm, a);
    for (const Value& v : a.args) {
        const QString piece = vm.toString(v);
        if (!vm.allocateString(piece.size(), s.size())) break;
        s += piece;
    }
    return Value(s);
}
Value stringIndexOf(Vm& vm, CallArgs& a) {
    QString s = thisString(vm, a);
    QString needle = vm.toString(a.at(0));
    int from = a.size() > 1 ? std::clamp(vm.toInt(a.at(1)), 0, int(s.size())) : 0;
    return Value(int(s.indexOf(needle, from)));
}
Value stringLastIndexOf(Vm& vm, CallArgs& a) {
    QString s = thisString(vm, a);
    QString needle = vm.toString(a.at(0));
    int from = int(s.size());
    if (a.size() > 1) {
        from = vm.toInt(a.at(1));
        if (from < 0) return Value(-1);
    }
    return Value(int(s.lastIndexOf(needle, std::min(from, int(s.size())))));
}
Value stringSlice(Vm& vm, CallArgs& a) {
    if (a.size() == 0) return Value(); // the start is required
    QString s = thisString(vm, a);
    int n = int(s.size());
    auto rel = [&](const Value& v, int fallback) {
        if (v.isUndefined()) return fallback;
        int i = vm.toInt(v);
        if (i < 0) i = std::max(0, n + i);
        return std::min(i, n);
    };
    int start = rel(a.at(0), 0), end = rel(a.at(1), n);
    if (end <= start) return Value(QString());
    return Value(s.mid(start, end - start));
}
Value stringSubstring(Vm& vm, CallArgs& a) {
    QString s = thisString(vm, a);
    int n = int(s.size());
    int start = std::clamp(vm.toInt(a.at(0)), 0, n);
    int end = a.size() > 1 && !a.at(1).isUndefined() ? std::clamp(vm.toInt(a.at(1)), 0, n) : n;
    if (start > end) std::swap(start, end);
    return Value(s.mid(start, end - start));
}
Value stringSubstr(Vm& vm, CallArgs& a) {
    QString s = thisString(vm, a);
    int n = int(s.size());
    int start = vm.toInt(a.at(0));
    if (start < 0) start = std::max(0, n + start);
    start = std::min(start, n);
    int len = a.size() > 1 && !a.at(1).isUndefined() ? vm.toInt(a.at(1)) : n - start;
    if (len < 0) {
        // A negative length counts back from the end of the whole string, and
        // a piece that would reach the last character comes out empty.
        len += n;
        if (len <= 0 || start + len >= n) return Value(QString());
    }
    return Value(s.mid(start, std::min(len, n - start)));
}
Value stringSplit(Vm& vm, CallArgs& a) {
    QString s = thisString(vm, a);
    ArrayObject* out = vm.newArray();
    if (a.at(0).isUndefined()) {
        out->items.push_back(Value(s));
        return Value(out);
    }
    QString sep = vm.toString(a.at(0));
    size_t limit = limits::kMaxArrayLength;
    if (a.size() > 1 && !a.at(1).isUndefined()) limit = size_t(std::max(0, vm.toInt(a.at(1))));
    // Every piece becomes an element and a string: ask for them before making them.
    const size_t pieces = std::min(limit, sep.isEmpty() ? size_t(s.size()) : size_t(s.count(sep)) + 1);
    if (!vm.chargeWork(size_t(s.size()) / 16 + pieces) ||
        !vm.allocate(pieces * (sizeof(Value) + stringBytes(1)) + stringBytes(s.size())))
        return Value(out);
    if (sep.isEmpty()) {
        for (int i = 0; i < s.size() && out->items.size() < limit; ++i) out->items.push_back(Value(QString(s[i])));
        return Value(out);
    }
    if (s.isEmpty()) {
        if (vm.version() < 7 || limit > 0) out->items.push_back(Value(QString()));
        return Value(out);
    }
    for (const QString& part : s.split(sep)) {
        if (out->items.size() >= limit) break;
        out->items.push_back(Value(part));
    }
    return Value(out);
}
Value stringToLower(Vm& vm, CallArgs& a) { return Value(thisString(vm, a).toLower()); }
Value stringToUpper(Vm& vm, CallArgs& a) { return Value(thisString(vm, a).toUpper()); }
// The first players' case mapping, still reachable as ASnative(102, 0) and
// (102, 1): only the ASCII letters change.
QString asciiCase(QString s, bool upper) {
    for (QChar& c : s) {
        const char16_t u = c.unicode();
        if (upper && u >= u'a' && u <= u'z') c = QChar(u - 32);
        if (!upper && u >= u'A' && u <= u'Z') c = QChar(u + 32);
    }
    return s;
}
Value stringOldUpper(Vm& vm, CallArgs& a) { return Value(asciiCase(vm.toString(a.thisv), true)); }
Value stringOldLower(Vm& vm, CallArgs& a) { return Value(asciiCase(vm.toString(a.thisv), false)); }

Value stringFromCharCode(Vm& vm, CallArgs& a) {
    QString s;
    for (const Value& v : a.args) {
        uint32_t c = vm.toUint32(v) & 0xffff;
        if (vm.version() < 6 && c > 0xff) {
            // SWF 5 strings are bytes: a larger code gives its two bytes, lead first.
            for (uint32_t byte : {c >> 8, c & 0xff})
                if (byte) s += QChar(char16_t(byte));
            continue;
        }
        if (c) s += QChar(char16_t(c));
    }
    return Value(s);
}

// ---- Number ---------------------------------------------------------------------------

Value numberCall(Vm& vm, CallArgs& a) { return Value(a.size() ? vm.toNumber(a.at(0)) : 0.0); }
Value numberCtor(Vm& vm, CallArgs& a) {
    Object* o = vm.make<Object>(vm.numberProto, Kind::Number);
    o->primitive = Value(a.size() ? vm.toNumber(a.at(0)) : 0.0);
    return Value(o);
}
Value numberValueOf(Vm&, CallArgs& a) {
    if (a.thisv.isNumber()) return a.thisv;
    if (Object* o = a.thisObject(); o && o->kind() == Kind::Number) return o->primitive;
    return Value();
}
Value numberToString(Vm& vm, CallArgs& a) {
    Value v = numberValueOf(vm, a);
    if (!v.isNumber()) return Value();
    int radix = a.size() && !a.at(0).isUndefined() ? vm.toInt(a.at(0)) : 10;
    return Value(Vm::numberToString(v.asNumber(), radix));
}

// ---- Math -----------------------------------------------------------------------------

double num(Vm& vm, CallArgs& a, size_t i) { return i < a.size() ? vm.toNumber(a.at(i)) : std::nan(""); }

#define MATH1(name, expr) \
    Value name(Vm& vm, CallArgs& a) { double x = num(vm, a, 0); return Value(double(expr)); }
MATH1(mathAbs, std::fabs(x))
MATH1(mathAcos, std::acos(x))
MATH1(mathAsin, std::asin(x))
MATH1(mathAtan, std::atan(x))
MATH1(mathCeil, std::ceil(x))
MATH1(mathCos, std::cos(x))
MATH1(mathExp, std::exp(x))
MATH1(mathFloor, std::floor(x))
MATH1(mathLog, std::log(x))
MATH1(mathSin, std::sin(x))
MATH1(mathSqrt, std::sqrt(x))
MATH1(mathTan, std::tan(x))
MATH1(mathRound, std::floor(x + 0.5))
#undef MATH1

Value mathAtan2(Vm& vm, CallArgs& a) { return Value(std::atan2(num(vm, a, 0), num(vm, a, 1))); }
Value mathPow(Vm& vm, CallArgs& a) { return Value(std::pow(num(vm, a, 0), num(vm, a, 1))); }
// Math.max and Math.min compare their first two arguments only; one alone gives NaN.
Value mathMax(Vm& vm, CallArgs& a) {
    if (!a.size()) return Value(-HUGE_VAL);
    double x = vm.toNumber(a.at(0)), y = num(vm, a, 1);
    if (std::isnan(x) || std::isnan(y)) return Value(std::nan(""));
    return Value(std::max(x, y));
}
Value mathMin(Vm& vm, CallArgs& a) {
    if (!a.size()) return Value(HUGE_VAL);
    double x = vm.toNumber(a.at(0)), y = num(vm, a, 1);
    if (std::isnan(x) || std::isnan(y)) return Value(std::nan(""));
    return Value(std::min(x, y));
}
Value mathRandom(Vm&, CallArgs&) {
    static thread_local std::mt19937_64 rng(0x5eed);
    return Value(std::uniform_real_distribution<double>(0, 1)(rng));
}

} // namespace

void installString(Vm& vm) {
    vm.stringProto = vm.newObject();
    vm.stringProto->primitive = Value(QString());
    Object* p = vm.stringProto;
    FunctionObject* ctor = vm.defineClass(QStringLiteral("String"), stringCall, stringCtor, p);
    vm.defineMethod(p, QStringLiteral("valueOf"), stringValueOf);
    vm.defineMethod(p, QStringLiteral("toString"), stringValueOf);
    vm.defineMethod(p, QStringLiteral("charAt"), stringCharAt);
    vm.defineMethod(p, QStringLiteral("charCodeAt"), stringCharCodeAt);
    vm.defineMethod(p, QStringLiteral("concat"), stringConcat);
    vm.defineMethod(p, QStringLiteral("indexOf"), stringIndexOf);
    vm.defineMethod(p, QStringLiteral("lastIndexOf"), stringLastIndexOf);
    vm.defineMethod(p, QStringLiteral("slice"), stringSlice);
    vm.defineMethod(p, QStringLiteral("substring"), stringSubstring);
    vm.defineMethod(p, QStringLiteral("substr"), stringSubstr);
    vm.defineMethod(p, QStringLiteral("split"), stringSplit);
    vm.defineMethod(p, QStringLiteral("toLowerCase"), stringToLower);
    vm.defineMethod(p, QStringLiteral("toUpperCase"), stringToUpper);
    vm.nativeIds[{102, 0}] = vm.newNative(stringOldUpper);
    vm.nativeIds[{102, 1}] = vm.newNative(stringOldLower);
    vm.defineMethod(ctor, QStringLiteral("fromCharCode"), stringFromCharCode);

    vm.numberProto = vm.newObject();
    vm.numberProto->primitive = Value(0.0);
    FunctionObject* number = vm.defineClass(QStringLiteral("Number"), numberCall, numberCtor, vm.numberProto);
    vm.defineMethod(vm.numberProto, QStringLiteral("valueOf"), numberValueOf);
    vm.defineMethod(vm.numberProto, QStringLiteral("toString"), numberToString);
    const uint32_t constFlags = kDontEnum | kDontDelete | kReadOnly;
    vm.defineValue(number, QStringLiteral("MAX_VALUE"), Value(1.79769313486231e+308), constFlags);
    vm.defineValue(number, QStringLiteral("MIN_VALUE"), Value(4.9e-324), constFlags);
    vm.defineValue(number, QStringLiteral("NaN"), Value(std::nan("")), constFlags);
    vm.defineValue(number, QStringLiteral("NEGATIVE_INFINITY"), Value(-HUGE_VAL), constFlags);
    vm.defineValue(number, QStringLiteral("POSITIVE_INFINITY"), Value(HUGE_VAL), constFlags);
    vm.changeFlags(number, constFlags, 0); // every member of Number itself is constant

    Object* math = vm.newObject();
    vm.defineValue(vm.global(), QStringLiteral("Math"), Value(math), kDontEnum);
    struct { const char* name; NativeFn fn; } methods[] = {
        {"abs", mathAbs}, {"acos", mathAcos}, {"asin", mathAsin}, {"atan", mathAtan}, {"atan2", mathAtan2},
        {"ceil", mathCeil}, {"cos", mathCos}, {"exp", mathExp}, {"floor", mathFloor}, {"log", mathLog},
        {"max", mathMax}, {"min", mathMin}, {"pow", mathPow}, {"random", mathRandom}, {"round", mathRound},
        {"sin", mathSin}, {"sqrt", mathSqrt}, {"tan", mathTan},
    };
    for (auto& m : methods) vm.defineMethod(math, QString::fromLatin1(m.name), m.fn);
    struct { const char* name; double v; } constants[] = {
        {"E", M_E}, {"LN10", M_LN10}, {"LN2", M_LN2}, {"LOG10E", M_LOG10E}, {"LOG2E", M_LOG2E},
        {"PI", M_PI}, {"SQRT1_2", M_SQRT1_2}, {"SQRT2", M_SQRT2},
    };
    for (auto& c : constants) vm.defineValue(math, QString::fromLatin1(c.name), Value(c.v), constFlags);
    vm.sealBuiltinObject(math, constFlags);
}

} // namespace swf::avm1::builtins
