#include <fmt/format.h>

#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg {

using automation::Object;

void BrokerLink::Logon(std::string_view user_name, std::string_view password) {
  ensure_not_on_worker("Logon");
  const Object& proxy = cel("Logon");
  Trace("Connecting to GW");
  proxy.call("GWLogon", user_name, password);
  Trace("Waiting for GW connection...");
  // Not cleared first: once reported up, a later log-on returns at once.
  AssertMessage(wait(eventGatewayIsUp), "GW connection timeout!");
}

void BrokerLink::Logoff() {
  ensure_not_on_worker("Logoff");
  const Object& proxy = cel("Logoff");
  Trace("Logoff from GW");
  const std::optional<std::int64_t> id = GWAccountID();
  std::optional<std::string> account_name;
  if (id) {
    const auto lookup = automation::call_in_apartment(proxy, [&](const Object& home) {
      detail::AccountLookup found = detail::find_account(home, *id);
      std::optional<std::string> name;
      if (found.account) {
        name = found.account.get("GWAccountName").to_text();
      }
      return std::make_pair(std::move(found.lines), std::move(name));
    });
    detail::trace_lines(lookup.first);
    account_name = lookup.second;
  }
  // Cleared before logging off, so an earlier down report does not count.
  eventGatewayIsDown.clear();
  proxy.call("GWLogoff");
  AssertMessage(wait(eventGatewayIsDown), "GW disconnection timeout!");
  if (account_name) {
    Trace("Successfully logoff account " + *account_name);
  } else if (id) {
    Trace(fmt::format("Successfully logoff; GW account {} was not found", *id));
  } else {
    Trace("Successfully logoff; no GW account was selected");
  }
}

Object BrokerLink::get_account_from_gwaccountid(std::int64_t GWAccountID) {
  const Object& proxy = cel("get_account_from_gwaccountid");
  std::vector<std::string> lines;
  Object account = automation::call_in_apartment(proxy, [&](const Object& home) {
    detail::AccountLookup found = detail::find_account(home, GWAccountID);
    lines = std::move(found.lines);
    return found.account;
  });
  detail::trace_lines(lines);
  return account;
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
