#pragma once

// The demo's times, each shown with its zone. The engine receives two kinds
// of date-times without zone: quote and order-book times are this machine's
// local time; order, deal and bar times are the vendor's, in the zone the
// API host configures (China, UTC+8). Both are turned into UTC here, and
// shown in this machine's local time with the zone's abbreviation, so every
// line of a run reads on one clock.

#include <chrono>
#include <string>

#include "orbrix/common/datetime.hpp"

namespace orbrix::demo {

using UtcTime = std::chrono::sys_time<std::chrono::microseconds>;

// Now, from the system clock. Any thread.
UtcTime utc_now();

// A local date-time of this machine (a quote's time) as UTC. In the hour a
// clock change repeats, the earlier reading is taken. Any thread.
UtcTime utc_of_local(DateTime local);
// A vendor date-time (an order's, a deal's, a bar's) as UTC. Any thread.
UtcTime utc_of_vendor(DateTime vendor);

// "2026-12-08 15:44:33 UTC": this machine's local time, whole seconds, and
// its zone's abbreviation (or its offset, "+0530", where it has none). Any
// thread.
std::string local_text(UtcTime t);
// One line saying which clock the demo's times are on, e.g. "times are this
// machine's local time (UTC); the vendor's order, deal and bar times
// (Asia/Hong_Kong) are converted to it".
std::string zone_note();

}  // namespace orbrix::demo
