// The simulated CQGCEL for tests and backtests from Python: Simulator
// registers a simulator of its own as "CQG.CQGCEL.4" until close() (or the
// end of a with block), takes its start-up configuration whole (SimConfig),
// its fault plan one behaviour at a time, and drives it: the manual clock
// (advance), exact quotes, dropped connections. The driver's calls run on
// the simulator's apartment, the API host's worker, so each releases the GIL.

#include <pybind11/chrono.h>
#include <pybind11/stl.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "bindings.hpp"
#include "orbrix/cqgsim/simulator.hpp"
#include "seconds.hpp"

namespace orbrix::python {

namespace {

using cqgsim::AnswerBehaviour;
using Release = py::call_guard<py::gil_scoped_release>;

class Simulator {
 public:
  Simulator() : sim_(std::make_unique<cqgsim::ScopedSimulator>()) {}

  cqgsim::ScopedSimulator& sim() {
    if (!sim_) {
      throw std::logic_error("the simulator was closed");
    }
    return *sim_;
  }
  cqgsim::SimControls& controls() { return sim().controls(); }
  cqgsim::SimDriver& driver() { return sim().driver(); }
  // Restores the registration the simulator replaced. Idempotent.
  void close() { sim_.reset(); }

 private:
  std::unique_ptr<cqgsim::ScopedSimulator> sim_;
};

// An answer behaviour from keywords: after `delay` seconds, or an error
// (code, text), an empty result, or never.
AnswerBehaviour answer(double delay, std::optional<std::tuple<std::int64_t, std::string>> error,
                       bool empty, bool never) {
  if (never) {
    return AnswerBehaviour::never();
  }
  if (error) {
    return AnswerBehaviour::error(std::get<0>(*error), std::get<1>(*error), millis(delay, "delay"));
  }
  if (empty) {
    return AnswerBehaviour::empty(millis(delay, "delay"));
  }
  return AnswerBehaviour::after(millis(delay, "delay"));
}

template <void (cqgsim::SimControls::*setter)(AnswerBehaviour)>
void def_answer(py::class_<Simulator>& cls, const char* name, const char* what) {
  const std::string doc =
      std::string("How the simulator answers ") + what +
      ": after `delay` seconds on its clock (0: at once), with error=(code, text) instead, "
      "with an empty result (empty=True), or never (never=True). Applies from the next "
      "request on. Any thread; never blocks. Raises ValueError for a delay that is NaN, "
      "negative or infinite.";
  cls.def(
      name,
      [](Simulator& s, double delay, std::optional<std::tuple<std::int64_t, std::string>> error,
         bool empty, bool never) { (s.controls().*setter)(answer(delay, error, empty, never)); },
      py::kw_only(), py::arg("delay") = 0.0, py::arg("error") = py::none(),
      py::arg("empty") = false, py::arg("never") = false, doc.c_str());
}

void bind_config(py::module_& m) {
  py::enum_<cqgsim::MarkPrice>(m, "MarkPrice", "The price the venue marks open positions at.")
      .value("last_trade", cqgsim::MarkPrice::last_trade,
             "The last trade; the mid until a trade has printed.")
      .value("mid", cqgsim::MarkPrice::mid,
             "The bid/ask mid; the last trade while a side is "
             "missing.")
      .value("side", cqgsim::MarkPrice::side,
             "Where the position would close: the bid for a long, the ask for a short.");
  py::class_<cqgsim::FillModel>(
      m, "FillModel", R"doc(How the simulated venue fills orders, read when the simulator starts.

The defaults fill at the touch, whole, for free. Fields (keywords of the
constructor, all optional; writable):
  partial_fills                each fill takes at most the size shown at
                               the quote it fills on, shared in the order
                               the orders came
  slippage_ticks               ticks against the trader on fills that take
                               the touch (a limit never fills worse than its
                               price); 0 to 1,000,000
  commission_per_contract      per contract per fill, in the account's
                               currency; 0 to 1,000,000
  mark                         the MarkPrice open positions are valued at
  reject_market_without_quote  a market order (or a triggered stop) with no
                               quote on the side it needs is rejected
                               instead of waiting for one)doc")
      .def(py::init([](bool partial_fills, std::int64_t slippage_ticks, double commission,
                       cqgsim::MarkPrice mark, bool reject_market_without_quote) {
             return cqgsim::FillModel{partial_fills, slippage_ticks, commission, mark,
                                      reject_market_without_quote};
           }),
           py::kw_only(), py::arg("partial_fills") = false, py::arg("slippage_ticks") = 0,
           py::arg("commission_per_contract") = 0.0,
           py::arg("mark") = cqgsim::MarkPrice::last_trade,
           py::arg("reject_market_without_quote") = false)
      .def_readwrite("partial_fills", &cqgsim::FillModel::partial_fills,
                     "Whether each fill takes at most the size shown at its quote.")
      .def_readwrite("slippage_ticks", &cqgsim::FillModel::slippage_ticks,
                     "Ticks against the trader on fills that take the touch.")
      .def_readwrite("commission_per_contract", &cqgsim::FillModel::commission_per_contract,
                     "Per contract per fill, in the account's currency.")
      .def_readwrite("mark", &cqgsim::FillModel::mark)
      .def_readwrite("reject_market_without_quote", &cqgsim::FillModel::reject_market_without_quote,
                     "Whether a market order with no quote on its side is rejected.")
      // A backtest's options cross to a sweep's worker processes.
      .def(py::pickle(
          [](const cqgsim::FillModel& f) {
            return py::make_tuple(f.partial_fills, f.slippage_ticks, f.commission_per_contract,
                                  static_cast<int>(f.mark), f.reject_market_without_quote);
          },
          [](const py::tuple& t) {
            if (t.size() != 5 || t[3].cast<int>() < 0 ||
                t[3].cast<int>() > static_cast<int>(cqgsim::MarkPrice::side)) {
              throw py::value_error("FillModel: not a pickled FillModel");
            }
            return cqgsim::FillModel{t[0].cast<bool>(), t[1].cast<std::int64_t>(),
                                     t[2].cast<double>(),
                                     static_cast<cqgsim::MarkPrice>(t[3].cast<int>()),
                                     t[4].cast<bool>()};
          }));

  py::class_<cqgsim::SimConfig>(
      m, "SimConfig", R"doc(The simulated venue's start-up configuration, for Simulator.set_config.

Read once when a simulator starts: the same value gives the same market.
Keywords of the constructor, all optional:
  seed                  the master seed of the generated market
  start_time            an aware datetime the venue starts at (years 1970
                        to 2199); None: the wall clock's time, or with
                        histories the whole minute in the middle of the
                        first one
  mean_event_interval   seconds between two market events of an
                        instrument, on average; 0.001 to 3600
  fill_model            a FillModel
  finished_orders_kept  finished orders kept for look-up by id; at most
                        10,000,000
  max_order_quantity    larger orders are rejected; 1 to 1,000,000,000
  manual_clock          True: the simulator's clock moves only when
                        Simulator.advance moves it; False: it follows the
                        wall clock
  histories             recorded histories to replay, a list of (symbol,
                        CSV path); an empty symbol for a file with a
                        symbol column
The values are checked whole by set_config.)doc")
      .def(py::init([](std::uint64_t seed,
                       std::optional<std::chrono::system_clock::time_point> start_time,
                       double mean_event_interval, const cqgsim::FillModel& fill_model,
                       std::size_t finished_orders_kept, std::int64_t max_order_quantity,
                       bool manual_clock,
                       const std::vector<std::pair<std::string, std::string>>& histories) {
             cqgsim::SimConfig c;
             c.seed = seed;
             c.start_time = start_time;
             c.mean_event_interval = millis(mean_event_interval, "mean_event_interval");
             c.fill_model = fill_model;
             c.finished_orders_kept = finished_orders_kept;
             c.max_order_quantity = max_order_quantity;
             c.manual_clock = manual_clock;
             for (const auto& [symbol, path] : histories) {
               c.histories.push_back({symbol, path});
             }
             return c;
           }),
           py::kw_only(), py::arg("seed") = 1, py::arg("start_time") = py::none(),
           py::arg("mean_event_interval") = 0.3, py::arg("fill_model") = cqgsim::FillModel{},
           py::arg("finished_orders_kept") = 10'000, py::arg("max_order_quantity") = 1'000'000,
           py::arg("manual_clock") = false,
           py::arg("histories") = std::vector<std::pair<std::string, std::string>>{},
           "The venue's start-up configuration (see the class). Raises ValueError for a "
           "mean_event_interval that is NaN, negative or infinite.")
      .def_readonly("seed", &cqgsim::SimConfig::seed)
      .def_readonly("manual_clock", &cqgsim::SimConfig::manual_clock,
                    "Whether the clock moves only when Simulator.advance moves it.")
      .def_readonly("max_order_quantity", &cqgsim::SimConfig::max_order_quantity);
}

}  // namespace

void bind_simulator(py::module_& m) {
  bind_config(m);
  py::enum_<cqgsim::BarField>(m, "BarField",
                              "A value of a bar, for Simulator.set_missing_bar_values.")
      .value("Open", cqgsim::BarField::Open)
      .value("High", cqgsim::BarField::High)
      .value("Low", cqgsim::BarField::Low)
      .value("Close", cqgsim::BarField::Close)
      .value("Volume", cqgsim::BarField::Volume);

  py::class_<Simulator> cls(m, "Simulator",
                            R"doc(A simulated CQGCEL registered as "CQG.CQGCEL.4" until close().

Use it as a context manager. Hosts made while it is registered run on it:
configure it (set_config, the fault plan's set_... calls) before ApiHost.Init,
then drive it (advance on a manual clock, fire_quotes, dropped connections)
while the session runs. The driver's calls run on the simulator's
apartment, the API host's worker: they release the GIL and return once
done there. Durations are in seconds of the simulator's clock. After
close() every call raises RuntimeError.)doc");
  cls.def(py::init<>(), "Registers a new simulator with its own controls.")
      .def("close", &Simulator::close,
           "Restores the registration the simulator replaced; calling it again does nothing. "
           "Close it after the hosts that use it are shut down.")
      .def(
          "__enter__", [](Simulator& s) -> Simulator& { return s; }, "Returns the simulator.")
      .def(
          "__exit__", [](Simulator& s, const py::args&) { s.close(); }, "Closes the simulator.")
      .def(
          "set_config",
          [](Simulator& s, cqgsim::SimConfig c) { s.controls().set_config(std::move(c)); },
          py::arg("config"), Release(),
          "The configuration the next simulator starts with (ApiHost.Init starts it). Checked "
          "whole, and each history read and checked, before anything is kept: raises "
          "ValueError naming the option out of range or the history for a symbol the "
          "simulator does not list, and the history reader's error (naming the file, line and "
          "column) for a file it refuses. Any thread; releases the GIL while it reads.")
      .def(
          "set_gateway",
          [](Simulator& s, double delay, bool never) {
            s.controls().set_gateway(never
                                         ? cqgsim::GatewayBehaviour::never()
                                         : cqgsim::GatewayBehaviour::after(millis(delay, "delay")));
          },
          py::kw_only(), py::arg("delay") = 0.1, py::arg("never") = false,
          "How log-on and log-off are answered: after `delay` seconds on the simulator's "
          "clock, or never. Applies from the next request on. Any thread; never blocks. Raises "
          "ValueError for a delay that is NaN, negative or infinite.")
      .def(
          "set_startup",
          [](Simulator& s, double delay, std::optional<std::tuple<std::int64_t, std::string>> error,
             bool silent) {
            if (silent) {
              s.controls().set_startup(cqgsim::StartupBehaviour::silent());
            } else if (error) {
              s.controls().set_startup(cqgsim::StartupBehaviour::data_error(
                  std::get<0>(*error), std::get<1>(*error), millis(delay, "delay")));
            } else {
              s.controls().set_startup(cqgsim::StartupBehaviour::started(millis(delay, "delay")));
            }
          },
          py::kw_only(), py::arg("delay") = 0.0, py::arg("error") = py::none(),
          py::arg("silent") = false,
          "How the vendor library's start is answered: started after `delay` seconds, a data "
          "error (code, text) after it (ApiHost.errorHappened), or nothing at all (silent=True: "
          "ApiHost.Init times out). Any thread; never blocks. Raises ValueError for a delay that "
          "is NaN, negative or infinite.")
      .def(
          "reject_next_order",
          [](Simulator& s, std::string reason) {
            s.controls().reject_next_order(std::move(reason));
          },
          py::arg("reason"),
          "The next order placed is rejected by the venue with this reason. Any thread; never "
          "blocks.")
      .def(
          "set_missing_bar_values",
          [](Simulator& s, std::string symbol, cqgsim::BarField field,
             std::vector<std::size_t> indexes) {
            s.controls().set_missing_bar_values(std::move(symbol), field, std::move(indexes));
          },
          py::arg("symbol"), py::arg("field"), py::arg("indexes"),
          "Bars of `symbol` report `field` missing at these indexes of their request (0: the "
          "first bar the request got). Any thread; never blocks.")
      .def(
          "advance",
          [](Simulator& s, double seconds) {
            s.driver().advance(std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9)));
          },
          py::arg("seconds"), Release(),
          "Moves the manual clock on by `seconds` and returns once every answer and market "
          "event due by then was fired (the hooks they call included). Releases the GIL while "
          "it runs. Raises RuntimeError on the wall clock (SimConfig.manual_clock False) or "
          "before the simulator has started.")
      .def(
          "fire_quotes",
          [](Simulator& s, const std::string& symbol,
             const std::vector<std::tuple<std::string, double, std::int64_t>>& quotes) {
            std::vector<cqgsim::QuoteSpec> specs;
            for (const auto& [type, price, volume] : quotes) {
              specs.push_back({type, price, volume, true});
            }
            py::gil_scoped_release released;
            s.driver().fire_quotes(symbol, std::move(specs));
          },
          py::arg("symbol"), py::arg("quotes"),
          "Fires an exact quote batch for a subscribed instrument (short or full symbol), a list "
          "of (vendor quote type name, price, volume), e.g. [('qtBid', 6050.0, 3)]; the venue "
          "takes it as its new state. Returns once it was fired; releases the GIL. Raises "
          "ValueError for an unknown type name or a price off the tick grid or beyond the "
          "venue's bound, KeyError for a symbol not subscribed.")
      .def(
          "drop_gateway", [](Simulator& s) { s.driver().drop_gateway(); }, Release(),
          "The gateway connection drops: a down report when it was up; until it is restored a "
          "log-on gets no answer, placing and cancelling orders fail, no market data is sent "
          "and order and position events are held (working orders keep working). Returns once "
          "done; releases the GIL.")
      .def(
          "restore_gateway", [](Simulator& s) { s.driver().restore_gateway(); }, Release(),
          "Ends drop_gateway: a new log-on is answered, and the held events follow its up "
          "report. Returns once done; releases the GIL.")
      .def(
          "drop_data", [](Simulator& s) { s.driver().drop_data(); }, Release(),
          "The data connection drops (process_data_connection hears it): no quotes, ticks or "
          "bars until restore_data. Returns once done; releases the GIL.")
      .def(
          "restore_data", [](Simulator& s) { s.driver().restore_data(); }, Release(),
          "The data connection comes back. Returns once done; releases the GIL.")
      .def_property_readonly(
          "startup_calls", [](Simulator& s) { return s.driver().startup_calls(); },
          "How many times the vendor library was started (one per ApiHost.Init).");
  def_answer<&cqgsim::SimControls::set_instrument_resolution>(
      cls, "set_instrument_resolution", "instrument requests (subscribe_quote)");
  def_answer<&cqgsim::SimControls::set_account_reload>(
      cls, "set_account_reload", "account list reloads (subscribe_account_and_positions)");
  def_answer<&cqgsim::SimControls::set_ticks_resolution>(cls, "set_ticks_resolution",
                                                         "tick requests (subscribe_orderbook)");
  def_answer<&cqgsim::SimControls::set_bars_resolution>(cls, "set_bars_resolution",
                                                        "bars requests (subscribe_bar)");
}

}  // namespace orbrix::python
