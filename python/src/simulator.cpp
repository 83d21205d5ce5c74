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
void def_answer(py::class_<Simulator>& cls, const char* name) {
  cls.def(
      name,
      [](Simulator& s, double delay, std::optional<std::tuple<std::int64_t, std::string>> error,
         bool empty, bool never) { (s.controls().*setter)(answer(delay, error, empty, never)); },
      py::kw_only(), py::arg("delay") = 0.0, py::arg("error") = py::none(),
      py::arg("empty") = false, py::arg("never") = false);
}

void bind_config(py::module_& m) {
  py::enum_<cqgsim::MarkPrice>(m, "MarkPrice")
      .value("last_trade", cqgsim::MarkPrice::last_trade)
      .value("mid", cqgsim::MarkPrice::mid)
      .value("side", cqgsim::MarkPrice::side);
  py::class_<cqgsim::FillModel>(m, "FillModel")
      .def(py::init([](bool partial_fills, std::int64_t slippage_ticks, double commission,
                       cqgsim::MarkPrice mark, bool reject_market_without_quote) {
             return cqgsim::FillModel{partial_fills, slippage_ticks, commission, mark,
                                      reject_market_without_quote};
           }),
           py::kw_only(), py::arg("partial_fills") = false, py::arg("slippage_ticks") = 0,
           py::arg("commission_per_contract") = 0.0,
           py::arg("mark") = cqgsim::MarkPrice::last_trade,
           py::arg("reject_market_without_quote") = false)
      .def_readwrite("partial_fills", &cqgsim::FillModel::partial_fills)
      .def_readwrite("slippage_ticks", &cqgsim::FillModel::slippage_ticks)
      .def_readwrite("commission_per_contract", &cqgsim::FillModel::commission_per_contract)
      .def_readwrite("mark", &cqgsim::FillModel::mark)
      .def_readwrite("reject_market_without_quote",
                     &cqgsim::FillModel::reject_market_without_quote);

  py::class_<cqgsim::SimConfig>(m, "SimConfig")
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
           "The venue's start-up configuration. start_time is an aware datetime (or None); "
           "histories is a list of (symbol, CSV path).")
      .def_readonly("seed", &cqgsim::SimConfig::seed)
      .def_readonly("manual_clock", &cqgsim::SimConfig::manual_clock)
      .def_readonly("max_order_quantity", &cqgsim::SimConfig::max_order_quantity);
}

}  // namespace

void bind_simulator(py::module_& m) {
  bind_config(m);
  py::enum_<cqgsim::BarField>(m, "BarField")
      .value("Open", cqgsim::BarField::Open)
      .value("High", cqgsim::BarField::High)
      .value("Low", cqgsim::BarField::Low)
      .value("Close", cqgsim::BarField::Close)
      .value("Volume", cqgsim::BarField::Volume);

  py::class_<Simulator> cls(m, "Simulator");
  cls.doc() =
      "A simulated CQGCEL registered as 'CQG.CQGCEL.4' until close(); use it as a context "
      "manager. Hosts made while it is registered run on it.";
  cls.def(py::init<>())
      .def("close", &Simulator::close)
      .def("__enter__", [](Simulator& s) -> Simulator& { return s; })
      .def("__exit__", [](Simulator& s, const py::args&) { s.close(); })
      .def(
          "set_config",
          [](Simulator& s, cqgsim::SimConfig c) { s.controls().set_config(std::move(c)); },
          py::arg("config"), Release(),
          "The configuration the next simulator starts with (checked whole, histories read).")
      .def(
          "set_gateway",
          [](Simulator& s, double delay, bool never) {
            s.controls().set_gateway(never
                                         ? cqgsim::GatewayBehaviour::never()
                                         : cqgsim::GatewayBehaviour::after(millis(delay, "delay")));
          },
          py::kw_only(), py::arg("delay") = 0.1, py::arg("never") = false,
          "How log-on and log-off are answered: after `delay` seconds, or never.")
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
          py::arg("silent") = false)
      .def(
          "reject_next_order",
          [](Simulator& s, std::string reason) {
            s.controls().reject_next_order(std::move(reason));
          },
          py::arg("reason"))
      .def(
          "set_missing_bar_values",
          [](Simulator& s, std::string symbol, cqgsim::BarField field,
             std::vector<std::size_t> indexes) {
            s.controls().set_missing_bar_values(std::move(symbol), field, std::move(indexes));
          },
          py::arg("symbol"), py::arg("field"), py::arg("indexes"),
          "Bars of `symbol` report `field` missing at these indexes of their request.")
      .def(
          "advance",
          [](Simulator& s, double seconds) {
            s.driver().advance(std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9)));
          },
          py::arg("seconds"), Release(),
          "Moves the manual clock on and returns once everything due by then was fired.")
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
          "Fires an exact quote batch, a list of (type name, price, volume), e.g. "
          "[('qtBid', 6050.0, 3)].")
      .def(
          "drop_gateway", [](Simulator& s) { s.driver().drop_gateway(); }, Release())
      .def(
          "restore_gateway", [](Simulator& s) { s.driver().restore_gateway(); }, Release())
      .def(
          "drop_data", [](Simulator& s) { s.driver().drop_data(); }, Release())
      .def(
          "restore_data", [](Simulator& s) { s.driver().restore_data(); }, Release())
      .def_property_readonly("startup_calls",
                             [](Simulator& s) { return s.driver().startup_calls(); });
  def_answer<&cqgsim::SimControls::set_instrument_resolution>(cls, "set_instrument_resolution");
  def_answer<&cqgsim::SimControls::set_account_reload>(cls, "set_account_reload");
  def_answer<&cqgsim::SimControls::set_ticks_resolution>(cls, "set_ticks_resolution");
  def_answer<&cqgsim::SimControls::set_bars_resolution>(cls, "set_bars_resolution");
}

}  // namespace orbrix::python
