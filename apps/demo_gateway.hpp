#pragma once

// The demo engine's gateway object: the symbol table, the four process
// hooks and what they collect (counts, orders, deals, the latency from a
// vendor event to its hook), and a line per order update and deal.
//
// Threads: the hooks run on the API host's worker; everything read by the
// engine's thread is under `mutex_`.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "orbrix/common/mutex.hpp"
#include "orbrix/core/base_gateway.hpp"
#include "orbrix/core/order.hpp"

namespace orbrix::demo {

// Median and 99th percentile of a set of samples, in microseconds.
struct Latency {
  double median_us = 0;
  double p99_us = 0;
  std::size_t samples = 0;
};
Latency summarise(std::vector<double> samples_us);

struct Counts {
  std::uint64_t quotes = 0, books = 0, bars = 0, orders = 0, deals = 0;
};

class DemoGateway final : public BaseGateway {
 public:
  // `symbols` are the short vendor symbols the engine trades ("EP"); each
  // gets a futures record and a key in both maps. `print` false keeps the
  // order and deal lines off the console.
  DemoGateway(const std::vector<std::string>& symbols, bool print);

  std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view cqg_symbol) override;
  std::string get_cqg_symbol_from_eng_security(const Security& security) override;
  void process_quote(const Quote& quote) override;
  void process_orderbook(const OrderBook& orderbook) override;
  void process_order(const OrderUpdate& update) override;
  void process_deal(const Deal& deal) override;

  // Worker thread: a vendor event's handler starts (for the latency).
  void event_started() noexcept;

  // The security of a short symbol; throws std::out_of_range.
  const Security& security(std::string_view symbol) const;
  const std::vector<Security>& securities() const { return securities_; }

  // Engine thread, after place_order returned the id.
  void order_placed(std::string id, Order order);
  // Copies for the engine's thread.
  std::vector<Order> orders() const;
  std::vector<Deal> deals() const;
  Counts counts() const;
  Latency latency() const;
  void count_bars(std::uint64_t n);

 private:
  void note_latency();
  void apply_update(Order& order, const OrderUpdate& update) const;

  // Constant after construction.
  std::vector<Security> securities_;
  std::map<std::string, std::size_t, std::less<>> by_symbol_;
  const bool print_;

  // Worker thread only.
  std::chrono::steady_clock::time_point event_start_{};

  // Shared with the engine's thread.
  mutable Mutex mutex_;
  Counts counts_ GUARDED_BY(mutex_);
  std::vector<double> latency_us_ GUARDED_BY(mutex_);
  std::vector<std::string> order_ids_ GUARDED_BY(mutex_);  // in placement order
  std::map<std::string, Order, std::less<>> orders_ GUARDED_BY(mutex_);
  // Updates that came before place_order returned their order's id.
  std::map<std::string, std::vector<OrderUpdate>, std::less<>> early_ GUARDED_BY(mutex_);
  std::vector<Deal> deals_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::demo
