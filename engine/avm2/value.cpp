#include "engine/avm2/value.h"

#include <charconv>
#include <cstdlib>

namespace swf::avm2 {

QString numberToString(double d) {
    if (std::isnan(d)) return QStringLiteral("NaN");
    if (d == 0) return QStringLiteral("0");
    if (std::isinf(d)) return d > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(d), std::chars_format::scientific);
    std::string sci(buf, res.ptr);
    size_t e = sci.find('e');
    std::string digits;
    for (size_t i = 0; i < e; ++i)
        if (sci[i] != '.') digits += sci[i];
    int exp = std::atoi(sci.c_str() + e + 1);
    int k = int(digits.size()), n = exp + 1;
    std::string out = d < 0 ? "-" : "";
    if (k <= n && n <= 21) {
        out += digits + std::string(size_t(n - k), '0');
    } else if (0 < n && n <= 21) {
        out += digits.substr(0, size_t(n)) + "." + digits.substr(size_t(n));
    } else if (-6 < n && n <= 0) {
        out += "0." + std::string(size_t(-n), '0') + digits;
    } else {
        // Large numbers keep 15 significant digits, cut rather than
        // rounded, as the Flash player prints them.
        if (k > 15 && n > 21) {
            digits.resize(15);
            while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
            k = int(digits.size());
        }
        out += digits.substr(0, 1);
        if (k > 1) out += "." + digits.substr(1);
        out += "e";
        out += n - 1 >= 0 ? "+" : "-";
        out += std::to_string(std::abs(n - 1));
    }
    return QString::fromLatin1(out.c_str());
}

namespace {
bool isSpace(QChar c) {
    char16_t u = c.unicode();
    return u == 9 || u == 10 || u == 11 || u == 12 || u == 13 || u == 32 || u == 0xA0 || u == 0x2028 || u == 0x2029 ||
           u == 0xFEFF || c.category() == QChar::Separator_Space;
}
} // namespace

double stringToNumber(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && isSpace(s[b])) ++b;
    while (e > b && isSpace(s[e - 1])) --e;
    if (b == e) return 0;
    QString t = s.mid(b, e - b);
    bool neg = false;
    QString body = t;
    if (body.startsWith(u'-') || body.startsWith(u'+')) { neg = body[0] == u'-'; body = body.mid(1); }
    if (body == QLatin1String("Infinity")) return neg ? -INFINITY : INFINITY;
    if (body.size() > 2 && body[0] == u'0' && (body[1] == u'x' || body[1] == u'X')) {
        double v = 0;
        for (qsizetype i = 2; i < body.size(); ++i) {
            int dgt = QChar(body[i]).isDigit() ? body[i].unicode() - '0'
                    : (body[i].toLower() >= u'a' && body[i].toLower() <= u'f') ? body[i].toLower().unicode() - 'a' + 10 : -1;
            if (dgt < 0) return std::nan("");
            v = v * 16 + dgt;
        }
        return neg ? -v : v;
    }
    // StrDecimalLiteral: digits [. digits] [e[+-]digits], or . digits ...
    qsizetype i = 0, n = body.size();
    bool any = false;
    while (i < n && body[i].isDigit() && body[i].unicode() < 128) { ++i; any = true; }
    if (i < n && body[i] == u'.') {
        ++i;
        while (i < n && body[i].isDigit() && body[i].unicode() < 128) { ++i; any = true; }
    }
    if (!any) return std::nan("");
    if (i < n && (body[i] == u'e' || body[i] == u'E')) {
        ++i;
        if (i < n && (body[i] == u'+' || body[i] == u'-')) ++i;
        bool expDigits = false;
        while (i < n && body[i].isDigit() && body[i].unicode() < 128) { ++i; expDigits = true; }
        if (!expDigits) return std::nan("");
    }
    if (i != n) return std::nan("");
    QByteArray latin = t.toLatin1();
    return std::strtod(latin.constData(), nullptr);
}

} // namespace swf::avm2
