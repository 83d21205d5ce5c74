// Security, Stock, Futures, Currency and Commodity: keyword construction with
// each kind's defaults, read-only fields, and the two equality rules and the
// hash of the C++ records, so a record made in Python and one made by the
// gateway are equal and find each other in a dict.

#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "bindings.hpp"
#include "orbrix/core/security.hpp"
#include "security_object.hpp"

namespace orbrix::python {

namespace {

// What every kind's class docstring says after its first line.
constexpr const char* kFieldsDoc = R"doc(

An immutable identity record of a tradable instrument. Security is the
base; Stock, Futures, Currency and Commodity fix the kind and its
defaults. Hashable: a key of dicts and of BaseGateway.cqg_quotes and
cqg_orderbooks. Copies and pickles.

Fields (the constructor's arguments; code and security_name required):
  code            the engine's code of the instrument (the symbol the
                  engine's gateway maps to the vendor's)
  security_name   a descriptive name
  lot_size        units per lot, or None
  exchange        an Exchange, or None
  expiry_date     the expiry as text (e.g. '2026-12'), or None
  quote_currency  the currency of its prices, '' when not given

Equality: two records of the same kind are equal when all six fields are,
records of two different kinds never are, and a base Security equals any
record with the same code, security_name and exchange (the others play no
part). The hash combines security_name, code and exchange, so a base
record finds a record of a kind in a dict.)doc";

template <class Record, class Class>
void common_members(Class& cls) {
  cls.def_property_readonly("code", &Record::code)
      .def_property_readonly("security_name", &Record::security_name)
      .def_property_readonly("lot_size", &Record::lot_size, "Units per lot, or None.")
      .def_property_readonly("exchange", &Record::exchange)
      .def_property_readonly("expiry_date", &Record::expiry_date,
                             "The expiry as text (e.g. '2026-12'), or None.")
      .def_property_readonly("quote_currency", &Record::quote_currency,
                             "The currency of its prices; '' when not given.")
      .def("__eq__", [](const Record& a, const Security& b) { return a.equals(b); })
      .def("__eq__", [](const Record&, const py::object&) { return false; })
      .def("__ne__", [](const Record& a, const Security& b) { return !a.equals(b); })
      .def("__ne__", [](const Record&, const py::object&) { return true; })
      .def("__hash__", [](const Record& s) { return static_cast<Py_ssize_t>(s.hash()); })
      .def("__repr__", [](const Record& s) { return to_text(s); })
      .def("__copy__", [](const Record& s) { return Record(s); })
      .def("__deepcopy__", [](const Record& s, const py::object&) { return Record(s); })
      .def(py::pickle(
          [](const Record& s) {
            return py::make_tuple(s.code(), s.security_name(), s.lot_size(), s.exchange(),
                                  s.expiry_date(), s.quote_currency());
          },
          [](const py::tuple& t) {
            return Record(t[0].cast<std::string>(), t[1].cast<std::string>(),
                          t[2].cast<std::optional<std::int64_t>>(),
                          t[3].cast<std::optional<Exchange>>(),
                          t[4].cast<std::optional<std::string>>(), t[5].cast<std::string>());
          }));
}

template <SecurityKind K>
void bind_kind(py::module_& m, const char* name) {
  using Record = SecurityOf<K>;
  py::class_<Record, Security> cls(m, name);
  const auto lot = default_lot_size(K);
  const auto exchange = default_exchange(K);
  cls.doc() = std::string(description(K)) + ": by default lot_size " +
              (lot ? std::to_string(*lot) : std::string("None")) + " and exchange " +
              (exchange ? to_text(*exchange) : std::string("None")) + "." + kFieldsDoc;
  cls.def(py::init<std::string, std::string, std::optional<std::int64_t>, std::optional<Exchange>,
                   std::optional<std::string>, std::string>(),
          py::arg("code"), py::arg("security_name"), py::arg("lot_size") = default_lot_size(K),
          py::arg("exchange") = default_exchange(K), py::arg("expiry_date") = py::none(),
          py::arg("quote_currency") = "");
  common_members<Record>(cls);
}

}  // namespace

py::object security_to_py(const Security& s) {
  const auto make = [&]<SecurityKind K>() {
    return py::cast(SecurityOf<K>(s.code(), s.security_name(), s.lot_size(), s.exchange(),
                                  s.expiry_date(), s.quote_currency()));
  };
  switch (s.kind()) {
    case SecurityKind::stock:
      return make.template operator()<SecurityKind::stock>();
    case SecurityKind::futures:
      return make.template operator()<SecurityKind::futures>();
    case SecurityKind::currency:
      return make.template operator()<SecurityKind::currency>();
    case SecurityKind::commodity:
      return make.template operator()<SecurityKind::commodity>();
    case SecurityKind::base:
      break;
  }
  return py::cast(s);
}

void bind_securities(py::module_& m) {
  py::class_<Security> base(m, "Security");
  base.doc() = std::string(description(SecurityKind::base)) +
               ". A record of no kind: lot_size and exchange default to None." + kFieldsDoc;
  base.def(py::init<std::string, std::string, std::optional<std::int64_t>, std::optional<Exchange>,
                    std::optional<std::string>, std::string>(),
           py::arg("code"), py::arg("security_name"), py::arg("lot_size") = py::none(),
           py::arg("exchange") = py::none(), py::arg("expiry_date") = py::none(),
           py::arg("quote_currency") = "");
  common_members<Security>(base);
  bind_kind<SecurityKind::stock>(m, "Stock");
  bind_kind<SecurityKind::futures>(m, "Futures");
  bind_kind<SecurityKind::currency>(m, "Currency");
  bind_kind<SecurityKind::commodity>(m, "Commodity");
}

}  // namespace orbrix::python
