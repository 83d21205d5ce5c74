#pragma once

// A backtest's statistics, for the whole account ("all") and per symbol.
//
// Money is in the account's currency. Returns are in % of the starting
// equity (the net liquidating value of the first equity sample). The
// annualised return compounds the total return over the run's calendar span
// (365.25 days a year); it is not given for a run shorter than a day. Sharpe and Sortino ratios come from daily returns of
// the equity curve: the equity at the end of each UTC day (its last sample),
// each day's return against the day before (the first day's against the
// starting equity), risk-free rate 0, annualised by the square root of 252;
// the Sharpe ratio divides by the sample standard deviation, the Sortino
// ratio by the downside deviation (the root mean square of the returns below
// 0, over all days). With fewer than two daily returns, or no spread, they
// are not given. The maximum drawdown is the deepest fall of the equity
// below its highest value so far, in money and in % of that high; it starts
// at the high, bottoms at the trough and lasts until the equity is back at
// the high (or the run ends).
//
// Trades are the round trips of trades.hpp. Win rate, profit factor (gross
// wins over gross losses), average win and loss, and expectancy (the mean
// P&L of a trade) come from the trades, after fees; the net P&L and fees of
// a symbol from the venue's book of it (realized, open positions marked at
// the end, fees). Exposure is the % of the run's time with a position (in
// that symbol; in any, for the whole account). The equity-curve figures
// (returns, ratios, drawdown) are the whole account's only.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "orbrix/backtest/backtest.hpp"
#include "orbrix/backtest/trades.hpp"

namespace orbrix::backtest {

struct Drawdown {
  double amount = 0;
  double percent = 0;  // of the high it fell from
  cqgsim::VenueTime start{};
  cqgsim::VenueTime trough{};
  std::chrono::nanoseconds duration{};
  bool recovered = false;
};

struct Statistics {
  std::string scope{};  // "all", or a symbol's full name
  double net_pnl = 0;
  double fees = 0;
  std::optional<double> total_return_pct{};
  std::optional<double> annual_return_pct{};
  std::optional<double> sharpe{};
  std::optional<double> sortino{};
  std::optional<Drawdown> max_drawdown{};
  std::size_t trades = 0;
  std::optional<double> win_rate_pct{};
  std::optional<double> profit_factor{};
  std::optional<double> average_win{};
  std::optional<double> average_loss{};  // negative
  std::optional<double> expectancy{};
  double exposure_pct = 0;
};

// The whole account's statistics first, then each symbol's in the result's
// order. `trades` are match_trades of the result's deals.
std::vector<Statistics> statistics(const BacktestResult& result, const std::vector<Trade>& trades);

// The daily returns the ratios are computed from, oldest first.
std::vector<double> daily_returns(const std::vector<EquityPoint>& equity);

}  // namespace orbrix::backtest
