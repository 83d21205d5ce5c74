// Timed bars and the order book through the API host and the fake vendor.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "stack.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using testing::FakeObject;
using testing::Stack;
using Strings = std::vector<std::string>;

std::int64_t k(std::string_view name) {
  return vendor_constant(name);
}

std::vector<automation::Variant> some_bars(int count) {
  std::vector<automation::Variant> items;
  for (int i = 0; i < count; ++i) {
    items.push_back(testing::fake_bar(i, 10 + i, 11 + i, 9 + i, 10.5 + i, 5));
  }
  return items;
}

TEST(BrokerLinkBars, AnUnsupportedFrequencySendsNothing) {
  Stack s;
  try {
    s.link->subscribe_bar("EPZ23", 100, "5Min");
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "Parameter freq=5Min is Not supported. Only ('1Day', '1Min') are allowed.");
  }
  EXPECT_EQ(s.vendor.last_bars_request(), nullptr);
  EXPECT_TRUE(s.caller_lines().empty());
}

TEST(BrokerLinkBars, RequestFieldsOfTheTwoFrequencies) {
  Stack s;
  s.vendor.set_bars("EPZ23", some_bars(5));
  EXPECT_EQ(testing::hops(s, [&] { s.link->subscribe_bar("EPZ23", 100); }), 1u);
  const auto minute = fmt::format(
      "put Symbol=EPZ23|put RangeStart=0|put RangeEnd=-101|put IntradayPeriod={}|"
      "put DailyBarClose={}|put UpdatesEnabled=True|IncludeOutput({}, True)|"
      "IncludeOutput({}, True)|put SessionsFilter=all",
      k("pfds1Min"), k("dbcLastQuoteOrSettlement"), k("tbrContractVolume"),
      k("tbrCommodityVolume"));
  EXPECT_EQ(fmt::format("{}", fmt::join(s.vendor.last_bars_request()->log(), "|")), minute);
  EXPECT_EQ(s.caller_lines(), (Strings{"Create 1Min timed bars request for EPZ23",
                                       "Waiting for eventBarDone in subscribe_bar(EPZ23)...",
                                       "eventBarDone is done."}));
  EXPECT_EQ(s.link->get_subscribe_bars_data(testing::ep())->size(), 4u);

  s.link->subscribe_bar("EPZ23", 5, "1Day");
  const auto log = s.vendor.last_bars_request()->log();
  ASSERT_EQ(log.size(), 9u);
  EXPECT_EQ(log[2], "put RangeEnd=-6");
  EXPECT_EQ(log[3], fmt::format("put HistoricalPeriod={}", k("hpDaily")));
}

TEST(BrokerLinkBars, ErrorsAndEmptyResolutionsReleaseTheCallerAtOnce) {
  Stack s;
  s.link->set_timeout(60s);  // a minute per call if they were not released
  s.vendor.set_bars("EPZ23", {});
  s.link->subscribe_bar("EPZ23", 10);
  s.vendor.set_bars("EPZ23", some_bars(5));
  s.vendor.settings().resolution_error = true;
  s.link->subscribe_bar("EPZ23", 10);
  EXPECT_EQ(s.link->get_subscribe_bars_data(testing::ep()), nullptr);
}

TEST(BrokerLinkBars, UnsubscribeRemovesTheRequestAndTheWindow) {
  Stack s;
  s.vendor.set_bars("EPZ23", some_bars(5));
  s.link->subscribe_bar("EPZ23", 10);
  const auto lines = s.caller_lines().size();
  s.link->unsubscribe_bar("NQ");  // silent
  EXPECT_EQ(s.caller_lines().size(), lines);
  EXPECT_TRUE(s.link->get_timedbars_from_cqg_symbol("EP"));
  EXPECT_EQ(testing::hops(s, [&] { s.link->unsubscribe_bar("EPZ23"); }), 1u);
  EXPECT_EQ(s.caller_lines().back(), "Successfully unsubscribe timedbar for EPZ23");
  EXPECT_FALSE(s.link->get_timedbars_from_cqg_symbol("EP"));
  EXPECT_EQ(s.link->get_subscribe_bars_data(testing::ep()), nullptr);
  EXPECT_FALSE(s.link->eventBarDone.is_set());
}

TEST(BrokerLinkBars, TheEngineReadsTheWindowWhileBarsArrive) {
  Stack s;
  s.vendor.set_bars("EPZ23", some_bars(5));
  s.link->subscribe_bar("EPZ23", 10);
  auto items = some_bars(5);
  const auto request = FakeObject::make("FakeTimedBarsRequest", {{"Symbol", "EPZ23"}});
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      const auto window = s.link->get_subscribe_bars_data(testing::ep());
      ASSERT_TRUE(window);
      EXPECT_EQ(window->size(), 4u);
      EXPECT_LT(window->front().datetime, window->back().datetime);
    }
  });
  for (int i = 5; i < 105; ++i) {
    items.push_back(testing::fake_bar(i % 60, i, i, i, i, i));  // minutes wrap: no roll then
    // Each event sees the collection as it was when it was fired.
    auto bars = FakeObject::collection("FakeTimedBars", items);
    bars->set("Request", request);
    s.vendor.cel()->fire("OnTimedBarsAdded", {bars});
  }
  s.drain();
  done = true;
  reader.join();
  EXPECT_EQ(s.link->get_subscribe_bars_data(testing::ep())->back().open, 59);
}

TEST(BrokerLinkOrderBook, SubscribeWritesTheLimitBeforeSendingInTwoHops) {
  Stack s;
  EXPECT_EQ(testing::hops(s, [&] { s.link->subscribe_orderbook("EPZ23"); }), 2u);
  EXPECT_EQ(s.caller_lines(),
            (Strings{"Limit: 10", "Waiting for eventOrderbookDone in subscribe_orderbook(EPZ23)...",
                     "eventOrderbookDone is done."}));
  EXPECT_EQ(s.vendor.last_ticks_request()->log(),
            (Strings{"put Symbol=EPZ23", fmt::format("put Type={}", k("trtCurrentNotify")),
                     fmt::format("put TickFilter={}", k("tfAll")), "put SessionsFilter=31",
                     "put Limit=10"}));
  EXPECT_TRUE(s.link->get_ticks_from_cqg_symbol("EP"));
  EXPECT_EQ(testing::hops(s, [&] { s.link->unsubscribe_orderbook("EP"); }), 1u);
  EXPECT_EQ(s.caller_lines().back(), "Successfully unsubscribe orderbook for EP");
  EXPECT_FALSE(s.link->get_ticks_from_cqg_symbol("EP"));
}

TEST(BrokerLinkOrderBook,
     AResolutionErrorReleasesTheCallerAndLateTicksOfARemovedRequestAreDropped) {
  Stack s;
  s.link->set_timeout(60s);
  s.vendor.settings().resolution_error = true;
  s.link->subscribe_orderbook("EPZ23");
  EXPECT_TRUE(s.link->eventOrderbookDone.is_set());
  const auto ticks = s.vendor.last_ticks();
  s.link->unsubscribe_orderbook("EPZ23");
  // The removed collection's late batch (the fake lets one come) is dropped.
  ticks->add_item(testing::fake_tick("tptAsk", 1, 1));
  s.vendor.cel()->fire("OnTicksAdded", {Variant(ticks), 1});
  s.drain();
  EXPECT_EQ(s.gateway.cqg_orderbooks().get(testing::ep()), nullptr);
  // A late answer of it releases nobody.
  s.link->eventOrderbookDone.clear();
  s.vendor.cel()->fire("OnTicksResolved", {Variant(ticks), {}});
  s.drain();
  EXPECT_FALSE(s.link->eventOrderbookDone.is_set());
}

}  // namespace
}  // namespace orbrix::cqg
