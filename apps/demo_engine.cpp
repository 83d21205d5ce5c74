#include "demo_engine.hpp"

#include <cstdio>
#include <exception>
#include <thread>

namespace orbrix::demo {

std::string balance_text(const AccountBalance& balance) {
  return "Balance: " + to_text(balance);
}

std::string positions_text(const std::vector<PositionData>& positions) {
  if (positions.empty()) {
    return "Positions: none open.";
  }
  std::string text = "Positions:";
  for (const auto& p : positions) {
    text += "\n" + to_text(p);
  }
  return text;
}

std::string orders_text(const std::vector<Order>& orders, bool active_only, std::int64_t count) {
  std::string text = active_only ? "Active orders:" : "Orders:";
  std::int64_t shown = 0;
  // Newest first, at most `count` of them.
  for (auto it = orders.rbegin(); it != orders.rend() && shown < count; ++it) {
    const bool active = it->status == OrderStatus::SUBMITTED || it->status == OrderStatus::UNKNOWN;
    if (active_only && !active) {
      continue;
    }
    text += "\n" + to_text(*it);
    ++shown;
  }
  return shown == 0 ? text + " none." : text;
}

void DemoEngine::reply(telegram::TelegramBot& bot, const std::string& text) {
  try {
    bot.send_message(text);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orbrix-demo: reply failed: %s\n", e.what());
  }
}

void DemoEngine::serve_requests(telegram::TelegramBot& bot) {
  constexpr const char* kNoGateway = "the demo engine has no trading gateway connected yet";
  if (bot.take_balance()) {
    reply(bot, balance_text(account_balance));
  }
  if (bot.take_positions()) {
    reply(bot, positions_text(positions));
  }
  if (auto r = bot.take_orders()) {
    reply(bot, orders_text(orders, r->active_orders, r->num_orders_displayed));
  }
  if (auto n = bot.take_deals()) {
    reply(bot, "Deals: none.");
  }
  if (auto r = bot.take_cancel_order()) {
    reply(bot, "Cannot cancel order " + r->cancel_order_id.value_or("?") + ": " + kNoGateway + ".");
  }
  if (bot.take_cancel_orders()) {
    reply(bot, std::string("Cannot cancel orders: ") + kNoGateway + ".");
  }
  if (auto s = bot.take_send_order()) {
    reply(bot, "Cannot send order " + *s + ": " + kNoGateway + ".");
  }
  if (bot.take_close_positions()) {
    reply(bot, std::string("Cannot close positions: ") + kNoGateway + ".");
  }
}

bool DemoEngine::serve_until_stopped(telegram::TelegramBot& bot, std::chrono::milliseconds run_for,
                                     std::chrono::milliseconds poll_every) {
  const auto deadline = std::chrono::steady_clock::now() + run_for;
  for (;;) {
    serve_requests(bot);
    if (bot.orbrix_status() == "Terminated") {
      reply(bot, "Orbrix engine stopped.");
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(poll_every);
  }
}

}  // namespace orbrix::demo
