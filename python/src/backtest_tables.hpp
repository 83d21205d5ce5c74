#pragma once

// A backtest's results as data for Python: each a pandas DataFrame when
// pandas can be imported, else a list of dicts (one a row), with the same
// columns either way. Times are aware UTC datetimes, durations timedeltas,
// figures not given None; symbols as the engine names them, with the full
// name in `full_name`; money in the account's currency.

#include <pybind11/pybind11.h>

#include "orbrix/backtest/backtest.hpp"
#include "typed_object.hpp"

namespace orbrix::python {

namespace py = pybind11;

// The type the tables are given as, as signatures name it.
struct TableName : AnyObjectName {
  static constexpr auto name =
      py::detail::const_name("Union[pandas.DataFrame, List[Dict[str, object]]]");
};
using Table = Typed<TableName>;

// order_id, symbol, full_name, type, side, quantity, limit_price,
// stop_price, status, filled_quantity, average_fill_price, reject_reason,
// placed, updated: each order as its last change left it.
Table orders_table(const backtest::BacktestResult& result);
// deal_id, order_id, symbol, full_name, side, quantity, price, commission,
// time: the fills in execution order.
Table deals_table(const backtest::BacktestResult& result);
// symbol, full_name, side, quantity, entry_time, entry_price, exit_time,
// exit_price, pnl, fees, duration: the round trips, first in, first out.
Table trades_table(const backtest::BacktestResult& result);
// time, net_liquidating_value, balance, realized_pnl, unrealized_pnl,
// drawdown: the equity curve.
Table equity_table(const backtest::BacktestResult& result);
// One row per scope ("all", then each symbol): the statistics of the
// report's stats.csv.
Table stats_table(const backtest::BacktestResult& result);

}  // namespace orbrix::python
