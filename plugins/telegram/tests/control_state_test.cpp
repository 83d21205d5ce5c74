// Requests between the chat and the engine: several of a kind in one poll
// are all served, in order, each with its own parameters; a full queue
// refuses with a reply; and the engine thread reads and retires requests
// while handlers raise them without a data race (run under ThreadSanitizer)
// or a lost request.

#include <atomic>
#include <map>
#include <thread>

#include "bot_test_support.hpp"
#include "orbrix/telegram/customed_ext_bot.hpp"

namespace orbrix::telegram::testing {
namespace {

class ControlStateTest : public BotTest {
 protected:
  void SetUp() override { start(); }
};

TEST_F(ControlStateTest, ThreeOrdersInOnePollAreThreeRequests) {
  const std::vector<std::string> orders = {"EP,1,l,o,m,CQG,None,None", "ENQ,1,s,o,m,CQG,None,None",
                                           "GCE,2,l,o,l,CQG,1900.5,None"};
  std::vector<std::string> commands;
  for (const auto& o : orders) {
    commands.push_back("/send_order " + o);
  }
  api.push_texts(operator_chat, commands);
  ASSERT_TRUE(api.wait_for_sent(3));
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(api.sent()[i].text, std::string(stamp) + "Send order (['" + orders[i] + "'])...");
  }
  EXPECT_EQ(bot->pending(RequestKind::send_order), 3u);
  for (const auto& o : orders) {
    EXPECT_EQ(bot->take_send_order(), o);
  }
  EXPECT_FALSE(bot->take_send_order());
}

TEST_F(ControlStateTest, AOneSlotEngineServesEachRequestOfABurstInOrder) {
  // The engine's protocol as written for one slot: see the flag, read the
  // parameters, serve, answer, lower the flag; once per poll.
  api.push_texts(operator_chat, {"/cancel_order 11 CQG", "/cancel_order 12 CQG",
                                 "/cancel_order 13 GW2", "/deals 3", "/deals"});
  ASSERT_TRUE(api.wait_for_sent(5));
  std::vector<std::string> outcomes;
  for (int poll = 0; poll < 10; ++poll) {
    if (bot->cancel_order()) {
      const std::string id = bot->cancel_order_id().value_or("?");
      const std::string gateway = bot->gateway_name().value_or("?");
      bot->send_message("cancelled " + id + " on " + gateway);
      bot->cancel_order(false);
    }
    if (bot->get_deals()) {
      bot->send_message("deals " + std::to_string(bot->num_deals_displayed()));
      bot->get_deals(false);
    }
  }
  for (std::size_t i = 5; i < api.sent().size(); ++i) {
    outcomes.push_back(api.sent()[i].text);
  }
  EXPECT_EQ(outcomes,
            (std::vector<std::string>{"cancelled 11 on CQG", "deals 3", "cancelled 12 on CQG",
                                      "deals 3", "cancelled 13 on GW2"}));
  EXPECT_FALSE(bot->cancel_order());
  EXPECT_FALSE(bot->get_deals());
}

TEST_F(ControlStateTest, AFullQueueRefusesWithAReplyAndChangesNothing) {
  bot->close();
  start([](BotOptions& o) { o.max_pending = 2; });
  api.push_texts(operator_chat, {"/deals 1", "/deals 2", "/deals 3", "/balance"});
  ASSERT_TRUE(api.wait_for_sent(4));
  const auto sent = api.sent();
  EXPECT_EQ(sent[2].text, std::string(stamp) +
                              "Not queued: 2 /deals requests are already waiting for the engine, "
                              "the most it keeps. Send it again once they are answered.");
  EXPECT_EQ(sent[3].text, std::string(stamp) + "Fetching balance...");
  EXPECT_EQ(bot->pending(RequestKind::deals), 2u);
  // The refused count was not stored; once one is served there is room.
  EXPECT_EQ(bot->take_deals(), 1);
  EXPECT_EQ(reply("/deals"), std::string(stamp) + "Fetching deals (num_deals_displayed=2)...");
  EXPECT_EQ(bot->take_deals(), 2);
  EXPECT_EQ(bot->take_deals(), 2);
}

TEST_F(ControlStateTest, PendingRequestsAreToldTheyWereNotCarriedOut) {
  api.push_texts(operator_chat, {"/send_order EP,1,l,o,m,CQG,None,None", "/balance", "/stop"});
  ASSERT_TRUE(api.wait_for_sent(3));
  bot->get_positions(true);  // raised by the host: no chat to tell
  EXPECT_EQ(bot->abandon_pending("the engine stopped"), 3u);
  ASSERT_TRUE(api.wait_for_sent(5));
  EXPECT_EQ(api.sent()[3].text,
            std::string(stamp) +
                "Not carried out (the engine stopped): /send_order EP,1,l,o,m,CQG,None,None");
  EXPECT_EQ(api.sent()[4].text,
            std::string(stamp) + "Not carried out (the engine stopped): /balance");
  EXPECT_EQ(log.count("a positions request raised by the host"), 1u);
  EXPECT_FALSE(bot->send_order());
  EXPECT_FALSE(bot->get_balance());
  EXPECT_EQ(bot->abandon_pending("again"), 0u);

  // A notice that cannot be sent: that one and the rest become lines, and
  // the bot does not wait out a failure per request.
  const std::int64_t gone = 4711;
  bot->close();
  start([&](BotOptions& o) { o.allowed_chat_ids = {gone}; });
  const std::size_t mark = api.sent().size();
  api.push_texts(gone, {"/balance", "/positions"});
  ASSERT_TRUE(api.wait_for_sent(mark + 2));
  api.reject_chat(gone);
  const std::size_t sent_before = api.sent().size();
  EXPECT_EQ(bot->abandon_pending("the engine stopped"), 2u);
  EXPECT_EQ(api.calls("sendMessage").size(), sent_before + 1);
  EXPECT_EQ(log.count("not told to chat 4711"), 2u);
}

TEST_F(ControlStateTest, HandlersAndTheEngineAgreeAndLoseNothing) {
  constexpr int requests = 40;
  std::atomic<bool> done{false};
  std::vector<int> taken;
  std::vector<std::string> orders;
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
        orders.push_back(bot->order_string());
        bot->send_order(false);
      }
      const ControlState s = bot->snapshot();
      consistent = consistent && (!s.cancel_order || s.gateway_name == "GW" + *s.cancel_order_id);
      if (finished) {
        return;
      }
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
  ASSERT_EQ(taken.size(), static_cast<std::size_t>(requests));
  ASSERT_EQ(orders.size(), static_cast<std::size_t>(requests));
  for (int i = 0; i < requests; ++i) {
    EXPECT_EQ(taken[i], i);
    EXPECT_EQ(orders[i], "EP," + std::to_string(i) + ",l,o,m,CQG,None,None");
  }
}

TEST(ControlStateThreads, ConcurrentRaisesAndAnEngineThreadSeeEachRequestOnce) {
  // Producers stand for handlers (several bots' dispatchers could share an
  // engine); the engine mixes take_*, the plain protocol and snapshots.
  CustomedExtBot state("1:x", ApiOptions{"http://127.0.0.1:9"}, {}, 4);
  constexpr int producers = 3;
  constexpr int each = 200;
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < producers; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < each;) {
        const std::string order = std::to_string(t) + "," + std::to_string(i);
        const auto given = [&](RequestParameters& p) { p.order_string = order; };
        if (state.raise(RequestKind::send_order, given, RequestOrigin{t, "/send_order"})) {
          ++i;
        } else {
          ++refused;  // full: the operator would be told; try again later
          std::this_thread::yield();
        }
      }
    });
  }
  std::map<int, int> next;  // producer -> the index it must send next
  bool in_order = true;
  int seen = 0;
  for (int round = 0; seen < producers * each; ++round) {
    std::optional<std::string> order;
    if (round % 3 == 0) {
      order = state.take_send_order();
    } else if (round % 3 == 1 && state.send_order()) {
      order = state.order_string();
      state.send_order(false);
    } else {
      // Only this thread retires, so the oldest pending request shown is
      // the next one its producer sent.
      const ControlState s = state.snapshot();
      if (s.send_order) {
        const auto comma = s.order_string.find(',');
        in_order = in_order && next[std::stoi(s.order_string.substr(0, comma))] ==
                                   std::stoi(s.order_string.substr(comma + 1));
      }
      in_order = in_order && state.pending(RequestKind::send_order) <= 4;
    }
    if (!order) {
      continue;
    }
    const auto comma = order->find(',');
    const int t = std::stoi(order->substr(0, comma));
    const int i = std::stoi(order->substr(comma + 1));
    in_order = in_order && next[t] == i;
    next[t] = i + 1;
    ++seen;
  }
  for (auto& t : threads) {
    t.join();
  }
  EXPECT_TRUE(in_order);
  EXPECT_EQ(seen, producers * each);
  EXPECT_FALSE(state.send_order());
  for (int t = 0; t < producers; ++t) {
    EXPECT_EQ(next[t], each);
  }
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
  for (int i = 0; i < 20; ++i) {
    api.push_text(operator_chat, "/deals " + std::to_string(i));
  }
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
