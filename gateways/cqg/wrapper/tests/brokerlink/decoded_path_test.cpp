// BrokerLink taking the simulator's decoded events (a backtest's direct
// path) over the same simulator: what the engine is told, what the gateway
// asks of the engine, and what it reads of the vendor's objects.

#include <gtest/gtest.h>

#include "sim_fixture.hpp"

namespace orbrix::cqg {
namespace {

using testing::BrokerLinkOverSimulator;

// Quotes reach the engine as on the vendor path, but the instrument's
// security is asked for once per subscription and no vendor object is read
// per event; a new subscription asks again; without the taker the vendor's
// objects are read per quote once more.
TEST_F(BrokerLinkOverSimulator, DecodedQuotesAskForTheSecurityOncePerSubscription) {
  const Security ep = subscribe("EP");
  sim.driver().set_decoded_sink(link->decoded_sink());
  forget_so_far();
  const auto fire = [&](int n) {
    for (int i = 0; i < n; ++i) {
      sim.driver().fire_quotes("EP", {{"qtBid", 4000.25 + 0.25 * i, 3}, {"qtAsk", 4010.0, 5}});
    }
  };
  auto before = gateway.symbol_lookups();
  fire(5);
  EXPECT_EQ(gateway.symbol_lookups() - before, 1u);
  EXPECT_TRUE(calls().empty()) << calls().front();
  auto quotes = gateway.records<Quote>();
  ASSERT_GE(quotes.size(), 9u);  // each changed quote once both sides are known
  EXPECT_EQ(quotes.back().bid_price(), 4001.25);
  EXPECT_EQ(quotes.back().ask_price(), 4010.0);
  EXPECT_EQ(gateway.cqg_quotes().get(ep)->bid_price(), 4001.25);

  // Removed and subscribed again (a new instrument object): its security is
  // asked for anew, once, by the subscription's first quotes.
  link->unsubscribe_quote("EP");
  before = gateway.symbol_lookups();
  link->subscribe_quote("EP");
  drain();
  EXPECT_EQ(gateway.symbol_lookups() - before, 1u);
  forget_so_far();
  before = gateway.symbol_lookups();
  fire(3);
  EXPECT_EQ(gateway.symbol_lookups() - before, 0u);
  EXPECT_EQ(gateway.records<Quote>().size(), 6u);

  // Back on the vendor path: the objects are read, the engine asked per quote.
  sim.driver().set_decoded_sink(nullptr);
  forget_so_far();
  before = gateway.symbol_lookups();
  fire(2);
  EXPECT_EQ(gateway.symbol_lookups() - before, 4u);
  EXPECT_FALSE(calls().empty());
}

}  // namespace
}  // namespace orbrix::cqg
