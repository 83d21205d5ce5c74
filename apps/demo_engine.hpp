#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "orbrix/core/balance.hpp"
#include "orbrix/core/order.hpp"
#include "orbrix/core/position.hpp"
#include "orbrix/telegram/telegram_bot.hpp"

namespace orbrix::demo {

// The demo engine's own records and its side of the bot's polling protocol:
// it reads the operator's requests from the bot on the engine's thread,
// answers them from its records with send_message and lowers their flags.
class DemoEngine {
 public:
  // Answers every raised request once. Engine thread; blocks for the replies
  // (each send_message is one Bot API call). A failed reply is reported on
  // standard error and the next request is served.
  void serve_requests(telegram::TelegramBot& bot);

  // Serves requests until the operator sends /stop (status "Terminated") or
  // `run_for` passes; returns whether it stopped on /stop.
  bool serve_until_stopped(telegram::TelegramBot& bot, std::chrono::milliseconds run_for,
                           std::chrono::milliseconds poll_every = std::chrono::milliseconds(50));

  AccountBalance account_balance;
  std::vector<PositionData> positions;
  std::vector<Order> orders;

 private:
  void reply(telegram::TelegramBot& bot, const std::string& text);
};

// The reply texts, one request each.
std::string balance_text(const AccountBalance& balance);
std::string positions_text(const std::vector<PositionData>& positions);
std::string orders_text(const std::vector<Order>& orders, bool active_only, std::int64_t count);

}  // namespace orbrix::demo
