#include "src/progress_meter.hpp"

#include <algorithm>

namespace orbrix::backtest {

BacktestProgress progress_of(cqgsim::VenueTime start, cqgsim::VenueTime end, cqgsim::VenueTime now,
                             std::size_t rows, std::chrono::nanoseconds wall) {
  using Seconds = std::chrono::duration<double>;
  BacktestProgress p{.rows = rows, .now = now, .start = start, .end = end};
  const double span = Seconds(end - start).count();
  p.fraction = span > 0 ? std::clamp(Seconds(now - start).count() / span, 0.0, 1.0) : 1.0;
  p.wall_seconds = Seconds(wall).count();
  p.rows_per_second = p.wall_seconds > 0 ? static_cast<double>(rows) / p.wall_seconds : 0;
  if (p.fraction > 0) {
    p.seconds_left = p.wall_seconds * (1 - p.fraction) / p.fraction;
  }
  return p;
}

ProgressMeter::ProgressMeter(const BacktestOptions& options, Clock::time_point began)
    : tell_(options.progress),
      every_(options.progress_every),
      began_(began),
      next_(began + options.progress_every) {}

void ProgressMeter::tell(cqgsim::VenueTime start, cqgsim::VenueTime end, cqgsim::VenueTime now,
                         const std::function<std::size_t()>& rows) {
  if (!tell_) {
    return;
  }
  const auto wall = Clock::now();
  tell_(progress_of(start, end, now, rows(), wall - began_));
  next_ = Clock::now() + every_;
}

}  // namespace orbrix::backtest
