#pragma once

// A gateway for tests: a symbol table the test fills, and a log of every
// process-hook call, in call order. Hooks are called on the gateway's worker
// thread while the test reads the log on its own, so every method may be
// called from any thread.

#include <chrono>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "orbrix/common/mutex.hpp"
#include "orbrix/common/thread_annotations.hpp"
#include "orbrix/core/base_gateway.hpp"

namespace orbrix::testing {

enum class HookKind { quote, orderbook, order, deal };

// "process_quote", "process_orderbook", "process_order", "process_deal".
std::string_view to_text(HookKind kind);

struct HookCall {
  HookKind kind;
  std::variant<Quote, OrderBook, OrderUpdate, Deal> record;
};

class RecordingGateway final : public BaseGateway {
 public:
  // Maps `cqg_symbol` to `security` and back, replacing an earlier mapping
  // of either.
  void add_symbol(std::string cqg_symbol, const Security& security) EXCLUDES(symbols_mutex_);
  // The hook then throws std::runtime_error(message) after recording its
  // call; std::nullopt makes it succeed again.
  void set_hook_error(HookKind kind, std::optional<std::string> message) EXCLUDES(calls_mutex_);

  // The mapped security, or none for an unknown symbol.
  std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view cqg_symbol) override
      EXCLUDES(symbols_mutex_);
  // Throws std::out_of_range for a security without a symbol.
  std::string get_cqg_symbol_from_eng_security(const Security& security) override
      EXCLUDES(symbols_mutex_);
  // How many times get_eng_security_from_cqg_symbol was called.
  std::size_t symbol_lookups() const EXCLUDES(symbols_mutex_);

  void process_quote(const Quote& quote) override EXCLUDES(calls_mutex_);
  void process_orderbook(const OrderBook& orderbook) override EXCLUDES(calls_mutex_);
  void process_order(const OrderUpdate& update) override EXCLUDES(calls_mutex_);
  void process_deal(const Deal& deal) override EXCLUDES(calls_mutex_);
  // The connection hooks, recorded apart from the process hooks' log.
  void process_connection(const ConnectionEvent& event) override EXCLUDES(calls_mutex_);
  void process_data_connection(std::int64_t vendor_status) override EXCLUDES(calls_mutex_);
  void process_subscription_failure(const SubscriptionFailure& failure) override
      EXCLUDES(calls_mutex_);
  void process_trading_state(const TradingStateChange& change) override EXCLUDES(calls_mutex_);
  // Copies of what the connection and trading-state hooks received, in order.
  std::vector<ConnectionEvent> connections() const EXCLUDES(calls_mutex_);
  std::vector<std::int64_t> data_connections() const EXCLUDES(calls_mutex_);
  std::vector<SubscriptionFailure> failures() const EXCLUDES(calls_mutex_);
  std::vector<TradingStateChange> trading_states() const EXCLUDES(calls_mutex_);

  // A copy of the log.
  std::vector<HookCall> calls() const EXCLUDES(calls_mutex_);
  // The records of one kind of call, in call order (T is Quote, OrderBook,
  // OrderUpdate or Deal).
  template <class T>
  std::vector<T> records() const EXCLUDES(calls_mutex_);
  // Blocks until the log holds at least `count` calls or `timeout` passes;
  // returns whether it does.
  bool wait_for_calls(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) const
      EXCLUDES(calls_mutex_);
  void clear_calls() EXCLUDES(calls_mutex_);

 private:
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };

  template <class Record>
  void record(HookKind kind, const Record& r) EXCLUDES(calls_mutex_);

  mutable Mutex symbols_mutex_;
  std::unordered_map<std::string, Security, TextHash, std::equal_to<>> by_symbol_
      GUARDED_BY(symbols_mutex_);
  std::unordered_map<Security, std::string> by_security_ GUARDED_BY(symbols_mutex_);
  std::size_t lookups_ GUARDED_BY(symbols_mutex_) = 0;

  mutable Mutex calls_mutex_;
  mutable CondVar calls_cv_;
  std::vector<HookCall> calls_ GUARDED_BY(calls_mutex_);
  std::vector<ConnectionEvent> connections_ GUARDED_BY(calls_mutex_);
  std::vector<std::int64_t> data_connections_ GUARDED_BY(calls_mutex_);
  std::vector<SubscriptionFailure> failures_ GUARDED_BY(calls_mutex_);
  std::vector<TradingStateChange> trading_states_ GUARDED_BY(calls_mutex_);
  std::unordered_map<HookKind, std::string> errors_ GUARDED_BY(calls_mutex_);
};

template <class T>
std::vector<T> RecordingGateway::records() const {
  std::vector<T> out;
  MutexLock lock(calls_mutex_);
  for (const HookCall& call : calls_) {
    if (const T* r = std::get_if<T>(&call.record)) {
      out.push_back(*r);
    }
  }
  return out;
}

}  // namespace orbrix::testing
