#include <fmt/format.h>

#include <memory>
#include <stdexcept>

#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg {

using automation::Object;

namespace {

// The tick handler's member ids, per worker thread.
thread_local detail::MemberIds<3> ticks_ids({"Count", "Item", "Request"});
thread_local detail::MemberIds<1> request_ids({"Symbol"});
thread_local detail::MemberIds<3> tick_ids({"PriceType", "Price", "Volume"});

std::string request_symbol_of(const Object& ticks) {
  return ticks.object("Request").get("Symbol").as_string();
}

}  // namespace

bool apply_ticks_added(BaseGateway& gateway, const TicksAdded& added) {
  const std::optional<Security> security = gateway.get_eng_security_from_cqg_symbol(added.symbol);
  if (!security) {
    return false;
  }
  for (const TickUpdate& tick : added.ticks) {
    BaseGateway::OrderBookMap::Snapshot stored;
    try {
      stored = gateway.cqg_orderbooks().get(*security);
    } catch (const std::out_of_range&) {
      throw std::out_of_range(
          fmt::format("cqg_orderbooks has no key for {}: the engine adds every subscribed security",
                      to_text(*security)));
    }
    OrderBook book = stored ? *stored : OrderBook(*security, security->exchange(), local_now());
    const std::string_view name = TickType2String(tick.price_type);
    if (name == "Ask price") {
      book = book.with(
          {.ask_price_1 = tick.price, .ask_volume_1 = tick.volume, .datetime = local_now()});
    } else if (name == "Bid price") {
      book = book.with(
          {.bid_price_1 = tick.price, .bid_volume_1 = tick.volume, .datetime = local_now()});
    }
    // Stored after every tick, also a trade that changed nothing.
    const auto record = std::make_shared<const OrderBook>(std::move(book));
    gateway.cqg_orderbooks().store(*security, record);
    if (record->bid_price_1() != 0 && record->ask_price_1() != 0 && record->bid_volume_1() != 0 &&
        record->ask_volume_1() != 0) {
      gateway.process_orderbook(*record);
    }
  }
  return true;
}

Object BrokerLink::get_ticks_from_cqg_symbol(std::string_view cqg_symbol) {
  return automation::call_in_apartment(cel("get_ticks_from_cqg_symbol"), [&](const Object& home) {
    return detail::first_containing(home.object("AllTicks"), cqg_symbol, request_symbol_of);
  });
}

void BrokerLink::subscribe_orderbook(std::string_view cqg_symbol) {
  ensure_not_on_worker("subscribe_orderbook");
  const Object& proxy = cel("subscribe_orderbook");
  const auto& k = detail::vendor();
  std::string limit;
  // First hop: build the request and read its limit back, so the limit line
  // is written before the request is sent.
  const Object request = automation::call_in_apartment(proxy, [&](const Object& home) {
    Object r(home.call("CreateTicksRequest"));
    r.put("Symbol", cqg_symbol);
    r.put("Type", k.trtCurrentNotify);
    r.put("TickFilter", k.tfAll);
    r.put("SessionsFilter", 31);
    r.put("Limit", 10);
    limit = r.get("Limit").to_text();
    return r;
  });
  Trace(fmt::format("Limit: {}", limit));
  eventOrderbookDone.clear();
  proxy.call("RequestTicks", request.dispatch());
  Trace(fmt::format("Waiting for eventOrderbookDone in subscribe_orderbook({})...", cqg_symbol));
  (void)wait(eventOrderbookDone);
  Trace("eventOrderbookDone is done.");
}

void BrokerLink::unsubscribe_orderbook(std::string_view cqg_symbol) {
  const bool removed =
      automation::call_in_apartment(cel("unsubscribe_orderbook"), [&](const Object& home) {
        const Object ticks =
            detail::first_containing(home.object("AllTicks"), cqg_symbol, request_symbol_of);
        if (!ticks) {
          return false;
        }
        const std::string symbol = request_symbol_of(ticks);
        home.call("RemoveTicks", ticks.dispatch());
        removed_tick_symbols_.insert(symbol);
        eventOrderbookDone.clear();
        return true;
      });
  if (removed) {
    Trace(fmt::format("Successfully unsubscribe orderbook for {}", cqg_symbol));
  }
}

void BrokerLink::OnTicksResolved(const Variant& cqgTicks, const Variant&) {
  // Success or error alike releases the waiting caller.
  if (!removed_tick_symbols_.empty()) {
    if (const Object ticks(cqgTicks); ticks) {
      removed_tick_symbols_.erase(request_symbol_of(ticks));
    }
  }
  if (!eventOrderbookDone.is_set()) {
    eventOrderbookDone.set();
  }
}

void BrokerLink::OnTicksAdded(const Variant& cqgTicks, const Variant& addedTicksCount) {
  BaseGateway& g = bound_gateway("OnTicksAdded");
  const Object dispatchedCQGTicks(cqgTicks);
  const auto& ids = ticks_ids.of(dispatchedCQGTicks);
  const Object request(detail::get_by_id(dispatchedCQGTicks, ids[2]));
  TicksAdded added;
  added.symbol = detail::get_by_id(request, request_ids.of(request)[0]).as_string();
  if (removed_tick_symbols_.contains(added.symbol)) {
    return;  // a late batch of a removed request
  }
  const std::int64_t added_count = addedTicksCount.as_int();
  const std::int64_t first = detail::get_by_id(dispatchedCQGTicks, ids[0]).as_int() - added_count;
  const std::int64_t end = detail::get_by_id(dispatchedCQGTicks, ids[0]).as_int();
  added.ticks.reserve(static_cast<std::size_t>(std::max<std::int64_t>(end - first, 0)));
  for (std::int64_t i = std::max<std::int64_t>(first, 0); i < end; ++i) {
    const Variant index(i);
    const Object tick(dispatchedCQGTicks.invoke(ids[1], automation::InvokeKind::Method,
                                                automation::Args(&index, 1)));
    const auto& t = tick_ids.of(tick);
    added.ticks.push_back({detail::get_by_id(tick, t[0]).as_int(),
                           detail::get_by_id(tick, t[1]).as_double(),
                           detail::get_by_id(tick, t[2]).as_double()});
  }
  if (!apply_ticks_added(g, added) && unmapped_tick_symbols_.insert(added.symbol).second) {
    // Said once per symbol: the engine maps every symbol it subscribes.
    Trace(fmt::format("OnTicksAdded: no security is mapped to {}; its ticks are dropped",
                      added.symbol));
  }
}

void BrokerLink::OnTicksRemoved(const Variant&, const Variant&) {}

}  // namespace orbrix::cqg
