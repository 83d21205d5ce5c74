#pragma once

// The engine's gateway object as the CQG gateway sees it. The engine derives
// from BaseGateway, implements the symbol translations and the four process
// hooks, stores the API host it created, and lists every security it
// subscribes as a key of cqg_quotes / cqg_orderbooks before data arrives.
//
// Threads: the process hooks and the writes into the two maps happen on the
// API host's worker thread; the engine reads the maps from its own threads
// (SnapshotMap makes that safe: a read returns an immutable snapshot). The
// symbol translations run on whichever thread calls into the gateway, the
// worker or an engine thread, so implementations must be thread-safe.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "orbrix/core/connection_events.hpp"
#include "orbrix/core/export.hpp"
#include "orbrix/core/order_book.hpp"
#include "orbrix/core/order_events.hpp"
#include "orbrix/core/quote.hpp"
#include "orbrix/core/security.hpp"
#include "orbrix/core/snapshot_map.hpp"
#include "orbrix/core/trading_state.hpp"

namespace orbrix::cqg {
class ApiHost;
}  // namespace orbrix::cqg

namespace orbrix {

// The engine's side of a gateway: the symbol mapping and the process hooks
// BrokerLink calls on the API host's worker, and the thread-safe maps of the
// latest quote and order book per security. An engine derives from it.
class ORBRIX_SECURITY_API BaseGateway {
 public:
  // The latest quote and order book per security, readable from any thread.
  using QuoteMap = SnapshotMap<Security, Quote>;
  using OrderBookMap = SnapshotMap<Security, OrderBook>;

  virtual ~BaseGateway();
  BaseGateway(const BaseGateway&) = delete;
  BaseGateway& operator=(const BaseGateway&) = delete;

  // The API host the engine created for this gateway, or null before it is
  // set. Not owned. Any thread; never blocks.
  cqg::ApiHost* apiHost() const noexcept { return api_host_.load(std::memory_order_acquire); }
  void set_apiHost(cqg::ApiHost* host) noexcept {
    api_host_.store(host, std::memory_order_release);
  }

  // The security of a vendor symbol, or none when the engine does not trade
  // it; the same symbol always gives an equal record. Worker or engine
  // thread; must not block for long.
  virtual std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view cqg_symbol) = 0;
  // The vendor symbol of a security. Engine thread. Throws std::out_of_range
  // for a security the engine has no symbol for.
  virtual std::string get_cqg_symbol_from_eng_security(const Security& security) = 0;

  // The complete current quote / order book of a security, after it was
  // stored in the map. Worker thread; an exception ends the vendor event's
  // handler and goes to the API host's event dispatch.
  virtual void process_quote(const Quote& quote) = 0;
  virtual void process_orderbook(const OrderBook& orderbook) = 0;
  // An order's status update / an execution. Worker thread; exceptions as above.
  virtual void process_order(const OrderUpdate& update) = 0;
  virtual void process_deal(const Deal& deal) = 0;

  // What the gateway says about its connection and its subscriptions; each
  // does nothing unless the engine overrides it. Worker thread, like the
  // process hooks; exceptions as above.
  //
  // The gateway connection went up or down (the vendor's report, with its
  // status value), and, with recovery on, each step of getting it back:
  // reconnecting (attempt N), restored, gave up after N attempts.
  virtual void process_connection(const ConnectionEvent& event);
  // The vendor's data connection status value, as it reports it.
  virtual void process_data_connection(std::int64_t vendor_status);
  // A quote, tick or bar subscription the vendor did not resolve (its error
  // text), or did not answer within the gateway's time-out.
  virtual void process_subscription_failure(const SubscriptionFailure& failure);
  // The gateway's trading state changed: halted or set to reduce-only by
  // the engine or the operator, resumed, or set to reduce-only by a breach
  // of the daily loss limit.
  virtual void process_trading_state(const TradingStateChange& change);

  // security -> latest Quote / OrderBook or none. Written by the worker,
  // read by any thread.
  QuoteMap& cqg_quotes() noexcept { return cqg_quotes_; }
  const QuoteMap& cqg_quotes() const noexcept { return cqg_quotes_; }
  OrderBookMap& cqg_orderbooks() noexcept { return cqg_orderbooks_; }
  const OrderBookMap& cqg_orderbooks() const noexcept { return cqg_orderbooks_; }

 protected:
  BaseGateway() = default;

 private:
  std::atomic<cqg::ApiHost*> api_host_{nullptr};
  QuoteMap cqg_quotes_;
  OrderBookMap cqg_orderbooks_;
};

}  // namespace orbrix
