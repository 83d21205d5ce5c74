#pragma once

// An order as the engine builds it. The security, type, side and quantity
// must be given; prices default to 0 (a market order has none). The engine
// fills in order_id and status as the order goes on.

#include <string>
#include <utility>

#include "orbrix/core/constants.hpp"
#include "orbrix/core/export.hpp"
#include "orbrix/core/security.hpp"

namespace orbrix {

// An order the engine places (BrokerLink::place_order).
struct Order {
  // `price` is a limit's, `stop_price` a stop's; the other stays 0.
  Order(Security security, OrderType order_type, Direction direction, double quantity,
        double price = 0, double stop_price = 0)
      : security(std::move(security)),
        order_type(order_type),
        direction(direction),
        quantity(quantity),
        price(price),
        stop_price(stop_price) {}

  Security security;                          // what to trade
  OrderType order_type;                       // MARKET, LIMIT or STOP
  Direction direction;                        // LONG buys, SHORT sells
  double quantity;                            // contracts, a whole number above 0
  double price;                               // a limit's price
  double stop_price;                          // a stop's trigger price
  std::string order_id;                       // the broker's id once placed; empty before
  OrderStatus status = OrderStatus::UNKNOWN;  // as last reported
  // Equal when every field is.
  friend bool operator==(const Order&, const Order&) = default;
};

// One line with every field, e.g.
// Order(security=Futures(...), order_type=LIMIT, direction=LONG, quantity=2, price=4500.25,
// stop_price=0, order_id="", status=UNKNOWN).
ORBRIX_SECURITY_API std::string to_text(const Order& order);

}  // namespace orbrix
