#include "orbrix/core/testing/recording_gateway.hpp"

#include <utility>

namespace orbrix::testing {

std::string_view to_text(HookKind kind) {
  switch (kind) {
    case HookKind::quote:
      return "process_quote";
    case HookKind::orderbook:
      return "process_orderbook";
    case HookKind::order:
      return "process_order";
    case HookKind::deal:
      return "process_deal";
  }
  return "process_?";
}

void RecordingGateway::add_symbol(std::string cqg_symbol, const Security& security) {
  MutexLock lock(symbols_mutex_);
  if (const auto old = by_symbol_.find(cqg_symbol); old != by_symbol_.end()) {
    by_security_.erase(old->second);
    by_symbol_.erase(old);
  }
  if (const auto old = by_security_.find(security); old != by_security_.end()) {
    by_symbol_.erase(old->second);
    by_security_.erase(old);
  }
  by_security_.emplace(security, cqg_symbol);
  by_symbol_.emplace(std::move(cqg_symbol), security);
}

void RecordingGateway::set_hook_error(HookKind kind, std::optional<std::string> message) {
  MutexLock lock(calls_mutex_);
  if (message) {
    errors_[kind] = std::move(*message);
  } else {
    errors_.erase(kind);
  }
}

std::optional<Security> RecordingGateway::get_eng_security_from_cqg_symbol(
    std::string_view cqg_symbol) {
  MutexLock lock(symbols_mutex_);
  ++lookups_;
  const auto it = by_symbol_.find(cqg_symbol);
  if (it == by_symbol_.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::string RecordingGateway::get_cqg_symbol_from_eng_security(const Security& security) {
  MutexLock lock(symbols_mutex_);
  const auto it = by_security_.find(security);
  if (it == by_security_.end()) {
    throw std::out_of_range("no symbol for " + orbrix::to_text(security));
  }
  return it->second;
}

std::size_t RecordingGateway::symbol_lookups() const {
  MutexLock lock(symbols_mutex_);
  return lookups_;
}

template <class Record>
void RecordingGateway::record(HookKind kind, const Record& r) {
  std::optional<std::string> error;
  {
    MutexLock lock(calls_mutex_);
    calls_.push_back(HookCall{kind, r});
    if (const auto it = errors_.find(kind); it != errors_.end()) {
      error = it->second;
    }
  }
  calls_cv_.notify_all();
  if (error) {
    throw std::runtime_error(*error);
  }
}

void RecordingGateway::process_quote(const Quote& quote) {
  record(HookKind::quote, quote);
}

void RecordingGateway::process_orderbook(const OrderBook& orderbook) {
  record(HookKind::orderbook, orderbook);
}

void RecordingGateway::process_order(const OrderUpdate& update) {
  record(HookKind::order, update);
}

void RecordingGateway::process_deal(const Deal& deal) {
  record(HookKind::deal, deal);
}

std::vector<HookCall> RecordingGateway::calls() const {
  MutexLock lock(calls_mutex_);
  return calls_;
}

bool RecordingGateway::wait_for_calls(std::size_t count, std::chrono::milliseconds timeout) const {
  MutexLock lock(calls_mutex_);
  return calls_cv_.wait_for(lock, timeout,
                            [&]() NO_THREAD_SAFETY_ANALYSIS { return calls_.size() >= count; });
}

void RecordingGateway::clear_calls() {
  MutexLock lock(calls_mutex_);
  calls_.clear();
}

void RecordingGateway::process_connection(const ConnectionEvent& event) {
  MutexLock lock(calls_mutex_);
  connections_.push_back(event);
  calls_cv_.notify_all();
}

void RecordingGateway::process_data_connection(std::int64_t vendor_status) {
  MutexLock lock(calls_mutex_);
  data_connections_.push_back(vendor_status);
  calls_cv_.notify_all();
}

void RecordingGateway::process_subscription_failure(const SubscriptionFailure& failure) {
  MutexLock lock(calls_mutex_);
  failures_.push_back(failure);
  calls_cv_.notify_all();
}

void RecordingGateway::process_trading_state(const TradingStateChange& change) {
  MutexLock lock(calls_mutex_);
  trading_states_.push_back(change);
  calls_cv_.notify_all();
}

std::vector<TradingStateChange> RecordingGateway::trading_states() const {
  MutexLock lock(calls_mutex_);
  return trading_states_;
}

std::vector<ConnectionEvent> RecordingGateway::connections() const {
  MutexLock lock(calls_mutex_);
  return connections_;
}

std::vector<std::int64_t> RecordingGateway::data_connections() const {
  MutexLock lock(calls_mutex_);
  return data_connections_;
}

std::vector<SubscriptionFailure> RecordingGateway::failures() const {
  MutexLock lock(calls_mutex_);
  return failures_;
}

}  // namespace orbrix::testing
