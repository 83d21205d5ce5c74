#pragma once

// Tells a run's progress about once per interval of wall time.

#include <chrono>
#include <cstddef>
#include <functional>

#include "orbrix/backtest/backtest.hpp"

namespace orbrix::backtest {

// What a run has done so far, given its simulated span, the simulated time
// reached, the rows replayed and the wall time since it began.
BacktestProgress progress_of(cqgsim::VenueTime start, cqgsim::VenueTime end, cqgsim::VenueTime now,
                             std::size_t rows, std::chrono::nanoseconds wall);

class ProgressMeter {
 public:
  using Clock = std::chrono::steady_clock;

  // Tells `options.progress` (when set) every `options.progress_every`;
  // the run began at `began`.
  ProgressMeter(const BacktestOptions& options, Clock::time_point began);

  // Whether a report is due; cheap, asked once per step.
  bool due() const { return tell_ && Clock::now() >= next_; }
  // Reports the run at `now` of [start, end); `rows` counts the rows.
  void tell(cqgsim::VenueTime start, cqgsim::VenueTime end, cqgsim::VenueTime now,
            const std::function<std::size_t()>& rows);

 private:
  const std::function<void(const BacktestProgress&)>& tell_;
  std::chrono::milliseconds every_;
  Clock::time_point began_;
  Clock::time_point next_;
};

}  // namespace orbrix::backtest
