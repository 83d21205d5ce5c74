#pragma once

// Realized profit and loss from a run's fills, per symbol, on the average
// cost of the open position: adding to a position moves its average price,
// reducing it realizes (exit - average) x closed quantity, a fill through
// zero closes the old side and opens the new one at the fill's price.
// Amounts are in price points times contracts: the instrument's point
// value is not known to the engine.

#include <map>
#include <string>
#include <vector>

#include "orbrix/core/constants.hpp"

namespace orbrix::report {

struct Fill {
  std::string symbol;
  Direction side = Direction::LONG;  // LONG buys, SHORT sells
  double quantity = 0;               // above 0
  double price = 0;
};

struct SymbolPnl {
  double realized = 0;       // price points x contracts
  double position = 0;       // signed: above 0 long
  double average_price = 0;  // of the open position; 0 when flat
};

// Fills in the order they happened. Throws std::invalid_argument for a
// quantity that is not above 0 or a price that is not finite.
std::map<std::string, SymbolPnl> realized_pnl(const std::vector<Fill>& fills);

}  // namespace orbrix::report
