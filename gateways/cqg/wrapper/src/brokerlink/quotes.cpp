#include <fmt/format.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg {

using automation::Object;

namespace {

// The quote handler's member ids, per worker thread.
thread_local detail::MemberIds<1> instrument_ids({"FullName"});
thread_local detail::MemberIds<2> quotes_ids({"Count", "ItemByIndex"});
thread_local detail::MemberIds<3> quote_ids({"IsValid", "Type", "price"});

std::string full_name_of(const Object& instrument) {
  return instrument.get("FullName").as_string();
}

}  // namespace

std::string_view symbol_of_full_name(std::string_view full_name) noexcept {
  const auto dot = full_name.rfind('.');
  return dot == std::string_view::npos ? full_name : full_name.substr(dot + 1);
}

void apply_instrument_change(BaseGateway& gateway, const InstrumentChange& change) {
  for (const QuoteUpdate& quote : change.quotes) {
    if (!quote.valid) {
      continue;
    }
    const std::optional<Security> security =
        gateway.get_eng_security_from_cqg_symbol(symbol_of_full_name(change.full_name));
    if (!security) {
      continue;
    }
    BaseGateway::QuoteMap::Snapshot stored;
    try {
      stored = gateway.cqg_quotes().get(*security);
    } catch (const std::out_of_range&) {
      throw std::out_of_range(
          fmt::format("cqg_quotes has no key for {}: the engine adds every subscribed security",
                      to_text(*security)));
    }
    Quote eng_quote = stored ? *stored : Quote(*security, security->exchange(), local_now());
    const std::string_view name = QuoteType2String(quote.type);
    const double p = quote.price;
    if (name == "Last trade price") {
      eng_quote = eng_quote.with({.last_price = p, .datetime = local_now()});
    } else if (name == "Best bid") {
      eng_quote = eng_quote.with({.bid_price = p, .datetime = local_now()});
    } else if (name == "Best ask") {
      eng_quote = eng_quote.with({.ask_price = p, .datetime = local_now()});
    } else if (name == "Day open price") {
      eng_quote = eng_quote.with({.open_price = p, .datetime = local_now()});
    } else if (name == "Current day high price") {
      eng_quote = eng_quote.with({.high_price = p, .datetime = local_now()});
    } else if (name == "Current day low price") {
      eng_quote = eng_quote.with({.low_price = p, .datetime = local_now()});
    } else if (name == "Yesterday's settlement price") {
      eng_quote = eng_quote.with({.prev_close_price = p, .datetime = local_now()});
    }
    // Stored also when nothing changed, so a new record exists at once.
    const auto record = std::make_shared<const Quote>(std::move(eng_quote));
    gateway.cqg_quotes().store(*security, record);
    if (record->last_price() != 0 || (record->bid_price() != 0 && record->ask_price() != 0)) {
      gateway.process_quote(*record);
    }
  }
}

Object BrokerLink::get_instrument_from_cqg_symbol(std::string_view cqg_symbol) {
  return automation::call_in_apartment(
      cel("get_instrument_from_cqg_symbol"), [&](const Object& home) {
        return detail::first_containing(home.object("Instruments"), cqg_symbol, full_name_of);
      });
}

void BrokerLink::subscribe_quote(std::string_view cqg_symbol) {
  ensure_not_on_worker("subscribe_quote");
  const Object& proxy = cel("subscribe_quote");
  eventQuoteDone.clear();
  proxy.call("NewInstrument", cqg_symbol);
  Trace(fmt::format("Waiting for eventQuoteDone in subscribe_quote({})...", cqg_symbol));
  // A time-out is accepted: the subscription may still resolve later.
  (void)wait(eventQuoteDone);
  Trace("eventQuoteDone is done.");
}

void BrokerLink::unsubscribe_quote(std::string_view cqg_symbol) {
  const bool removed =
      automation::call_in_apartment(cel("unsubscribe_quote"), [&](const Object& home) {
        const Object instrument =
            detail::first_containing(home.object("Instruments"), cqg_symbol, full_name_of);
        if (!instrument) {
          return false;
        }
        const std::string full_name = full_name_of(instrument);
        home.call("RemoveInstrument", instrument.dispatch());
        removed_instruments_.insert(full_name);
        eventQuoteDone.clear();
        return true;
      });
  if (removed) {
    Trace(fmt::format("Successfully unsubscribe quote for {}", cqg_symbol));
  }
}

void BrokerLink::OnInstrumentResolved(const Variant&, const Variant& cqgInstrument,
                                      const Variant& cqgError) {
  if (cqgError.is_empty()) {
    const Object instrument(cqgInstrument);
    instrument.put("DataSubscriptionLevel", detail::vendor().dsQuotesAndBBA);
    if (!removed_instruments_.empty()) {
      removed_instruments_.erase(full_name_of(instrument));
    }
  }
  // An error releases the waiting caller too, without a subscription level.
  if (!eventQuoteDone.is_set()) {
    eventQuoteDone.set();
  }
}

void BrokerLink::OnInstrumentChanged(const Variant& cqgInstrument, const Variant& cqgQuotes,
                                     const Variant&) {
  BaseGateway& g = bound_gateway("OnInstrumentChanged");
  const Object instrument(cqgInstrument);
  InstrumentChange change;
  change.full_name = detail::get_by_id(instrument, instrument_ids.of(instrument)[0]).as_string();
  if (removed_instruments_.contains(change.full_name)) {
    return;  // a late event of an unsubscribed instrument
  }
  // By index rather than through an enumerator: no snapshot of the
  // collection per event.
  const Object quotes(cqgQuotes);
  const auto& c = quotes_ids.of(quotes);
  const std::int64_t count = detail::get_by_id(quotes, c[0]).as_int();
  change.quotes.reserve(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
  for (std::int64_t i = 0; i < count; ++i) {
    const Variant index(i);
    const Object quote(
        quotes.invoke(c[1], automation::InvokeKind::Method, automation::Args(&index, 1)));
    const auto& ids = quote_ids.of(quote);
    QuoteUpdate u;
    u.valid = detail::get_by_id(quote, ids[0]).truthy();
    if (u.valid) {
      u.type = detail::get_by_id(quote, ids[1]).as_int();
      u.price = detail::get_by_id(quote, ids[2]).as_double();
    }
    change.quotes.push_back(u);
  }
  apply_instrument_change(g, change);
}

}  // namespace orbrix::cqg
