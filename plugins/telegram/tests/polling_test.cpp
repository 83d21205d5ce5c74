// Polling against a misbehaving server: every fault answer is survived
// without losing an update, except a refused token, which ends polling.

#include "bot_test_support.hpp"

namespace orbrix::telegram::testing {
namespace {

class PollingTest : public BotTest {
 protected:
  // The bot's first poll is answered with `fault` `times` times; a command
  // pushed meanwhile must still be served once the server recovers.
  void expect_recovery(Scripted fault, int times, std::string_view logged) {
    api.script("getUpdates", std::move(fault), times);
    start();
    EXPECT_EQ(reply("/balance"), std::string(stamp) + "Fetching balance...");
    EXPECT_TRUE(log.wait_for(logged)) << logged;
    EXPECT_TRUE(log.wait_for("polling resumed"));
    EXPECT_TRUE(bot->polling());
    EXPECT_EQ(api.sent().size(), 1u);
  }
};

TEST_F(PollingTest, SurvivesServerErrors) {
  expect_recovery(FakeBotApi::fault(Fault::server_error), 2, "error 500");
}

TEST_F(PollingTest, SurvivesAnHtmlBadGatewayPage) {
  expect_recovery(FakeBotApi::fault(Fault::bad_gateway_html), 2, "HTTP 502");
}

TEST_F(PollingTest, SurvivesMalformedJson) {
  expect_recovery(FakeBotApi::fault(Fault::malformed_json), 2, "not a Bot API answer");
}

TEST_F(PollingTest, SurvivesADroppedConnection) {
  expect_recovery(FakeBotApi::fault(Fault::drop_connection), 2, "getUpdates failed");
}

TEST_F(PollingTest, AbandonsAPollThatGetsNoAnswer) {
  // Held far past poll_timeout + poll_margin (1.5 s), then answered.
  Scripted slow;
  slow.delay = 20s;
  slow.then_serve = true;
  expect_recovery(slow, 1, "Timeout");
}

TEST_F(PollingTest, ReportsAConflictOncePerEpisode) {
  expect_recovery(FakeBotApi::fault(Fault::conflict), 4, "another poller");
  EXPECT_EQ(log.count("Conflict"), 1u);
  // A later episode is reported again.
  api.script("getUpdates", FakeBotApi::fault(Fault::conflict), 2);
  EXPECT_TRUE(
      eventually([&] { return log.count("Conflict") == 2 && log.count("polling resumed") == 2; }));
}

TEST_F(PollingTest, WaitsWhatATooManyRequestsAnswerAsks) {
  api.script("getMe", FakeBotApi::fault(Fault::too_many_requests, 1));
  start();
  ASSERT_TRUE(api.wait_for_calls("getMe", 2, 5s));
  const auto calls = api.calls("getMe");
  EXPECT_GE(calls[1].at - calls[0].at, 950ms);
  EXPECT_TRUE(log.wait_for("retrying in 1 s"));
  EXPECT_EQ(reply("hi"), "[ECHO] hi");
}

TEST_F(PollingTest, BackOffGrowsUpToItsCap) {
  api.script("getUpdates", FakeBotApi::fault(Fault::server_error), 5);
  start([](BotOptions& o) {
    o.polling.backoff_initial = 40ms;
    o.polling.backoff_max = 160ms;
  });
  ASSERT_TRUE(api.wait_for_calls("getUpdates", 6));
  const auto calls = api.calls("getUpdates");
  // Each wait lies between half its step and the step: 40, 80, 160, 160 ms.
  const std::chrono::milliseconds floor[] = {20ms, 40ms, 80ms, 80ms, 80ms};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_GE(calls[i + 1].at - calls[i].at, floor[i]) << "wait " << i;
    EXPECT_LT(calls[i + 1].at - calls[i].at, 2s) << "wait " << i;
  }
}

TEST_F(PollingTest, ARefusedTokenStopsPolling) {
  api.script("getUpdates", FakeBotApi::fault(Fault::unauthorized));
  start();
  ASSERT_TRUE(log.wait_for("error 401"));
  EXPECT_TRUE(eventually([&] { return !bot->polling(); }));
  EXPECT_TRUE(log.wait_for("TELEGRAM_TOKEN"));
  const auto polls = api.calls("getUpdates").size();
  api.push_text(operator_chat, "/stop");
  EXPECT_FALSE(api.wait_for_calls("getUpdates", polls + 1, 300ms));
  EXPECT_EQ(bot->orbrix_status(), "Running");
}

TEST_F(PollingTest, AWrongTokenIsRefusedAtGetMe) {
  bot = std::make_unique<TelegramBot>("987654:wrong-token", fast_options(api, log));
  ASSERT_TRUE(log.wait_for("getMe failed: error 401"));
  EXPECT_TRUE(eventually([&] { return !bot->polling(); }));
  for (const auto& line : log.lines())
    EXPECT_EQ(line.find("wrong-token"), std::string::npos);
}

TEST_F(PollingTest, AnUnreachableServerIsRetriedAndCloseIsPrompt) {
  std::string dead_url;
  {
    FakeBotApi gone;
    dead_url = gone.url();
  }
  start([&](BotOptions& o) { o.api.api_url = dead_url; });
  ASSERT_TRUE(eventually([&] { return log.count("retrying") >= 3; }));
  const auto before = std::chrono::steady_clock::now();
  bot->close();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_EQ(log.count("Couldn't connect"), log.count("retrying"));
}

TEST_F(PollingTest, CloseDuringALongPollIsPrompt) {
  start([](BotOptions& o) { o.polling.poll_timeout = 30s; });
  ASSERT_TRUE(api.wait_for_calls("getUpdates", 1));
  const auto before = std::chrono::steady_clock::now();
  bot->close();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
}

TEST(BotConstruction, RefusesAnUnusableToken) {
  for (const char* token : {"", "12 34:abc", "123/456:abc"}) {
    EXPECT_THROW(TelegramBot(token, BotOptions{}), std::invalid_argument) << token;
  }
}

}  // namespace
}  // namespace orbrix::telegram::testing
