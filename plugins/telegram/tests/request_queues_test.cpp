// The request queues under the engine's one-slot protocol: every request is
// seen once, in order, with the parameters it was acknowledged with.

#include "orbrix/telegram/request_queues.hpp"

#include <gtest/gtest.h>

namespace orbrix::telegram {
namespace {

RequestOrigin from_chat(std::string command) {
  return RequestOrigin{7, std::move(command)};
}

TEST(RequestQueues, AOneSlotEngineSeesEveryRequestWithItsOwnParameters) {
  RequestQueues q;
  for (const char* order : {"EP,1,l,o,m,CQG,None,None", "ENQ,1,s,o,m,CQG,None,None"}) {
    ASSERT_TRUE(q.raise(
        RequestKind::send_order, [&](RequestParameters& p) { p.order_string = order; },
        from_chat(order)));
  }
  // Poll the flag, read the parameter, lower the flag: twice, then nothing.
  std::vector<std::string> served;
  while (q.pending(RequestKind::send_order) > 0) {
    served.push_back(q.shown(RequestKind::send_order).order_string);
    q.set_raised(RequestKind::send_order, false);
  }
  EXPECT_EQ(served,
            (std::vector<std::string>{"EP,1,l,o,m,CQG,None,None", "ENQ,1,s,o,m,CQG,None,None"}));
  // With nothing pending the last value stays shown.
  EXPECT_EQ(q.shown(RequestKind::send_order).order_string, "ENQ,1,s,o,m,CQG,None,None");
  q.set_raised(RequestKind::send_order, false);  // lowering a lowered flag: nothing
  EXPECT_EQ(q.pending(RequestKind::send_order), 0u);
}

TEST(RequestQueues, DefaultsInForceApplyToLaterRequestsOnly) {
  RequestQueues q;
  const auto count = [](std::int64_t n) {
    return [n](RequestParameters& p) { p.num_deals_displayed = n; };
  };
  ASSERT_EQ(q.raise(RequestKind::deals, count(20), from_chat("/deals 20"))->num_deals_displayed,
            20);
  // A command without a count gets the one in force, which the host may
  // change; a request already queued keeps what it was acknowledged with.
  ASSERT_EQ(q.raise(RequestKind::deals, {}, from_chat("/deals"))->num_deals_displayed, 20);
  q.in_force().num_deals_displayed = 5;
  ASSERT_EQ(q.raise(RequestKind::deals, {}, from_chat("/deals"))->num_deals_displayed, 5);
  std::vector<std::int64_t> counts;
  while (auto r = q.take(RequestKind::deals)) {
    counts.push_back(r->parameters.num_deals_displayed);
  }
  EXPECT_EQ(counts, (std::vector<std::int64_t>{20, 20, 5}));

  // The filter is sticky: once given it stays for later requests.
  q.raise(RequestKind::orders, [](RequestParameters& p) { p.active_orders = true; }, {});
  EXPECT_TRUE(q.raise(RequestKind::orders, {}, {})->active_orders);
  q.in_force().active_orders = false;
  EXPECT_FALSE(q.raise(RequestKind::orders, {}, {})->active_orders);
  EXPECT_TRUE(q.shown(RequestKind::orders).active_orders);  // the oldest keeps its own
}

TEST(RequestQueues, TheHostRaisesALoweredFlagOnceWithTheValuesInForce) {
  RequestQueues q;
  q.in_force().close_positions_gateway_name = "GW1";
  q.set_raised(RequestKind::close_positions, true);
  q.set_raised(RequestKind::close_positions, true);  // already raised: no second request
  EXPECT_EQ(q.pending(RequestKind::close_positions), 1u);
  const auto r = q.take(RequestKind::close_positions);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->parameters.close_positions_gateway_name, "GW1");
  EXPECT_FALSE(r->origin.chat_id);
}

TEST(RequestQueues, AFullKindRefusesWithoutChangingAnythingAndOthersGoOn) {
  RequestQueues q(2);
  const auto count = [](std::int64_t n) {
    return [n](RequestParameters& p) { p.num_deals_displayed = n; };
  };
  EXPECT_TRUE(q.raise(RequestKind::deals, count(1), from_chat("/deals 1")));
  EXPECT_TRUE(q.raise(RequestKind::deals, count(2), from_chat("/deals 2")));
  EXPECT_FALSE(q.raise(RequestKind::deals, count(3), from_chat("/deals 3")));
  EXPECT_EQ(q.in_force().num_deals_displayed, 2);
  EXPECT_TRUE(q.raise(RequestKind::balance, {}, from_chat("/balance")));
  q.set_raised(RequestKind::deals, false);
  EXPECT_TRUE(q.raise(RequestKind::deals, count(3), from_chat("/deals 3")));

  // Everything still pending, in arrival order across kinds.
  std::vector<std::string> commands;
  for (const auto& r : q.take_all()) {
    commands.push_back(r.origin.command);
  }
  EXPECT_EQ(commands, (std::vector<std::string>{"/deals 2", "/balance", "/deals 3"}));
  EXPECT_EQ(q.pending(RequestKind::deals), 0u);
  EXPECT_THROW(RequestQueues(0), std::invalid_argument);
}

}  // namespace
}  // namespace orbrix::telegram
