#include "orbrix/backtest/report.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <stdexcept>

#include "orbrix/backtest/report_time.hpp"
#include "orbrix/backtest/statistics.hpp"
#include "orbrix/backtest/trades.hpp"
#include "recorder.hpp"
#include "src/report_charts.hpp"
#include "src/report_tables.hpp"

namespace orbrix::backtest {

namespace {

void write_text(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    throw std::runtime_error(fmt::format("cannot write {}", path.string()));
  }
}

std::string hours_text(std::chrono::nanoseconds d) {
  return fmt::format("{:.2f} h", std::chrono::duration<double, std::ratio<3600>>(d).count());
}

std::string statistics_text(const BacktestResult& r, const std::vector<Statistics>& stats,
                            const ReportTime& time) {
  const Statistics& all = stats.front();
  const std::string& currency = r.account.currency;
  const auto pct = [](const std::optional<double>& v) {
    return v ? fmt::format("{:+.2f} %", *v) : std::string("n/a");
  };
  const auto num = [](const std::optional<double>& v) {
    return v ? fmt::format("{:.2f}", *v) : std::string("n/a");
  };
  std::string s = fmt::format("return    {} (annualised {})", pct(all.total_return_pct),
                              pct(all.annual_return_pct));
  if (all.sharpe || all.sortino) {
    s += fmt::format(", Sharpe {}, Sortino {} (daily returns, risk-free 0, x sqrt 252)",
                     num(all.sharpe), num(all.sortino));
  } else {
    s += ", Sharpe and Sortino not given (fewer than two days of returns, or no spread)";
  }
  s += "\n";
  if (all.max_drawdown) {
    const auto& d = *all.max_drawdown;
    s += fmt::format("drawdown  {:.2f} {} ({:.2f} %) from {}, trough {}, {} {}\n", d.amount,
                     currency, d.percent, time.text(d.start), time.text(d.trough),
                     d.recovered ? "recovered after" : "lasted",
                     hours_text(d.duration) + (d.recovered ? "" : " to the end, not recovered"));
  } else {
    s += "drawdown  none\n";
  }
  s += fmt::format(
      "trades    {} (first in, first out), win rate {}, profit factor {}, average win {}, "
      "average loss {}, expectancy {} {}; exposure {:.1f} %\n",
      all.trades, all.win_rate_pct ? fmt::format("{:.1f} %", *all.win_rate_pct) : "n/a",
      num(all.profit_factor), num(all.average_win), num(all.average_loss), num(all.expectancy),
      currency, all.exposure_pct);
  return s;
}

}  // namespace

const std::string& engine_symbol(const BacktestResult& r, const std::string& full_name) {
  const auto it = std::find_if(r.symbols.begin(), r.symbols.end(), [&](const SymbolResult& s) {
    return s.symbol == full_name && !s.name.empty();
  });
  return it == r.symbols.end() ? full_name : it->name;
}

std::string summary_text(const BacktestResult& r, std::string_view time_zone) {
  const ReportTime time(time_zone);
  std::string s;
  const auto hours = std::chrono::duration<double, std::ratio<3600>>(r.end - r.start).count();
  s += fmt::format("backtest  {} to {} ({:.2f} h simulated), {} history rows; times in {}\n",
                   time.text(r.start), time.text(r.end), hours, r.history_rows, time.name());
  std::map<std::string, std::size_t> by_state;
  for (const auto& o : r.orders) {
    ++by_state[o.last.status];
  }
  s += fmt::format("orders    {}", r.orders.size());
  for (const auto& [state, n] : by_state) {
    s += fmt::format(", {} {}", n, state);
  }
  double fees = 0;
  for (const auto& d : r.deals) {
    fees += d.commission;
  }
  const std::string& currency = r.account.currency;
  s += fmt::format("\ndeals     {}, fees {:.2f} {}, round trips {}\n", r.deals.size(), fees,
                   currency, r.round_trips);
  s += fmt::format("{:<8} {:<14} {:>9} {:>12} {:>12} {:>10} {:>12} {:>6} {:>6}\n", "symbol",
                   "contract", "position", "realized", "unrealized", "fees", "net", "deals",
                   "trips");
  double realized = 0, unrealized = 0;
  for (const auto& x : r.symbols) {
    realized += x.realized_pnl;
    unrealized += x.unrealized_pnl;
    s += fmt::format("{:<8} {:<14} {:>9} {:>12.2f} {:>12.2f} {:>10.2f} {:>12.2f} {:>6} {:>6}\n",
                     engine_symbol(r, x.symbol), x.symbol, x.position, x.realized_pnl,
                     x.unrealized_pnl, x.commissions,
                     x.realized_pnl + x.unrealized_pnl - x.commissions, x.deals, x.round_trips);
  }
  s += fmt::format("{:<8} {:<14} {:>9} {:>12.2f} {:>12.2f} {:>10.2f} {:>12.2f}   ({})\n", "all", "",
                   "", realized, unrealized, fees, realized + unrealized - fees, currency);
  const double first = r.equity.empty() ? 0 : r.equity.front().net_liquidating_value;
  s += fmt::format(
      "equity    {:.2f} {} at the start, {:.2f} {} at the end; maximum drawdown {:.2f} {}\n", first,
      currency, r.account.net_liquidating_value, currency, r.max_drawdown, currency);
  s += open_at_end_text(r);
  s += statistics_text(r, statistics(r, match_trades(r.deals, contract_terms(r.account))), time);
  return s;
}

std::string speed_text(const BacktestResult& r) {
  const double wall = std::max(r.wall_seconds, 1e-9);
  const double simulated = std::chrono::duration<double>(r.end - r.start).count();
  return fmt::format(
      "speed     {:.0f} history rows per second, {:.0f} s simulated per second "
      "({:.2f} s for the run)\n",
      static_cast<double>(r.history_rows) / wall, simulated / wall, r.wall_seconds);
}

std::vector<std::filesystem::path> write_report(const BacktestResult& result,
                                                const std::filesystem::path& dir,
                                                const ReportOptions& options) {
  const ReportTime time(options.time_zone);
  if (options.charts) {
    report::require_gnuplot(options.gnuplot);  // told before anything is written
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    throw std::runtime_error(fmt::format("cannot make {}: {}", dir.string(), ec.message()));
  }
  const auto trades = match_trades(result.deals, contract_terms(result.account));
  const std::pair<const char*, std::string> files[] = {
      {"orders.csv", orders_csv(result, time)},
      {"deals.csv", deals_csv(result, time)},
      {"balance.csv", balance_csv(result, time)},
      {"bars.csv", bars_csv(result, time)},
      {"pnl.csv", pnl_csv(result, time)},
      {"summary.txt", summary_text(result, options.time_zone)},
      {"stats.csv", stats_csv(result, statistics(result, trades), time)},
      {"trades.csv", trades_csv(result, trades, time)},
  };
  std::vector<std::filesystem::path> written;
  for (const auto& [name, text] : files) {
    write_text(dir / name, text);
    written.push_back(dir / name);
  }
  if (options.charts) {
    const auto script = chart_script(result, time);
    write_text(dir / "charts.gp", script.text);
    report::run_gnuplot(options.gnuplot, dir, "charts.gp");
    for (const auto& name : script.charts) {
      const auto png = dir / name;
      if (!std::filesystem::is_regular_file(png, ec) || std::filesystem::file_size(png, ec) == 0) {
        throw std::runtime_error(fmt::format("gnuplot did not draw {}", png.string()));
      }
      written.push_back(png);
    }
    written.push_back(dir / "charts.gp");
  }
  return written;
}

}  // namespace orbrix::backtest
