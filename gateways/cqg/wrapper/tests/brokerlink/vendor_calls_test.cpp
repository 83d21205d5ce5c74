// What BrokerLink asks of the vendor, read from the simulator's journal:
// each handler and operation reads the vendor objects in the documented
// order and only as far as it needs, and late answers of withdrawn
// requests are dropped.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <thread>

#include "orbrix/automation/errors.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "sim_fixture.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using automation::Variant;
using cqgsim::AnswerBehaviour;
using Strings = std::vector<std::string>;

class VendorCalls : public testing::BrokerLinkOverSimulator {
 protected:
  // The recorded calls on objects whose type name starts with one of
  // `prefixes`, as "Object.Member".
  Strings calls_on(std::initializer_list<std::string_view> prefixes, bool with_args = false) {
    Strings out;
    for (const auto& c : calls(with_args)) {
      if (std::any_of(prefixes.begin(), prefixes.end(),
                      [&](std::string_view p) { return c.rfind(p, 0) == 0; })) {
        out.push_back(c);
      }
    }
    return out;
  }
};

TEST_F(VendorCalls, AQuoteEventIsReadQuoteByQuoteAndOnlyAsFarAsNeeded) {
  const Security ep = subscribe("EP");
  drain();
  journal().clear();
  const auto k = [](std::string_view name) { return vendor_constant(name); };
  sim.driver().fire_raw_quotes("EP", {{k("qtBid"), 4000.0, /*valid=*/false},
                                      {k("qtSettlement"), 3990.0, true},
                                      {k("qtBid"), 4000.25, true},
                                      {987654, 1.0, true},
                                      {k("qtAsk"), 4000.5, true}});
  // Per quote: IsValid; for a valid one the instrument's FullName, then
  // Type; the price only for a type that sets a field. The unknown type
  // ends the event: the ask after it is not read.
  EXPECT_EQ(calls(), (Strings{"CQGQuotes._NewEnum", "CQGQuote.IsValid", "CQGQuote.IsValid",
                              "CQGInstrument.FullName", "CQGQuote.Type", "CQGQuote.IsValid",
                              "CQGInstrument.FullName", "CQGQuote.Type", "CQGQuote.Price",
                              "CQGQuote.IsValid", "CQGInstrument.FullName", "CQGQuote.Type"}));
  EXPECT_EQ(gateway.cqg_quotes().get(ep)->bid_price(), 4000.25);
  EXPECT_EQ(gateway.cqg_quotes().get(ep)->ask_price(), 0);
  EXPECT_TRUE(out.contains(
      "Exception in BrokerLink.OnInstrumentChanged: quote type 987654 is not in the table"));
}

TEST_F(VendorCalls, ATickBatchIsReadTickByTickWithPricesOfAsksAndBidsOnly) {
  const Security ep = subscribe("EP");
  gateway.add_symbol("EP", ep);  // ticks name the symbol as requested
  link->subscribe_orderbook("EP");
  drain();
  journal().clear();
  sim.driver().advance(20s);
  const Strings ticks = calls_on({"CQGTick"});
  ASSERT_FALSE(ticks.empty());
  // Count twice (the two bounds), then per tick Item, Request.Symbol,
  // PriceType and, for an ask or a bid, Volume then Price.
  std::size_t i = 0, batches = 0, priced = 0, unpriced = 0;
  while (i < ticks.size()) {
    ASSERT_EQ(ticks[i], "CQGTicks.Count") << i;
    ASSERT_EQ(ticks.at(i + 1), "CQGTicks.Count") << i;
    i += 2;
    ++batches;
    while (i < ticks.size() && ticks[i] == "CQGTicks.Item") {
      ASSERT_EQ(ticks.at(i + 1), "CQGTicks.Request");
      ASSERT_EQ(ticks.at(i + 2), "CQGTicksRequest.Symbol");
      ASSERT_EQ(ticks.at(i + 3), "CQGTick.PriceType");
      i += 4;
      if (i < ticks.size() && ticks[i] == "CQGTick.Volume") {
        ASSERT_EQ(ticks.at(i + 1), "CQGTick.Price");
        i += 2;
        ++priced;
      } else {
        ++unpriced;
      }
    }
  }
  EXPECT_GT(batches, 5u);
  EXPECT_GT(priced, 0u);
  EXPECT_GT(unpriced, 0u);  // trade ticks: their price and volume are never read
  EXPECT_FALSE(gateway.records<OrderBook>().empty());
}

TEST_F(VendorCalls, AnOrderEventReadsTheStatusAndIdValuesLastAndAFillAfterTheUpdate) {
  log_on_with_account();
  const Security ep = subscribe("EP");
  drain();
  journal().clear();
  link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 1));
  sim.driver().advance(2s);
  ASSERT_TRUE(gateway.wait_for_calls(1, 5s));
  const Strings order = calls_on({"CQGOrder", "CQGFill"}, /*with_args=*/true);
  const auto k = [](std::string_view name) { return std::to_string(vendor_constant(name)); };
  const Strings handler{"CQGOrder.Properties",
                        "CQGOrderProperties._Default(" + k("opGWStatus") + ")",
                        "CQGOrderProperties._Default(" + k("opGUID") + ")",
                        "CQGOrderProperties._Default(" + k("opEventServerTimestamp") + ")",
                        "CQGOrderProperty.Value",
                        "CQGOrderProperties._Default(" + k("opAverageFillPrice") + ")",
                        "CQGOrderProperty.Value",
                        "CQGOrderProperties._Default(" + k("opFilledQuantity") + ")",
                        "CQGOrderProperty.Value",
                        "CQGOrderProperty.Value",
                        "CQGOrderProperty.Value"};
  const Strings fill{"CQGFill.Status",    "CQGFill.Id",    "CQGFill.Order",   "CQGOrder.GUID",
                     "CQGFill.Timestamp", "CQGFill.Price", "CQGFill.Quantity"};
  // Placement, then one event per change: each reads the same way; the one
  // with the execution reads its fill after.
  const auto first = std::find(order.begin(), order.end(), "CQGOrder.Properties");
  ASSERT_NE(first, order.end());
  EXPECT_EQ(Strings(order.begin(), first), (Strings{"CQGOrder.Manual(0)", "CQGOrder.Place"}));
  std::size_t events = 0, fills = 0;
  for (auto it = first; it != order.end();) {
    ASSERT_GE(order.end() - it, static_cast<std::ptrdiff_t>(handler.size()));
    EXPECT_EQ(Strings(it, it + static_cast<std::ptrdiff_t>(handler.size())), handler);
    it += static_cast<std::ptrdiff_t>(handler.size());
    ++events;
    if (it != order.end() && *it == "CQGFill.Status") {
      ASSERT_GE(order.end() - it, static_cast<std::ptrdiff_t>(fill.size()));
      EXPECT_EQ(Strings(it, it + static_cast<std::ptrdiff_t>(fill.size())), fill);
      it += static_cast<std::ptrdiff_t>(fill.size());
      ++fills;
    }
  }
  EXPECT_GE(events, 3u);  // added, working, filled
  EXPECT_EQ(fills, 1u);
}

TEST_F(VendorCalls, PositionsOfASymbolTheEngineDoesNotMapAreNotReadFurther) {
  log_on_with_account();
  const Security ep = subscribe("EP");
  const Security enq = subscribe("ENQ");
  link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 1));
  link->place_order(Order(enq, OrderType::MARKET, Direction::SHORT, 2));
  sim.driver().advance(2s);
  ASSERT_TRUE(gateway.wait_for_calls(2, 5s));
  gateway.add_symbol("NOT-" + enq.code(), enq);  // the engine no longer maps ENQ's symbol
  journal().clear();
  EXPECT_EQ(hops([&] { link->update_positions(); }), 3u);  // each new symbol asked once
  // Per position Quantity and InstrumentName; Side and AveragePrice only
  // for the one the engine maps, whichever comes first.
  const Strings read = calls_on({"CQGPosition"});
  const Strings mapped{"CQGPositions.ItemByIndex", "CQGPosition.Quantity",
                       "CQGPosition.InstrumentName", "CQGPosition.Side",
                       "CQGPosition.AveragePrice"};
  const Strings unmapped{"CQGPositions.ItemByIndex", "CQGPosition.Quantity",
                         "CQGPosition.InstrumentName"};
  Strings mapped_first{"CQGPositions.Count"}, unmapped_first{"CQGPositions.Count"};
  mapped_first.insert(mapped_first.end(), mapped.begin(), mapped.end());
  mapped_first.insert(mapped_first.end(), unmapped.begin(), unmapped.end());
  unmapped_first.insert(unmapped_first.end(), unmapped.begin(), unmapped.end());
  unmapped_first.insert(unmapped_first.end(), mapped.begin(), mapped.end());
  EXPECT_TRUE(read == mapped_first || read == unmapped_first) << ::testing::PrintToString(read);
  ASSERT_EQ(link->positions().size(), 1u);
  EXPECT_EQ(link->positions()[0].security, ep);
  // A symbol once seen mapped is read in the same round trip next time.
  EXPECT_EQ(hops([&] { link->update_positions(); }), 2u);
  gateway.add_symbol(enq.code(), enq);
  EXPECT_EQ(hops([&] { link->update_positions(); }), 2u);
  EXPECT_EQ(hops([&] { link->update_positions(); }), 1u);
  EXPECT_EQ(link->positions().size(), 2u);
}

TEST_F(VendorCalls, LogoffNamesTheAccountFromAReadAfterTheGatewayIsDown) {
  log_on_with_account();
  journal().clear();
  EXPECT_EQ(hops([&] { link->Logoff(); }), 2u);
  const Strings logoff = calls_on({"CQGCEL.GWLogoff", "CQGAccount.GWAccountName"});
  ASSERT_GE(logoff.size(), 3u);
  EXPECT_EQ(logoff[logoff.size() - 2], "CQGCEL.GWLogoff");
  EXPECT_EQ(logoff.back(), "CQGAccount.GWAccountName");
  EXPECT_EQ(out.messages_of(current_thread_id()).back().rfind("Successfully logoff account ", 0),
            0u);
}

TEST_F(VendorCalls, UnsubscribingTheAccountLooksItUpThenDropsTheLevelThenItsSubscription) {
  log_on_with_account();
  const auto id = first_account_id();
  journal().clear();
  link->unsubscribe_account_and_positions(id);
  const Strings puts = calls_on({"CQGCEL.AccountSubscriptionLevel", "CQGAccount.Auto",
                                 "CQGAccount.PositionSub", "CQGAccount.GWAccountID"});
  ASSERT_GE(puts.size(), 4u);
  EXPECT_EQ(puts.front(), "CQGAccount.GWAccountID");
  EXPECT_EQ(Strings(puts.end() - 3, puts.end()),
            (Strings{"CQGCEL.AccountSubscriptionLevel", "CQGAccount.AutoSubscribeInstruments",
                     "CQGAccount.PositionSubcriptionLevel"}));
}

TEST_F(VendorCalls, ALateBarAnswerOfAnUnsubscribedRequestLeavesNoFrozenWindow) {
  const Security ep = subscribe("EP");
  gateway.add_symbol("EP", ep);  // bar requests name the symbol as requested
  sim.controls().set_bars_resolution(AnswerBehaviour::after(30s));
  link->set_timeout(20ms);
  link->subscribe_bar("EP", 20);  // not answered in time
  automation::Object removed;
  {
    cqgsim::CallJournal::Pause pause(journal());
    removed = link->get_timedbars_from_cqg_symbol("EP");
  }
  ASSERT_TRUE(removed);
  link->unsubscribe_bar("EP");
  link->eventBarDone.clear();
  // The answer comes after all (however the vendor sends it): dropped.
  sim.driver().advance(31s);
  sim.driver().inject("OnTimedBarsResolved", {Variant(removed.dispatch()), Variant()});
  drain();
  EXPECT_EQ(link->get_subscribe_bars_data(ep), nullptr);
  EXPECT_FALSE(link->eventBarDone.is_set());
  // A new subscription of the same symbol gets a window that rolls.
  sim.controls().set_bars_resolution(AnswerBehaviour::after(0ms));
  link->set_timeout(5s);
  link->subscribe_bar("EP", 5);
  const auto window = link->get_subscribe_bars_data(ep);
  ASSERT_TRUE(window);
  sim.driver().advance(3min);
  EXPECT_GT(link->get_subscribe_bars_data(ep)->back().datetime, window->back().datetime);
}

TEST_F(VendorCalls, AQuoteAnswerWithdrawnByUnsubscribeSubscribesNothing) {
  const Futures ep({.code = "EP", .security_name = "E-mini"});
  sim.controls().set_instrument_resolution(AnswerBehaviour::after(30s));
  link->set_timeout(20ms);
  link->subscribe_quote("EP");  // not answered in time
  link->unsubscribe_quote("EP");
  link->eventQuoteDone.clear();
  journal().clear();
  sim.driver().advance(31s);
  drain();
  EXPECT_FALSE(link->eventQuoteDone.is_set());
  EXPECT_EQ(calls_on({"CQGInstrument"}), Strings{});  // no subscription level set
  // Asked for again, it is subscribed as usual.
  sim.controls().set_instrument_resolution(AnswerBehaviour::after(0ms));
  link->set_timeout(5s);
  const Security subscribed = subscribe("EP");
  sim.driver().advance(10s);
  EXPECT_NE(gateway.cqg_quotes().get(subscribed), nullptr);
}

TEST_F(VendorCalls, ShutdownReleasesAWaitingSubscriptionWithDisconnectedError) {
  sim.controls().set_instrument_resolution(AnswerBehaviour::never());
  link->set_timeout(60s);
  std::string error;
  std::thread engine([&] {
    try {
      link->subscribe_quote("EP");
    } catch (const automation::DisconnectedError& e) {
      error = e.what();
    }
  });
  std::this_thread::sleep_for(50ms);
  const auto start = std::chrono::steady_clock::now();
  host.Shutdown();
  engine.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_NE(error.find("BrokerLink.subscribe_quote"), std::string::npos) << error;
  EXPECT_THROW(link->subscribe_bar("EP", 5), automation::DisconnectedError);
}

TEST_F(VendorCalls, BadFiguresAreRefusedBeforeAnythingIsSent) {
  log_on_with_account();
  const Security ep = subscribe("EP");
  journal().clear();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const auto refused = [&](const Order& order, std::string_view field) {
    try {
      link->place_order(order);
      ADD_FAILURE() << "placed: " << to_text(order);
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(field), std::string::npos) << e.what();
    }
  };
  refused(Order(ep, OrderType::LIMIT, Direction::SHORT, 1, nan), "price");
  refused(Order(ep, OrderType::LIMIT, Direction::SHORT, 1, -4000), "price");
  refused(Order(ep, OrderType::LIMIT, Direction::SHORT, 1, 0), "price");
  refused(Order(ep, OrderType::STOP, Direction::LONG, 1, 0, inf), "stop_price");
  refused(Order(ep, OrderType::STOP, Direction::LONG, 1, 0, 0), "stop_price");
  refused(Order(ep, OrderType::STOP, Direction::LONG, 1, nan, 4100), "price");
  refused(Order(ep, OrderType::MARKET, Direction::LONG, 0.5), "quantity");
  refused(Order(ep, OrderType::MARKET, Direction::LONG, nan), "quantity");
  try {
    link->subscribe_bar("EP", std::numeric_limits<std::int64_t>::min());
    ADD_FAILURE() << "subscribed";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("lookback_period"), std::string::npos);
  }
  EXPECT_THROW(link->subscribe_bar("EP", kMaxBarLookback + 1), std::invalid_argument);
  EXPECT_THROW(link->subscribe_bar("EP", -1), std::invalid_argument);
  EXPECT_EQ(calls(), Strings{});
  // A stop's unused price may be 0; the bounds themselves are taken.
  sim.controls().set_bars_resolution(AnswerBehaviour::empty());
  link->subscribe_bar("EP", kMaxBarLookback);
  EXPECT_FALSE(link->place_order(Order(ep, OrderType::STOP, Direction::LONG, 1, 0, 9000)).empty());
}

// The reads vendor_additions.def declares for `event`, as "Object.Member".
Strings declared_additions(std::string_view event) {
  Strings out;
  for (const auto& a : kDeclaredAdditions) {
    if (a.event == event) {
      out.push_back(std::string(a.object) + "." + std::string(a.member));
    }
  }
  return out;
}

TEST_F(VendorCalls, AFailedSubscriptionReadsTheDocumentedSequencePlusTheDeclaredAdditionsOnly) {
  link->Logon("user", "secret");
  const auto handler_calls = [&](std::string_view request) {
    Strings all = calls();
    const auto it = std::find(all.begin(), all.end(), request);
    EXPECT_NE(it, all.end()) << request;
    return it == all.end() ? Strings{} : Strings(it + 1, all.end());
  };
  // The documents' handlers read nothing on an error; the gateway reads the
  // declared additions, in their order, and nothing else.
  sim.controls().set_instrument_resolution(AnswerBehaviour::error(7, "no data for you"));
  journal().clear();
  link->subscribe_quote("EP");
  drain();
  EXPECT_EQ(handler_calls("CQGCEL.NewInstrument"), declared_additions("OnInstrumentResolved"));

  sim.controls().set_ticks_resolution(AnswerBehaviour::error(8, "no ticks"));
  journal().clear();
  link->subscribe_orderbook("EP");
  drain();
  EXPECT_EQ(handler_calls("CQGCEL.RequestTicks"), declared_additions("OnTicksResolved"));

  sim.controls().set_bars_resolution(AnswerBehaviour::error(9, "no bars"));
  journal().clear();
  link->subscribe_bar("EP", 10);
  drain();
  EXPECT_EQ(handler_calls("CQGCEL.RequestTimedBars"), declared_additions("OnTimedBarsResolved"));

  // What they read reached the engine.
  const auto failures = gateway.failures();
  ASSERT_EQ(failures.size(), 3u);
  EXPECT_EQ(failures[0].error, "no data for you (code 7)");
  EXPECT_EQ(failures[1].symbol, "EP");
  EXPECT_EQ(failures[2].symbol, "EP");
  EXPECT_EQ(failures[2].error, "no bars (code 9)");
}

}  // namespace
}  // namespace orbrix::cqg
