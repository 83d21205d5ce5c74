#pragma once

// The gaps of a run over recorded history: a span in which nothing is due
// (no row, no answer of the venue) for longer than kGapJump is jumped, not
// stepped through one engine interval at a time (backtest.hpp states the
// rule).

#include <chrono>
#include <optional>
#include <string>

#include "orbrix/backtest/backtest.hpp"

namespace orbrix::backtest {

// A jump: the clock goes to `to` without a timer, and the engine's timer
// resumes at `resume`, the first time on its grid at or after the end of the
// gap.
struct GapJump {
  cqgsim::VenueTime to{};
  cqgsim::VenueTime resume{};
};

// The jump from `now` when nothing is due before `due` (none: before the
// end), on the grid of `start` + k x `interval`, within [`now`, `end`];
// none when the span is kGapJump or shorter. Times are the simulator's
// (within its years): the arithmetic cannot overflow.
std::optional<GapJump> gap_to_jump(cqgsim::VenueTime now, std::optional<cqgsim::VenueTime> due,
                                   cqgsim::VenueTime start, cqgsim::VenueTime end,
                                   std::chrono::milliseconds interval);

// The line that names a jump: "nothing is due from 2026-12-07T14:40:00Z to
// 2026-12-09T14:40:00Z (2 d 0 h): the clock jumps over it; the engine's timer
// resumes at 2026-12-09T14:40:00Z".
std::string gap_notice(cqgsim::VenueTime now, std::optional<cqgsim::VenueTime> due,
                       cqgsim::VenueTime end, const GapJump& jump);

// The first time on the grid `start` + k x `every` at or after `t`.
cqgsim::VenueTime next_on_grid(cqgsim::VenueTime t, cqgsim::VenueTime start,
                               std::chrono::nanoseconds every);

}  // namespace orbrix::backtest
