#pragma once

// Types shared by every part of the simulated venue. The venue is plain C++:
// it knows nothing of the automation layer or of the vendor's objects, and it
// never reads the wall clock. Whoever owns it (the simulator's object model,
// or a test) tells it what time it is.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace orbrix::cqgsim::venue {

// A price as a whole number of the instrument's tick size. Prices stay in
// ticks inside the venue and are turned into decimals only at its edge.
using Ticks = std::int64_t;

// Venue time: UTC, nanoseconds since the Unix epoch.
using Duration = std::chrono::nanoseconds;
using Timestamp = std::chrono::sys_time<Duration>;

// The times the venue works with: from 1970 up to, not including, 2200.
// Nanoseconds in 64 bits end in April 2262, so a session starting at the
// latest supported time still runs for more than 60 years, and the span of
// any two supported times (under 230 years) fits too. History files and the
// start time are refused outside it.
inline constexpr Timestamp kEarliestTime{};
inline constexpr Timestamp kTimeLimit{std::chrono::sys_days{std::chrono::year{2200} / 1 / 1}};
inline constexpr int kFirstYear = 1970;
inline constexpr int kLastYear = 2199;
inline constexpr bool in_time_range(Timestamp t) {
  return t >= kEarliestTime && t < kTimeLimit;
}
// The latest time a clock is moved to: an answer delayed by up to a year
// (the longest a delay may be) from there still fits in 64-bit nanoseconds.
inline constexpr Timestamp kClockEnd{std::chrono::sys_days{std::chrono::year{2261} / 1 / 1}};

// Index of an instrument in the venue's catalogue.
using InstrumentId = std::uint32_t;

enum class MarketKind : std::uint8_t { EquityIndex, Rates, FX, Metals, Energy };

// What the venue knows about one tradable contract.
struct InstrumentSpec {
  std::string symbol;       // the short symbol users subscribe with: "EP"
  std::string full_name;    // the dated contract in the vendor's dotted style: "F.US.EPZ26"
  std::string description;  // "E-mini S&P 500"
  MarketKind kind = MarketKind::EquityIndex;
  double tick_size = 0.25;   // price units per tick
  double tick_value = 12.5;  // account currency per tick per contract
  std::string currency = "USD";
  Ticks initial_price = 0;  // where the random walk starts
  double annual_volatility = 0.2;
  Ticks spread_ticks = 1;         // usual distance between bid and ask
  double maintenance_margin = 0;  // per contract, account currency
};

// Price in decimals from ticks, and back (rounded to the nearest tick). The
// rounding is for the venue's own figures (a listed price level); a price
// from outside goes through checked_ticks (price.hpp) instead.
inline double to_price(Ticks ticks, double tick_size) {
  return static_cast<double>(ticks) * tick_size;
}
inline Ticks to_ticks(double price, double tick_size) {
  return static_cast<Ticks>(std::llround(price / tick_size));
}

// a + b, held at the largest value instead of overflowing: volumes summed
// over a long session or a large recording.
inline std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    return b > 0 ? INT64_MAX : INT64_MIN;
  }
  return sum;
}

// The level-1 state of one instrument after a market event: what matching
// reads. `trade` is set when the event printed a trade.
struct TopOfBook {
  std::optional<Ticks> bid;
  std::optional<Ticks> ask;
  std::int64_t bid_size = 0;
  std::int64_t ask_size = 0;
  struct Trade {
    Ticks price = 0;
    std::int64_t size = 0;
  };
  std::optional<Trade> trade;
};

}  // namespace orbrix::cqgsim::venue
