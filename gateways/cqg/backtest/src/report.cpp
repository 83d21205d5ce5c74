#include "orbrix/backtest/report.hpp"

#include <fmt/format.h>

#include <fstream>
#include <map>
#include <stdexcept>

#include "orbrix/backtest/statistics.hpp"
#include "orbrix/backtest/trades.hpp"
#include "recorder.hpp"

namespace orbrix::backtest {

namespace {

using report::UtcTime;

UtcTime utc(cqgsim::VenueTime t) {
  return std::chrono::floor<std::chrono::microseconds>(t);
}

OrderType order_type(const std::string& type) {
  return type == "market"  ? OrderType::MARKET
         : type == "limit" ? OrderType::LIMIT
                           : OrderType::STOP;
}

OrderStatus order_status(const std::string& status) {
  return status == "filled"      ? OrderStatus::FILLED
         : status == "cancelled" ? OrderStatus::CANCELLED
         : status == "rejected"  ? OrderStatus::FAILED
                                 : OrderStatus::SUBMITTED;
}

Direction direction(bool buy) {
  return buy ? Direction::LONG : Direction::SHORT;
}

report::Recorder recorder_of(const BacktestResult& r) {
  report::Recorder rec;
  for (const auto& s : r.symbols) {
    rec.add_symbol(s.symbol);
    for (const auto& b : s.bars) {
      rec.add_bar({.symbol = s.symbol,
                   .start = utc(b.start),
                   .open = b.open,
                   .high = b.high,
                   .low = b.low,
                   .close = b.close,
                   .volume = static_cast<double>(b.volume)});
    }
  }
  for (const auto& o : r.orders) {
    const auto& l = o.last;
    rec.add_order({.order_id = l.order_id,
                   .symbol = l.symbol,
                   .type = order_type(l.type),
                   .direction = direction(l.buy),
                   .quantity = static_cast<double>(l.quantity),
                   .price = l.limit_price.value_or(0),
                   .stop_price = l.stop_price.value_or(0),
                   .status = order_status(l.status),
                   .filled_quantity = static_cast<double>(l.filled_quantity),
                   .average_fill_price = l.average_fill_price,
                   .placed = utc(o.placed),
                   .updated = utc(l.time)});
  }
  for (const auto& d : r.deals) {
    rec.add_deal({.deal_id = d.deal_id,
                  .order_id = d.order_id,
                  .symbol = d.symbol,
                  .direction = direction(d.buy),
                  .quantity = static_cast<double>(d.quantity),
                  .price = d.price,
                  .time = utc(d.time)});
  }
  for (const auto& e : r.equity) {
    AccountBalance b;
    b.cash = e.balance;
    b.available_cash = e.balance;
    b.net_cash_power = e.net_liquidating_value;
    b.realized_pnl = e.realized_pnl;
    b.unrealized_pnl = e.open_trade_equity;
    rec.add_balance({.time = utc(e.time), .balance = b});
  }
  return rec;
}

void write_text(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    throw std::runtime_error(fmt::format("cannot write {}", path.string()));
  }
}

// An optional figure as a CSV field: empty when not given.
std::string field(const std::optional<double>& v, const char* format) {
  return v ? fmt::format(fmt::runtime(format), *v) : std::string();
}

std::string seconds(std::chrono::nanoseconds d) {
  return fmt::format("{:.0f}", std::chrono::duration<double>(d).count());
}

std::string hours_text(std::chrono::nanoseconds d) {
  return fmt::format("{:.2f} h", std::chrono::duration<double, std::ratio<3600>>(d).count());
}

std::string statistics_text(const BacktestResult& r, const std::vector<Statistics>& stats) {
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
                     currency, d.percent, report::iso_utc(utc(d.start)),
                     report::iso_utc(utc(d.trough)), d.recovered ? "recovered after" : "lasted",
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

std::string stats_csv(const BacktestResult& r, const std::vector<Statistics>& stats) {
  std::string out =
      "scope,currency,net_pnl,fees,total_return_pct,annual_return_pct,sharpe,sortino,"
      "max_drawdown,max_drawdown_pct,drawdown_start,drawdown_trough,drawdown_duration_s,"
      "drawdown_recovered,trades,win_rate_pct,profit_factor,average_win,average_loss,expectancy,"
      "exposure_pct\n";
  for (const auto& x : stats) {
    const auto& d = x.max_drawdown;
    out += fmt::format(
        "{},{},{:.2f},{:.2f},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{:.4f}\n",
        report::csv_field(x.scope), r.account.currency, x.net_pnl, x.fees,
        field(x.total_return_pct, "{:.4f}"), field(x.annual_return_pct, "{:.4f}"),
        field(x.sharpe, "{:.4f}"), field(x.sortino, "{:.4f}"),
        d ? fmt::format("{:.2f}", d->amount) : "", d ? fmt::format("{:.4f}", d->percent) : "",
        d ? report::iso_utc(utc(d->start)) : "", d ? report::iso_utc(utc(d->trough)) : "",
        d ? seconds(d->duration) : "", d ? (d->recovered ? "yes" : "no") : "", x.trades,
        field(x.win_rate_pct, "{:.4f}"), field(x.profit_factor, "{:.4f}"),
        field(x.average_win, "{:.2f}"), field(x.average_loss, "{:.2f}"),
        field(x.expectancy, "{:.2f}"), x.exposure_pct);
  }
  return out;
}

std::string trades_csv(const std::vector<Trade>& trades) {
  std::string out =
      "symbol,side,quantity,entry_time,entry_price,exit_time,exit_price,pnl,fees,duration_s\n";
  for (const auto& t : trades) {
    out +=
        fmt::format("{},{},{},{},{},{},{},{:.2f},{:.2f},{}\n", report::csv_field(t.symbol),
                    t.long_side ? "long" : "short", t.quantity, report::iso_utc(utc(t.entry_time)),
                    t.entry_price, report::iso_utc(utc(t.exit_time)), t.exit_price, t.pnl, t.fees,
                    seconds(t.exit_time - t.entry_time));
  }
  return out;
}

}  // namespace

std::string summary_text(const BacktestResult& r) {
  std::string s;
  const auto hours = std::chrono::duration<double, std::ratio<3600>>(r.end - r.start).count();
  s += fmt::format("backtest  {} to {} ({:.2f} h simulated), {} history rows\n",
                   report::iso_utc(utc(r.start)), report::iso_utc(utc(r.end)), hours,
                   r.history_rows);
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
  s += fmt::format("\ndeals     {}, fees {:.2f}, round trips {}\n", r.deals.size(), fees,
                   r.round_trips);
  s += fmt::format("{:<14} {:>9} {:>12} {:>12} {:>10} {:>12} {:>6} {:>6}\n", "symbol", "position",
                   "realized", "unrealized", "fees", "net", "deals", "trips");
  double realized = 0, unrealized = 0;
  for (const auto& x : r.symbols) {
    realized += x.realized_pnl;
    unrealized += x.unrealized_pnl;
    s += fmt::format("{:<14} {:>9} {:>12.2f} {:>12.2f} {:>10.2f} {:>12.2f} {:>6} {:>6}\n", x.symbol,
                     x.position, x.realized_pnl, x.unrealized_pnl, x.commissions,
                     x.realized_pnl + x.unrealized_pnl - x.commissions, x.deals, x.round_trips);
  }
  s += fmt::format("{:<14} {:>9} {:>12.2f} {:>12.2f} {:>10.2f} {:>12.2f}\n", "all", "", realized,
                   unrealized, fees, realized + unrealized - fees);
  const double first = r.equity.empty() ? 0 : r.equity.front().net_liquidating_value;
  s += fmt::format(
      "equity    {:.2f} at the start, {:.2f} at the end ({}); maximum drawdown {:.2f}\n", first,
      r.account.net_liquidating_value, r.account.currency, r.max_drawdown);
  s += open_at_end_text(r);
  s += statistics_text(r, statistics(r, match_trades(r.deals, contract_terms(r.account))));
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
  if (options.charts) {
    report::require_gnuplot(options.gnuplot);  // told before anything is written
  }
  const auto rec = recorder_of(result);
  auto files = rec.write_csv(dir);
  const auto summary = dir / "summary.txt";
  write_text(summary, summary_text(result));
  files.push_back(summary);
  const auto trades = match_trades(result.deals, contract_terms(result.account));
  const auto stats_file = dir / "stats.csv";
  write_text(stats_file, stats_csv(result, statistics(result, trades)));
  files.push_back(stats_file);
  const auto trades_file = dir / "trades.csv";
  write_text(trades_file, trades_csv(trades));
  files.push_back(trades_file);
  if (options.charts) {
    for (auto& chart : rec.draw_charts(dir, {.gnuplot = options.gnuplot, .equity_chart = true})) {
      files.push_back(std::move(chart));
    }
  }
  return files;
}

}  // namespace orbrix::backtest
