// Log-on, log-off, the account lookup and quote subscriptions through the
// API host and the simulator on its manual clock.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <atomic>
#include <thread>

#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/interruption.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "sim_fixture.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using automation::Variant;
using cqgsim::AnswerBehaviour;
using cqgsim::GatewayBehaviour;
using orbrix::testing::HookKind;
using Strings = std::vector<std::string>;
using testing::k;

using BrokerLinkConnection = testing::BrokerLinkOverSimulator;

TEST_F(BrokerLinkConnection, LogonWaitsForTheDelayedUpReportAndLaterLogonsDoNot) {
  sim.controls().set_gateway(GatewayBehaviour::after(200ms));
  // (The log-on's one round trip is counted where the clock does not move:
  // BrokerLinkOverSimulator.LogonAccountsAndLogoff.)
  Strings logon_lines;
  std::thread engine([&] {
    mark_lines();
    link->Logon("user", "secret");
    logon_lines = caller_lines();
  });
  ASSERT_TRUE(wait_for_call("CQGCEL.GWLogon"));
  sim.driver().advance(199ms);
  EXPECT_FALSE(link->eventGatewayIsUp.is_set());  // not before its time
  sim.driver().advance(1ms);
  engine.join();
  EXPECT_EQ(logon_lines, (Strings{"Connecting to GW", "Waiting for GW connection..."}));
  EXPECT_TRUE(out.contains("GW connection is UP!"));
  const auto sent = calls(/*with_args=*/true);
  EXPECT_NE(std::find(sent.begin(), sent.end(), "CQGCEL.GWLogon(user,secret)"), sent.end());
  // Never answered again: the up report is remembered, also across a log-off.
  sim.controls().set_gateway(GatewayBehaviour::after(0ms));
  link->Logoff();
  sim.controls().set_gateway(GatewayBehaviour::never());
  link->set_timeout(50ms);  // a wait would time out
  link->Logon("user", "secret");
}

TEST_F(BrokerLinkConnection, LogonTimesOut) {
  sim.controls().set_gateway(GatewayBehaviour::never());
  link->set_timeout(50ms);
  try {
    link->Logon("user", "secret");
    FAIL() << "no time-out";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "GW connection timeout!");
  }
}

// Time-outs of centuries, or "no limit", wait for the answer instead of
// overflowing the clock into the past (which failed every wait at once).
TEST_F(BrokerLinkConnection, TimeOutsBeyondTheClockWaitWithoutLimitAndNegativeOnesAreRefused) {
  sim.controls().set_gateway(GatewayBehaviour::after(300ms));
  link->set_timeout(std::chrono::years(300));
  std::thread engine([&] { link->Logon("user", "secret"); });
  ASSERT_TRUE(wait_for_call("CQGCEL.GWLogon"));
  sim.driver().advance(300ms);
  engine.join();  // a failed wait would raise in the thread: std::terminate
  EXPECT_TRUE(link->gateway_connected());

  sim.controls().set_instrument_resolution(AnswerBehaviour::after(300ms));
  link->set_timeout(std::chrono::milliseconds::max());
  EXPECT_EQ(link->timeout(), std::chrono::milliseconds::max());
  std::thread subscriber([&] { link->subscribe_quote("EP"); });
  ASSERT_TRUE(wait_for_call("CQGCEL.NewInstrument"));
  sim.driver().advance(300ms);
  subscriber.join();
  EXPECT_TRUE(gateway.failures().empty());
  EXPECT_FALSE(link->get_instrument_from_cqg_symbol("EP").is_null());

  EXPECT_THROW(link->set_timeout(-1ms), std::invalid_argument);
  EXPECT_THROW(link->set_account_reload_pause(-1ms), std::invalid_argument);
  EXPECT_EQ(link->timeout(), std::chrono::milliseconds::max());
}

// The thread's interruption check ends a wait for the vendor (and the
// account reload's pause) with its own error; the link works on after.
TEST_F(BrokerLinkConnection, AnInterruptionCheckEndsAWaitAndLeavesTheLinkUsable) {
  struct Interrupted {};
  static std::atomic<int> checks{0};
  checks = 0;
  const auto interrupt_on_third = [] {
    if (++checks == 3) {
      throw Interrupted{};
    }
  };
  sim.controls().set_gateway(GatewayBehaviour::never());
  link->set_timeout(std::chrono::hours(1));
  {
    const automation::ScopedInterruptionCheck scope(interrupt_on_third);
    EXPECT_THROW(link->Logon("user", "secret"), Interrupted);
  }
  EXPECT_EQ(checks, 3);
  link->set_account_reload_pause(std::chrono::hours(1));
  checks = 0;
  {
    const automation::ScopedInterruptionCheck scope(interrupt_on_third);
    EXPECT_THROW(link->subscribe_account_and_positions(100001), Interrupted);
  }
  // Without a check nothing interrupts, and the link still logs on.
  sim.controls().set_gateway(GatewayBehaviour::after(0ms));
  link->set_timeout(5s);
  link->Logon("user", "secret");
  EXPECT_TRUE(link->gateway_connected());
  link->set_account_reload_pause(1ms);
  link->subscribe_account_and_positions(100001);
  EXPECT_EQ(link->GWAccountID(), 100001);
}

TEST_F(BrokerLinkConnection, LogoffClearsAnEarlierDownReportAndTimesOut) {
  link->eventGatewayIsDown.set();
  sim.controls().set_gateway(GatewayBehaviour::never());
  link->set_timeout(50ms);
  EXPECT_THROW(
      {
        try {
          link->Logoff();
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "GW disconnection timeout!");
          throw;
        }
      },
      std::runtime_error);
  for (const auto& line : caller_lines()) {
    EXPECT_EQ(line.find("Successfully logoff"), std::string::npos);
  }
}

TEST_F(BrokerLinkConnection, LogoffWithoutASelectedAccountSaysSo) {
  EXPECT_EQ(hops([&] { link->Logoff(); }), 1u);
  EXPECT_EQ(caller_lines(),
            (Strings{"Logoff from GW", "Successfully logoff; no GW account was selected"}));
}

TEST_F(BrokerLinkConnection, AccountLookupListsUntilFound) {
  link->Logon("user", "secret");
  host.cqgCEL.put("AccountSubscriptionLevel", k("aslAccountUpdatesAndOrders"));
  drain();
  const auto listed = accounts();
  ASSERT_GE(listed.size(), 3u);
  const auto line = [&](std::size_t i) {
    return fmt::format("GW Account id: {} name: {}", listed[i].first, listed[i].second);
  };
  mark_lines();
  automation::Object account;
  EXPECT_EQ(hops([&] { account = link->get_account_from_gwaccountid(listed[1].first); }), 1u);
  ASSERT_TRUE(account);
  {
    cqgsim::CallJournal::Pause pause(journal());
    EXPECT_EQ(account.get("GWAccountName").as_string(), listed[1].second);
  }
  // The walk stops at the account: the third is not listed.
  EXPECT_EQ(caller_lines(), (Strings{line(0), line(1), "[Found] " + line(1)}));
  const auto before = caller_lines().size();
  EXPECT_TRUE(link->get_account_from_gwaccountid(listed[0].first));
  EXPECT_EQ(caller_lines().size(), before + 2);
  EXPECT_FALSE(link->get_account_from_gwaccountid(424242));
}

using BrokerLinkQuotes = testing::BrokerLinkOverSimulator;

TEST_F(BrokerLinkQuotes, SubscribeResolvesAndSetsTheSubscriptionLevelInOneHop) {
  EXPECT_EQ(hops([&] { link->subscribe_quote("EP"); }), 1u);
  EXPECT_EQ(caller_lines(), (Strings{"Waiting for eventQuoteDone in subscribe_quote(EP)...",
                                     "eventQuoteDone is done."}));
  drain();
  const auto sent = calls(/*with_args=*/true);
  EXPECT_NE(std::find(sent.begin(), sent.end(), "CQGCEL.NewInstrument(EP)"), sent.end());
  EXPECT_NE(std::find(sent.begin(), sent.end(),
                      fmt::format("CQGInstrument.DataSubscriptionLevel({})", k("dsQuotesAndBBA"))),
            sent.end());
  automation::Object instrument;
  EXPECT_EQ(hops([&] { instrument = link->get_instrument_from_cqg_symbol("EP"); }), 1u);
  ASSERT_TRUE(instrument);
  cqgsim::CallJournal::Pause pause(journal());
  EXPECT_EQ(instrument.get("DataSubscriptionLevel").as_int(), k("dsQuotesAndBBA"));
}

TEST_F(BrokerLinkQuotes, AResolutionErrorReleasesTheCallerAtOnce) {
  link->set_timeout(60s);  // the test would take a minute if it were not released
  link->subscribe_quote("NOPE");
  EXPECT_TRUE(link->eventQuoteDone.is_set());
  EXPECT_FALSE(link->get_instrument_from_cqg_symbol("NOPE"));
}

TEST_F(BrokerLinkQuotes, AnUnansweredSubscriptionReturnsAfterTheTimeOut) {
  sim.controls().set_instrument_resolution(AnswerBehaviour::never());
  link->set_timeout(30ms);
  link->subscribe_quote("EP");
  EXPECT_EQ(caller_lines().back(), "eventQuoteDone is done.");
  EXPECT_FALSE(link->get_instrument_from_cqg_symbol("EP"));
}

TEST_F(BrokerLinkQuotes, ContainmentFindsTheFirstInstrumentAndUnsubscribeRemovesIt) {
  // "E" is in the dated names of both, and in nothing else of them.
  link->subscribe_quote("EP");
  link->subscribe_quote("ENQ");
  cqgsim::CallJournal::Pause pause(journal());
  const auto full_name = [&](std::string_view symbol) {
    return link->get_instrument_from_cqg_symbol(symbol).get("FullName").as_string();
  };
  const std::string ep = full_name("EP"), enq = full_name("ENQ");
  ASSERT_NE(ep, enq);
  EXPECT_EQ(full_name("E"), ep);
  const auto lines = caller_lines().size();
  link->unsubscribe_quote("DD");  // matches nothing: silent
  EXPECT_EQ(caller_lines().size(), lines);
  EXPECT_EQ(hops([&] { link->unsubscribe_quote("E"); }), 1u);
  EXPECT_EQ(caller_lines().back(), "Successfully unsubscribe quote for E");
  EXPECT_FALSE(link->eventQuoteDone.is_set());
  EXPECT_EQ(full_name("E"), enq);
  EXPECT_FALSE(link->get_instrument_from_cqg_symbol("EP"));
}

// A vendor value the handler cannot name (an unknown quote type) ends that
// handler; an engine hook that raises costs only its own call: the quotes
// after it in the event are still applied and handed on.
TEST_F(BrokerLinkQuotes, AnUnknownQuoteTypeEndsItsHandlerAndAHookErrorCostsNoLaterQuote) {
  const Security ep = subscribe("EP");
  drain();
  gateway.clear_calls();
  sim.driver().fire_raw_quotes("EP", {{987654, 1}, {k("qtTrade"), 2}});
  sim.driver().fire_raw_quotes("EP", {{k("qtTrade"), 3}});
  gateway.set_hook_error(HookKind::quote, "engine says no");
  sim.driver().fire_raw_quotes("EP", {{k("qtTrade"), 4}, {k("qtBid"), 1}});
  gateway.set_hook_error(HookKind::quote, std::nullopt);
  sim.driver().fire_raw_quotes("EP", {{k("qtTrade"), 5}});
  drain();
  const auto quotes = gateway.records<Quote>();
  ASSERT_EQ(quotes.size(), 4u);  // 3, 4 and 4 with the bid (the hook threw both times), 5
  EXPECT_EQ(quotes[0].last_price(), 3);
  EXPECT_EQ(quotes[1].last_price(), 4);
  EXPECT_EQ(quotes[2].bid_price(), 1);  // applied after the throwing hook
  EXPECT_EQ(quotes[3].last_price(), 5);
  EXPECT_EQ(quotes[3].bid_price(), 1);
  EXPECT_TRUE(out.contains(
      "Exception in BrokerLink.OnInstrumentChanged: quote type 987654 is not in the table"));
  EXPECT_TRUE(out.contains("Exception in BrokerLink.process_quote: engine says no"));
}

TEST_F(BrokerLinkQuotes, ALateChangeOfARemovedInstrumentIsDropped) {
  const Security ep = subscribe("EP");
  const auto removed = unrecorded([&] { return link->get_instrument_from_cqg_symbol("EP"); });
  ASSERT_TRUE(removed);
  link->unsubscribe_quote("EP");
  forget_so_far();
  // However the vendor sends it, a change of the removed object is dropped
  // before anything of it is read (its quotes would be read first).
  sim.driver().inject("OnInstrumentChanged", {Variant(removed.dispatch()), Variant(), Variant()});
  drain();
  EXPECT_EQ(calls(), Strings{});
  EXPECT_FALSE(out.contains("Exception in BrokerLink.OnInstrumentChanged"));
  EXPECT_TRUE(gateway.calls().empty());
  // Subscribed again, the instrument's changes count again.
  subscribe("EP");
  drain();
  gateway.clear_calls();
  sim.driver().fire_raw_quotes("EP", {{k("qtTrade"), 2}});
  drain();
  EXPECT_EQ(gateway.records<Quote>().size(), 1u);
  EXPECT_EQ(gateway.cqg_quotes().get(ep)->last_price(), 2);
}

TEST_F(BrokerLinkQuotes, WaitingOperationsRefuseToRunOnTheWorker) {
  std::string error;
  automation::call_in_apartment(host.cqgCEL, [&](const automation::Object&) {
    try {
      link->subscribe_quote("EP");
    } catch (const std::logic_error& e) {
      error = e.what();
    }
  });
  EXPECT_NE(error.find("subscribe_quote"), std::string::npos);
  EXPECT_NE(error.find("worker"), std::string::npos);
}

TEST_F(BrokerLinkQuotes, AfterShutdownOperationsRefuseAndAnEventOffTheWorkerIsRefused) {
  subscribe("EP");
  automation::Object instrument;
  {
    cqgsim::CallJournal::Pause pause(journal());
    instrument = link->get_instrument_from_cqg_symbol("EP");
  }
  host.Shutdown();
  gateway.clear_calls();
  journal().clear();
  EXPECT_THROW(link->subscribe_quote("EP"), automation::DisconnectedError);
  EXPECT_THROW(link->get_instrument_from_cqg_symbol("EP"), automation::DisconnectedError);
  EXPECT_THROW(link->cancel_order("00000001"), automation::DisconnectedError);
  link->unsubscribe_bar("EP");  // under safe_call: reported, not raised
  // Events come only on the worker, which has ended: one handed over from
  // another thread is refused before it touches the worker's state or the
  // vendor's objects.
  EXPECT_THROW(link->OnInstrumentChanged(Variant(instrument.dispatch()), Variant(), Variant()),
               std::logic_error);
  EXPECT_TRUE(gateway.records<Quote>().empty());
  EXPECT_EQ(calls(), Strings{});
}

TEST_F(BrokerLinkQuotes, EngineThreadsReadQuotesWhileTheyArrive) {
  const Security ep = subscribe("EP");
  drain();
  // Each batch's bid meets the ask before it, so a whole record never has
  // an ask behind its bid.
  const double a = gateway.cqg_quotes().get(ep) ? gateway.cqg_quotes().get(ep)->ask_price() : 0;
  std::atomic<bool> done{false};
  std::atomic<int> seen{0};
  std::thread reader([&] {
    while (!done.load()) {
      if (const auto q = gateway.cqg_quotes().find(ep)) {
        // A published record is whole: never an ask behind a bid here.
        EXPECT_TRUE(q->ask_price() == 0 || q->ask_price() >= q->bid_price());
        seen.fetch_add(1);
      }
    }
  });
  for (int i = 1; i <= 200; ++i) {
    sim.driver().fire_raw_quotes("EP", {{k("qtBid"), a + i - 1}, {k("qtAsk"), a + i}});
  }
  drain();
  done = true;
  reader.join();
  EXPECT_EQ(gateway.cqg_quotes().get(ep)->bid_price(), a + 199);
}

}  // namespace
}  // namespace orbrix::cqg
