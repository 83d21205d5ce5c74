// The engine's enumerations and records: value types with the C++ records'
// text forms as repr. Quote and OrderBook are immutable (changed by
// replace(), a copy with changes); Bar, Order, PositionData and
// AccountBalance have writable fields; OrderUpdate and Deal also read like
// the maps the hooks hand over (update["status"], keys(), items()).

#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bindings.hpp"
#include "datetime_caster.hpp"
#include "orbrix/core/balance.hpp"
#include "orbrix/core/bar.hpp"
#include "orbrix/core/connection_events.hpp"
#include "orbrix/core/order.hpp"
#include "orbrix/core/order_book.hpp"
#include "orbrix/core/order_events.hpp"
#include "orbrix/core/position.hpp"
#include "orbrix/core/quote.hpp"
#include "orbrix/core/trading_state.hpp"
#include "orbrix/cqg/risk_limits.hpp"
#include "security_object.hpp"
#include "typed_object.hpp"

namespace orbrix::python {

namespace {

template <class Record, class Class>
void value_members(Class& cls) {
  cls.def(py::self == py::self)
      .def(py::self != py::self)
      .def("__repr__", [](const Record& r) { return to_text(r); })
      .def("__copy__", [](const Record& r) { return Record(r); })
      .def("__deepcopy__", [](const Record& r, const py::object&) { return Record(r); });
}

// A readable and writable `security` field: read as the record of its kind.
template <class Record, class Class>
void security_field(Class& cls) {
  cls.def_property(
      "security", [](const Record& r) { return ObjectOf<Security>(security_to_py(r.security)); },
      [](Record& r, const Security& s) { r.security = s; },
      "The security record, read as the class of its kind (Futures, Stock, ...).");
}

// Pickling by fields: the state is a dict of the constructor's keyword
// arguments and the fields set after construction, and unpickling calls the
// class with them, so every record keeps its kind and values across a
// process boundary (a sweep's workers send them back).
template <class Record, class Class>
void pickled_by_fields(Class& cls, std::vector<const char*> constructor_fields,
                       std::vector<const char*> set_fields = {}) {
  cls.def(py::pickle(
      [constructor_fields, set_fields](const py::object& self) {
        py::dict arguments;
        for (const char* name : constructor_fields) {
          arguments[name] = self.attr(name);
        }
        py::dict fields;
        for (const char* name : set_fields) {
          fields[name] = self.attr(name);
        }
        return py::make_tuple(arguments, fields);
      },
      [](const py::tuple& state) {
        const py::object record = py::type::of<Record>()(**state[0].cast<py::dict>());
        for (const auto& [name, value] : state[1].cast<py::dict>()) {
          py::setattr(record, name, value);
        }
        return record.cast<Record>();
      }));
}

// The types the mapping views hand out, as signatures name them.
struct StrIteratorName : AnyObjectName {
  static constexpr auto name = py::detail::const_name("Iterator[str]");
};
struct OrderUpdateValueName : AnyObjectName {
  static constexpr auto name = py::detail::const_name("Union[str, datetime.datetime, float, ") +
                               py::detail::const_name<OrderStatus>() + py::detail::const_name("]");
};
struct DealValueName : AnyObjectName {
  static constexpr auto name = py::detail::const_name("Union[str, datetime.datetime, float]");
};

// The mapping view of an event record with a fixed list of keys; `Value`
// names the type of its values in the signatures.
template <class Record, class Value, class Class>
void mapping_members(Class& cls) {
  using ValueObject = Typed<Value>;
  cls.def_static(
         "keys",
         [] {
           std::vector<std::string> out;
           for (const auto key : Record::keys) {
             out.emplace_back(key);
           }
           return out;
         },
         "The record's keys, in their fixed order (the field names).")
      .def(
          "__getitem__",
          [](const py::object& self, const std::string& key) {
            for (const auto k : Record::keys) {
              if (k == key) {
                return ValueObject(self.attr(key.c_str()));
              }
            }
            throw py::key_error(key);
          },
          "The field `key` names; KeyError for a name that is not one of keys().")
      .def("__len__", [](const Record&) { return Record::keys.size(); })
      .def(
          "__iter__",
          [](const py::object&) {
            return Typed<StrIteratorName>(py::iter(py::type::of<Record>().attr("keys")()));
          },
          "Iterates over keys().")
      .def(
          "items",
          [](const py::object& self) {
            std::vector<std::pair<std::string, ValueObject>> out;
            for (const auto k : Record::keys) {
              const std::string key(k);
              out.emplace_back(key, self.attr(key.c_str()));
            }
            return out;
          },
          "(key, value) pairs of every field, in the order of keys().");
}

void bind_enums(py::module_& m) {
  py::enum_<Exchange>(m, "Exchange", "The exchange of a security record.")
      .value("SMART", Exchange::SMART, "Smart routing; the default of Futures.")
      .value("IDEALPRO", Exchange::IDEALPRO, "The default of Currency and Commodity.")
      .value("SEHK", Exchange::SEHK, "Hong Kong; the default of Stock.")
      .def_property_readonly(
          "text", [](Exchange e) { return to_text(e); },
          "The member's name as text ('SMART'), as messages and records write it.");
  py::enum_<Direction>(m, "Direction", "The side of an order or a position.")
      .value("LONG", Direction::LONG, "Buy; a long position.")
      .value("SHORT", Direction::SHORT, "Sell; a short position.");
  py::enum_<OrderType>(m, "OrderType", "How an order is priced.")
      .value("LIMIT", OrderType::LIMIT, "At Order.price or better.")
      .value("MARKET", OrderType::MARKET, "At the market; no price.")
      .value("STOP", OrderType::STOP, "A market order once the market reaches Order.stop_price.");
  py::enum_<OrderStatus>(m, "OrderStatus", "An order's state, as the gateway reports it.")
      .value("UNKNOWN", OrderStatus::UNKNOWN,
             "Not working yet or in a change: in transit, parked, being modified or cancelled.")
      .value("SUBMITTED", OrderStatus::SUBMITTED,
             "Working in the order book (partly filled included).")
      .value("FILLED", OrderStatus::FILLED, "Filled in full (or the fill was busted).")
      .value("CANCELLED", OrderStatus::CANCELLED, "Cancelled.")
      .value("FAILED", OrderStatus::FAILED,
             "Rejected, expired, or lost (disconnected, timed out in transit).");
}

void bind_quote(py::module_& m) {
  py::class_<Quote> cls(m, "Quote", R"doc(The latest quote of one security.

The gateway keeps one per subscribed security in BaseGateway.cqg_quotes
and hands a copy to process_quote after each change. Immutable: replace
makes a changed copy. Compares by value, copies and pickles.

Fields (keywords of the constructor; security and datetime are required):
  security          the security record, as the class of its kind
  exchange          its exchange, or None
  datetime          when the gateway applied the latest change: this
                    machine's local wall-clock time, naive, to the
                    microsecond
  last_price        the last trade price
  bid_price         the best bid
  ask_price         the best ask
  open_price        the session's opening price
  high_price        the session's high
  low_price         the session's low
  prev_close_price  the previous session's closing price
Prices are in the instrument's price units; 0 until the vendor quotes one.)doc");
  cls.def(py::init([](const Security& security, std::optional<Exchange> exchange, DateTime datetime,
                      double last, double bid, double ask, double open, double high, double low,
                      double prev_close) {
            return Quote(QuoteFields{security, exchange, datetime, last, bid, ask, open, high, low,
                                     prev_close});
          }),
          py::kw_only(), py::arg("security"), py::arg("exchange") = py::none(), py::arg("datetime"),
          py::arg("last_price") = 0.0, py::arg("bid_price") = 0.0, py::arg("ask_price") = 0.0,
          py::arg("open_price") = 0.0, py::arg("high_price") = 0.0, py::arg("low_price") = 0.0,
          py::arg("prev_close_price") = 0.0)
      .def_property_readonly(
          "security",
          [](const Quote& q) { return ObjectOf<Security>(security_to_py(q.security())); },
          "The security record, read as the class of its kind (Futures, Stock, ...).")
      .def_property_readonly("exchange", &Quote::exchange)
      .def_property_readonly("datetime", &Quote::datetime,
                             "When the gateway applied the latest change (local time, naive).")
      .def_property_readonly("last_price", &Quote::last_price)
      .def_property_readonly("bid_price", &Quote::bid_price)
      .def_property_readonly("ask_price", &Quote::ask_price)
      .def_property_readonly("open_price", &Quote::open_price)
      .def_property_readonly("high_price", &Quote::high_price)
      .def_property_readonly("low_price", &Quote::low_price)
      .def_property_readonly("prev_close_price", &Quote::prev_close_price,
                             "The previous session's closing price.")
      .def(
          "replace",
          [](const Quote& q, std::optional<double> last, std::optional<double> bid,
             std::optional<double> ask, std::optional<double> open, std::optional<double> high,
             std::optional<double> low, std::optional<double> prev_close,
             std::optional<DateTime> datetime) {
            return q.with({last, bid, ask, open, high, low, prev_close, datetime});
          },
          "A copy with the fields given changed (those left None are copied); this record is "
          "left as it is.",
          py::kw_only(), py::arg("last_price") = py::none(), py::arg("bid_price") = py::none(),
          py::arg("ask_price") = py::none(), py::arg("open_price") = py::none(),
          py::arg("high_price") = py::none(), py::arg("low_price") = py::none(),
          py::arg("prev_close_price") = py::none(), py::arg("datetime") = py::none());
  value_members<Quote>(cls);
  pickled_by_fields<Quote>(
      cls, {"security", "exchange", "datetime", "last_price", "bid_price", "ask_price",
            "open_price", "high_price", "low_price", "prev_close_price"});
}

void bind_order_book(py::module_& m) {
  py::class_<OrderBook> cls(m, "OrderBook", R"doc(The first level of one security's order book.

The gateway keeps one per subscribed security in
BaseGateway.cqg_orderbooks and hands a copy to process_orderbook after each
change. Immutable: replace makes a changed copy. Compares by value, copies
and pickles.

Fields (keywords of the constructor; security and datetime are required):
  security      the security record, as the class of its kind
  exchange      its exchange, or None
  datetime      when the gateway applied the latest change: this machine's
                local wall-clock time, naive, to the microsecond
  bid_price_1   the best bid price
  ask_price_1   the best ask price
  bid_volume_1  the size shown at the best bid, in contracts (lots)
  ask_volume_1  the size shown at the best ask, in contracts (lots)
A level the vendor has not reported reads 0.)doc");
  cls.def(py::init([](const Security& security, std::optional<Exchange> exchange, DateTime datetime,
                      double bid, double ask, double bid_volume, double ask_volume) {
            return OrderBook(
                OrderBookFields{security, exchange, datetime, bid, ask, bid_volume, ask_volume});
          }),
          py::kw_only(), py::arg("security"), py::arg("exchange") = py::none(), py::arg("datetime"),
          py::arg("bid_price_1") = 0.0, py::arg("ask_price_1") = 0.0, py::arg("bid_volume_1") = 0.0,
          py::arg("ask_volume_1") = 0.0)
      .def_property_readonly(
          "security",
          [](const OrderBook& b) { return ObjectOf<Security>(security_to_py(b.security())); },
          "The security record, read as the class of its kind (Futures, Stock, ...).")
      .def_property_readonly("exchange", &OrderBook::exchange)
      .def_property_readonly("datetime", &OrderBook::datetime,
                             "When the gateway applied the latest change (local time, naive).")
      .def_property_readonly("bid_price_1", &OrderBook::bid_price_1, "The best bid price.")
      .def_property_readonly("ask_price_1", &OrderBook::ask_price_1, "The best ask price.")
      .def_property_readonly("bid_volume_1", &OrderBook::bid_volume_1,
                             "The size shown at the best bid, in contracts.")
      .def_property_readonly("ask_volume_1", &OrderBook::ask_volume_1,
                             "The size shown at the best ask, in contracts.")
      .def(
          "replace",
          [](const OrderBook& b, std::optional<double> bid, std::optional<double> ask,
             std::optional<double> bid_volume, std::optional<double> ask_volume,
             std::optional<DateTime> datetime) {
            return b.with({bid, ask, bid_volume, ask_volume, datetime});
          },
          "A copy with the fields given changed (those left None are copied); this record is "
          "left as it is.",
          py::kw_only(), py::arg("bid_price_1") = py::none(), py::arg("ask_price_1") = py::none(),
          py::arg("bid_volume_1") = py::none(), py::arg("ask_volume_1") = py::none(),
          py::arg("datetime") = py::none());
  value_members<OrderBook>(cls);
  pickled_by_fields<OrderBook>(cls, {"security", "exchange", "datetime", "bid_price_1",
                                     "ask_price_1", "bid_volume_1", "ask_volume_1"});
}

void bind_bar_order_position(py::module_& m) {
  py::class_<Bar> bar(m, "Bar", R"doc(One timed bar of a security.

BrokerLink.get_subscribe_bars_data returns a subscribed security's bars,
oldest first. Fields are writable; compares by value, copies and pickles.

Fields (keywords of the constructor; datetime and security are required):
  datetime  the vendor's time stamp of the bar: naive, whole seconds
  security  the security record, as the class of its kind
  open      the first trade price of the bar
  high      the highest trade price
  low       the lowest trade price
  close     the last trade price
  volume    contracts traded in the bar
A value the vendor left missing is filled from the bar before (or, for the
first bars, after) before the bars are handed out.)doc");
  bar.def(py::init([](DateTime datetime, const Security& security, double open, double high,
                      double low, double close, double volume) {
            return Bar{datetime, security, open, high, low, close, volume};
          }),
          py::kw_only(), py::arg("datetime"), py::arg("security"), py::arg("open") = 0.0,
          py::arg("high") = 0.0, py::arg("low") = 0.0, py::arg("close") = 0.0,
          py::arg("volume") = 0.0)
      .def_readwrite("datetime", &Bar::datetime, "The vendor's time stamp of the bar (naive).")
      .def_readwrite("open", &Bar::open)
      .def_readwrite("high", &Bar::high)
      .def_readwrite("low", &Bar::low)
      .def_readwrite("close", &Bar::close)
      .def_readwrite("volume", &Bar::volume, "Contracts traded in the bar.");
  security_field<Bar>(bar);
  value_members<Bar>(bar);
  pickled_by_fields<Bar>(bar, {"datetime", "security", "open", "high", "low", "close", "volume"});

  py::class_<Order> order(m, "Order",
                          R"doc(An order as the engine builds it for BrokerLink.place_order.

security, order_type, direction and quantity are required; the prices
default to 0. Fields are writable; compares by value, copies and pickles.

Fields:
  security    the security record, as the class of its kind; it must be
              subscribed (BrokerLink.subscribe_quote) before it is placed
  order_type  LIMIT, MARKET or STOP
  direction   LONG (buy) or SHORT (sell)
  quantity    contracts (lots): a whole number above 0
  price       the limit price of a LIMIT order, on the instrument's tick
              grid; not used by MARKET and STOP orders
  stop_price  the trigger price of a STOP order, on the tick grid
  order_id    the vendor's order id once placed; '' before (the engine's
              own record: place_order returns the id, it does not set it)
  status      the engine's view of its state; UNKNOWN until the engine
              sets it)doc");
  order
      .def(py::init<Security, OrderType, Direction, double, double, double>(), py::arg("security"),
           py::arg("order_type"), py::arg("direction"), py::arg("quantity"), py::arg("price") = 0.0,
           py::arg("stop_price") = 0.0)
      .def_readwrite("order_type", &Order::order_type)
      .def_readwrite("direction", &Order::direction)
      .def_readwrite("quantity", &Order::quantity, "Contracts (lots); a whole number above 0.")
      .def_readwrite("price", &Order::price, "The limit price of a LIMIT order.")
      .def_readwrite("stop_price", &Order::stop_price, "The trigger price of a STOP order.")
      .def_readwrite("order_id", &Order::order_id, "The vendor's order id once placed; '' before.")
      .def_readwrite("status", &Order::status);
  security_field<Order>(order);
  value_members<Order>(order);
  pickled_by_fields<Order>(
      order, {"security", "order_type", "direction", "quantity", "price", "stop_price"},
      {"order_id", "status"});

  py::class_<PositionData> position(m, "PositionData",
                                    R"doc(One open position of the trading account.

BrokerLink.positions returns the list the last update_positions built.
Fields are writable; compares by value, copies and pickles.

Fields (keywords of the constructor; security is required):
  security       the security record, as the class of its kind
  direction      LONG or SHORT
  holding_price  the position's average price, in the instrument's price
                 units
  quantity       contracts held, never negative (the side is direction)
  update_time    when the gateway read the position: this machine's local
                 wall-clock time, naive)doc");
  position
      .def(py::init([](const Security& security, Direction direction, double holding_price,
                       double quantity, DateTime update_time) {
             return PositionData{security, direction, holding_price, quantity, update_time};
           }),
           py::kw_only(), py::arg("security"), py::arg("direction") = Direction::LONG,
           py::arg("holding_price") = 0.0, py::arg("quantity") = 0.0,
           py::arg("update_time") = DateTime{})
      .def_readwrite("direction", &PositionData::direction)
      .def_readwrite("holding_price", &PositionData::holding_price, "The position's average price.")
      .def_readwrite("quantity", &PositionData::quantity,
                     "Contracts held, never negative (the side is direction).")
      .def_readwrite("update_time", &PositionData::update_time,
                     "When the gateway read the position (local time, naive).");
  security_field<PositionData>(position);
  value_members<PositionData>(position);
  pickled_by_fields<PositionData>(
      position, {"security", "direction", "holding_price", "quantity", "update_time"});

  py::class_<AccountBalance> balance(m, "AccountBalance", R"doc(The trading account's balance.

BrokerLink.account_balance returns the one the last
update_account_balance built (a default record, all 0, before one or
after a failed one). Made with no arguments and filled field by field;
compares by value, copies and pickles.

Fields (amounts in the account's currency):
  cash                the account's balance
  cash_by_currency    balance by currency code; None (CQG reports none)
  available_cash      the balance less the collateral in use
  max_power_short     buying power for short positions; None (CQG reports
                      none)
  net_cash_power      the net liquidating value
  maintenance_margin  the margin the open positions hold
  realized_pnl        profit and loss of closed trades
  unrealized_pnl      profit and loss of open positions at the market)doc");
  balance.def(py::init<>())
      .def_readwrite("cash", &AccountBalance::cash)
      .def_readwrite("cash_by_currency", &AccountBalance::cash_by_currency,
                     "The balance by currency code; None (CQG reports none).")
      .def_readwrite("available_cash", &AccountBalance::available_cash,
                     "The balance less the collateral in use.")
      .def_readwrite("max_power_short", &AccountBalance::max_power_short,
                     "Buying power for short positions; None (CQG reports none).")
      .def_readwrite("net_cash_power", &AccountBalance::net_cash_power,
                     "The net liquidating value.")
      .def_readwrite("maintenance_margin", &AccountBalance::maintenance_margin)
      .def_readwrite("realized_pnl", &AccountBalance::realized_pnl)
      .def_readwrite("unrealized_pnl", &AccountBalance::unrealized_pnl);
  value_members<AccountBalance>(balance);
  pickled_by_fields<AccountBalance>(
      balance, {},
      {"cash", "cash_by_currency", "available_cash", "max_power_short", "net_cash_power",
       "maintenance_margin", "realized_pnl", "unrealized_pnl"});
}

void bind_order_events(py::module_& m) {
  py::class_<OrderUpdate> update(m, "OrderUpdate",
                                 R"doc(A status update of an order, handed to process_order.

Reads as a record (update.status) and as a mapping with fixed keys
(update["status"], keys(), items(), iteration, len). Fields are writable;
compares by value, copies and pickles.

Fields (keywords of the constructor; order_id is required):
  order_id          the vendor's order id (as place_order returned it)
  updated_time      the vendor's time of the change: naive, whole seconds
  filled_avg_price  the average price of the fills so far, 0 without one
  filled_quantity   contracts filled so far
  status            the order's state after the change)doc");
  update
      .def(py::init([](std::string order_id, DateTime updated_time, double filled_avg_price,
                       double filled_quantity, OrderStatus status) {
             return OrderUpdate{std::move(order_id), updated_time, filled_avg_price,
                                filled_quantity, status};
           }),
           py::kw_only(), py::arg("order_id"), py::arg("updated_time") = DateTime{},
           py::arg("filled_avg_price") = 0.0, py::arg("filled_quantity") = 0.0,
           py::arg("status") = OrderStatus::UNKNOWN)
      .def_readwrite("order_id", &OrderUpdate::order_id)
      .def_readwrite("updated_time", &OrderUpdate::updated_time,
                     "The vendor's time of the change (naive, whole seconds).")
      .def_readwrite("filled_avg_price", &OrderUpdate::filled_avg_price,
                     "The average price of the fills so far.")
      .def_readwrite("filled_quantity", &OrderUpdate::filled_quantity, "Contracts filled so far.")
      .def_readwrite("status", &OrderUpdate::status);
  value_members<OrderUpdate>(update);
  pickled_by_fields<OrderUpdate>(
      update, {"order_id", "updated_time", "filled_avg_price", "filled_quantity", "status"});
  mapping_members<OrderUpdate, OrderUpdateValueName>(update);

  py::class_<Deal> deal(m, "Deal", R"doc(An execution (fill), handed to process_deal.

Reads as a record (deal.deal_id) and as a mapping with fixed keys
(deal["deal_id"], keys(), items(), iteration, len). Fields are writable;
compares by value, copies and pickles.

Fields (keywords of the constructor; deal_id and order_id are required):
  deal_id           the vendor's id of the fill
  order_id          the vendor's id of the order filled
  updated_time      the vendor's time of the fill: naive, whole seconds
  filled_avg_price  the price of this fill
  filled_quantity   contracts filled by it)doc");
  deal.def(py::init([](std::string deal_id, std::string order_id, DateTime updated_time,
                       double filled_avg_price, double filled_quantity) {
             return Deal{std::move(deal_id), std::move(order_id), updated_time, filled_avg_price,
                         filled_quantity};
           }),
           py::kw_only(), py::arg("deal_id"), py::arg("order_id"),
           py::arg("updated_time") = DateTime{}, py::arg("filled_avg_price") = 0.0,
           py::arg("filled_quantity") = 0.0)
      .def_readwrite("deal_id", &Deal::deal_id)
      .def_readwrite("order_id", &Deal::order_id)
      .def_readwrite("updated_time", &Deal::updated_time,
                     "The vendor's time of the fill (naive, whole seconds).")
      .def_readwrite("filled_avg_price", &Deal::filled_avg_price, "The price of this fill.")
      .def_readwrite("filled_quantity", &Deal::filled_quantity, "Contracts filled by it.");
  value_members<Deal>(deal);
  pickled_by_fields<Deal>(
      deal, {"deal_id", "order_id", "updated_time", "filled_avg_price", "filled_quantity"});
  mapping_members<Deal, DealValueName>(deal);
}

void bind_connection_events(py::module_& m) {
  py::class_<ConnectionEvent> event(
      m, "ConnectionEvent", R"doc(What the gateway tells process_connection about its connection.

Read-only; compares by value, copies and pickles.

Fields (keywords of the constructor; state is required):
  state          up or down as the vendor reported it; with recovery on
                 (BrokerLink.enable_recovery) also reconnecting, restored
                 and gave_up
  vendor_status  up, down: the vendor's connection status value; else 0
  attempt        reconnecting: this attempt (1 for the first); gave_up:
                 the attempts made; else 0)doc");
  py::enum_<ConnectionEvent::State>(event, "State", "The step ConnectionEvent reports.")
      .value("up", ConnectionEvent::State::up, "The vendor reported the gateway connection up.")
      .value("down", ConnectionEvent::State::down, "The vendor reported it down.")
      .value("reconnecting", ConnectionEvent::State::reconnecting,
             "Recovery logs on again (attempt N).")
      .value("restored", ConnectionEvent::State::restored,
             "Recovery restored every subscription after an up report.")
      .value("gave_up", ConnectionEvent::State::gave_up, "Recovery stopped after N attempts.");
  event
      .def(py::init([](ConnectionEvent::State state, std::int64_t vendor_status, int attempt) {
             return ConnectionEvent{state, vendor_status, attempt};
           }),
           py::kw_only(), py::arg("state"), py::arg("vendor_status") = 0, py::arg("attempt") = 0)
      .def_readonly("state", &ConnectionEvent::state)
      .def_readonly("vendor_status", &ConnectionEvent::vendor_status,
                    "The vendor's connection status value of an up or down report.")
      .def_readonly("attempt", &ConnectionEvent::attempt,
                    "The attempt of reconnecting (from 1), or the attempts made of gave_up.");
  value_members<ConnectionEvent>(event);
  pickled_by_fields<ConnectionEvent>(event, {"state", "vendor_status", "attempt"});

  py::class_<SubscriptionFailure> failure(
      m, "SubscriptionFailure",
      R"doc(A subscription the vendor did not resolve, handed to process_subscription_failure.

Read-only; compares by value, copies and pickles.

Fields (keywords of the constructor, all required):
  kind    quote, ticks (the order book) or bars
  symbol  the vendor symbol subscribed
  error   the vendor's error text, or 'no answer in N s' after the
          gateway's time-out)doc");
  py::enum_<SubscriptionFailure::Kind>(failure, "Kind", "The kind of subscription that failed.")
      .value("quote", SubscriptionFailure::Kind::quote, "BrokerLink.subscribe_quote.")
      .value("ticks", SubscriptionFailure::Kind::ticks, "BrokerLink.subscribe_orderbook.")
      .value("bars", SubscriptionFailure::Kind::bars, "BrokerLink.subscribe_bar.");
  failure
      .def(py::init([](SubscriptionFailure::Kind kind, std::string symbol, std::string error) {
             return SubscriptionFailure{kind, std::move(symbol), std::move(error)};
           }),
           py::kw_only(), py::arg("kind"), py::arg("symbol"), py::arg("error"))
      .def_readonly("kind", &SubscriptionFailure::kind)
      .def_readonly("symbol", &SubscriptionFailure::symbol, "The vendor symbol subscribed.")
      .def_readonly("error", &SubscriptionFailure::error,
                    "The vendor's error text, or 'no answer in N s' after a time-out.");
  value_members<SubscriptionFailure>(failure);
  pickled_by_fields<SubscriptionFailure>(failure, {"kind", "symbol", "error"});
}

void bind_risk(py::module_& m) {
  py::enum_<TradingState>(m, "TradingState",
                          "Whether BrokerLink takes new orders (BrokerLink.trading_state).")
      .value("ACTIVE", TradingState::ACTIVE, "Every order the risk limits allow is placed.")
      .value("REDUCING", TradingState::REDUCING,
             "Only an order that brings a position closer to flat is placed.")
      .value("HALTED", TradingState::HALTED, "No new order is placed; cancels still are.");

  py::class_<TradingStateChange> change(
      m, "TradingStateChange",
      R"doc(A change of BrokerLink's trading state, handed to process_trading_state.

Read-only; compares by value, copies and pickles.

Fields (keywords of the constructor, all required):
  state     the new TradingState
  previous  the TradingState before
  reason    the operator's words, or the limit that was breached)doc");
  change
      .def(py::init([](TradingState state, TradingState previous, std::string reason) {
             return TradingStateChange{state, previous, std::move(reason)};
           }),
           py::kw_only(), py::arg("state"), py::arg("previous"), py::arg("reason"))
      .def_readonly("state", &TradingStateChange::state, "The new trading state.")
      .def_readonly("previous", &TradingStateChange::previous, "The trading state before.")
      .def_readonly("reason", &TradingStateChange::reason,
                    "The operator's words, or the limit that was breached.");
  value_members<TradingStateChange>(change);
  pickled_by_fields<TradingStateChange>(change, {"state", "previous", "reason"});

  using cqg::RiskLimits;
  py::class_<RiskLimits> limits(
      m, "RiskLimits",
      R"doc(Pre-trade limits for BrokerLink.set_risk_limits; None (or empty) is no limit.

Every keyword is optional; RiskLimits() checks nothing. Symbols are the
engine's security codes. Compares by value, copies and pickles.

  max_order_qty              largest quantity of one order
  max_order_qty_by_symbol    {symbol: quantity}, before max_order_qty
  max_position               largest absolute position after the order and
                             the working orders of its side would fill
  max_position_by_symbol     {symbol: position}, before max_position
  max_working_orders         most orders working at once, this one included
  max_orders_per_second      submissions per second (a token bucket holding
                             one second's worth)
  price_collar_pct           a limit or stop price at most this % from the
                             mid quote (else the last trade)
  price_collar_ticks         ... and at most this many ticks, for a symbol
                             with a tick size
  tick_size_by_symbol        {symbol: tick size}
  allow_orders_without_quote place collared orders of a symbol with no quote
  max_daily_loss             realized plus open loss of the day beyond which
                             the link turns to REDUCING)doc");
  limits
      .def(py::init([](std::optional<double> max_order_qty,
                       cqg::SymbolLimits max_order_qty_by_symbol,
                       std::optional<double> max_position, cqg::SymbolLimits max_position_by_symbol,
                       std::optional<std::int64_t> max_working_orders,
                       std::optional<double> max_orders_per_second,
                       std::optional<double> price_collar_pct,
                       std::optional<std::int64_t> price_collar_ticks,
                       cqg::SymbolLimits tick_size_by_symbol, bool allow_orders_without_quote,
                       std::optional<double> max_daily_loss) {
             RiskLimits l;
             l.max_order_qty = max_order_qty;
             l.max_order_qty_by_symbol = std::move(max_order_qty_by_symbol);
             l.max_position = max_position;
             l.max_position_by_symbol = std::move(max_position_by_symbol);
             l.max_working_orders = max_working_orders;
             l.max_orders_per_second = max_orders_per_second;
             l.price_collar_pct = price_collar_pct;
             l.price_collar_ticks = price_collar_ticks;
             l.tick_size_by_symbol = std::move(tick_size_by_symbol);
             l.allow_orders_without_quote = allow_orders_without_quote;
             l.max_daily_loss = max_daily_loss;
             cqg::validate(l);
             return l;
           }),
           py::kw_only(), py::arg("max_order_qty") = py::none(),
           py::arg("max_order_qty_by_symbol") = cqg::SymbolLimits{},
           py::arg("max_position") = py::none(),
           py::arg("max_position_by_symbol") = cqg::SymbolLimits{},
           py::arg("max_working_orders") = py::none(),
           py::arg("max_orders_per_second") = py::none(), py::arg("price_collar_pct") = py::none(),
           py::arg("price_collar_ticks") = py::none(),
           py::arg("tick_size_by_symbol") = cqg::SymbolLimits{},
           py::arg("allow_orders_without_quote") = false, py::arg("max_daily_loss") = py::none(),
           "Raises ValueError naming the field for a limit that is not above 0.")
      .def_readonly("max_order_qty", &RiskLimits::max_order_qty, "Largest quantity of one order.")
      .def_readonly("max_order_qty_by_symbol", &RiskLimits::max_order_qty_by_symbol,
                    "Largest quantity of one order, per symbol.")
      .def_readonly("max_position", &RiskLimits::max_position, "Largest absolute position.")
      .def_readonly("max_position_by_symbol", &RiskLimits::max_position_by_symbol,
                    "Largest absolute position, per symbol.")
      .def_readonly("max_working_orders", &RiskLimits::max_working_orders,
                    "Most orders working at once.")
      .def_readonly("max_orders_per_second", &RiskLimits::max_orders_per_second,
                    "Order submissions per second.")
      .def_readonly("price_collar_pct", &RiskLimits::price_collar_pct,
                    "Price collar in percent of the reference price.")
      .def_readonly("price_collar_ticks", &RiskLimits::price_collar_ticks,
                    "Price collar in ticks (symbols with a tick size).")
      .def_readonly("tick_size_by_symbol", &RiskLimits::tick_size_by_symbol,
                    "Tick size per symbol, for the collar in ticks.")
      .def_readonly("allow_orders_without_quote", &RiskLimits::allow_orders_without_quote,
                    "Whether a collared order of a symbol with no quote is placed.")
      .def_readonly("max_daily_loss", &RiskLimits::max_daily_loss,
                    "Loss of the day beyond which the link turns to REDUCING.")
      .def(py::self == py::self)
      .def(py::self != py::self)
      .def("__repr__",
           [](const RiskLimits& l) {
             std::string text = cqg::risk_limits_text(l);
             std::replace(text.begin(), text.end(), '\n', ';');
             return "RiskLimits(" + text + ")";
           })
      .def("__copy__", [](const RiskLimits& l) { return RiskLimits(l); })
      .def("__deepcopy__", [](const RiskLimits& l, const py::object&) { return RiskLimits(l); });
  pickled_by_fields<RiskLimits>(
      limits,
      {"max_order_qty", "max_order_qty_by_symbol", "max_position", "max_position_by_symbol",
       "max_working_orders", "max_orders_per_second", "price_collar_pct", "price_collar_ticks",
       "tick_size_by_symbol", "allow_orders_without_quote", "max_daily_loss"});
}

}  // namespace

void bind_records(py::module_& m) {
  bind_enums(m);
  bind_securities(m);
  bind_quote(m);
  bind_order_book(m);
  bind_bar_order_position(m);
  bind_order_events(m);
  bind_connection_events(m);
  bind_risk(m);
}

}  // namespace orbrix::python
