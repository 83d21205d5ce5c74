#include <fmt/format.h>

#include <exception>
#include <stdexcept>
#include <thread>

#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg {

using automation::Object;

// One vendor position as read on the worker; mapped on the engine's thread.
namespace detail {

struct RawPosition {
  std::string instrument_name;
  Variant side;
  double average_price = 0;
  double quantity = 0;
};

// What an update reads from the vendor in its hop: the lookup lines, the
// six amounts or the error that stopped their reading, and the positions
// read before any error.
struct AccountSnapshot {
  struct Lookup {
    std::vector<std::string> lines;
    bool found = false;
  };
  Lookup balance_lookup;
  std::optional<AccountBalance> balance;
  std::string balance_error;
  Lookup positions_lookup;
  std::vector<RawPosition> positions;
  std::exception_ptr positions_error;
  std::optional<std::int64_t> id;
};

}  // namespace detail

namespace {

std::string not_found_text(const std::optional<std::int64_t>& id) {
  return id ? fmt::format("GWAccountID {} can not be found!", *id)
            : std::string("no GW account has been selected (subscribe_account_and_positions)");
}

detail::AccountLookup lookup(const Object& cel, const std::optional<std::int64_t>& id) {
  if (!id) {
    return {};
  }
  return detail::find_account(cel, *id);
}

// Worker side of update_account_balance: read aside, never raises.
void read_balance(const Object& cel, detail::AccountSnapshot& s) try {
  detail::AccountLookup found = lookup(cel, s.id);
  s.balance_lookup.lines = std::move(found.lines);
  s.balance_lookup.found = static_cast<bool>(found.account);
  if (!found.account) {
    throw std::invalid_argument(not_found_text(s.id));
  }
  const Object summary = found.account.object("Summary");
  const double balance = summary.call("Balance", 0).as_double();
  const double available = balance - summary.call("Collaterals", 1).as_double();
  const double nlv = summary.call("NLV", 0).as_double();
  const double margin = summary.call("MaintenanceMargin", 1).as_double();
  const double realized = summary.call("ProfitLoss", 0).as_double();
  const double unrealized = summary.call("UPL", 0).as_double();
  AccountBalance b;
  b.cash = balance;
  b.cash_by_currency = std::nullopt;
  b.available_cash = available;
  b.max_power_short = std::nullopt;
  b.net_cash_power = nlv;
  b.maintenance_margin = margin;
  b.realized_pnl = realized;
  b.unrealized_pnl = unrealized;
  s.balance = std::move(b);
} catch (const std::exception& e) {
  s.balance_error = e.what();
}

// Worker side of update_positions: the positions up to the first error.
void read_positions(const Object& cel, detail::AccountSnapshot& s) try {
  detail::AccountLookup found = lookup(cel, s.id);
  s.positions_lookup.lines = std::move(found.lines);
  s.positions_lookup.found = static_cast<bool>(found.account);
  if (!found.account) {
    return;
  }
  const Object positions = found.account.object("Positions");
  const std::int64_t count = positions.get("Count").as_int();
  for (std::int64_t i = 0; i < count; ++i) {
    const Object p(positions.call("ItemByIndex", i));
    detail::RawPosition raw;
    raw.quantity = p.get("Quantity").as_double();
    if (raw.quantity != 0) {
      raw.instrument_name = p.get("InstrumentName").as_string();
      raw.side = p.get("Side");
      raw.average_price = p.get("AveragePrice").as_double();
    }
    s.positions.push_back(std::move(raw));
  }
} catch (...) {
  s.positions_error = std::current_exception();
}

// "2024-03-05 14:07:09.004211", always with the microseconds.
std::string stamp_now() {
  const DateTime now = local_now();
  const std::string text = to_text(truncate_to_seconds(now));
  const auto us = (now - truncate_to_seconds(now)).count();
  return fmt::format("{}.{:06d}", text, us);
}

}  // namespace

void BrokerLink::publish_balance(const detail::AccountSnapshot& s) {
  detail::trace_lines(s.balance_lookup.lines);
  {
    MutexLock guard(lock);
    // A failed read leaves a default record, as a fresh record replaced the
    // old one before the amounts were read.
    account_balance_ = s.balance.value_or(AccountBalance());
  }
  if (!s.balance) {
    WriteLine(stamp_now() + ": " + s.balance_error, /*flush=*/false);
  }
}

void BrokerLink::publish_positions(const detail::AccountSnapshot& s) {
  detail::trace_lines(s.positions_lookup.lines);
  if (!s.positions_lookup.found) {
    if (s.positions_error) {
      std::rethrow_exception(s.positions_error);
    }
    throw std::invalid_argument(not_found_text(s.id));
  }
  const auto& k = detail::vendor();
  const DateTime now = local_now();
  std::vector<PositionData> built;
  MutexLock guard(lock);
  BaseGateway& g = bound_gateway("update_positions");
  for (const detail::RawPosition& raw : s.positions) {
    if (raw.quantity == 0) {
      continue;
    }
    const std::optional<Security> security =
        g.get_eng_security_from_cqg_symbol(symbol_of_full_name(raw.instrument_name));
    if (!security) {
      continue;
    }
    Direction direction;
    if (raw.side == Variant(k.osdBuy)) {
      direction = Direction::LONG;
    } else if (raw.side == Variant(k.osdSell)) {
      direction = Direction::SHORT;
    } else {
      throw std::invalid_argument(
          fmt::format("Return CQG Position Side {} is invalid!", raw.side.to_text()));
    }
    built.push_back(PositionData{.security = *security,
                                 .direction = direction,
                                 .holding_price = raw.average_price,
                                 .quantity = raw.quantity < 0 ? -raw.quantity : raw.quantity,
                                 .update_time = now});
  }
  if (s.positions_error) {
    std::rethrow_exception(s.positions_error);
  }
  // Published whole: readers never see a list that is still growing.
  positions_ = std::move(built);
}

void BrokerLink::subscribe_account_and_positions(std::int64_t GWAccountID) {
  ensure_not_on_worker("subscribe_account_and_positions");
  const Object& proxy = cel("subscribe_account_and_positions");
  const auto& k = detail::vendor();
  // Dropping and restoring the subscription makes the vendor reload its
  // account list, which it reports with actAccountsReloaded.
  proxy.put("AccountSubscriptionLevel", k.aslNone);
  std::this_thread::sleep_for(std::chrono::milliseconds(reload_pause_ms_.load()));
  proxy.put("AccountSubscriptionLevel", k.aslAccountUpdatesAndOrders);
  Trace("Waiting for accounts coming...");
  // Not cleared first: once the accounts were reported ready it stays set.
  AssertMessage(wait(eventAccountIsReady), "Accounts coming timeout!");
  Trace(fmt::format("Select account {}, subscribe to open positions.", GWAccountID));
  {
    MutexLock guard(lock);
    gw_account_id_ = GWAccountID;
  }
  std::vector<std::string> lines;
  detail::AccountSnapshot s;
  s.id = GWAccountID;
  const bool found = automation::call_in_apartment(proxy, [&](const Object& home) {
    detail::AccountLookup account = detail::find_account(home, GWAccountID);
    lines = std::move(account.lines);
    if (!account.account) {
      return false;
    }
    account.account.put("AutoSubscribeInstruments", true);
    account.account.put("PositionSubcriptionLevel", k.pslSnapshotAndUpdates);
    read_balance(home, s);
    read_positions(home, s);
    return true;
  });
  detail::trace_lines(lines);
  if (!found) {
    throw std::invalid_argument(not_found_text(GWAccountID));
  }
  publish_balance(s);
  publish_positions(s);
}

void BrokerLink::unsubscribe_account_and_positions(std::int64_t GWAccountID) {
  const auto& k = detail::vendor();
  std::vector<std::string> lines;
  const bool found = automation::call_in_apartment(
      cel("unsubscribe_account_and_positions"), [&](const Object& home) {
        // The account is looked up before the level drops: at aslNone the
        // vendor lists no accounts, so the lookup would never find it.
        detail::AccountLookup account = detail::find_account(home, GWAccountID);
        lines = std::move(account.lines);
        if (account.account) {
          account.account.put("AutoSubscribeInstruments", false);
          account.account.put("PositionSubcriptionLevel", k.pslNoPositions);
        }
        home.put("AccountSubscriptionLevel", k.aslNone);
        return static_cast<bool>(account.account);
      });
  detail::trace_lines(lines);
  if (!found) {
    throw std::invalid_argument(not_found_text(GWAccountID));
  }
  Trace(fmt::format("Unsubscribe account {}.", GWAccountID));
}

void BrokerLink::update_account_balance() {
  detail::AccountSnapshot s;
  s.id = GWAccountID();
  const Object& proxy = cel("update_account_balance");
  automation::call_in_apartment(proxy, [&](const Object& home) { read_balance(home, s); });
  publish_balance(s);
}

void BrokerLink::update_positions() {
  detail::AccountSnapshot s;
  s.id = GWAccountID();
  const Object& proxy = cel("update_positions");
  automation::call_in_apartment(proxy, [&](const Object& home) { read_positions(home, s); });
  publish_positions(s);
}

AccountBalance BrokerLink::account_balance() const {
  MutexLock guard(lock);
  return account_balance_;
}

std::vector<PositionData> BrokerLink::positions() const {
  MutexLock guard(lock);
  return positions_;
}

std::optional<std::int64_t> BrokerLink::GWAccountID() const {
  MutexLock guard(lock);
  return gw_account_id_;
}

void BrokerLink::OnAccountChanged(const Variant& change, const Variant& cqgAccount,
                                  const Variant& cqgPosition) {
  const auto& k = detail::vendor();
  const auto position_line = [&](std::string_view what) {
    const Object account(cqgAccount);
    const Object position(cqgPosition);
    Trace(fmt::format(
        "OnAccountChanged - open position is {} for {} account - instrument: {} average price: "
        "{} quantity: {} OTE: {} PL: {}",
        what, account.get("GWAccountName").to_text(), position.get("InstrumentName").to_text(),
        position.get("AveragePrice").to_text(), position.get("Quantity").to_text(),
        position.get("OTE").to_text(), position.get("ProfitLoss").to_text()));
  };
  if (change == Variant(k.actPositionAdded)) {
    position_line("added");
  }
  if (change == Variant(k.actPositionChanged)) {
    position_line("changed");
  }
  if (change == Variant(k.actAccountsReloaded)) {
    Trace("OnAccountChanged - Accounts are ready!");
    eventAccountIsReady.set();
  }
}

}  // namespace orbrix::cqg
