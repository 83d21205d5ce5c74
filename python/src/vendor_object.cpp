// VendorObject: a late-bound vendor object (CQGCEL, an instrument, the API
// configuration) reached by member name, as the engine's custom
// configuration and its diagnostics use it. Every call may be a round trip
// into the API host's worker, so each releases the GIL while it runs.

#include "vendor_object.hpp"

#include <string>
#include <vector>

#include "bindings.hpp"
#include "datetime_caster.hpp"
#include "orbrix/automation/errors.hpp"
#include "typed_object.hpp"

namespace orbrix::python {

py::object variant_to_py(const automation::Variant& v) {
  using automation::VariantKind;
  switch (v.kind()) {
    case VariantKind::Empty:
      return py::none();
    case VariantKind::Bool:
      return py::bool_(v.as_bool());
    case VariantKind::Int:
      return py::int_(v.as_int());
    case VariantKind::Double:
      return py::float_(v.as_double());
    case VariantKind::Text:
      return py::str(v.as_string());
    case VariantKind::Date:
      return py::cast(v.as_date());
    case VariantKind::Object:
      return py::cast(automation::Object(v.as_object()));
  }
  return py::none();
}

automation::Variant variant_from_py(const py::handle& value) {
  if (value.is_none()) {
    return {};
  }
  if (py::isinstance<py::bool_>(value)) {
    return value.cast<bool>();
  }
  if (py::isinstance<py::int_>(value)) {
    return value.cast<std::int64_t>();
  }
  if (py::isinstance<py::float_>(value)) {
    return value.cast<double>();
  }
  if (py::isinstance<py::str>(value)) {
    return value.cast<std::string>();
  }
  if (py::isinstance<automation::Object>(value)) {
    return automation::Variant(value.cast<const automation::Object&>().dispatch());
  }
  try {
    return value.cast<DateTime>();
  } catch (const py::cast_error&) {
    throw automation::TypeError(
        "a vendor value is None, bool, int, float, str, datetime or "
        "VendorObject, not " +
        py::str(py::type::of(value).attr("__name__")).cast<std::string>());
  }
}

namespace {

std::vector<automation::Variant> variants_of(const py::args& args) {
  std::vector<automation::Variant> out;
  out.reserve(args.size());
  for (const auto& a : args) {
    out.push_back(variant_from_py(a));
  }
  return out;
}

// What a vendor value is in Python, as signatures name it.
struct VendorValueName : AnyObjectName {
  static constexpr auto name =
      py::detail::const_name("Union[None, bool, int, float, str, datetime.datetime, ") +
      py::detail::const_name<automation::Object>() + py::detail::const_name("]");
};
using VendorValue = Typed<VendorValueName>;
struct VendorValuesName : AnyObjectName {
  static constexpr auto name =
      py::detail::const_name("List[") + VendorValueName::name + py::detail::const_name("]");
};

template <class Call>
VendorValue without_gil(Call&& call) {
  automation::Variant result;
  {
    py::gil_scoped_release released;
    result = call();
  }
  return variant_to_py(result);
}

}  // namespace

void bind_vendor_object(py::module_& m) {
  py::class_<automation::Object>(
      m, "VendorObject",
      R"doc(A vendor object reached by member name: CQGCEL, an account, an instrument, the API configuration.

What ApiHost.cqgCEL and the link's get_... calls return, and what
ApiHost.Init's custom_config receives. Members are named as the vendor's
type library names them; values are None, bool, int, float, str, naive
datetime or VendorObject. A null object (none found) is falsy.

Threads: the object lives in the API host's worker's apartment; each call
from another thread is a round trip into the worker, with the GIL
released. Raises KeyError for a member the object does not have, TypeError
for a value of another type, and the vendor's errors as RuntimeError.)doc")
      .def(
          "__bool__", [](const automation::Object& o) { return !o.is_null(); },
          "False for a null object (none found).")
      .def_property_readonly(
          "type_name",
          [](const automation::Object& o) {
            return o.is_null() ? std::string() : std::string(o.type_name());
          },
          "The vendor's name of the object's type ('' for a null object).")
      .def(
          "get",
          [](const automation::Object& o, const std::string& name, const py::args& args) {
            const auto a = variants_of(args);
            return without_gil(
                [&] { return o.invoke(o.id_of(name), automation::InvokeKind::PropertyGet, a); });
          },
          py::arg("name"),
          "The property `name`, with its index arguments if it takes any. One round trip.")
      .def(
          "call",
          [](const automation::Object& o, const std::string& name, const py::args& args) {
            const auto a = variants_of(args);
            return without_gil(
                [&] { return o.invoke(o.id_of(name), automation::InvokeKind::Method, a); });
          },
          py::arg("name"), "Calls the method `name` with the arguments given. One round trip.")
      .def(
          "put",
          [](const automation::Object& o, const std::string& name, const VendorValue& value) {
            auto v = variant_from_py(value);
            py::gil_scoped_release released;
            o.put(name, std::move(v));
          },
          py::arg("name"), py::arg("value"), "Sets the property `name`. One round trip.")
      .def(
          "items",
          [](const automation::Object& o) -> Typed<VendorValuesName> {
            std::vector<automation::Variant> items;
            {
              py::gil_scoped_release released;
              items = o.items();
            }
            py::list out;
            for (const auto& item : items) {
              out.append(variant_to_py(item));
            }
            return out;
          },
          "The items of a vendor collection, in its order. One round trip.")
      .def("__repr__", [](const automation::Object& o) {
        return o.is_null() ? std::string("<VendorObject null>")
                           : "<VendorObject " + std::string(o.type_name()) + ">";
      });
}

}  // namespace orbrix::python
