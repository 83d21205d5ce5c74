// BrokerLink for Python engines: every operation under the C++ names, each
// run with the GIL released (they wait for vendor events or make round trips
// into the worker, whose hooks take the GIL; even the readers may wait on
// the module's lock, which update_positions holds while it asks the engine
// for symbols). Results are converted after the GIL is taken again.

#include <pybind11/stl.h>

#include <chrono>
#include <string>

#include "bindings.hpp"
#include "datetime_caster.hpp"
#include "host.hpp"
#include "interruptible.hpp"
#include "orbrix/common/deadline.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "seconds.hpp"

namespace orbrix::python {

namespace {

using cqg::BrokerLink;
using Release = py::call_guard<Interruptible>;

void bind_event(py::module_& m) {
  py::class_<automation::Event, std::unique_ptr<automation::Event, py::nodelete>>(m, "Event")
      .def("is_set", &automation::Event::is_set)
      .def("set", &automation::Event::set)
      .def("clear", &automation::Event::clear)
      .def(
          "wait",
          [](const automation::Event& e, double seconds) {
            if (std::isnan(seconds)) {
              throw py::value_error("Event.wait: seconds is NaN");
            }
            if (!(seconds > 0)) {
              return e.is_set();
            }
            return wait_interruptibly(e, deadline_after(std::chrono::duration<double>(seconds)));
          },
          py::arg("seconds"),
          "Waits up to `seconds` for the event; returns whether it is set. 0 or less tests "
          "without waiting; math.inf waits without limit. Ctrl-C (a signal handler's "
          "exception) ends the wait at once.");
}

// The collector clears a link only after shutting down the host it keeps
// (see host.hpp); a backtest's link keeps none.
int clear_link(PyObject* self) {
  try {
    const auto link = py::reinterpret_borrow<py::object>(self).cast<std::shared_ptr<BrokerLink>>();
    if (!shut_down_before_release(host_kept_by_link(link))) {
      return 0;
    }
  } catch (const std::exception& e) {
    cqg::Trace(std::string("BrokerLink: while the collector released a link: ") + e.what());
  }
  return py::detail::pybind11_clear(self);
}

// An event member of the link, read as a property that keeps the link alive.
template <automation::Event BrokerLink::*member>
py::cpp_function event_property() {
  return py::cpp_function([](BrokerLink& l) { return &(l.*member); },
                          py::return_value_policy::reference_internal);
}

}  // namespace

void bind_broker_link(py::module_& m) {
  bind_event(m);
  py::class_<BrokerLink, std::shared_ptr<BrokerLink>> cls(
      m, "BrokerLink", py::dynamic_attr(), py::custom_type_setup([](PyHeapTypeObject* heap_type) {
        heap_type->ht_type.tp_clear = &clear_link;
      }));
  cls.attr("description") = std::string(BrokerLink::description);
  cls.def(
         "Init",
         [](const py::object& self, const py::object& gateway) {
           self.cast<BrokerLink&>().Init(gateway.cast<BaseGateway&>());
           py::setattr(self, "_gateway", gateway);
         },
         py::arg("gateway"),
         "Binds the engine's gateway and the API host it carries; the link keeps the "
         "gateway alive until its host's Shutdown.")
      .def_property_readonly("gateway_connected", &BrokerLink::gateway_connected)
      .def(
          "set_timeout",
          [](BrokerLink& l, double s) { l.set_timeout(timeout_millis(s, "set_timeout")); },
          py::arg("seconds"))
      .def_property_readonly("timeout", [](const BrokerLink& l) { return seconds_of(l.timeout()); })
      .def(
          "set_account_reload_pause",
          [](BrokerLink& l, double s) {
            l.set_account_reload_pause(millis(s, "set_account_reload_pause"));
          },
          py::arg("seconds"))
      .def(
          "enable_recovery",
          [](BrokerLink& l, double first_delay, double max_delay, int max_attempts,
             double logon_wait) {
            l.enable_recovery({.first_delay = millis(first_delay, "first_delay"),
                               .max_delay = millis(max_delay, "max_delay"),
                               .max_attempts = max_attempts,
                               .logon_wait = timeout_millis(logon_wait, "logon_wait")});
          },
          py::kw_only(), py::arg("first_delay") = 1.0, py::arg("max_delay") = 60.0,
          py::arg("max_attempts") = 10, py::arg("logon_wait") = 0.0, Release())
      .def_property_readonly("recovery_enabled", &BrokerLink::recovery_enabled)
      // connection
      .def("Logon", &BrokerLink::Logon, py::arg("user_name"), py::arg("password"), Release())
      .def("Logoff", &BrokerLink::Logoff, Release())
      .def("get_account_from_gwaccountid", &BrokerLink::get_account_from_gwaccountid,
           py::arg("GWAccountID"), Release())
      // quotes, order book, bars
      .def("get_instrument_from_cqg_symbol", &BrokerLink::get_instrument_from_cqg_symbol,
           py::arg("cqg_symbol"), Release())
      .def("subscribe_quote", &BrokerLink::subscribe_quote, py::arg("cqg_symbol"), Release())
      .def("unsubscribe_quote", &BrokerLink::unsubscribe_quote, py::arg("cqg_symbol"), Release())
      .def("get_ticks_from_cqg_symbol", &BrokerLink::get_ticks_from_cqg_symbol,
           py::arg("cqg_symbol"), Release())
      .def("subscribe_orderbook", &BrokerLink::subscribe_orderbook, py::arg("cqg_symbol"),
           Release())
      .def("unsubscribe_orderbook", &BrokerLink::unsubscribe_orderbook, py::arg("cqg_symbol"),
           Release())
      .def("get_timedbars_from_cqg_symbol", &BrokerLink::get_timedbars_from_cqg_symbol,
           py::arg("cqg_symbol"), Release())
      .def("subscribe_bar", &BrokerLink::subscribe_bar, py::arg("cqg_symbol"),
           py::arg("lookback_period"), py::arg("freq") = "1Min", Release())
      .def("unsubscribe_bar", &BrokerLink::unsubscribe_bar, py::arg("cqg_symbol"), Release())
      .def(
          "get_subscribe_bars_data",
          [](BrokerLink& l, const Security& security) -> py::object {
            BrokerLink::BarWindow window;
            {
              const Interruptible released;
              window = l.get_subscribe_bars_data(security);
            }
            if (!window) {
              return py::none();
            }
            py::list out;
            for (const auto& bar : *window) {
              out.append(py::cast(bar));
            }
            return out;
          },
          py::arg("security"),
          "The security's bars, oldest first, missing values repaired; None without any.")
      // accounts and positions
      .def("subscribe_account_and_positions", &BrokerLink::subscribe_account_and_positions,
           py::arg("GWAccountID"), Release())
      .def("unsubscribe_account_and_positions", &BrokerLink::unsubscribe_account_and_positions,
           py::arg("GWAccountID"), Release())
      .def("update_account_balance", &BrokerLink::update_account_balance, Release())
      .def("update_positions", &BrokerLink::update_positions, Release())
      .def("account_balance", &BrokerLink::account_balance, Release())
      .def("positions", &BrokerLink::positions, Release())
      .def("GWAccountID", &BrokerLink::GWAccountID, Release())
      // orders
      .def("place_order", &BrokerLink::place_order, py::arg("order"), Release())
      .def("cancel_order", &BrokerLink::cancel_order, py::arg("orderid"), Release())
      .def("order_id", &BrokerLink::order_id, Release())
      // the hand-overs between the worker and the engine's threads
      .def_property_readonly("eventGatewayIsUp", event_property<&BrokerLink::eventGatewayIsUp>())
      .def_property_readonly("eventGatewayIsDown",
                             event_property<&BrokerLink::eventGatewayIsDown>())
      .def_property_readonly("eventAccountIsReady",
                             event_property<&BrokerLink::eventAccountIsReady>())
      .def_property_readonly("eventOrderPlaced", event_property<&BrokerLink::eventOrderPlaced>())
      .def_property_readonly("eventQuoteDone", event_property<&BrokerLink::eventQuoteDone>())
      .def_property_readonly("eventOrderbookDone",
                             event_property<&BrokerLink::eventOrderbookDone>())
      .def_property_readonly("eventBarDone", event_property<&BrokerLink::eventBarDone>());
}

}  // namespace orbrix::python
