#include "close_out.hpp"

#include <fmt/format.h>

#include <map>
#include <set>

#include "bot_request_server.hpp"
#include "demo_gateway.hpp"
#include "demo_summary.hpp"
#include "orbrix/cqg/broker_link.hpp"

namespace orbrix::demo {
namespace {

constexpr int kCancelAgainAfter = 20;  // waits

std::vector<Order> working_orders(const DemoGateway& gateway) {
  std::vector<Order> out;
  for (auto& o : gateway.orders()) {
    if (is_active(o)) {
      out.push_back(std::move(o));
    }
  }
  return out;
}

Direction opposite(Direction d) {
  return d == Direction::LONG ? Direction::SHORT : Direction::LONG;
}

}  // namespace

CloseOutResult close_out(cqg::BrokerLink& link, DemoGateway& gateway,
                         const std::function<bool()>& wait,
                         const std::function<void(const std::string&)>& say, CloseOutUntil until) {
  CloseOutResult result;
  // Waits since each cancel was sent, and the closing orders placed.
  std::map<std::string, int> cancels;
  std::set<std::string> closing;
  // A failure is said once until it changes.
  std::string last_error;
  const auto fail = [&](const std::string& text) {
    if (text != last_error) {
      say(text);
      last_error = text;
    }
  };
  for (;;) {
    if (!gateway.session_ready()) {
      result.positions.reset();
      result.positions_error = "the gateway session is not ready";
      fail("close  the gateway session is not ready; waiting for it");
    } else {
      const auto working = working_orders(gateway);
      for (const auto& o : working) {
        if (closing.contains(o.order_id)) {
          continue;  // our own market order: it is to fill, not to go
        }
        auto [it, first] = cancels.try_emplace(o.order_id, 0);
        if (!first && ++it->second < kCancelAgainAfter) {
          continue;
        }
        try {
          link.cancel_order(o.order_id);
          it->second = 0;
          say(fmt::format("close  cancel {} ({})", o.order_id, order_text(o)));
        } catch (const std::exception& e) {
          cancels.erase(it);
          fail(fmt::format("close  cancel {} refused: {}", o.order_id, e.what()));
        }
      }
      if (working.empty()) {
        try {
          link.update_positions();
          result.positions = link.positions();
          result.positions_error.clear();
        } catch (const std::exception& e) {
          result.positions.reset();
          result.positions_error = e.what();
          fail(fmt::format("close  cannot read positions: {}", e.what()));
        }
        if (result.positions && result.positions->empty()) {
          result.flat = true;
          return result;
        }
        bool all_placed = true;
        for (const auto& p : result.positions.value_or(std::vector<PositionData>{})) {
          const Order order(p.security, OrderType::MARKET, opposite(p.direction), p.quantity);
          try {
            const auto id = link.place_order(order);
            gateway.order_placed(id, order);
            closing.insert(id);
            say(fmt::format("close  {} {} {} (was {} {} @ {:.2f}): order {}",
                            to_text(order.direction), p.quantity, p.security.code(),
                            to_text(p.direction), p.quantity, p.holding_price, id));
          } catch (const std::exception& e) {
            all_placed = false;
            fail(fmt::format("close  {} {}: not closed: {}", p.security.code(),
                             to_text(p.direction), e.what()));
          }
        }
        if (until == CloseOutUntil::closing_placed && all_placed && result.positions) {
          result.working = working_orders(gateway);
          return result;
        }
      }
    }
    if (!wait()) {
      break;
    }
  }
  result.working = working_orders(gateway);
  if (result.working.empty() && gateway.session_ready()) {
    // One more read, so what is left is what the account holds now.
    try {
      link.update_positions();
      result.positions = link.positions();
      result.positions_error.clear();
      result.flat = result.positions->empty();
    } catch (const std::exception& e) {
      result.positions.reset();
      result.positions_error = e.what();
    }
  }
  return result;
}

}  // namespace orbrix::demo
