// The global functions and constants, and installBuiltins.
#include "engine/avm2/builtins.h"

namespace swf::avm2 {

namespace {

Value trace(Vm& vm, const Value&, Args a) {
    QString line;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i) line += u' ';
        line += vm.toString(a[i]);
    }
    line.replace(u'\r', u'\n'); // the log ends lines at carriage returns too
    vm.trace(line);
    return {};
}
Value isNaNFn(Vm& vm, const Value&, Args a) { return Value::boolean(std::isnan(vm.toNumber(arg(a, 0)))); }
Value isFiniteFn(Vm& vm, const Value&, Args a) { return Value::boolean(std::isfinite(vm.toNumber(arg(a, 0)))); }

int digitValue(QChar c) {
    char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'z') return u - 'a' + 10;
    if (u >= 'A' && u <= 'Z') return u - 'A' + 10;
    return 99;
}
Value parseIntFn(Vm& vm, const Value&, Args a) {
    QString s = vm.toString(arg(a, 0)).trimmed();
    int radix = arg(a, 1).isUndefined() ? 0 : vm.toInt(arg(a, 1));
    qsizetype i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) { neg = s[i] == u'-'; ++i; }
    if ((radix == 0 || radix == 16) && i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
        i += 2;
        radix = 16;
    }
    if (radix == 0) radix = 10;
    if (radix < 2 || radix > 36) return Value::number(std::nan(""));
    double v = 0;
    bool any = false;
    for (; i < s.size(); ++i) {
        int d = digitValue(s[i]);
        if (d >= radix) break;
        v = v * radix + d;
        any = true;
    }
    if (!any) return Value::number(std::nan(""));
    return Value::number(neg ? -v : v);
}
Value parseFloatFn(Vm& vm, const Value&, Args a) {
    QString s = vm.toString(arg(a, 0)).trimmed();
    // The longest prefix that is a decimal literal.
    qsizetype i = 0, n = s.size();
    if (i < n && (s[i] == u'-' || s[i] == u'+')) ++i;
    if (s.mid(i).startsWith(QLatin1String("Infinity"))) return Value::number(s[0] == u'-' ? -INFINITY : INFINITY);
    qsizetype digitsStart = i;
    while (i < n && s[i].isDigit()) ++i;
    if (i < n && s[i] == u'.') { ++i; while (i < n && s[i].isDigit()) ++i; }
    if (i == digitsStart || (i == digitsStart + 1 && s[digitsStart] == u'.')) return Value::number(std::nan(""));
    if (i < n && (s[i] == u'e' || s[i] == u'E')) {
        qsizetype e = i + 1;
        if (e < n && (s[e] == u'+' || s[e] == u'-')) ++e;
        if (e < n && s[e].isDigit()) { i = e; while (i < n && s[i].isDigit()) ++i; }
    }
    return Value::number(s.left(i).toDouble());
}

const char* kHex = "0123456789ABCDEF";
Value escapeFn(Vm& vm, const Value&, Args a) {
    if (a.empty()) return Value::string(QStringLiteral("undefined"));
    QString s = vm.toString(a[0]), out;
    for (QChar c : s) {
        char16_t u = c.unicode();
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || QStringLiteral("@-_.*+/").contains(c)) out += c;
        else if (u < 256) out += QStringLiteral("%") + QChar(kHex[u >> 4]) + QChar(kHex[u & 15]);
        else out += QStringLiteral("%u") + QChar(kHex[u >> 12]) + QChar(kHex[(u >> 8) & 15]) + QChar(kHex[(u >> 4) & 15]) + QChar(kHex[u & 15]);
    }
    return Value::string(out);
}
Value unescapeFn(Vm& vm, const Value&, Args a) {
    QString s = vm.toString(arg(a, 0)), out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'%') {
            bool ok = false;
            if (i + 5 < s.size() + 0 && s[i + 1] == u'u') {
                uint v = s.mid(i + 2, 4).toUInt(&ok, 16);
                if (ok && s.mid(i + 2, 4).size() == 4) { out += QChar(char16_t(v)); i += 5; continue; }
            }
            uint v = s.mid(i + 1, 2).toUInt(&ok, 16);
            if (ok && s.mid(i + 1, 2).size() == 2) { out += QChar(char16_t(v)); i += 2; continue; }
        }
        out += s[i];
    }
    return Value::string(out);
}
Value encode(Vm& vm, const Value& v, const char* keep) {
    QString s = vm.toString(v), out;
    QByteArray utf8 = s.toUtf8();
    for (char ch : utf8) {
        unsigned char u = static_cast<unsigned char>(ch);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || (u < 128 && std::strchr(keep, ch))) out += QChar(u);
        else out += QStringLiteral("%") + QChar(kHex[u >> 4]) + QChar(kHex[u & 15]);
    }
    return Value::string(out);
}
Value decode(Vm& vm, const Value& v, const char* reserved) {
    QString s = vm.toString(v);
    QByteArray bytes;
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'%' && i + 2 < s.size() + 0 + 1 && i + 2 <= s.size() - 1 + 1) {
            bool ok = false;
            uint b = s.mid(i + 1, 2).toUInt(&ok, 16);
            if (!ok || s.mid(i + 1, 2).size() != 2) vm.throwError(ErrorType::UriError, 1052, {QStringLiteral("decodeURI")});
            if (b < 128 && std::strchr(reserved, char(b)) && b) { out += QString::fromUtf8(bytes); bytes.clear(); out += s.mid(i, 3); i += 2; continue; }
            bytes += char(b);
            i += 2;
            continue;
        }
        out += QString::fromUtf8(bytes);
        bytes.clear();
        out += s[i];
    }
    out += QString::fromUtf8(bytes);
    return Value::string(out);
}

} // namespace

void installGlobals(Vm& vm) {
    Namespace pub = vm.publicNs();
    vm.defineBuiltin(pub, QStringLiteral("NaN"), Value::number(std::nan("")));
    vm.defineBuiltin(pub, QStringLiteral("Infinity"), Value::number(INFINITY));
    vm.defineBuiltin(pub, QStringLiteral("undefined"), Value());
    struct F { const char* name; NativeFn fn; int arity; };
    const F fns[] = {
        {"trace", trace, 0}, {"isNaN", isNaNFn, 1}, {"isFinite", isFiniteFn, 1}, {"parseInt", parseIntFn, 2},
        {"parseFloat", parseFloatFn, 1}, {"escape", escapeFn, 1}, {"unescape", unescapeFn, 1},
        {"encodeURI", [](Vm& vm, const Value&, Args a) { return encode(vm, arg(a, 0), "-_.!~*'();/?:@&=+$,#"); }, 1},
        {"encodeURIComponent", [](Vm& vm, const Value&, Args a) { return encode(vm, arg(a, 0), "-_.!~*'()"); }, 1},
        {"decodeURI", [](Vm& vm, const Value&, Args a) { return decode(vm, arg(a, 0), ";/?:@&=+$,#"); }, 1},
        {"decodeURIComponent", [](Vm& vm, const Value&, Args a) { return decode(vm, arg(a, 0), ""); }, 1},
    };
    for (const F& f : fns) vm.defineBuiltin(pub, QString::fromLatin1(f.name), Value::object(vm.newNative(QString::fromLatin1(f.name), f.fn, f.arity)));
}

void Vm::installBuiltins() {
    auto traits = std::make_unique<Traits>();
    m_toplevel = make<Object>();
    m_toplevel->traits = traits.get();
    m_toplevel->sealed = false;
    auto holder = std::make_unique<AbcUnit>();
    holder->activationTraits.push_back(std::move(traits));
    units.push_back(std::move(holder)); // keeps the top level's traits alive
    installObjectClasses(*this);
    m_toplevel->proto = builtin("Object")->prototype;
    installStringClass(*this);
    installArrayClasses(*this);
    installMathAndDate(*this);
    installGlobals(*this);
    installRegExpClass(*this);
    installJson(*this);
    installFlashUtils(*this);
    installByteArray(*this);
    installXmlClasses(*this);
    installDisplayClasses(*this);
}

} // namespace swf::avm2
