#pragma once

// The demo engine's gateway object: the symbol table, the process and
// connection hooks and what they collect (counts, orders with their fills,
// deals, failed subscriptions, the connection's states, the latency from
// the start of a vendor event's handler to its hook), and a console line
// per order update, deal and connection state.
//
// Threads: the hooks run on the API host's worker; everything read by the
// engine's thread is under `mutex_`.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "console.hpp"
#include "display_time.hpp"
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

// An order the engine placed, as its updates left it.
struct OrderRecord {
  Order order;  // with its id and its latest status
  double filled_quantity = 0;
  double average_fill_price = 0;
  UtcTime placed{};                 // this machine's clock
  std::optional<DateTime> updated;  // the vendor's time of the latest update
};

// After the simulator restored a dropped gateway: seconds until the
// connection hook heard up and restored, until the first quote, and until
// the first quote after restored.
struct RecoveryTimes {
  std::optional<double> up, restored, first_quote, first_quote_after_restored;
};

class DemoGateway final : public BaseGateway {
 public:
  // `symbols` are the short vendor symbols the engine trades ("EP"); each
  // gets a futures record and a key in both maps. Lines go to `console`,
  // which must outlive the gateway.
  DemoGateway(const std::vector<std::string>& symbols, const Console& console);

  std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view cqg_symbol) override;
  std::string get_cqg_symbol_from_eng_security(const Security& security) override;
  void process_quote(const Quote& quote) override;
  void process_orderbook(const OrderBook& orderbook) override;
  void process_order(const OrderUpdate& update) override;
  void process_deal(const Deal& deal) override;
  void process_connection(const ConnectionEvent& event) override;
  void process_data_connection(std::int64_t vendor_status) override;
  void process_subscription_failure(const SubscriptionFailure& failure) override;

  // Worker thread: a vendor event's handler starts (for the latency).
  void event_started() noexcept;

  // The security of a short symbol; throws std::out_of_range.
  const Security& security(std::string_view symbol) const;
  const std::vector<Security>& securities() const { return securities_; }

  // Engine thread, after place_order returned the id.
  void order_placed(std::string id, Order order);
  // Engine thread, before the session: after a dropped gateway the session
  // is ready again only once recovery has restored it, not at the up report.
  void expect_recovery() noexcept;
  // Engine thread, right after the simulator restored the gateway: the
  // recovery times are measured from now.
  void gateway_restored_by_simulator();

  // Copies for the engine's thread; orders in placement order.
  std::vector<Order> orders() const;
  std::vector<OrderRecord> order_records() const;
  std::vector<Deal> deals() const;
  std::vector<SubscriptionFailure> failures() const;
  std::vector<ConnectionEvent> connection_events() const;
  // Logged on and, after a drop with recovery on, restored.
  bool session_ready() const;
  RecoveryTimes recovery_times() const;
  Counts counts() const;
  Latency latency() const;
  void count_bars(std::uint64_t n);

 private:
  void note_latency();
  static void apply_update(OrderRecord& record, const OrderUpdate& update);
  // The symbol and side of an order the engine placed, for a deal's line.
  std::string symbol_and_side(const std::string& order_id) const REQUIRES(mutex_);
  double since_restore() const REQUIRES(mutex_);

  // Constant after construction.
  std::vector<Security> securities_;
  std::map<std::string, std::size_t, std::less<>> by_symbol_;
  const Console& console_;

  // Worker thread only.
  std::chrono::steady_clock::time_point event_start_{};

  // Shared with the engine's thread.
  mutable Mutex mutex_;
  Counts counts_ GUARDED_BY(mutex_);
  std::vector<double> latency_us_ GUARDED_BY(mutex_);
  std::vector<std::string> order_ids_ GUARDED_BY(mutex_);  // in placement order
  std::map<std::string, OrderRecord, std::less<>> orders_ GUARDED_BY(mutex_);
  // Updates that came before place_order returned their order's id.
  std::map<std::string, std::vector<OrderUpdate>, std::less<>> early_ GUARDED_BY(mutex_);
  std::vector<Deal> deals_ GUARDED_BY(mutex_);
  std::vector<SubscriptionFailure> failures_ GUARDED_BY(mutex_);
  std::vector<ConnectionEvent> connection_ GUARDED_BY(mutex_);
  bool recovery_ GUARDED_BY(mutex_) = false;
  bool up_ GUARDED_BY(mutex_) = false;
  bool dropped_ GUARDED_BY(mutex_) = false;
  std::optional<std::chrono::steady_clock::time_point> restored_by_simulator_ GUARDED_BY(mutex_);
  RecoveryTimes recovery_times_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::demo
