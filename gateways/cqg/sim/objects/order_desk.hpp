#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "objects/collection.hpp"
#include "objects/connection.hpp"
#include "objects/order.hpp"
#include "objects/session.hpp"
#include "objects/trading_route.hpp"

namespace orbrix::cqgsim {

inline constexpr char kOrdersName[] = "CQGOrders";
using Orders = NamedCollection<kOrdersName>;

// Orders: CreateOrder, an order's Place and Cancel, the Orders collection
// (every working order and the newest finished ones), and OnOrderChanged for
// each order event of the venue, with the fill an execution carries.
//
// Thread: the session's.
class OrderDesk {
 public:
  OrderDesk(Session& session, const Connection& connection, TradingRoute& trading)
      : session_(session),
        connection_(connection),
        trading_(trading),
        orders_(std::make_shared<Orders>()) {}

  const std::shared_ptr<Orders>& orders() const { return orders_; }
  automation::Variant create_order(automation::Args args);
  void place(Order& order);
  void cancel(Order& order);
  // The orders placed and not finished, oldest first.
  std::vector<std::shared_ptr<Order>> working() const;

  // An order event (added or changed): the order shows its figures and
  // OnOrderChanged is fired.
  void deliver(const venue::TradingEvent& event);

 private:
  using Working = std::unordered_map<std::size_t, std::shared_ptr<Order>>;
  // A finished order leaves the working set; the oldest finished ones beyond
  // the number kept leave Orders.
  void retire(Working::iterator it);
  // With an order latency, the venue works order `index` once it has been
  // in transit that long.
  void start_transit(std::size_t index, const Order& o);
  // Tells the controls' order listener, when there is one, of a change.
  void report(const Order& o, const venue::OrderChanged& change) const;

  Session& session_;
  const Connection& connection_;
  TradingRoute& trading_;
  std::shared_ptr<Orders> orders_;
  Working order_of_;                         // orders not finished yet, by the broker's index
  std::deque<std::size_t> finished_orders_;  // the finished ones in Orders, oldest first
  // The events of orders whose announcement is late, by the broker's index,
  // told once it is due.
  std::unordered_map<std::size_t, std::vector<venue::TradingEvent>> held_;
};

}  // namespace orbrix::cqgsim
