// The engine thread reads and resets requests while the dispatcher raises
// them: no data race (run under ThreadSanitizer), parameters always belong to
// the request whose flag was seen, and no request is lost.

#include <atomic>
#include <thread>

#include "bot_test_support.hpp"

namespace orbrix::telegram::testing {
namespace {

class ControlStateTest : public BotTest {
 protected:
  void SetUp() override { start(); }
};

TEST_F(ControlStateTest, TheEngineSeesParametersWithTheirFlag) {
  constexpr int requests = 40;
  std::atomic<bool> done{false};
  std::vector<int> taken;
  bool consistent = true;
  std::thread engine([&] {
    while (true) {
      const bool finished = done.load();
      if (auto request = bot->take_cancel_order()) {
        const int id = std::stoi(request->cancel_order_id.value_or("-1"));
        consistent = consistent && request->gateway_name == "GW" + std::to_string(id);
        taken.push_back(id);
      }
      // The flag-then-parameters protocol of the plain getters.
      if (bot->send_order()) {
        const std::string order = bot->order_string();
        consistent = consistent && order.rfind("EP,", 0) == 0;
        bot->send_order(false);
      }
      if (finished)
        return;
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < requests; ++i) {
    api.push_text(operator_chat, "/cancel_order " + std::to_string(i) + " GW" + std::to_string(i));
    api.push_text(operator_chat, "/send_order EP," + std::to_string(i) + ",l,o,m,CQG,None,None");
  }
  ASSERT_TRUE(api.wait_for_sent(2 * requests, 20s));
  done = true;
  engine.join();

  EXPECT_TRUE(consistent);
  ASSERT_FALSE(taken.empty());
  EXPECT_TRUE(std::is_sorted(taken.begin(), taken.end()));
  // A request raised while the engine served the previous one is not lost:
  // the last one is always taken.
  EXPECT_EQ(taken.back(), requests - 1);
}

TEST_F(ControlStateTest, HostSettersRaceWithHandlersSafely) {
  std::atomic<bool> stop{false};
  std::thread engine([&] {
    for (int i = 0; !stop.load(); ++i) {
      bot->num_deals_displayed(i % 7);
      bot->get_deals(false);
      bot->orbrix_status(i % 2 ? "Running" : "Busy");
      (void)bot->snapshot();
    }
  });
  for (int i = 0; i < 20; ++i)
    api.push_text(operator_chat, "/deals " + std::to_string(i));
  api.push_text(operator_chat, "/stop");
  const bool all = api.wait_for_sent(21, 20s);
  stop = true;
  engine.join();
  ASSERT_TRUE(all);
  EXPECT_EQ(bot->orbrix_status() == "Terminated" || bot->orbrix_status() == "Running" ||
                bot->orbrix_status() == "Busy",
            true);
}

}  // namespace
}  // namespace orbrix::telegram::testing
