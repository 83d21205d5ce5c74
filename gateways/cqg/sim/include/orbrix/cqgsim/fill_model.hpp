#pragma once

#include <cstdint>

namespace orbrix::cqgsim {

// The price an open position is marked at.
enum class MarkPrice : std::uint8_t {
  last_trade,  // the last trade seen; the mid until a trade has printed
  mid,         // the bid/ask mid; the last trade while a side is missing
  side,        // where the position would close: bid for a long, ask for a short
};

// How the paper venue fills orders, chosen by configuration (read when the
// simulator starts). The defaults fill at the touch, whole, for free.
struct FillModel {
  // Each fill takes at most the displayed size of the quote it fills on,
  // shared in submission order by the orders filling on it (partial fills).
  bool partial_fills = false;
  // Ticks against the trader on fills that take the touch; a limit never
  // fills worse than its price. 0 to 1,000,000.
  std::int64_t slippage_ticks = 0;
  // Per contract per fill, in the account's currency. 0 to 1,000,000.
  double commission_per_contract = 0;
  MarkPrice mark = MarkPrice::last_trade;
  // A market order (or a triggered stop) with no quote on the side it needs
  // is rejected instead of waiting for one.
  bool reject_market_without_quote = false;

  friend bool operator==(const FillModel&, const FillModel&) = default;
};

}  // namespace orbrix::cqgsim
