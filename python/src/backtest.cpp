// The backtest run: a Python engine (start, on_timer, stop, its gateway and
// interval) over recorded history on the simulator's clock, and the report.

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>

#include "backtest_tables.hpp"
#include "bindings.hpp"
#include "orbrix/backtest/backtest.hpp"
#include "orbrix/backtest/report.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "seconds.hpp"
#include "typed_object.hpp"
#include "without_gil.hpp"

namespace orbrix::python {

namespace {

using namespace std::chrono_literals;

// Seconds since the epoch as an aware UTC datetime.
py::object utc_datetime(std::chrono::system_clock::time_point t) {
  const auto datetime = py::module_::import("datetime");
  const double seconds = std::chrono::duration<double>(t.time_since_epoch()).count();
  return datetime.attr("datetime")
      .attr("fromtimestamp")(seconds, datetime.attr("timezone").attr("utc"));
}

// A Python engine as the runner sees it. Called on the run's thread, which
// runs without the GIL: each call takes it.
class PyEngine final : public cqg::Engine {
 public:
  explicit PyEngine(py::object engine) : engine_(std::move(engine)) {}
  ~PyEngine() override {
    py::gil_scoped_acquire gil;
    gateway_ = py::object();
    engine_ = py::object();
  }

  BaseGateway& gateway() override {
    py::gil_scoped_acquire gil;
    if (!gateway_) {
      gateway_ = engine_.attr("gateway")();
    }
    return gateway_.cast<BaseGateway&>();
  }
  std::chrono::milliseconds interval() const override {
    py::gil_scoped_acquire gil;
    if (!py::hasattr(engine_, "interval")) {
      return 1s;
    }
    const double seconds = engine_.attr("interval")().cast<double>();
    return millis(seconds, "interval");
  }
  void start(cqg::BrokerLink& link) override { call("start", link); }
  void on_timer(cqg::BrokerLink& link, TimePoint now) override {
    py::gil_scoped_acquire gil;
    engine_.attr("on_timer")(link_of(link), utc_datetime(now));
  }
  void stop(cqg::BrokerLink& link) override {
    py::gil_scoped_acquire gil;
    if (py::hasattr(engine_, "stop")) {
      engine_.attr("stop")(link_of(link));
    }
    link_ = py::object();
  }

 private:
  void call(const char* name, cqg::BrokerLink& link) {
    py::gil_scoped_acquire gil;
    engine_.attr(name)(link_of(link));
  }
  // One Python object for the run's link; its last release drops the GIL.
  py::object link_of(cqg::BrokerLink& link) {
    if (!link_) {
      auto shared = std::static_pointer_cast<cqg::BrokerLink>(link.shared_from_this());
      link_ = py::cast(released_without_gil(std::move(shared)));
    }
    return link_;
  }

  py::object engine_;
  py::object gateway_;
  py::object link_;
};

std::optional<backtest::TimePoint> time_of(const py::object& t) {
  if (t.is_none()) {
    return std::nullopt;
  }
  const double seconds = t.attr("timestamp")().cast<double>();
  return backtest::TimePoint(std::chrono::duration_cast<backtest::TimePoint::duration>(
      std::chrono::duration<double>(seconds)));
}

// The types the backtest's bindings take and give, as signatures name them.
struct PathsName : AnyObjectName {
  static constexpr auto name = py::detail::const_name("List[pathlib.Path]");
};
struct OptionalStrName : AnyObjectName {
  static constexpr auto name = py::detail::const_name("Optional[str]");
};
struct OptionalDatetimeName : AnyObjectName {
  static constexpr auto name = py::detail::const_name("Optional[datetime.datetime]");
};
// The progress callback, or None.
struct ProgressCallbackName {
  static constexpr auto name =
      py::detail::const_name("Optional[Callable[[BacktestProgress], None]]");
  static bool check(py::handle h) { return h.is_none() || PyCallable_Check(h.ptr()) != 0; }
};
// An optional file path.
struct OptionalPathName {
  static constexpr auto name = py::detail::const_name("Optional[Union[str, os.PathLike[str]]]");
  static bool check(py::handle h) {
    return h.is_none() || py::detail::make_caster<std::filesystem::path>().load(h, true);
  }
};

// A venue time as an aware UTC datetime.
py::object venue_datetime(cqgsim::VenueTime t) {
  return utc_datetime(std::chrono::time_point_cast<std::chrono::system_clock::duration>(t));
}
// A folder: what the path caster takes (str, bytes or os.PathLike).
struct FolderName {
  static constexpr auto name = py::detail::const_name("Union[str, os.PathLike[str]]");
  static bool check(py::handle h) {
    return py::detail::make_caster<std::filesystem::path>().load(h, true);
  }
};

// An optional zone's name: empty for None (UTC).
std::string zone_of(const py::object& time_zone) {
  return time_zone.is_none() ? std::string() : time_zone.cast<std::string>();
}

}  // namespace

void bind_backtest(py::module_& m) {
  py::class_<backtest::BacktestProgress>(
      m, "BacktestProgress",
      R"doc(How far a backtest has come: what run_backtest's progress callback gets.

Read-only:
  rows             history rows replayed so far
  now              the simulated time reached (aware UTC datetime)
  start, end       the simulated span run (aware UTC datetimes)
  fraction         the share of the span done, 0 to 1
  wall_seconds     the run's wall-clock seconds so far
  rows_per_second  rows per wall-clock second so far
  seconds_left     the wall-clock seconds left at the pace so far, or
                   None before any simulated time has passed)doc")
      .def_readonly("rows", &backtest::BacktestProgress::rows, "History rows replayed so far.")
      .def_property_readonly(
          "now", [](const backtest::BacktestProgress& p) { return venue_datetime(p.now); },
          "The simulated time reached, an aware UTC datetime.")
      .def_property_readonly(
          "start", [](const backtest::BacktestProgress& p) { return venue_datetime(p.start); },
          "The start of the simulated span, an aware UTC datetime.")
      .def_property_readonly(
          "end", [](const backtest::BacktestProgress& p) { return venue_datetime(p.end); },
          "The end of the simulated span, an aware UTC datetime.")
      .def_readonly("fraction", &backtest::BacktestProgress::fraction,
                    "The share of the simulated span done, 0 to 1.")
      .def_readonly("wall_seconds", &backtest::BacktestProgress::wall_seconds,
                    "The run's wall-clock seconds so far.")
      .def_readonly("rows_per_second", &backtest::BacktestProgress::rows_per_second,
                    "History rows per wall-clock second so far.")
      .def_readonly("seconds_left", &backtest::BacktestProgress::seconds_left,
                    "Wall-clock seconds left at the pace so far; None before any simulated time "
                    "has passed.");

  py::class_<backtest::BacktestResult>(
      m, "BacktestResult",
      R"doc(What run_backtest returns: the run's figures, its data and its report.

Read-only figures:
  history_rows           rows of the histories within the span run
  round_trips            times a position went back to flat, all symbols
  max_drawdown           the largest fall of the net liquidating value
                         below its highest so far, in the account's
                         currency
  wall_seconds           the run's own (wall-clock) seconds, for its speed
  net_liquidating_value  the account's value at the end
Data, each a pandas DataFrame when pandas can be imported, else a list of
dicts (one a row) with the same columns; times are aware UTC datetimes,
durations timedeltas, figures not given None; symbols as the engine names
them ("EP") with the vendor's full name in full_name; money in the
account's currency:
  orders   each order as its last change left it: order_id, symbol,
           full_name, type, side, quantity, limit_price, stop_price,
           status, filled_quantity, average_fill_price, reject_reason,
           placed, updated
  deals    the fills in execution order: deal_id, order_id, symbol,
           full_name, side ("buy" or "sell"), quantity, price, commission,
           time
  trades   the round trips, matched first in, first out (a partial close
           is a trade of its own): symbol, full_name, side ("long" or
           "short"), quantity, entry_time, entry_price, exit_time,
           exit_price, pnl (after fees), fees, duration
  equity   the equity curve, sampled on the simulated clock: time,
           net_liquidating_value, balance, realized_pnl (after fees),
           unrealized_pnl, drawdown
  stats    one row per scope ("all", then each symbol): the statistics of
           the report's stats.csv (returns, Sharpe and Sortino ratios,
           drawdown, trades, win rate, profit factor, exposure)
The same options, files and seed give the same figures, data and report.)doc")
      .def_readonly("history_rows", &backtest::BacktestResult::history_rows,
                    "Rows of the histories within the span run.")
      .def_readonly("round_trips", &backtest::BacktestResult::round_trips,
                    "Times a position went back to flat, all symbols together.")
      .def_readonly("max_drawdown", &backtest::BacktestResult::max_drawdown,
                    "The largest fall of the net liquidating value below its highest so far.")
      .def_readonly("wall_seconds", &backtest::BacktestResult::wall_seconds,
                    "The run's own wall-clock seconds (for its speed only).")
      .def_property_readonly("orders", &orders_table,
                             "Each order as its last change left it, as a DataFrame (a list of "
                             "dicts without pandas); a new one each read.")
      .def_property_readonly("deals", &deals_table,
                             "The fills in execution order, with their times, as a DataFrame (a "
                             "list of dicts without pandas); a new one each read.")
      .def_property_readonly(
          "trades", &trades_table,
          "The round trips, first in, first out, as a DataFrame (a list of dicts "
          "without pandas); a new one each read.")
      .def_property_readonly("equity", &equity_table,
                             "The equity curve with its drawdown, as a DataFrame (a list of dicts "
                             "without pandas); a new one each read.")
      .def_property_readonly("stats", &stats_table,
                             "The statistics, the whole account's then each symbol's, as a "
                             "DataFrame (a list of dicts without pandas); a new one each read.")
      .def_property_readonly(
          "net_liquidating_value",
          [](const backtest::BacktestResult& r) { return r.account.net_liquidating_value; },
          "The account's value at the end, in its currency.")
      .def(
          "summary",
          [](const backtest::BacktestResult& r, const Typed<OptionalStrName>& time_zone) {
            return backtest::summary_text(r, zone_of(time_zone));
          },
          py::arg("time_zone") = py::none(),
          "The summary as text: the span, orders by final state, deals, P&L per symbol and in "
          "all, fees, round trips and the statistics. Times in UTC, or in `time_zone` (an IANA "
          "name such as \"Asia/Hong_Kong\"), which the text names. Raises ValueError for an "
          "unknown zone.")
      .def(
          "speed", [](const backtest::BacktestResult& r) { return backtest::speed_text(r); },
          "The run's speed as text: history rows per second, simulated time per wall second.")
      .def(
          "write_report",
          [](const backtest::BacktestResult& r, const Typed<FolderName>& dir, bool charts,
             const Typed<OptionalStrName>& time_zone) -> Typed<PathsName> {
            const auto folder = dir.cast<std::filesystem::path>();
            return py::cast(backtest::write_report(
                r, folder, {.charts = charts, .time_zone = zone_of(time_zone)}));
          },
          py::arg("dir"), py::arg("charts") = true, py::arg("time_zone") = py::none(),
          "Writes the report into the folder `dir`: orders.csv, deals.csv, bars.csv, "
          "balance.csv, pnl.csv, stats.csv, trades.csv, summary.txt, and with charts the "
          "gnuplot charts (chart_<symbol>.png, chart_equity.png, charts.gp, which redraws them "
          "when run in the folder, wherever it is moved). Times in UTC (ISO 8601 with Z), or "
          "in `time_zone` (an IANA name; ISO 8601 with the offset), named in every file. "
          "Returns the paths written. Blocks for the writing (and gnuplot). Raises ValueError "
          "for an unknown zone; RuntimeError naming a file that cannot be written, or when "
          "gnuplot is missing or fails.");

  m.def(
      "run_backtest",
      [](py::object engine, const std::vector<std::pair<std::string, std::string>>& histories,
         const Typed<OptionalDatetimeName>& start, const Typed<OptionalDatetimeName>& end,
         const py::int_& seed, cqgsim::FillModel fill_model, double order_latency,
         int warm_up_minutes, std::int64_t account, const std::string& path,
         const Typed<ProgressCallbackName>& progress, const Typed<OptionalPathName>& trace_log,
         bool close_at_end, bool spin) {
        backtest::BacktestOptions o;
        if (path == "vendor") {
          o.path = backtest::EventPath::vendor;
        } else if (path != "direct") {
          throw py::value_error("path must be \"direct\" or \"vendor\", not \"" + path + "\"");
        }
        for (const auto& [symbol, path] : histories) {
          // Said as Python says it, before the run starts.
          if (!std::filesystem::exists(path)) {
            PyErr_SetObject(PyExc_FileNotFoundError,
                            py::make_tuple(ENOENT, "no such history file", path).ptr());
            throw py::error_already_set();
          }
          o.histories.push_back({symbol, path});
        }
        o.start = time_of(start);
        o.end = time_of(end);
        if (seed < py::int_(0) || seed > py::int_(std::numeric_limits<std::uint64_t>::max())) {
          throw py::value_error("seed: " + py::repr(seed).cast<std::string>() +
                                " is not a whole number from 0 to 2**64 - 1");
        }
        o.seed = seed.cast<std::uint64_t>();
        o.close_at_end = close_at_end;
        o.spin = spin;
        if (!trace_log.is_none()) {
          o.trace_log = trace_log.cast<std::filesystem::path>();
        }
        // Called on the run's thread, which runs without the GIL: the call
        // takes it. What the callback raises ends the run and is raised
        // here. `progress` outlives the run, and is released with the GIL.
        if (!progress.is_none()) {
          o.progress = [&progress](const backtest::BacktestProgress& p) {
            py::gil_scoped_acquire gil;
            progress(py::cast(p));
          };
        }
        o.fill_model = fill_model;
        o.order_latency = millis(order_latency, "order_latency");
        // The venue delays an order by whole milliseconds: a fraction would be
        // dropped without a word.
        if (std::abs(static_cast<double>(o.order_latency.count()) - order_latency * 1000) > 1e-6) {
          throw py::value_error(
              "order_latency: " + py::repr(py::float_(order_latency)).cast<std::string>() +
              " seconds is not a whole number of milliseconds");
        }
        o.warm_up = std::chrono::minutes(warm_up_minutes);
        o.account = account;
        PyEngine wrapped(std::move(engine));
        py::gil_scoped_release released;
        return backtest::run_backtest(wrapped, o);
      },
      py::arg("engine"), py::arg("histories"), py::arg("start") = py::none(),
      py::arg("end") = py::none(), py::arg("seed") = 1, py::arg("fill_model") = cqgsim::FillModel{},
      py::arg("order_latency") = 0.0, py::arg("warm_up_minutes") = 30, py::arg("account") = 100001,
      py::arg("path") = "direct", py::arg("progress") = py::none(),
      py::arg("trace_log") = py::none(), py::arg("close_at_end") = false, py::arg("spin") = true,
      R"doc(Runs a Python engine over recorded history on the simulator's clock; returns a BacktestResult.

The engine is an object with:
  gateway() -> BaseGateway   once, first: the gateway whose hooks are called
  start(link)                logged on, the account subscribed: subscribe here
  on_timer(link, now)        every interval() seconds of simulated time;
                             `now` is the simulated time, an aware UTC
                             datetime
  stop(link)                 optional; once at the end, still logged on
  interval() -> float        optional; seconds between two on_timer calls
                             (1.0 when absent)
`link` is a BrokerLink; every operation works as live, and the venue
answers at once on the simulated clock. Every time the engine receives is
the simulated clock's: `now`, and the datetime of the quotes, order books
and positions (local time, converted as live from the wall clock).

histories: [(symbol, CSV path), ...]; an empty symbol for a file with a
symbol column. start, end: aware datetimes of the span run; None: from
warm_up_minutes after the first record to the minute after the last.
seed: the market of the instruments without a history. fill_model: how
orders fill. order_latency: seconds (whole milliseconds) a placed order is in transit before
the venue works it. account: the GWAccountID traded. path: "direct" (the
simulator hands the gateway its events decoded) or "vendor" (the gateway
reads the vendor's objects member by member, as live); both give the same
run. progress: called with a BacktestProgress about once a second of
wall-clock time while the run goes, and once when the data is done
(fraction 1.0), on this thread with the GIL taken; what it raises ends the
run and is raised by run_backtest. trace_log: a file the gateway's traced
lines go to during the run (created with its folder, or truncated); the
trace sink set before (set_trace_sink, trace_to_logging) is put back after.
None: they go where they go. close_at_end: at the end of the data, cancel
the working orders and close the open positions at the last quote; by
default they stay, listed by summary(), the positions marked to the last
price. spin: the run's thread and the gateway's worker wait for each
other's step with a spin before they sleep (a core each saves two wake-ups
a step); False where other runs share the cores, as a sweep's cells do.
Only the histories' instruments trade: subscribing another raises
ValueError naming it (the simulator's generated market is for live
sessions).

Threads: start, on_timer and stop run on this thread, each with the GIL
taken; the gateway's hooks run on the API host's worker, as live. Blocks
for the whole run, with the GIL released between the engine's calls;
Ctrl-C raises KeyboardInterrupt in the engine's next call, which ends the
run. Runs may follow one another in a process, not overlap.

Raises FileNotFoundError for a history file that does not exist;
ValueError for bad options (an end before the start, an order_latency that
is NaN, negative or infinite, another path, a negative seed); RuntimeError for a history file the reader
refuses (naming file, line and column); whatever the engine raises, after
the run's host is shut down.)doc");
}

}  // namespace orbrix::python
