#pragma once

// What the broker reports after each call, in the order it happened. Events
// are values that name orders and positions by their index and carry the
// figures as they were at that moment (a fill itself), so a later change in
// the same call does not show through an earlier event, and an event can be
// handled after the broker has forgotten its order.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "venue/trading/fill.hpp"
#include "venue/trading/order.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// An order was submitted; its status is InTransit.
struct OrderAdded {
  std::size_t order{};
  Timestamp time{};
};

// An order changed: became Working, was (partially) filled, went to
// CancelPending, Cancelled or Rejected. A partial fill is status Working
// with `fill` set.
struct OrderChanged {
  std::size_t order{};
  OrderStatus status = OrderStatus::InTransit;
  std::int64_t filled_quantity{};
  std::int64_t remaining_quantity{};
  double average_fill_price{};  // ticks
  std::optional<Fill> fill;     // the execution that caused the change
  std::string reject_reason;    // Rejected: why; empty otherwise
  Timestamp time{};
};

// A fill moved a position. The first fill of an account in an instrument
// makes a PositionAdded, every later one a PositionChanged.
struct PositionUpdate {
  std::size_t position{};  // index into PaperBroker::positions()
  std::int64_t quantity{};
  double average_price{};  // ticks
  double realized_pnl{};
  Timestamp time{};
};
struct PositionAdded : PositionUpdate {};
struct PositionChanged : PositionUpdate {};

using TradingEvent = std::variant<OrderAdded, OrderChanged, PositionAdded, PositionChanged>;

}  // namespace orbrix::cqgsim::venue
