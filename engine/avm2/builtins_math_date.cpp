// Math and Date (ECMA-262 15.8, 15.9). Local time is the VM's zone (the
// system's unless the host sets one, so that runs are reproducible).
#include "engine/avm2/builtins.h"
#include "engine/avm2/lib/date.h"

#include <QDateTime>
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
using namespace avm2lib::date;

// The zone's offset at an instant, read through the equivalent-year rule.
double offsetAt(Vm& vm, double utc) {
    if (!std::isfinite(utc)) return 0;
    const QTimeZone zone = vm.dateZone ? *vm.dateZone : QTimeZone::systemTimeZone();
    return zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(qint64(zoneRulesInstant(utc)), Qt::UTC)) * 1000.0;
}
OffsetFn zoneOf(Vm& vm) { return [&vm](double t) { return offsetAt(vm, t); }; }
double toLocal(Vm& vm, double t) { return avm2lib::date::toLocal(t, zoneOf(vm)); }
double toUtc(Vm& vm, double local) { return avm2lib::date::toUtc(local, zoneOf(vm)); }

double nowMs(Vm& vm) {
    if (!std::isnan(vm.dateNowMs)) return vm.dateNowMs;
    return double(QDateTime::currentMSecsSinceEpoch());
}

DateObject* dateOf(Vm& vm, const Value& self) { return thisAs<DateObject>(vm, self, "Date"); }
// Date's methods given another object as `this` (copied onto it, or through
// call) see an invalid date: NaN and "Invalid Date"; a setter returns what
// it computes from NaN and keeps it nowhere.
double timeOf(const Value& self) {
    const DateObject* d = self.isObject() ? self.o->as<DateObject>() : nullptr;
    return d ? d->time : NAN;
}
void storeTime(const Value& self, double t) {
    if (DateObject* d = self.isObject() ? self.o->as<DateObject>() : nullptr) d->time = t;
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
        else if (a[0].isString()) d->time = parse(a[0].s, zoneOf(vm));
        else d->time = timeClip(vm.toNumber(a[0]));
    } else {
        d->time = timeClip(toUtc(vm, timeFromFields(vm, a)));
    }
    return {};
}

template <Form F> Value dateFormat(Vm& vm, const Value& self, Args) { return Value::string(format(timeOf(self), F, zoneOf(vm))); }

template <Field F, bool Utc> Value getField(Vm& vm, const Value& self, Args) {
    double t = timeOf(self);
    if (std::isnan(t)) return Value::number(t);
    return Value::number(field(Utc ? t : toLocal(vm, t), F));
}
// How many fields a setter takes, starting at F: the date part stops at the
// day of the month, the time part at the milliseconds.
constexpr int setterArity(Field f) { return f <= Field::Date ? int(Field::Date) - int(f) + 1 : int(Field::Milliseconds) - int(f) + 1; }
// Setters: the first field set is F, later arguments fill the following
// fields. A NaN date stays NaN, except that setting the year starts from +0.
template <Field F, bool Utc> Value setField(Vm& vm, const Value& self, Args a) {
    const double t = timeOf(self);
    double l;
    if (std::isnan(t)) {
        if (F != Field::FullYear) return Value::number(t);
        l = 0;
    } else {
        l = Utc ? t : toLocal(vm, t);
    }
    double v[7] = {field(l, Field::FullYear), field(l, Field::Month), field(l, Field::Date), field(l, Field::Hours),
                   field(l, Field::Minutes), field(l, Field::Seconds), field(l, Field::Milliseconds)};
    const int first = int(F);
    v[first] = NAN; // no argument: undefined, so NaN
    for (int i = 0; i < int(a.size()) && i < setterArity(F); ++i) v[first + i] = vm.toNumber(a[size_t(i)]);
    const double r = makeDate(makeDay(v[0], v[1], v[2]), makeTime(v[3], v[4], v[5], v[6]));
    const double result = timeClip(Utc ? r : toUtc(vm, r));
    storeTime(self, result);
    return Value::number(result);
}
Value getTime(Vm&, const Value& self, Args) { return Value::number(timeOf(self)); }
Value setTime(Vm& vm, const Value& self, Args a) {
    const double result = timeClip(vm.toNumber(arg(a, 0)));
    storeTime(self, result);
    return Value::number(result);
}
Value timezoneOffset(Vm& vm, const Value& self, Args) {
    const double t = timeOf(self);
    return Value::number(std::isnan(t) ? t : -offsetAt(vm, t) / 60000);
}
Value dateUtc(Vm& vm, const Value&, Args a) {
    if (a.empty()) return Value::number(NAN);
    return Value::number(timeClip(timeFromFields(vm, a)));
}
Value dateParse(Vm& vm, const Value&, Args a) { return Value::number(parse(vm.toString(arg(a, 0)), zoneOf(vm))); }
Value dateCall(Vm& vm, const Value&, Args) { return Value::string(format(nowMs(vm), Form::Full, zoneOf(vm))); }

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
