#include <fmt/format.h>

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

std::string full_name_of(const Object& instrument) {
  return vendor::Instrument(instrument).FullName();
}

// The quote types that set a field of the engine's Quote, in the order
// their names are compared.
enum class QuoteField { Last, Bid, Ask, Open, High, Low, PrevClose };
constexpr std::array<std::pair<std::string_view, QuoteField>, 7> kQuoteFields{{
    {"Last trade price", QuoteField::Last},
    {"Best bid", QuoteField::Bid},
    {"Best ask", QuoteField::Ask},
    {"Day open price", QuoteField::Open},
    {"Current day high price", QuoteField::High},
    {"Current day low price", QuoteField::Low},
    {"Yesterday's settlement price", QuoteField::PrevClose},
}};

std::optional<QuoteField> field_of(std::string_view name) {
  for (const auto& [text, field] : kQuoteFields) {
    if (name == text) {
      return field;
    }
  }
  return std::nullopt;
}

// The field a quote type sets, by the type's value: the values of the
// types that set one are named and compared once per process, so a quote
// costs integer compares. Throws std::out_of_range for a type outside the
// name table.
std::optional<QuoteField> field_of_type(std::int64_t type) {
  static const auto kFields = [] {
    std::array<std::pair<std::int64_t, std::optional<QuoteField>>, 7> fields{};
    constexpr std::array<std::string_view, 7> kNames{
        "qtTrade", "qtBid", "qtAsk", "qtDayOpen", "qtDayHigh", "qtDayLow", "qtYesterdaySettlement"};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      const std::int64_t value = vendor_constant(kNames[i]);
      // By the type's name, as for any quote (two constants may share a value).
      fields[i] = {value, field_of(QuoteType2String(value))};
    }
    return fields;
  }();
  for (const auto& [value, field] : kFields) {
    if (value == type) {
      return field;
    }
  }
  (void)QuoteType2String(type);  // a type outside the table ends the walk here
  return std::nullopt;
}

Quote with_price(const Quote& q, QuoteField field, double p, DateTime now) {
  switch (field) {
    case QuoteField::Last:
      return q.with({.last_price = p, .datetime = now});
    case QuoteField::Bid:
      return q.with({.bid_price = p, .datetime = now});
    case QuoteField::Ask:
      return q.with({.ask_price = p, .datetime = now});
    case QuoteField::Open:
      return q.with({.open_price = p, .datetime = now});
    case QuoteField::High:
      return q.with({.high_price = p, .datetime = now});
    case QuoteField::Low:
      return q.with({.low_price = p, .datetime = now});
    case QuoteField::PrevClose:
      return q.with({.prev_close_price = p, .datetime = now});
  }
  return q;
}

// Applies one instrument change quote by quote, reading from `source` only
// what each step needs, when it needs it: the vendor sees, per quote,
// IsValid, then (valid only) the instrument's FullName, then (mapped only)
// Type, then (a type that sets a field only) the price. `source` offers
// next(), valid(), security(gateway) (the FullName and the engine's
// look-up), type() and price(). An unknown type ends the walk with the
// error: the quotes after it are not read. An engine hook that raises is
// traced and the walk goes on. Records are stamped with `now`.
template <class Source>
void apply_quotes(BaseGateway& gateway, Source& source, DateTime now) {
  while (source.next()) {
    if (!source.valid()) {
      continue;
    }
    // A look-up that raises skips this quote only, as an unmapped one.
    const detail::Resolved found = source.security(gateway);
    if (found.security == nullptr) {
      continue;
    }
    const Security& security = *found.security;
    auto* slot = found.subscribed ? &found.subscribed->quote : nullptr;
    const auto stored = detail::stored_record(gateway.cqg_quotes(), "cqg_quotes", security, slot);
    std::optional<Quote> fresh;
    const Quote& base = stored ? *stored : fresh.emplace(Quote(security, security.exchange(), now));
    // Stored also when nothing changed, so a new record exists at once. The
    // record is built in its block from the stored one: one copy.
    const auto field = field_of_type(source.type());
    const auto record =
        field ? detail::make_record<Quote>(with_price(base, *field, source.price(), now))
              : detail::make_record<Quote>(base);
    detail::store_record(gateway.cqg_quotes(), security, slot, record);
    if (record->last_price() != 0 || (record->bid_price() != 0 && record->ask_price() != 0)) {
      // The quotes after it are applied whatever the engine's hook does.
      detail::call_hook("process_quote", [&] { gateway.process_quote(*record); });
    }
  }
}

// An instrument change as decoded data: handed over by an in-process
// simulator (with the worker's cache, asking the engine once per
// instrument), or made by tests and tools (without, asking per quote).
class DecodedQuotes {
 public:
  DecodedQuotes(const InstrumentChange& change, detail::SecurityCache* cache)
      : change_(change), cache_(cache) {}
  bool next() { return ++i_ < change_.quotes.size(); }
  bool valid() const { return change_.quotes[i_].valid; }
  detail::Resolved security(BaseGateway& gateway) {
    const std::string_view symbol = symbol_of_full_name(change_.full_name);
    return cache_ ? event_security_.get(gateway, *cache_, change_.instrument, symbol)
                  : detail::look_up(gateway, symbol, own_);
  }
  std::int64_t type() const { return change_.quotes[i_].type; }
  double price() const { return change_.quotes[i_].price; }

 private:
  const InstrumentChange& change_;
  detail::SecurityCache* cache_;
  detail::EventSecurity event_security_;
  std::optional<Security> own_;
  std::size_t i_ = static_cast<std::size_t>(-1);
};

// The vendor's instrument and changed quotes, read through their views as
// the walk asks (on the worker).
class VendorQuotes {
 public:
  VendorQuotes(const Variant& instrument, const Variant& quotes)
      : instrument_(Object(instrument)), walk_(Object(quotes)) {}
  bool next() {
    Variant item;
    if (!walk_.next(item)) {
      return false;
    }
    quote_ = vendor::Quote(Object(item));
    return true;
  }
  bool valid() const { return quote_.IsValid(); }
  detail::Resolved security(BaseGateway& gateway) {
    const std::string full_name = instrument_.FullName();
    return detail::look_up(gateway, symbol_of_full_name(full_name), security_);
  }
  std::int64_t type() const { return quote_.Type(); }
  double price() const { return quote_.price(); }

 private:
  vendor::Instrument instrument_;
  vendor::Walk walk_;
  vendor::Quote quote_{Object()};
  std::optional<Security> security_;
};

}  // namespace

std::string_view symbol_of_full_name(std::string_view full_name) noexcept {
  const auto dot = full_name.rfind('.');
  return dot == std::string_view::npos ? full_name : full_name.substr(dot + 1);
}

void apply_instrument_change(BaseGateway& gateway, const InstrumentChange& change) {
  DecodedQuotes source(change, nullptr);
  apply_quotes(gateway, source, local_now());
}

Object BrokerLink::get_instrument_from_cqg_symbol(std::string_view cqg_symbol) {
  return guarded("get_instrument_from_cqg_symbol", [&] {
    return automation::call_in_apartment(
        cel("get_instrument_from_cqg_symbol"), [&](const Object& home) {
          return detail::first_containing(vendor::Cel(home).Instruments(), cqg_symbol,
                                          full_name_of);
        });
  });
}

void BrokerLink::subscribe_quote(std::string_view cqg_symbol) {
  ensure_not_on_worker("subscribe_quote");
  MutexLock session(session_mutex_);
  guarded("subscribe_quote", [&] { subscribe_quote_now(cqg_symbol); });
  MutexLock guard(live_mutex_);
  live_.quotes.emplace(cqg_symbol);
}

void BrokerLink::subscribe_quote_now(std::string_view cqg_symbol) {
  eventQuoteDone.clear();
  automation::call_in_apartment(cel("subscribe_quote"), [&](const Object& home) {
    vendor::Cel(home).NewInstrument(cqg_symbol);
    WorkerState& state = worker_state();
    // Wanted again: the answer to a request withdrawn earlier, if the
    // vendor still gives it, subscribes the symbol as well as this one's.
    int& unanswered = state.unanswered_quotes[std::string(cqg_symbol)];
    if (const auto w = state.withdrawn_quotes.find(std::string(cqg_symbol));
        w != state.withdrawn_quotes.end()) {
      unanswered += w->second;
      state.withdrawn_quotes.erase(w);
    }
    ++unanswered;
  });
  Trace(fmt::format("Waiting for eventQuoteDone in subscribe_quote({})...", cqg_symbol));
  // A time-out is accepted: the subscription may still resolve later.
  const bool answered = wait(eventQuoteDone, "subscribe_quote");
  Trace("eventQuoteDone is done.");
  if (!answered) {
    report_timeout(SubscriptionFailure::Kind::quote, cqg_symbol);
  }
}

void BrokerLink::unsubscribe_quote(std::string_view cqg_symbol) {
  MutexLock session(session_mutex_);
  guarded("unsubscribe_quote", [&] { unsubscribe_quote_now(cqg_symbol); });
  MutexLock guard(live_mutex_);
  live_.quotes.erase(std::string(cqg_symbol));
}

bool BrokerLink::unsubscribe_quote_now(std::string_view cqg_symbol) {
  const bool removed =
      automation::call_in_apartment(cel("unsubscribe_quote"), [&](const Object& home) {
        WorkerState& state = worker_state();
        const vendor::Cel cel(home);
        const Object instrument =
            detail::first_containing(cel.Instruments(), cqg_symbol, full_name_of);
        const auto unanswered = state.unanswered_quotes.find(std::string(cqg_symbol));
        if (!instrument) {
          // Nothing to remove: the vendor still answers the requests of the
          // symbol, and their answers must not subscribe it.
          if (unanswered != state.unanswered_quotes.end()) {
            state.withdrawn_quotes[unanswered->first] += unanswered->second;
            state.unanswered_quotes.erase(unanswered);
          }
          return false;
        }
        // Removing the instrument ends the vendor's pending answers for it:
        // none is left to drop, and a later request's answer is its own.
        if (unanswered != state.unanswered_quotes.end()) {
          state.unanswered_quotes.erase(unanswered);
        }
        cel.RemoveInstrument(instrument);
        state.securities.forget(instrument.dispatch()->identity());
        state.removed_instruments.add(instrument);
        eventQuoteDone.clear();
        return true;
      });
  if (removed) {
    Trace(fmt::format("Successfully unsubscribe quote for {}", cqg_symbol));
  }
  return removed;
}

void BrokerLink::OnInstrumentResolved(const Variant& symbol, const Variant& cqgInstrument,
                                      const Variant& cqgError) {
  const std::string requested =
      symbol.kind() == automation::VariantKind::Text ? symbol.as_string() : std::string();
  if (!worker_state().withdrawn_quotes.empty()) {
    if (const auto it = worker_state().withdrawn_quotes.find(requested);
        it != worker_state().withdrawn_quotes.end()) {
      if (--it->second == 0) {
        worker_state().withdrawn_quotes.erase(it);
      }
      return;  // the answer to a request the engine withdrew
    }
  }
  if (const auto it = worker_state().unanswered_quotes.find(requested);
      it != worker_state().unanswered_quotes.end()) {
    if (--it->second == 0) {
      worker_state().unanswered_quotes.erase(it);
    }
  }
  if (cqgError.is_empty()) {
    // Subscribed again: its events count once more, and its security is
    // asked for anew.
    worker_state().removed_instruments.erase(cqgInstrument);
    const Object instrument(cqgInstrument);
    if (instrument) {
      worker_state().securities.forget(instrument.dispatch()->identity());
    }
    vendor::Instrument(instrument).DataSubscriptionLevel(detail::vendor().dsQuotesAndBBA);
  } else {
    // Told before the waiting caller is released, so it knows on return.
    report_failure(SubscriptionFailure::Kind::quote, requested, detail::error_text(cqgError));
  }
  // An error releases the waiting caller too, without a subscription level.
  if (!eventQuoteDone.is_set()) {
    eventQuoteDone.set();
  }
}

void BrokerLink::OnInstrumentChanged(const Variant& cqgInstrument, const Variant& cqgQuotes,
                                     const Variant&) {
  BaseGateway& g = bound_gateway("OnInstrumentChanged");
  if (worker_state().removed_instruments.contains(cqgInstrument)) {
    return;  // a late event of an unsubscribed instrument, dropped before any read
  }
  VendorQuotes source(cqgInstrument, cqgQuotes);
  apply_quotes(g, source, record_time());
}

void BrokerLink::instrument_changed(const decoded::InstrumentChange& event) {
  run_guarded(CelEvent::OnInstrumentChanged, [&] {
    BaseGateway& g = bound_gateway("OnInstrumentChanged");
    WorkerState& state = worker_state();
    if (!state.removed_instruments.empty() &&
        state.removed_instruments.contains(event.instrument)) {
      return;  // a late event of an unsubscribed instrument
    }
    const detail::SecurityCache::InEvent in_event(state.securities);
    DecodedQuotes source(event, &state.securities);
    apply_quotes(g, source, record_time());
  });
}

}  // namespace orbrix::cqg
