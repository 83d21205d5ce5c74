#include "demo_engine.hpp"

#include <gtest/gtest.h>

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

TEST(DemoEngine, ServesBalancePositionsAndStopsOnTheOperatorsRequest) {
  FakeBotApi api;
  telegram::TelegramBot bot(api.token(), options_for(api));
  DemoEngine engine;
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

TEST(DemoEngine, OrdersListingShowsNewestFirstAndHonoursTheFilterAndCount) {
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
