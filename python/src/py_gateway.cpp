#include "py_gateway.hpp"

#include <stdexcept>
#include <utility>

#include "bindings.hpp"
#include "errors.hpp"
#include "security_object.hpp"
#include "thread_state.hpp"

namespace orbrix::python {

namespace {

// The name of a hook as an interned Python string, made once.
PyObject* interned(const char* name) {
  PyObject* s = PyUnicode_InternFromString(name);
  if (!s) {
    throw py::error_already_set();
  }
  return s;  // kept for the life of the process
}

}  // namespace

// Calls the engine's method `name` with one argument (GIL held), looked up
// as Python looks up a method (an attribute set on the instance included)
// but without making a bound method. A hook the engine did not write raises
// std::logic_error naming it; a Python error raises the matching C++ error.
py::object PyGateway::call_method(PyObject* name, py::handle arg) {
  if (!self_) {
    self_ = py::detail::get_object_handle(static_cast<const BaseGateway*>(this),
                                          py::detail::get_type_info(typeid(BaseGateway)))
                .ptr();
    if (!self_) {
      throw std::logic_error("the gateway's Python object is gone");
    }
  }
  PyObject* args[] = {self_, arg.ptr()};
  PyObject* result = PyObject_VectorcallMethod(name, args, 2, nullptr);
  if (!result) {
    const py::error_already_set e;
    if (e.matches(PyExc_AttributeError) && !PyObject_HasAttr(self_, name)) {
      throw std::logic_error("the gateway does not implement " +
                             py::reinterpret_borrow<py::str>(name).cast<std::string>());
    }
    rethrow_as_cpp(e);
  }
  return py::reinterpret_steal<py::object>(result);
}

std::optional<Security> PyGateway::get_eng_security_from_cqg_symbol(std::string_view cqg_symbol) {
  py::gil_scoped_acquire gil;
  keep_thread_state(gil);
  static PyObject* const name = interned("get_eng_security_from_cqg_symbol");
  const py::object result = call_method(name, py::str(cqg_symbol.data(), cqg_symbol.size()));
  if (result.is_none()) {
    return std::nullopt;
  }
  if (!py::isinstance<Security>(result)) {
    throw std::invalid_argument(
        "get_eng_security_from_cqg_symbol returned neither a security record nor None");
  }
  return result.cast<const Security&>();
}

std::string PyGateway::get_cqg_symbol_from_eng_security(const Security& security) {
  py::gil_scoped_acquire gil;
  keep_thread_state(gil);
  static PyObject* const name = interned("get_cqg_symbol_from_eng_security");
  const py::object result = call_method(name, security_to_py(security));
  if (!py::isinstance<py::str>(result)) {
    throw std::invalid_argument("get_cqg_symbol_from_eng_security returned no text");
  }
  return result.cast<std::string>();
}

void PyGateway::process_quote(const Quote& quote) {
  py::gil_scoped_acquire gil;
  keep_thread_state(gil);
  static PyObject* const name = interned("process_quote");
  call_method(name, py::cast(quote, py::return_value_policy::copy));
}

void PyGateway::process_orderbook(const OrderBook& orderbook) {
  py::gil_scoped_acquire gil;
  keep_thread_state(gil);
  static PyObject* const name = interned("process_orderbook");
  call_method(name, py::cast(orderbook, py::return_value_policy::copy));
}

void PyGateway::process_order(const OrderUpdate& update) {
  py::gil_scoped_acquire gil;
  keep_thread_state(gil);
  static PyObject* const name = interned("process_order");
  call_method(name, py::cast(update, py::return_value_policy::copy));
}

void PyGateway::process_deal(const Deal& deal) {
  py::gil_scoped_acquire gil;
  keep_thread_state(gil);
  static PyObject* const name = interned("process_deal");
  call_method(name, py::cast(deal, py::return_value_policy::copy));
}

void PyGateway::process_connection(const ConnectionEvent& event) {
  py::gil_scoped_acquire gil;
  keep_thread_state(gil);
  static PyObject* const name = interned("process_connection");
  call_method(name, py::cast(event, py::return_value_policy::copy));
}

void PyGateway::process_data_connection(std::int64_t vendor_status) {
  py::gil_scoped_acquire gil;
  keep_thread_state(gil);
  static PyObject* const name = interned("process_data_connection");
  call_method(name, py::int_(vendor_status));
}

void PyGateway::process_subscription_failure(const SubscriptionFailure& failure) {
  py::gil_scoped_acquire gil;
  keep_thread_state(gil);
  static PyObject* const name = interned("process_subscription_failure");
  call_method(name, py::cast(failure, py::return_value_policy::copy));
}

py::object PyGateway::host_object() const {
  if (!host_ref_ || host_ref_.is_none()) {
    return py::none();
  }
  return host_ref_();
}

void PyGateway::set_host_object(const py::object& host) {
  host_ref_ = host.is_none() ? py::object(py::none()) : py::object(py::weakref(host));
}

}  // namespace orbrix::python
