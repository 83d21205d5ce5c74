#include "src/gaps.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

namespace orbrix::backtest {

namespace {

std::string utc_text(cqgsim::VenueTime t) {
  return fmt::format("{:%Y-%m-%dT%H:%M:%S}Z", std::chrono::floor<std::chrono::seconds>(t));
}

std::string length_text(std::chrono::nanoseconds d) {
  const auto days = std::chrono::floor<std::chrono::days>(d);
  const auto hours = std::chrono::floor<std::chrono::hours>(d - days);
  if (days.count() > 0) {
    return fmt::format("{} d {} h", days.count(), hours.count());
  }
  const auto minutes = std::chrono::floor<std::chrono::minutes>(d - hours);
  return fmt::format("{} h {} min", hours.count(), minutes.count());
}

}  // namespace

cqgsim::VenueTime next_on_grid(cqgsim::VenueTime t, cqgsim::VenueTime start,
                               std::chrono::nanoseconds every) {
  if (t <= start) {
    return start;
  }
  const auto steps = (t - start + every - std::chrono::nanoseconds(1)) / every;
  return start + steps * every;
}

std::optional<GapJump> gap_to_jump(cqgsim::VenueTime now, std::optional<cqgsim::VenueTime> due,
                                   cqgsim::VenueTime start, cqgsim::VenueTime end,
                                   std::chrono::milliseconds interval) {
  const auto until = due ? std::min(*due, end) : end;
  if (until <= now || until - now <= kGapJump) {
    return std::nullopt;
  }
  const auto resume = next_on_grid(until, start, interval);
  const auto to = std::max(now, resume - std::chrono::nanoseconds(interval));
  if (to <= now) {
    return std::nullopt;  // the gap is within one interval: the step takes it
  }
  return GapJump{to, std::min(resume, end)};
}

std::string gap_notice(cqgsim::VenueTime now, std::optional<cqgsim::VenueTime> due,
                       cqgsim::VenueTime end, const GapJump& jump) {
  const bool to_the_end = !due || *due >= end;
  return fmt::format(
      "nothing is due from {} to {} ({}{}): the clock jumps over it; the engine's "
      "timer resumes at {}",
      utc_text(now), utc_text(to_the_end ? end : *due),
      length_text((to_the_end ? end : *due) - now), to_the_end ? ", the end of the run" : "",
      utc_text(jump.resume));
}

}  // namespace orbrix::backtest
