#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "orbrix/cqgsim/fill_model.hpp"

namespace orbrix::cqgsim {

// The years the simulator works in: its clock counts nanoseconds in 64 bits,
// which end in 2262, and a session started at the latest supported time
// still has sixty years to run. A time outside them (a start, a history's
// row) is refused.
inline constexpr int kFirstYear = 1970;
inline constexpr int kLastYear = 2199;

// A recorded history to replay: a CSV file (see the simulator's README) for
// the instrument `symbol` names (short, dated in any month, or full name),
// or, with no symbol, a file of several instruments with a symbol column.
struct HistorySource {
  std::string symbol;
  std::string path;

  friend bool operator==(const HistorySource&, const HistorySource&) = default;
};

// The venue's start-up configuration, read once when the simulator starts
// (Startup): the same value gives the same market.
struct SimConfig {
  // The master seed of the generated market.
  std::uint64_t seed = 1;
  // The time the venue starts at. Unset: the wall clock's time, or with a
  // recorded history the whole minute at the middle of the first history,
  // so its first half is there to look back on. Within the years kFirstYear
  // to kLastYear.
  std::optional<std::chrono::system_clock::time_point> start_time{};
  // With histories and no start time: start this long after the minute of
  // the earliest record of any history instead (a backtest's start: what
  // comes before is the past a bar request looks back on).
  std::optional<std::chrono::minutes> start_after_first_record{};
  // The mean time between two market events of an instrument; 1 ms to 1 h.
  std::chrono::milliseconds mean_event_interval{300};
  // How orders fill.
  FillModel fill_model{};
  // Finished orders kept in Orders for look-up by id; the oldest beyond it
  // are forgotten (ItemByGuid then raises an error naming the id). At most
  // 10,000,000.
  std::size_t finished_orders_kept = 10'000;
  // Larger orders are rejected; 1 to 1,000,000,000.
  std::int64_t max_order_quantity = 1'000'000;
  // How long a placed order is in transit (the vendor acknowledges it at
  // once) before the venue works it at the prices of then; 0 to 1 hour.
  std::chrono::milliseconds order_latency{0};
  // The simulator's clock, which every delayed answer is due on. False: it
  // follows the wall clock. True: it moves only when the driver advances it.
  bool manual_clock = false;
  // Recorded histories; a later one for the same instrument replaces an
  // earlier one.
  std::vector<HistorySource> histories{};
  // A backtest's market: only the instruments of the histories trade. A
  // request for another (NewInstrument, RequestTimedBars, RequestTicks)
  // raises, naming it and the reason, instead of serving the generated
  // market, which is for live sessions.
  bool history_only = false;

  friend bool operator==(const SimConfig&, const SimConfig&) = default;
};

}  // namespace orbrix::cqgsim
