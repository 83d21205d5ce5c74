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

#include "orbrix/cqgsim/venue_report.hpp"

namespace orbrix::backtest {

// What to say of the requests the engine made at its start (the
// simulator's bar_requests() right after it, before the clock moves), the run
// starting `before` into the recorded history (the span from the minute of
// its first row): a line for each whose look-back reaches further back.
// `listed` tells a symbol the simulator lists. Throws std::invalid_argument,
// naming the symbol and what would serve it, for a request answered with no
// bar at all.
std::vector<std::string> bar_warm_up_notices(const std::vector<cqgsim::BarRequestReport>& requests,
                                             cqgsim::VenueTime start,
                                             std::chrono::nanoseconds before,
                                             const std::function<bool(std::string_view)>& listed);

}  // namespace orbrix::backtest
