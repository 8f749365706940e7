#include "engine/avm2/lib/date.h"

#include <QRegularExpression>

#include <cmath>

namespace swf::avm2lib::date {

namespace {
constexpr double kMsPerDay = 86400000.0;
double day(double t) { return std::floor(t / kMsPerDay); }
} // namespace
double timeWithinDay(double t) { double r = std::fmod(t, kMsPerDay); return r < 0 ? r + kMsPerDay : r; }
double daysInYear(double y) { return (std::fmod(y, 4) != 0) ? 365 : (std::fmod(y, 100) != 0) ? 366 : (std::fmod(y, 400) != 0) ? 365 : 366; }
static double dayFromYear(double y) { return 365 * (y - 1970) + std::floor((y - 1969) / 4) - std::floor((y - 1901) / 100) + std::floor((y - 1601) / 400); }
double timeFromYear(double y) { return kMsPerDay * dayFromYear(y); }
double yearFromTime(double t) {
    double y = std::floor(t / (kMsPerDay * 365.2425)) + 1970;
    while (timeFromYear(y) > t) --y;
    while (timeFromYear(y + 1) <= t) ++y;
    return y;
}
static bool leap(double t) { return daysInYear(yearFromTime(t)) == 366; }
static double dayWithinYear(double t) { return day(t) - dayFromYear(yearFromTime(t)); }
static const int kMonthStart[2][13] = {{0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
                                {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};
double monthFromTime(double t) {
    double d = dayWithinYear(t);
    int l = leap(t);
    for (int m = 0; m < 12; ++m)
        if (d < kMonthStart[l][m + 1]) return m;
    return 11;
}
double dateFromTime(double t) { return dayWithinYear(t) - kMonthStart[leap(t)][int(monthFromTime(t))] + 1; }
double weekDay(double t) { double r = std::fmod(day(t) + 4, 7); return r < 0 ? r + 7 : r; }
double makeTime(double h, double m, double s, double ms) {
    if (!std::isfinite(h) || !std::isfinite(m) || !std::isfinite(s) || !std::isfinite(ms)) return std::nan("");
    return std::trunc(h) * 3600000 + std::trunc(m) * 60000 + std::trunc(s) * 1000 + std::trunc(ms);
}
double makeDay(double year, double month, double date) {
    if (!std::isfinite(year) || !std::isfinite(month) || !std::isfinite(date)) return std::nan("");
    year = std::trunc(year); month = std::trunc(month); date = std::trunc(date);
    double y = year + std::floor(month / 12);
    double mn = std::fmod(month, 12);
    if (mn < 0) mn += 12;
    if (std::fabs(y) > 400000) return std::nan("");
    double t = timeFromYear(y);
    return day(t) + kMonthStart[daysInYear(y) == 366][int(mn)] + date - 1;
}
double makeDate(double d, double t) { return d * kMsPerDay + t; }
double timeClip(double t) { return !std::isfinite(t) || std::fabs(t) > 8.64e15 ? std::nan("") : std::trunc(t) + 0.0; }


double zoneRulesInstant(double t) {
    const double year = yearFromTime(t);
    if (year >= 1970) return t;
    const double firstDay = weekDay(timeFromYear(year));
    for (double y = 1970; y < 1998; ++y)
        if (daysInYear(y) == daysInYear(year) && weekDay(timeFromYear(y)) == firstDay) return t - timeFromYear(year) + timeFromYear(y);
    return t;
}

double toLocal(double t, const OffsetFn& offsetAt) { return t + offsetAt(t); }
// The offset is read at the instant the local time would be with the offset
// of that moment, so a time in the hour that the clocks skip lands after it.
double toUtc(double local, const OffsetFn& offsetAt) { return local - offsetAt(local - offsetAt(local)); }

double field(double t, Field f) {
    switch (f) {
    case Field::FullYear: return yearFromTime(t);
    case Field::Month: return monthFromTime(t);
    case Field::Date: return dateFromTime(t);
    case Field::Day: return weekDay(t);
    case Field::Hours: return std::fmod(std::floor(timeWithinDay(t) / 3600000), 24);
    case Field::Minutes: return std::fmod(std::floor(timeWithinDay(t) / 60000), 60);
    case Field::Seconds: return std::fmod(std::floor(timeWithinDay(t) / 1000), 60);
    case Field::Milliseconds: return std::fmod(timeWithinDay(t), 1000);
    }
    return 0;
}
namespace {
const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace

// Date.parse: the forms that toString, toUTCString and toLocaleString print,
// and the month/day/year forms, read as tokens in any order: names of the
// month (and of the day, ignored), h:m[:s] times, a/b/c dates (year first
// when the first part is over 31), AM/PM, "GMT"/"UTC" with an optional
// +hhmm offset, and bare numbers (the day, then the year). Without a zone
// the time is local.
double parse(const QString& text, const OffsetFn& offsetAt) {
    static const QRegularExpression token(QStringLiteral(R"(\s*(?:([A-Za-z]+)|(\d+):(\d+)(?::(\d+))?|(\d+)/(\d+)/(\d+)|/(\d+)/(\d+)|([+-])(\d+)|(\d+)|([,()]))\s*)"));
    double year = NAN, month = NAN, date = NAN, h = 0, m = 0, sec = 0, zone = NAN;
    int pm = -1; // -1: no AM/PM, 0: AM, 1: PM
    qsizetype pos = 0;
    while (pos < text.size()) {
        auto match = token.match(text, pos, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
        if (!match.hasMatch() || match.capturedLength() == 0) return NAN;
        pos += match.capturedLength();
        auto num = [&](int i) { return match.capturedView(i).toDouble(); };
        if (match.hasCaptured(1)) {
            const QString word = match.captured(1).toLower();
            if (word == u"am" || word == u"pm") { pm = word == u"pm"; continue; }
            if (word == u"gmt" || word == u"utc" || word == u"z") { zone = 0; continue; }
            int found = -1;
            for (int i = 0; i < 12 && found < 0; ++i)
                if (word.size() >= 3 && QLatin1String(kMonths[i]).startsWith(word.left(3), Qt::CaseInsensitive)) found = i;
            if (found >= 0) { month = found; continue; }
            bool day = false;
            for (const char* d : kDays) day = day || (word.size() >= 3 && QLatin1String(d).startsWith(word.left(3), Qt::CaseInsensitive));
            if (!day) return NAN;
        } else if (match.hasCaptured(2)) {
            h = num(2); m = num(3); sec = match.hasCaptured(4) ? num(4) : 0;
        } else if (match.hasCaptured(5)) {
            if (num(5) > 31) { year = num(5); month = num(6) - 1; date = num(7); }
            else { month = num(5) - 1; date = num(6); year = num(7); }
        } else if (match.hasCaptured(8)) {
            date = num(8); year = num(9);
        } else if (match.hasCaptured(10)) {
            double v = num(11);
            double minutes = match.capturedView(11).size() <= 2 ? v * 60 : std::floor(v / 100) * 60 + std::fmod(v, 100);
            zone = (match.captured(10) == u"-" ? -minutes : minutes) * 60000;
        } else if (match.hasCaptured(12)) {
            if (std::isnan(date) && num(12) <= 31 && std::isnan(year)) date = num(12);
            else if (std::isnan(year)) year = num(12);
            else return NAN;
        }
    }
    if (std::isnan(year) || std::isnan(month) || std::isnan(date)) return NAN;
    if (pm >= 0) {
        if (h > 12) return NAN;
        h = std::fmod(h, 12) + (pm ? 12 : 0);
    }
    const double t = makeDate(makeDay(year, month, date), makeTime(h, m, sec, 0));
    return timeClip(std::isnan(zone) ? toUtc(t, offsetAt) : t - zone);
}

QString format(double t, Form form, const OffsetFn& offsetAt) {
    if (std::isnan(t)) return QStringLiteral("Invalid Date");
    const double l = form == Form::Utc ? t : toLocal(t, offsetAt);
    auto two = [](double v) { return QStringLiteral("%1").arg(int(v), 2, 10, QLatin1Char('0')); };
    const double tod = timeWithinDay(l);
    const double hour = std::floor(tod / 3600000);
    const QString minSec = two(std::fmod(std::floor(tod / 60000), 60)) + u':' + two(std::fmod(std::floor(tod / 1000), 60));
    const QString day = QStringLiteral("%1 %2 %3").arg(QLatin1String(kDays[int(weekDay(l))]), QLatin1String(kMonths[int(monthFromTime(l))])).arg(int(dateFromTime(l)));
    const QString year = QString::number(qint64(yearFromTime(l)));
    const int off = int(std::lround((l - t) / 60000));
    const QString zone = QStringLiteral("GMT%1%2%3").arg(QChar(off < 0 ? u'-' : u'+')).arg(two(std::abs(off) / 60), two(std::abs(off) % 60));
    // 12-hour clock: 0 is 12 AM, 12 is 12 PM.
    const QString clock12 = QString::number(int(hour) % 12 == 0 ? 12 : int(hour) % 12) + u':' + minSec + (hour < 12 ? QStringLiteral(" AM") : QStringLiteral(" PM"));
    switch (form) {
    case Form::Full: return day + u' ' + two(hour) + u':' + minSec + u' ' + zone + u' ' + year;
    case Form::Utc: return day + u' ' + two(hour) + u':' + minSec + u' ' + year + QStringLiteral(" UTC");
    case Form::DateOnly: return day + u' ' + year;
    case Form::TimeOnly: return two(hour) + u':' + minSec + u' ' + zone;
    case Form::Locale: return day + u' ' + year + u' ' + clock12;
    case Form::LocaleTime: return clock12;
    }
    return {};
}

} // namespace swf::avm2lib::date
