// BaseGateway for Python engines: subclass it, implement the symbol
// translations and the four process hooks (the connection and subscription
// hooks are optional), set apiHost, and list every subscribed security in
// cqg_quotes / cqg_orderbooks. The two maps are dict-like views of the
// gateway's thread-safe maps: a read is a snapshot the worker's later writes
// do not change; `view[security] = None` lists a key.

#include <pybind11/stl.h>

#include <memory>

#include "bindings.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "py_gateway.hpp"
#include "security_object.hpp"

namespace orbrix::python {

namespace {

template <class Map>
struct MapView {
  Map* map;
};

template <class Map>
py::object record_or_none(const typename Map::Snapshot& snapshot) {
  if (!snapshot) {
    return py::none();
  }
  return py::cast(*snapshot, py::return_value_policy::copy);
}

template <class Map, class Record>
void bind_map_view(py::module_& m, const char* name) {
  using View = MapView<Map>;
  py::class_<View>(m, name)
      .def("__getitem__",
           [](const View& v, const Security& key) { return record_or_none<Map>(v.map->get(key)); })
      .def(
          "get",
          [](const View& v, const Security& key, const py::object& fallback) -> py::object {
            if (!v.map->contains(key)) {
              return fallback;
            }
            return record_or_none<Map>(v.map->find(key));
          },
          py::arg("key"), py::arg("default") = py::none())
      .def("__setitem__",
           [](View& v, const Security& key, const std::optional<Record>& record) {
             if (record) {
               v.map->store(key, *record);
             } else {
               v.map->store(key, typename Map::Snapshot{});
             }
           })
      .def("__delitem__",
           [](View& v, const Security& key) {
             if (!v.map->erase(key)) {
               throw py::key_error("key is not in the map");
             }
           })
      .def("__contains__", [](const View& v, const Security& key) { return v.map->contains(key); })
      .def("__contains__", [](const View&, const py::object&) { return false; })
      .def("__len__", [](const View& v) { return v.map->size(); })
      .def(
          "add_key", [](View& v, const Security& key) { return v.map->add_key(key); },
          "Lists `key` with no record unless it is listed; returns whether it was added.")
      .def("keys",
           [](const View& v) {
             py::list out;
             for (const auto& [key, record] : v.map->entries()) {
               out.append(security_to_py(key));
             }
             return out;
           })
      .def("items",
           [](const View& v) {
             py::list out;
             for (const auto& [key, record] : v.map->entries()) {
               out.append(py::make_tuple(security_to_py(key), record_or_none<Map>(record)));
             }
             return out;
           })
      .def("values",
           [](const View& v) {
             py::list out;
             for (const auto& [key, record] : v.map->entries()) {
               out.append(record_or_none<Map>(record));
             }
             return out;
           })
      .def("__iter__", [](const py::object& self) { return py::iter(self.attr("keys")()); });
}

PyGateway& python_gateway(BaseGateway& g) {
  auto* p = dynamic_cast<PyGateway*>(&g);
  if (!p) {
    throw std::logic_error("not a gateway made from Python");
  }
  return *p;
}

}  // namespace

void bind_gateway(py::module_& m) {
  bind_map_view<BaseGateway::QuoteMap, Quote>(m, "QuoteMap");
  bind_map_view<BaseGateway::OrderBookMap, OrderBook>(m, "OrderBookMap");

  py::class_<BaseGateway, PyGateway> cls(m, "BaseGateway");
  cls.doc() =
      "The engine's gateway: subclass it and implement get_eng_security_from_cqg_symbol, "
      "get_cqg_symbol_from_eng_security, process_quote, process_orderbook, process_order and "
      "process_deal. The hooks run on the API host's worker with the GIL taken.";
  cls.def(py::init<>())
      .def_property(
          "apiHost", [](BaseGateway& g) { return python_gateway(g).host_object(); },
          [](BaseGateway& g, const py::object& host) {
            auto& pg = python_gateway(g);
            pg.set_apiHost(host.is_none() ? nullptr : host.cast<cqg::ApiHost*>());
            pg.set_host_object(host);
          },
          "The API host the engine created for this gateway (kept weakly).")
      .def_property_readonly(
          "cqg_quotes",
          py::cpp_function(
              [](BaseGateway& g) { return MapView<BaseGateway::QuoteMap>{&g.cqg_quotes()}; },
              py::keep_alive<0, 1>()))
      .def_property_readonly("cqg_orderbooks",
                             py::cpp_function(
                                 [](BaseGateway& g) {
                                   return MapView<BaseGateway::OrderBookMap>{&g.cqg_orderbooks()};
                                 },
                                 py::keep_alive<0, 1>()))
      .def_property_readonly(
          "hook_errors", [](BaseGateway& g) { return python_gateway(g).hook_errors(); },
          "How many times each process_... hook raised, by hook name (the first error of each "
          "is traced with its traceback).")
      .def("process_connection", [](BaseGateway&, const ConnectionEvent&) {})
      .def("process_data_connection", [](BaseGateway&, std::int64_t) {})
      .def("process_subscription_failure", [](BaseGateway&, const SubscriptionFailure&) {});
}

}  // namespace orbrix::python
