// Log-on, log-off, the account lookup and quote subscriptions through the
// API host and the fake vendor.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "orbrix/automation/errors.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "stack.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using orbrix::testing::HookKind;
using testing::FakeObject;
using testing::Stack;
using Strings = std::vector<std::string>;

std::int64_t k(std::string_view name) {
  return vendor_constant(name);
}

TEST(BrokerLinkConnection, LogonWaitsForTheDelayedUpReportAndLaterLogonsDoNot) {
  Stack s;
  s.vendor.settings().gateway_delay = 200ms;
  EXPECT_EQ(testing::hops(s, [&] { s.link->Logon("user", "secret"); }), 1u);
  EXPECT_EQ(s.caller_lines(), (Strings{"Connecting to GW", "Waiting for GW connection..."}));
  EXPECT_TRUE(s.out.contains("GW connection is UP!"));
  EXPECT_EQ(s.vendor.cel_log().back(), "GWLogon(user, secret)");
  // Never answered again: the up report is remembered, also across a log-off.
  s.link->Logoff();
  s.vendor.settings().gateway_delay.reset();
  s.link->Logon("user", "secret");
}

TEST(BrokerLinkConnection, LogonTimesOut) {
  Stack s;
  s.vendor.settings().gateway_delay.reset();
  s.link->set_timeout(50ms);
  try {
    s.link->Logon("user", "secret");
    FAIL() << "no time-out";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "GW connection timeout!");
  }
}

TEST(BrokerLinkConnection, LogoffClearsAnEarlierDownReportAndTimesOut) {
  Stack s;
  s.link->eventGatewayIsDown.set();
  s.vendor.settings().gateway_delay.reset();
  s.link->set_timeout(50ms);
  EXPECT_THROW(
      {
        try {
          s.link->Logoff();
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "GW disconnection timeout!");
          throw;
        }
      },
      std::runtime_error);
  for (const auto& line : s.caller_lines()) {
    EXPECT_EQ(line.find("Successfully logoff"), std::string::npos);
  }
}

TEST(BrokerLinkConnection, LogoffWithoutASelectedAccountSaysSo) {
  Stack s;
  EXPECT_EQ(testing::hops(s, [&] { s.link->Logoff(); }), 1u);
  EXPECT_EQ(s.caller_lines(),
            (Strings{"Logoff from GW", "Successfully logoff; no GW account was selected"}));
}

TEST(BrokerLinkConnection, AccountLookupListsUntilFound) {
  Stack s;
  s.vendor.add_account(testing::fake_account(11, "first"));
  s.vendor.add_account(testing::fake_account(22, "second"));
  s.host.cqgCEL.put("AccountSubscriptionLevel", k("aslAccountUpdatesAndOrders"));
  automation::Object account;
  EXPECT_EQ(testing::hops(s, [&] { account = s.link->get_account_from_gwaccountid(22); }), 1u);
  ASSERT_TRUE(account);
  EXPECT_EQ(account.get("GWAccountName").as_string(), "second");
  EXPECT_EQ(s.caller_lines(),
            (Strings{"GW Account id: 11 name: first", "GW Account id: 22 name: second",
                     "[Found] GW Account id: 22 name: second"}));
  const auto before = s.caller_lines().size();
  EXPECT_TRUE(s.link->get_account_from_gwaccountid(11));
  EXPECT_EQ(s.caller_lines().size(), before + 2);
  EXPECT_FALSE(s.link->get_account_from_gwaccountid(33));
}

TEST(BrokerLinkQuotes, SubscribeResolvesAndSetsTheSubscriptionLevelInOneHop) {
  Stack s;
  s.vendor.add_instrument("EP", "F.US.EPZ23");
  EXPECT_EQ(testing::hops(s, [&] { s.link->subscribe_quote("EP"); }), 1u);
  EXPECT_EQ(s.caller_lines(), (Strings{"Waiting for eventQuoteDone in subscribe_quote(EP)...",
                                       "eventQuoteDone is done."}));
  automation::Object instrument;
  EXPECT_EQ(testing::hops(s, [&] { instrument = s.link->get_instrument_from_cqg_symbol("EP"); }),
            1u);
  ASSERT_TRUE(instrument);
  EXPECT_EQ(instrument.get("DataSubscriptionLevel").as_int(), k("dsQuotesAndBBA"));
}

TEST(BrokerLinkQuotes, AResolutionErrorReleasesTheCallerAtOnce) {
  Stack s;
  s.link->set_timeout(60s);  // the test would take a minute if it were not released
  s.link->subscribe_quote("NOPE");
  EXPECT_TRUE(s.link->eventQuoteDone.is_set());
  EXPECT_FALSE(s.link->get_instrument_from_cqg_symbol("NOPE"));
}

TEST(BrokerLinkQuotes, AnUnansweredSubscriptionReturnsAfterTheTimeOut) {
  Stack s;
  s.vendor.settings().answer_resolutions = false;
  s.link->set_timeout(30ms);
  s.link->subscribe_quote("EP");
  EXPECT_EQ(s.caller_lines().back(), "eventQuoteDone is done.");
}

TEST(BrokerLinkQuotes, ContainmentFindsTheFirstInstrumentAndUnsubscribeRemovesIt) {
  Stack s;
  s.vendor.add_instrument("EPZ23", "F.US.EPZ23");
  s.vendor.add_instrument("EPH24", "F.US.EPH24");
  s.link->subscribe_quote("EPZ23");
  s.link->subscribe_quote("EPH24");
  EXPECT_EQ(s.link->get_instrument_from_cqg_symbol("EP").get("FullName").as_string(), "F.US.EPZ23");
  const auto lines = s.caller_lines().size();
  s.link->unsubscribe_quote("NQ");  // matches nothing: silent
  EXPECT_EQ(s.caller_lines().size(), lines);
  EXPECT_EQ(testing::hops(s, [&] { s.link->unsubscribe_quote("EP"); }), 1u);
  EXPECT_EQ(s.caller_lines().back(), "Successfully unsubscribe quote for EP");
  EXPECT_FALSE(s.link->eventQuoteDone.is_set());
  EXPECT_EQ(s.link->get_instrument_from_cqg_symbol("EP").get("FullName").as_string(), "F.US.EPH24");
}

// Fires one OnInstrumentChanged of `full_name` with the given quotes.
void fire_quotes(Stack& s, std::string full_name, std::vector<automation::Variant> quotes) {
  const auto instrument = FakeObject::make("FakeInstrument", {{"FullName", std::move(full_name)}});
  s.vendor.cel()->fire("OnInstrumentChanged",
                       {instrument, FakeObject::collection("FakeQuotes", std::move(quotes)), {}});
}

TEST(BrokerLinkQuotes, AHandlerErrorEndsOnlyThatHandler) {
  Stack s;
  auto bad = testing::fake_quote("qtBid", 1);
  bad->set("Type", 987654);
  fire_quotes(s, "F.US.EPZ23", {bad, testing::fake_quote("qtTrade", 2)});
  fire_quotes(s, "F.US.EPZ23", {testing::fake_quote("qtTrade", 3)});
  s.drain();
  s.gateway.set_hook_error(HookKind::quote, "engine says no");
  fire_quotes(s, "F.US.EPZ23",
              {testing::fake_quote("qtTrade", 4), testing::fake_quote("qtBid", 1)});
  s.drain();
  s.gateway.set_hook_error(HookKind::quote, std::nullopt);
  fire_quotes(s, "F.US.EPZ23", {testing::fake_quote("qtTrade", 5)});
  s.drain();
  const auto quotes = s.gateway.records<Quote>();
  ASSERT_EQ(quotes.size(), 3u);  // 3, 4 (the hook then threw), 5
  EXPECT_EQ(quotes[0].last_price(), 3);
  EXPECT_EQ(quotes[1].last_price(), 4);
  EXPECT_EQ(quotes[2].last_price(), 5);
  EXPECT_EQ(quotes[2].bid_price(), 0);  // the quote after the throwing hook was not applied
  EXPECT_TRUE(s.out.contains(
      "Exception in BrokerLink.OnInstrumentChanged: quote type 987654 is not in the table"));
  EXPECT_TRUE(s.out.contains("Exception in BrokerLink.OnInstrumentChanged: engine says no"));
}

TEST(BrokerLinkQuotes, ALateChangeOfARemovedInstrumentIsDropped) {
  Stack s;
  s.vendor.add_instrument("EP", "F.US.EPZ23");
  const auto removed = s.vendor.instrument("EP");
  const auto fire = [&] {
    s.vendor.cel()->fire(
        "OnInstrumentChanged",
        {removed, FakeObject::collection("FakeQuotes", {testing::fake_quote("qtTrade", 2)}), {}});
    s.drain();
  };
  s.link->subscribe_quote("EP");
  s.link->unsubscribe_quote("EP");
  fire();
  EXPECT_TRUE(s.gateway.calls().empty());
  // Another object of the same name is another instrument: its changes count.
  fire_quotes(s, "F.US.EPZ23", {testing::fake_quote("qtTrade", 2)});
  s.drain();
  EXPECT_EQ(s.gateway.records<Quote>().size(), 1u);
  s.link->subscribe_quote("EP");  // the same object subscribed again: its changes count again
  fire();
  EXPECT_EQ(s.gateway.records<Quote>().size(), 2u);
}

TEST(BrokerLinkQuotes, WaitingOperationsRefuseToRunOnTheWorker) {
  Stack s;
  std::string error;
  automation::call_in_apartment(s.host.cqgCEL, [&](const automation::Object&) {
    try {
      s.link->subscribe_quote("EP");
    } catch (const std::logic_error& e) {
      error = e.what();
    }
  });
  EXPECT_NE(error.find("subscribe_quote"), std::string::npos);
  EXPECT_NE(error.find("worker"), std::string::npos);
}

TEST(BrokerLinkQuotes, AfterShutdownOperationsRefuseAndAnEventOffTheWorkerIsRefused) {
  Stack s;
  s.host.Shutdown();
  EXPECT_THROW(s.link->subscribe_quote("EP"), automation::DisconnectedError);
  EXPECT_THROW(s.link->get_instrument_from_cqg_symbol("EP"), automation::DisconnectedError);
  s.link->unsubscribe_bar("EP");  // under safe_call: reported, not raised
  // Events come only on the worker, which has ended: one handed over from
  // another thread is refused before it touches the worker's state.
  const auto instrument = FakeObject::make("FakeInstrument", {{"FullName", "F.US.EPZ23"}});
  EXPECT_THROW(s.link->OnInstrumentChanged(
                   instrument,
                   FakeObject::collection("FakeQuotes", {testing::fake_quote("qtTrade", 2)}), {}),
               std::logic_error);
  EXPECT_TRUE(s.gateway.records<Quote>().empty());
}

TEST(BrokerLinkQuotes, EngineThreadsReadQuotesWhileTheyArrive) {
  Stack s;
  std::atomic<bool> done{false};
  std::atomic<int> seen{0};
  std::thread reader([&] {
    while (!done.load()) {
      if (const auto q = s.gateway.cqg_quotes().find(testing::ep())) {
        // A published record is whole: never an ask behind a bid here.
        EXPECT_TRUE(q->ask_price() == 0 || q->ask_price() >= q->bid_price());
        seen.fetch_add(1);
      }
    }
  });
  for (int i = 1; i <= 200; ++i) {
    fire_quotes(s, "F.US.EPZ23",
                {testing::fake_quote("qtBid", i), testing::fake_quote("qtAsk", i + 1)});
  }
  s.drain();
  done = true;
  reader.join();
  EXPECT_EQ(s.gateway.cqg_quotes().get(testing::ep())->bid_price(), 200);
}

}  // namespace
}  // namespace orbrix::cqg
