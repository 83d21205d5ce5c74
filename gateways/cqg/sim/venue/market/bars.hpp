#pragma once

// Bars built from an instrument's trades. A period in which nothing traded
// has no bar. Prices in ticks.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// Most bars one request returns; larger counts are cut to it. The live
// series keep as many completed bars, no more.
inline constexpr std::size_t kMaxBarsPerRequest = 100000;

// One-minute bars, and daily bars over the UTC calendar day.
enum class BarPeriod : std::uint8_t { OneMinute, Daily };
inline constexpr std::size_t kBarPeriodCount = 2;

Duration length_of(BarPeriod period);
std::string_view to_string(BarPeriod period);
// Start of the period containing `t`.
Timestamp period_start(BarPeriod period, Timestamp t);

struct Bar {
  Timestamp start{};  // the bar covers [start, start + length_of(period))
  Ticks open = 0;
  Ticks high = 0;
  Ticks low = 0;
  Ticks close = 0;
  std::int64_t volume = 0;
  std::int64_t tick_volume = 0;  // number of trades
  // Equal to volume: the venue has one contract per commodity.
  std::int64_t contract_volume = 0;
  std::int64_t commodity_volume = 0;
  friend bool operator==(const Bar&, const Bar&) = default;
};

// What a request for bars is answered with: `completed` oldest first, then
// the bar now forming, if anything traded in the current period yet.
struct BarSeries {
  std::vector<Bar> completed;
  std::optional<Bar> forming;
};

// A live change of a bar series, carried by the market event whose trade
// caused it.
struct BarUpdate {
  enum class Kind : std::uint8_t {
    Updated,  // a trade changed the forming bar
    Added,    // the first trade of a new period opened a bar
  };
  Kind kind = Kind::Updated;
  BarPeriod period = BarPeriod::OneMinute;
  Bar bar;                      // the forming bar after the change
  std::optional<Bar> finished;  // Added: the bar it succeeded (none at the very first bar)
};

}  // namespace orbrix::cqgsim::venue
