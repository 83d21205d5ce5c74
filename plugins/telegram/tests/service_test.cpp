// The service: properties, default chat, allow-list, which updates run a
// command, errors inside handlers, and what close() tells the server.

#include "bot_test_support.hpp"
#include "orbrix/telegram/customed_ext_bot.hpp"
#include "orbrix/telegram/errors.hpp"
#include "orbrix/telegram/testing/fixtures.hpp"
#include "orbrix/telegram/updater.hpp"

namespace orbrix::telegram::testing {
namespace {

class ServiceTest : public BotTest {
 protected:
  void SetUp() override { start(); }
};

TEST_F(ServiceTest, StartsWithTheInitialControlState) {
  EXPECT_EQ(bot->orbrix_status(), "Running");
  EXPECT_FALSE(bot->get_balance());
  EXPECT_FALSE(bot->get_positions());
  EXPECT_FALSE(bot->get_orders());
  EXPECT_FALSE(bot->active_orders());
  EXPECT_EQ(bot->num_orders_displayed(), 1);
  EXPECT_FALSE(bot->get_deals());
  EXPECT_EQ(bot->num_deals_displayed(), 1);
  EXPECT_FALSE(bot->cancel_order());
  EXPECT_EQ(bot->cancel_order_id(), std::nullopt);
  EXPECT_EQ(bot->gateway_name(), std::nullopt);
  EXPECT_FALSE(bot->cancel_orders());
  EXPECT_FALSE(bot->send_order());
  EXPECT_EQ(bot->order_string(), "");
  EXPECT_FALSE(bot->close_positions());
  EXPECT_EQ(bot->close_positions_gateway_name(), std::nullopt);
  EXPECT_TRUE(bot->polling());
}

TEST_F(ServiceTest, SettersAreSeenByTheHandlers) {
  bot->num_deals_displayed(5);
  EXPECT_EQ(bot->num_deals_displayed(), 5);
  EXPECT_EQ(reply("/deals"), std::string(stamp) + "Fetching deals (num_deals_displayed=5)...");
  EXPECT_EQ(bot->num_deals_displayed(), 5);

  bot->cancel_order_id("17");
  bot->cancel_order_id(std::nullopt);
  EXPECT_EQ(bot->cancel_order_id(), std::nullopt);
  bot->orbrix_status("Paused");
  EXPECT_EQ(bot->snapshot().orbrix_status, "Paused");
}

TEST_F(ServiceTest, TakeReadsARequestAndLowersItsFlagAtOnce) {
  EXPECT_FALSE(bot->take_cancel_order());
  reply("/cancel_order 42 GW");
  const auto request = bot->take_cancel_order();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->cancel_order_id, "42");
  EXPECT_EQ(request->gateway_name, "GW");
  EXPECT_FALSE(bot->cancel_order());
  EXPECT_FALSE(bot->take_cancel_order());

  texts("/orders -a 4", 2);
  const auto orders = bot->take_orders();
  ASSERT_TRUE(orders);
  EXPECT_TRUE(orders->active_orders);
  EXPECT_EQ(orders->num_orders_displayed, 4);

  reply("/close_positions");
  const auto close = bot->take_close_positions();
  ASSERT_TRUE(close);
  EXPECT_EQ(close->gateway_name, std::nullopt);
  reply("/balance");
  EXPECT_TRUE(bot->take_balance());
  EXPECT_FALSE(bot->take_balance());
}

TEST_F(ServiceTest, SendMessageUsesTheDefaultChatUnlessGivenOne) {
  bot->send_message("to the operator");
  bot->send_message("elsewhere", 99);
  const auto sent = api.sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].chat_id, operator_chat);
  EXPECT_EQ(sent[0].text, "to the operator");
  EXPECT_EQ(sent[1].chat_id, 99);
}

TEST_F(ServiceTest, SendMessageWithoutAnyChatFailsBeforeSending) {
  bot->close();
  start([](BotOptions& o) { o.default_chat_id.reset(); });
  EXPECT_THROW(bot->send_message("nowhere"), std::invalid_argument);
  bot->send_message("explicit", 7);
  ASSERT_EQ(api.sent().size(), 1u);
  EXPECT_EQ(api.sent()[0].chat_id, 7);
}

TEST_F(ServiceTest, SendMessageFailuresReachTheCaller) {
  api.reject_chat(666);
  try {
    bot->send_message("x", 666);
    FAIL() << "no error";
  } catch (const ApiError& e) {
    EXPECT_EQ(e.error_code(), 400);
    EXPECT_EQ(e.description(), "Bad Request: chat not found");
  }
}

TEST_F(ServiceTest, LongMessagesAreSplitNeverInsideASurrogatePair) {
  // 4094 'a' and an emoji: 4096 UTF-16 units. With one more letter in front
  // the emoji straddles the limit and must move whole to the next message.
  const std::string text =
      fixture_json("update_long_text_4096_utf16_units_ending_in_emoji.json")["message"]["text"];
  bot->send_message(text);
  bot->send_message("b" + text);
  const auto sent = api.sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].text, text);
  EXPECT_EQ(sent[1].text, "b" + text.substr(0, 4094));
  EXPECT_EQ(sent[2].text, "😋");
}

TEST_F(ServiceTest, ALongReplyNeverSendsABlankPiece) {
  // Telegram refuses a blank text: after the visible first piece was
  // delivered, a host that retries would send that piece twice.
  const std::string long_line(4096, 'a');
  bot->send_message(long_line + "\n");
  bot->send_message(long_line + "\n \n\t ");
  EXPECT_THROW(bot->send_message(" \n "), std::invalid_argument);
  EXPECT_THROW(bot->send_message(""), std::invalid_argument);
  const auto sent = api.sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].text, long_line);
  EXPECT_EQ(sent[1].text, long_line);
}

TEST_F(ServiceTest, ABotNoChatMayCommandSaysSoOnceAtLoad) {
  EXPECT_EQ(log.count("every chat"), 0u);
  EXPECT_TRUE(bot->serves_commands());
  bot->close();
  start([](BotOptions& o) { o.default_chat_id.reset(); });
  EXPECT_EQ(log.count("every chat"), 1u);
  EXPECT_EQ(log.count("TELEGRAM_CHAT_ID"), 1u);
  // What the host tells its operator follows (the demo says no chat may
  // command it, not that the operator's commands are served).
  EXPECT_FALSE(bot->serves_commands());
  // The allow-list stands: the operator's chat is refused too.
  api.push_text(operator_chat, "/stop");
  ASSERT_TRUE(log.wait_for("refused"));
  EXPECT_EQ(bot->orbrix_status(), "Running");
  EXPECT_TRUE(api.sent().empty());
}

TEST_F(ServiceTest, OnlyAllowedChatsAreServed) {
  const std::int64_t stranger = 555;
  expect_silent("/stop", stranger);
  expect_silent("hello", stranger);
  EXPECT_EQ(bot->orbrix_status(), "Running");
  EXPECT_EQ(log.count("chat 555"), 2u);
  EXPECT_EQ(log.count("refused"), 2u);
}

TEST_F(ServiceTest, AllowedChatsAreAnsweredInTheirOwnChat) {
  bot->close();
  start([](BotOptions& o) { o.allowed_chat_ids = {777, -1001}; });
  const auto answer = exchange("/balance", 1, 777);
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0].chat_id, 777);
  EXPECT_EQ(answer[0].text, std::string(stamp) + "Fetching balance...");
  EXPECT_EQ(exchange("hi", 1, -1001).at(0).chat_id, -1001);
  // The default chat stays allowed.
  EXPECT_EQ(reply("hi"), "[ECHO] hi");
}

TEST_F(ServiceTest, EditsAndChannelPostsNeverRunACommand) {
  reply("/send_order EP,1,l,o,l,CQG,None,None");
  bot->send_order(false);

  const std::size_t mark = api.sent().size();
  api.push_text(operator_chat, "/send_order EP,2,l,o,l,CQG,None,None", "edited_message");
  api.push_text(operator_chat, "/stop", "channel_post");
  auto channel = fixture_json("getUpdates_channel_post_command.json")["result"][0];
  channel["channel_post"]["chat"]["id"] = operator_chat;
  api.push(channel);
  api.push(fixture_json("update_edited_message.json"));
  expect_silent_since(mark);
  EXPECT_FALSE(bot->send_order());
  EXPECT_EQ(bot->order_string(), "EP,1,l,o,l,CQG,None,None");
  EXPECT_EQ(bot->orbrix_status(), "Running");
}

TEST_F(ServiceTest, UnknownAndMixedUpdatesAdvanceTheOffset) {
  bot->close();
  const std::size_t polls = api.calls("getUpdates").size();
  start([](BotOptions& o) { o.allowed_chat_ids = {-1001293752024}; });
  // One answer holding a text, an edit, a channel post, an unknown kind and a
  // group command for no handler of ours. Its messages keep their capture
  // dates, so it comes after the first (empty) poll, as messages sent after
  // the start would.
  Scripted batch;
  batch.body = fixture_text("getUpdates_multiple_mixed.json");
  ASSERT_TRUE(api.wait_for_calls("getUpdates", polls + 1));
  api.script("getUpdates", batch);
  ASSERT_TRUE(api.wait_for_sent(1));
  EXPECT_EQ(api.sent().at(0).text, "[ECHO] 4");
  ASSERT_TRUE(api.wait_for_calls("getUpdates", polls + 3));
  EXPECT_EQ(api.calls("getUpdates").back().offset, 900000006);

  // Ids continue above the batch, as the server's would.
  auto unknown = fixture_json("update_unknown_kind.json");
  unknown["update_id"] = 900000006;
  auto callback = fixture_json("update_callback_query.json");
  callback.erase("update_id");
  auto kicked = fixture_json("update_my_chat_member_kicked.json");
  kicked.erase("update_id");
  const std::size_t mark = api.sent().size();
  api.push_raw(unknown);
  api.push(callback);
  api.push(kicked);
  expect_silent_since(mark);
  // The next poll confirms all of them.
  EXPECT_TRUE(eventually([&] { return api.pending() == 0; }));
}

TEST_F(ServiceTest, AFailedReplyEndsOnlyThatHandler) {
  const std::int64_t blocked = 31337;
  bot->close();
  start([&](BotOptions& o) { o.allowed_chat_ids = {blocked}; });
  api.reject_chat(blocked);
  const std::size_t polls = api.calls("getUpdates").size();
  const auto id = api.push_text(blocked, "/balance");
  ASSERT_TRUE(log.wait_for("handler /balance failed"));
  EXPECT_EQ(log.count("chat not found"), 1u);
  // The request stands for the host, and the update is confirmed.
  EXPECT_TRUE(bot->get_balance());
  ASSERT_TRUE(api.wait_for_calls("getUpdates", polls + 2));
  EXPECT_GT(api.calls("getUpdates").back().offset.value_or(0), id);
  // The dispatcher goes on and the failed update never runs again.
  bot->get_balance(false);
  EXPECT_EQ(reply("/positions"), std::string(stamp) + "Fetching positions...");
  EXPECT_FALSE(bot->get_balance());
  EXPECT_EQ(log.count("handler /balance failed"), 1u);
}

TEST_F(ServiceTest, CloseConfirmsTheLastHandledUpdate) {
  const auto id = api.push_text(operator_chat, "/stop");
  ASSERT_TRUE(api.wait_for_sent(1));
  bot->close();
  const auto last = api.calls("getUpdates").back();
  EXPECT_EQ(last.offset, id + 1);
  EXPECT_EQ(last.timeout, 0);
  EXPECT_EQ(api.pending(), 0u);
  EXPECT_FALSE(bot->polling());

  // A restart does not see /stop again.
  start();
  expect_silent_since(1);
  EXPECT_EQ(bot->orbrix_status(), "Running");
  EXPECT_EQ(api.sent().size(), 2u);
}

TEST_F(ServiceTest, CloseAbandonsAReplyThatHangsAndStaysBounded) {
  Scripted hanging;
  hanging.delay = 20s;
  hanging.then_serve = true;
  api.script("sendMessage", hanging);
  const auto id = api.push_text(operator_chat, "/balance");
  ASSERT_TRUE(api.wait_for_calls("sendMessage", 1));

  const auto before = std::chrono::steady_clock::now();
  bot->close();  // close_timeout is 1 s
  EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
  EXPECT_EQ(log.count("abandoning its reply"), 1u);
  // The request it raised was never served: close says so.
  EXPECT_FALSE(bot->get_balance());
  EXPECT_EQ(api.sent().back().text,
            std::string(stamp) +
                "Not carried out (the bot was closed before the engine served it): /balance");
  // The interrupted handler counts as handled: it is confirmed, not re-run.
  EXPECT_EQ(api.calls("getUpdates").back().offset, id + 1);
  // Replies work again once closing is over.
  bot->send_message("after close");
  EXPECT_EQ(api.sent().back().text, "after close");
}

TEST_F(ServiceTest, GetUpdatesShowsPendingUpdatesWithoutConfirmingThem) {
  EXPECT_THROW(bot->get_updates(), std::out_of_range);
  ASSERT_TRUE(bot->updates());
  EXPECT_TRUE(bot->updates()->empty());
  // Polling carries on after the look.
  EXPECT_EQ(reply("/balance"), std::string(stamp) + "Fetching balance...");

  bot->close();
  const auto id = api.push_text(12345, "my id?");
  EXPECT_EQ(bot->get_chat_id(), 12345);
  EXPECT_EQ(bot->get_chat_id(), 12345);  // still pending
  ASSERT_EQ(bot->updates()->size(), 1u);
  EXPECT_EQ(bot->updates()->front().update_id, id);
  EXPECT_TRUE(log.wait_for("my id?"));
  EXPECT_EQ(api.pending(), 1u);
}

TEST_F(ServiceTest, RegistersTheCommandMenuAtStartAndGoesOnWhenRefused) {
  ASSERT_TRUE(api.wait_for_calls("setMyCommands", 1));
  const auto calls = api.calls("setMyCommands");
  std::vector<std::string> names;
  for (const auto& c : calls[0].params["commands"]) {
    names.push_back(c.value("command", ""));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"stop", "balance", "positions", "orders", "deals",
                                             "cancel_order", "cancel_orders", "send_order",
                                             "close_positions", "halt", "reduce", "resume",
                                             "risk", "help"}));
  // The stand-in checks names and descriptions as the server does.
  EXPECT_EQ(log.count("command menu"), 0u);

  bot->close();
  api.script("setMyCommands", FakeBotApi::fault(Fault::server_error));
  start();
  EXPECT_EQ(reply("/balance"), std::string(stamp) + "Fetching balance...");
  EXPECT_EQ(log.count("the command menu was not registered"), 1u);
  EXPECT_EQ(api.calls("setMyCommands").size(), 2u);
}

TEST_F(ServiceTest, DescriptionListsTheCommandsOnThirteenLines) {
  const std::string d(TelegramBot::description);
  EXPECT_EQ(std::count(d.begin(), d.end(), '\n'), 12);
  EXPECT_EQ(d.substr(0, 47), "\n    <Orbrix TelegramBot> Available commands:\"\n");
  EXPECT_NE(d.find("\n    10. /help\n    "), std::string::npos);
  EXPECT_EQ(d.substr(d.size() - 5), "\n    ");
}

// The framework on its own: a handler that throws ends only itself.
TEST(UpdaterTest, AThrowingHandlerIsReportedAndNeverRunAgain) {
  FakeBotApi api;
  LogCollector log;
  PollingOptions polling;
  polling.poll_timeout = std::chrono::seconds{1};
  polling.close_timeout = std::chrono::milliseconds{500};
  CustomedExtBot ext(api.token(), ApiOptions{api.url()});
  Updater updater(ext, polling, log.sink());
  updater.dispatcher().set_allowed_chats({1});
  Mutex mutex;
  std::vector<std::string> seen;
  updater.dispatcher().add_handler(
      std::make_unique<CommandHandler>("boom", [&](const Update&, CallbackContext& context) {
        {
          MutexLock lock(mutex);
          seen.push_back("boom");
        }
        context.bot.send_order(true);
        throw std::runtime_error("handler exploded");
      }));
  updater.dispatcher().add_handler(std::make_unique<MessageHandler>(
      filters::text & ~filters::command, [&](const Update& u, CallbackContext& context) {
        context.bot.send_message(u.message->chat.id, "ok");
      }));
  updater.start_polling();
  const auto boom = api.push_text(1, "/boom");
  api.push_text(1, "after");
  ASSERT_TRUE(api.wait_for_sent(1));
  EXPECT_TRUE(log.wait_for("handler exploded"));
  EXPECT_TRUE(ext.send_order());
  updater.stop();
  EXPECT_GT(updater.last_handled().value_or(0), boom);
  MutexLock lock(mutex);
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
}  // namespace orbrix::telegram::testing
