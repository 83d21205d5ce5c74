#pragma once

// A net position of one account in one instrument, and the arithmetic that
// books fills into it.

#include <cstdint>

#include "venue/trading/account.hpp"
#include "venue/trading/order.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

enum class PositionSide : std::uint8_t { Flat, Long, Short };

struct Position {
  AccountId account{};
  InstrumentId instrument{};
  std::int64_t quantity = 0;  // signed: long above zero, short below
  double average_price = 0;   // ticks, of the open quantity; 0 when flat
  double realized_pnl = 0;    // account currency, commissions not included
  double commissions = 0;     // account currency
  Timestamp opened_at{};      // the first fill
  Timestamp updated_at{};     // the latest fill

  PositionSide side() const {
    return quantity > 0 ? PositionSide::Long
                        : (quantity < 0 ? PositionSide::Short : PositionSide::Flat);
  }
};

// Books one fill of `quantity` (> 0) at `price` into `position` and returns
// the P&L it realised. Adding keeps a weighted average; reducing keeps the
// average; reaching zero resets it; a fill that flips the side closes the old
// side first and opens the rest at the fill price. `tick_value` is the
// account-currency value of one tick on one contract. Any thread; no
// allocation.
double book_fill(Position& position, Side side, std::int64_t quantity, Ticks price,
                 double tick_value);

// Open trade equity of `position` marked at `mark` (ticks).
inline double open_trade_equity(const Position& position, double mark, double tick_value) {
  if (position.quantity == 0) {
    return 0.0;
  }
  return (mark - position.average_price) * static_cast<double>(position.quantity) * tick_value;
}

}  // namespace orbrix::cqgsim::venue
