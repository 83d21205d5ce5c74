// The demo engine end to end: the whole stack over the simulator, steered
// through the local Bot API stand-in as an operator would.
#include "demo_run.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "demo_runs.hpp"
#include "temp_dir.hpp"

#include "operator_bot.hpp"
#include "orbrix/cqgsim/simulator.hpp"
#include "orbrix/telegram/telegram_bot.hpp"
#include "orbrix/telegram/testing/fake_bot_api.hpp"

namespace orbrix::demo {
namespace {

using namespace std::chrono_literals;
using telegram::testing::FakeBotApi;

using testing::kOperator;

telegram::BotOptions demo_bot_options(const FakeBotApi& api) {
  return testing::operator_bot_options(api);
}

// Sends a command and waits for the engine's answer (the first reply after
// the bot's own time-stamped acknowledgement) that contains `expected`,
// sending again while it does not (orders fill on later market events).
std::string ask(FakeBotApi& api, const std::string& command, const std::string& expected) {
  for (int attempt = 0; attempt < 40; ++attempt) {
    const auto before = api.sent().size();
    api.push_text(kOperator, command);
    std::string answer;
    for (int i = 0; i < 100 && answer.empty(); ++i) {
      const auto sent = api.sent();
      for (std::size_t j = before; j < sent.size(); ++j) {
        if (sent[j].text.rfind("[", 0) != 0) {
          answer = sent[j].text;
        }
      }
      std::this_thread::sleep_for(50ms);
    }
    if (answer.find(expected) != std::string::npos) {
      return answer;
    }
    std::this_thread::sleep_for(200ms);
  }
  return "no answer containing \"" + expected + "\" to " + command;
}

// The engine's answers (not the bot's time-stamped acknowledgements) from
// message `from` on that contain `expected`, once there are `count` of them.
std::vector<std::string> answers_containing(const FakeBotApi& api, std::size_t from,
                                            const std::string& expected, std::size_t count) {
  std::vector<std::string> found;
  for (int i = 0; i < 200 && found.size() < count; ++i) {
    found.clear();
    const auto sent = api.sent();
    for (std::size_t j = from; j < sent.size(); ++j) {
      if (sent[j].text.rfind("[", 0) != 0 && sent[j].text.find(expected) != std::string::npos) {
        found.push_back(sent[j].text);
      }
    }
    std::this_thread::sleep_for(50ms);
  }
  return found;
}

TEST(DemoRun, AnOperatorTradesThroughTheBotAndTheGatewayEndToEnd) {
  FakeBotApi api;
  telegram::TelegramBot bot(api.token(), demo_bot_options(api));
  DemoOptions options;
  options.duration = 60s;  // ended by /stop long before
  options.symbols = {"EP", "ENQ"};
  options.strategy = false;
  options.output = OutputLevel::quiet;
  options.account_reload_pause = std::chrono::milliseconds(100);
  std::atomic<bool> stop{false};
  std::vector<std::string> answers;
  std::vector<std::string> placed;
  std::thread operator_thread([&] {
    answers.push_back(ask(api, "/balance", "Balance:"));
    // Two orders that arrive in one poll are both placed.
    const auto mark = api.sent().size();
    api.push_texts(kOperator, {"/send_order EP,1,l,o,m,CQG,None,None",
                               "/send_order ENQ,1,s,o,m,CQG,None,None"});
    placed = answers_containing(api, mark, "placed", 2);
    answers.push_back(ask(api, "/deals 5", "filled_quantity"));
    answers.push_back(ask(api, "/positions", "SHORT"));
    answers.push_back(ask(api, "/send_order XX,1,l,o,m,CQG,None,None", "piece 1"));
    answers.push_back(ask(api, "/cancel_order no-such-id CQG", "Cannot cancel order no-such-id"));
    answers.push_back(ask(api, "/close_positions", "Closing 2 position(s)"));
    answers.push_back(ask(api, "/positions", "none open"));
    answers.push_back(ask(api, "/orders 5", "Orders:"));
    api.push_text(kOperator, "/stop");
  });
  const auto summary = run_demo(options, stop, &bot);
  operator_thread.join();
  bot.close();
  EXPECT_TRUE(summary.stopped_by_operator);
  ASSERT_EQ(placed.size(), 2u);
  EXPECT_NE(placed[0].find("EP"), std::string::npos) << placed[0];
  EXPECT_NE(placed[0].find("LONG"), std::string::npos) << placed[0];
  EXPECT_NE(placed[1].find("ENQ"), std::string::npos) << placed[1];
  EXPECT_NE(placed[1].find("SHORT"), std::string::npos) << placed[1];
  ASSERT_EQ(answers.size(), 8u);
  EXPECT_NE(answers[1].find("\"filled_quantity\": 1"), std::string::npos) << answers[1];
  EXPECT_NE(answers[2].find("LONG"), std::string::npos) << answers[2];
  EXPECT_NE(answers[3].find("is not a security this engine trades"), std::string::npos);
  for (const auto& a : answers) {
    EXPECT_EQ(a.rfind("no answer", 0), std::string::npos) << a;
  }
  EXPECT_GE(summary.deals, 4u);  // the two orders and their two closing orders
}

}  // namespace
}  // namespace orbrix::demo

namespace orbrix::demo {
namespace {

using testing::run_captured;
using testing::short_run;

using orbrix::testing::TempDir;

TEST(DemoRun, ADroppedGatewayIsRecoveredHeardStepByStepAndTheRunEndsFlat) {
  TempDir dir;
  auto options = short_run();
  options.duration = std::chrono::seconds(3);
  options.output = OutputLevel::quiet;
  options.drop_gateway =
      GatewayDrop{.at = std::chrono::milliseconds(1000), .length = std::chrono::milliseconds(300)};
  options.record = (dir.path() / "run").string();
  const auto run = run_captured(options);
  const auto& s = run.summary;

  using State = ConnectionEvent::State;
  std::vector<State> states;
  for (const auto& e : s.connection) {
    states.push_back(e.state);
  }
  // Up at the log-on, down at the drop, recovery's steps, down at the log-off.
  EXPECT_EQ(states, (std::vector<State>{State::up, State::down, State::reconnecting, State::up,
                                        State::restored, State::down}));
  ASSERT_GE(s.connection.size(), 3u);
  EXPECT_EQ(s.connection[2].attempt, 1);
  ASSERT_TRUE(s.recovery.up && s.recovery.restored && s.recovery.first_quote_after_restored);
  EXPECT_LE(*s.recovery.up, *s.recovery.restored);
  EXPECT_LE(*s.recovery.restored, *s.recovery.first_quote_after_restored);
  EXPECT_TRUE(s.flat());

  for (const char* prefix :
       {"drop   the simulator drops the gateway connection for 0.3 s", "connection down",
        "connection reconnecting (attempt 1)", "connection restored",
        "connection first quote after recovery, ",
        "summary gateway dropped at 1.0 s for 0.3 s; after the simulator restored it: up ",
        "summary left: no working order, no open position; flat: yes", "summary recorded in "}) {
    EXPECT_TRUE(run.has_line_starting(prefix)) << prefix;
  }
  EXPECT_EQ(run.traced_lines(), 0u);
  for (const char* file : {"orders.csv", "deals.csv", "balance.csv", "bars.csv", "chart_EP.png"}) {
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "run" / file)) << file;
  }
}

TEST(DemoRun, ASymbolTheSimulatorCannotResolveEndsTheRunBeforeItTrades) {
  auto options = short_run();
  options.symbols = {"EP", "NOPE"};
  options.output = OutputLevel::quiet;
  try {
    run_captured(options);
    FAIL() << "the run went on with a symbol that has no quotes";
  } catch (const std::runtime_error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("the simulator cannot resolve NOPE (Unknown symbol"), std::string::npos)
        << what;
    // The refusal lists what the simulator does resolve, not a file to look in.
    EXPECT_NE(what.find("the symbols it lists are EP (E-mini S&P 500), ENQ"), std::string::npos)
        << what;
    EXPECT_NE(what.find("NGE (Natural Gas)"), std::string::npos) << what;
  }
}

TEST(DemoRun, AHistoryTheSimulatorRefusesIsToldWithTheReadersError) {
  TempDir dir;
  const auto file = dir.path() / "bad.csv";
  std::FILE* f = std::fopen(file.c_str(), "w");
  std::fputs("this is not,a history\n", f);
  std::fclose(f);
  auto options = short_run();
  options.histories = {{"EP", file.string()}};
  try {
    run_captured(options);
    FAIL() << "a bad history was taken";
  } catch (const std::runtime_error& e) {
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("--history EP=" + file.string() + ": ", 0), 0u) << text;
    EXPECT_NE(text.find("bad.csv"), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace orbrix::demo
