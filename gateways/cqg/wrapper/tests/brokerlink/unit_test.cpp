// BrokerLink without an apartment: the name tables, the apply functions and
// the handlers driven with free-threaded vendor objects.

#include <gtest/gtest.h>

#include <stdexcept>

#include "apply.hpp"
#include "fake_vendor.hpp"
#include "orbrix/core/testing/recording_gateway.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/testing/captured_output.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqgsim/simulator.hpp"

namespace orbrix::cqg {
namespace {

using orbrix::testing::HookKind;
using orbrix::testing::RecordingGateway;
using testing::CapturedOutput;
using testing::FakeObject;
using Strings = std::vector<std::string>;

std::int64_t k(std::string_view name) {
  return vendor_constant(name);
}

const Futures& ep() {
  static const Futures f({.code = "EPZ23", .security_name = "E-mini S&P 500"});
  return f;
}

class BrokerLinkUnit : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { cqgsim::register_simulator(); }
  void SetUp() override {
    link = std::make_shared<BrokerLink>();
    link->Init(gateway);
    gateway.add_symbol("EPZ23", ep());
    gateway.cqg_quotes().add_key(ep());
    gateway.cqg_orderbooks().add_key(ep());
  }
  InstrumentChange change(std::vector<QuoteUpdate> quotes) const {
    return {"F.US.EPZ23", std::move(quotes)};
  }
  QuoteUpdate q(std::string_view type, double price, bool valid = true) const {
    return {valid, k(type), price};
  }

  RecordingGateway gateway;
  std::shared_ptr<BrokerLink> link;
};

TEST(BrokerLinkTypeNames, TablesNameEveryVendorTypeAndRefuseOthers) {
  cqgsim::register_simulator();
  EXPECT_EQ(QuoteType2String(k("qtMarker")), "Marker price");
  EXPECT_EQ(QuoteType2String(k("qtTodayMarker")), "Marker price");
  EXPECT_EQ(QuoteType2String(k("qtSettlement")), "Settlement price");
  EXPECT_EQ(TickType2String(k("tptSettlement")), "Settlement price");
  EXPECT_EQ(QuoteType2String(k("qtYesterdaySettlement")), "Yesterday's settlement price");
  EXPECT_EQ(QuoteType2String(k("qtCohUndBid")), "Coherent underlying price for the best bid");
  EXPECT_EQ(TickType2String(k("tptAsk")), "Ask price");
  EXPECT_EQ(TickType2String(k("tptTrade")), "Trade price");
  try {
    QuoteType2String(987654);
    FAIL() << "no error";
  } catch (const std::out_of_range& e) {
    EXPECT_NE(std::string(e.what()).find("987654"), std::string::npos);
  }
  EXPECT_THROW(TickType2String(k("qtAsk") + 1000), std::out_of_range);
}

TEST(BrokerLinkModuleConstants, Values) {
  EXPECT_EQ(TIMEOUT, std::chrono::seconds(10));
  EXPECT_EQ(INVALID_VALUE, -2147483648LL);
  ASSERT_NE(TIMEZONE, nullptr);
  EXPECT_EQ(TIMEZONE->name(), "Asia/Hong_Kong");
  EXPECT_EQ(BrokerLink::description, "CQG Integrated Client API");
  cqgsim::register_simulator();
  EXPECT_EQ(BrokerLink().timeout(), TIMEOUT);  // the product's bound unless a test sets one
  EXPECT_EQ(symbol_of_full_name("F.US.EPZ23"), "EPZ23");
  EXPECT_EQ(symbol_of_full_name("EPZ23"), "EPZ23");
}

TEST_F(BrokerLinkUnit, BidThenAskCompletesTheQuote) {
  apply_instrument_change(gateway, change({q("qtBid", 99.5)}));
  auto stored = gateway.cqg_quotes().get(ep());
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->bid_price(), 99.5);
  EXPECT_EQ(stored->exchange(), ep().exchange());
  EXPECT_TRUE(gateway.calls().empty());
  apply_instrument_change(gateway, change({q("qtAsk", 100)}));
  const auto quotes = gateway.records<Quote>();
  ASSERT_EQ(quotes.size(), 1u);
  EXPECT_EQ(quotes[0].bid_price(), 99.5);
  EXPECT_EQ(quotes[0].ask_price(), 100);
  EXPECT_EQ(*gateway.cqg_quotes().get(ep()), quotes[0]);
}

TEST_F(BrokerLinkUnit, LastPriceReportsEveryLaterQuote) {
  apply_instrument_change(gateway, change({q("qtTrade", 101), q("qtDayHigh", 102),
                                           q("qtImpliedAsk", 7), q("qtYesterdaySettlement", 98)}));
  const auto quotes = gateway.records<Quote>();
  ASSERT_EQ(quotes.size(), 4u);
  EXPECT_EQ(quotes[0].last_price(), 101);
  EXPECT_EQ(quotes[1].high_price(), 102);
  EXPECT_EQ(quotes[2].fields(), quotes[1].fields());  // a type that sets no field
  EXPECT_EQ(quotes[3].prev_close_price(), 98);
}

TEST_F(BrokerLinkUnit, SettlementFirstStoresAnEmptyRecordAndInvalidQuotesChangeNothing) {
  apply_instrument_change(gateway, change({q("qtBid", 5, /*valid=*/false)}));
  EXPECT_EQ(gateway.cqg_quotes().get(ep()), nullptr);
  apply_instrument_change(gateway, change({q("qtSettlement", 97)}));
  const auto stored = gateway.cqg_quotes().get(ep());
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->last_price() + stored->bid_price() + stored->ask_price(), 0);
  EXPECT_TRUE(gateway.calls().empty());
}

TEST_F(BrokerLinkUnit, UnmappedSymbolsAreSkippedAndMissingKeysAndTypesAreErrors) {
  apply_instrument_change(gateway, {"F.US.ZZZ", {q("qtTrade", 1)}});
  EXPECT_TRUE(gateway.calls().empty());
  // The lookup uses the last part of the full name.
  const Futures other({.code = "NQZ23", .security_name = "Nasdaq"});
  gateway.add_symbol("NQZ23", other);
  EXPECT_THROW(apply_instrument_change(gateway, {"F.US.NQZ23", {q("qtTrade", 1)}}),
               std::out_of_range);
  // A type outside the table stops the batch: the quote after it is not applied.
  EXPECT_THROW(apply_instrument_change(gateway, change({{true, 987654, 1}, q("qtTrade", 3)})),
               std::out_of_range);
  EXPECT_EQ(gateway.cqg_quotes().get(ep()), nullptr);
}

TEST_F(BrokerLinkUnit, ConnectionStatusAndErrorHandlers) {
  CapturedOutput out;
  link->OnGWConnectionStatusChanged(Variant(k("csConnectionTrouble")));
  EXPECT_FALSE(link->eventGatewayIsUp.is_set());
  EXPECT_FALSE(link->eventGatewayIsDown.is_set());
  link->OnGWConnectionStatusChanged(Variant(k("csConnectionDown")));
  EXPECT_TRUE(link->eventGatewayIsDown.is_set());
  EXPECT_FALSE(link->eventGatewayIsUp.is_set());
  link->OnGWConnectionStatusChanged(Variant(k("csConnectionUp")));
  EXPECT_TRUE(link->eventGatewayIsUp.is_set());
  EXPECT_TRUE(link->eventGatewayIsDown.is_set());  // not cleared by the other report
  link->OnDataConnectionStatusChanged(Variant(1));
  link->OnDataError(Variant(), Variant("ignored"));
  link->OnDataError(Variant(testing::fake_error(5, "x")), Variant("ignored"));
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].message, "GW connection is DOWN!");
  EXPECT_EQ(lines[1].message, "GW connection is UP!");
  EXPECT_EQ(lines[2].thread, -1);
  EXPECT_EQ(lines[2].message, "DataConnectionStatus=1");
  EXPECT_EQ(lines[3].thread, current_thread_id());
  EXPECT_EQ(lines[3].message, "OnDataError: Code: 5 Description: x");
}

TEST(BrokerLinkBeforeInit, HandlerErrorIsWrittenAndOperationsRefuse) {
  cqgsim::register_simulator();
  CapturedOutput out;
  auto link = std::make_shared<BrokerLink>();
  const auto instrument = FakeObject::make("FakeInstrument", {{"FullName", "F.US.EPZ23"}});
  const auto quotes = FakeObject::collection("FakeQuotes", {testing::fake_quote("qtBid", 1)});
  const Variant args[] = {instrument, quotes, {}};
  link->invoke(link->get_id_of_name("OnInstrumentChanged"), automation::InvokeKind::Method, args);
  ASSERT_EQ(out.messages().size(), 1u);
  EXPECT_NE(out.messages()[0].find("Exception in BrokerLink.OnInstrumentChanged: "),
            std::string::npos);
  EXPECT_NE(out.messages()[0].find("Init"), std::string::npos);
  EXPECT_THROW(link->subscribe_quote("EP"), std::logic_error);
  EXPECT_THROW(link->Logoff(), std::logic_error);
}

TEST_F(BrokerLinkUnit, InstrumentChangedDecodesTheVendorQuotes) {
  const auto instrument = FakeObject::make("FakeInstrument", {{"FullName", "F.US.EPZ23"}});
  const auto quotes = FakeObject::collection(
      "FakeQuotes", {testing::fake_quote("qtBid", 99.5), testing::fake_quote("qtAsk", 0, false),
                     testing::fake_quote("qtAsk", 100)});
  link->OnInstrumentChanged(Variant(instrument), Variant(quotes), Variant());
  const auto records = gateway.records<Quote>();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].bid_price(), 99.5);
  EXPECT_EQ(records[0].ask_price(), 100);
}

TEST(BrokerLinkOrderStatus, TableAndUnknownValue) {
  cqgsim::register_simulator();
  EXPECT_EQ(convert_orderstatus_cqg2eng(k("osBusted")), OrderStatus::FILLED);
  EXPECT_EQ(convert_orderstatus_cqg2eng(k("osFilled")), OrderStatus::FILLED);
  EXPECT_EQ(convert_orderstatus_cqg2eng(k("osParked")), OrderStatus::UNKNOWN);
  EXPECT_EQ(convert_orderstatus_cqg2eng(k("osNotSent")), OrderStatus::UNKNOWN);
  EXPECT_EQ(convert_orderstatus_cqg2eng(k("osInTransitTimeout")), OrderStatus::FAILED);
  EXPECT_EQ(convert_orderstatus_cqg2eng(k("osRejectGW")), OrderStatus::FAILED);
  EXPECT_EQ(convert_orderstatus_cqg2eng(k("osInOrderBook")), OrderStatus::SUBMITTED);
  EXPECT_EQ(convert_orderstatus_cqg2eng(k("osCanceled")), OrderStatus::CANCELLED);
  try {
    convert_orderstatus_cqg2eng(424242);
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Order status 424242 is not valid to be handled by orbrix.");
  }
}

class BrokerLinkOrderEvents : public BrokerLinkUnit {
 protected:
  void changed(std::string_view change, const testing::FakePtr& order,
               const testing::FakePtr& fill = nullptr, const Variant& error = {}) {
    link->OnOrderChanged(Variant(k(change)), Variant(order), Variant(), Variant(fill), error);
  }
};

TEST_F(BrokerLinkOrderEvents, AddedWhilePlacingFillsTheSlotAndAddedOtherwiseIsNotOurs) {
  CapturedOutput out;
  const auto order = testing::fake_order("A1", "osInOrderBook");
  changed("ctAdded", order, testing::fake_fill("F1", order, "fsNormal", 99.25, 2));
  EXPECT_TRUE(link->eventOrderPlaced.is_set());
  EXPECT_EQ(link->order_id(), "A1");
  // The deal of a pending placement is reported; no order update for ctAdded.
  const auto deals = gateway.records<Deal>();
  ASSERT_EQ(deals.size(), 1u);
  EXPECT_EQ(deals[0], (Deal{.deal_id = "F1",
                            .order_id = "A1",
                            .updated_time = make_datetime(2026, 3, 5, 10, 0, 2),
                            .filled_avg_price = 99.25,
                            .filled_quantity = 2}));
  EXPECT_TRUE(gateway.records<OrderUpdate>().empty());
  // The event is still set: the next added order is not a placement of ours.
  const auto other = testing::fake_order("B2", "osInOrderBook");
  changed("ctAdded", other, testing::fake_fill("F2", other, "fsNormal", 1, 1));
  EXPECT_EQ(out.lines().back().message, "orderid B2 is not placed by algo");
  EXPECT_EQ(out.lines().back().thread, -1);
  EXPECT_EQ(gateway.calls().size(), 1u);
  EXPECT_EQ(link->order_id(), "A1");
}

TEST_F(BrokerLinkOrderEvents, ChangesAndRemovalsAreReportedWithWholeSeconds) {
  const auto order = testing::fake_order("A1", "osFilled", 101.5, 3);
  changed("ctChanged", order, testing::fake_fill("F1", order, "fsBusted", 101.5, 3));
  changed("ctRemoved", testing::fake_order("A2", "osCanceled"));
  changed("ctSnapshot", testing::fake_order("A3", "osInOrderBook"));
  const auto updates = gateway.records<OrderUpdate>();
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(updates[0], (OrderUpdate{.order_id = "A1",
                                     .updated_time = make_datetime(2026, 3, 5, 10, 0, 1),
                                     .filled_avg_price = 101.5,
                                     .filled_quantity = 3,
                                     .status = OrderStatus::FILLED}));
  EXPECT_EQ(updates[1].status, OrderStatus::CANCELLED);
  EXPECT_TRUE(gateway.records<Deal>().empty());  // a busted fill is not a deal
}

TEST_F(BrokerLinkOrderEvents, AnErrorOrAnUnknownStatusReportsNothing) {
  changed("ctChanged", testing::fake_order("A1", "osFilled"), nullptr,
          Variant(testing::fake_error(1, "bad")));
  auto odd = testing::fake_order("A2", "osFilled");
  odd->value("Properties");
  EXPECT_TRUE(gateway.calls().empty());
  const auto unknown = testing::FakeObject::make("FakeProperties");
  unknown->on_default([](FakeObject&, automation::Args) -> Variant {
    return FakeObject::make("FakeProperty", {{"Value", 424242}});
  });
  odd->set("Properties", unknown);
  EXPECT_THROW(changed("ctChanged", odd), std::invalid_argument);
  EXPECT_TRUE(gateway.calls().empty());
}

Bar bar_at(int minute, double open, double volume = 1) {
  return Bar{.datetime = make_datetime(2026, 3, 5, 10, minute),
             .security = ep(),
             .open = open,
             .high = 2,
             .low = 1,
             .close = 1.5,
             .volume = volume};
}

TEST(BrokerLinkBarWindow, MissingValuesTakeTheNearestEarlierElseLaterValue) {
  constexpr double m = static_cast<double>(INVALID_VALUE);
  std::vector<Bar> bars{bar_at(0, m), bar_at(1, 10), bar_at(2, m), bar_at(3, m), bar_at(4, 12)};
  fill_missing_bar_values(bars);
  std::vector<double> opens;
  for (const Bar& b : bars) {
    opens.push_back(b.open);
  }
  EXPECT_EQ(opens, (std::vector<double>{10, 10, 10, 10, 12}));

  std::vector<Bar> all_missing{bar_at(0, 5, m), bar_at(1, m, m)};
  try {
    fill_missing_bar_values(all_missing);
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), "The latest bar is INVALID: " + to_text(all_missing[1]) + ".");
  }
  EXPECT_EQ(all_missing[1].open, 5);  // the fills made before the error stay
  std::vector<Bar> one{bar_at(0, m)};
  EXPECT_THROW(fill_missing_bar_values(one), std::invalid_argument);
}

TEST(BrokerLinkBarWindow, OnlyALaterBarRollsTheWindow) {
  std::vector<Bar> window{bar_at(0, 1), bar_at(1, 2)};
  EXPECT_FALSE(roll_bar_window(window, bar_at(1, 9)));
  EXPECT_FALSE(roll_bar_window(window, bar_at(0, 9)));
  EXPECT_TRUE(roll_bar_window(window, bar_at(2, 3)));
  ASSERT_EQ(window.size(), 2u);
  EXPECT_EQ(window[0].open, 2);
  EXPECT_EQ(window[1].open, 3);
  std::vector<Bar> empty;
  EXPECT_THROW(roll_bar_window(empty, bar_at(2, 3)), std::out_of_range);
}

class BrokerLinkTicksUnit : public BrokerLinkUnit {
 protected:
  TickUpdate t(std::string_view type, double price, double volume) const {
    return {k(type), price, volume};
  }
  void apply(std::vector<TickUpdate> ticks) {
    ASSERT_TRUE(apply_ticks_added(gateway, {"EPZ23", std::move(ticks)}));
  }
};

TEST_F(BrokerLinkTicksUnit, TheBookCompletesAndAZeroVolumeHoldsItBack) {
  apply({t("tptAsk", 101, 3)});
  const auto stored = gateway.cqg_orderbooks().get(ep());
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->ask_price_1(), 101);
  EXPECT_EQ(stored->ask_volume_1(), 3);
  EXPECT_TRUE(gateway.calls().empty());
  apply({t("tptBid", 100, 5)});
  ASSERT_EQ(gateway.records<OrderBook>().size(), 1u);
  apply({t("tptBid", 100.5, 0)});
  EXPECT_EQ(gateway.cqg_orderbooks().get(ep())->bid_volume_1(), 0);
  EXPECT_EQ(gateway.records<OrderBook>().size(), 1u);
  apply({t("tptBid", 100.25, 2), t("tptTrade", 100.5, 1), t("tptSettlement", 99, 0)});
  const auto books = gateway.records<OrderBook>();
  ASSERT_EQ(books.size(), 4u);  // a trade and a settlement pass the unchanged book again
  EXPECT_EQ(books[1].bid_price_1(), 100.25);
  EXPECT_EQ(books[2], books[1]);
  EXPECT_EQ(books[3], books[1]);
  EXPECT_FALSE(apply_ticks_added(gateway, {"ZZZ", {t("tptAsk", 1, 1)}}));
}

TEST_F(BrokerLinkTicksUnit, TicksAddedReadsOnlyTheNewTicksAndDropsUnmappedSymbolsWithOneLine) {
  CapturedOutput out;
  std::vector<Variant> ticks;
  for (int i = 0; i < 12; ++i) {
    ticks.push_back(testing::fake_tick(i == 11 ? "tptBid" : "tptAsk", 100 + i, 1));
  }
  auto collection = FakeObject::collection("FakeTicks", ticks);
  collection->set("Request", FakeObject::make("FakeTicksRequest", {{"Symbol", "EPZ23"}}));
  link->OnTicksAdded(Variant(collection), Variant(2));
  const auto books = gateway.records<OrderBook>();
  ASSERT_EQ(books.size(), 1u);
  EXPECT_EQ(books[0].ask_price_1(), 110);
  EXPECT_EQ(books[0].bid_price_1(), 111);
  link->OnTicksRemoved(Variant(collection), Variant(0));
  EXPECT_EQ(gateway.calls().size(), 1u);

  collection->set("Request", FakeObject::make("FakeTicksRequest", {{"Symbol", "ZZZ"}}));
  link->OnTicksAdded(Variant(collection), Variant(2));
  link->OnTicksAdded(Variant(collection), Variant(2));
  EXPECT_EQ(out.messages(),
            (Strings{"OnTicksAdded: no security is mapped to ZZZ; its ticks are dropped"}));
}

class BrokerLinkBarsUnit : public BrokerLinkUnit {
 protected:
  testing::FakePtr bars(int count, int first_minute = 0) {
    std::vector<Variant> items;
    for (int i = 0; i < count; ++i) {
      items.push_back(testing::fake_bar(first_minute + i, 10 + i, 11 + i, 9 + i, 10.5 + i, 5));
    }
    auto c = FakeObject::collection("FakeTimedBars", items);
    c->set("Request", FakeObject::make("FakeTimedBarsRequest", {{"Symbol", "EPZ23"}}));
    return c;
  }
};

TEST_F(BrokerLinkBarsUnit, AResolutionStoresAllButTheFormingBar) {
  link->OnTimedBarsResolved(Variant(bars(5)), Variant());
  EXPECT_TRUE(link->eventBarDone.is_set());
  const auto window = link->get_subscribe_bars_data(ep());
  ASSERT_TRUE(window);
  ASSERT_EQ(window->size(), 4u);
  EXPECT_EQ((*window)[0],
            (Bar{make_datetime(2026, 3, 5, 10, 0), ep(), 10, 11, 9, 10.5, 5}));  // whole seconds
  EXPECT_EQ((*window)[3].open, 13);
  // A second resolution keeps the window.
  link->OnTimedBarsResolved(Variant(bars(3, 30)), Variant());
  EXPECT_EQ(link->get_subscribe_bars_data(ep())->size(), 4u);
}

TEST_F(BrokerLinkBarsUnit, EmptyAndFailedResolutionsLeaveNoWindowButRelease) {
  link->OnTimedBarsResolved(Variant(bars(1)), Variant());
  EXPECT_EQ(link->get_subscribe_bars_data(ep()), nullptr);
  link->eventBarDone.clear();
  link->OnTimedBarsResolved(Variant(bars(0)), Variant());
  EXPECT_TRUE(link->eventBarDone.is_set());
  link->eventBarDone.clear();
  link->OnTimedBarsResolved(Variant(bars(5)), Variant(testing::fake_error(3, "no data")));
  EXPECT_TRUE(link->eventBarDone.is_set());
  EXPECT_EQ(link->get_subscribe_bars_data(ep()), nullptr);
}

TEST_F(BrokerLinkBarsUnit, AdditionsRollTheWindowOnlyForALaterBar) {
  CapturedOutput out;
  EXPECT_THROW(link->OnTimedBarsAdded(Variant(bars(3))), std::out_of_range);  // no window yet
  link->OnTimedBarsResolved(Variant(bars(5)), Variant());
  link->OnTimedBarsAdded(Variant(bars(1)));  // ignored
  link->OnTimedBarsAdded(Variant(bars(5)));  // newest but one is minute 3: the same time
  EXPECT_EQ(link->get_subscribe_bars_data(ep())->front().open, 10);
  link->OnTimedBarsAdded(Variant(bars(6)));  // minute 4
  const auto window = link->get_subscribe_bars_data(ep());
  ASSERT_EQ(window->size(), 4u);
  EXPECT_EQ(window->front().open, 11);
  EXPECT_EQ(window->back().open, 14);
  ASSERT_EQ(out.lines().size(), 1u);
  EXPECT_EQ(out.lines()[0].thread, -1);
  EXPECT_EQ(out.lines()[0].message, "[2] OnTimedBarsAdded: " + to_text(window->back()));
}

TEST_F(BrokerLinkBarsUnit, RepairsPersistInTheStore) {
  auto c = bars(4);
  FakeObject& second = static_cast<FakeObject&>(*c->items()[1].as_object());
  second.set("Open", static_cast<double>(INVALID_VALUE));
  link->OnTimedBarsResolved(Variant(c), Variant());
  EXPECT_EQ((*link->get_subscribe_bars_data(ep()))[1].open, 10);
  // The repaired value is what a later roll keeps.
  link->OnTimedBarsAdded(Variant(bars(5)));
  EXPECT_EQ(link->get_subscribe_bars_data(ep())->front().open, 10);
}

TEST_F(BrokerLinkBarsUnit, AWindowHandedOutNeverChangesUnderItsReader) {
  auto c = bars(4);
  static_cast<FakeObject&>(*c->items()[2].as_object())
      .set("Open", static_cast<double>(INVALID_VALUE));
  link->OnTimedBarsResolved(Variant(c), Variant());
  const auto first = link->get_subscribe_bars_data(ep());  // repaired: minute 2 takes 11
  EXPECT_EQ((*first)[2].open, 11);
  const std::vector<Bar> seen = *first;
  link->OnTimedBarsAdded(Variant(bars(5)));  // rolls the store, not the reader's snapshot
  EXPECT_EQ(*first, seen);
  const auto second = link->get_subscribe_bars_data(ep());
  EXPECT_NE(second, first);
  EXPECT_EQ(second->back().open, 13);
  // Unchanged and repaired already: the same snapshot again, no copy.
  EXPECT_EQ(link->get_subscribe_bars_data(ep()), second);
}

}  // namespace
}  // namespace orbrix::cqg
