// Chat commands through the stand-in: well-formed and malformed forms, the
// replies letter for letter, and the fields each command leaves behind.

#include "orbrix/telegram/commands.hpp"
#include "bot_test_support.hpp"
#include "orbrix/telegram/testing/fixtures.hpp"

namespace orbrix::telegram::testing {
namespace {

namespace usage = commands::usage;

class CommandTest : public BotTest {
 protected:
  void SetUp() override { start(); }
};

TEST_F(CommandTest, PlainTextIsEchoedInItsOwnChat) {
  EXPECT_EQ(reply("hello"), "[ECHO] hello");
  EXPECT_EQ(reply("Лол кек 😂"), "[ECHO] Лол кек 😂");
}

TEST_F(CommandTest, UnregisteredCommandsGetNoAnswer) {
  expect_silent("/hello");
  expect_silent("/helpme");
}

TEST_F(CommandTest, HelpAndStartListEveryCommandWithAnExampleOrder) {
  const std::string help = reply("/help");
  EXPECT_EQ(reply("/start args"), help);
  EXPECT_EQ(help, commands::help_text(std::nullopt));
  // One line per command the bot answers, each with its arguments.
  for (const char* line :
       {"\n/stop - ", "\n/balance - ", "\n/positions - ", "\n/orders [-a] [n] - ",
        "\n/deals [n] - ", "\n/cancel_order order_id gateway_name - ", "\n/cancel_orders - ",
        "\n/send_order code,quantity,", "\n/close_positions [gateway_name] - ",
        "\n/halt [cancel] [reason] - ", "\n/reduce [reason] - ", "\n/resume - ", "\n/risk - ",
        "\n/help - "}) {
    EXPECT_NE(help.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 14);
  // The example is a well-formed order: sent as it stands, it is accepted.
  const auto at = help.find("e.g. ") + 5;
  const std::string example = help.substr(at, help.find('\n', at) - at);
  EXPECT_EQ(reply(example), std::string(stamp) + "Send order (['EP,1,l,o,m,CQG,None,None'])...");
  EXPECT_EQ(bot->order_string(), "EP,1,l,o,m,CQG,None,None");
}

TEST_F(CommandTest, StopIgnoresItsWordsAndPollingGoesOn) {
  EXPECT_EQ(reply("/stop now please"), std::string(stamp) + "Terminating Orbrix...");
  EXPECT_EQ(bot->orbrix_status(), "Terminated");
  EXPECT_TRUE(bot->polling());
  EXPECT_EQ(reply("still there?"), "[ECHO] still there?");
}

TEST_F(CommandTest, FlagCommandsRaiseTheirFlagAndAcknowledge) {
  EXPECT_EQ(reply("/balance"), std::string(stamp) + "Fetching balance...");
  EXPECT_EQ(reply("/positions extra words"), std::string(stamp) + "Fetching positions...");
  EXPECT_EQ(reply("/cancel_orders"), std::string(stamp) + "Canceling all active orders...");
  EXPECT_TRUE(bot->get_balance());
  EXPECT_TRUE(bot->get_positions());
  EXPECT_TRUE(bot->cancel_orders());
  EXPECT_FALSE(bot->get_orders());
}

TEST_F(CommandTest, CommandWordsAndBotNameIgnoreLetterCase) {
  EXPECT_EQ(reply("/BALANCE"), std::string(stamp) + "Fetching balance...");
  EXPECT_EQ(reply("/Positions@orbrix_test_BOT"), std::string(stamp) + "Fetching positions...");
}

TEST_F(CommandTest, CommandsForAnotherBotReachNoHandler) {
  expect_silent("/stop@OtherBot");
  expect_silent("/balance@Orbrix_Test_Bot2");
  EXPECT_EQ(bot->orbrix_status(), "Running");
  EXPECT_FALSE(bot->get_balance());
}

TEST_F(CommandTest, GroupCommandFixturesFollowTheBotName) {
  // Supergroup messages as Telegram sends them, aimed at this bot and another.
  const std::int64_t group = -1001309982000;
  bot->close();
  bot.reset();
  start([&](BotOptions& o) { o.allowed_chat_ids = {group}; });

  auto ours = fixture_json("update_group_command_at_this_bot_mixed_case.json");
  ours["message"]["text"] = "/balance@ORBRIX_test_bot args";
  ours["message"]["entities"][0]["length"] = 24;
  auto theirs = fixture_json("update_group_command_at_other_bot.json");
  theirs["message"]["text"] = "/stop@not args";
  theirs["message"]["entities"][0]["length"] = 9;

  const std::size_t mark = api.sent().size();
  api.push(theirs);
  api.push(ours);
  ASSERT_TRUE(api.wait_for_sent(mark + 1));
  const auto sent = api.sent().at(mark);
  EXPECT_EQ(sent.chat_id, group);
  EXPECT_EQ(sent.text, std::string(stamp) + "Fetching balance...");
  EXPECT_EQ(bot->orbrix_status(), "Running");
}

TEST_F(CommandTest, SlashTextWithoutCommandEntityIsPlainText) {
  // Only a bot_command entity at offset 0 makes a command.
  auto no_entity = fixture_json("update_official_start_without_entities.json");
  no_entity["message"]["chat"]["id"] = operator_chat;
  no_entity["message"]["text"] = "/stop";
  std::size_t mark = api.sent().size();
  api.push(no_entity);
  ASSERT_TRUE(api.wait_for_sent(mark + 1));
  EXPECT_EQ(api.sent().at(mark).text, "[ECHO] /stop");

  auto later = fixture_json("update_command_not_at_offset_zero.json");
  mark = api.sent().size();
  api.push(later);
  ASSERT_TRUE(api.wait_for_sent(mark + 1));
  EXPECT_EQ(api.sent().at(mark).text, "[ECHO] Test with /start args");
  EXPECT_EQ(bot->orbrix_status(), "Running");
}

TEST_F(CommandTest, MessagesWithoutTextGetNoReply) {
  for (const char* name : {"message_photo_with_caption.json", "message_sticker.json"}) {
    auto message = fixture_json(name);
    message["chat"]["id"] = operator_chat;
    const std::size_t mark = api.sent().size();
    api.push(nlohmann::json{{"message", message}});
    expect_silent_since(mark);
  }
}

TEST_F(CommandTest, ArgumentsSplitAtLineBreaksAndNoBreakSpaces) {
  EXPECT_EQ(reply("/cancel_order\n42\nGW"),
            std::string(stamp) + "Canceling order: order_id=42,gateway_name=GW...");
  EXPECT_EQ(reply("/cancel_order\u00a0 7\u3000CQG\t"),
            std::string(stamp) + "Canceling order: order_id=7,gateway_name=CQG...");
}

TEST_F(CommandTest, CancelOrderNeedsExactlyTwoArguments) {
  for (const char* bad : {"/cancel_order", "/cancel_order 42", "/cancel_order 42 GW extra"}) {
    EXPECT_EQ(reply(bad), usage::cancel_order) << bad;
  }
  EXPECT_FALSE(bot->cancel_order());
  EXPECT_EQ(bot->cancel_order_id(), std::nullopt);
  EXPECT_EQ(bot->gateway_name(), std::nullopt);

  EXPECT_EQ(reply("/cancel_order 42 GW"),
            std::string(stamp) + "Canceling order: order_id=42,gateway_name=GW...");
  EXPECT_EQ(bot->cancel_order_id(), "42");
  EXPECT_EQ(bot->gateway_name(), "GW");
  EXPECT_TRUE(bot->cancel_order());

  // A second request before the host served the first waits behind it with
  // its own parameters; lowering the flag retires the first and shows it.
  reply("/cancel_order 43 GW2");
  EXPECT_EQ(bot->cancel_order_id(), "42");
  EXPECT_EQ(reply("/cancel_order 44"), usage::cancel_order);
  bot->cancel_order(false);
  EXPECT_TRUE(bot->cancel_order());
  EXPECT_EQ(bot->cancel_order_id(), "43");
  EXPECT_EQ(bot->gateway_name(), "GW2");
  bot->cancel_order(false);
  EXPECT_FALSE(bot->cancel_order());
  // With nothing pending the last values stay, as the host left them.
  EXPECT_EQ(bot->cancel_order_id(), "43");
}

TEST_F(CommandTest, SendOrderNeedsOneArgumentOfEightPieces) {
  for (const char* bad :
       {"/send_order", "/send_order EP,1,l,o,l,CQG,None", "/send_order EP,1,l,o,l,CQG,None,None,x",
        "/send_order EP,1,l,o,l,CQG,None, None", "/send_order a b"}) {
    EXPECT_EQ(reply(bad), usage::send_order) << bad;
  }
  EXPECT_FALSE(bot->send_order());
  EXPECT_EQ(bot->order_string(), "");

  EXPECT_EQ(reply("/send_order a,,,,,,,"), std::string(stamp) + "Send order (['a,,,,,,,'])...");
  EXPECT_EQ(bot->order_string(), "a,,,,,,,");
  EXPECT_TRUE(bot->send_order());

  EXPECT_EQ(reply("/send_order EP,1,l,o,l,CQG,4500.25,None"),
            std::string(stamp) + "Send order (['EP,1,l,o,l,CQG,4500.25,None'])...");
  EXPECT_EQ(bot->take_send_order(), "a,,,,,,,");
  EXPECT_EQ(bot->order_string(), "EP,1,l,o,l,CQG,4500.25,None");
}

TEST_F(CommandTest, ClosePositionsKeepsTheLastGateway) {
  EXPECT_EQ(reply("/close_positions GW1"), std::string(stamp) + "Closing positions...");
  EXPECT_EQ(bot->close_positions_gateway_name(), "GW1");
  bot->close_positions(false);

  EXPECT_EQ(reply("/close_positions"), std::string(stamp) + "Closing positions...");
  EXPECT_EQ(bot->close_positions_gateway_name(), "GW1");
  EXPECT_TRUE(bot->close_positions());
  bot->close_positions(false);

  EXPECT_EQ(reply("/close_positions GW1 GW2"), usage::close_positions);
  EXPECT_FALSE(bot->close_positions());
  EXPECT_EQ(bot->close_positions_gateway_name(), "GW1");
}

TEST_F(CommandTest, DealsTakesAnOptionalCount) {
  const std::string ack = std::string(stamp) + "Fetching deals (num_deals_displayed=";
  EXPECT_EQ(reply("/deals"), ack + "1)...");
  EXPECT_TRUE(bot->get_deals());
  bot->get_deals(false);

  EXPECT_EQ(reply("/deals 20"), ack + "20)...");
  EXPECT_EQ(reply("/deals"), ack + "20)...");
  bot->get_deals(false);
  bot->get_deals(false);

  EXPECT_EQ(reply("/deals x"), usage::deals);
  EXPECT_EQ(reply("/deals 5 6"), usage::deals);
  EXPECT_EQ(reply("/deals 99999999999999999999"), usage::deals);
  EXPECT_FALSE(bot->get_deals());
  EXPECT_EQ(bot->num_deals_displayed(), 20);

  EXPECT_EQ(reply("/deals 0"), ack + "0)...");
  EXPECT_EQ(reply("/deals -5"), ack + "-5)...");
  EXPECT_EQ(bot->take_deals(), 0);
  EXPECT_EQ(bot->take_deals(), -5);
  EXPECT_EQ(bot->num_deals_displayed(), -5);
}

TEST_F(CommandTest, OrdersAnswersWithItsArgumentsThenTheValuesInForce) {
  const std::string ack = std::string(stamp) + "Fetching orders (active_orders=";
  EXPECT_EQ(texts("/orders", 2),
            (std::vector<std::string>{std::string(stamp) + "[]...",
                                      ack + "False, num_orders_displayed=1)..."}));
  EXPECT_EQ(texts("/orders -a", 2),
            (std::vector<std::string>{std::string(stamp) + "['-a']...",
                                      ack + "True, num_orders_displayed=1)..."}));
  // The filter stays on until the host clears it.
  EXPECT_EQ(texts("/orders 3", 2).at(1), ack + "True, num_orders_displayed=3)...");

  bot->active_orders(false);
  EXPECT_EQ(texts("/orders 5 -a", 2),
            (std::vector<std::string>{std::string(stamp) + "['5', '-a']...",
                                      ack + "True, num_orders_displayed=5)..."}));
  bot->active_orders(false);
  EXPECT_EQ(texts("/orders -a 6", 2).at(1), ack + "True, num_orders_displayed=6)...");
  EXPECT_TRUE(bot->get_orders());
}

TEST_F(CommandTest, MalformedOrdersGetTheUsageAfterTheArgumentReply) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/orders 5 6", "['5', '6']..."},
      {"/orders -a 5 6", "['-a', '5', '6']..."},
      {"/orders -A", "['-A']..."},
      {"/orders -a x", "['-a', 'x']..."},
  };
  for (const auto& [command, echo] : cases) {
    EXPECT_EQ(texts(command, 2),
              (std::vector<std::string>{std::string(stamp) + echo, std::string(usage::orders)}))
        << command;
  }
  EXPECT_FALSE(bot->get_orders());
  EXPECT_FALSE(bot->active_orders());
  EXPECT_EQ(bot->num_orders_displayed(), 1);

  // "-a -a": the argument reply and nothing else, no field changed.
  const std::size_t mark = api.sent().size();
  api.push_text(operator_chat, "/orders -a -a");
  ASSERT_TRUE(api.wait_for_sent(mark + 1));
  EXPECT_EQ(api.sent().at(mark).text, std::string(stamp) + "['-a', '-a']...");
  expect_silent_since(mark + 1);
  EXPECT_FALSE(bot->get_orders());
  EXPECT_FALSE(bot->active_orders());
}

TEST_F(CommandTest, RiskCommandsQueueTheirRequestsWithTheirReasons) {
  EXPECT_EQ(reply("/halt"), std::string(stamp) + "Halting trading (operator (chat))...");
  EXPECT_EQ(reply("/halt cancel fat finger"),
            std::string(stamp) + "Halting trading and cancelling working orders (fat finger)...");
  EXPECT_EQ(reply("/reduce loss near the limit"),
            std::string(stamp) + "Reducing only (loss near the limit)...");
  EXPECT_EQ(reply("/resume"), std::string(stamp) + "Resuming trading...");
  EXPECT_EQ(reply("/risk"), std::string(stamp) + "Fetching risk limits...");
  EXPECT_TRUE(bot->halt_trading());
  EXPECT_EQ(bot->pending(RequestKind::halt), 2u);
  const auto first = bot->take_halt();
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->cancel_all);
  EXPECT_EQ(first->reason, "operator (chat)");
  const auto second = bot->take_halt();
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->cancel_all);
  EXPECT_EQ(second->reason, "fat finger");
  EXPECT_FALSE(bot->take_halt());
  EXPECT_EQ(bot->take_reduce(), "loss near the limit");
  EXPECT_TRUE(bot->take_resume());
  EXPECT_TRUE(bot->take_risk());
  EXPECT_FALSE(bot->take_risk());
  // A chat off the allow-list commands nothing here either.
  expect_silent("/halt cancel", 555);
  EXPECT_FALSE(bot->halt_trading());
}

TEST_F(CommandTest, LongEchoIsSplitAtTheMessageLimit) {
  const auto update = fixture_json("update_long_text_4096_ascii.json");
  const std::string text = update["message"]["text"];
  const std::size_t mark = api.sent().size();
  api.push(update);
  ASSERT_TRUE(api.wait_for_sent(mark + 2));
  const auto sent = api.sent();
  EXPECT_EQ(sent.at(mark).text.size(), 4096u);
  EXPECT_EQ(sent.at(mark).text + sent.at(mark + 1).text, "[ECHO] " + text);
}

class MicrosecondStampTest : public BotTest {};

TEST_F(MicrosecondStampTest, FractionIsShownWhenNotZero) {
  start([](BotOptions& o) {
    o.clock = [] { return make_datetime(2024, 3, 5, 14, 7, 9, std::chrono::microseconds{4211}); };
  });
  EXPECT_EQ(reply("/balance"), "[2024-03-05 14:07:09.004211] Fetching balance...");
}

}  // namespace
}  // namespace orbrix::telegram::testing
