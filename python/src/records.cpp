// The engine's enumerations and records: value types with the C++ records'
// text forms as repr. Quote and OrderBook are immutable (changed by
// replace(), a copy with changes); Bar, Order, PositionData and
// AccountBalance have writable fields; OrderUpdate and Deal also read like
// the maps the hooks hand over (update["status"], keys(), items()).

#include <pybind11/operators.h>
#include <pybind11/stl.h>

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
#include "security_object.hpp"

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
      "security", [](const Record& r) { return security_to_py(r.security); },
      [](Record& r, const Security& s) { r.security = s; });
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

// The mapping view of an event record with a fixed list of keys.
template <class Record, class Class>
void mapping_members(Class& cls) {
  cls.def_static("keys",
                 [] {
                   py::list out;
                   for (const auto key : Record::keys) {
                     out.append(py::str(key.data(), key.size()));
                   }
                   return out;
                 })
      .def("__getitem__",
           [](const py::object& self, const std::string& key) {
             for (const auto k : Record::keys) {
               if (k == key) {
                 return self.attr(key.c_str());
               }
             }
             throw py::key_error(key);
           })
      .def("__len__", [](const Record&) { return Record::keys.size(); })
      .def("__iter__",
           [](const py::object&) { return py::iter(py::type::of<Record>().attr("keys")()); })
      .def("items", [](const py::object& self) {
        py::list out;
        for (const auto k : Record::keys) {
          const std::string key(k);
          out.append(py::make_tuple(key, self.attr(key.c_str())));
        }
        return out;
      });
}

void bind_enums(py::module_& m) {
  py::enum_<Exchange>(m, "Exchange")
      .value("SMART", Exchange::SMART)
      .value("IDEALPRO", Exchange::IDEALPRO)
      .value("SEHK", Exchange::SEHK)
      .def_property_readonly("text", [](Exchange e) { return to_text(e); });
  py::enum_<Direction>(m, "Direction")
      .value("LONG", Direction::LONG)
      .value("SHORT", Direction::SHORT);
  py::enum_<OrderType>(m, "OrderType")
      .value("LIMIT", OrderType::LIMIT)
      .value("MARKET", OrderType::MARKET)
      .value("STOP", OrderType::STOP);
  py::enum_<OrderStatus>(m, "OrderStatus")
      .value("UNKNOWN", OrderStatus::UNKNOWN)
      .value("SUBMITTED", OrderStatus::SUBMITTED)
      .value("FILLED", OrderStatus::FILLED)
      .value("CANCELLED", OrderStatus::CANCELLED)
      .value("FAILED", OrderStatus::FAILED);
}

void bind_quote(py::module_& m) {
  py::class_<Quote> cls(m, "Quote");
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
      .def_property_readonly("security",
                             [](const Quote& q) { return security_to_py(q.security()); })
      .def_property_readonly("exchange", &Quote::exchange)
      .def_property_readonly("datetime", &Quote::datetime)
      .def_property_readonly("last_price", &Quote::last_price)
      .def_property_readonly("bid_price", &Quote::bid_price)
      .def_property_readonly("ask_price", &Quote::ask_price)
      .def_property_readonly("open_price", &Quote::open_price)
      .def_property_readonly("high_price", &Quote::high_price)
      .def_property_readonly("low_price", &Quote::low_price)
      .def_property_readonly("prev_close_price", &Quote::prev_close_price)
      .def(
          "replace",
          [](const Quote& q, std::optional<double> last, std::optional<double> bid,
             std::optional<double> ask, std::optional<double> open, std::optional<double> high,
             std::optional<double> low, std::optional<double> prev_close,
             std::optional<DateTime> datetime) {
            return q.with({last, bid, ask, open, high, low, prev_close, datetime});
          },
          "A copy with the given fields changed.", py::kw_only(),
          py::arg("last_price") = py::none(), py::arg("bid_price") = py::none(),
          py::arg("ask_price") = py::none(), py::arg("open_price") = py::none(),
          py::arg("high_price") = py::none(), py::arg("low_price") = py::none(),
          py::arg("prev_close_price") = py::none(), py::arg("datetime") = py::none());
  value_members<Quote>(cls);
  pickled_by_fields<Quote>(
      cls, {"security", "exchange", "datetime", "last_price", "bid_price", "ask_price",
            "open_price", "high_price", "low_price", "prev_close_price"});
}

void bind_order_book(py::module_& m) {
  py::class_<OrderBook> cls(m, "OrderBook");
  cls.def(py::init([](const Security& security, std::optional<Exchange> exchange, DateTime datetime,
                      double bid, double ask, double bid_volume, double ask_volume) {
            return OrderBook(
                OrderBookFields{security, exchange, datetime, bid, ask, bid_volume, ask_volume});
          }),
          py::kw_only(), py::arg("security"), py::arg("exchange") = py::none(), py::arg("datetime"),
          py::arg("bid_price_1") = 0.0, py::arg("ask_price_1") = 0.0, py::arg("bid_volume_1") = 0.0,
          py::arg("ask_volume_1") = 0.0)
      .def_property_readonly("security",
                             [](const OrderBook& b) { return security_to_py(b.security()); })
      .def_property_readonly("exchange", &OrderBook::exchange)
      .def_property_readonly("datetime", &OrderBook::datetime)
      .def_property_readonly("bid_price_1", &OrderBook::bid_price_1)
      .def_property_readonly("ask_price_1", &OrderBook::ask_price_1)
      .def_property_readonly("bid_volume_1", &OrderBook::bid_volume_1)
      .def_property_readonly("ask_volume_1", &OrderBook::ask_volume_1)
      .def(
          "replace",
          [](const OrderBook& b, std::optional<double> bid, std::optional<double> ask,
             std::optional<double> bid_volume, std::optional<double> ask_volume,
             std::optional<DateTime> datetime) {
            return b.with({bid, ask, bid_volume, ask_volume, datetime});
          },
          "A copy with the given fields changed.", py::kw_only(),
          py::arg("bid_price_1") = py::none(), py::arg("ask_price_1") = py::none(),
          py::arg("bid_volume_1") = py::none(), py::arg("ask_volume_1") = py::none(),
          py::arg("datetime") = py::none());
  value_members<OrderBook>(cls);
  pickled_by_fields<OrderBook>(cls, {"security", "exchange", "datetime", "bid_price_1",
                                     "ask_price_1", "bid_volume_1", "ask_volume_1"});
}

void bind_bar_order_position(py::module_& m) {
  py::class_<Bar> bar(m, "Bar");
  bar.def(py::init([](DateTime datetime, const Security& security, double open, double high,
                      double low, double close, double volume) {
            return Bar{datetime, security, open, high, low, close, volume};
          }),
          py::kw_only(), py::arg("datetime"), py::arg("security"), py::arg("open") = 0.0,
          py::arg("high") = 0.0, py::arg("low") = 0.0, py::arg("close") = 0.0,
          py::arg("volume") = 0.0)
      .def_readwrite("datetime", &Bar::datetime)
      .def_readwrite("open", &Bar::open)
      .def_readwrite("high", &Bar::high)
      .def_readwrite("low", &Bar::low)
      .def_readwrite("close", &Bar::close)
      .def_readwrite("volume", &Bar::volume);
  security_field<Bar>(bar);
  value_members<Bar>(bar);
  pickled_by_fields<Bar>(bar, {"datetime", "security", "open", "high", "low", "close", "volume"});

  py::class_<Order> order(m, "Order");
  order
      .def(py::init<Security, OrderType, Direction, double, double, double>(), py::arg("security"),
           py::arg("order_type"), py::arg("direction"), py::arg("quantity"), py::arg("price") = 0.0,
           py::arg("stop_price") = 0.0)
      .def_readwrite("order_type", &Order::order_type)
      .def_readwrite("direction", &Order::direction)
      .def_readwrite("quantity", &Order::quantity)
      .def_readwrite("price", &Order::price)
      .def_readwrite("stop_price", &Order::stop_price)
      .def_readwrite("order_id", &Order::order_id)
      .def_readwrite("status", &Order::status);
  security_field<Order>(order);
  value_members<Order>(order);
  pickled_by_fields<Order>(
      order, {"security", "order_type", "direction", "quantity", "price", "stop_price"},
      {"order_id", "status"});

  py::class_<PositionData> position(m, "PositionData");
  position
      .def(py::init([](const Security& security, Direction direction, double holding_price,
                       double quantity, DateTime update_time) {
             return PositionData{security, direction, holding_price, quantity, update_time};
           }),
           py::kw_only(), py::arg("security"), py::arg("direction") = Direction::LONG,
           py::arg("holding_price") = 0.0, py::arg("quantity") = 0.0,
           py::arg("update_time") = DateTime{})
      .def_readwrite("direction", &PositionData::direction)
      .def_readwrite("holding_price", &PositionData::holding_price)
      .def_readwrite("quantity", &PositionData::quantity)
      .def_readwrite("update_time", &PositionData::update_time);
  security_field<PositionData>(position);
  value_members<PositionData>(position);
  pickled_by_fields<PositionData>(
      position, {"security", "direction", "holding_price", "quantity", "update_time"});

  py::class_<AccountBalance> balance(m, "AccountBalance");
  balance.def(py::init<>())
      .def_readwrite("cash", &AccountBalance::cash)
      .def_readwrite("cash_by_currency", &AccountBalance::cash_by_currency)
      .def_readwrite("available_cash", &AccountBalance::available_cash)
      .def_readwrite("max_power_short", &AccountBalance::max_power_short)
      .def_readwrite("net_cash_power", &AccountBalance::net_cash_power)
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
  py::class_<OrderUpdate> update(m, "OrderUpdate");
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
      .def_readwrite("updated_time", &OrderUpdate::updated_time)
      .def_readwrite("filled_avg_price", &OrderUpdate::filled_avg_price)
      .def_readwrite("filled_quantity", &OrderUpdate::filled_quantity)
      .def_readwrite("status", &OrderUpdate::status);
  value_members<OrderUpdate>(update);
  pickled_by_fields<OrderUpdate>(
      update, {"order_id", "updated_time", "filled_avg_price", "filled_quantity", "status"});
  mapping_members<OrderUpdate>(update);

  py::class_<Deal> deal(m, "Deal");
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
      .def_readwrite("updated_time", &Deal::updated_time)
      .def_readwrite("filled_avg_price", &Deal::filled_avg_price)
      .def_readwrite("filled_quantity", &Deal::filled_quantity);
  value_members<Deal>(deal);
  pickled_by_fields<Deal>(
      deal, {"deal_id", "order_id", "updated_time", "filled_avg_price", "filled_quantity"});
  mapping_members<Deal>(deal);
}

void bind_connection_events(py::module_& m) {
  py::class_<ConnectionEvent> event(m, "ConnectionEvent");
  py::enum_<ConnectionEvent::State>(event, "State")
      .value("up", ConnectionEvent::State::up)
      .value("down", ConnectionEvent::State::down)
      .value("reconnecting", ConnectionEvent::State::reconnecting)
      .value("restored", ConnectionEvent::State::restored)
      .value("gave_up", ConnectionEvent::State::gave_up);
  event
      .def(py::init([](ConnectionEvent::State state, std::int64_t vendor_status, int attempt) {
             return ConnectionEvent{state, vendor_status, attempt};
           }),
           py::kw_only(), py::arg("state"), py::arg("vendor_status") = 0, py::arg("attempt") = 0)
      .def_readonly("state", &ConnectionEvent::state)
      .def_readonly("vendor_status", &ConnectionEvent::vendor_status)
      .def_readonly("attempt", &ConnectionEvent::attempt);
  value_members<ConnectionEvent>(event);
  pickled_by_fields<ConnectionEvent>(event, {"state", "vendor_status", "attempt"});

  py::class_<SubscriptionFailure> failure(m, "SubscriptionFailure");
  py::enum_<SubscriptionFailure::Kind>(failure, "Kind")
      .value("quote", SubscriptionFailure::Kind::quote)
      .value("ticks", SubscriptionFailure::Kind::ticks)
      .value("bars", SubscriptionFailure::Kind::bars);
  failure
      .def(py::init([](SubscriptionFailure::Kind kind, std::string symbol, std::string error) {
             return SubscriptionFailure{kind, std::move(symbol), std::move(error)};
           }),
           py::kw_only(), py::arg("kind"), py::arg("symbol"), py::arg("error"))
      .def_readonly("kind", &SubscriptionFailure::kind)
      .def_readonly("symbol", &SubscriptionFailure::symbol)
      .def_readonly("error", &SubscriptionFailure::error);
  value_members<SubscriptionFailure>(failure);
  pickled_by_fields<SubscriptionFailure>(failure, {"kind", "symbol", "error"});
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
}

}  // namespace orbrix::python
