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

template <class Record, class Class>
void common_members(Class& cls) {
  cls.def_property_readonly("code", &Record::code)
      .def_property_readonly("security_name", &Record::security_name)
      .def_property_readonly("lot_size", &Record::lot_size)
      .def_property_readonly("exchange", &Record::exchange)
      .def_property_readonly("expiry_date", &Record::expiry_date)
      .def_property_readonly("quote_currency", &Record::quote_currency)
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
  cls.doc() = std::string(description(K));
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
  base.doc() = std::string(description(SecurityKind::base));
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
