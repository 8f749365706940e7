// The global functions and constants, and installBuiltins.
#include "engine/avm2/builtins.h"

#include <bit>
#include <string>
#include <vector>

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
// A parameter declared String: left out it takes its default, and undefined
// or null passed in become null, which reads as "null".
QString stringParam(Vm& vm, Args a, size_t i, const char* fallback) {
    if (i >= a.size()) return QString::fromLatin1(fallback);
    return a[i].isNullish() ? QStringLiteral("null") : vm.toString(a[i]);
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
    QString s = stringParam(vm, a, 0, "NaN").trimmed();
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
    std::vector<int> digits;
    for (; i < s.size() && digitValue(s[i]) < radix; ++i) digits.push_back(digitValue(s[i]));
    if (digits.empty()) return Value::number(std::nan(""));
    double v = 0;
    const int bitsPerDigit = std::countr_zero(unsigned(radix));
    if (radix == 10 || (radix & (radix - 1)) == 0) {
        // Decimal and power-of-two digits are rounded once, exactly: as
        // decimal text, or as a hexadecimal float built from their bits.
        std::string text;
        if (radix == 10) {
            for (int d : digits) text += char('0' + d);
        } else {
            std::string bits;
            for (int d : digits)
                for (int b = bitsPerDigit - 1; b >= 0; --b) bits += char('0' + ((d >> b) & 1));
            bits.insert(0, (4 - bits.size() % 4) % 4, '0');
            text = "0x";
            for (size_t k = 0; k < bits.size(); k += 4) text += "0123456789abcdef"[std::stoi(bits.substr(k, 4), nullptr, 2)];
        }
        v = std::strtod(text.c_str(), nullptr);
    } else {
        for (int d : digits) v = v * radix + d;
    }
    return Value::number(neg ? -v : v);
}
Value parseFloatFn(Vm& vm, const Value&, Args a) {
    QString s = stringParam(vm, a, 0, "NaN").trimmed();
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
    QString s = stringParam(vm, a, 0, "undefined"), out;
    for (QChar c : s) {
        char16_t u = c.unicode();
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || QStringLiteral("@-_.*+/").contains(c)) out += c;
        else if (u < 256) out += QStringLiteral("%") + QChar(kHex[u >> 4]) + QChar(kHex[u & 15]);
        else out += QStringLiteral("%u") + QChar(kHex[u >> 12]) + QChar(kHex[(u >> 8) & 15]) + QChar(kHex[(u >> 4) & 15]) + QChar(kHex[u & 15]);
    }
    return Value::string(out);
}
Value unescapeFn(Vm& vm, const Value&, Args a) {
    QString s = stringParam(vm, a, 0, "undefined"), out;
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
// ECMA-262 15.1.3: UTF-8 escapes for all but the kept characters; a lone
// surrogate has no UTF-8 form and is URIError 1052.
Value encode(Vm& vm, Args a, const char* keep, const char* function) {
    QString s = stringParam(vm, a, 0, "undefined"), out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) ++i;
        else if (s[i].isSurrogate()) vm.throwError(ErrorType::UriError, 1052, {QString::fromLatin1(function)});
    }
    QByteArray utf8 = s.toUtf8();
    for (char ch : utf8) {
        unsigned char u = static_cast<unsigned char>(ch);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || (u < 128 && std::strchr(keep, ch))) out += QChar(u);
        else out += QStringLiteral("%") + QChar(kHex[u >> 4]) + QChar(kHex[u & 15]);
    }
    return Value::string(out);
}
// ECMA-262 15.1.3: each %XX run is one UTF-8 sequence; a reserved character
// stays escaped; a short escape, a bad sequence, an overlong form or a
// surrogate is URIError 1052 naming the function.
Value decode(Vm& vm, Args a, const char* reserved, const char* function) {
    const QString s = stringParam(vm, a, 0, "undefined");
    auto fail = [&]() -> Value { vm.throwError(ErrorType::UriError, 1052, {QString::fromLatin1(function)}); };
    auto byteAt = [&](qsizetype i) -> int {
        if (i + 2 >= s.size() || s[i] != u'%') return -1;
        int hi = digitValue(s[i + 1]), lo = digitValue(s[i + 2]);
        return hi < 16 && lo < 16 ? hi * 16 + lo : -1;
    };
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != u'%') { out += s[i]; continue; }
        const int b = byteAt(i);
        if (b < 0) return fail();
        if (b < 0x80) {
            if (b && std::strchr(reserved, char(b))) out += s.mid(i, 3);
            else out += QChar(char16_t(b));
            i += 2;
            continue;
        }
        const int n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
        if (n == 0 || b >= 0xF8) return fail();
        char32_t cp = char32_t(b & (0x7F >> n));
        for (int k = 1; k < n; ++k) {
            const int c = byteAt(i + 3 * k);
            if (c < 0 || (c & 0xC0) != 0x80) return fail();
            cp = (cp << 6) | char32_t(c & 0x3F);
        }
        static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kSmallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return fail();
        out += QString::fromUcs4(&cp, 1);
        i += 3 * n - 1;
    }
    return Value::string(out);
}


// isXMLName: whether the local name of QName(value) is an XML NCName, a
// letter or underscore followed by letters, digits, marks, '.', '-', '_'
// and the middle dot; no colons.
Value isXmlNameFn(Vm& vm, const Value&, Args a) {
    const Value v = arg(a, 0);
    if (v.isUndefined()) return Value::boolean(false);
    auto* q = v.isObject() ? v.o->as<QNameObject>() : nullptr;
    const QString s = q ? q->localName : vm.toString(v);
    if (s.isEmpty() || !(s[0].isLetter() || s[0] == u'_')) return Value::boolean(false);
    for (QChar c : s)
        if (!(c.isLetterOrNumber() || c.isMark() || c == u'.' || c == u'-' || c == u'_' || c == QChar(0xB7)))
            return Value::boolean(false);
    return Value::boolean(true);
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
        {"parseFloat", parseFloatFn, 1}, {"escape", escapeFn, 1}, {"unescape", unescapeFn, 1}, {"isXMLName", isXmlNameFn, 1},
        {"encodeURI", [](Vm& vm, const Value&, Args a) { return encode(vm, a, "-_.!~*'();/?:@&=+$,#", "encodeURI"); }, 1},
        {"encodeURIComponent", [](Vm& vm, const Value&, Args a) { return encode(vm, a, "-_.!~*'()", "encodeURIComponent"); }, 1},
        {"decodeURI", [](Vm& vm, const Value&, Args a) { return decode(vm, a, ";/?:@&=+$,#", "decodeURI"); }, 1},
        {"decodeURIComponent", [](Vm& vm, const Value&, Args a) { return decode(vm, a, "", "decodeURIComponent"); }, 1},
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
