#include "orbrix/backtest/report.hpp"

#include <fmt/format.h>

#include <fstream>
#include <map>
#include <stdexcept>

#include "recorder.hpp"

namespace orbrix::backtest {

namespace {

using report::UtcTime;

UtcTime utc(cqgsim::VenueTime t) { return std::chrono::floor<std::chrono::microseconds>(t); }

OrderType order_type(const std::string& type) {
  return type == "market" ? OrderType::MARKET
         : type == "limit" ? OrderType::LIMIT
                           : OrderType::STOP;
}

OrderStatus order_status(const std::string& status) {
  return status == "filled"      ? OrderStatus::FILLED
         : status == "cancelled" ? OrderStatus::CANCELLED
         : status == "rejected"  ? OrderStatus::FAILED
                                 : OrderStatus::SUBMITTED;
}

Direction direction(bool buy) { return buy ? Direction::LONG : Direction::SHORT; }

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
    s += fmt::format("{:<14} {:>9} {:>12.2f} {:>12.2f} {:>10.2f} {:>12.2f} {:>6} {:>6}\n",
                     x.symbol, x.position, x.realized_pnl, x.unrealized_pnl, x.commissions,
                     x.realized_pnl + x.unrealized_pnl - x.commissions, x.deals, x.round_trips);
  }
  s += fmt::format("{:<14} {:>9} {:>12.2f} {:>12.2f} {:>10.2f} {:>12.2f}\n", "all", "", realized,
                   unrealized, fees, realized + unrealized - fees);
  const double first = r.equity.empty() ? 0 : r.equity.front().net_liquidating_value;
  s += fmt::format("equity    {:.2f} at the start, {:.2f} at the end; maximum drawdown {:.2f}\n",
                   first, r.account.net_liquidating_value, r.max_drawdown);
  return s;
}

std::string speed_text(const BacktestResult& r) {
  const double wall = std::max(r.wall_seconds, 1e-9);
  const double simulated = std::chrono::duration<double>(r.end - r.start).count();
  return fmt::format("speed     {:.0f} history rows per second, {:.0f} s simulated per second "
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
  if (options.charts) {
    for (auto& chart : rec.draw_charts(dir, {.gnuplot = options.gnuplot, .equity_chart = true})) {
      files.push_back(std::move(chart));
    }
  }
  return files;
}

}  // namespace orbrix::backtest
