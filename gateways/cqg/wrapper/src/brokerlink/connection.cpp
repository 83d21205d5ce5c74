#include <fmt/format.h>

#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg {

using automation::Object;

void BrokerLink::Logon(std::string_view user_name, std::string_view password) {
  ensure_not_on_worker("Logon");
  guarded("Logon", [&] {
    const Object& proxy = cel("Logon");
    Trace("Connecting to GW");
    proxy.call("GWLogon", user_name, password);
    Trace("Waiting for GW connection...");
    // Not cleared first: once reported up, a later log-on returns at once.
    AssertMessage(wait(eventGatewayIsUp, "Logon"), "GW connection timeout!");
  });
}

void BrokerLink::Logoff() {
  ensure_not_on_worker("Logoff");
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
    home.call("GWLogoff");
    return found;
  });
  detail::trace_lines(lines);
  AssertMessage(wait(eventGatewayIsDown, "Logoff"), "GW disconnection timeout!");
  if (account) {
    // The account's name is read once the gateway is down.
    Trace("Successfully logoff account " + account.get("GWAccountName").to_text());
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
  if (connectionStatus == Variant(k.csConnectionUp)) {
    Trace("GW connection is UP!");
    eventGatewayIsUp.set();
  }
  if (connectionStatus == Variant(k.csConnectionDown)) {
    Trace("GW connection is DOWN!");
    eventGatewayIsDown.set();
  }
}

void BrokerLink::OnDataConnectionStatusChanged(const Variant& newStatus) {
  WriteLine("DataConnectionStatus=" + newStatus.to_text());
}

void BrokerLink::OnDataError(const Variant& cqgError, const Variant&) {
  if (cqgError.is_empty()) {
    return;
  }
  const Object dispatchedCQGError(cqgError);
  Trace(fmt::format("OnDataError: Code: {} Description: {}",
                    dispatchedCQGError.get("Code").to_text(),
                    dispatchedCQGError.get("Description").to_text()));
}

}  // namespace orbrix::cqg
