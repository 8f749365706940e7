#pragma once
// The clock and time zone that Date reads: the system's unless the host sets
// others (a fixed instant and zone make script output repeatable).
#include <QTimeZone>

#include <functional>
#include <optional>

namespace swf::avm1 {

class Vm;

struct DateClock {
    std::function<double()> nowMs;  // milliseconds since 1970 UTC; empty: the system clock
    std::optional<QTimeZone> zone;  // empty: the system's zone
};

// Sets the clock of `vm`'s Date class (after the built-ins are installed).
void setDateClock(Vm& vm, DateClock clock);

} // namespace swf::avm1
