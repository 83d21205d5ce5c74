// BaseGateway for Python engines: subclass it, implement the symbol
// translations and the four process hooks (the connection and subscription
// hooks are optional), set apiHost, and list every subscribed security in
// cqg_quotes / cqg_orderbooks. The two maps are dict-like views of the
// gateway's thread-safe maps: a read is a snapshot the worker's later writes
// do not change; `view[security] = None` lists a key.

#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "bindings.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "py_gateway.hpp"
#include "security_object.hpp"
#include "typed_object.hpp"

namespace orbrix::python {

namespace {

template <class Map>
struct MapView {
  Map* map;
};

template <class Record>
std::optional<Record> record_or_none(const std::shared_ptr<const Record>& snapshot) {
  if (!snapshot) {
    return std::nullopt;
  }
  return *snapshot;
}

// The API host, named in signatures before its class is bound.
struct OptionalApiHostName : AnyObjectName {
  static constexpr auto name = py::detail::const_name("Optional[ApiHost]");
};

template <class Map, class Record>
void bind_map_view(py::module_& m, const char* name, const char* doc) {
  using View = MapView<Map>;
  using Entry = std::pair<ObjectOf<Security>, std::optional<Record>>;
  py::class_<View>(m, name, doc)
      .def(
          "__getitem__",
          [](const View& v, const Security& key) { return record_or_none(v.map->get(key)); },
          "The key's latest record, or None while it has none; KeyError for a key not listed.")
      .def(
          "get",
          [](const View& v, const Security& key) { return record_or_none(v.map->find(key)); },
          py::arg("key"), "The key's latest record; None without one or for a key not listed.")
      .def(
          "get",
          [](const View& v, const Security& key, const py::object& fallback) -> py::object {
            if (!v.map->contains(key)) {
              return fallback;
            }
            return py::cast(record_or_none(v.map->find(key)));
          },
          py::arg("key"), py::arg("default"),
          "The key's latest record (None while it has none), or `default` for a key not listed.")
      .def(
          "__setitem__",
          [](View& v, const Security& key, const std::optional<Record>& record) {
            if (record) {
              v.map->store(key, *record);
            } else {
              v.map->store(key, typename Map::Snapshot{});
            }
          },
          "Stores a record for the key (listing it); None lists the key with no record, as an "
          "engine does before it subscribes.")
      .def(
          "__delitem__",
          [](View& v, const Security& key) {
            if (!v.map->erase(key)) {
              throw py::key_error("key is not in the map");
            }
          },
          "Removes the key and its record; KeyError for a key not listed.")
      .def("__contains__", [](const View& v, const Security& key) { return v.map->contains(key); })
      .def("__contains__", [](const View&, const py::object&) { return false; })
      .def("__len__", [](const View& v) { return v.map->size(); })
      .def(
          "add_key", [](View& v, const Security& key) { return v.map->add_key(key); },
          py::arg("key"),
          "Lists `key` with no record unless it is listed; returns whether it was added.")
      .def(
          "keys",
          [](const View& v) {
            std::vector<ObjectOf<Security>> out;
            for (const auto& [key, record] : v.map->entries()) {
              out.emplace_back(security_to_py(key));
            }
            return out;
          },
          "The listed securities, in no particular order, as the classes of their kinds.")
      .def(
          "items",
          [](const View& v) {
            std::vector<Entry> out;
            for (const auto& [key, record] : v.map->entries()) {
              out.emplace_back(security_to_py(key), record_or_none(record));
            }
            return out;
          },
          "(security, record or None) of every listed key, read together at one moment.")
      .def(
          "values",
          [](const View& v) {
            std::vector<std::optional<Record>> out;
            for (const auto& [key, record] : v.map->entries()) {
              out.push_back(record_or_none(record));
            }
            return out;
          },
          "The record (or None) of every listed key, read together at one moment.")
      .def(
          "__iter__",
          [](const py::object& self) {
            return IteratorOf<Security>(py::iter(self.attr("keys")()));
          },
          "Iterates over keys().");
}

PyGateway& python_gateway(BaseGateway& g) {
  auto* p = dynamic_cast<PyGateway*>(&g);
  if (!p) {
    throw std::logic_error("not a gateway made from Python");
  }
  return *p;
}

constexpr const char* kMapViewDoc =
    R"doc(security -> latest {record} (or None), shared with the API host's worker.

The gateway's worker writes each new {record} here, on its own thread,
before it calls {hook}; the engine reads from any thread. Every call takes
a short lock and returns a snapshot: a record read is a copy that later
writes do not change, and keys(), items() and values() each read the whole
map at one moment. List every security the engine subscribes (view[s] =
None, or add_key) before its data arrives: the worker stores records only
for listed keys. Keys compare by the security rules (a base Security finds
a Futures record with the same code, name and exchange).)doc";

std::string map_view_doc(const char* record, const char* hook) {
  std::string doc = kMapViewDoc;
  for (const auto& [placeholder, value] :
       {std::pair<std::string, std::string>{"{record}", record}, {"{hook}", hook}}) {
    for (auto at = doc.find(placeholder); at != std::string::npos; at = doc.find(placeholder)) {
      doc.replace(at, placeholder.size(), value);
    }
  }
  return doc;
}

}  // namespace

void bind_gateway(py::module_& m) {
  static const std::string quote_map_doc = map_view_doc("Quote", "process_quote");
  static const std::string book_map_doc = map_view_doc("OrderBook", "process_orderbook");
  bind_map_view<BaseGateway::QuoteMap, Quote>(m, "QuoteMap", quote_map_doc.c_str());
  bind_map_view<BaseGateway::OrderBookMap, OrderBook>(m, "OrderBookMap", book_map_doc.c_str());

  py::class_<BaseGateway, PyGateway> cls(
      m, "BaseGateway", R"doc(The engine's gateway: subclass it, and hand it to BrokerLink.Init.

Call BaseGateway.__init__ from the subclass's __init__, list every security
the engine will subscribe in cqg_quotes and cqg_orderbooks (view[s] =
None), set apiHost to the ApiHost the link came from, and implement:

  get_eng_security_from_cqg_symbol(cqg_symbol: str) -> Security | None
      The engine's security of a vendor symbol (short 'EP', dated 'EPZ26'
      or full 'F.US.EPZ26'), None when the engine does not trade it; the
      same symbol must give an equal record. Runs on the API host's worker
      or on an engine thread, so it must be thread-safe and quick.
  get_cqg_symbol_from_eng_security(security: Security) -> str
      The vendor symbol of a security. Runs on the engine's thread. Raise
      KeyError for a security the engine has no symbol for: the operation
      that asked (place_order) raises it.
  process_quote(quote: Quote) -> None
  process_orderbook(orderbook: OrderBook) -> None
      The complete current quote / first order book level of a security,
      after it was stored in cqg_quotes / cqg_orderbooks.
  process_order(update: OrderUpdate) -> None
      A status update of an order.
  process_deal(deal: Deal) -> None
      An execution.

and, when the engine wants to hear of them (the defaults do nothing):

  process_connection(event: ConnectionEvent) -> None
      The gateway connection went up or down; with recovery on, each step
      of getting it back.
  process_data_connection(vendor_status: int) -> None
      The vendor's data connection status value, as it reports it.
  process_subscription_failure(failure: SubscriptionFailure) -> None
      A quote, tick or bar subscription the vendor did not resolve, or did
      not answer within the link's time-out.
  process_trading_state(change: TradingStateChange) -> None
      BrokerLink's trading state changed (halt, reduce_only, resume, or
      the daily loss limit).

Threads: every process_... hook runs on the API host's worker thread, with
the GIL taken, one at a time and in the vendor's order. A hook must return
quickly and must not call BrokerLink operations that wait for a vendor
event (Logon, the subscriptions, place_order...): from the worker they
raise RuntimeError at once, as the event could never come. Share
data with the engine's threads under a lock (threading.Lock), or read the
two maps, which are safe from any thread. The records handed over are
copies: a hook may keep them.

Errors: an exception a process_... hook raises does not reach the vendor
or the engine: the first one of each hook is written to standard output
with its traceback, later ones are counted in hook_errors, and the gateway
goes on as if the hook had returned. A hook the subclass lacks counts as an
error of that hook. While the interpreter finalizes no hook is called.)doc");
  cls.def(py::init<>(), "Makes the gateway; a subclass's __init__ must call it.")
      .def_property(
          "apiHost",
          [](BaseGateway& g) {
            return Typed<OptionalApiHostName>(python_gateway(g).host_object());
          },
          [](BaseGateway& g, const py::object& host) {
            auto& pg = python_gateway(g);
            pg.set_apiHost(host.is_none() ? nullptr : host.cast<cqg::ApiHost*>());
            pg.set_host_object(host);
          },
          "The ApiHost the engine created for this gateway, or None; set it before "
          "BrokerLink.Init. Held weakly (it reads None once the host is gone).")
      .def_property_readonly(
          "cqg_quotes",
          py::cpp_function(
              [](BaseGateway& g) { return MapView<BaseGateway::QuoteMap>{&g.cqg_quotes()}; },
              py::keep_alive<0, 1>()),
          "security -> latest Quote or None; written by the worker, read from any thread.")
      .def_property_readonly(
          "cqg_orderbooks",
          py::cpp_function(
              [](BaseGateway& g) {
                return MapView<BaseGateway::OrderBookMap>{&g.cqg_orderbooks()};
              },
              py::keep_alive<0, 1>()),
          "security -> latest OrderBook or None; written by the worker, read from any thread.")
      .def_property_readonly(
          "hook_errors", [](BaseGateway& g) { return python_gateway(g).hook_errors(); },
          "How many times each process_... hook raised, by hook name (the first error of each "
          "is written with its traceback).")
      .def(
          "process_connection", [](BaseGateway&, const ConnectionEvent&) {}, py::arg("event"),
          "Hook: the gateway connection changed (see ConnectionEvent); does nothing unless "
          "overridden. Called on the API host's worker thread with the GIL taken.")
      .def(
          "process_data_connection", [](BaseGateway&, std::int64_t) {}, py::arg("vendor_status"),
          "Hook: the vendor's data connection status value changed; does nothing unless "
          "overridden. Called on the API host's worker thread with the GIL taken.")
      .def(
          "process_subscription_failure", [](BaseGateway&, const SubscriptionFailure&) {},
          py::arg("failure"),
          "Hook: a subscription the vendor did not resolve or answer in time (see "
          "SubscriptionFailure); does nothing unless overridden. Called on the API host's worker "
          "thread with the GIL taken.")
      .def(
          "process_trading_state", [](BaseGateway&, const TradingStateChange&) {},
          py::arg("change"),
          "Hook: BrokerLink's trading state changed (see TradingStateChange): halted, set to "
          "reduce only, resumed, or turned to REDUCING by the daily loss limit; does nothing "
          "unless overridden. Called on the API host's worker thread with the GIL taken.");
}

}  // namespace orbrix::python
