#pragma once

// A backtest's report, written into a folder. Times are in one zone, named
// in every file: UTC (ISO 8601 ending in "Z", time columns named *_utc) or
// a zone the user names (ISO 8601 with the offset, columns *_local; see
// report_time.hpp). Symbols are as the engine names them ("EP"), with the
// vendor's full name ("F.US.EPZ26") in the column beside. Money is in the
// account's currency, which stats.csv and the summary name.
//   orders.csv    order_id,symbol,full_name,type,side,quantity,limit_price,
//                 stop_price,status,filled_quantity,average_fill_price,
//                 reject_reason,placed_*,updated_*   (each order's last state)
//   deals.csv     deal_id,order_id,symbol,full_name,side,quantity,price,
//                 commission,time_*
//   bars.csv      symbol,full_name,start_*,open,high,low,close,volume
//                 (the run's one-minute bars)
//   balance.csv   time_*,balance,net_liquidating_value,realized_pnl,
//                 unrealized_pnl,pnl,drawdown   (the equity curve, sampled
//                 on the simulated clock; realized after fees)
//   pnl.csv       time_*,symbol,full_name,realized_pnl,unrealized_pnl,fees,
//                 net_pnl   (each traded symbol's at each sample, a symbol's
//                 rows together)
//   stats.csv     one row per scope ("all", then each symbol): statistics.hpp
//   trades.csv    the round trips of trades.hpp, entry and exit
//   summary.txt   summary_text
//   chart_<symbol>.png, chart_equity.png, charts.gp   drawn by gnuplot; the
//                 script names its files relative to the folder, so
//                 `gnuplot charts.gp` run in the folder redraws them
//                 wherever the folder is moved
// Everything but the charts is the same, byte for byte, for the same run
// and zone; the run's speed (which is not) is told apart, by speed_text.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/backtest/backtest.hpp"

namespace orbrix::backtest {

// What write_report writes besides the CSV files and the summary.
struct ReportOptions {
  bool charts = true;  // draw the charts with gnuplot
  // The program drawing the charts.
  std::string gnuplot = "gnuplot";
  // The zone of the report's times: empty or "UTC", or an IANA name.
  std::string time_zone{};
};

// The run's span, orders by final state, deals, P&L per symbol and in all,
// fees, round trips and the statistics, times in `time_zone` (as
// ReportOptions). Throws std::invalid_argument for an unknown zone.
std::string summary_text(const BacktestResult& result, std::string_view time_zone = {});
// The part of the summary that lists what the data's end left open: each
// open position (side, quantity, average price, the price it is marked to
// and its open P&L) and each working order; one line saying so when
// nothing is.
std::string open_at_end_text(const BacktestResult& result);
// History rows per second, simulated time per wall second.
std::string speed_text(const BacktestResult& result);

// The engine's name of a symbol the result names by its full name; the
// full name when the result does not list the symbol.
const std::string& engine_symbol(const BacktestResult& result, const std::string& full_name);

// Writes the report; returns the paths written. Throws std::invalid_argument
// for an unknown zone, std::runtime_error naming a file that cannot be
// written, or when gnuplot is missing (said before anything is written) or
// fails.
std::vector<std::filesystem::path> write_report(const BacktestResult& result,
                                                const std::filesystem::path& dir,
                                                const ReportOptions& options = {});

}  // namespace orbrix::backtest
