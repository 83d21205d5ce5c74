// BrokerLink over the simulator: each operation end to end through the
// simulated vendor objects, on a manual market clock.

#include <gtest/gtest.h>

#include <thread>

#include "sim_fixture.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using automation::Object;
using cqgsim::AnswerBehaviour;
using cqgsim::GatewayBehaviour;
using testing::BrokerLinkOverSimulator;

TEST_F(BrokerLinkOverSimulator, LogonAccountsAndLogoff) {
  EXPECT_EQ(hops([&] { link->Logon("user", "secret"); }), 1u);
  EXPECT_TRUE(out.contains("GW connection is UP!"));
  // The first subscription loads the accounts; the id is then known.
  link->set_timeout(5s);
  EXPECT_THROW(link->subscribe_account_and_positions(-1), std::invalid_argument);
  const std::int64_t id = first_account_id();
  ASSERT_GT(id, 0);
  EXPECT_LE(hops([&] { link->subscribe_account_and_positions(id); }), 4u);
  EXPECT_GT(link->account_balance().cash, 0);
  EXPECT_TRUE(link->positions().empty());
  EXPECT_EQ(hops([&] { link->update_account_balance(); }), 1u);
  EXPECT_EQ(hops([&] { link->update_positions(); }), 1u);
  EXPECT_EQ(hops([&] { link->get_account_from_gwaccountid(id); }), 1u);
  EXPECT_LE(hops([&] { link->Logoff(); }), 2u);
  const auto lines = out.messages_of(current_thread_id());
  EXPECT_EQ(lines.back().rfind("Successfully logoff account ", 0), 0u) << lines.back();
}

TEST_F(BrokerLinkOverSimulator, ExactQuoteBatchesFollowTheStoringRules) {
  EXPECT_EQ(hops([&] { link->subscribe_quote("EP"); }), 1u);
  const Security ep = subscribe("EP");
  gateway.clear_calls();
  sim.driver().fire_quotes("EP", {{"qtBid", 4000.25, 3}});
  EXPECT_EQ(gateway.cqg_quotes().get(ep)->bid_price(), 4000.25);
  sim.driver().fire_quotes("EP", {{"qtAsk", 4000.75, 5}});
  const auto quotes = gateway.records<Quote>();
  ASSERT_FALSE(quotes.empty());
  EXPECT_EQ(quotes.back().bid_price(), 4000.25);
  EXPECT_EQ(quotes.back().ask_price(), 4000.75);
  EXPECT_EQ(hops([&] { link->unsubscribe_quote("EP"); }), 1u);
}

TEST_F(BrokerLinkOverSimulator, AMarketOrderIsPlacedAndFilled) {
  link->Logon("user", "secret");
  link->set_timeout(5s);
  EXPECT_THROW(link->subscribe_account_and_positions(-1), std::invalid_argument);
  link->subscribe_account_and_positions(first_account_id());
  const Security ep = subscribe("EP");
  std::string id;
  EXPECT_EQ(hops([&] { id = link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 1)); }),
            1u);
  EXPECT_FALSE(id.empty());
  sim.driver().advance(1s);
  EXPECT_TRUE(gateway.wait_for_calls(1, 5s));
  const auto deals = gateway.records<Deal>();
  ASSERT_FALSE(deals.empty());
  EXPECT_EQ(deals[0].order_id, id);
  link->update_positions();
  ASSERT_EQ(link->positions().size(), 1u);
  EXPECT_EQ(link->positions()[0].security, ep);
}

TEST_F(BrokerLinkOverSimulator, TicksBuildTheBookAndBarsFillTheWindow) {
  const Security ep = subscribe("EP");
  // Ticks name the symbol as requested: the engine maps that one too.
  gateway.add_symbol("EP", ep);
  EXPECT_EQ(hops([&] { link->subscribe_orderbook("EP"); }), 2u);
  EXPECT_TRUE(out.contains("Limit: 10"));
  sim.driver().advance(30s);
  EXPECT_FALSE(gateway.records<OrderBook>().empty());
  EXPECT_EQ(hops([&] { link->unsubscribe_orderbook("EP"); }), 1u);

  sim.controls().set_missing_bar_values("EP", cqgsim::BarField::Open, {0, 3});
  EXPECT_EQ(hops([&] { link->subscribe_bar("EP", 20); }), 1u);
  const auto window = link->get_subscribe_bars_data(ep);
  ASSERT_TRUE(window);
  EXPECT_FALSE(window->empty());
  for (const Bar& b : *window) {
    EXPECT_NE(b.open, static_cast<double>(INVALID_VALUE));
  }
  EXPECT_EQ(hops([&] { link->unsubscribe_bar("EP"); }), 1u);
  EXPECT_EQ(link->get_subscribe_bars_data(ep), nullptr);
}

TEST_F(BrokerLinkOverSimulator, AnUnansweredBarRequestAndAnEmptyOneReturn) {
  const Security ep = subscribe("EP");
  sim.controls().set_bars_resolution(AnswerBehaviour::empty());
  link->set_timeout(60s);  // released at once, or the test takes a minute
  link->subscribe_bar("EP", 20);
  EXPECT_EQ(link->get_subscribe_bars_data(ep), nullptr);
  sim.controls().set_bars_resolution(AnswerBehaviour::never());
  link->set_timeout(50ms);
  link->subscribe_bar("EP", 20);
  EXPECT_EQ(out.messages_of(current_thread_id()).back(), "eventBarDone is done.");
}

}  // namespace
}  // namespace orbrix::cqg
