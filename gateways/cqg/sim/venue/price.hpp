#pragma once

// Decimal prices entering the venue (order prices, recorded history) checked
// and turned into whole ticks. A price the venue cannot hold exactly is
// refused with a reason; it is never rounded to some tick, which could move
// a limit across itself or turn NaN into the lowest 64-bit number.
//
// Any thread; allocates only the text of a refusal.

#include <fmt/format.h>

#include <cmath>
#include <string>
#include <string_view>

#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// The largest price the venue takes, in ticks of its instrument (ten
// thousand times the highest futures price in ticks today). Every figure
// built from prices stays exact and far from overflow: prices convert to and
// from decimals exactly (below 2^53), a price plus the largest slippage or
// the difference of two prices fits 64 bits many times over, and price x
// quantity x tick value stays a finite double. Low enough, too, that the
// rounding in price / tick size (a few parts in 10^16 of the price) stays
// within a thousandth of a tick at the bound, so the grid check below means
// what it says for every price in range.
inline constexpr Ticks kMaxPriceTicks = 1'000'000'000'000;

// How far price / tick size may lie from a whole number and still count as on
// the grid: a millionth of a tick for ordinary prices (the decimal rounding
// of a price and of a tick size like 0.0000005 is far smaller), growing with
// the price so that the rounding of the division itself (under 7e-16 of the
// quotient) is always covered. At kMaxPriceTicks it is 0.004 of a tick.
inline double grid_tolerance(double ticks) {
  return 1e-6 + 4e-15 * std::abs(ticks);
}

// A price in whole ticks, or why it has none.
struct CheckedTicks {
  Ticks ticks = 0;
  std::string refusal;  // empty when `ticks` holds the price
  explicit operator bool() const { return refusal.empty(); }
};

// What a price must be. An order price is positive; a recorded market price
// may be zero or negative (some markets have traded below zero), only within
// the bound.
enum class PriceSign : bool { Positive, Any };

// `price` in ticks of `tick_size` (> 0), refused when it is not finite, not
// positive (PriceSign::Positive: at least one tick), beyond kMaxPriceTicks in magnitude, or off
// the tick grid. `what` names the price in the refusal: "limit price 6000.2
// is not on the tick grid of 0.25".
inline CheckedTicks checked_ticks(double price, double tick_size, std::string_view what,
                                  PriceSign sign = PriceSign::Positive) {
  if (!std::isfinite(price)) {
    return {0, fmt::format("{} {} is not a finite number", what, price)};
  }
  if (sign == PriceSign::Positive && !(price > 0)) {
    return {0, fmt::format("{} {} is not positive", what, price)};
  }
  const double ticks = price / tick_size;
  if (!(std::abs(ticks) <= static_cast<double>(kMaxPriceTicks))) {
    return {0, fmt::format("{} {} is beyond the largest price the venue takes ({} ticks of {})",
                           what, price, kMaxPriceTicks, tick_size)};
  }
  const double nearest = std::round(ticks);
  if (std::abs(ticks - nearest) > grid_tolerance(ticks)) {
    return {0, fmt::format("{} {} is not on the tick grid of {}", what, price, tick_size)};
  }
  if (sign == PriceSign::Positive && nearest < 1) {
    return {0, fmt::format("{} {} is below the smallest price of one tick ({})", what, price,
                           tick_size)};
  }
  return {static_cast<Ticks>(nearest), {}};
}

// Whether a price already in ticks is one the venue takes.
inline bool in_price_range(Ticks ticks) {
  return ticks >= -kMaxPriceTicks && ticks <= kMaxPriceTicks;
}

}  // namespace orbrix::cqgsim::venue
