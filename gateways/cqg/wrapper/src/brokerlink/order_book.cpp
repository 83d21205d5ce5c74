#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <stdexcept>

#include "apply.hpp"
#include "engine_hooks.hpp"
#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "record_pool.hpp"
#include "security_lookup.hpp"
#include "worker_state.hpp"

namespace orbrix::cqg {

using automation::Object;

namespace {

std::string ticks_request_symbol(const Object& ticks) {
  return vendor::TicksRequest(vendor::Ticks(ticks).Request()).Symbol();
}

// What a tick price type does to the book, by the type's value: the ask
// and bid types are named and compared once per process, so a tick costs
// integer compares. Throws std::out_of_range for a type outside the name
// table.
enum class BookSide { Ask, Bid, None };
BookSide side_of_name(std::string_view name) {
  return name == "Ask price" ? BookSide::Ask : name == "Bid price" ? BookSide::Bid : BookSide::None;
}
BookSide side_of_type(std::int64_t type) {
  static const auto kSides = [] {
    std::array<std::pair<std::int64_t, BookSide>, 2> sides{};
    constexpr std::array<std::string_view, 2> kNames{"tptAsk", "tptBid"};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      const std::int64_t value = vendor_constant(kNames[i]);
      // By the type's name, as for any tick (two constants may share a value).
      sides[i] = {value, side_of_name(TickType2String(value))};
    }
    return sides;
  }();
  for (const auto& [value, side] : kSides) {
    if (value == type) {
      return side;
    }
  }
  (void)TickType2String(type);  // a type outside the table ends the batch here
  return BookSide::None;
}

// Applies the newest `added` ticks of a batch, oldest first, reading from
// `source` only what each step needs: the vendor sees Count twice (the two
// bounds), then per tick Item(i), its collection's Request.Symbol, the
// tick's PriceType, and its Volume and Price for an ask or bid only.
// `source` offers count(), item(i), security(gateway) (the request's
// Symbol and the engine's look-up), price_type(), volume() and price().
// Returns false, stopping at the first tick, when the engine maps no
// security to the requested symbol. Records are stamped with `now`.
template <class Source>
bool apply_ticks(BaseGateway& gateway, Source& source, std::int64_t added, DateTime now) {
  const std::int64_t first = source.count() - added;
  const std::int64_t end = source.count();
  for (std::int64_t i = std::max<std::int64_t>(first, 0); i < end; ++i) {
    source.item(i);
    const detail::Resolved found = source.security(gateway);
    if (found.raised) {
      continue;  // the engine's look-up raised: this tick only is skipped
    }
    if (found.security == nullptr) {
      return false;
    }
    const Security& security = *found.security;
    auto* slot = found.subscribed ? &found.subscribed->book : nullptr;
    const auto stored =
        detail::stored_record(gateway.cqg_orderbooks(), "cqg_orderbooks", security, slot);
    std::optional<OrderBook> fresh;
    const OrderBook& base =
        stored ? *stored : fresh.emplace(OrderBook(security, security.exchange(), now));
    // Stored after every tick, also a trade that changed nothing; built in
    // its block from the stored one: one copy.
    std::shared_ptr<const OrderBook> record;
    switch (side_of_type(source.price_type())) {
      case BookSide::Ask: {
        const double volume = source.volume();
        record = detail::make_record<OrderBook>(
            base.with({.ask_price_1 = source.price(), .ask_volume_1 = volume, .datetime = now}));
        break;
      }
      case BookSide::Bid: {
        const double volume = source.volume();
        record = detail::make_record<OrderBook>(
            base.with({.bid_price_1 = source.price(), .bid_volume_1 = volume, .datetime = now}));
        break;
      }
      case BookSide::None:
        record = detail::make_record<OrderBook>(base);
        break;
    }
    detail::store_record(gateway.cqg_orderbooks(), security, slot, record);
    if (record->bid_price_1() != 0 && record->ask_price_1() != 0 && record->bid_volume_1() != 0 &&
        record->ask_volume_1() != 0) {
      // The ticks after it are applied whatever the engine's hook does.
      detail::call_hook("process_orderbook", [&] { gateway.process_orderbook(*record); });
    }
  }
  return true;
}

// A batch as decoded data (every tick is new): handed over by an
// in-process simulator (with the worker's cache, asking the engine once per
// request), or made by tests and tools (without, asking per tick).
class DecodedTicks {
 public:
  DecodedTicks(const TicksAdded& added, detail::SecurityCache* cache)
      : added_(added), cache_(cache) {}
  std::int64_t count() const { return static_cast<std::int64_t>(added_.ticks.size()); }
  void item(std::int64_t i) { tick_ = &added_.ticks[static_cast<std::size_t>(i)]; }
  detail::Resolved security(BaseGateway& gateway) {
    return cache_ ? event_security_.get(gateway, *cache_, added_.collection, added_.symbol)
                  : detail::look_up(gateway, added_.symbol, own_);
  }
  std::int64_t price_type() const { return tick_->price_type; }
  double volume() const { return tick_->volume; }
  double price() const { return tick_->price; }

 private:
  const TicksAdded& added_;
  detail::SecurityCache* cache_;
  const TickUpdate* tick_ = nullptr;
  detail::EventSecurity event_security_;
  std::optional<Security> own_;
};

// The vendor's tick collection, read through its views as the walk asks
// (on the worker).
class VendorTicks {
 public:
  explicit VendorTicks(const Variant& ticks) : ticks_(Object(ticks)) {}
  std::int64_t count() const { return ticks_.Count(); }
  void item(std::int64_t i) { tick_ = vendor::Tick(ticks_.Item(i)); }
  detail::Resolved security(BaseGateway& gateway) {
    symbol_ = vendor::TicksRequest(ticks_.Request()).Symbol();
    return detail::look_up(gateway, symbol_, security_);
  }
  std::int64_t price_type() const { return tick_.PriceType(); }
  double volume() const { return tick_.Volume(); }
  double price() const { return tick_.Price(); }
  // The symbol read last (that of the tick the walk stopped at).
  const std::string& symbol() const { return symbol_; }

 private:
  vendor::Ticks ticks_;
  vendor::Tick tick_{Object()};
  std::string symbol_;
  std::optional<Security> security_;
};

}  // namespace

bool apply_ticks_added(BaseGateway& gateway, const TicksAdded& added) {
  DecodedTicks source(added, nullptr);
  return apply_ticks(gateway, source, source.count(), local_now());
}

Object BrokerLink::get_ticks_from_cqg_symbol(std::string_view cqg_symbol) {
  return guarded("get_ticks_from_cqg_symbol", [&] {
    return automation::call_in_apartment(cel("get_ticks_from_cqg_symbol"), [&](const Object& home) {
      return detail::first_containing(vendor::Cel(home).AllTicks(), cqg_symbol,
                                      ticks_request_symbol);
    });
  });
}

void BrokerLink::subscribe_orderbook(std::string_view cqg_symbol) {
  ensure_not_on_worker("subscribe_orderbook");
  MutexLock session(session_mutex_);
  guarded("subscribe_orderbook", [&] { subscribe_orderbook_now(cqg_symbol); });
  MutexLock guard(live_mutex_);
  live_.books.emplace(cqg_symbol);
}

void BrokerLink::subscribe_orderbook_now(std::string_view cqg_symbol) {
  const Object& proxy = cel("subscribe_orderbook");
  const auto& k = detail::vendor();
  std::string limit;
  // First hop: build the request and read its limit back, so the limit line
  // is written before the request is sent.
  const Object request = automation::call_in_apartment(proxy, [&](const Object& home) {
    const vendor::TicksRequest r(vendor::Cel(home).CreateTicksRequest());
    r.Symbol(cqg_symbol);
    r.Type(k.trtCurrentNotify);
    r.TickFilter(k.tfAll);
    r.SessionsFilter(31);
    r.Limit(10);
    limit = r.Limit().to_text();
    return r.object();
  });
  Trace(fmt::format("Limit: {}", limit));
  eventOrderbookDone.clear();
  vendor::Cel(proxy).RequestTicks(request);
  Trace(fmt::format("Waiting for eventOrderbookDone in subscribe_orderbook({})...", cqg_symbol));
  const bool answered = wait(eventOrderbookDone, "subscribe_orderbook");
  Trace("eventOrderbookDone is done.");
  if (!answered) {
    report_timeout(SubscriptionFailure::Kind::ticks, cqg_symbol);
  }
}

void BrokerLink::unsubscribe_orderbook(std::string_view cqg_symbol) {
  MutexLock session(session_mutex_);
  guarded("unsubscribe_orderbook", [&] { unsubscribe_orderbook_now(cqg_symbol); });
  MutexLock guard(live_mutex_);
  live_.books.erase(std::string(cqg_symbol));
}

bool BrokerLink::unsubscribe_orderbook_now(std::string_view cqg_symbol) {
  const bool removed =
      automation::call_in_apartment(cel("unsubscribe_orderbook"), [&](const Object& home) {
        const vendor::Cel cel(home);
        const Object ticks =
            detail::first_containing(cel.AllTicks(), cqg_symbol, ticks_request_symbol);
        if (!ticks) {
          return false;
        }
        cel.RemoveTicks(ticks);
        worker_state().securities.forget(ticks.dispatch()->identity());
        worker_state().removed_ticks.add(ticks);
        eventOrderbookDone.clear();
        return true;
      });
  if (removed) {
    Trace(fmt::format("Successfully unsubscribe orderbook for {}", cqg_symbol));
  }
  return removed;
}

void BrokerLink::OnTicksResolved(const Variant& cqgTicks, const Variant& cqgError) {
  if (worker_state().removed_ticks.contains(cqgTicks)) {
    return;  // the late answer of a request the engine removed
  }
  if (const Object resolved(cqgTicks); resolved) {
    worker_state().securities.forget(resolved.dispatch()->identity());  // asked anew
  }
  if (!cqgError.is_empty()) {
    // In this order, as vendor_additions.def declares: the request's symbol,
    // then the error.
    const Object ticks(cqgTicks);
    std::string symbol = ticks ? ticks_request_symbol(ticks) : "";
    report_failure(SubscriptionFailure::Kind::ticks, std::move(symbol),
                   detail::error_text(cqgError));
  }
  // Success or error alike releases the waiting caller.
  if (!eventOrderbookDone.is_set()) {
    eventOrderbookDone.set();
  }
}

void BrokerLink::OnTicksAdded(const Variant& cqgTicks, const Variant& addedTicksCount) {
  BaseGateway& g = bound_gateway("OnTicksAdded");
  if (worker_state().removed_ticks.contains(cqgTicks)) {
    return;  // a late batch of a removed request, dropped before any read
  }
  VendorTicks source(cqgTicks);
  if (!apply_ticks(g, source, addedTicksCount.as_int(), record_time())) {
    report_unmapped_ticks(source.symbol());
  }
}

void BrokerLink::ticks_added(const decoded::TicksAdded& event) {
  run_guarded(CelEvent::OnTicksAdded, [&] {
    BaseGateway& g = bound_gateway("OnTicksAdded");
    WorkerState& state = worker_state();
    if (!state.removed_ticks.empty() && state.removed_ticks.contains(event.collection)) {
      return;  // a late batch of a removed request
    }
    const detail::SecurityCache::InEvent in_event(state.securities);
    DecodedTicks source(event, &state.securities);
    if (!apply_ticks(g, source, source.count(), record_time())) {
      report_unmapped_ticks(event.symbol);
    }
  });
}

void BrokerLink::report_unmapped_ticks(const std::string& symbol) {
  if (worker_state().unmapped_tick_symbols.insert(symbol).second) {
    // Said once per symbol: the engine maps every symbol it subscribes.
    Trace(fmt::format("OnTicksAdded: no security is mapped to {}; its ticks are dropped", symbol));
  }
}

void BrokerLink::OnTicksRemoved(const Variant&, const Variant&) {}

}  // namespace orbrix::cqg
