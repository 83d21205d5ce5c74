#include "src/report_tables.hpp"

#include <fmt/format.h>

#include "orbrix/backtest/report.hpp"
#include "recorder.hpp"

namespace orbrix::backtest {

namespace {

using report::csv_field;

// An optional figure as a CSV field: empty when not given.
std::string field(const std::optional<double>& v, const char* format) {
  return v ? fmt::format(fmt::runtime(format), *v) : std::string();
}

std::string seconds(std::chrono::nanoseconds d) {
  return fmt::format("{:.0f}", std::chrono::duration<double>(d).count());
}

// "EP,F.US.EPZ26": the engine's name and the full name beside it.
std::string names(const BacktestResult& r, const std::string& full_name) {
  return csv_field(engine_symbol(r, full_name)) + "," + csv_field(full_name);
}

const char* side(bool buy) {
  return buy ? "buy" : "sell";
}

}  // namespace

std::string orders_csv(const BacktestResult& r, const ReportTime& time) {
  const auto sfx = time.column_suffix();
  std::string out = fmt::format(
      "order_id,symbol,full_name,type,side,quantity,limit_price,stop_price,status,"
      "filled_quantity,average_fill_price,reject_reason,placed_{},updated_{}\n",
      sfx, sfx);
  for (const auto& o : r.orders) {
    const auto& l = o.last;
    out += fmt::format("{},{},{},{},{},{},{},{},{},{},{},{},{}\n", csv_field(l.order_id),
                       names(r, l.symbol), csv_field(l.type), side(l.buy), l.quantity,
                       field(l.limit_price, "{}"), field(l.stop_price, "{}"), csv_field(l.status),
                       l.filled_quantity, l.average_fill_price, csv_field(l.reject_reason),
                       time.text(o.placed), time.text(l.time));
  }
  return out;
}

std::string deals_csv(const BacktestResult& r, const ReportTime& time) {
  std::string out =
      fmt::format("deal_id,order_id,symbol,full_name,side,quantity,price,commission,time_{}\n",
                  time.column_suffix());
  for (const auto& d : r.deals) {
    out += fmt::format("{},{},{},{},{},{},{},{}\n", csv_field(d.deal_id), csv_field(d.order_id),
                       names(r, d.symbol), side(d.buy), d.quantity, d.price, d.commission,
                       time.text(d.time));
  }
  return out;
}

std::string bars_csv(const BacktestResult& r, const ReportTime& time) {
  std::string out =
      fmt::format("symbol,full_name,start_{},open,high,low,close,volume\n", time.column_suffix());
  for (const auto& s : r.symbols) {
    const auto who = names(r, s.symbol);
    for (const auto& b : s.bars) {
      out += fmt::format("{},{},{},{},{},{},{}\n", who, time.text(b.start), b.open, b.high, b.low,
                         b.close, b.volume);
    }
  }
  return out;
}

std::string balance_csv(const BacktestResult& r, const ReportTime& time) {
  std::string out = fmt::format(
      "time_{},balance,net_liquidating_value,realized_pnl,unrealized_pnl,pnl,drawdown\n",
      time.column_suffix());
  for (const auto& e : r.equity) {
    out += fmt::format("{},{},{},{},{},{},{}\n", time.text(e.time), e.balance,
                       e.net_liquidating_value, e.realized_pnl, e.open_trade_equity,
                       e.realized_pnl + e.open_trade_equity, e.drawdown);
  }
  return out;
}

std::string pnl_csv(const BacktestResult& r, const ReportTime& time) {
  std::string out = fmt::format(
      "time_{},symbol,full_name,realized_pnl,unrealized_pnl,fees,net_pnl\n", time.column_suffix());
  // A symbol's rows together, so a chart draws each as one unbroken line.
  for (const auto& s : r.symbols) {
    const auto who = names(r, s.symbol);
    for (const auto& p : r.symbol_pnl) {
      if (p.symbol == s.symbol) {
        out += fmt::format("{},{},{},{},{},{}\n", time.text(p.time), who, p.realized_pnl,
                           p.open_trade_equity, p.commissions,
                           p.realized_pnl + p.open_trade_equity - p.commissions);
      }
    }
  }
  return out;
}

std::string stats_csv(const BacktestResult& r, const std::vector<Statistics>& stats,
                      const ReportTime& time) {
  std::string out =
      "scope,full_name,currency,net_pnl,fees,total_return_pct,annual_return_pct,sharpe,sortino,"
      "max_drawdown,max_drawdown_pct,drawdown_start,drawdown_trough,drawdown_duration_s,"
      "drawdown_recovered,trades,win_rate_pct,profit_factor,average_win,average_loss,expectancy,"
      "exposure_pct\n";
  for (const auto& x : stats) {
    const auto& d = x.max_drawdown;
    const bool all = x.scope == "all";
    out += fmt::format(
        "{},{},{},{:.2f},{:.2f},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{:.4f}\n",
        all ? "all" : csv_field(engine_symbol(r, x.scope)), all ? "" : csv_field(x.scope),
        r.account.currency, x.net_pnl, x.fees, field(x.total_return_pct, "{:.4f}"),
        field(x.annual_return_pct, "{:.4f}"), field(x.sharpe, "{:.4f}"), field(x.sortino, "{:.4f}"),
        d ? fmt::format("{:.2f}", d->amount) : "", d ? fmt::format("{:.4f}", d->percent) : "",
        d ? time.text(d->start) : "", d ? time.text(d->trough) : "", d ? seconds(d->duration) : "",
        d ? (d->recovered ? "yes" : "no") : "", x.trades, field(x.win_rate_pct, "{:.4f}"),
        field(x.profit_factor, "{:.4f}"), field(x.average_win, "{:.2f}"),
        field(x.average_loss, "{:.2f}"), field(x.expectancy, "{:.2f}"), x.exposure_pct);
  }
  return out;
}

std::string trades_csv(const BacktestResult& r, const std::vector<Trade>& trades,
                       const ReportTime& time) {
  std::string out =
      "symbol,full_name,side,quantity,entry_time,entry_price,exit_time,exit_price,pnl,fees,"
      "duration_s\n";
  for (const auto& t : trades) {
    out += fmt::format("{},{},{},{},{},{},{},{:.2f},{:.2f},{}\n", names(r, t.symbol),
                       t.long_side ? "long" : "short", t.quantity, time.text(t.entry_time),
                       t.entry_price, time.text(t.exit_time), t.exit_price, t.pnl, t.fees,
                       seconds(t.exit_time - t.entry_time));
  }
  return out;
}

}  // namespace orbrix::backtest
