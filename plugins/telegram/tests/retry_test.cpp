// A message refused with 429 is sent again after the wait the server asks
// for, within two retries and 10 s of waiting; nothing else is retried, so a
// message is never delivered twice.

#include "bot_test_support.hpp"
#include "orbrix/telegram/errors.hpp"

namespace orbrix::telegram::testing {
namespace {

using Clock = std::chrono::steady_clock;

class RetryTest : public BotTest {
 protected:
  std::vector<std::string> sent_texts() const {
    std::vector<std::string> out;
    for (const auto& m : api.sent()) {
      out.push_back(m.text);
    }
    return out;
  }
};

TEST_F(RetryTest, ARefusedMessageIsDeliveredOnceAfterTheWaitAndTheRestInOrder) {
  start();
  api.script("sendMessage", FakeBotApi::fault(Fault::too_many_requests, 1));
  const auto before = Clock::now();
  bot->send_message("one");
  EXPECT_GE(Clock::now() - before, 950ms);
  bot->send_message("two");
  bot->send_message("three");
  EXPECT_EQ(sent_texts(), (std::vector<std::string>{"one", "two", "three"}));
  const auto calls = api.calls("sendMessage");
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_GE(calls[1].at - calls[0].at, 950ms);
  EXPECT_LT(calls[1].at - calls[0].at, 3s);

  // A handler's acknowledgement is not lost either, and the replies of the
  // commands behind it keep their order.
  api.script("sendMessage", FakeBotApi::fault(Fault::too_many_requests, 1));
  api.push_texts(operator_chat, {"/balance", "/positions"});
  ASSERT_TRUE(api.wait_for_sent(5, 5s));
  EXPECT_EQ(api.sent()[3].text, std::string(stamp) + "Fetching balance...");
  EXPECT_EQ(api.sent()[4].text, std::string(stamp) + "Fetching positions...");
  EXPECT_EQ(log.count("failed"), 0u);
}

TEST_F(RetryTest, AWaitPastTheBoundIsNotMadeAndTheFailurePassesOn) {
  start();
  api.script("sendMessage", FakeBotApi::fault(Fault::too_many_requests, 30));
  const auto before = Clock::now();
  try {
    bot->send_message("later");
    ADD_FAILURE() << "no error";
  } catch (const ApiError& e) {
    EXPECT_EQ(e.error_code(), 429);
    EXPECT_EQ(e.retry_after(), 30);
    EXPECT_NE(std::string(e.what()).find("not sent again"), std::string::npos) << e.what();
  }
  EXPECT_LT(Clock::now() - before, 1s);
  EXPECT_EQ(api.calls("sendMessage").size(), 1u);
  EXPECT_TRUE(api.sent().empty());

  // A handler's reply: one line, and the request stands for the engine.
  api.script("sendMessage", FakeBotApi::fault(Fault::too_many_requests, 30));
  api.push_text(operator_chat, "/balance");
  ASSERT_TRUE(log.wait_for("handler /balance failed"));
  EXPECT_EQ(log.count("error 429"), 1u);
  EXPECT_TRUE(bot->get_balance());
  EXPECT_TRUE(api.sent().empty());
}

TEST_F(RetryTest, RetriesAndWaitingAreBoundedInAll) {
  start([](BotOptions& o) { o.api.send_retry_budget = 1500ms; });
  // Three refusals without a wait: two retries, then the third passes on.
  api.script("sendMessage", FakeBotApi::fault(Fault::too_many_requests, 0), 3);
  EXPECT_THROW(bot->send_message("x"), ApiError);
  EXPECT_EQ(api.calls("sendMessage").size(), 3u);
  // Waits add up: 1 s, then another 1 s would pass the 1.5 s allowed.
  api.script("sendMessage", FakeBotApi::fault(Fault::too_many_requests, 1), 2);
  EXPECT_THROW(bot->send_message("y"), ApiError);
  EXPECT_EQ(api.calls("sendMessage").size(), 5u);
  EXPECT_TRUE(api.sent().empty());
  bot->send_message("z");
  EXPECT_EQ(sent_texts(), std::vector<std::string>{"z"});
}

TEST_F(RetryTest, OtherFailuresAreNeverSentTwice) {
  start([](BotOptions& o) { o.api.request_timeout = 300ms; });
  api.script("sendMessage", FakeBotApi::fault(Fault::server_error));
  EXPECT_THROW(bot->send_message("a"), ApiError);
  api.script("sendMessage", FakeBotApi::fault(Fault::drop_connection));
  EXPECT_THROW(bot->send_message("b"), TelegramError);
  // Timed out, yet delivered later: sending again would make two.
  Scripted slow;
  slow.delay = 800ms;
  slow.then_serve = true;
  api.script("sendMessage", slow);
  EXPECT_THROW(bot->send_message("c"), NetworkError);
  ASSERT_TRUE(api.wait_for_sent(1));
  EXPECT_EQ(sent_texts(), std::vector<std::string>{"c"});
  EXPECT_EQ(api.calls("sendMessage").size(), 3u);
}

}  // namespace
}  // namespace orbrix::telegram::testing
