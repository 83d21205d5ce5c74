#pragma once

// The CSV files of a backtest's report, as text. Each has a header line;
// times are in the report's zone (ReportTime), symbols as the engine names
// them with the vendor's full name beside; money in the account's currency.

#include <string>
#include <vector>

#include "orbrix/backtest/backtest.hpp"
#include "orbrix/backtest/report_time.hpp"
#include "orbrix/backtest/statistics.hpp"
#include "orbrix/backtest/trades.hpp"

namespace orbrix::backtest {

std::string orders_csv(const BacktestResult& result, const ReportTime& time);
std::string deals_csv(const BacktestResult& result, const ReportTime& time);
std::string bars_csv(const BacktestResult& result, const ReportTime& time);
// The account's equity curve with its drawdown.
std::string balance_csv(const BacktestResult& result, const ReportTime& time);
// Each traded symbol's P&L at each sample of the equity curve.
std::string pnl_csv(const BacktestResult& result, const ReportTime& time);
std::string stats_csv(const BacktestResult& result, const std::vector<Statistics>& stats,
                      const ReportTime& time);
std::string trades_csv(const BacktestResult& result, const std::vector<Trade>& trades,
                       const ReportTime& time);

}  // namespace orbrix::backtest
