// Math and Date (ECMA-262 15.8, 15.9). Local time is the VM's zone (the
// system's unless the host sets one, so that runs are reproducible).
#include "engine/avm2/builtins.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>
#include <random>

namespace swf::avm2 {

namespace {

// ---- Math
template <double (*F)(double)> Value unary(Vm& vm, const Value&, Args a) { return Value::number(F(vm.toNumber(arg(a, 0)))); }
double roundHalfUp(double x) { return std::isfinite(x) ? std::floor(x + 0.5) : x; }
Value mathRound(Vm& vm, const Value&, Args a) {
    double x = vm.toNumber(arg(a, 0));
    double r = roundHalfUp(x);
    if (r == 0 && (x < 0 || std::signbit(x))) r = -0.0;
    return Value::number(r);
}
Value mathMax(Vm& vm, const Value&, Args a) {
    double r = -INFINITY;
    for (const Value& v : a) {
        double d = vm.toNumber(v);
        if (std::isnan(d)) return Value::number(d);
        if (d > r || (d == 0 && r == 0 && !std::signbit(d))) r = d;
    }
    return Value::number(r);
}
Value mathMin(Vm& vm, const Value&, Args a) {
    double r = INFINITY;
    for (const Value& v : a) {
        double d = vm.toNumber(v);
        if (std::isnan(d)) return Value::number(d);
        if (d < r || (d == 0 && r == 0 && std::signbit(d))) r = d;
    }
    return Value::number(r);
}
Value mathPow(Vm& vm, const Value&, Args a) {
    double x = vm.toNumber(arg(a, 0)), y = vm.toNumber(arg(a, 1));
    if (std::isnan(y)) return Value::number(y);
    if (std::fabs(x) == 1 && std::isinf(y)) return Value::number(std::nan(""));
    return Value::number(std::pow(x, y));
}
Value mathAtan2(Vm& vm, const Value&, Args a) { return Value::number(std::atan2(vm.toNumber(arg(a, 0)), vm.toNumber(arg(a, 1)))); }
Value mathRandom(Vm&, const Value&, Args) {
    static std::mt19937_64 rng(12345);
    return Value::number(std::uniform_real_distribution<double>(0, 1)(rng));
}
double absD(double x) { return std::fabs(x); }
double floorD(double x) { return std::floor(x); }
double ceilD(double x) { return std::ceil(x); }
double sqrtD(double x) { return std::sqrt(x); }
double sinD(double x) { return std::sin(x); }
double cosD(double x) { return std::cos(x); }
double tanD(double x) { return std::tan(x); }
double asinD(double x) { return std::asin(x); }
double acosD(double x) { return std::acos(x); }
double atanD(double x) { return std::atan(x); }
double expD(double x) { return std::exp(x); }
double logD(double x) { return std::log(x); }

// ---- Date
constexpr double kMsPerDay = 86400000.0;
double day(double t) { return std::floor(t / kMsPerDay); }
double timeWithinDay(double t) { double r = std::fmod(t, kMsPerDay); return r < 0 ? r + kMsPerDay : r; }
double daysInYear(double y) { return (std::fmod(y, 4) != 0) ? 365 : (std::fmod(y, 100) != 0) ? 366 : (std::fmod(y, 400) != 0) ? 365 : 366; }
double dayFromYear(double y) { return 365 * (y - 1970) + std::floor((y - 1969) / 4) - std::floor((y - 1901) / 100) + std::floor((y - 1601) / 400); }
double timeFromYear(double y) { return kMsPerDay * dayFromYear(y); }
double yearFromTime(double t) {
    double y = std::floor(t / (kMsPerDay * 365.2425)) + 1970;
    while (timeFromYear(y) > t) --y;
    while (timeFromYear(y + 1) <= t) ++y;
    return y;
}
bool leap(double t) { return daysInYear(yearFromTime(t)) == 366; }
double dayWithinYear(double t) { return day(t) - dayFromYear(yearFromTime(t)); }
const int kMonthStart[2][13] = {{0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
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

// Local time: the zone's offset at an instant. Years before 1970 read the
// zone at the year of 1970-1997 that has the same length and starts on the
// same weekday, so old dates get today's rules rather than local mean time.
double offsetAt(Vm& vm, double utc) {
    if (!std::isfinite(utc)) return 0;
    const double year = yearFromTime(utc);
    if (year < 1970) {
        double firstDay = weekDay(timeFromYear(year));
        for (double y = 1970; y < 1998; ++y)
            if (daysInYear(y) == daysInYear(year) && weekDay(timeFromYear(y)) == firstDay) {
                utc = utc - timeFromYear(year) + timeFromYear(y);
                break;
            }
    }
    const QTimeZone zone = vm.dateZone ? *vm.dateZone : QTimeZone::systemTimeZone();
    return zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(qint64(utc), Qt::UTC)) * 1000.0;
}
double toLocal(Vm& vm, double t) { return t + offsetAt(vm, t); }
// A local time back to UTC: the offset is read at the instant the local time
// would be with the offset of that moment, so a time in the hour that the
// clocks skip lands after it.
double toUtc(Vm& vm, double local) { return local - offsetAt(vm, local - offsetAt(vm, local)); }

double nowMs(Vm& vm) {
    if (!std::isnan(vm.dateNowMs)) return vm.dateNowMs;
    return double(QDateTime::currentMSecsSinceEpoch());
}

DateObject* dateOf(Vm& vm, const Value& self) { return thisAs<DateObject>(vm, self, "Date"); }

const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Date.parse: the forms that toString, toUTCString and toLocaleString print,
// and the month/day/year forms, read as tokens in any order: names of the
// month (and of the day, ignored), h:m[:s] times, a/b/c dates (year first
// when the first part is over 31), AM/PM, "GMT"/"UTC" with an optional
// +hhmm offset, and bare numbers (the day, then the year). Without a zone
// the time is local.
double parseDate(Vm& vm, const QString& text) {
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
    return timeClip(std::isnan(zone) ? toUtc(vm, t) : t - zone);
}

// The seven fields from year to milliseconds, with two-digit years in 1900-1999.
double timeFromFields(Vm& vm, Args a) {
    double f[7] = {0, 0, 1, 0, 0, 0, 0};
    for (size_t i = 0; i < 7 && i < a.size(); ++i) f[i] = vm.toNumber(a[i]);
    double y = f[0];
    if (!std::isnan(y) && std::trunc(y) >= 0 && std::trunc(y) <= 99) y = 1900 + std::trunc(y);
    return makeDate(makeDay(y, f[1], f[2]), makeTime(f[3], f[4], f[5], f[6]));
}

Value dateCtor(Vm& vm, const Value& self, Args a) {
    auto* d = dateOf(vm, self);
    if (a.empty()) d->time = nowMs(vm);
    else if (a.size() == 1) {
        // Only a String argument is parsed: an object whose valueOf gives a
        // string converts to NaN, as a number would.
        if (a[0].isObject() && a[0].o->as<DateObject>()) d->time = a[0].o->as<DateObject>()->time;
        else if (a[0].isString()) d->time = parseDate(vm, a[0].s);
        else d->time = timeClip(vm.toNumber(a[0]));
    } else {
        d->time = timeClip(toUtc(vm, timeFromFields(vm, a)));
    }
    return {};
}

// The printed forms.
enum class Form { Full, Utc, DateOnly, TimeOnly, Locale, LocaleTime };
QString formatDate(Vm& vm, double t, Form form) {
    if (std::isnan(t)) return QStringLiteral("Invalid Date");
    const double l = form == Form::Utc ? t : toLocal(vm, t);
    auto two = [](double v) { return QStringLiteral("%1").arg(int(v), 2, 10, QLatin1Char('0')); };
    const double tod = timeWithinDay(l);
    const double hour = std::floor(tod / 3600000);
    const QString minSec = two(std::fmod(std::floor(tod / 60000), 60)) + u':' + two(std::fmod(std::floor(tod / 1000), 60));
    const QString day = QStringLiteral("%1 %2 %3").arg(QLatin1String(kDays[int(weekDay(l))]), QLatin1String(kMonths[int(monthFromTime(l))])).arg(int(dateFromTime(l)));
    const QString year = QString::number(qint64(yearFromTime(l)));
    const int off = int(std::lround((l - t) / 60000));
    const QString zone = QStringLiteral("GMT%1%2%3").arg(off < 0 ? u'-' : u'+').arg(two(std::abs(off) / 60), two(std::abs(off) % 60));
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
template <Form F> Value dateFormat(Vm& vm, const Value& self, Args) { return Value::string(formatDate(vm, dateOf(vm, self)->time, F)); }

// Getters by field; `Utc` reads in UTC instead of local time.
enum class Field { FullYear, Month, Date, Hours, Minutes, Seconds, Milliseconds, Day };
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
template <Field F, bool Utc> Value getField(Vm& vm, const Value& self, Args) {
    double t = dateOf(vm, self)->time;
    if (std::isnan(t)) return Value::number(t);
    return Value::number(field(Utc ? t : toLocal(vm, t), F));
}
// How many fields a setter takes, starting at F: the date part stops at the
// day of the month, the time part at the milliseconds.
constexpr int setterArity(Field f) { return f <= Field::Date ? int(Field::Date) - int(f) + 1 : int(Field::Milliseconds) - int(f) + 1; }
// Setters: the first field set is F, later arguments fill the following
// fields. A NaN date stays NaN, except that setting the year starts from +0.
template <Field F, bool Utc> Value setField(Vm& vm, const Value& self, Args a) {
    auto* d = dateOf(vm, self);
    double l;
    if (std::isnan(d->time)) {
        if (F != Field::FullYear) return Value::number(d->time);
        l = 0;
    } else {
        l = Utc ? d->time : toLocal(vm, d->time);
    }
    double v[7] = {field(l, Field::FullYear), field(l, Field::Month), field(l, Field::Date), field(l, Field::Hours),
                   field(l, Field::Minutes), field(l, Field::Seconds), field(l, Field::Milliseconds)};
    const int first = int(F);
    v[first] = NAN; // no argument: undefined, so NaN
    for (int i = 0; i < int(a.size()) && i < setterArity(F); ++i) v[first + i] = vm.toNumber(a[size_t(i)]);
    const double r = makeDate(makeDay(v[0], v[1], v[2]), makeTime(v[3], v[4], v[5], v[6]));
    d->time = timeClip(Utc ? r : toUtc(vm, r));
    return Value::number(d->time);
}
Value getTime(Vm& vm, const Value& self, Args) { return Value::number(dateOf(vm, self)->time); }
Value setTime(Vm& vm, const Value& self, Args a) {
    auto* d = dateOf(vm, self);
    d->time = timeClip(vm.toNumber(arg(a, 0)));
    return Value::number(d->time);
}
Value timezoneOffset(Vm& vm, const Value& self, Args) {
    double t = dateOf(vm, self)->time;
    if (std::isnan(t)) t = nowMs(vm); // the zone's offset now
    return Value::number(-offsetAt(vm, t) / 60000);
}
Value dateUtc(Vm& vm, const Value&, Args a) {
    if (a.empty()) return Value::number(NAN);
    return Value::number(timeClip(timeFromFields(vm, a)));
}
Value dateParse(Vm& vm, const Value&, Args a) { return Value::number(parseDate(vm, vm.toString(arg(a, 0)))); }
Value dateCall(Vm& vm, const Value&, Args) { return Value::string(formatDate(vm, nowMs(vm), Form::Full)); }

} // namespace

void installMathAndDate(Vm& vm) {
    ClassObject* math = vm.defineClass(QStringLiteral("Math"), vm.builtin("Object"), nullptr, nullptr);
    math->iinit = nullptr;
    math->call = [](Vm& vm, const Value&, Args) -> Value { vm.throwError(ErrorType::TypeError, 1075); };
    const std::pair<const char*, double> constants[] = {
        {"E", M_E}, {"LN10", M_LN10}, {"LN2", M_LN2}, {"LOG10E", M_LOG10E}, {"LOG2E", M_LOG2E},
        {"PI", M_PI}, {"SQRT1_2", M_SQRT1_2}, {"SQRT2", M_SQRT2}};
    for (const auto& [n, v] : constants) vm.defineConstant(math, QString::fromLatin1(n), Value::number(v));
    struct F { const char* name; NativeFn fn; int arity; };
    const F fns[] = {
        {"abs", unary<absD>, 1}, {"floor", unary<floorD>, 1}, {"ceil", unary<ceilD>, 1}, {"sqrt", unary<sqrtD>, 1},
        {"sin", unary<sinD>, 1}, {"cos", unary<cosD>, 1}, {"tan", unary<tanD>, 1}, {"asin", unary<asinD>, 1},
        {"acos", unary<acosD>, 1}, {"atan", unary<atanD>, 1}, {"exp", unary<expD>, 1}, {"log", unary<logD>, 1},
        {"round", mathRound, 1}, {"max", mathMax, 2}, {"min", mathMin, 2}, {"pow", mathPow, 2},
        {"atan2", mathAtan2, 2}, {"random", mathRandom, 0},
    };
    // Number carries Math's functions and constants too (SWF 11 and later).
    ClassObject* number = vm.builtin("Number");
    for (const F& f : fns) {
        // Math's functions take all their arguments except max, min and random.
        int required = f.fn == mathMax || f.fn == mathMin ? 0 : f.arity;
        vm.defineStatic(math, QString::fromLatin1(f.name), f.fn, f.arity, required);
        vm.defineStatic(number, QString::fromLatin1(f.name), f.fn, f.arity, required);
    }
    for (const auto& [n, v] : constants) vm.defineConstant(number, QString::fromLatin1(n), Value::number(v));

    ClassObject* date = vm.defineClass(QStringLiteral("Date"), vm.builtin("Object"),
                                       [](Vm& vm, ClassObject*) -> Object* { return vm.make<DateObject>(); }, dateCtor, 7);
    date->call = dateCall;
    struct M { const char* name; NativeFn fn; int arity; };
    const M methods[] = {
        {"getTime", getTime, 0}, {"valueOf", getTime, 0}, {"setTime", setTime, 1},
        {"toString", dateFormat<Form::Full>, 0}, {"toUTCString", dateFormat<Form::Utc>, 0},
        {"toDateString", dateFormat<Form::DateOnly>, 0}, {"toTimeString", dateFormat<Form::TimeOnly>, 0},
        {"toLocaleString", dateFormat<Form::Locale>, 0}, {"toLocaleDateString", dateFormat<Form::DateOnly>, 0},
        {"toLocaleTimeString", dateFormat<Form::LocaleTime>, 0}, {"getTimezoneOffset", timezoneOffset, 0},
        {"getDay", getField<Field::Day, false>, 0}, {"getUTCDay", getField<Field::Day, true>, 0},
    };
    for (const M& m : methods) vm.defineMethod(date, QString::fromLatin1(m.name), m.fn, m.arity);

    // Each field has a get and set method, local and UTC, and a property
    // (fullYear, fullYearUTC, ...) that reads and writes through them.
    struct FieldRow { const char* name; NativeFn get, getUtc, set, setUtc; int arity; };
#define SWF_DATE_FIELD(N, F) {N, getField<F, false>, getField<F, true>, setField<F, false>, setField<F, true>, setterArity(F)}
    const FieldRow fields[] = {
        SWF_DATE_FIELD("FullYear", Field::FullYear), SWF_DATE_FIELD("Month", Field::Month),
        SWF_DATE_FIELD("Date", Field::Date), SWF_DATE_FIELD("Hours", Field::Hours),
        SWF_DATE_FIELD("Minutes", Field::Minutes), SWF_DATE_FIELD("Seconds", Field::Seconds),
        SWF_DATE_FIELD("Milliseconds", Field::Milliseconds),
    };
#undef SWF_DATE_FIELD
    for (const FieldRow& f : fields) {
        const QString name = QString::fromLatin1(f.name);
        vm.defineMethod(date, QStringLiteral("get") + name, f.get, 0);
        vm.defineMethod(date, QStringLiteral("getUTC") + name, f.getUtc, 0);
        vm.defineMethod(date, QStringLiteral("set") + name, f.set, f.arity);
        vm.defineMethod(date, QStringLiteral("setUTC") + name, f.setUtc, f.arity);
        const QString property = name.left(1).toLower() + name.mid(1);
        vm.defineAccessor(date, property, f.get, f.set);
        vm.defineAccessor(date, property + QStringLiteral("UTC"), f.getUtc, f.setUtc);
    }
    vm.defineAccessor(date, QStringLiteral("day"), getField<Field::Day, false>);
    vm.defineAccessor(date, QStringLiteral("dayUTC"), getField<Field::Day, true>);
    vm.defineAccessor(date, QStringLiteral("time"), getTime, setTime);
    vm.defineAccessor(date, QStringLiteral("timezoneOffset"), timezoneOffset);
    vm.defineStatic(date, QStringLiteral("UTC"), dateUtc, 7);
    vm.defineStatic(date, QStringLiteral("parse"), dateParse, 1);
    vm.defineConstant(date, QStringLiteral("length"), Value::number(7));
}

} // namespace swf::avm2
