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
#include "orbrix/common/durations.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "seconds.hpp"
#include "typed_object.hpp"

namespace orbrix::python {

namespace {

using cqg::BrokerLink;
using Release = py::call_guard<Interruptible>;

void bind_event(py::module_& m) {
  py::class_<automation::Event, std::unique_ptr<automation::Event, py::nodelete>>(
      m, "Event",
      "A flag shared between threads: the link's eventGatewayIsUp, eventOrderPlaced and the "
      "others. The API host's worker sets them when the vendor answers; any thread may set, "
      "clear, test and wait on them. Owned by the link, which the property that handed one "
      "out keeps alive.")
      .def("is_set", &automation::Event::is_set, "Whether the event is set. Any thread.")
      .def("set", &automation::Event::set,
           "Sets the event, releasing every waiter; setting a set event changes nothing.")
      .def("clear", &automation::Event::clear, "Clears the event. Any thread.")
      .def(
          "wait",
          [](const automation::Event& e, double seconds) {
            if (std::isnan(seconds)) {
              throw py::value_error("Event.wait: seconds is NaN");
            }
            if (!(seconds > 0)) {
              return e.is_set();
            }
            return wait_interruptibly(
                e, deadline_after<std::chrono::steady_clock>(
                       std::chrono::steady_clock::now(), std::chrono::duration<double>(seconds)));
          },
          py::arg("seconds"),
          "Waits up to `seconds` for the event; returns whether it is set (at once when it "
          "already is). 0 or less tests without waiting; math.inf, or anything beyond the "
          "clock's range, waits without limit. Any thread; releases the GIL while it waits. "
          "Ctrl-C ends the wait at once with KeyboardInterrupt (whatever a signal handler "
          "raises). Raises ValueError for NaN.");
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

// The bars get_subscribe_bars_data hands out, as signatures name them.
struct OptionalBarsName : AnyObjectName {
  static constexpr auto name = py::detail::const_name("Optional[List[") +
                               py::detail::const_name<Bar>() + py::detail::const_name("]]");
};

// What the waiting operations' docstrings say about their waits.
#define ORBRIX_PY_WAITS                                                                   \
  "Engine thread; blocks, with the GIL released, up to the link's timeout (seconds). "    \
  "Ctrl-C ends the wait at once with KeyboardInterrupt, leaving the link usable and the " \
  "request with the vendor, as a time-out would."
#define ORBRIX_PY_ROUND_TRIP \
  "Engine thread; one round trip to the API host's worker (GIL released)."
#define ORBRIX_PY_LINK_ERRORS                                                              \
  " Like every operation, it raises RuntimeError before Init, and DisconnectedError once " \
  "the host's Shutdown has begun."

constexpr const char* kBrokerLinkDoc =
    R"doc(The engine's CQG gateway: every operation on the vendor object CQGCEL.

Made by ApiHost.Init; bind the engine's gateway with Init before anything
else. The usual session: Logon, subscribe_account_and_positions,
subscribe_quote / subscribe_orderbook / subscribe_bar for each symbol,
place_order and cancel_order, the reads, Logoff, then ApiHost.Shutdown.

Threads: call the operations from the engine's own threads (any Python
thread but the hooks). Each runs its vendor calls on the API host's worker
in one hop and releases the GIL meanwhile, so the worker's hooks can run.
Operations that wait for a vendor event (Logon, Logoff, the subscribe...
calls, subscribe_account_and_positions, place_order) raise RuntimeError at
once when called from a hook, where the event could never come.

Waits: each wait for the vendor is bounded by timeout (seconds; TIMEOUT
unless set_timeout changed it). Ctrl-C ends a wait at once with
KeyboardInterrupt; the link stays usable, and what was sent stays sent.

Errors: RuntimeError before Init, for misuse (from a hook, no account
selected) and for a time-out ("GW connection timeout!", "Order placing
timeout!..."); DisconnectedError (a ConnectionError) once the host's
Shutdown has begun, also for an operation waiting then; ValueError for an
invalid value (an order's price or quantity, an unknown account, a
frequency); KeyError when the engine's gateway has no symbol for a
security; the vendor's own errors as RuntimeError (KeyError for a name or
id it does not know).)doc";

constexpr const char* kPlaceOrderDoc =
    R"doc(Places an order on the selected account; returns the vendor's order id.

The id comes once the vendor announces the order; the order's progress
and fills then reach the gateway's process_order and process_deal hooks
(on the API host's worker). The instrument must be subscribed
(subscribe_quote) and an account selected
(subscribe_account_and_positions). Placements are serialised: a second
caller waits for the first.

Engine thread; blocks, with the GIL released, up to the link's timeout
(seconds) for the announcement, after one round trip that sends the
order.

Interrupted or timed out: when Ctrl-C ends the wait (KeyboardInterrupt)
or the time-out passes (RuntimeError "Order placing timeout!"), the order
HAS been sent and may be working at the vendor. Its id and status come
later through process_order; check the orders the gateway reports (or
the positions) before placing it again, or the position may be doubled.
The link stays usable.

Raises, with nothing sent: ValueError for a price the order type uses
that is not finite and above 0 (price of a LIMIT, stop_price of a STOP; a
STOP's price, passed on but unused, may be 0), a quantity that is not a
whole number above 0, an instrument not subscribed, an account the vendor
no longer lists; KeyError when the gateway has no symbol for the
security; RuntimeError before an account is selected, from a hook, and,
with recovery on, while the gateway connection is down. Once sent:
RuntimeError for the time-out above, and the vendor's own errors.
DisconnectedError once the host's Shutdown has begun (an order already
sent may be working then too).)doc";

}  // namespace

void bind_broker_link(py::module_& m) {
  bind_event(m);
  py::class_<BrokerLink, std::shared_ptr<BrokerLink>> cls(
      m, "BrokerLink", py::dynamic_attr(), py::custom_type_setup([](PyHeapTypeObject* heap_type) {
        heap_type->ht_type.tp_clear = &clear_link;
      }),
      kBrokerLinkDoc);
  cls.attr("description") = std::string(BrokerLink::description);
  cls.def(
         "Init",
         [](const py::object& self, BaseGateway& gateway) {
           self.cast<BrokerLink&>().Init(gateway);
           // The gateway's own Python object (pybind11 finds the registered
           // instance).
           py::setattr(self, "_gateway", py::cast(&gateway, py::return_value_policy::reference));
         },
         py::arg("gateway"),
         "Binds the engine's gateway and the API host it carries (set gateway.apiHost first). "
         "Call it once, right after ApiHost.Init: every other operation raises RuntimeError "
         "before it. The link keeps the gateway alive until its host's Shutdown. Any thread; "
         "never blocks. Raises TypeError for an object that is not a BaseGateway.")
      .def_property_readonly(
          "gateway_connected", &BrokerLink::gateway_connected,
          "Whether the vendor last reported the gateway connection up (False before the first "
          "report). Any thread; never blocks.")
      .def(
          "set_timeout",
          [](BrokerLink& l, double s) { l.set_timeout(timeout_millis(s, "set_timeout")); },
          py::arg("seconds"),
          "Sets the bound, in seconds, of every wait for a vendor event: Logon, Logoff, the "
          "subscriptions, the account list and place_order (TIMEOUT, 10 s, unless changed). "
          "math.inf, or anything beyond the clock's range, waits without limit. Any thread; "
          "never blocks. Raises ValueError for NaN or a negative value.")
      .def_property_readonly(
          "timeout", [](const BrokerLink& l) { return seconds_of(l.timeout()); },
          "The bound of every wait for a vendor event, in seconds (math.inf when there is no "
          "limit).")
      .def(
          "set_account_reload_pause",
          [](BrokerLink& l, double s) {
            l.set_account_reload_pause(millis(s, "set_account_reload_pause"));
          },
          py::arg("seconds"),
          "Sets the pause, in seconds, between dropping and restoring the account subscription "
          "in subscribe_account_and_positions (2 s unless changed); a Shutdown or Ctrl-C ends it "
          "early. Any thread; never blocks. Raises ValueError for NaN, a negative value or one "
          "beyond the clock's range (a pause must be finite).")
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
          py::arg("max_attempts") = 10, py::arg("logon_wait") = 0.0, Release(),
          R"doc(Turns on recovery after the vendor reports the gateway connection down without a Logoff.

A supervisor thread of the link then waits first_delay seconds (doubled
before each next attempt, at most max_delay), logs on again with the
credentials of the last Logon, waits up to logon_wait seconds for the up
report (0: the link's timeout; math.inf: no limit), and restores every
subscription (quotes, order books, bars, the account). The gateway's
process_connection hook hears each step (down, reconnecting, up,
restored, gave_up). max_attempts 0 tries for ever. While the connection
is down place_order is refused at once, with nothing sent; orders that
were working are reported by the vendor's events as they come back, and
nothing is placed again.

Engine thread, after Init; once. Never blocks. Raises RuntimeError on a
second call; ValueError for a delay that is not above 0 (or is NaN or
infinite), a negative max_attempts, or a logon_wait that is NaN or
negative.)doc")
      .def_property_readonly("recovery_enabled", &BrokerLink::recovery_enabled,
                             "Whether enable_recovery turned recovery on. Any thread.")
      // connection
      .def("Logon", &BrokerLink::Logon, py::arg("user_name"), py::arg("password"), Release(),
           "Logs on to the vendor's gateway and waits until the vendor reports it up; returns "
           "at once when it has been reported up before. " ORBRIX_PY_WAITS
           " Raises RuntimeError 'GW connection timeout!' when no up report comes in time, and "
           "the vendor's errors." ORBRIX_PY_LINK_ERRORS)
      .def("Logoff", &BrokerLink::Logoff, Release(),
           "Logs off and waits until the vendor reports the gateway down; without a selected "
           "account, or when the account is not found, it still logs off and says so in its "
           "last line. " ORBRIX_PY_WAITS
           " Raises RuntimeError 'GW disconnection timeout!' when no down report comes in time, "
           "and the vendor's errors." ORBRIX_PY_LINK_ERRORS)
      .def("get_account_from_gwaccountid", &BrokerLink::get_account_from_gwaccountid,
           py::arg("GWAccountID"), Release(),
           "The vendor account with this GWAccountID, as a VendorObject (null and falsy when "
           "none is); writes one line per account visited. " ORBRIX_PY_ROUND_TRIP)
      // quotes, order book, bars
      .def("get_instrument_from_cqg_symbol", &BrokerLink::get_instrument_from_cqg_symbol,
           py::arg("cqg_symbol"), Release(),
           "The first subscribed instrument whose full name contains cqg_symbol, as a "
           "VendorObject (null and falsy when none is). " ORBRIX_PY_ROUND_TRIP)
      .def("subscribe_quote", &BrokerLink::subscribe_quote, py::arg("cqg_symbol"), Release(),
           "Subscribes the symbol's quotes and waits for the vendor to resolve it. Its quotes "
           "then reach cqg_quotes and process_quote, for the security the gateway maps the "
           "symbol to. A resolution error or a time-out is not raised: the gateway's "
           "process_subscription_failure hook hears it. " ORBRIX_PY_WAITS ORBRIX_PY_LINK_ERRORS)
      .def("unsubscribe_quote", &BrokerLink::unsubscribe_quote, py::arg("cqg_symbol"), Release(),
           "Removes the instrument found for cqg_symbol (nothing when none is); its late events "
           "are dropped. " ORBRIX_PY_ROUND_TRIP)
      .def("get_ticks_from_cqg_symbol", &BrokerLink::get_ticks_from_cqg_symbol,
           py::arg("cqg_symbol"), Release(),
           "The first live tick collection whose request symbol contains cqg_symbol, as a "
           "VendorObject (null and falsy when none is). " ORBRIX_PY_ROUND_TRIP)
      .def("subscribe_orderbook", &BrokerLink::subscribe_orderbook, py::arg("cqg_symbol"),
           Release(),
           "Requests the symbol's ticks (the first order book level) and waits for the vendor "
           "to resolve the request. The book then reaches cqg_orderbooks and process_orderbook. "
           "A resolution error or a time-out is not raised: process_subscription_failure hears "
           "it. " ORBRIX_PY_WAITS ORBRIX_PY_LINK_ERRORS)
      .def("unsubscribe_orderbook", &BrokerLink::unsubscribe_orderbook, py::arg("cqg_symbol"),
           Release(),
           "Removes the tick request found for cqg_symbol (nothing when none "
           "is). " ORBRIX_PY_ROUND_TRIP)
      .def("get_timedbars_from_cqg_symbol", &BrokerLink::get_timedbars_from_cqg_symbol,
           py::arg("cqg_symbol"), Release(),
           "The first live timed-bars collection whose request symbol contains cqg_symbol, as a "
           "VendorObject (null and falsy when none is). " ORBRIX_PY_ROUND_TRIP)
      .def("subscribe_bar", &BrokerLink::subscribe_bar, py::arg("cqg_symbol"),
           py::arg("lookback_period"), py::arg("freq") = "1Min", Release(),
           "Requests the symbol's last lookback_period bars of freq ('1Min' or '1Day') and the "
           "ones to come, and waits for the vendor to resolve the request; read them with "
           "get_subscribe_bars_data. A resolution error or a time-out is not raised: "
           "process_subscription_failure hears it. " ORBRIX_PY_WAITS
           " Raises ValueError, with nothing sent, for another frequency or a look-back outside "
           "0..100000." ORBRIX_PY_LINK_ERRORS)
      .def("unsubscribe_bar", &BrokerLink::unsubscribe_bar, py::arg("cqg_symbol"), Release(),
           "Removes the bars request of cqg_symbol and its bars. Never raises: a failure goes to "
           "the safe_call reporter (see set_safe_call_reporter). " ORBRIX_PY_ROUND_TRIP)
      .def(
          "get_subscribe_bars_data",
          [](BrokerLink& l, const Security& security) -> Typed<OptionalBarsName> {
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
          "The security's bars, oldest first, a value the vendor left missing filled from the "
          "bar before (or after); None when it has none. A new list of copies. Any thread; "
          "blocks only for a short lock. Raises ValueError 'The latest bar is INVALID: ...' "
          "when the newest bar lacks a value (the fills made stay).")
      // accounts and positions
      .def("subscribe_account_and_positions", &BrokerLink::subscribe_account_and_positions,
           py::arg("GWAccountID"), Release(),
           "Reloads the vendor's account list and waits for it, selects the account, subscribes "
           "its positions and fills account_balance and positions. Orders go to this account. "
           "Engine thread; blocks, with the GIL released, for the reload pause (2 s unless "
           "set_account_reload_pause changed it) plus up to the link's timeout (seconds). Ctrl-C "
           "ends it at once with KeyboardInterrupt. Raises RuntimeError 'Accounts coming "
           "timeout!' when the list does not come in time, ValueError 'GWAccountID <id> can not "
           "be found!'." ORBRIX_PY_LINK_ERRORS)
      .def("unsubscribe_account_and_positions", &BrokerLink::unsubscribe_account_and_positions,
           py::arg("GWAccountID"), Release(),
           "Drops the account subscription. " ORBRIX_PY_ROUND_TRIP
           " Raises ValueError 'GWAccountID <id> can not be found!'.")
      .def("update_account_balance", &BrokerLink::update_account_balance, Release(),
           "Rebuilds the selected account's balance and publishes it whole, for "
           "account_balance. An error is written (with its time) and not raised; the balance "
           "then reads as a default record. " ORBRIX_PY_ROUND_TRIP)
      .def("update_positions", &BrokerLink::update_positions, Release(),
           "Rebuilds the selected account's positions and publishes the list whole, for "
           "positions; the gateway's get_eng_security_from_cqg_symbol runs here, on this "
           "thread. On an error midway nothing is published (the previous list stays) and the "
           "error is raised. Engine thread; one round trip to the API host's worker, plus one "
           "per position whose symbol the gateway was not yet seen to map (GIL released).")
      .def("account_balance", &BrokerLink::account_balance, Release(),
           "A copy of the balance last published (update_account_balance, "
           "subscribe_account_and_positions); a default record, all 0, before. Any thread; "
           "blocks only for a short lock.")
      .def("positions", &BrokerLink::positions, Release(),
           "A copy of the open positions last published (update_positions, "
           "subscribe_account_and_positions); empty before. Any thread; blocks only for a "
           "short lock.")
      .def("GWAccountID", &BrokerLink::GWAccountID, Release(),
           "The selected account's GWAccountID, or None before subscribe_account_and_positions "
           "selected one. Any thread.")
      // orders
      .def("place_order", &BrokerLink::place_order, py::arg("order"), Release(), kPlaceOrderDoc)
      .def("cancel_order", &BrokerLink::cancel_order, py::arg("orderid"), Release(),
           "Asks the vendor to cancel a placed order, by the id place_order returned, and "
           "returns without waiting: the outcome reaches process_order (CANCELLED, or the "
           "fill that came first). " ORBRIX_PY_ROUND_TRIP
           " Raises the vendor's error for an id it does not know (KeyError from the "
           "simulator)." ORBRIX_PY_LINK_ERRORS)
      .def("set_risk_limits", &BrokerLink::set_risk_limits, py::arg("limits"),
           "Replaces the pre-trade limits every place_order is checked against before anything "
           "is sent (RiskLimits(): none, as before any call). Any thread; never waits. Raises "
           "ValueError for a limit that is not above 0.")
      .def("risk_limits", &BrokerLink::risk_limits, "The limits in force (a copy). Any thread.")
      .def("trading_state", &BrokerLink::trading_state,
           "The TradingState: ACTIVE until halted, set to reduce only, or the daily loss limit "
           "is breached (then REDUCING). Any thread.")
      .def("halt", &BrokerLink::halt, py::arg("reason"), py::arg("cancel_all") = false, Release(),
           "No new order from now on (HALTED); with cancel_all, every working order this link "
           "placed is also cancelled (a cancel the vendor refuses is traced, not raised). The "
           "gateway's process_trading_state hears of it on the worker before this returns. "
           "Engine thread or a hook." ORBRIX_PY_LINK_ERRORS)
      .def("reduce_only", &BrokerLink::reduce_only, py::arg("reason"), Release(),
           "Only orders that bring a position closer to flat from now on (REDUCING); the hook "
           "hears of it as for halt." ORBRIX_PY_LINK_ERRORS)
      .def("resume", &BrokerLink::resume, py::arg("reason") = "resumed", Release(),
           "Back to ACTIVE; the hook hears of it as for halt." ORBRIX_PY_LINK_ERRORS)
      .def("risk_text", &BrokerLink::risk_text,
           "The trading state, the limits and what they are measured against now (working "
           "orders, order-rate tokens, counted positions, the day's P&L), for an operator. Any "
           "thread.")
      .def("order_id", &BrokerLink::order_id, Release(),
           "The id slot of the placement in flight: the vendor's id once announced, else None "
           "(a diagnostic). Any thread.")
      // the hand-overs between the worker and the engine's threads
      .def_property_readonly("eventGatewayIsUp", event_property<&BrokerLink::eventGatewayIsUp>(),
                             "Set by the worker when the vendor reports the gateway connection "
                             "up; the link never clears it.")
      .def_property_readonly("eventGatewayIsDown",
                             event_property<&BrokerLink::eventGatewayIsDown>(),
                             "Set by the worker when the vendor reports the gateway connection "
                             "down; cleared by each log-off before it asks.")
      .def_property_readonly("eventAccountIsReady",
                             event_property<&BrokerLink::eventAccountIsReady>(),
                             "Set by the worker when the vendor's account list has been "
                             "reloaded; the link never clears it.")
      .def_property_readonly("eventOrderPlaced", event_property<&BrokerLink::eventOrderPlaced>(),
                             "Set by the worker when the vendor announces a placed order; "
                             "cleared before each placement.")
      .def_property_readonly("eventQuoteDone", event_property<&BrokerLink::eventQuoteDone>(),
                             "Set by the worker when a quote subscription was resolved; "
                             "cleared before each.")
      .def_property_readonly("eventOrderbookDone",
                             event_property<&BrokerLink::eventOrderbookDone>(),
                             "Set by the worker when a tick request was resolved; cleared "
                             "before each.")
      .def_property_readonly("eventBarDone", event_property<&BrokerLink::eventBarDone>(),
                             "Set by the worker when a bars request was resolved; cleared "
                             "before each.");
}

#undef ORBRIX_PY_WAITS
#undef ORBRIX_PY_ROUND_TRIP
#undef ORBRIX_PY_LINK_ERRORS

}  // namespace orbrix::python
