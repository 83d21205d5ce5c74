#pragma once

// The gnuplot script that draws a backtest's charts from the report's CSV
// files: per symbol, its one-minute bars with its own fills above and its
// own P&L below; and the account's equity with its drawdown below. Every
// chart has the same time axis (the run's span, in the report's zone) and
// says the zone and the account's currency on its axes (the axis is the
// zone's wall clock: where clocks go back, that hour is drawn over itself;
// a pause the run jumped is a straight line). The script names
// its data and charts by file name only: run in the report's folder, it
// draws them again wherever the folder is.

#include <string>
#include <vector>

#include "orbrix/backtest/backtest.hpp"
#include "orbrix/backtest/report_time.hpp"

namespace orbrix::backtest {

struct ChartScript {
  std::string text{};
  std::vector<std::string> charts{};  // the PNG files it draws, by name
};

ChartScript chart_script(const BacktestResult& result, const ReportTime& time, int width = 1200,
                         int height = 800);

}  // namespace orbrix::backtest
