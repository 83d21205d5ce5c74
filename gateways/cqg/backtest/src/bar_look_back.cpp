#include "src/bar_look_back.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <stdexcept>

namespace orbrix::backtest {

std::vector<std::string> bar_warm_up_notices(const std::vector<cqgsim::BarRequestReport>& requests,
                                             cqgsim::VenueTime start,
                                             std::chrono::nanoseconds before,
                                             const std::function<bool(std::string_view)>& listed) {
  std::vector<std::string> notices;
  const auto start_text =
      fmt::format("{:%Y-%m-%dT%H:%M:%S}Z", std::chrono::floor<std::chrono::seconds>(start));
  for (const auto& r : requests) {
    const char* kind = r.daily ? "daily" : "one-minute";
    const char* unit = r.daily ? "days" : "minutes";
    const auto period = r.daily ? std::chrono::nanoseconds(std::chrono::days(1))
                                : std::chrono::nanoseconds(std::chrono::minutes(1));
    // Bounded by the gateway (100,000 bars) and the history's years: the
    // product stays far within 64-bit nanoseconds.
    const auto reach = period * r.look_back;
    const std::string serve =
        r.daily ? fmt::format("start {} days or more into the history", r.look_back)
                : fmt::format("a warm-up of {} minutes or more covers it", r.look_back);
    if (r.sent == 0) {
      if (!listed(r.symbol)) {
        throw std::invalid_argument(fmt::format(
            "{}: the engine asks for {} bars of an instrument the simulator does not list: it "
            "would get none in the whole run",
            r.symbol, kind));
      }
      throw std::invalid_argument(fmt::format(
          "{}: the engine's {} bars look back {}, and no bar of it lies before the start {}: the "
          "gateway makes no bar window from an empty answer, so the engine would get no {} bar "
          "in the whole run ({})",
          r.symbol, kind, r.look_back, start_text, r.symbol, serve));
    }
    if (before < reach) {
      notices.push_back(fmt::format(
          "{}: the engine's {} bars look back {}, but the run starts {} {} into the history, at "
          "{}: its bar window starts with fewer and fills as the run goes ({})",
          r.symbol, kind, r.look_back, std::max<std::int64_t>(0, before / period), unit, start_text,
          serve));
    }
  }
  return notices;
}

}  // namespace orbrix::backtest
