// Math and Date (ECMA-262 15.8, 15.9). Local time is UTC plus a fixed
// offset (the VM's zone), so runs are reproducible.
#include "engine/avm2/builtins.h"

#include <QDateTime>
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

double localOffset() { return 0; } // the VM runs in UTC
double toLocal(double t) { return t + localOffset(); }
double toUtc(double t) { return t - localOffset(); }

double nowMs(Vm& vm) {
    if (!std::isnan(vm.dateNowMs)) return vm.dateNowMs;
    return double(QDateTime::currentMSecsSinceEpoch());
}

DateObject* dateOf(Vm& vm, const Value& self) { return thisAs<DateObject>(vm, self, "Date"); }

double parseDate(const QString& s) {
    QDateTime dt = QDateTime::fromString(s, Qt::RFC2822Date);
    if (!dt.isValid()) dt = QDateTime::fromString(s, Qt::ISODate);
    if (!dt.isValid()) dt = QDateTime::fromString(s, QStringLiteral("ddd MMM d HH:mm:ss 'GMT'tt yyyy"));
    if (!dt.isValid()) dt = QDateTime::fromString(s, QStringLiteral("M/d/yyyy"));
    if (!dt.isValid()) return std::nan("");
    return double(dt.toMSecsSinceEpoch());
}

Value dateCtor(Vm& vm, const Value& self, Args a) {
    auto* d = dateOf(vm, self);
    if (a.empty()) d->time = nowMs(vm);
    else if (a.size() == 1) {
        Value v = vm.toPrimitive(a[0]);
        if (a[0].isObject() && a[0].o->as<DateObject>()) d->time = a[0].o->as<DateObject>()->time;
        else d->time = v.isString() ? parseDate(v.s) : timeClip(vm.toNumber(v));
    } else {
        double f[7] = {0, 0, 1, 0, 0, 0, 0};
        for (size_t i = 0; i < 7 && i < a.size(); ++i) f[i] = vm.toNumber(a[i]);
        double y = f[0];
        if (!std::isnan(y) && std::trunc(y) >= 0 && std::trunc(y) <= 99) y = 1900 + std::trunc(y);
        d->time = timeClip(toUtc(makeDate(makeDay(y, f[1], f[2]), makeTime(f[3], f[4], f[5], f[6]))));
    }
    return {};
}

const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

QString formatDate(double t, bool utc) {
    if (std::isnan(t)) return QStringLiteral("Invalid Date");
    double l = utc ? t : toLocal(t);
    auto two = [](double v) { return QStringLiteral("%1").arg(int(v), 2, 10, QLatin1Char('0')); };
    double tod = timeWithinDay(l);
    QString time = two(std::floor(tod / 3600000)) + u':' + two(std::fmod(std::floor(tod / 60000), 60)) + u':' + two(std::fmod(std::floor(tod / 1000), 60));
    QString head = QStringLiteral("%1 %2 %3 ").arg(QLatin1String(kDays[int(weekDay(l))]), QLatin1String(kMonths[int(monthFromTime(l))])).arg(int(dateFromTime(l)));
    if (utc) return head + time + QStringLiteral(" %1 UTC").arg(int(yearFromTime(l)));
    int off = int(localOffset() / 60000);
    QString zone = QStringLiteral("GMT%1%2%3").arg(off < 0 ? u'-' : u'+').arg(two(std::abs(off) / 60), two(std::abs(off) % 60));
    return head + time + u' ' + zone + u' ' + QString::number(int(yearFromTime(l)));
}

// Getters by field; `utc` reads in UTC instead of local time.
enum class Field { FullYear, Month, Date, Day, Hours, Minutes, Seconds, Milliseconds };
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
    return Value::number(field(Utc ? t : toLocal(t), F));
}
// Setters: the first field set is F, later arguments fill the following fields.
template <Field F, bool Utc> Value setField(Vm& vm, const Value& self, Args a) {
    auto* d = dateOf(vm, self);
    double t = d->time;
    if (std::isnan(t)) {
        if (F != Field::FullYear) return Value::number(t);
        t = 0;
    }
    double l = Utc ? t : toLocal(t);
    double v[7] = {field(l, Field::FullYear), field(l, Field::Month), field(l, Field::Date), field(l, Field::Hours),
                   field(l, Field::Minutes), field(l, Field::Seconds), field(l, Field::Milliseconds)};
    int first = F == Field::FullYear ? 0 : F == Field::Month ? 1 : F == Field::Date ? 2 : F == Field::Hours ? 3
              : F == Field::Minutes ? 4 : F == Field::Seconds ? 5 : 6;
    int last = first <= 2 ? 2 : 6;
    for (size_t i = 0; i < a.size() && first + int(i) <= last; ++i) v[first + int(i)] = vm.toNumber(a[i]);
    if (a.empty()) v[first] = std::nan("");
    double r = makeDate(makeDay(v[0], v[1], v[2]), makeTime(v[3], v[4], v[5], v[6]));
    d->time = timeClip(Utc ? r : toUtc(r));
    return Value::number(d->time);
}
Value getTime(Vm& vm, const Value& self, Args) { return Value::number(dateOf(vm, self)->time); }
Value setTime(Vm& vm, const Value& self, Args a) {
    auto* d = dateOf(vm, self);
    d->time = timeClip(vm.toNumber(arg(a, 0)));
    return Value::number(d->time);
}
Value dateToString(Vm& vm, const Value& self, Args) { return Value::string(formatDate(dateOf(vm, self)->time, false)); }
Value dateToUtcString(Vm& vm, const Value& self, Args) { return Value::string(formatDate(dateOf(vm, self)->time, true)); }
Value timezoneOffset(Vm& vm, const Value& self, Args) {
    double t = dateOf(vm, self)->time;
    return Value::number(std::isnan(t) ? t : -localOffset() / 60000);
}
Value dateUtc(Vm& vm, const Value&, Args a) {
    double f[7] = {std::nan(""), 0, 1, 0, 0, 0, 0};
    for (size_t i = 0; i < 7 && i < a.size(); ++i) f[i] = vm.toNumber(a[i]);
    double y = f[0];
    if (!std::isnan(y) && std::trunc(y) >= 0 && std::trunc(y) <= 99) y = 1900 + std::trunc(y);
    return Value::number(timeClip(makeDate(makeDay(y, f[1], f[2]), makeTime(f[3], f[4], f[5], f[6]))));
}
Value dateParse(Vm& vm, const Value&, Args a) { return Value::number(parseDate(vm.toString(arg(a, 0)))); }
Value dateCall(Vm& vm, const Value&, Args) { return Value::string(formatDate(nowMs(vm), false)); }

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
    struct M { const char* name; NativeFn fn; };
    const M methods[] = {
        {"getTime", getTime}, {"valueOf", getTime}, {"setTime", setTime}, {"toString", dateToString},
        {"toUTCString", dateToUtcString}, {"getTimezoneOffset", timezoneOffset},
        {"getFullYear", getField<Field::FullYear, false>}, {"getUTCFullYear", getField<Field::FullYear, true>},
        {"getMonth", getField<Field::Month, false>}, {"getUTCMonth", getField<Field::Month, true>},
        {"getDate", getField<Field::Date, false>}, {"getUTCDate", getField<Field::Date, true>},
        {"getDay", getField<Field::Day, false>}, {"getUTCDay", getField<Field::Day, true>},
        {"getHours", getField<Field::Hours, false>}, {"getUTCHours", getField<Field::Hours, true>},
        {"getMinutes", getField<Field::Minutes, false>}, {"getUTCMinutes", getField<Field::Minutes, true>},
        {"getSeconds", getField<Field::Seconds, false>}, {"getUTCSeconds", getField<Field::Seconds, true>},
        {"getMilliseconds", getField<Field::Milliseconds, false>}, {"getUTCMilliseconds", getField<Field::Milliseconds, true>},
        {"setFullYear", setField<Field::FullYear, false>}, {"setUTCFullYear", setField<Field::FullYear, true>},
        {"setMonth", setField<Field::Month, false>}, {"setUTCMonth", setField<Field::Month, true>},
        {"setDate", setField<Field::Date, false>}, {"setUTCDate", setField<Field::Date, true>},
        {"setHours", setField<Field::Hours, false>}, {"setUTCHours", setField<Field::Hours, true>},
        {"setMinutes", setField<Field::Minutes, false>}, {"setUTCMinutes", setField<Field::Minutes, true>},
        {"setSeconds", setField<Field::Seconds, false>}, {"setUTCSeconds", setField<Field::Seconds, true>},
        {"setMilliseconds", setField<Field::Milliseconds, false>}, {"setUTCMilliseconds", setField<Field::Milliseconds, true>},
    };
    for (const M& m : methods) vm.defineMethod(date, QString::fromLatin1(m.name), m.fn, 0);
    const std::pair<const char*, NativeFn> accessors[] = {
        {"fullYear", getField<Field::FullYear, false>}, {"month", getField<Field::Month, false>},
        {"date", getField<Field::Date, false>}, {"day", getField<Field::Day, false>},
        {"hours", getField<Field::Hours, false>}, {"minutes", getField<Field::Minutes, false>},
        {"seconds", getField<Field::Seconds, false>}, {"milliseconds", getField<Field::Milliseconds, false>},
        {"time", getTime}, {"timezoneOffset", timezoneOffset},
    };
    for (const auto& [n, fn] : accessors) vm.defineAccessor(date, QString::fromLatin1(n), fn);
    vm.defineStatic(date, QStringLiteral("UTC"), dateUtc, 7);
    vm.defineStatic(date, QStringLiteral("parse"), dateParse, 1);
    vm.defineConstant(date, QStringLiteral("length"), Value::number(7));
}

} // namespace swf::avm2
