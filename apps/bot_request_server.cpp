#include "bot_request_server.hpp"

#include <fmt/format.h>

#include <cstdio>
#include <exception>
#include <thread>

#include "demo_gateway.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "order_string.hpp"

namespace orbrix::demo {

bool is_active(const Order& order) {
  return order.status == OrderStatus::SUBMITTED || order.status == OrderStatus::UNKNOWN;
}

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
    if (active_only && !is_active(*it)) {
      continue;
    }
    text += "\n" + to_text(*it);
    ++shown;
  }
  return shown == 0 ? text + " none." : text;
}

std::string deals_text(const std::vector<Deal>& deals, std::int64_t count) {
  std::string text = "Deals:";
  std::int64_t shown = 0;
  for (auto it = deals.rbegin(); it != deals.rend() && shown < count; ++it, ++shown) {
    text += "\n" + to_text(*it);
  }
  return shown == 0 ? text + " none." : text;
}

void BotRequestServer::reply(telegram::TelegramBot& bot, const std::string& text) {
  try {
    bot.send_message(text);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orbrix-demo: reply failed: %s\n", e.what());
  }
}

std::string BotRequestServer::send_order(const std::string& order_string) {
  try {
    auto parsed = parse_order_string(
        order_string,
        [this](std::string_view code) { return gateway_->get_eng_security_from_cqg_symbol(code); },
        kGatewayName);
    const auto id = link_->place_order(parsed.order);
    gateway_->order_placed(id, parsed.order);
    return fmt::format("Order {} placed: {}", id, to_text(parsed.order));
  } catch (const std::exception& e) {
    return fmt::format("Cannot send order {}: {}", order_string, e.what());
  }
}

std::string BotRequestServer::cancel_order(const std::string& id,
                                           const std::optional<std::string>& gateway) {
  if (gateway && *gateway != kGatewayName) {
    return fmt::format("Cannot cancel order {}: no gateway is named {} (this engine has {}).", id,
                       *gateway, kGatewayName);
  }
  try {
    link_->cancel_order(id);
    return fmt::format("Cancel of order {} sent.", id);
  } catch (const std::exception& e) {
    return fmt::format("Cannot cancel order {}: {}", id, e.what());
  }
}

std::string BotRequestServer::cancel_orders() {
  std::vector<std::string> sent, failed;
  for (const auto& o : gateway_->orders()) {
    if (!is_active(o)) {
      continue;
    }
    try {
      link_->cancel_order(o.order_id);
      sent.push_back(o.order_id);
    } catch (const std::exception& e) {
      failed.push_back(fmt::format("{} ({})", o.order_id, e.what()));
    }
  }
  if (sent.empty() && failed.empty()) {
    return "No active orders to cancel.";
  }
  std::string text = fmt::format("Cancel sent for {} active order(s)", sent.size());
  for (const auto& id : sent) {
    text += "\n" + id;
  }
  if (!failed.empty()) {
    text += "\nNot cancelled:";
    for (const auto& f : failed) {
      text += "\n" + f;
    }
  }
  return text;
}

std::string BotRequestServer::close_positions(const std::optional<std::string>& gateway) {
  if (gateway && *gateway != kGatewayName) {
    return fmt::format("Cannot close positions: no gateway is named {} (this engine has {}).",
                       *gateway, kGatewayName);
  }
  try {
    link_->update_positions();
  } catch (const std::exception& e) {
    return fmt::format("Cannot close positions: {}", e.what());
  }
  std::string text;
  std::size_t placed = 0;
  for (const auto& p : link_->positions()) {
    const Order closing(p.security, OrderType::MARKET,
                        p.direction == Direction::LONG ? Direction::SHORT : Direction::LONG,
                        p.quantity);
    try {
      const auto id = link_->place_order(closing);
      gateway_->order_placed(id, closing);
      text += fmt::format("\n{} {} {}: order {}", p.security.code(), to_text(closing.direction),
                          p.quantity, id);
      ++placed;
    } catch (const std::exception& e) {
      text += fmt::format("\n{}: not closed: {}", p.security.code(), e.what());
    }
  }
  if (text.empty()) {
    return "No open positions to close.";
  }
  return fmt::format("Closing {} position(s):", placed) + text;
}

void BotRequestServer::serve_requests(telegram::TelegramBot& bot) {
  constexpr const char* kNoGateway = "the demo engine has no trading gateway connected";
  // Each kind's requests wait in arrival order; every one is served.
  while (bot.take_balance()) {
    if (link_) {
      link_->update_account_balance();
      reply(bot, balance_text(link_->account_balance()));
    } else {
      reply(bot, balance_text(account_balance));
    }
  }
  while (bot.take_positions()) {
    if (link_) {
      try {
        link_->update_positions();
        reply(bot, positions_text(link_->positions()));
      } catch (const std::exception& e) {
        reply(bot, std::string("Cannot read positions: ") + e.what());
      }
    } else {
      reply(bot, positions_text(positions));
    }
  }
  while (auto r = bot.take_orders()) {
    reply(bot, orders_text(link_ ? gateway_->orders() : orders, r->active_orders,
                           r->num_orders_displayed));
  }
  while (auto n = bot.take_deals()) {
    reply(bot, link_ ? deals_text(gateway_->deals(), *n) : std::string("Deals: none."));
  }
  while (auto r = bot.take_cancel_order()) {
    const auto id = r->cancel_order_id.value_or("");
    reply(bot, link_ ? cancel_order(id, r->gateway_name)
                     : "Cannot cancel order " + id + ": " + kNoGateway + ".");
  }
  while (bot.take_cancel_orders()) {
    reply(bot, link_ ? cancel_orders() : std::string("Cannot cancel orders: ") + kNoGateway + ".");
  }
  while (auto s = bot.take_send_order()) {
    reply(bot, link_ ? send_order(*s) : "Cannot send order " + *s + ": " + kNoGateway + ".");
  }
  while (auto r = bot.take_close_positions()) {
    reply(bot, link_ ? close_positions(r->gateway_name)
                     : std::string("Cannot close positions: ") + kNoGateway + ".");
  }
  while (auto r = bot.take_halt()) {
    if (!link_) {
      reply(bot, std::string("Cannot halt: ") + kNoGateway + ".");
      continue;
    }
    link_->halt(r->reason, r->cancel_all);
    reply(bot, std::string("Trading state: HALTED") +
                   (r->cancel_all ? ", working orders cancelled." : "."));
  }
  while (auto reason = bot.take_reduce()) {
    if (link_) {
      link_->reduce_only(*reason);
    }
    reply(bot, link_ ? std::string("Trading state: REDUCING.")
                     : std::string("Cannot reduce: ") + kNoGateway + ".");
  }
  while (bot.take_resume()) {
    if (link_) {
      link_->resume("operator (chat)");
    }
    reply(bot, link_ ? std::string("Trading state: ACTIVE.")
                     : std::string("Cannot resume: ") + kNoGateway + ".");
  }
  while (bot.take_risk()) {
    reply(bot, link_ ? link_->risk_text() : std::string("Risk: ") + kNoGateway + ".");
  }
}

void BotRequestServer::stop(telegram::TelegramBot& bot) {
  bot.abandon_pending(kStoppedReason);
  reply(bot, "Orbrix engine stopped.");
}

bool BotRequestServer::serve_until_stopped(telegram::TelegramBot& bot,
                                           std::chrono::milliseconds run_for,
                                           std::chrono::milliseconds poll_every) {
  const auto deadline = std::chrono::steady_clock::now() + run_for;
  for (;;) {
    serve_requests(bot);
    if (bot.orbrix_status() == "Terminated") {
      stop(bot);
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(poll_every);
  }
}

}  // namespace orbrix::demo
