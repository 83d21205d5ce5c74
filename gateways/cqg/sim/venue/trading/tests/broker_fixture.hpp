#pragma once

// Helpers shared by the trading tests: a small instrument table, quotes,
// requests, and a readable log of events for comparing runs.

#include <fmt/format.h>

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "venue/trading/paper_broker.hpp"

namespace orbrix::cqgsim::venue::trading_test {

inline constexpr InstrumentId kEP = 0;  // equity index: 0.25 points = 12.50
inline constexpr InstrumentId kCL = 1;  // energy: 0.01 = 10.00
inline constexpr AccountId kAccount = 100001;

inline std::vector<InstrumentSpec> instruments() {
  InstrumentSpec ep;
  ep.symbol = "EP";
  ep.tick_size = 0.25;
  ep.tick_value = 12.5;
  ep.maintenance_margin = 12'000;
  InstrumentSpec cl;
  cl.symbol = "CLE";
  cl.kind = MarketKind::Energy;
  cl.tick_size = 0.01;
  cl.tick_value = 10.0;
  cl.maintenance_margin = 5'000;
  return {ep, cl};
}

inline Timestamp at(int seconds) {
  return Timestamp{std::chrono::seconds(seconds)};
}

inline TopOfBook quote(std::optional<Ticks> bid, std::optional<Ticks> ask,
                       std::optional<Ticks> trade = std::nullopt, std::int64_t bid_size = 10,
                       std::int64_t ask_size = 10) {
  TopOfBook book;
  book.bid = bid;
  book.ask = ask;
  book.bid_size = bid_size;
  book.ask_size = ask_size;
  if (trade) {
    book.trade = TopOfBook::Trade{*trade, 1};
  }
  return book;
}

inline OrderRequest request(OrderType type, Side side, std::int64_t quantity,
                            std::optional<Ticks> limit = std::nullopt,
                            std::optional<Ticks> stop = std::nullopt, InstrumentId instrument = kEP,
                            AccountId account = kAccount) {
  OrderRequest r;
  r.account = account;
  r.instrument = instrument;
  r.type = type;
  r.side = side;
  r.quantity = quantity;
  r.limit_price = limit;
  r.stop_price = stop;
  return r;
}

// One line per event, so a test can compare whole sequences.
inline std::string describe(const TradingEvent& event) {
  return std::visit(
      [](const auto& e) -> std::string {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, OrderAdded>) {
          return fmt::format("added {}", e.order);
        } else if constexpr (std::is_same_v<E, OrderChanged>) {
          return fmt::format("order {} {} {}/{}{}", e.order, to_string(e.status), e.filled_quantity,
                             e.remaining_quantity,
                             e.fill ? fmt::format(" fill {}", e.fill->id) : std::string());
        } else {
          return fmt::format("{} {} qty {} avg {} pnl {}",
                             std::is_same_v<E, PositionAdded> ? "position+" : "position",
                             e.position, e.quantity, e.average_price, e.realized_pnl);
        }
      },
      event);
}

// The fills the events carry, in order.
inline std::vector<Fill> fills_in(std::span<const TradingEvent> events) {
  std::vector<Fill> out;
  for (const TradingEvent& event : events) {
    if (const auto* changed = std::get_if<OrderChanged>(&event); changed && changed->fill) {
      out.push_back(*changed->fill);
    }
  }
  return out;
}

inline std::vector<std::string> describe(std::span<const TradingEvent> events) {
  std::vector<std::string> out;
  for (const TradingEvent& event : events) {
    out.push_back(describe(event));
  }
  return out;
}

}  // namespace orbrix::cqgsim::venue::trading_test
