#pragma once

// Whether the history before a run's start serves the look-back of the bar
// windows the engine asks for at its start. The gateway makes a window from
// the answer to the request (all its bars but the newest, taken as still
// forming) and only rolls it afterwards: a request answered with no bar
// leaves the engine without a window, and so without a bar of that symbol,
// for the whole run.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/automation/object.hpp"
#include "orbrix/cqgsim/venue_report.hpp"

namespace orbrix::backtest {

// A timed-bars request as the venue answered it.
struct BarRequest {
  std::string symbol;
  bool daily = false;
  std::int64_t look_back = 0;  // completed bars asked for
  std::int64_t sent = 0;       // bars the answer holds, the newest included
};

// The timed-bars requests made of the vendor object `cel` and not removed,
// as they stand: read on its apartment in one round trip. Right after the
// engine's start, before the clock moves, `sent` is what each answer held.
std::vector<BarRequest> bar_requests(const automation::Object& cel);

// What to say of the requests the engine made at its start, the run
// starting `before` into the recorded history (the span from the minute of
// its first row): a line for each whose look-back reaches further back.
// `listed` tells a symbol the simulator lists. Throws std::invalid_argument,
// naming the symbol and what would serve it, for a request answered with no
// bar at all.
std::vector<std::string> bar_warm_up_notices(const std::vector<BarRequest>& requests,
                                             cqgsim::VenueTime start,
                                             std::chrono::nanoseconds before,
                                             const std::function<bool(std::string_view)>& listed);

}  // namespace orbrix::backtest
