#include "demo_strategy.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <exception>

#include "console.hpp"
#include "demo_gateway.hpp"
#include "demo_summary.hpp"
#include "orbrix/cqg/broker_link.hpp"

namespace orbrix::demo {

using namespace std::chrono_literals;

void DemoStrategy::step(std::chrono::steady_clock::duration elapsed) {
  const auto& securities = gateway_.securities();
  const auto book = gateway_.cqg_orderbooks().find(securities.front());
  if (!book || book->bid_price_1() <= 0 || book->ask_price_1() <= book->bid_price_1()) {
    return;  // nothing to price orders against yet
  }
  const double bid = book->bid_price_1();
  // Prices away from the market stay on the tick grid: whole spreads
  // (each a whole number of ticks) below the bid.
  const double spread = book->ask_price_1() - bid;
  const auto below = [&](double fraction) {
    return bid - std::max(1.0, std::round(bid * fraction / spread)) * spread;
  };
  if (stage_ == 0) {
    // A limit well below the market (it rests), a market order (it fills at
    // the touch) and a protective stop below (it waits for its trigger).
    resting_ = place(Order(securities.front(), OrderType::LIMIT, Direction::LONG, 1, below(0.01)));
    place(Order(securities.front(), OrderType::MARKET, Direction::LONG, 2));
    place(Order(securities.front(), OrderType::STOP, Direction::SHORT, 1, 0, below(0.02)));
    stage_ = 1;
    started_ = elapsed;
  } else if (stage_ == 1 && elapsed - started_ > 5s) {
    cancel(resting_);
    if (securities.size() > 1) {
      place(Order(securities[1], OrderType::MARKET, Direction::SHORT, 1));
    }
    stage_ = 2;
  }
}

std::string DemoStrategy::place(const Order& order) {
  try {
    const auto id = link_.place_order(order);
    gateway_.order_placed(id, order);
    console_.event(fmt::format("place  {}  {}", id, order_text(order)));
    return id;
  } catch (const std::exception& e) {
    console_.event(fmt::format("place  refused: {}", e.what()));
    return {};
  }
}

void DemoStrategy::cancel(const std::string& id) {
  if (id.empty()) {
    return;
  }
  try {
    link_.cancel_order(id);
    console_.event(fmt::format("cancel {}", id));
  } catch (const std::exception& e) {
    console_.event(fmt::format("cancel {} refused: {}", id, e.what()));
  }
}

}  // namespace orbrix::demo
