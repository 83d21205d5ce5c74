#include <fmt/format.h>

#include <stdexcept>
#include <thread>
#include <utility>

#include "account_snapshot.hpp"
#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/automation/marshal.hpp"
#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "risk_book.hpp"

namespace orbrix::cqg {

using automation::Object;

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
  const vendor::Summary summary(vendor::Account(found.account).Summary());
  const double balance = summary.Balance(0);
  const double available = balance - summary.Collaterals(1);
  const double nlv = summary.NLV(0);
  const double margin = summary.MaintenanceMargin(1);
  const double realized = summary.ProfitLoss(0);
  const double unrealized = summary.UPL(0);
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

// Side and average price of the position the walk stands at.
void read_rest(const Object& position, detail::RawPosition& raw) {
  const vendor::Position p(position);
  raw.side = p.Side();
  raw.average_price = p.AveragePrice().as_double();
  raw.whole = true;
}

// Worker side of the positions walk, from the position after the last one
// read: per position its Quantity and (not 0) its InstrumentName, then its
// Side and AveragePrice when its symbol is one the engine maps. Stops at a
// symbol the engine has not been asked about, keeping that position (a
// proxy) for the next round trip.
void walk_positions(const vendor::Positions& positions, detail::AccountSnapshot& s) try {
  for (auto i = static_cast<std::int64_t>(s.positions.size()); i < s.positions_count; ++i) {
    const vendor::Position position(positions.ItemByIndex(i));
    detail::RawPosition& raw = s.positions.emplace_back();
    raw.quantity = position.Quantity().as_double();
    if (raw.quantity == 0) {
      continue;
    }
    raw.instrument_name = position.InstrumentName().as_string();
    if (!s.mapped.contains(std::string(symbol_of_full_name(raw.instrument_name)))) {
      s.asking = Object(automation::make_proxy(position.object().dispatch()));
      return;
    }
    read_rest(position.object(), raw);
  }
} catch (const ForcedUnwind&) {
  throw;
} catch (...) {
  s.positions_error = std::current_exception();
}

// Worker side, the first round trip: the account look-up, its Positions and
// their count, then the walk.
void start_positions(const Object& cel, detail::AccountSnapshot& s) try {
  detail::AccountLookup found = lookup(cel, s.id);
  s.positions_lookup.lines = std::move(found.lines);
  s.positions_lookup.found = static_cast<bool>(found.account);
  if (!found.account) {
    return;
  }
  const vendor::Positions positions(vendor::Account(found.account).Positions());
  s.positions_count = positions.Count();
  s.positions_collection = Object(automation::make_proxy(positions.object().dispatch()));
  walk_positions(positions, s);
} catch (const ForcedUnwind&) {
  throw;
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

constexpr std::string_view kPositionLine =
    "OnAccountChanged - open position is {} for {} account - instrument: {} average price: {} "
    "quantity: {} OTE: {} PL: {}";

// OnAccountChanged's account and position read from the vendor's objects
// for the line a position's change writes.
class VendorAccountChange {
 public:
  VendorAccountChange(const Variant& change, const Variant& account, const Variant& position)
      : change_(change), account_(account), position_(position) {}
  bool is(std::int64_t constant) const { return change_ == Variant(constant); }
  std::string position_line(std::string_view what) const {
    const vendor::Account account{Object(account_)};
    const vendor::Position position{Object(position_)};
    return fmt::format(fmt::runtime(kPositionLine), what, account.GWAccountName().to_text(),
                       position.InstrumentName().to_text(), position.AveragePrice().to_text(),
                       position.Quantity().to_text(), position.OTE().to_text(),
                       position.ProfitLoss().to_text());
  }

 private:
  const Variant& change_;
  const Variant& account_;
  const Variant& position_;
};

// The same event decoded; its figures written as the vendor's values are.
class DecodedAccountChange {
 public:
  explicit DecodedAccountChange(const decoded::AccountChange& c) : c_(c) {}
  bool is(std::int64_t constant) const { return c_.change == constant; }
  std::string position_line(std::string_view what) const {
    return fmt::format(fmt::runtime(kPositionLine), what, c_.account_name, c_.instrument_name,
                       Variant(c_.average_price).to_text(), Variant(c_.quantity).to_text(),
                       Variant(c_.open_trade_equity).to_text(), Variant(c_.profit_loss).to_text());
  }

 private:
  const decoded::AccountChange& c_;
};

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
    return;
  }
  std::optional<TradingStateChange> change;
  {
    MutexLock guard(risk_mutex_);
    change = risk_->set_pnl(s.balance->realized_pnl, s.balance->unrealized_pnl);
  }
  if (change) {
    tell_trading_state(*change);
  }
}

void BrokerLink::finish_positions_walk(detail::AccountSnapshot& s) {
  // Each stop asks the engine about one symbol (under `lock`, as every
  // look-up of an update), then one round trip reads on from there.
  while (s.asking && !s.positions_error) {
    detail::RawPosition& raw = s.positions.back();
    const std::string symbol(symbol_of_full_name(raw.instrument_name));
    {
      MutexLock guard(lock);
      raw.security = bound_gateway("update_positions").get_eng_security_from_cqg_symbol(symbol);
      raw.looked_up = true;
      if (raw.security) {
        mapped_position_symbols_.insert(symbol);
        s.mapped.insert(symbol);
      }
    }
    const Object asking = std::exchange(s.asking, Object());
    automation::call_in_apartment(s.positions_collection, [&](const Object& home) {
      try {
        if (raw.security) {
          read_rest(asking, raw);
        }
      } catch (const ForcedUnwind&) {
        throw;
      } catch (...) {
        s.positions_error = std::current_exception();
        return;
      }
      walk_positions(vendor::Positions(home), s);
    });
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
  const DateTime now = s.time;
  std::vector<PositionData> built;
  MutexLock guard(lock);
  BaseGateway& g = bound_gateway("update_positions");
  for (const detail::RawPosition& raw : s.positions) {
    if (raw.quantity == 0 || !raw.whole) {
      continue;  // flat, or a symbol the engine does not map
    }
    const std::optional<Security> security =
        raw.looked_up
            ? raw.security
            : g.get_eng_security_from_cqg_symbol(symbol_of_full_name(raw.instrument_name));
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
  std::vector<std::pair<std::string, double>> held;
  held.reserve(built.size());
  for (const PositionData& p : built) {
    held.emplace_back(p.security.code(),
                      p.direction == Direction::SHORT ? -p.quantity : p.quantity);
  }
  {
    MutexLock risk_guard(risk_mutex_);
    risk_->set_positions(held);
  }
  // Published whole: readers never see a list that is still growing.
  positions_ = std::move(built);
}

detail::AccountSnapshot BrokerLink::new_snapshot(std::optional<std::int64_t> id) const {
  detail::AccountSnapshot s;
  s.id = id;
  MutexLock guard(lock);
  s.mapped = mapped_position_symbols_;
  return s;
}

void BrokerLink::subscribe_account_and_positions(std::int64_t GWAccountID) {
  ensure_not_on_worker("subscribe_account_and_positions");
  MutexLock session(session_mutex_);
  guarded("subscribe_account_and_positions",
          [&] { subscribe_account_and_positions_now(GWAccountID); });
  MutexLock guard(live_mutex_);
  live_.account = GWAccountID;
}

void BrokerLink::subscribe_account_and_positions_now(std::int64_t GWAccountID,
                                                     automation::Event* reloaded) {
  const Object& proxy = cel("subscribe_account_and_positions");
  const auto& k = detail::vendor();
  if (reloaded != nullptr) {
    reloaded->clear();
  }
  // Dropping and restoring the subscription makes the vendor reload its
  // account list, which it reports with actAccountsReloaded.
  const vendor::Cel cel(proxy);
  cel.AccountSubscriptionLevel(k.aslNone);
  pause(std::chrono::milliseconds(reload_pause_ms_.load()), "subscribe_account_and_positions");
  cel.AccountSubscriptionLevel(k.aslAccountUpdatesAndOrders);
  Trace("Waiting for accounts coming...");
  // Not cleared first: once the accounts were reported ready it stays set.
  AssertMessage(wait(reloaded != nullptr ? *reloaded : eventAccountIsReady,
                     "subscribe_account_and_positions"),
                "Accounts coming timeout!");
  Trace(fmt::format("Select account {}, subscribe to open positions.", GWAccountID));
  {
    MutexLock guard(lock);
    gw_account_id_ = GWAccountID;
  }
  std::vector<std::string> lines;
  detail::AccountSnapshot s = new_snapshot(GWAccountID);
  const bool found = automation::call_in_apartment(proxy, [&](const Object& home) {
    detail::AccountLookup account = detail::find_account(home, GWAccountID);
    lines = std::move(account.lines);
    if (!account.account) {
      return false;
    }
    const vendor::Account selected(account.account);
    selected.AutoSubscribeInstruments(true);
    selected.PositionSubcriptionLevel(k.pslSnapshotAndUpdates);
    read_balance(home, s);
    s.time = record_time();
    start_positions(home, s);
    return true;
  });
  detail::trace_lines(lines);
  if (!found) {
    throw std::invalid_argument(not_found_text(GWAccountID));
  }
  publish_balance(s);
  finish_positions_walk(s);
  publish_positions(s);
}

void BrokerLink::unsubscribe_account_and_positions(std::int64_t GWAccountID) {
  const auto& k = detail::vendor();
  std::vector<std::string> lines;
  const bool found = guarded("unsubscribe_account_and_positions", [&] {
    return automation::call_in_apartment(
        cel("unsubscribe_account_and_positions"), [&](const Object& home) {
          // The account is looked up before the level drops: at aslNone the
          // vendor lists no accounts, so the look-up would never find it.
          detail::AccountLookup account = detail::find_account(home, GWAccountID);
          lines = std::move(account.lines);
          vendor::Cel(home).AccountSubscriptionLevel(k.aslNone);
          if (account.account) {
            const vendor::Account selected(account.account);
            selected.AutoSubscribeInstruments(false);
            selected.PositionSubcriptionLevel(k.pslNoPositions);
          }
          return static_cast<bool>(account.account);
        });
  });
  detail::trace_lines(lines);
  {
    MutexLock guard(live_mutex_);
    if (live_.account == GWAccountID) {
      live_.account.reset();
    }
  }
  if (!found) {
    throw std::invalid_argument(not_found_text(GWAccountID));
  }
  Trace(fmt::format("Unsubscribe account {}.", GWAccountID));
}

void BrokerLink::update_account_balance() {
  detail::AccountSnapshot s = new_snapshot(GWAccountID());
  guarded("update_account_balance", [&] {
    automation::call_in_apartment(cel("update_account_balance"),
                                  [&](const Object& home) { read_balance(home, s); });
  });
  publish_balance(s);
}

void BrokerLink::update_positions() {
  detail::AccountSnapshot s = new_snapshot(GWAccountID());
  guarded("update_positions", [&] {
    automation::call_in_apartment(cel("update_positions"), [&](const Object& home) {
      s.time = record_time();
      start_positions(home, s);
    });
    finish_positions_walk(s);
  });
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

template <class Source>
void BrokerLink::apply_account_change(Source& source) {
  const auto& k = detail::vendor();
  if (source.is(k.actPositionAdded)) {
    Trace(source.position_line("added"));
  }
  if (source.is(k.actPositionChanged)) {
    Trace(source.position_line("changed"));
  }
  if (source.is(k.actAccountsReloaded)) {
    Trace("OnAccountChanged - Accounts are ready!");
    accounts_reloaded_.set();
    eventAccountIsReady.set();
  }
}

void BrokerLink::OnAccountChanged(const Variant& change, const Variant& cqgAccount,
                                  const Variant& cqgPosition) {
  VendorAccountChange source(change, cqgAccount, cqgPosition);
  apply_account_change(source);
}

void BrokerLink::account_changed(const decoded::AccountChange& event) {
  run_guarded(CelEvent::OnAccountChanged, [&] {
    DecodedAccountChange source(event);
    apply_account_change(source);
  });
}

}  // namespace orbrix::cqg
