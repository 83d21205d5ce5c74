#pragma once

// The per-symbol part of a backtest's result, from what the venue did.

#include <string>
#include <vector>

#include "orbrix/backtest/backtest.hpp"
#include "orbrix/cqgsim/driver.hpp"

namespace orbrix::backtest {

// Every symbol with a history (in the order given), then every other symbol
// traded (in the order first traded), each with its figures from the final
// account, its deals, round trips and the one-minute bars of the run.
std::vector<SymbolResult> symbol_results(const BacktestResult& result, cqgsim::SimDriver& driver,
                                         const std::vector<std::string>& history_symbols);

// Each symbol's P&L in `account` (every symbol traded so far), at its time.
void add_symbol_pnl(std::vector<SymbolPnl>& out, const cqgsim::AccountReport& account);

// Times the signed position goes from open back to flat, or through flat to
// the other side, over `deals` of one symbol in order.
std::size_t round_trips(const std::vector<const Deal*>& deals);

}  // namespace orbrix::backtest
