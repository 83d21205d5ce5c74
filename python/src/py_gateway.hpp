#pragma once

// BaseGateway as a Python engine subclasses it. Each hook the gateway calls
// (on the API host's worker, or on the engine's thread for the symbol
// translations) takes the GIL, calls the Python override and converts its
// result; a Python error leaves the hook as the matching C++ error, so it
// ends the vendor event's handler like any handler error (traced; the pump
// goes on). The records are handed over as copies: a hook may keep them.

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <string_view>

#include "live_counts.hpp"
#include "orbrix/core/base_gateway.hpp"

namespace orbrix::python {

class PyGateway : public BaseGateway {
 public:
  PyGateway() : counted_(live_counts().gateways) {}

  std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view cqg_symbol) override;
  std::string get_cqg_symbol_from_eng_security(const Security& security) override;
  void process_quote(const Quote& quote) override;
  void process_orderbook(const OrderBook& orderbook) override;
  void process_order(const OrderUpdate& update) override;
  void process_deal(const Deal& deal) override;
  void process_connection(const ConnectionEvent& event) override;
  void process_data_connection(std::int64_t vendor_status) override;
  void process_subscription_failure(const SubscriptionFailure& failure) override;

  // The Python API host object the engine stored (a weak reference: the
  // host keeps the link, the link keeps this gateway). GIL held.
  pybind11::object host_object() const;
  void set_host_object(const pybind11::object& host);

 private:
  pybind11::object call_method(PyObject* name, pybind11::handle arg);

  Counted counted_;
  // The Python object of this gateway (borrowed: it owns this object), found
  // at the first hook. GIL held.
  PyObject* self_ = nullptr;
  pybind11::object host_ref_;  // a weakref, or None
};

}  // namespace orbrix::python
