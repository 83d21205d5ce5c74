#pragma once

// BaseGateway as a Python engine subclasses it. Each hook the gateway calls
// (on the API host's worker, or on the engine's thread for the symbol
// translations) takes the GIL, calls the Python override and converts its
// result. The records are handed over as copies: a hook may keep them.
//
// Errors. A symbol translation's Python error leaves it as the matching C++
// error, which the gateway expects (a KeyError is its std::out_of_range).
// An error raised by a process_... hook costs nothing else: it is reported
// with its traceback the first time that hook raises (the later ones are
// counted, see hook_errors) and the gateway goes on as if the hook had
// returned. While the interpreter finalizes no hook is called.

#include <pybind11/pybind11.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "live_counts.hpp"
#include "orbrix/core/base_gateway.hpp"

namespace orbrix::python {

class PyGateway : public BaseGateway {
 public:
  PyGateway() : counted_(live_counts().gateways) {}
  ~PyGateway() override;

  std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view cqg_symbol) override;
  std::string get_cqg_symbol_from_eng_security(const Security& security) override;
  void process_quote(const Quote& quote) override;
  void process_orderbook(const OrderBook& orderbook) override;
  void process_order(const OrderUpdate& update) override;
  void process_deal(const Deal& deal) override;
  void process_connection(const ConnectionEvent& event) override;
  void process_data_connection(std::int64_t vendor_status) override;
  void process_subscription_failure(const SubscriptionFailure& failure) override;
  void process_trading_state(const TradingStateChange& change) override;

  // The Python API host object the engine stored (a weak reference). GIL
  // held.
  pybind11::object host_object() const;
  void set_host_object(const pybind11::object& host);

  // How many times each process_... hook raised, by hook name. GIL held.
  const std::map<std::string, long>& hook_errors() const noexcept { return hook_errors_; }

 private:
  PyObject* invoke(PyObject* name, pybind11::handle arg);
  pybind11::object call_method(PyObject* name, pybind11::handle arg);
  // Calls a process_... hook; its error is reported, not raised. GIL held.
  template <class Record>
  void call_hook(PyObject* name, const Record& record);
  void report_hook_error(PyObject* name, std::string text);

  Counted counted_;
  // The Python object of this gateway (borrowed: it owns this object), found
  // at the first hook. GIL held.
  PyObject* self_ = nullptr;
  pybind11::object host_ref_;                // a weakref, or None
  std::map<std::string, long> hook_errors_;  // GIL held
};

}  // namespace orbrix::python
