#pragma once

// A backtest's deals as round trips ("trades"), matched first in, first out
// per symbol: a closing deal closes the oldest open lots first; a deal that
// closes part of a lot splits it, so a partial close is a trade of its own;
// a deal that crosses through flat closes every open lot and opens the rest
// on the other side. A deal's commission is shared by its quantity, so a
// trade carries the part of its entry's and its exit's fees that fall on its
// contracts. Lots still open at the end are not trades (the summary lists
// the open positions).

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "orbrix/backtest/backtest.hpp"

namespace orbrix::backtest {

struct Trade {
  std::string symbol{};  // full name
  bool long_side = true;
  std::int64_t quantity = 0;
  cqgsim::VenueTime entry_time{};
  double entry_price = 0;
  cqgsim::VenueTime exit_time{};
  double exit_price = 0;
  double pnl = 0;   // in the account's currency, after `fees`
  double fees = 0;  // in the account's currency
};

// How a symbol's price differences become money.
struct ContractTerms {
  double tick_size = 0;   // price units per tick
  double tick_value = 0;  // account currency per tick per contract
};

// The trades of `deals` (in execution order), in the order they closed.
// Throws std::invalid_argument for a deal of a symbol `terms` lacks, or
// with terms that are not positive.
std::vector<Trade> match_trades(const std::vector<Deal>& deals,
                                const std::map<std::string, ContractTerms, std::less<>>& terms);

// The terms of every symbol the account traded, from its positions.
std::map<std::string, ContractTerms, std::less<>> contract_terms(
    const cqgsim::AccountReport& account);

}  // namespace orbrix::backtest
