#include "bot_request_server.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "operator_bot.hpp"
#include "orbrix/telegram/testing/fake_bot_api.hpp"

namespace orbrix::demo {
namespace {

using namespace std::chrono_literals;
using telegram::testing::FakeBotApi;

using testing::kOperator;

telegram::BotOptions options_for(const FakeBotApi& api) {
  return testing::operator_bot_options(api);
}

TEST(BotRequestServer, ServesBalancePositionsAndStopsOnTheOperatorsRequest) {
  FakeBotApi api;
  telegram::TelegramBot bot(api.token(), options_for(api));
  BotRequestServer engine;
  engine.account_balance.cash = 1250.5;
  api.push_text(kOperator, "/balance");
  api.push_text(kOperator, "/positions");
  // Each command is acknowledged by the bot before the engine answers it.
  ASSERT_TRUE(api.wait_for_sent(2));
  api.push_text(kOperator, "/stop");
  EXPECT_TRUE(engine.serve_until_stopped(bot, 10s, 5ms));
  bot.close();

  std::vector<std::string> engine_replies;
  for (const auto& m : api.sent()) {
    EXPECT_EQ(m.chat_id, kOperator);
    if (m.text.rfind("[", 0) != 0) {  // not a time-stamped acknowledgement
      engine_replies.push_back(m.text);
    }
  }
  ASSERT_EQ(engine_replies.size(), 3u);
  EXPECT_EQ(engine_replies[0], balance_text(engine.account_balance));
  EXPECT_NE(engine_replies[0].find("1250.5"), std::string::npos);
  EXPECT_EQ(engine_replies[1], "Positions: none open.");
  EXPECT_EQ(engine_replies[2], "Orbrix engine stopped.");
  EXPECT_FALSE(bot.get_balance());
  EXPECT_FALSE(bot.get_positions());
}

TEST(BotRequestServer, ServesEveryRequestOfABurstAndAnswersThoseLeftAtStop) {
  FakeBotApi api;
  telegram::TelegramBot bot(api.token(), options_for(api));
  BotRequestServer engine;
  api.push_texts(kOperator, {"/orders 1", "/orders 2", "/close_positions"});
  ASSERT_TRUE(api.wait_for_sent(5));  // /orders answers twice
  // The engine's answer to /close_positions (its last kind, after the two
  // listings) is slow; /stop and /balance arrive meanwhile, so /balance is
  // pending when it stops.
  telegram::testing::Scripted normal;
  normal.then_serve = true;
  telegram::testing::Scripted slow = normal;
  slow.delay = 2s;
  api.script("sendMessage", normal, 2);
  api.script("sendMessage", slow);
  bool stopped = false;
  std::thread engine_thread([&] { stopped = engine.serve_until_stopped(bot, 10s, 5ms); });
  ASSERT_TRUE(api.wait_for_calls("sendMessage", 8));
  api.push_texts(kOperator, {"/stop", "/balance"});
  engine_thread.join();
  bot.close();

  EXPECT_TRUE(stopped);
  std::vector<std::string> engine_replies;
  std::vector<std::string> notices;
  for (const auto& m : api.sent()) {
    if (m.text.find("Not carried out") != std::string::npos) {
      notices.push_back(m.text);
    } else if (m.text.rfind("[", 0) != 0) {
      engine_replies.push_back(m.text);
    }
  }
  EXPECT_EQ(engine_replies,
            (std::vector<std::string>{"Orders: none.", "Orders: none.",
                                      "Cannot close positions: the demo engine has no trading "
                                      "gateway connected.",
                                      "Orbrix engine stopped."}));
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].substr(notices[0].find("] ")),
            "] Not carried out (the engine stopped): /balance");
}

TEST(BotRequestServer, OrdersListingShowsNewestFirstAndHonoursTheFilterAndCount) {
  const Security es("ESZ4", "E-mini S&P");
  std::vector<Order> orders{Order(es, OrderType::LIMIT, Direction::LONG, 1, 100),
                            Order(es, OrderType::MARKET, Direction::SHORT, 2),
                            Order(es, OrderType::LIMIT, Direction::LONG, 3, 99)};
  orders[0].status = OrderStatus::FILLED;
  orders[1].status = OrderStatus::SUBMITTED;
  orders[2].status = OrderStatus::CANCELLED;
  EXPECT_EQ(orders_text(orders, false, 1), "Orders:\n" + to_text(orders[2]));
  EXPECT_EQ(orders_text(orders, true, 5), "Active orders:\n" + to_text(orders[1]));
  EXPECT_EQ(orders_text({}, false, 5), "Orders: none.");
}

}  // namespace
}  // namespace orbrix::demo
