#pragma once

// What a trading run did, kept for a person to look at afterwards: its
// orders, deals, the account's balance over time and the bars of each
// symbol, written as CSV files, and a chart per symbol (its bars with its
// fills marked above, the account's P&L over time below) drawn as a PNG by
// gnuplot, run as a program with the CSV files as its input.
//
// The recorder knows nothing of how the run was driven: a live engine, a
// demo or a backtest adds rows as it sees them and writes at the end. Every
// time is UTC (ISO 8601 with "Z" in the files); the caller converts the
// engine's zone-less times. Not thread-safe: one thread adds and writes.
//
// Files (each with a header line):
//   orders.csv   order_id,symbol,type,direction,quantity,price,stop_price,status,
//                filled_quantity,average_fill_price,placed_utc,updated_utc
//   deals.csv    deal_id,order_id,symbol,direction,quantity,price,time_utc
//   balance.csv  time_utc,cash,available_cash,net_liquidating,margin,realized_pnl,
//                unrealized_pnl,pnl
//   bars.csv     symbol,start_utc,open,high,low,close,volume
//   chart_<symbol>.png, and charts.gp, the gnuplot script that drew them

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orbrix/core/balance.hpp"
#include "orbrix/core/constants.hpp"

namespace orbrix::report {

using UtcTime = std::chrono::sys_time<std::chrono::microseconds>;

struct OrderRow {
  std::string order_id{};
  std::string symbol{};
  OrderType type = OrderType::MARKET;
  Direction direction = Direction::LONG;
  double quantity = 0;
  double price = 0;
  double stop_price = 0;
  OrderStatus status = OrderStatus::UNKNOWN;
  double filled_quantity = 0;
  double average_fill_price = 0;
  std::optional<UtcTime> placed{};
  std::optional<UtcTime> updated{};
};

struct DealRow {
  std::string deal_id{};
  std::string order_id{};
  std::string symbol{};
  Direction direction = Direction::LONG;
  double quantity = 0;
  double price = 0;
  UtcTime time{};
};

struct BalanceRow {
  UtcTime time{};
  AccountBalance balance{};
};

struct BarRow {
  std::string symbol{};
  UtcTime start{};
  double open = 0;
  double high = 0;
  double low = 0;
  double close = 0;
  double volume = 0;
};

struct ChartOptions {
  // The PNG's size in pixels.
  int width = 1200;
  int height = 800;
  // The program to run: a name looked up on PATH, or a path.
  std::string gnuplot = "gnuplot";
  // Also chart_equity.png: the account's P&L over time and its drawdown
  // below the highest P&L so far (when a balance was recorded).
  bool equity_chart = false;
};

// "2026-12-08T07:44:33.250000Z".
std::string iso_utc(UtcTime t);

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string csv_field(std::string_view field);

// Throws std::runtime_error saying gnuplot is needed and which package has
// it when `program` is not an executable file (found on PATH when it has no
// slash). Any thread.
void require_gnuplot(const std::string& program = "gnuplot");

// Runs `program` (gnuplot) on the script `script`, a file in `dir`, with
// `dir` as its working folder: a script that names its data and charts by
// paths relative to its own folder draws them again wherever the folder is
// moved. Blocks while it runs. Throws std::runtime_error when the program
// cannot be run or fails (with what it wrote to its standard error).
void run_gnuplot(const std::string& program, const std::filesystem::path& dir,
                 const std::string& script);

// A text inside gnuplot's single quotes ('it''s').
std::string gnuplot_quote(std::string_view text);

// A name as part of a file name: characters other than letters, digits,
// '-', '_' and '.' become '_'.
std::string file_name_part(std::string_view name);

class Recorder {
 public:
  // A row with an id (order, deal) or key (bar: symbol and start) seen
  // before replaces the earlier one in its place: the last state wins.
  void add_order(OrderRow row);
  void add_deal(DealRow row);
  void add_balance(BalanceRow row);
  void add_bar(BarRow row);
  // A symbol to chart even when it has no bar and no fill.
  void add_symbol(std::string symbol);

  std::size_t orders() const noexcept { return orders_.size(); }
  std::size_t deals() const noexcept { return deals_.size(); }
  std::size_t balances() const noexcept { return balances_.size(); }
  std::size_t bars() const noexcept { return bars_.size(); }

  // Writes the four CSV files into `dir`, made when missing, replacing
  // files of the same names; returns their paths. Throws
  // std::runtime_error naming the file that cannot be written.
  std::vector<std::filesystem::path> write_csv(const std::filesystem::path& dir) const;
  // Draws chart_<symbol>.png for each symbol (its name through
  // file_name_part) from the CSV files write_csv wrote into `dir`, and
  // leaves charts.gp there, which names them relative to `dir`. Blocks
  // while gnuplot runs. Throws std::runtime_error when gnuplot is missing or
  // fails (with what it wrote to its standard error).
  std::vector<std::filesystem::path> draw_charts(const std::filesystem::path& dir,
                                                 const ChartOptions& options = {}) const;

 private:
  std::string chart_script(const ChartOptions& options, const std::string& symbol,
                           const std::string& png) const;
  static std::string equity_script(const ChartOptions& options, const std::string& png);

  std::vector<OrderRow> orders_;
  std::map<std::string, std::size_t> order_index_;
  std::vector<DealRow> deals_;
  std::map<std::string, std::size_t> deal_index_;
  std::vector<BalanceRow> balances_;
  std::map<std::pair<std::string, UtcTime>, BarRow> bars_;
  std::set<std::string> symbols_;
};

}  // namespace orbrix::report
