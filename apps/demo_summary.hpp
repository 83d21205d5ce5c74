#pragma once

// What a demo run did, for the operator: orders by final state, deals,
// realized P&L, what is left open, the event counts, the latency and the
// recovery of a dropped gateway.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "close_out.hpp"
#include "demo_gateway.hpp"
#include "demo_options.hpp"
#include "orbrix/core/balance.hpp"
#include "orbrix/core/connection_events.hpp"

namespace orbrix::demo {

struct DemoSummary {
  // Events the hooks received.
  std::uint64_t quotes = 0, books = 0, bars = 0, orders = 0, deals = 0;
  // From the start of a vendor event's handler to the end of the engine's
  // hook (quotes, books, order updates, deals).
  double latency_median_us = 0, latency_p99_us = 0;
  std::size_t latency_samples = 0;
  bool stopped_by_operator = false;
  std::string ended_by;  // "the clock", "the operator's /stop", "Ctrl-C"
  double run_seconds = 0, close_out_seconds = 0;

  // Orders the engine placed, by final state.
  std::size_t orders_placed = 0;
  std::map<OrderStatus, std::size_t> orders_by_state;
  // From the engine's deals, in price points x contracts, per symbol; deals
  // of orders the engine did not place are not in it.
  std::map<std::string, double> realized_points;
  std::size_t foreign_deals = 0;
  // The account's own figures at the end, in its currency.
  AccountBalance account;

  CloseOutResult close_out;
  bool flat() const { return close_out.flat; }

  std::vector<ConnectionEvent> connection;
  std::optional<GatewayDrop> drop;
  RecoveryTimes recovery;
};

// "LIMIT LONG 1 EP @ 6000.25", "STOP SHORT 1 EP stop 5929.00".
std::string order_text(const Order& order);

// Fills the trading part of `summary` from what the gateway collected.
void summarise_trading(const DemoGateway& gateway, DemoSummary& summary);

// The summary's lines, each starting "summary ".
std::vector<std::string> summary_lines(const DemoSummary& summary);

}  // namespace orbrix::demo
