#pragma once
// The calendar arithmetic of ECMAScript dates (milliseconds since 1970 UTC),
// with the printed forms and the parser of the ActionScript 3 Date. Local
// time comes from a function giving the zone's offset at an instant.
#include <QString>

#include <functional>

namespace swf::avm2lib::date {

// The zone's offset from UTC in milliseconds at a UTC instant.
using OffsetFn = std::function<double(double utc)>;

double yearFromTime(double t);
double monthFromTime(double t);
double dateFromTime(double t);
double weekDay(double t);
double timeWithinDay(double t);
double timeFromYear(double y);
double daysInYear(double y);
double makeTime(double h, double m, double s, double ms);
double makeDay(double year, double month, double date);
double makeDate(double day, double time);
double timeClip(double t);

// The instant whose zone rules stand for `t`: years before 1970 read the
// zone at the year of 1970-1997 that has the same length and starts on the
// same weekday, so old dates get today's rules rather than local mean time.
double zoneRulesInstant(double t);

// Local time to UTC and back with `offsetAt`.
double toLocal(double t, const OffsetFn& offsetAt);
double toUtc(double local, const OffsetFn& offsetAt);

// A date's fields; the setters fill them from FullYear to Milliseconds.
enum class Field { FullYear, Month, Date, Hours, Minutes, Seconds, Milliseconds, Day };
double field(double t, Field f);

// The printed forms: toString, toUTCString, toDateString, toTimeString,
// toLocaleString, toLocaleTimeString.
enum class Form { Full, Utc, DateOnly, TimeOnly, Locale, LocaleTime };
QString format(double t, Form form, const OffsetFn& offsetAt);

// Date.parse: NaN when the text is not a date.
double parse(const QString& text, const OffsetFn& offsetAt);

} // namespace swf::avm2lib::date
