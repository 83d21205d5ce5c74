#include "py_gateway.hpp"

#include <stdexcept>
#include <utility>

#include "bindings.hpp"
#include "errors.hpp"
#include "security_object.hpp"

namespace orbrix::python {

namespace {

// Calls the Python override `name` of `self` with `args` (GIL held). Null
// when the engine did not override it; then a hook the gateway needs raises
// std::logic_error naming it.
template <class... A>
py::object call_override(const BaseGateway* self, const char* name, bool required, A&&... args) {
  const py::function fn = py::get_override(self, name);
  if (!fn) {
    if (required) {
      throw std::logic_error(std::string("the gateway does not implement ") + name);
    }
    return {};
  }
  try {
    return fn(std::forward<A>(args)...);
  } catch (const py::error_already_set& e) {
    rethrow_as_cpp(e);
  }
}

template <class Record>
void call_hook(const BaseGateway* self, const char* name, bool required, const Record& record) {
  py::gil_scoped_acquire gil;
  call_override(self, name, required, py::cast(record, py::return_value_policy::copy));
}

}  // namespace

std::optional<Security> PyGateway::get_eng_security_from_cqg_symbol(std::string_view cqg_symbol) {
  py::gil_scoped_acquire gil;
  const py::object result = call_override(this, "get_eng_security_from_cqg_symbol", true,
                                          py::str(cqg_symbol.data(), cqg_symbol.size()));
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
  const py::object result =
      call_override(this, "get_cqg_symbol_from_eng_security", true, security_to_py(security));
  if (!py::isinstance<py::str>(result)) {
    throw std::invalid_argument("get_cqg_symbol_from_eng_security returned no text");
  }
  return result.cast<std::string>();
}

void PyGateway::process_quote(const Quote& quote) {
  call_hook(this, "process_quote", true, quote);
}

void PyGateway::process_orderbook(const OrderBook& orderbook) {
  call_hook(this, "process_orderbook", true, orderbook);
}

void PyGateway::process_order(const OrderUpdate& update) {
  call_hook(this, "process_order", true, update);
}

void PyGateway::process_deal(const Deal& deal) {
  call_hook(this, "process_deal", true, deal);
}

void PyGateway::process_connection(const ConnectionEvent& event) {
  call_hook(this, "process_connection", false, event);
}

void PyGateway::process_data_connection(std::int64_t vendor_status) {
  py::gil_scoped_acquire gil;
  call_override(this, "process_data_connection", false, vendor_status);
}

void PyGateway::process_subscription_failure(const SubscriptionFailure& failure) {
  call_hook(this, "process_subscription_failure", false, failure);
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
