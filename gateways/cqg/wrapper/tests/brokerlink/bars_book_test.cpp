// Timed bars and the order book through the API host and the simulator on
// its manual clock.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "sim_fixture.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using automation::Variant;
using cqgsim::AnswerBehaviour;
using Strings = std::vector<std::string>;
using testing::k_text;

class BrokerLinkBars : public testing::BrokerLinkOverSimulator {
 protected:
  BrokerLinkBars() : BrokerLinkOverSimulator(testing::mid_minute()) {
    gateway.add_symbol("EP", ep);  // bar and tick requests name the symbol as requested
    drain();
    journal().clear();
    mark_lines();
  }
  // The recorded calls on `object` ("CQGTimedBarsRequest.") that pass
  // arguments (puts and method calls, not the reads), with them.
  Strings calls_to(std::string_view object) {
    Strings out;
    for (auto& c : calls(/*with_args=*/true)) {
      if (c.rfind(object, 0) == 0 && c.back() == ')') {
        out.push_back(std::move(c));
      }
    }
    return out;
  }
  std::int64_t bar_count() {
    cqgsim::CallJournal::Pause pause(journal());
    return link->get_timedbars_from_cqg_symbol("EP").get("Count").as_int();
  }

  const Security ep{subscribe("EP")};
};

TEST_F(BrokerLinkBars, AnUnsupportedFrequencySendsNothing) {
  try {
    link->subscribe_bar("EP", 100, "5Min");
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "Parameter freq=5Min is Not supported. Only ('1Day', '1Min') are allowed.");
  }
  EXPECT_EQ(calls(), Strings{});
  EXPECT_TRUE(caller_lines().empty());
}

TEST_F(BrokerLinkBars, RequestFieldsOfTheTwoFrequencies) {
  EXPECT_EQ(hops([&] { link->subscribe_bar("EP", 100); }), 1u);
  EXPECT_EQ(
      calls_to("CQGTimedBarsRequest."),
      (Strings{"CQGTimedBarsRequest.Symbol(EP)", "CQGTimedBarsRequest.RangeStart(0)",
               "CQGTimedBarsRequest.RangeEnd(-101)",
               "CQGTimedBarsRequest.IntradayPeriod(" + k_text("pfds1Min") + ")",
               "CQGTimedBarsRequest.DailyBarClose(" + k_text("dbcLastQuoteOrSettlement") + ")",
               "CQGTimedBarsRequest.UpdatesEnabled(True)",
               "CQGTimedBarsRequest.IncludeOutput(" + k_text("tbrContractVolume") + ",True)",
               "CQGTimedBarsRequest.IncludeOutput(" + k_text("tbrCommodityVolume") + ",True)",
               "CQGTimedBarsRequest.SessionsFilter(all)"}));
  EXPECT_EQ(caller_lines(),
            (Strings{"Create 1Min timed bars request for EP",
                     "Waiting for eventBarDone in subscribe_bar(EP)...", "eventBarDone is done."}));
  // Every bar but the forming one.
  const auto window = link->get_subscribe_bars_data(ep);
  ASSERT_TRUE(window);
  EXPECT_EQ(static_cast<std::int64_t>(window->size()), bar_count() - 1);

  journal().clear();
  link->subscribe_bar("EP", 5, "1Day");
  const auto daily = calls_to("CQGTimedBarsRequest.");
  ASSERT_EQ(daily.size(), 9u);
  EXPECT_EQ(daily[2], "CQGTimedBarsRequest.RangeEnd(-6)");
  EXPECT_EQ(daily[3], "CQGTimedBarsRequest.HistoricalPeriod(" + k_text("hpDaily") + ")");
}

TEST_F(BrokerLinkBars, ErrorsAndEmptyResolutionsReleaseTheCallerAtOnce) {
  link->set_timeout(60s);  // a minute per call if they were not released
  sim.controls().set_bars_resolution(AnswerBehaviour::empty());
  link->subscribe_bar("EP", 10);
  EXPECT_EQ(link->get_subscribe_bars_data(ep), nullptr);
  sim.controls().set_bars_resolution(AnswerBehaviour::error(3, "no data"));
  link->subscribe_bar("EP", 10);
  EXPECT_EQ(link->get_subscribe_bars_data(ep), nullptr);
}

TEST_F(BrokerLinkBars, UnsubscribeRemovesTheRequestAndTheWindow) {
  link->subscribe_bar("EP", 10);
  const auto lines = caller_lines().size();
  link->unsubscribe_bar("DD");  // silent
  EXPECT_EQ(caller_lines().size(), lines);
  EXPECT_TRUE(link->get_timedbars_from_cqg_symbol("EP"));
  journal().clear();
  EXPECT_EQ(hops([&] { link->unsubscribe_bar("EP"); }), 1u);
  const auto sent = calls();
  EXPECT_NE(std::find(sent.begin(), sent.end(), "CQGCEL.RemoveTimedBars"), sent.end());
  EXPECT_EQ(caller_lines().back(), "Successfully unsubscribe timedbar for EP");
  EXPECT_FALSE(link->get_timedbars_from_cqg_symbol("EP"));
  EXPECT_EQ(link->get_subscribe_bars_data(ep), nullptr);
  EXPECT_FALSE(link->eventBarDone.is_set());
}

TEST_F(BrokerLinkBars, TheEngineReadsTheWindowWhileBarsArrive) {
  link->subscribe_bar("EP", 10);
  const auto first = link->get_subscribe_bars_data(ep);
  ASSERT_TRUE(first);
  const std::size_t size = first->size();
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      const auto window = link->get_subscribe_bars_data(ep);
      ASSERT_TRUE(window);
      EXPECT_EQ(window->size(), size);
      EXPECT_LT(window->front().datetime, window->back().datetime);
    }
  });
  for (int i = 0; i < 100; ++i) {
    sim.driver().advance(1min);
  }
  drain();
  done = true;
  reader.join();
  EXPECT_EQ(link->get_subscribe_bars_data(ep)->back().datetime,
            first->back().datetime + std::chrono::minutes(100));
}

using BrokerLinkOrderBook = BrokerLinkBars;

TEST_F(BrokerLinkOrderBook, SubscribeWritesTheLimitBeforeSendingInTwoHops) {
  EXPECT_EQ(hops([&] { link->subscribe_orderbook("EP"); }), 2u);
  EXPECT_EQ(caller_lines(),
            (Strings{"Limit: 10", "Waiting for eventOrderbookDone in subscribe_orderbook(EP)...",
                     "eventOrderbookDone is done."}));
  EXPECT_EQ(calls_to("CQGTicksRequest."),
            (Strings{"CQGTicksRequest.Symbol(EP)",
                     "CQGTicksRequest.Type(" + k_text("trtCurrentNotify") + ")",
                     "CQGTicksRequest.TickFilter(" + k_text("tfAll") + ")",
                     "CQGTicksRequest.SessionsFilter(31)", "CQGTicksRequest.Limit(10)"}));
  const auto sent = calls();
  const auto limit = std::find(sent.begin(), sent.end(), "CQGTicksRequest.Limit");
  const auto request = std::find(sent.begin(), sent.end(), "CQGCEL.RequestTicks");
  EXPECT_LT(limit, request);
  EXPECT_NE(request, sent.end());
  EXPECT_TRUE(link->get_ticks_from_cqg_symbol("EP"));
  EXPECT_EQ(hops([&] { link->unsubscribe_orderbook("EP"); }), 1u);
  EXPECT_EQ(caller_lines().back(), "Successfully unsubscribe orderbook for EP");
  EXPECT_FALSE(link->get_ticks_from_cqg_symbol("EP"));
}

TEST_F(BrokerLinkOrderBook,
       AResolutionErrorReleasesTheCallerAndLateTicksOfARemovedRequestAreDropped) {
  link->set_timeout(60s);
  sim.controls().set_ticks_resolution(AnswerBehaviour::error(3, "no data"));
  link->subscribe_orderbook("EP");
  EXPECT_TRUE(link->eventOrderbookDone.is_set());
  link->unsubscribe_orderbook("EP");
  sim.controls().set_ticks_resolution(AnswerBehaviour::after(0ms));
  link->subscribe_orderbook("EP");
  const auto ticks = unrecorded([&] { return link->get_ticks_from_cqg_symbol("EP"); });
  ASSERT_TRUE(ticks);
  link->unsubscribe_orderbook("EP");
  forget_so_far();
  // The removed collection's late batch (however the vendor sends it) is
  // dropped before anything of it is read.
  sim.driver().inject("OnTicksAdded", {Variant(ticks.dispatch()), Variant(1)});
  drain();
  EXPECT_EQ(calls(), Strings{});
  EXPECT_TRUE(gateway.calls().empty());
  // A late answer of it releases nobody.
  link->eventOrderbookDone.clear();
  sim.driver().inject("OnTicksResolved", {Variant(ticks.dispatch()), Variant()});
  drain();
  EXPECT_FALSE(link->eventOrderbookDone.is_set());
  EXPECT_EQ(calls(), Strings{});
}

}  // namespace
}  // namespace orbrix::cqg
