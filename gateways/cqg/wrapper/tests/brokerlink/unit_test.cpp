// BrokerLink without an apartment: the name tables, the apply functions and
// the handlers that need no vendor object.

#include <gtest/gtest.h>

#include <stdexcept>

#include "apply.hpp"
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
    return {nullptr, "F.US.EPZ23", std::move(quotes)};
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
  apply_instrument_change(gateway, {nullptr, "F.US.ZZZ", {q("qtTrade", 1)}});
  EXPECT_TRUE(gateway.calls().empty());
  // The lookup uses the last part of the full name.
  const Futures other({.code = "NQZ23", .security_name = "Nasdaq"});
  gateway.add_symbol("NQZ23", other);
  EXPECT_THROW(apply_instrument_change(gateway, {nullptr, "F.US.NQZ23", {q("qtTrade", 1)}}),
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
  link->OnDataError(Variant(cqgsim::make_error(5, "x")), Variant("ignored"));
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
  // Refused before the event's objects are read.
  const Variant args[] = {{}, {}, {}};
  link->invoke(link->get_id_of_name("OnInstrumentChanged"), automation::InvokeKind::Method, args);
  ASSERT_EQ(out.messages().size(), 1u);
  EXPECT_NE(out.messages()[0].find("Exception in BrokerLink.OnInstrumentChanged: "),
            std::string::npos);
  EXPECT_NE(out.messages()[0].find("Init"), std::string::npos);
  EXPECT_THROW(link->subscribe_quote("EP"), std::logic_error);
  EXPECT_THROW(link->Logoff(), std::logic_error);
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
    ASSERT_TRUE(apply_ticks_added(gateway, {nullptr, "EPZ23", std::move(ticks)}));
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
  EXPECT_FALSE(apply_ticks_added(gateway, {nullptr, "ZZZ", {t("tptAsk", 1, 1)}}));
}

}  // namespace
}  // namespace orbrix::cqg
