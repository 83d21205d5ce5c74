#include "backtest_tables.hpp"

#include <pybind11/stl.h>

#include <chrono>
#include <initializer_list>
#include <optional>

#include "orbrix/backtest/report.hpp"
#include "orbrix/backtest/statistics.hpp"
#include "orbrix/backtest/trades.hpp"

namespace orbrix::python {

namespace {

// Times and durations as the datetime module gives them, to the microsecond.
class Times {
 public:
  Times() {
    const auto datetime = py::module_::import("datetime");
    timedelta_ = datetime.attr("timedelta");
    epoch_ = datetime.attr("datetime")(1970, 1, 1,
                                       py::arg("tzinfo") = datetime.attr("timezone").attr("utc"));
  }
  py::object at(cqgsim::VenueTime t) const { return epoch_ + span(t.time_since_epoch()); }
  py::object span(std::chrono::nanoseconds d) const {
    return timedelta_(py::arg("microseconds") =
                          std::chrono::floor<std::chrono::microseconds>(d).count());
  }

 private:
  py::object timedelta_;
  py::object epoch_;
};

py::object optional(const std::optional<double>& v) {
  return v ? py::object(py::float_(*v)) : py::none();
}

// The rows as a DataFrame of these columns, or as they are without pandas.
Table table(const py::list& rows, std::initializer_list<const char*> columns) {
  py::object pandas;
  try {
    pandas = py::module_::import("pandas");
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ImportError)) {
      throw;
    }
    return rows;
  }
  py::list names;
  for (const char* c : columns) {
    names.append(c);
  }
  return pandas.attr("DataFrame").attr("from_records")(rows, py::arg("columns") = names);
}

const char* side(bool buy) {
  return buy ? "buy" : "sell";
}

}  // namespace

Table orders_table(const backtest::BacktestResult& r) {
  const Times times;
  py::list rows;
  for (const auto& o : r.orders) {
    const auto& l = o.last;
    py::dict row;
    row["order_id"] = l.order_id;
    row["symbol"] = backtest::engine_symbol(r, l.symbol);
    row["full_name"] = l.symbol;
    row["type"] = l.type;
    row["side"] = side(l.buy);
    row["quantity"] = l.quantity;
    row["limit_price"] = optional(l.limit_price);
    row["stop_price"] = optional(l.stop_price);
    row["status"] = l.status;
    row["filled_quantity"] = l.filled_quantity;
    row["average_fill_price"] = l.average_fill_price;
    row["reject_reason"] = l.reject_reason;
    row["placed"] = times.at(o.placed);
    row["updated"] = times.at(l.time);
    rows.append(std::move(row));
  }
  return table(rows, {"order_id", "symbol", "full_name", "type", "side", "quantity", "limit_price",
                      "stop_price", "status", "filled_quantity", "average_fill_price",
                      "reject_reason", "placed", "updated"});
}

Table deals_table(const backtest::BacktestResult& r) {
  const Times times;
  py::list rows;
  for (const auto& d : r.deals) {
    py::dict row;
    row["deal_id"] = d.deal_id;
    row["order_id"] = d.order_id;
    row["symbol"] = backtest::engine_symbol(r, d.symbol);
    row["full_name"] = d.symbol;
    row["side"] = side(d.buy);
    row["quantity"] = d.quantity;
    row["price"] = d.price;
    row["commission"] = d.commission;
    row["time"] = times.at(d.time);
    rows.append(std::move(row));
  }
  return table(rows, {"deal_id", "order_id", "symbol", "full_name", "side", "quantity", "price",
                      "commission", "time"});
}

Table trades_table(const backtest::BacktestResult& r) {
  const Times times;
  py::list rows;
  for (const auto& t : backtest::match_trades(r.deals, backtest::contract_terms(r.account))) {
    py::dict row;
    row["symbol"] = backtest::engine_symbol(r, t.symbol);
    row["full_name"] = t.symbol;
    row["side"] = t.long_side ? "long" : "short";
    row["quantity"] = t.quantity;
    row["entry_time"] = times.at(t.entry_time);
    row["entry_price"] = t.entry_price;
    row["exit_time"] = times.at(t.exit_time);
    row["exit_price"] = t.exit_price;
    row["pnl"] = t.pnl;
    row["fees"] = t.fees;
    row["duration"] = times.span(t.exit_time - t.entry_time);
    rows.append(std::move(row));
  }
  return table(rows, {"symbol", "full_name", "side", "quantity", "entry_time", "entry_price",
                      "exit_time", "exit_price", "pnl", "fees", "duration"});
}

Table equity_table(const backtest::BacktestResult& r) {
  const Times times;
  py::list rows;
  for (const auto& e : r.equity) {
    py::dict row;
    row["time"] = times.at(e.time);
    row["net_liquidating_value"] = e.net_liquidating_value;
    row["balance"] = e.balance;
    row["realized_pnl"] = e.realized_pnl;
    row["unrealized_pnl"] = e.open_trade_equity;
    row["drawdown"] = e.drawdown;
    rows.append(std::move(row));
  }
  return table(rows, {"time", "net_liquidating_value", "balance", "realized_pnl", "unrealized_pnl",
                      "drawdown"});
}

Table stats_table(const backtest::BacktestResult& r) {
  const Times times;
  py::list rows;
  const auto trades = backtest::match_trades(r.deals, backtest::contract_terms(r.account));
  for (const auto& x : backtest::statistics(r, trades)) {
    const bool all = x.scope == "all";
    const auto& d = x.max_drawdown;
    py::dict row;
    row["scope"] = all ? x.scope : backtest::engine_symbol(r, x.scope);
    row["full_name"] = all ? py::object(py::none()) : py::object(py::str(x.scope));
    row["currency"] = r.account.currency;
    row["net_pnl"] = x.net_pnl;
    row["fees"] = x.fees;
    row["total_return_pct"] = optional(x.total_return_pct);
    row["annual_return_pct"] = optional(x.annual_return_pct);
    row["sharpe"] = optional(x.sharpe);
    row["sortino"] = optional(x.sortino);
    row["max_drawdown"] = d ? py::object(py::float_(d->amount)) : py::none();
    row["max_drawdown_pct"] = d ? py::object(py::float_(d->percent)) : py::none();
    row["drawdown_start"] = d ? times.at(d->start) : py::none();
    row["drawdown_trough"] = d ? times.at(d->trough) : py::none();
    row["drawdown_duration"] = d ? times.span(d->duration) : py::none();
    row["drawdown_recovered"] = d ? py::object(py::bool_(d->recovered)) : py::none();
    row["trades"] = x.trades;
    row["win_rate_pct"] = optional(x.win_rate_pct);
    row["profit_factor"] = optional(x.profit_factor);
    row["average_win"] = optional(x.average_win);
    row["average_loss"] = optional(x.average_loss);
    row["expectancy"] = optional(x.expectancy);
    row["exposure_pct"] = x.exposure_pct;
    rows.append(std::move(row));
  }
  return table(rows, {"scope",
                      "full_name",
                      "currency",
                      "net_pnl",
                      "fees",
                      "total_return_pct",
                      "annual_return_pct",
                      "sharpe",
                      "sortino",
                      "max_drawdown",
                      "max_drawdown_pct",
                      "drawdown_start",
                      "drawdown_trough",
                      "drawdown_duration",
                      "drawdown_recovered",
                      "trades",
                      "win_rate_pct",
                      "profit_factor",
                      "average_win",
                      "average_loss",
                      "expectancy",
                      "exposure_pct"});
}

}  // namespace orbrix::python
