// Polling against a misbehaving server: every fault answer is survived
// without losing an update, except a refused token, which ends polling.

#include "bot_test_support.hpp"
#include "orbrix/telegram/bot_api.hpp"
#include "orbrix/telegram/errors.hpp"

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
  for (const auto& line : log.lines()) {
    EXPECT_EQ(line.find("wrong-token"), std::string::npos);
  }
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

// Waits between polls: each gap must be at least `floor` (half the first
// back-off step), so the bot is not polling in a loop.
void expect_spaced(const std::vector<Call>& calls, std::size_t from, std::size_t to,
                   std::chrono::milliseconds floor) {
  for (std::size_t i = from; i + 1 < to && i + 1 < calls.size(); ++i) {
    EXPECT_GE(calls[i + 1].at - calls[i].at, floor) << "gap " << i;
  }
}

TEST_F(PollingTest, CommandsQueuedLongBeforeStartUpAreConfirmedWithoutRunning) {
  // Sent while the engine was down; the Bot API kept them.
  api.push_text_sent_ago(operator_chat, "/send_order EP,1,l,o,m,CQG,None,None", 1h);
  api.push_text_sent_ago(operator_chat, "/stop", 6min);
  api.push_text_sent_ago(operator_chat, "/balance", 30s);
  start();
  ASSERT_TRUE(api.wait_for_sent(1));
  EXPECT_EQ(api.sent().at(0).text, std::string(stamp) + "Fetching balance...");
  EXPECT_TRUE(eventually([&] { return api.pending() == 0; }));
  EXPECT_FALSE(bot->send_order());
  EXPECT_EQ(bot->orbrix_status(), "Running");
  EXPECT_EQ(log.count("before start-up"), 2u);
  EXPECT_EQ(api.sent().size(), 1u);

  // The age is an option: with a day allowed, an hour-old /stop runs.
  EXPECT_TRUE(bot->take_balance());
  bot->close();
  api.push_text_sent_ago(operator_chat, "/stop", 1h);
  start([](BotOptions& o) { o.polling.stale_after = 24h; });
  ASSERT_TRUE(api.wait_for_sent(2));
  EXPECT_EQ(bot->orbrix_status(), "Terminated");
}

TEST_F(PollingTest, AWebhookLeftOnTheTokenIsDeletedBeforePolling) {
  api.set_webhook("https://example.invalid/hook");
  api.push_text(operator_chat, "/balance");
  start();
  EXPECT_TRUE(api.wait_for_sent(1));
  EXPECT_FALSE(api.webhook_set());
  const auto deletes = api.calls("deleteWebhook");
  ASSERT_EQ(deletes.size(), 1u);
  // The command waiting on the server is kept, not dropped with the webhook.
  EXPECT_FALSE(deletes[0].params.value("drop_pending_updates", false));
  EXPECT_EQ(log.count("webhook is active"), 0u);
}

TEST_F(PollingTest, UnreadableItemsAreSkippedAndConfirmedPast) {
  // A message without update_id between two good ones, and a last item that
  // is not even an object: the good ones run, the server forgets all four.
  api.push_text(operator_chat, "before");
  api.push_malformed({{"message", {{"message_id", 7}, {"text", "lost"}}}});
  api.push_text(operator_chat, "after");
  api.push_malformed("not an update");
  start();
  ASSERT_TRUE(api.wait_for_sent(2));
  EXPECT_EQ(api.sent().at(0).text, "[ECHO] before");
  EXPECT_EQ(api.sent().at(1).text, "[ECHO] after");
  EXPECT_TRUE(eventually([&] { return api.pending() == 0; }));
  EXPECT_EQ(log.count("unreadable"), 1u);
  EXPECT_EQ(log.count("skipped 2 unreadable"), 1u);
  EXPECT_EQ(reply("hi"), "[ECHO] hi");
}

TEST_F(PollingTest, UpdateIdsOutOfOrderOrTwiceAreHandledOnceInIdOrder) {
  const auto now = FakeBotApi::unix_time();
  auto first = api.text_message(operator_chat, "first", "message", now);
  first["update_id"] = 800000001;
  auto second = api.text_message(operator_chat, "second", "message", now);
  second["update_id"] = 800000002;
  api.push_raw(second);
  api.push_raw(first);
  api.push_raw(first);
  start();
  ASSERT_TRUE(api.wait_for_sent(2));
  EXPECT_EQ(api.sent().at(0).text, "[ECHO] first");
  EXPECT_EQ(api.sent().at(1).text, "[ECHO] second");
  expect_silent_since(2);
  EXPECT_EQ(log.count("out of order"), 1u);
  EXPECT_EQ(log.count("update 800000001 came twice"), 1u);
}

TEST_F(PollingTest, ATooManyRequestsWithoutAWaitBacksOffAndIsSaidOnce) {
  api.script("getUpdates", FakeBotApi::fault(Fault::too_many_requests, 0), 5);
  start([](BotOptions& o) {
    o.polling.backoff_initial = 40ms;
    o.polling.backoff_max = 80ms;
  });
  ASSERT_TRUE(api.wait_for_calls("getUpdates", 6));
  expect_spaced(api.calls("getUpdates"), 0, 6, 20ms);
  EXPECT_EQ(reply("hi"), "[ECHO] hi");
  EXPECT_TRUE(log.wait_for("polling resumed"));
  EXPECT_EQ(log.count("Too Many Requests"), 1u);
}

TEST_F(PollingTest, ARetryAfterBeyondThirtyTwoBitsIsWaitedNotWrapped) {
  // 2^32 seconds: read as a 32-bit int it would be 0, a retry at once.
  constexpr std::int64_t huge = 4294967296;
  api.script("getMe", FakeBotApi::fault(Fault::too_many_requests, huge + 1));
  {
    BotApi client(api.token(), ApiOptions{api.url()});
    try {
      client.get_me();
      ADD_FAILURE() << "no error";
    } catch (const ApiError& e) {
      EXPECT_EQ(e.retry_after(), huge + 1);
    }
  }
  api.script("getMe", FakeBotApi::fault(Fault::too_many_requests, huge));
  start();
  ASSERT_TRUE(api.wait_for_calls("getMe", 2));
  EXPECT_FALSE(api.wait_for_calls("getMe", 3, 300ms));
  EXPECT_TRUE(log.wait_for("retrying in 86400 s"));
  bot->close();  // ends the wait
}

TEST_F(PollingTest, AServerThatIgnoresOffsetIsNotPolledInALoop) {
  api.ignore_offset(true);
  start([](BotOptions& o) {
    o.polling.backoff_initial = 40ms;
    o.polling.backoff_max = 80ms;
  });
  EXPECT_EQ(reply("/balance"), std::string(stamp) + "Fetching balance...");
  const std::size_t polls = api.calls("getUpdates").size();
  ASSERT_TRUE(api.wait_for_calls("getUpdates", polls + 5));
  expect_spaced(api.calls("getUpdates"), polls, polls + 5, 20ms);
  // Sent back again and again, the command ran once and is said once.
  EXPECT_EQ(api.sent().size(), 1u);
  EXPECT_EQ(log.count("ignores offset"), 1u);
}

TEST(BotConstruction, RefusesATokenOfTheWrongForm) {
  // Built only, never polling, and aimed at a closed local port: a token
  // that were accepted would reach no server.
  BotOptions quiet;
  quiet.start_polling = false;
  quiet.api.api_url = "http://127.0.0.1:9";
  const std::string too_long = "1:" + std::string(79, 'a');
  for (const std::string& token :
       std::vector<std::string>{"", "abc", "123456", ":", "12:", ":secret", "12 34:abc", "12:ab cd",
                                "12:abc\n", "123/456:abc", "12a:abc", "012:abc", too_long}) {
    try {
      TelegramBot bot(token, quiet);
      ADD_FAILURE() << "accepted '" << token << "'";
    } catch (const std::invalid_argument& e) {
      if (token.size() > 2) {
        EXPECT_EQ(std::string(e.what()).find(token), std::string::npos) << e.what();
      }
    }
  }
  EXPECT_NO_THROW(TelegramBot("123456789:AA-h_dq", quiet));
}

}  // namespace
}  // namespace orbrix::telegram::testing
