#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "orbrix/core/balance.hpp"
#include "orbrix/core/order.hpp"
#include "orbrix/core/order_events.hpp"
#include "orbrix/core/position.hpp"
#include "orbrix/telegram/telegram_bot.hpp"

namespace orbrix::cqg {
class BrokerLink;
}  // namespace orbrix::cqg

namespace orbrix::demo {

class DemoGateway;

// The demo engine's side of the bot's polling protocol: on the engine's
// thread it takes each raised request from the bot, serves it (through the
// gateway when one is connected, from its own records otherwise), answers
// with send_message and so lowers its flag.
class BotRequestServer {
 public:
  // Without a gateway: balance, positions and orders come from the members
  // below; trading requests are answered as not served.
  BotRequestServer() = default;
  // Served through the gateway: balance and positions from `link`, orders
  // and deals from what `gateway`'s hooks received, trading through `link`.
  BotRequestServer(cqg::BrokerLink& link, DemoGateway& gateway)
      : link_(&link), gateway_(&gateway) {}

  // Answers every pending request once, each kind's in arrival order.
  // Engine thread; blocks for the replies (each send_message is one Bot API
  // call) and for the gateway's calls. A request that cannot be served gets
  // a reply saying why; a failed reply is reported on standard error; the
  // next request is served either way.
  void serve_requests(telegram::TelegramBot& bot);

  // The engine stops: every request still pending is answered as not
  // carried out, then "Orbrix engine stopped." is sent. Engine thread;
  // blocks for the replies.
  void stop(telegram::TelegramBot& bot);

  // Serves requests until the operator sends /stop (status "Terminated") or
  // `run_for` passes; returns whether it stopped on /stop (and then stops as
  // stop() does).
  bool serve_until_stopped(telegram::TelegramBot& bot, std::chrono::milliseconds run_for,
                           std::chrono::milliseconds poll_every = std::chrono::milliseconds(50));

  AccountBalance account_balance;
  std::vector<PositionData> positions;
  std::vector<Order> orders;

  // The gateway's name in /send_order, /cancel_order and /close_positions.
  static constexpr std::string_view kGatewayName = "CQG";
  // Why a request pending when the engine stops is not carried out.
  static constexpr std::string_view kStoppedReason = "the engine stopped";

 private:
  void reply(telegram::TelegramBot& bot, const std::string& text);
  std::string send_order(const std::string& order_string);
  std::string cancel_order(const std::string& id, const std::optional<std::string>& gateway);
  std::string cancel_orders();
  std::string close_positions(const std::optional<std::string>& gateway);

  cqg::BrokerLink* link_ = nullptr;
  DemoGateway* gateway_ = nullptr;
};

// The reply texts, one request each.
std::string balance_text(const AccountBalance& balance);
std::string positions_text(const std::vector<PositionData>& positions);
std::string orders_text(const std::vector<Order>& orders, bool active_only, std::int64_t count);
std::string deals_text(const std::vector<Deal>& deals, std::int64_t count);
// Submitted or not yet known: an order that may still fill or be cancelled.
bool is_active(const Order& order);

}  // namespace orbrix::demo
