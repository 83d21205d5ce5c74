#pragma once

// A backtest's report, written into a folder:
//   orders.csv, deals.csv, bars.csv   as the demo's recorder writes them
//   balance.csv                       the equity over time: balance, net
//                                     liquidating value, realized and
//                                     unrealized P&L, sampled on the
//                                     simulated clock
//   summary.txt                       orders by final state, deals, P&L per
//                                     symbol and in all, fees, round trips,
//                                     maximum drawdown
//   chart_<symbol>.png, chart_equity.png, charts.gp   drawn by gnuplot
// Everything but the charts is the same, byte for byte, for the same run;
// the run's speed (which is not) is told apart, by speed_text.

#include <filesystem>
#include <string>
#include <vector>

#include "orbrix/backtest/backtest.hpp"

namespace orbrix::backtest {

struct ReportOptions {
  bool charts = true;
  // The program drawing the charts.
  std::string gnuplot = "gnuplot";
};

std::string summary_text(const BacktestResult& result);
// The part of the summary that lists what the data's end left open: each
// open position (side, quantity, average price, the price it is marked to
// and its open P&L) and each working order; one line saying so when
// nothing is.
std::string open_at_end_text(const BacktestResult& result);
// History rows per second, simulated time per wall second.
std::string speed_text(const BacktestResult& result);

// Writes the report; returns the paths written. Throws std::runtime_error
// naming a file that cannot be written, or when gnuplot is missing or fails.
std::vector<std::filesystem::path> write_report(const BacktestResult& result,
                                                const std::filesystem::path& dir,
                                                const ReportOptions& options = {});

}  // namespace orbrix::backtest
