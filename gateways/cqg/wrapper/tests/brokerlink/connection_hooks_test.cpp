// What the engine hears about the connection and about subscriptions that
// failed, through BaseGateway's connection hooks.

#include <gtest/gtest.h>

#include "orbrix/cqg/vendor.hpp"
#include "sim_fixture.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using automation::Variant;
using cqgsim::AnswerBehaviour;
using Kind = SubscriptionFailure::Kind;
using State = ConnectionEvent::State;

class ConnectionHooks : public testing::BrokerLinkOverSimulator {};

TEST_F(ConnectionHooks, TheEngineHearsTheGatewayGoUpAndDownAndTheDataStatus) {
  EXPECT_FALSE(link->gateway_connected());
  link->Logon("user", "secret");
  EXPECT_TRUE(link->gateway_connected());
  link->Logoff();
  EXPECT_FALSE(link->gateway_connected());
  // The hooks run on the worker after the events that release the callers.
  automation::call_in_apartment(host.cqgCEL, [](const automation::Object&) {});
  const auto up = vendor_constant("csConnectionUp");
  const auto down = vendor_constant("csConnectionDown");
  EXPECT_EQ(gateway.connections(),
            (std::vector<ConnectionEvent>{{.state = State::up, .vendor_status = up},
                                          {.state = State::down, .vendor_status = down}}));
  // Other statuses are not an up or a down: the engine is not told.
  sim.driver().inject("OnGWConnectionStatusChanged",
                        {Variant(vendor_constant("csConnectionTrouble"))});
  sim.driver().inject("OnDataConnectionStatusChanged", {Variant(down)});
  automation::call_in_apartment(host.cqgCEL, [](const automation::Object&) {});
  EXPECT_EQ(gateway.connections().size(), 2u);
  ASSERT_FALSE(gateway.data_connections().empty());  // the start-up's report may come first
  EXPECT_EQ(gateway.data_connections().back(), down);
  EXPECT_TRUE(out.contains("DataConnectionStatus=" + std::to_string(down)));
}

TEST_F(ConnectionHooks, AFailedResolutionIsToldBeforeTheCallReturnsWithOneLine) {
  link->subscribe_quote("NOPE");
  link->subscribe_orderbook("NOPE");
  link->subscribe_bar("NOPE", 5);
  const auto failures = gateway.failures();
  ASSERT_EQ(failures.size(), 3u);
  EXPECT_EQ(failures[0],
            (SubscriptionFailure{Kind::quote, "NOPE", "Unknown symbol: NOPE (code 1)"}));
  EXPECT_EQ(failures[1].kind, Kind::ticks);
  EXPECT_EQ(failures[1].symbol, "NOPE");
  EXPECT_EQ(failures[2].kind, Kind::bars);
  EXPECT_NE(failures[2].error.find("Unknown symbol"), std::string::npos);
  EXPECT_TRUE(out.contains("quote subscription of NOPE failed: Unknown symbol: NOPE (code 1)"));
  // The waits still ended as after a success, with the usual lines.
  EXPECT_TRUE(out.contains("eventQuoteDone is done."));
  EXPECT_TRUE(link->eventBarDone.is_set());
}

TEST_F(ConnectionHooks, AnUnansweredSubscriptionIsToldAfterTheTimeOut) {
  sim.controls().set_instrument_resolution(AnswerBehaviour::never());
  sim.controls().set_ticks_resolution(AnswerBehaviour::never());
  link->set_timeout(20ms);
  link->subscribe_quote("EP");
  link->subscribe_orderbook("EP");
  EXPECT_EQ(gateway.failures(),
            (std::vector<SubscriptionFailure>{{Kind::quote, "EP", "no answer in 0.02 s"},
                                              {Kind::ticks, "EP", "no answer in 0.02 s"}}));
  // One traced line per failure, as for a vendor error.
  EXPECT_TRUE(out.contains("ticks subscription of EP failed: no answer in 0.02 s"));
}

}  // namespace
}  // namespace orbrix::cqg
