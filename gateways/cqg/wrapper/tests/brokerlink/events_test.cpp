// BrokerLink's handlers of the vendor's quote, order, tick and bar events,
// fed by the simulator on its manual clock (and by events injected with its
// own objects where the venue would not send them).

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>

#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "sim_fixture.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using automation::Variant;
using Strings = std::vector<std::string>;
using testing::k;

bool whole_seconds(const DateTime& t) {
  return truncate_to_seconds(t) == t;
}

class BrokerLinkEvents : public testing::BrokerLinkOverSimulator {
 protected:
  explicit BrokerLinkEvents(
      std::optional<std::chrono::system_clock::time_point> start = std::nullopt)
      : BrokerLinkOverSimulator(start) {
    forget_so_far();
  }
  const Security ep{subscribe("EP")};
};

TEST_F(BrokerLinkEvents, InstrumentChangedDecodesTheVendorQuotes) {
  sim.driver().fire_raw_quotes(
      "EP", {{k("qtBid"), 99.5}, {k("qtAsk"), 0, /*valid=*/false}, {k("qtAsk"), 100}});
  drain();
  const auto records = gateway.records<Quote>();
  ASSERT_EQ(records.size(), 1u) << ::testing::PrintToString(out.messages());
  EXPECT_EQ(records[0].bid_price(), 99.5);
  EXPECT_EQ(records[0].ask_price(), 100);
}

// Bar and tick requests name the symbol as requested: the engine maps that
// one instead of the dated one.
class BrokerLinkRequestEvents : public BrokerLinkEvents {
 protected:
  explicit BrokerLinkRequestEvents(
      std::optional<std::chrono::system_clock::time_point> start = std::nullopt)
      : BrokerLinkEvents(start) {
    gateway.add_symbol("EP", ep);
  }
};

class BrokerLinkOrderEvents : public BrokerLinkEvents {
 protected:
  BrokerLinkOrderEvents() {
    log_on_with_account();
    sim.driver().advance(1s);  // the market quotes EP
    drain();
    gateway.clear_calls();
  }
  automation::Object order(const std::string& id) {
    return unrecorded(
        [&] { return automation::Object(host.cqgCEL.object("Orders").call("ItemByGuid", id)); });
  }
  // The vendor's order event, as it would send it.
  void changed(std::string_view change, const automation::Object& o, Variant error = {}) {
    sim.driver().inject("OnOrderChanged", {Variant(k(change)), Variant(o.dispatch()), Variant(),
                                             Variant(), std::move(error)});
    drain();
  }
};

TEST_F(BrokerLinkOrderEvents, AddedWhilePlacingFillsTheSlotAndAddedOtherwiseIsNotOurs) {
  const std::string id = link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 1));
  EXPECT_TRUE(link->eventOrderPlaced.is_set());
  EXPECT_FALSE(id.empty());
  // The event is still set: another added order is not a placement of
  // ours, and an added order is no order update.
  drain();
  const auto reported = gateway.calls().size();
  changed("ctAdded", order(id));
  const auto lines = out.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().message, "orderid " + id + " is not placed by algo");
  EXPECT_EQ(lines.back().thread, -1);
  EXPECT_EQ(gateway.calls().size(), reported);
  EXPECT_EQ(link->order_id(), std::nullopt);
  // Its fill comes with the changes after.
  sim.driver().advance(1s);
  drain();
  const auto deals = gateway.records<Deal>();
  ASSERT_EQ(deals.size(), 1u);
  EXPECT_EQ(deals[0].order_id, id);
  EXPECT_EQ(deals[0].filled_quantity, 1);
}

TEST_F(BrokerLinkOrderEvents, ChangesAndRemovalsAreReportedWithWholeSeconds) {
  const std::string filled = link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 3));
  sim.driver().advance(1s);
  drain();
  auto updates = gateway.records<OrderUpdate>();
  ASSERT_FALSE(updates.empty());
  const OrderUpdate& last = updates.back();
  EXPECT_EQ(last.order_id, filled);
  EXPECT_EQ(last.status, OrderStatus::FILLED);
  EXPECT_EQ(last.filled_quantity, 3);
  for (const auto& u : updates) {
    EXPECT_TRUE(whole_seconds(u.updated_time)) << to_text(u.updated_time);
  }
  const auto deals = gateway.records<Deal>();
  ASSERT_EQ(deals.size(), 1u);
  EXPECT_EQ(deals[0].filled_avg_price, last.filled_avg_price);
  EXPECT_TRUE(whole_seconds(deals[0].updated_time));

  const auto quote = gateway.cqg_quotes().get(ep);
  ASSERT_TRUE(quote);
  const double ask = quote->ask_price();
  const std::string resting =
      link->place_order(Order(ep, OrderType::LIMIT, Direction::SHORT, 1, ask + 50));
  link->cancel_order(resting);
  drain();
  updates = gateway.records<OrderUpdate>();
  EXPECT_EQ(updates.back().order_id, resting);
  EXPECT_EQ(updates.back().status, OrderStatus::CANCELLED);
  // A snapshot of an order reports nothing.
  gateway.clear_calls();
  changed("ctSnapshot", order(resting));
  EXPECT_TRUE(gateway.calls().empty());
}

TEST_F(BrokerLinkOrderEvents, AnEventWithAnErrorReportsNothing) {
  const std::string id = link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 1));
  sim.driver().advance(1s);
  drain();
  gateway.clear_calls();
  journal().clear();
  changed("ctChanged", order(id), Variant(cqgsim::make_error(1, "bad")));
  EXPECT_TRUE(gateway.calls().empty());
  EXPECT_EQ(calls(), Strings{}) << "nothing of the order is read";
}

using BrokerLinkTickEvents = BrokerLinkRequestEvents;

TEST_F(BrokerLinkTickEvents, TicksAddedReadsOnlyTheNewTicksAndDropsUnmappedSymbolsWithOneLine) {
  link->subscribe_orderbook("EP");
  link->subscribe_orderbook("ENQ");  // the engine maps no security to "ENQ"
  sim.driver().advance(30s);
  drain();
  EXPECT_FALSE(gateway.records<OrderBook>().empty());
  // Of the collection, only the ticks the event says were added are read.
  automation::Object ticks;
  std::int64_t count = 0;
  {
    cqgsim::CallJournal::Pause pause(journal());
    ticks = link->get_ticks_from_cqg_symbol("EP");
    count = ticks.get("Count").as_int();
  }
  ASSERT_GE(count, 3);
  journal().clear();
  sim.driver().inject("OnTicksAdded", {Variant(ticks.dispatch()), Variant(2)});
  drain();
  Strings items;
  for (const auto& c : calls(/*with_args=*/true)) {
    if (c.rfind("CQGTicks.Item", 0) == 0) {
      items.push_back(c);
    }
  }
  EXPECT_EQ(items, (Strings{fmt::format("CQGTicks.Item({})", count - 2),
                            fmt::format("CQGTicks.Item({})", count - 1)}));
  const auto dropped = out.messages();
  EXPECT_EQ(std::count(dropped.begin(), dropped.end(),
                       "OnTicksAdded: no security is mapped to ENQ; its ticks are dropped"),
            1);
}

class BrokerLinkBarEvents : public BrokerLinkRequestEvents {
 protected:
  // A minute on the clock brings one bar.
  BrokerLinkBarEvents() : BrokerLinkRequestEvents(testing::mid_minute()) {}
  automation::Object bars() {
    return unrecorded([&] { return link->get_timedbars_from_cqg_symbol("EP"); });
  }
  void added() {
    sim.driver().inject("OnTimedBarsAdded", {Variant(bars().dispatch())});
    drain();
  }
};

TEST_F(BrokerLinkBarEvents, AResolutionStoresAllButTheFormingBarInWholeSeconds) {
  link->subscribe_bar("EP", 5);
  const auto window = link->get_subscribe_bars_data(ep);
  ASSERT_TRUE(window);
  cqgsim::CallJournal::Pause pause(journal());
  const auto collection = link->get_timedbars_from_cqg_symbol("EP");
  const auto count = collection.get("Count").as_int();
  ASSERT_EQ(static_cast<std::int64_t>(window->size()), count - 1);
  const automation::Object first(collection.get("Item", 0).as_object());
  EXPECT_EQ((*window)[0].open, first.get("Open").as_double());
  EXPECT_EQ((*window)[0].high, first.get("High").as_double());
  EXPECT_EQ((*window)[0].low, first.get("Low").as_double());
  EXPECT_EQ((*window)[0].close, first.get("Close").as_double());
  for (const Bar& b : *window) {
    EXPECT_TRUE(whole_seconds(b.datetime)) << to_text(b.datetime);
  }
  // A second resolution keeps the window.
  sim.driver().inject("OnTimedBarsResolved", {Variant(collection.dispatch()), Variant()});
  drain();
  EXPECT_EQ(*link->get_subscribe_bars_data(ep), *window);
}

TEST_F(BrokerLinkBarEvents, AResolutionOfOnlyTheFormingBarLeavesNoWindowButReleases) {
  link->set_timeout(60s);  // a minute if it were not released
  link->subscribe_bar("EP", 0);
  EXPECT_TRUE(link->eventBarDone.is_set());
  EXPECT_EQ(link->get_subscribe_bars_data(ep), nullptr);
}

TEST_F(BrokerLinkBarEvents, AdditionsRollTheWindowOnlyForALaterBar) {
  // No bars in the window (the resolution held only the forming bar): an
  // addition has nothing to roll, an error.
  link->subscribe_bar("EP", 0);
  EXPECT_EQ(link->get_subscribe_bars_data(ep), nullptr);
  sim.driver().advance(1min);
  drain();
  EXPECT_TRUE(out.contains("Exception in BrokerLink.OnTimedBarsAdded: the bar window is empty"));
  link->unsubscribe_bar("EP");
  link->subscribe_bar("EP", 5);
  const auto first = link->get_subscribe_bars_data(ep);
  ASSERT_TRUE(first);
  added();  // no later bar: the same window
  EXPECT_EQ(*link->get_subscribe_bars_data(ep), *first);
  const auto lines = out.lines().size();
  sim.driver().advance(1min);
  drain();
  const auto window = link->get_subscribe_bars_data(ep);
  ASSERT_EQ(window->size(), first->size());
  EXPECT_EQ(window->front(), (*first)[1]);
  EXPECT_GT(window->back().datetime, first->back().datetime);
  const auto all = out.lines();
  ASSERT_EQ(all.size(), lines + 1);
  EXPECT_EQ(all.back().thread, -1);
  EXPECT_EQ(all.back().message, "[2] OnTimedBarsAdded: " + to_text(window->back()));
}

TEST_F(BrokerLinkBarEvents, RepairsPersistInTheStore) {
  sim.controls().set_missing_bar_values("EP", cqgsim::BarField::Open, {1});
  link->subscribe_bar("EP", 5);
  const auto first = link->get_subscribe_bars_data(ep);
  ASSERT_TRUE(first);
  ASSERT_GE(first->size(), 3u);
  EXPECT_EQ((*first)[1].open, (*first)[0].open);  // the nearest earlier value
  // The repaired value is what a later roll keeps.
  sim.driver().advance(1min);
  drain();
  EXPECT_EQ(link->get_subscribe_bars_data(ep)->front().open, (*first)[0].open);
}

TEST_F(BrokerLinkBarEvents, AWindowHandedOutNeverChangesUnderItsReader) {
  link->subscribe_bar("EP", 5);
  const auto first = link->get_subscribe_bars_data(ep);
  ASSERT_TRUE(first);
  const std::vector<Bar> seen = *first;
  sim.driver().advance(1min);  // rolls the store, not the reader's snapshot
  drain();
  EXPECT_EQ(*first, seen);
  const auto second = link->get_subscribe_bars_data(ep);
  EXPECT_NE(second, first);
  EXPECT_GT(second->back().datetime, first->back().datetime);
  // Unchanged: the same snapshot again, no copy.
  EXPECT_EQ(link->get_subscribe_bars_data(ep), second);
}

}  // namespace
}  // namespace orbrix::cqg
