#pragma once

// Switches of the paper broker. The defaults are the usual paper venue:
// whole fills at the touch, no slippage, no commission, marks at the last
// trade.
//
// Every number has a bound, so that no figure the broker computes from it
// can overflow: with prices within kMaxPriceTicks, a price plus the largest
// slippage fits 64 bits many times over, and price x quantity x tick value
// and commissions stay finite doubles.

#include <cstddef>
#include <cstdint>

#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// Where open positions are marked.
enum class MarkSource : std::uint8_t {
  LastTrade,  // the last trade seen; the mid until a trade has printed
  Mid,        // the bid/ask mid; the last trade while a side is missing
  Side,       // where the position would close: bid for a long, ask for a short
};

struct TradingOptions {
  // An accepted order goes Working in the same call. Off: it stays
  // InTransit until the owner calls accept_order or reject_order (to delay
  // or drop an answer).
  bool accept_on_submit = true;
  // A market order (or a triggered stop) with no quote on the side it
  // needs is rejected instead of waiting for one.
  bool reject_market_without_quote = false;
  // Each fill takes at most the displayed size (bid_size / ask_size) of the
  // update, shared in submission order by the orders filling on it.
  bool cap_fill_at_displayed_size = false;
  // Ticks against the trader on fills that take the touch; a limit never
  // fills worse than its price. 0 to kMaxSlippageTicks.
  Ticks slippage_ticks = 0;
  // Per contract per fill, in the account's currency. 0 to kMaxCommission.
  double commission_per_contract = 0;
  MarkSource mark = MarkSource::LastTrade;
  // Larger orders are rejected. 1 to kMaxOrderQuantity.
  std::int64_t max_order_quantity = 1'000'000;
  // Finished orders (filled, cancelled, rejected) kept for look-up by id;
  // beyond it the oldest finished one is forgotten, so a long session's
  // memory stays flat. 0 to kMaxFinishedOrdersKept.
  std::size_t finished_orders_kept = 10'000;
};

inline constexpr Ticks kMaxSlippageTicks = 1'000'000;
inline constexpr double kMaxCommission = 1'000'000.0;
inline constexpr std::int64_t kMaxOrderQuantity = 1'000'000'000;
inline constexpr std::size_t kMaxFinishedOrdersKept = 10'000'000;

// Throws std::invalid_argument naming the first option outside its range
// (a commission that is not a number is outside it). Any thread.
void check_options(const TradingOptions& options);

}  // namespace orbrix::cqgsim::venue
