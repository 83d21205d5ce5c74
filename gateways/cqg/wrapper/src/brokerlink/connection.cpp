#include <fmt/format.h>

#include "engine_hooks.hpp"
#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "recovery_worker.hpp"

namespace orbrix::cqg {

using automation::Object;

void BrokerLink::Logon(std::string_view user_name, std::string_view password) {
  ensure_not_on_worker("Logon");
  {
    // Kept for recovery's log-on; in memory only, never traced.
    MutexLock guard(live_mutex_);
    credentials_ = Credentials{std::string(user_name), std::string(password)};
  }
  logging_off_.store(false, std::memory_order_release);
  guarded("Logon", [&] {
    const Object& proxy = cel("Logon");
    Trace("Connecting to GW");
    vendor::Cel(proxy).GWLogon(user_name, password);
    Trace("Waiting for GW connection...");
    // Not cleared first: once reported up, a later log-on returns at once.
    AssertMessage(wait(eventGatewayIsUp, "Logon"), "GW connection timeout!");
  });
}

void BrokerLink::Logoff() {
  ensure_not_on_worker("Logoff");
  // The down report this asks for is no drop; recovery under way stops.
  logging_off_.store(true, std::memory_order_release);
  if (Recovery* r = recovery_.load(std::memory_order_acquire)) {
    r->stop();
  }
  guarded("Logoff", [&] { logoff_now(); });
}

void BrokerLink::logoff_now() {
  const Object& proxy = cel("Logoff");
  Trace("Logoff from GW");
  const std::optional<std::int64_t> id = GWAccountID();
  // One hop: the account look-up, then the log-off (the event cleared
  // before it, so an earlier down report does not count).
  std::vector<std::string> lines;
  const Object account = automation::call_in_apartment(proxy, [&](const Object& home) {
    Object found;
    if (id) {
      detail::AccountLookup lookup = detail::find_account(home, *id);
      lines = std::move(lookup.lines);
      found = std::move(lookup.account);
    }
    eventGatewayIsDown.clear();
    vendor::Cel(home).GWLogoff();
    return found;
  });
  detail::trace_lines(lines);
  AssertMessage(wait(eventGatewayIsDown, "Logoff"), "GW disconnection timeout!");
  if (account) {
    // The account's name is read once the gateway is down.
    Trace("Successfully logoff account " + vendor::Account(account).GWAccountName().to_text());
  } else if (id) {
    Trace(fmt::format("Successfully logoff; GW account {} was not found", *id));
  } else {
    Trace("Successfully logoff; no GW account was selected");
  }
}

Object BrokerLink::get_account_from_gwaccountid(std::int64_t GWAccountID) {
  return guarded("get_account_from_gwaccountid", [&] {
    const Object& proxy = cel("get_account_from_gwaccountid");
    std::vector<std::string> lines;
    Object account = automation::call_in_apartment(proxy, [&](const Object& home) {
      detail::AccountLookup found = detail::find_account(home, GWAccountID);
      lines = std::move(found.lines);
      return found.account;
    });
    detail::trace_lines(lines);
    return account;
  });
}

void BrokerLink::OnGWConnectionStatusChanged(const Variant& connectionStatus) {
  const auto& k = detail::vendor();
  const bool up = connectionStatus == Variant(k.csConnectionUp);
  const bool down = connectionStatus == Variant(k.csConnectionDown);
  if (up || down) {
    // Before the events: a caller they release sees the new state.
    gateway_connected_.store(up, std::memory_order_release);
  }
  if (up) {
    Trace("GW connection is UP!");
    eventGatewayIsUp.set();
  }
  if (down) {
    Trace("GW connection is DOWN!");
    eventGatewayIsDown.set();
  }
  if (Recovery* r = recovery_.load(std::memory_order_acquire)) {
    if (up) {
      r->connection_up();
    } else if (down && !logging_off_.load(std::memory_order_acquire)) {
      r->connection_lost();
    }
  }
  if (up || down) {
    // After the events, so a hook that throws cannot hold up a log-on.
    if (BaseGateway* g = gateway()) {
      const ConnectionEvent event{
          .state = up ? ConnectionEvent::State::up : ConnectionEvent::State::down,
          .vendor_status = connectionStatus.as_int()};
      detail::call_hook("process_connection", [&] { g->process_connection(event); });
    }
  }
}

void BrokerLink::OnDataConnectionStatusChanged(const Variant& newStatus) {
  WriteLine("DataConnectionStatus=" + newStatus.to_text());
  if (BaseGateway* g = gateway(); g && newStatus.kind() == automation::VariantKind::Int) {
    const std::int64_t status = newStatus.as_int();
    detail::call_hook("process_data_connection", [&] { g->process_data_connection(status); });
  }
}

void BrokerLink::report_failure(SubscriptionFailure::Kind kind, std::string symbol,
                                std::string error) {
  Trace(fmt::format("{} subscription of {} failed: {}", to_text(kind), symbol, error));
  BaseGateway* g = gateway();
  if (g == nullptr) {
    return;
  }
  const SubscriptionFailure failure{kind, std::move(symbol), std::move(error)};
  detail::call_hook("process_subscription_failure",
                    [&] { g->process_subscription_failure(failure); });
}

void BrokerLink::report_timeout(SubscriptionFailure::Kind kind, std::string_view symbol) {
  const double seconds = std::chrono::duration<double>(timeout()).count();
  std::string error = fmt::format("no answer in {:g} s", seconds);
  automation::call_in_apartment(cel("report_timeout"), [&](const Object&) {
    report_failure(kind, std::string(symbol), std::move(error));
  });
}

namespace detail {

std::string error_text(const Variant& cqgError) {
  if (cqgError.kind() != automation::VariantKind::Object) {
    return "error " + cqgError.to_text();
  }
  const vendor::Error error{Object(cqgError)};
  const std::string code = error.Code().to_text();
  return fmt::format("{} (code {})", error.Description().to_text(), code);
}

}  // namespace detail

void BrokerLink::OnDataError(const Variant& cqgError, const Variant&) {
  if (cqgError.is_empty()) {
    return;
  }
  const vendor::Error dispatchedCQGError{Object(cqgError)};
  Trace(fmt::format("OnDataError: Code: {} Description: {}", dispatchedCQGError.Code().to_text(),
                    dispatchedCQGError.Description().to_text()));
}

}  // namespace orbrix::cqg
