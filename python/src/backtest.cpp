// The backtest run: a Python engine (start, on_timer, stop, its gateway and
// interval) over recorded history on the simulator's clock, and the report.

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>

#include "bindings.hpp"
#include "orbrix/backtest/backtest.hpp"
#include "orbrix/backtest/report.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "seconds.hpp"
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

}  // namespace

void bind_backtest(py::module_& m) {
  py::class_<backtest::BacktestResult>(m, "BacktestResult")
      .def_readonly("history_rows", &backtest::BacktestResult::history_rows)
      .def_readonly("round_trips", &backtest::BacktestResult::round_trips)
      .def_readonly("max_drawdown", &backtest::BacktestResult::max_drawdown)
      .def_readonly("wall_seconds", &backtest::BacktestResult::wall_seconds)
      .def_property_readonly("orders",
                             [](const backtest::BacktestResult& r) { return r.orders.size(); })
      .def_property_readonly(
          "deals",
          [](const backtest::BacktestResult& r) {
            py::list out;
            for (const auto& d : r.deals) {
              out.append(py::dict(py::arg("deal_id") = d.deal_id, py::arg("order_id") = d.order_id,
                                  py::arg("symbol") = d.symbol, py::arg("buy") = d.buy,
                                  py::arg("quantity") = d.quantity, py::arg("price") = d.price,
                                  py::arg("commission") = d.commission));
            }
            return out;
          })
      .def_property_readonly(
          "net_liquidating_value",
          [](const backtest::BacktestResult& r) { return r.account.net_liquidating_value; })
      .def("summary", [](const backtest::BacktestResult& r) { return backtest::summary_text(r); })
      .def("speed", [](const backtest::BacktestResult& r) { return backtest::speed_text(r); })
      .def(
          "write_report",
          [](const backtest::BacktestResult& r, const std::filesystem::path& dir, bool charts) {
            return backtest::write_report(r, dir, {.charts = charts});
          },
          py::arg("dir"), py::arg("charts") = true);

  m.def(
      "run_backtest",
      [](py::object engine, const std::vector<std::pair<std::string, std::string>>& histories,
         py::object start, py::object end, std::uint64_t seed, cqgsim::FillModel fill_model,
         double order_latency, int warm_up_minutes, std::int64_t account) {
        backtest::BacktestOptions o;
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
        o.seed = seed;
        o.fill_model = fill_model;
        o.order_latency = millis(order_latency, "order_latency");
        o.warm_up = std::chrono::minutes(warm_up_minutes);
        o.account = account;
        PyEngine wrapped(std::move(engine));
        py::gil_scoped_release released;
        return backtest::run_backtest(wrapped, o);
      },
      py::arg("engine"), py::arg("histories"), py::arg("start") = py::none(),
      py::arg("end") = py::none(), py::arg("seed") = 1, py::arg("fill_model") = cqgsim::FillModel{},
      py::arg("order_latency") = 0.0, py::arg("warm_up_minutes") = 30, py::arg("account") = 100001,
      "Runs a Python engine (gateway(), start(link), on_timer(link, now), optional stop(link) "
      "and interval() in seconds) over recorded histories [(symbol, path), ...; an empty "
      "symbol for a file with a symbol column] on the simulator's clock; `now` is the "
      "simulated UTC time.");
}

}  // namespace orbrix::python
