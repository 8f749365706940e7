// Date: times are milliseconds since 1970 (UTC) as in ECMAScript, with the
// calendar arithmetic done here so that years far from today work too.
#include "engine/avm1/builtins.h"
#include "engine/avm1/date_clock.h"

#include <QDateTime>
#include <QTimeZone>

#include <cmath>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

constexpr double kMsPerDay = 86400000.0;

double day(double t) { return std::floor(t / kMsPerDay); }
double timeWithinDay(double t) { double r = std::fmod(t, kMsPerDay); return r < 0 ? r + kMsPerDay : r; }
double daysInYear(double y) {
    if (std::fmod(y, 4) != 0) return 365;
    if (std::fmod(y, 100) != 0) return 366;
    if (std::fmod(y, 400) != 0) return 365;
    return 366;
}
double dayFromYear(double y) {
    return 365 * (y - 1970) + std::floor((y - 1969) / 4) - std::floor((y - 1901) / 100) + std::floor((y - 1601) / 400);
}
double yearFromTime(double t) {
    double y = std::floor(t / (kMsPerDay * 365.2425)) + 1970;
    while (dayFromYear(y) * kMsPerDay > t) --y;
    while (dayFromYear(y + 1) * kMsPerDay <= t) ++y;
    return y;
}
bool leap(double t) { return daysInYear(yearFromTime(t)) == 366; }
int monthFromTime(double t) {
    double d = day(t) - dayFromYear(yearFromTime(t));
    int l = leap(t) ? 1 : 0;
    const int ends[] = {31, 59 + l, 90 + l, 120 + l, 151 + l, 181 + l, 212 + l, 243 + l, 273 + l, 304 + l, 334 + l, 365 + l};
    for (int m = 0; m < 12; ++m)
        if (d < ends[m]) return m;
    return 11;
}
double dateFromTime(double t) {
    double d = day(t) - dayFromYear(yearFromTime(t));
    int l = leap(t) ? 1 : 0;
    const int starts[] = {0, 31, 59 + l, 90 + l, 120 + l, 151 + l, 181 + l, 212 + l, 243 + l, 273 + l, 304 + l, 334 + l};
    return d - starts[monthFromTime(t)] + 1;
}
double weekDay(double t) { double r = std::fmod(day(t) + 4, 7); return r < 0 ? r + 7 : r; }
double makeTime(double h, double m, double s, double ms) { return h * 3600000 + m * 60000 + s * 1000 + ms; }
double makeDay(double year, double month, double date) {
    if (!std::isfinite(year) || !std::isfinite(month) || !std::isfinite(date)) return std::nan("");
    double y = year + std::floor(month / 12);
    double mn = std::fmod(month, 12);
    if (mn < 0) mn += 12;
    static const int starts[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    double d = dayFromYear(y) + starts[int(mn)] + ((mn >= 2 && daysInYear(y) == 366) ? 1 : 0);
    return d + date - 1;
}
double makeDate(double dayV, double time) { return dayV * kMsPerDay + time; }
// Times beyond 8.64e15 ms either side of 1970 are invalid; fractions of a
// millisecond are kept, as Flash keeps them.
double timeClip(double t) {
    if (!std::isfinite(t) || std::fabs(t) > 8.64e15) return std::nan("");
    return t;
}

// The clock is the Date prototype's native part.
struct DateClockState final : NativeState {
    DateClock clock;
};

const DateClock& clockOf(Vm& vm) {
    static const DateClock kSystem;
    auto* c = vm.dateProto ? vm.dateProto->nativeAs<DateClockState>() : nullptr;
    return c ? c->clock : kSystem;
}

// Offset of local time from UTC at UTC time `t`, in ms.
double localOffset(Vm& vm, double t) {
    if (!std::isfinite(t)) return 0;
    QDateTime dt = QDateTime::fromMSecsSinceEpoch(qint64(std::clamp(t, -8.64e15, 8.64e15)), Qt::UTC);
    const DateClock& c = clockOf(vm);
    return (c.zone ? *c.zone : QTimeZone::systemTimeZone()).offsetFromUtc(dt) * 1000.0;
}
double toLocal(Vm& vm, double t) { return t + localOffset(vm, t); }
double toUtc(Vm& vm, double local) { return local - localOffset(vm, local - localOffset(vm, local)); }

double getTime(CallArgs& a) {
    Object* o = a.thisObject();
    if (!o || o->kind() != Kind::Date || !o->primitive.isNumber()) return std::nan("");
    return o->primitive.asNumber();
}
// The time the fields are read from: one given whole to the constructor may
// lie past the clip range (it is kept); far past it there are no fields.
double fieldTime(CallArgs& a) {
    const double t = getTime(a);
    return std::fabs(t) <= 8.64e15 + 2 * kMsPerDay ? t : std::nan("");
}
void setTime(CallArgs& a, double t) {
    Object* o = a.thisObject();
    if (o && o->kind() == Kind::Date) o->primitive = Value(timeClip(t));
}

double nowMs(Vm& vm) {
    const DateClock& c = clockOf(vm);
    return c.nowMs ? c.nowMs() : double(QDateTime::currentMSecsSinceEpoch());
}

Value dateConstruct(Vm& vm, CallArgs& a) {
    Object* o = vm.make<Object>(vm.dateProto, Kind::Date);
    double t;
    if (a.size() == 0) {
        t = nowMs(vm);
    } else if (a.size() == 1) {
        // A time given whole is kept as it is, even past the clip range.
        o->primitive = Value(vm.toNumber(a.at(0)));
        return Value(o);
    } else {
        double f[7] = {0, 0, 1, 0, 0, 0, 0};
        for (size_t i = 0; i < 7 && i < a.size(); ++i) f[i] = vm.toNumber(a.at(i));
        if (f[0] >= 0 && f[0] <= 99 && f[0] == std::trunc(f[0])) f[0] += 1900;
        t = toUtc(vm, makeDate(makeDay(f[0], f[1], f[2]), makeTime(f[3], f[4], f[5], f[6])));
    }
    o->primitive = Value(timeClip(t));
    return Value(o);
}

Value dateCall(Vm& vm, CallArgs& a) {
    CallArgs none{Value(), {}, a.callee};
    Value d = dateConstruct(vm, none);
    return Value(vm.toString(d));
}

Value dateUTC(Vm& vm, CallArgs& a) {
    if (a.size() < 2) return Value(); // a year and a month at least
    double f[7] = {0, 0, 1, 0, 0, 0, 0};
    for (size_t i = 0; i < 7 && i < a.size(); ++i) f[i] = vm.toNumber(a.at(i));
    if (f[0] >= 0 && f[0] <= 99 && f[0] == std::trunc(f[0])) f[0] += 1900;
    return Value(timeClip(makeDate(makeDay(f[0], f[1], f[2]), makeTime(f[3], f[4], f[5], f[6]))));
}

enum class Field { FullYear, Year, Month, Date, Day, Hours, Minutes, Seconds, Milliseconds };

double fieldOf(double t, Field f) {
    switch (f) {
    case Field::FullYear: return yearFromTime(t);
    case Field::Year: return yearFromTime(t) - 1900;
    case Field::Month: return monthFromTime(t);
    case Field::Date: return dateFromTime(t);
    case Field::Day: return weekDay(t);
    case Field::Hours: return std::floor(timeWithinDay(t) / 3600000);
    case Field::Minutes: return std::fmod(std::floor(timeWithinDay(t) / 60000), 60);
    case Field::Seconds: return std::fmod(std::floor(timeWithinDay(t) / 1000), 60);
    case Field::Milliseconds: return std::fmod(std::floor(timeWithinDay(t)), 1000);
    }
    return 0;
}

template <Field F, bool Utc>
Value dateGet(Vm& vm, CallArgs& a) {
    double t = fieldTime(a);
    if (std::isnan(t)) return Value(t);
    return Value(fieldOf(Utc ? t : toLocal(vm, t), F));
}

// Setters: replace fields starting at F with the arguments, keep the others.
template <Field F, bool Utc>
Value dateSet(Vm& vm, CallArgs& a) {
    double t = fieldTime(a);
    if (std::isnan(t)) {
        if (F != Field::FullYear && F != Field::Year) return Value(t);
        t = 0;
    }
    double lt = Utc ? t : toLocal(vm, t);
    double y = yearFromTime(lt), mo = monthFromTime(lt), d = dateFromTime(lt);
    double h = fieldOf(lt, Field::Hours), mi = fieldOf(lt, Field::Minutes), s = fieldOf(lt, Field::Seconds),
           ms = fieldOf(lt, Field::Milliseconds);
    double* order[] = {&y, &mo, &d, &h, &mi, &s, &ms};
    int first = 0;
    switch (F) {
    case Field::FullYear: first = 0; break;
    case Field::Year: first = 0; break;
    case Field::Month: first = 1; break;
    case Field::Date: first = 2; break;
    case Field::Hours: first = 3; break;
    case Field::Minutes: first = 4; break;
    case Field::Seconds: first = 5; break;
    case Field::Milliseconds: first = 6; break;
    default: return Value();
    }
    int maxArgs = (F == Field::FullYear) ? 3 : (F == Field::Year ? 1 : (F == Field::Hours ? 4 : (F == Field::Minutes ? 3 : (F == Field::Seconds ? 2 : (F == Field::Month ? 2 : 1)))));
    // Fields are whole numbers. A missing first argument is NaN; a NaN month
    // reads as 0 and NaN minutes as the lowest 32-bit integer, as Flash
    // converts them, while any other NaN field makes the date invalid.
    for (int i = 0; i < maxArgs && (i == 0 || size_t(i) < a.size()); ++i) {
        if (i > 0 && a.at(size_t(i)).isUndefined()) continue;
        double v = size_t(i) < a.size() ? vm.toNumber(a.at(size_t(i))) : std::nan("");
        if (std::isnan(v) && order[first + i] == &mo) v = 0;
        else if (std::isnan(v) && order[first + i] == &mi) v = double(INT32_MIN);
        *order[first + i] = std::trunc(v);
    }
    if (F == Field::Year && y >= 0 && y <= 99 && y == std::trunc(y)) y += 1900;
    double nt = makeDate(makeDay(y, mo, d), makeTime(h, mi, s, ms));
    setTime(a, Utc ? nt : toUtc(vm, nt));
    return Value(getTime(a));
}

Value dateGetTime(Vm&, CallArgs& a) { return Value(getTime(a)); }
Value dateSetTime(Vm& vm, CallArgs& a) {
    setTime(a, vm.toNumber(a.at(0)));
    return Value(getTime(a));
}
Value dateTimezoneOffset(Vm& vm, CallArgs& a) {
    double t = fieldTime(a);
    if (std::isnan(t)) return Value(t);
    return Value(-localOffset(vm, t) / 60000);
}

Value dateToString(Vm& vm, CallArgs& a) {
    double t = fieldTime(a);
    if (std::isnan(t)) return Value(QStringLiteral("Invalid Date"));
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    double lt = toLocal(vm, t);
    int offMin = int(localOffset(vm, t) / 60000);
    QString tz = QStringLiteral("GMT%1%2%3")
                     .arg(QChar(offMin < 0 ? u'-' : u'+'))
                     .arg(std::abs(offMin) / 60, 2, 10, QLatin1Char('0'))
                     .arg(std::abs(offMin) % 60, 2, 10, QLatin1Char('0'));
    return Value(QStringLiteral("%1 %2 %3 %4:%5:%6 %7 %8")
                     .arg(QString::fromLatin1(days[int(weekDay(lt))]), QString::fromLatin1(months[monthFromTime(lt)]))
                     .arg(int(dateFromTime(lt)))
                     .arg(int(fieldOf(lt, Field::Hours)), 2, 10, QLatin1Char('0'))
                     .arg(int(fieldOf(lt, Field::Minutes)), 2, 10, QLatin1Char('0'))
                     .arg(int(fieldOf(lt, Field::Seconds)), 2, 10, QLatin1Char('0'))
                     .arg(tz)
                     .arg(qint64(yearFromTime(lt))));
}

} // namespace

void installDate(Vm& vm) {
    vm.dateProto = vm.newObject();
    Object* p = vm.dateProto;
    FunctionObject* ctor = vm.defineClass(QStringLiteral("Date"), dateCall, dateConstruct, p);
    vm.defineMethod(ctor, QStringLiteral("UTC"), dateUTC);
    vm.changeFlags(ctor, prop::kReadOnly, 0); // every member of Date itself is constant
    struct { const char* name; NativeFn fn; } methods[] = {
        {"getFullYear", dateGet<Field::FullYear, false>}, {"getYear", dateGet<Field::Year, false>},
        {"getMonth", dateGet<Field::Month, false>}, {"getDate", dateGet<Field::Date, false>},
        {"getDay", dateGet<Field::Day, false>}, {"getHours", dateGet<Field::Hours, false>},
        {"getMinutes", dateGet<Field::Minutes, false>}, {"getSeconds", dateGet<Field::Seconds, false>},
        {"getMilliseconds", dateGet<Field::Milliseconds, false>},
        {"getUTCFullYear", dateGet<Field::FullYear, true>}, {"getUTCYear", dateGet<Field::Year, true>},
        {"getUTCMonth", dateGet<Field::Month, true>}, {"getUTCDate", dateGet<Field::Date, true>},
        {"getUTCDay", dateGet<Field::Day, true>}, {"getUTCHours", dateGet<Field::Hours, true>},
        {"getUTCMinutes", dateGet<Field::Minutes, true>}, {"getUTCSeconds", dateGet<Field::Seconds, true>},
        {"getUTCMilliseconds", dateGet<Field::Milliseconds, true>},
        {"setFullYear", dateSet<Field::FullYear, false>}, {"setYear", dateSet<Field::Year, false>},
        {"setMonth", dateSet<Field::Month, false>}, {"setDate", dateSet<Field::Date, false>},
        {"setHours", dateSet<Field::Hours, false>}, {"setMinutes", dateSet<Field::Minutes, false>},
        {"setSeconds", dateSet<Field::Seconds, false>}, {"setMilliseconds", dateSet<Field::Milliseconds, false>},
        {"setUTCFullYear", dateSet<Field::FullYear, true>}, {"setUTCMonth", dateSet<Field::Month, true>},
        {"setUTCDate", dateSet<Field::Date, true>}, {"setUTCHours", dateSet<Field::Hours, true>},
        {"setUTCMinutes", dateSet<Field::Minutes, true>}, {"setUTCSeconds", dateSet<Field::Seconds, true>},
        {"setUTCMilliseconds", dateSet<Field::Milliseconds, true>},
        {"getTime", dateGetTime}, {"valueOf", dateGetTime}, {"setTime", dateSetTime},
        {"getTimezoneOffset", dateTimezoneOffset}, {"toString", dateToString},
    };
    for (auto& m : methods) vm.defineMethod(p, QString::fromLatin1(m.name), m.fn);
    // valueOf is getTime itself, the same function object.
    if (Property* valueOf = p->find(vm.key(QStringLiteral("valueOf"))))
        valueOf->value = p->find(vm.key(QStringLiteral("getTime")))->value;
}

} // namespace swf::avm1::builtins

namespace swf::avm1 {

void setDateClock(Vm& vm, DateClock clock) {
    if (auto* s = vm.dateProto ? vm.dateProto->nativeOrMake<builtins::DateClockState>() : nullptr)
        s->clock = std::move(clock);
}

} // namespace swf::avm1
