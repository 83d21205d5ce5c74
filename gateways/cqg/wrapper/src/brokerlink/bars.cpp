#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <utility>

#include "apply.hpp"
#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/core/safe_call.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "security_lookup.hpp"
#include "worker_state.hpp"

namespace orbrix::cqg {

using automation::Object;

namespace {

constexpr std::array<std::string_view, 2> kFreqAllowed{"1Day", "1Min"};

std::string bars_request_symbol(const Object& bars) {
  return vendor::TimedBarsRequest(vendor::TimedBars(bars).Request()).Symbol();
}

// A Bar of the engine from one vendor bar.
Bar make_bar(const vendor::TimedBar& bar, const Security& security) {
  return Bar{.datetime = detail::vendor_time(bar.Timestamp()),
             .security = security,
             .open = bar.Open().as_double(),
             .high = bar.High().as_double(),
             .low = bar.Low().as_double(),
             .close = bar.Close().as_double(),
             .volume = bar.ActualVolume().as_double()};
}

// The same from a decoded bar.
Bar make_bar(const decoded::TimedBar& bar, const Security& security) {
  return Bar{.datetime = truncate_to_seconds(bar.timestamp),
             .security = security,
             .open = bar.open,
             .high = bar.high,
             .low = bar.low,
             .close = bar.close,
             .volume = bar.actual_volume};
}

// A timed-bars event read from the vendor's collection, member by member
// as the apply functions ask (on the worker): a failed resolution's
// request Symbol then error, Count, the request's Symbol, Item(i)'s values.
class VendorBars {
 public:
  VendorBars(const Variant& bars, const Variant& error) : variant_(bars), error_(error) {}
  bool failed() const { return !error_.is_empty(); }
  std::pair<std::string, std::string> failure() const {
    const Object failed(variant_);
    std::string symbol = failed ? bars_request_symbol(failed) : "";
    return {std::move(symbol), detail::error_text(error_)};
  }
  std::int64_t count() const { return bars().Count(); }
  std::string symbol() const { return bars_request_symbol(bars().object()); }
  // The security of the request's symbol, asked of the engine (its error
  // passes).
  std::optional<Security> security(BaseGateway& gateway, const std::string& symbol) const {
    return gateway.get_eng_security_from_cqg_symbol(symbol);
  }
  Bar bar(std::int64_t i, const Security& security) const {
    return make_bar(vendor::TimedBar(bars().Item(i)), security);
  }

 private:
  const vendor::TimedBars& bars() const {
    if (!bars_) {
      bars_.emplace(Object(variant_));
    }
    return *bars_;
  }
  const Variant& variant_;
  const Variant& error_;
  mutable std::optional<vendor::TimedBars> bars_;
};

// A decoded timed-bars event: the resolution's bars, or an addition's bar
// before the newest (at count() - 2, as the vendor's collection has it).
// The security is asked once per request (cache), the engine's error
// passing as on the vendor path.
class DecodedBars {
 public:
  DecodedBars(const decoded::TimedBarsResolved& resolved, detail::SecurityCache& cache)
      : key_(resolved.collection),
        symbol_(resolved.symbol),
        error_(resolved.error ? &*resolved.error : nullptr),
        bars_(&resolved.bars),
        cache_(cache) {}
  DecodedBars(const decoded::TimedBarsAdded& added, detail::SecurityCache& cache)
      : key_(added.collection),
        symbol_(added.symbol),
        previous_(added.previous ? &*added.previous : nullptr),
        cache_(cache) {}
  bool failed() const { return error_ != nullptr; }
  std::pair<std::string, std::string> failure() const {
    return {symbol_, fmt::format("{} (code {})", error_->description, error_->code)};
  }
  std::int64_t count() const {
    if (bars_ != nullptr) {
      return static_cast<std::int64_t>(bars_->size());
    }
    return previous_ != nullptr ? 2 : 1;
  }
  const std::string& symbol() const { return symbol_; }
  std::optional<Security> security(BaseGateway& gateway, const std::string& symbol) const {
    if (const auto [found, entry] = cache_.find(key_); found) {
      return entry ? std::optional<Security>(entry->security) : std::nullopt;
    }
    std::optional<Security> found = gateway.get_eng_security_from_cqg_symbol(symbol);
    cache_.put(key_, found);
    return found;
  }
  Bar bar(std::int64_t i, const Security& security) const {
    return make_bar(bars_ != nullptr ? (*bars_)[static_cast<std::size_t>(i)] : *previous_,
                    security);
  }

 private:
  const void* key_;
  const std::string& symbol_;
  const decoded::Error* error_ = nullptr;
  const std::vector<decoded::TimedBar>* bars_ = nullptr;
  const decoded::TimedBar* previous_ = nullptr;
  detail::SecurityCache& cache_;
};

constexpr double kInvalid = static_cast<double>(INVALID_VALUE);

// The five values a repair looks at, in the order they are tested.
constexpr std::array<double Bar::*, 5> kBarValues{&Bar::open, &Bar::high, &Bar::low, &Bar::close,
                                                  &Bar::volume};

}  // namespace

void fill_missing_bar_values(std::vector<Bar>& bars) {
  const std::size_t n = bars.size();
  if (n == 0) {
    return;
  }
  for (std::size_t i = 1; i < n; ++i) {
    for (const auto field : kBarValues) {
      if (bars[i].*field == kInvalid && bars[i - 1].*field != kInvalid) {
        bars[i].*field = bars[i - 1].*field;
      }
    }
  }
  for (std::size_t i = n - 1; i-- > 0;) {
    for (const auto field : kBarValues) {
      if (bars[i].*field == kInvalid && bars[i + 1].*field != kInvalid) {
        bars[i].*field = bars[i + 1].*field;
      }
    }
  }
  const Bar& last_bar = bars[n - 1];
  for (const auto field : kBarValues) {
    if (last_bar.*field == kInvalid) {
      throw std::invalid_argument("The latest bar is INVALID: " + to_text(last_bar) + ".");
    }
  }
}

bool roll_bar_window(std::vector<Bar>& window, const Bar& bar) {
  if (window.empty()) {
    throw std::out_of_range("the bar window is empty");
  }
  if (!(bar.datetime > window.back().datetime)) {
    return false;
  }
  window.erase(window.begin());
  window.push_back(bar);
  return true;
}

Object BrokerLink::get_timedbars_from_cqg_symbol(std::string_view cqg_symbol) {
  return guarded("get_timedbars_from_cqg_symbol", [&] {
    return automation::call_in_apartment(
        cel("get_timedbars_from_cqg_symbol"), [&](const Object& home) {
          return detail::first_containing(vendor::Cel(home).AllTimedBars(), cqg_symbol,
                                          bars_request_symbol);
        });
  });
}

void BrokerLink::subscribe_bar(std::string_view cqg_symbol, std::int64_t lookback_period,
                               std::string_view freq) {
  if (std::find(kFreqAllowed.begin(), kFreqAllowed.end(), freq) == kFreqAllowed.end()) {
    throw std::invalid_argument(fmt::format(
        "Parameter freq={} is Not supported. Only ('1Day', '1Min') are allowed.", freq));
  }
  if (lookback_period < 0 || lookback_period > kMaxBarLookback) {
    throw std::invalid_argument(fmt::format("subscribe_bar: lookback_period {} is outside 0..{}",
                                            lookback_period, kMaxBarLookback));
  }
  ensure_not_on_worker("subscribe_bar");
  MutexLock session(session_mutex_);
  guarded("subscribe_bar", [&] { subscribe_bar_now(cqg_symbol, lookback_period, freq); });
  MutexLock guard(live_mutex_);
  live_.bars[std::string(cqg_symbol)] = {lookback_period, std::string(freq)};
}

void BrokerLink::subscribe_bar_now(std::string_view cqg_symbol, std::int64_t lookback_period,
                                   std::string_view freq) {
  const Object& proxy = cel("subscribe_bar");
  const auto& k = detail::vendor();
  Trace(fmt::format("Create {} timed bars request for {}", freq, cqg_symbol));
  automation::call_in_apartment(proxy, [&](const Object& home) {
    const vendor::Cel cel(home);
    const vendor::TimedBarsRequest request(cel.CreateTimedBarsRequest());
    request.Symbol(cqg_symbol);
    request.RangeStart(0);
    request.RangeEnd(-lookback_period - 1);
    if (freq == "1Day") {
      request.HistoricalPeriod(k.hpDaily);
    } else {
      request.IntradayPeriod(k.pfds1Min);
    }
    request.DailyBarClose(k.dbcLastQuoteOrSettlement);
    request.UpdatesEnabled(true);
    request.IncludeOutput(k.tbrContractVolume, true);
    request.IncludeOutput(k.tbrCommodityVolume, true);
    request.SessionsFilter("all");
    eventBarDone.clear();
    cel.RequestTimedBars(request.object());
  });
  Trace(fmt::format("Waiting for eventBarDone in subscribe_bar({})...", cqg_symbol));
  const bool answered = wait(eventBarDone, "subscribe_bar");
  Trace("eventBarDone is done.");
  if (!answered) {
    report_timeout(SubscriptionFailure::Kind::bars, cqg_symbol);
  }
}

void BrokerLink::unsubscribe_bar(std::string_view cqg_symbol) {
  safe_call([&] {
    MutexLock session(session_mutex_);
    guarded("unsubscribe_bar", [&] { unsubscribe_bar_now(cqg_symbol); });
    MutexLock guard(live_mutex_);
    live_.bars.erase(std::string(cqg_symbol));
  });
}

bool BrokerLink::unsubscribe_bar_now(std::string_view cqg_symbol) {
  const bool removed =
      automation::call_in_apartment(cel("unsubscribe_bar"), [&](const Object& home) {
        const Object bars = detail::first_containing(vendor::Cel(home).AllTimedBars(), cqg_symbol,
                                                     bars_request_symbol);
        if (!bars) {
          return false;
        }
        vendor::Cel(home).RemoveTimedBars(bars);
        worker_state().securities.forget(bars.dispatch()->identity());
        worker_state().removed_bars.add(bars);
        return true;
      });
  if (!removed) {
    return false;
  }
  const std::optional<Security> security =
      bound_gateway("unsubscribe_bar").get_eng_security_from_cqg_symbol(cqg_symbol);
  eventBarDone.clear();
  if (security) {
    MutexLock guard(bars_mutex_);
    subscribe_bars_data_.erase(*security);
  }
  Trace(fmt::format("Successfully unsubscribe timedbar for {}", cqg_symbol));
  return true;
}

BrokerLink::BarWindow BrokerLink::get_subscribe_bars_data(const Security& security) {
  MutexLock guard(bars_mutex_);
  const auto it = subscribe_bars_data_.find(security);
  if (it == subscribe_bars_data_.end() || it->second.bars->empty()) {
    return nullptr;
  }
  StoredWindow& window = it->second;
  const bool missing = std::any_of(window.bars->begin(), window.bars->end(), [](const Bar& b) {
    return std::any_of(kBarValues.begin(), kBarValues.end(),
                       [&b](double Bar::*field) { return b.*field == kInvalid; });
  });
  if (missing) {
    // Repaired in the store, so the fills persist for later reads and rolls;
    // a window already handed out is repaired in a copy.
    if (window.handed_out) {
      window.bars = std::make_shared<std::vector<Bar>>(*window.bars);
    }
    window.handed_out = false;
    fill_missing_bar_values(*window.bars);
  }
  window.handed_out = true;
  return window.bars;
}

void BrokerLink::dumpBar(const Variant& bar, const Variant& index) {
  const vendor::TimedBar b{Object(bar)};
  Trace(fmt::format(
      "Bar index: {} Timestamp {} Open {} High {} Low {} Close {} ActualVolumeFractional {} "
      "CommodityVolumeFractional {} ContractVolumeFractional {} TickVolume {}",
      index.to_text(), b.Timestamp().to_text(), b.Open().to_text(), b.High().to_text(),
      b.Low().to_text(), b.Close().to_text(), b.ActualVolumeFractional().to_text(),
      b.CommodityVolumeFractional().to_text(), b.ContractVolumeFractional().to_text(),
      b.TickVolume().to_text()));
}

template <class Source>
void BrokerLink::apply_bars_resolved(Source& source) {
  // Every outcome releases the waiting caller, also an error.
  struct Release {
    automation::Event& event;
    ~Release() {
      if (!event.is_set()) {
        event.set();
      }
    }
  } release{eventBarDone};
  if (source.failed()) {
    // In this order, as vendor_additions.def declares: the request's symbol,
    // then the error.
    auto [symbol, error] = source.failure();
    report_failure(SubscriptionFailure::Kind::bars, std::move(symbol), std::move(error));
    return;
  }
  const std::int64_t count = source.count();
  if (count == 0) {
    return;
  }
  const std::string symbol = source.symbol();
  BaseGateway& g = bound_gateway("OnTimedBarsResolved");
  const std::optional<Security> security = source.security(g, symbol);
  if (!security) {
    return;  // no security to key a window with
  }
  {
    MutexLock guard(bars_mutex_);
    const auto it = subscribe_bars_data_.find(*security);
    if (it != subscribe_bars_data_.end() && !it->second.bars->empty()) {
      return;  // an existing window is kept
    }
  }
  // Read aside (vendor calls outside the lock), stored whole. The newest bar
  // is still forming and is never stored.
  std::vector<Bar> window;
  window.reserve(static_cast<std::size_t>(count - 1));
  for (std::int64_t i = 0; i + 1 < count; ++i) {
    window.push_back(source.bar(i, *security));
  }
  MutexLock guard(bars_mutex_);
  subscribe_bars_data_[*security] =
      StoredWindow{std::make_shared<std::vector<Bar>>(std::move(window)), false};
}

template <class Source>
void BrokerLink::apply_bars_added(Source& source) {
  const std::int64_t count = source.count();
  if (count < 2) {
    return;
  }
  const std::string symbol = source.symbol();
  const std::optional<Security> security =
      source.security(bound_gateway("OnTimedBarsAdded"), symbol);
  if (!security) {
    throw std::out_of_range(
        fmt::format("OnTimedBarsAdded: no security is mapped to {}; no window to roll", symbol));
  }
  {
    MutexLock guard(bars_mutex_);
    if (!subscribe_bars_data_.contains(*security)) {
      throw std::out_of_range(fmt::format(
          "OnTimedBarsAdded: no bar window for {}; it is made by the resolution", symbol));
    }
  }
  const Bar bar = source.bar(count - 2, *security);
  bool rolled = false;
  {
    MutexLock guard(bars_mutex_);
    const auto it = subscribe_bars_data_.find(*security);
    if (it == subscribe_bars_data_.end()) {
      return;  // removed by the engine meanwhile
    }
    StoredWindow& window = it->second;
    if (window.handed_out && !window.bars->empty() && bar.datetime > window.bars->back().datetime) {
      // A reader may hold the stored window: roll a copy.
      window.bars = std::make_shared<std::vector<Bar>>(*window.bars);
      window.handed_out = false;
    }
    rolled = roll_bar_window(*window.bars, bar);
  }
  if (rolled) {
    WriteLine("[2] OnTimedBarsAdded: " + to_text(bar));
  }
}

void BrokerLink::OnTimedBarsResolved(const Variant& cqgTimedBars, const Variant& cqgError) {
  if (worker_state().removed_bars.contains(cqgTimedBars)) {
    return;  // the late answer of a request the engine removed: nobody waits for it
  }
  if (const Object resolved(cqgTimedBars); resolved) {
    worker_state().securities.forget(resolved.dispatch()->identity());  // asked anew
  }
  VendorBars source(cqgTimedBars, cqgError);
  apply_bars_resolved(source);
}

void BrokerLink::OnTimedBarsAdded(const Variant& cqgTimedBars) {
  if (worker_state().removed_bars.contains(cqgTimedBars)) {
    return;  // a late addition of a removed request, dropped before any read
  }
  const Variant none;
  VendorBars source(cqgTimedBars, none);
  apply_bars_added(source);
}

void BrokerLink::timed_bars_resolved(const decoded::TimedBarsResolved& event) {
  run_guarded(CelEvent::OnTimedBarsResolved, [&] {
    WorkerState& state = worker_state();
    if (!state.removed_bars.empty() && state.removed_bars.contains(event.collection)) {
      return;
    }
    const detail::SecurityCache::InEvent in_event(state.securities);
    state.securities.forget(event.collection);
    DecodedBars source(event, state.securities);
    apply_bars_resolved(source);
  });
}

void BrokerLink::timed_bars_added(const decoded::TimedBarsAdded& event) {
  run_guarded(CelEvent::OnTimedBarsAdded, [&] {
    WorkerState& state = worker_state();
    if (!state.removed_bars.empty() && state.removed_bars.contains(event.collection)) {
      return;
    }
    const detail::SecurityCache::InEvent in_event(state.securities);
    DecodedBars source(event, state.securities);
    apply_bars_added(source);
  });
}

// The vendor path's handler does nothing with an update either.
void BrokerLink::timed_bars_updated(const decoded::TimedBarsUpdated&) {}

void BrokerLink::OnTimedBarsUpdated(const Variant&, const Variant&) {}
void BrokerLink::OnTimedBarsRemoved(const Variant&, const Variant&) {}

}  // namespace orbrix::cqg
