#include "py_gateway.hpp"

#include <fmt/format.h>

#include <stdexcept>
#include <utility>

#include "bindings.hpp"
#include "errors.hpp"
#include "hook_gil.hpp"
#include "orbrix/cqg/trace.hpp"
#include "security_object.hpp"

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

std::string text_of(PyObject* name) {
  return py::reinterpret_borrow<py::str>(name);
}

// The error as Python prints it: its traceback, then its type and text.
std::string traceback_text(const py::error_already_set& e) {
  try {
    const py::object lines =
        py::module_::import("traceback").attr("format_exception")(e.type(), e.value(), e.trace());
    return py::str("").attr("join")(lines).cast<std::string>();
  } catch (const py::error_already_set&) {
    return e.what();
  }
}

}  // namespace

PyGateway::~PyGateway() {
  // The errors not shown, so a run's end says how often each hook failed.
  for (const auto& [hook, count] : hook_errors_) {
    if (count > 1) {
      cqg::Trace(fmt::format("The engine's {} raised {} times in all", hook, count));
    }
  }
}

// Calls the engine's method `name` with one argument (GIL held), looked up
// as Python looks up a method (an attribute set on the instance included)
// but without making a bound method: the result, or null with the Python
// error set.
PyObject* PyGateway::invoke(PyObject* name, py::handle arg) {
  if (!self_) {
    self_ = py::detail::get_object_handle(static_cast<const BaseGateway*>(this),
                                          py::detail::get_type_info(typeid(BaseGateway)))
                .ptr();
    if (!self_) {
      throw std::logic_error("the gateway's Python object is gone");
    }
  }
  PyObject* args[] = {self_, arg.ptr()};
  return PyObject_VectorcallMethod(name, args, 2, nullptr);
}

// A hook the engine did not write raises std::logic_error naming it; a
// Python error raises the matching C++ error.
py::object PyGateway::call_method(PyObject* name, py::handle arg) {
  PyObject* result = invoke(name, arg);
  if (!result) {
    const py::error_already_set e;
    if (e.matches(PyExc_AttributeError) && !PyObject_HasAttr(self_, name)) {
      throw std::logic_error("the gateway does not implement " + text_of(name));
    }
    rethrow_as_cpp(e);
  }
  return py::reinterpret_steal<py::object>(result);
}

template <class Record>
void PyGateway::call_hook(PyObject* name, const Record& record) {
  try {
    PyObject* result = invoke(name, py::cast(record, py::return_value_policy::copy));
    if (result) {
      Py_DECREF(result);
      return;
    }
    const py::error_already_set e;
    if (e.matches(PyExc_AttributeError) && !PyObject_HasAttr(self_, name)) {
      report_hook_error(name, "the gateway does not implement " + text_of(name));
    } else {
      report_hook_error(name, traceback_text(e));
    }
  } catch (const py::error_already_set& e) {  // converting the record
    report_hook_error(name, traceback_text(e));
  } catch (const std::exception& e) {
    report_hook_error(name, e.what());
  }
}

void PyGateway::report_hook_error(PyObject* name, std::string text) {
  const std::string hook = text_of(name);
  if (hook_errors_[hook]++ == 0) {
    while (!text.empty() && text.back() == '\n') {
      text.pop_back();
    }
    cqg::Trace(
        fmt::format("The engine's {} raised (shown once; later errors of this hook are counted in "
                    "hook_errors):\n{}",
                    hook, text));
  }
}

std::optional<Security> PyGateway::get_eng_security_from_cqg_symbol(std::string_view cqg_symbol) {
  const HookGil gil("get_eng_security_from_cqg_symbol");
  if (!gil) {
    return std::nullopt;
  }
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
  const HookGil gil("get_cqg_symbol_from_eng_security");
  if (!gil) {
    throw std::logic_error("the Python interpreter is finalizing");
  }
  static PyObject* const name = interned("get_cqg_symbol_from_eng_security");
  const py::object result = call_method(name, security_to_py(security));
  if (!py::isinstance<py::str>(result)) {
    throw std::invalid_argument("get_cqg_symbol_from_eng_security returned no text");
  }
  return result.cast<std::string>();
}

void PyGateway::process_quote(const Quote& quote) {
  if (const HookGil gil("process_quote"); gil) {
    static PyObject* const name = interned("process_quote");
    call_hook(name, quote);
  }
}

void PyGateway::process_orderbook(const OrderBook& orderbook) {
  if (const HookGil gil("process_orderbook"); gil) {
    static PyObject* const name = interned("process_orderbook");
    call_hook(name, orderbook);
  }
}

void PyGateway::process_order(const OrderUpdate& update) {
  if (const HookGil gil("process_order"); gil) {
    static PyObject* const name = interned("process_order");
    call_hook(name, update);
  }
}

void PyGateway::process_deal(const Deal& deal) {
  if (const HookGil gil("process_deal"); gil) {
    static PyObject* const name = interned("process_deal");
    call_hook(name, deal);
  }
}

void PyGateway::process_connection(const ConnectionEvent& event) {
  if (const HookGil gil("process_connection"); gil) {
    static PyObject* const name = interned("process_connection");
    call_hook(name, event);
  }
}

void PyGateway::process_data_connection(std::int64_t vendor_status) {
  if (const HookGil gil("process_data_connection"); gil) {
    static PyObject* const name = interned("process_data_connection");
    call_hook(name, vendor_status);
  }
}

void PyGateway::process_subscription_failure(const SubscriptionFailure& failure) {
  if (const HookGil gil("process_subscription_failure"); gil) {
    static PyObject* const name = interned("process_subscription_failure");
    call_hook(name, failure);
  }
}

void PyGateway::process_trading_state(const TradingStateChange& change) {
  if (const HookGil gil("process_trading_state"); gil) {
    static PyObject* const name = interned("process_trading_state");
    call_hook(name, change);
  }
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
