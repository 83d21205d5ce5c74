// The vendor object model over the venue, driven as the gateway drives it:
// on this thread's apartment, with the simulator's clock stepped by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "object_model_fixture.hpp"

namespace orbrix::cqgsim {
namespace {

using namespace std::chrono_literals;
using namespace object_tests;
using automation::Object;
using automation::Variant;

TEST_F(ObjectModelTest, GatewayLogOnAndOffAreAnsweredAfterTheDelayOrNever) {
  sim.controls().set_gateway(GatewayBehaviour::after(100ms));
  cel.call("GWLogon", "user", "secret");
  advance(60ms);
  EXPECT_TRUE(log->named("OnGWConnectionStatusChanged").empty());
  advance(60ms);
  auto reports = log->named("OnGWConnectionStatusChanged");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].args[0].as_int(), k("csConnectionUp"));
  cel.call("GWLogoff");
  advance(200ms);
  reports = log->named("OnGWConnectionStatusChanged");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].args[0].as_int(), k("csConnectionDown"));

  sim.controls().set_gateway(GatewayBehaviour::never());
  cel.call("GWLogon", "user", "secret");
  advance(10s);
  EXPECT_EQ(log->named("OnGWConnectionStatusChanged").size(), 2u);
  EXPECT_THROW(cel.call("GWLogon", 1, "secret"), automation::TypeError);
}

TEST_F(ObjectModelTest, AccountsAppearWithTheReloadAfterTheLevelLeavesNone) {
  EXPECT_EQ(cel.object("Accounts").get("Count").as_int(), 0);
  cel.put("AccountSubscriptionLevel", k("aslAccountUpdatesAndOrders"));
  EXPECT_EQ(cel.object("Accounts").get("Count").as_int(), 0);  // not before the reload
  advance(200ms);
  const auto reloads = log->named("OnAccountChanged");
  ASSERT_EQ(reloads.size(), 1u);
  EXPECT_EQ(reloads[0].args[0].as_int(), k("actAccountsReloaded"));
  EXPECT_TRUE(reloads[0].args[1].is_empty());
  const auto accounts = cel.object("Accounts").items();
  ASSERT_GE(accounts.size(), 2u);
  std::set<std::int64_t> ids;
  for (const auto& a : accounts) {
    ids.insert(Object(a).get("GWAccountID").as_int());
    EXPECT_FALSE(Object(a).get("GWAccountName").as_string().empty());
  }
  EXPECT_EQ(ids.size(), accounts.size());
  // Dropped and restored, the list is reloaded again.
  cel.put("AccountSubscriptionLevel", k("aslNone"));
  EXPECT_EQ(cel.object("Accounts").get("Count").as_int(), 0);
  cel.put("AccountSubscriptionLevel", k("aslAccountUpdatesAndOrders"));
  advance(200ms);
  EXPECT_EQ(log->named("OnAccountChanged").size(), 2u);
  EXPECT_THROW(cel.put("AccountSubscriptionLevel", 12345), std::invalid_argument);
}

TEST_F(ObjectModelTest, SymbolsResolveToDatedFullNamesAndUnknownOnesToAnError) {
  cel.call("NewInstrument", "EP");
  cel.call("NewInstrument", "NOSUCH");
  pump();
  const auto resolved = log->named("OnInstrumentResolved");
  ASSERT_EQ(resolved.size(), 2u);
  EXPECT_EQ(resolved[0].args[0].as_string(), "EP");
  EXPECT_TRUE(resolved[0].args[2].is_empty());
  const Object ep(resolved[0].args[1]);
  EXPECT_EQ(ep.get("FullName").as_string(), "F.US.EPZ26");
  EXPECT_TRUE(resolved[1].args[1].is_empty());
  const Object error(resolved[1].args[2]);
  EXPECT_NE(error.get("Description").as_string().find("NOSUCH"), std::string::npos);
  EXPECT_EQ(cel.object("Instruments").get("Count").as_int(), 1);
  // Several markets are listed, each in the vendor's dotted style.
  for (const char* symbol : {"TYA", "EU6", "GCE", "CLE"}) {
    cel.call("NewInstrument", symbol);
  }
  pump();
  const std::regex dotted(R"(F\.US\.[A-Z0-9]+[FGHJKMNQUVXZ]\d\d)");
  for (const auto& i : cel.object("Instruments").items()) {
    EXPECT_TRUE(std::regex_match(Object(i).get("FullName").as_string(), dotted))
        << Object(i).get("FullName").as_string();
  }
}

TEST_F(ObjectModelTest, ResolutionCanBeLateFailOrNeverCome) {
  sim.controls().set_instrument_resolution(AnswerBehaviour::after(500ms));
  cel.call("NewInstrument", "EP");
  advance(400ms);
  EXPECT_TRUE(log->named("OnInstrumentResolved").empty());
  advance(200ms);
  EXPECT_EQ(log->named("OnInstrumentResolved").size(), 1u);
  sim.controls().set_instrument_resolution(AnswerBehaviour::error(4, "no market data"));
  cel.call("NewInstrument", "ENQ");
  pump();
  const auto failed = log->named("OnInstrumentResolved").back();
  EXPECT_EQ(Object(failed.args[2]).get("Code").as_int(), 4);
  sim.controls().set_instrument_resolution(AnswerBehaviour::never());
  cel.call("NewInstrument", "DD");
  advance(30s);
  EXPECT_EQ(log->named("OnInstrumentResolved").size(), 2u);
}

TEST_F(ObjectModelTest, ASubscribedInstrumentStreamsValidLevelOneQuotesUntilRemoved) {
  std::vector<std::vector<SeenQuote>> seen;
  log->on_event = [&](const EventLog::Event& e) {
    if (e.name == "OnInstrumentChanged") {
      EXPECT_EQ(Object(e.args[0]).get("FullName").as_string(), "F.US.EPZ26");
      EXPECT_TRUE(e.args[2].is_empty());
      seen.push_back(read_quotes(e));
    }
  };
  const Object ep = subscribe("EP");
  ASSERT_EQ(seen.size(), 1u);  // the first: its current quotes
  advance(60s);
  ASSERT_GT(seen.size(), 50u);
  std::set<std::int64_t> types;
  double bid = 0, ask = 0;
  for (const auto& quotes : seen) {
    for (const auto& q : quotes) {
      types.insert(q.type);
      if (!q.valid) {
        continue;
      }
      EXPECT_DOUBLE_EQ(q.price / 0.25, std::round(q.price / 0.25)) << "off the tick grid";
      if (q.type == k("qtBid")) {
        bid = q.price;
      } else if (q.type == k("qtAsk")) {
        ask = q.price;
      }
    }
    if (bid > 0 && ask > 0) {
      EXPECT_LT(bid, ask);  // after each whole event
    }
  }
  for (const char* t : {"qtBid", "qtAsk", "qtTrade", "qtYesterdaySettlement", "qtDayOpen"}) {
    EXPECT_TRUE(types.count(k(t))) << t;
  }
  cel.call("RemoveInstrument", ep.dispatch());
  const auto before = log->named("OnInstrumentChanged").size();
  advance(30s);
  EXPECT_EQ(log->named("OnInstrumentChanged").size(), before);
  EXPECT_EQ(cel.object("Instruments").get("Count").as_int(), 0);
}

// The prices of the first quote events of EP under a seed.
std::vector<double> first_prices(std::uint64_t seed) {
  automation::ComScope com;
  ScopedSimulator sim;
  sim.controls().set_config({.seed = seed,
                             .start_time = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8},
                             .manual_clock = true});
  auto log = std::make_shared<EventLog>();
  std::vector<double> prices;
  log->on_event = [&](const EventLog::Event& e) {
    if (e.name == "OnInstrumentChanged") {
      for (const auto& q : read_quotes(e)) {
        prices.push_back(q.price);
      }
    }
  };
  Object cel(automation::create_object(cqg::kCqgProgId));
  cel.dispatch()->advise(log);
  cel.call("Startup");
  cel.call("NewInstrument", "EP");
  automation::pump_waiting_messages();
  automation::pump_waiting_messages();
  Object(log->named("OnInstrumentResolved").at(0).args[1])
      .put("DataSubscriptionLevel", k("dsQuotesAndBBA"));
  sim.driver().advance(20s);
  automation::pump_waiting_messages();
  return prices;
}

TEST(ObjectModelDeterminism, TheSameSeedGivesTheSameQuoteStream) {
  const auto a = first_prices(11);
  EXPECT_GT(a.size(), 20u);
  EXPECT_EQ(a, first_prices(11));
  EXPECT_NE(a, first_prices(12));
}

// Started, but its answer a second late: the venue is open meanwhile.
class LateStartAnswer : public ObjectModelTest {
 protected:
  void configure_faults(SimControls& controls) override {
    controls.set_startup(StartupBehaviour::started(1s));
  }
};

// One time line: a late start-up answer comes between the market events due
// before it and those due after it.
TEST_F(LateStartAnswer, TakesItsPlaceAmongTheMarketEvents) {
  std::vector<std::chrono::microseconds> quote_times;  // since the first quote event
  std::optional<automation::Date> first;
  std::optional<std::size_t> quotes_before_answer;
  log->on_event = [&](const EventLog::Event& e) {
    if (e.name == "OnCELStarted") {
      quotes_before_answer = quote_times.size();
    } else if (e.name == "OnInstrumentChanged") {
      // Read while handled: the quote objects are updated in place.
      const auto when = Object(e.args[1]).item(0).get("Timestamp").as_date();
      first = first.value_or(when);
      quote_times.push_back(std::chrono::duration_cast<std::chrono::microseconds>(when - *first));
    }
  };
  subscribe("EP");
  EXPECT_TRUE(log->named("OnCELStarted").empty());
  advance(2s);
  ASSERT_TRUE(quotes_before_answer);
  EXPECT_GT(*quotes_before_answer, 1u);
  EXPECT_LT(*quotes_before_answer, quote_times.size());
  for (std::size_t i = 0; i < quote_times.size(); ++i) {
    if (i < *quotes_before_answer) {
      EXPECT_LE(quote_times[i], 1s) << i;
    } else {
      EXPECT_GE(quote_times[i], 1s) << i;
    }
  }
}

TEST_F(ObjectModelTest, AnExactBatchAndRawQuotesAreFiredAsGiven) {
  subscribe("EP");
  log->events.clear();
  sim.driver().fire_quotes("EP", {{"qtBid", 4000.25, 3}, {"qtAsk", 4000.75, 5}});
  auto changes = log->named("OnInstrumentChanged");
  ASSERT_EQ(changes.size(), 1u);
  const auto quotes = read_quotes(changes[0]);
  ASSERT_EQ(quotes.size(), 2u);
  EXPECT_EQ(quotes[0].type, k("qtBid"));
  EXPECT_DOUBLE_EQ(quotes[0].price, 4000.25);
  EXPECT_DOUBLE_EQ(quotes[1].price, 4000.75);
  EXPECT_THROW(sim.driver().fire_quotes("EP", {{"qtNoSuch", 1}}), std::invalid_argument);
  EXPECT_THROW(sim.driver().fire_quotes("ENQ", {{"qtBid", 1}}), std::out_of_range);
  sim.driver().fire_raw_quotes("EP", {{987654, 1.5, true}, {k("qtTrade"), 2, false}});
  changes = log->named("OnInstrumentChanged");
  ASSERT_EQ(changes.size(), 2u);
  const auto raw = Object(changes[1].args[1]).items();
  EXPECT_EQ(Object(raw[0]).get("Type").as_int(), 987654);
  EXPECT_FALSE(Object(raw[1]).get("IsValid").as_bool());
}

TEST_F(ObjectModelTest, OrdersAreAddedWorkFillAndMoveThePosition) {
  const Object ep = subscribe("EP");
  const Object account = first_account();
  account.put("PositionSubcriptionLevel", k("pslSnapshotAndUpdates"));
  log->events.clear();
  const Object order(
      cel.call("CreateOrder", k("otMarket"), ep.dispatch(), account.dispatch(), 2, k("osdBuy")));
  order.put("Manual", 0);
  order.call("Place");
  EXPECT_TRUE(log->named("OnOrderChanged").empty());  // never from inside the call
  pump();
  auto changes = log->named("OnOrderChanged");
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].args[0].as_int(), k("ctAdded"));
  EXPECT_EQ(changes[1].args[0].as_int(), k("ctChanged"));
  const auto guid = order.get("GUID").as_string();
  const auto value = [&](const char* id) {
    return order.object("Properties").item(k(id)).get("Value");
  };
  EXPECT_EQ(value("opGUID").as_string(), guid);
  EXPECT_EQ(value("opGWStatus").as_int(), k("osInOrderBook"));
  EXPECT_EQ(Object(cel.object("Orders").call("ItemByGuid", guid)).get("GUID").as_string(), guid);
  EXPECT_THROW(cel.object("Orders").call("ItemByGuid", "no-such-order"), std::out_of_range);

  sim.driver().fire_quotes("EP", {{"qtBid", 4000.00, 10}, {"qtAsk", 4000.50, 10}});
  pump();
  changes = log->named("OnOrderChanged");
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(value("opGWStatus").as_int(), k("osFilled"));
  EXPECT_EQ(value("opFilledQuantity").as_int(), 2);
  EXPECT_DOUBLE_EQ(value("opAverageFillPrice").as_double(), 4000.50);  // bought at the ask
  const Object fill(changes[2].args[3]);
  EXPECT_EQ(fill.get("Status").as_int(), k("fsNormal"));
  EXPECT_EQ(fill.get("Quantity").as_int(), 2);
  EXPECT_EQ(fill.object("Order").get("GUID").as_string(), guid);
  EXPECT_FALSE(fill.get("Id").as_string().empty());

  const auto positions = log->named("OnAccountChanged");
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(positions[0].args[0].as_int(), k("actPositionAdded"));
  const Object position(positions[0].args[2]);
  EXPECT_EQ(position.get("InstrumentName").as_string(), "F.US.EPZ26");
  EXPECT_EQ(position.get("Quantity").as_int(), 2);
  EXPECT_EQ(position.get("Side").as_int(), k("osdBuy"));
  EXPECT_DOUBLE_EQ(position.get("AveragePrice").as_double(), 4000.50);
  EXPECT_EQ(account.object("Positions").get("Count").as_int(), 1);
  const Object summary = account.object("Summary");
  EXPECT_DOUBLE_EQ(summary.get("MaintenanceMargin", 1).as_double(),
                   2 * summary.get("MaintenanceMargin", 0).as_double() / 2);
  EXPECT_THROW(summary.get("Balance", 2), std::out_of_range);
}

TEST_F(ObjectModelTest, LimitOrdersCancelAndRejectionsEndInTheirStatus) {
  const Object ep = subscribe("EP");
  const Object account = first_account();
  log->events.clear();
  const Object limit(cel.call("CreateOrder", k("otLimit"), ep.dispatch(), account.dispatch(), 1,
                              k("osdBuy"), 100.0));
  limit.call("Place");
  pump();
  limit.call("Cancel");
  pump();
  auto status = [](const Object& o) {
    return o.object("Properties").item(k("opGWStatus")).get("Value").as_int();
  };
  EXPECT_EQ(status(limit), k("osCanceled"));
  EXPECT_THROW(limit.call("Cancel"), std::invalid_argument);  // already final

  sim.controls().reject_next_order("risk limits");
  const Object rejected(
      cel.call("CreateOrder", k("otMarket"), ep.dispatch(), account.dispatch(), 1, k("osdSell")));
  rejected.call("Place");
  pump();
  EXPECT_EQ(status(rejected), k("osRejectGW"));
  const Object zero(
      cel.call("CreateOrder", k("otMarket"), ep.dispatch(), account.dispatch(), 0, k("osdSell")));
  zero.call("Place");
  pump();
  EXPECT_EQ(status(zero), k("osRejectGW"));
  EXPECT_THROW(cel.call("CreateOrder", 999, ep.dispatch(), account.dispatch(), 1, k("osdBuy")),
               std::invalid_argument);
  EXPECT_THROW(cel.call("CreateOrder", k("otMarket"), ep.dispatch()), std::invalid_argument);
}

// The announcement of a placed order (ctAdded) is held on the simulator's
// clock with the order's events meanwhile, or lost with the rest told.
TEST_F(ObjectModelTest, AnOrderAnnouncementCanBeLateOrLost) {
  const Object ep = subscribe("EP");
  const Object account = first_account();
  const auto place = [&](std::int64_t type, double limit) {
    Object o(
        cel.call("CreateOrder", type, ep.dispatch(), account.dispatch(), 1, k("osdBuy"), limit));
    o.call("Place");
    return o;
  };
  const auto change_types = [&] {
    std::vector<std::int64_t> out;
    for (const auto& e : log->named("OnOrderChanged")) {
      out.push_back(e.args[0].as_int());
    }
    return out;
  };
  const auto status = [](const Object& o) {
    return o.object("Properties").item(k("opGWStatus")).get("Value").as_int();
  };
  log->events.clear();
  sim.controls().set_order_placement(AnnouncementBehaviour::after(2s));
  const Object late = place(k("otMarket"), 0.0);
  // Filled by the venue meanwhile: the fill waits behind the announcement.
  sim.driver().fire_quotes("EP", {{"qtBid", 4000.00, 10}, {"qtAsk", 4000.50, 10}});
  advance(2s - 1ms);
  EXPECT_TRUE(change_types().empty());
  // Listed meanwhile, as a placed order is.
  const auto guid = late.get("GUID").as_string();
  EXPECT_EQ(Object(cel.object("Orders").call("ItemByGuid", guid)).get("GUID").as_string(), guid);
  advance(1ms);
  EXPECT_EQ(change_types(),
            (std::vector<std::int64_t>{k("ctAdded"), k("ctChanged"), k("ctChanged")}));
  EXPECT_EQ(Object(log->named("OnOrderChanged")[0].args[1]).get("GUID").as_string(), guid);
  EXPECT_FALSE(log->named("OnOrderChanged")[2].args[3].is_empty());  // the fill
  EXPECT_EQ(status(late), k("osFilled"));

  // Cancelled before its announcement: the cancel follows the announcement.
  log->events.clear();
  const Object cancelled = place(k("otLimit"), 100.0);
  cancelled.call("Cancel");
  advance(1s);
  EXPECT_TRUE(change_types().empty());
  advance(1s);
  const auto told = change_types();
  ASSERT_GE(told.size(), 2u);
  EXPECT_EQ(told.front(), k("ctAdded"));
  EXPECT_EQ(status(cancelled), k("osCanceled"));

  log->events.clear();
  sim.controls().set_order_placement(AnnouncementBehaviour::never());
  const Object lost = place(k("otLimit"), 101.0);
  advance(1min);
  EXPECT_EQ(change_types(), std::vector<std::int64_t>{k("ctChanged")});
  EXPECT_EQ(status(lost), k("osInOrderBook"));

  sim.controls().set_order_placement({});
  log->events.clear();
  place(k("otLimit"), 102.0);
  pump();
  EXPECT_EQ(change_types(), (std::vector<std::int64_t>{k("ctAdded"), k("ctChanged")}));
}

// Positions in the instruments the fault plan names report a Side that is no
// order side, read per request; the others are untouched.
TEST_F(ObjectModelTest, APositionCanReportAnInvalidSide) {
  const Object ep = subscribe("EP");
  const Object account = first_account();
  account.put("PositionSubcriptionLevel", k("pslSnapshotAndUpdates"));
  const Object order(
      cel.call("CreateOrder", k("otMarket"), ep.dispatch(), account.dispatch(), 1, k("osdSell")));
  order.call("Place");
  sim.driver().fire_quotes("EP", {{"qtBid", 4000.00, 10}, {"qtAsk", 4000.50, 10}});
  pump();
  const Object position(account.object("Positions").item(0));
  EXPECT_EQ(position.get("Side").as_int(), k("osdSell"));
  sim.controls().set_invalid_position_sides({"enq"});
  EXPECT_EQ(position.get("Side").as_int(), k("osdSell"));
  sim.controls().set_invalid_position_sides({"enq", "f.us.epz26"});
  EXPECT_EQ(position.get("Side").as_int(), k("osdUndefined"));
  EXPECT_EQ(position.get("Quantity").as_int(), -1);  // only the side is wrong
  sim.controls().set_invalid_position_sides({});
  EXPECT_EQ(position.get("Side").as_int(), k("osdSell"));
}

TEST_F(ObjectModelTest, TickRequestsResolveThenKeepTheNewestTicksUntilRemoved) {
  const Object request(cel.call("CreateTicksRequest"));
  request.put("Symbol", "EP");
  request.put("Type", k("trtCurrentNotify"));
  request.put("TickFilter", k("tfAll"));
  request.put("SessionsFilter", 31);
  request.put("Limit", 10);
  EXPECT_EQ(request.get("Limit").as_int(), 10);
  std::int64_t added_total = 0, last_count = 0;
  std::set<std::int64_t> types;
  log->on_event = [&](const EventLog::Event& e) {
    if (e.name == "OnTicksAdded") {
      const Object ticks(e.args[0]);
      const auto count = ticks.get("Count").as_int();
      const auto added = e.args[1].as_int();
      // The collection grows by the batch up to the request's Limit, then
      // keeps the newest ticks: the whole batch, at least.
      EXPECT_EQ(count, std::max(std::min<std::int64_t>(last_count + added, 10), added));
      for (auto i = count - added; i < count; ++i) {
        types.insert(ticks.item(i).get("PriceType").as_int());
      }
      last_count = count;
      added_total += added;
    }
  };
  const Object ticks(cel.call("RequestTicks", request.dispatch()));
  pump();
  const auto resolved = log->named("OnTicksResolved");
  ASSERT_EQ(resolved.size(), 1u);
  EXPECT_TRUE(resolved[0].args[1].is_empty());
  EXPECT_EQ(Object(resolved[0].args[0]).object("Request").get("Symbol").as_string(), "EP");
  advance(30s);
  EXPECT_GT(added_total, 20);
  for (const char* t : {"tptAsk", "tptBid", "tptTrade"}) {
    EXPECT_TRUE(types.count(k(t))) << t;
  }
  EXPECT_EQ(cel.object("AllTicks").get("Count").as_int(), 1);
  cel.call("RemoveTicks", ticks.dispatch());
  const auto before = added_total;
  advance(30s);
  EXPECT_EQ(added_total, before);
  EXPECT_EQ(cel.object("AllTicks").get("Count").as_int(), 0);

  const Object unknown(cel.call("CreateTicksRequest"));
  unknown.put("Symbol", "NOSUCH");
  cel.call("RequestTicks", unknown.dispatch());
  pump();
  EXPECT_FALSE(log->named("OnTicksResolved").back().args[1].is_empty());
}

TEST_F(ObjectModelTest, TimedBarsCarryTheRequestedHistoryThenRollWithTheMarket) {
  const Object request = bar_request(cel, "EP", 100, false);
  const Object bars(cel.call("RequestTimedBars", request.dispatch()));
  pump();
  const auto resolved = log->named("OnTimedBarsResolved");
  ASSERT_EQ(resolved.size(), 1u);
  EXPECT_TRUE(resolved[0].args[1].is_empty());
  const auto count = bars.get("Count").as_int();
  EXPECT_EQ(count, 101);  // 100 completed and the forming one
  for (std::int64_t i = 0; i < count; ++i) {
    const Object bar = bars.item(i);
    const double low = bar.get("Low").as_double(), high = bar.get("High").as_double();
    EXPECT_LE(low, bar.get("Open").as_double());
    EXPECT_LE(bar.get("Close").as_double(), high);
    if (i > 0) {
      EXPECT_EQ(bar.get("Timestamp").as_date() - bars.item(i - 1).get("Timestamp").as_date(),
                std::chrono::minutes(1));
    }
  }
  std::size_t updated = 0, added = 0;
  log->on_event = [&](const EventLog::Event& e) {
    if (e.name == "OnTimedBarsUpdated") {
      EXPECT_EQ(e.args[1].as_int(), Object(e.args[0]).get("Count").as_int() - 1);
      ++updated;
    } else if (e.name == "OnTimedBarsAdded") {
      ++added;
    }
  };
  const auto first = bars.item(0).get("Timestamp").as_date();
  advance(150s);
  EXPECT_GT(updated, 10u);
  EXPECT_GE(added, 2u);
  // The bars asked for and the forming one: the oldest go as new ones come.
  ASSERT_EQ(bars.get("Count").as_int(), count);
  EXPECT_EQ(bars.item(0).get("Timestamp").as_date() - first,
            std::chrono::minutes(static_cast<int>(added)));
  EXPECT_EQ(bars.item(count - 1).get("Timestamp").as_date() -
                bars.item(count - 2).get("Timestamp").as_date(),
            std::chrono::minutes(1));
  cel.call("RemoveTimedBars", bars.dispatch());
  EXPECT_EQ(cel.object("AllTimedBars").get("Count").as_int(), 0);
  const auto after_removal = updated + added;
  advance(90s);
  EXPECT_EQ(updated + added, after_removal);
}

TEST_F(ObjectModelTest, DailyBarsMissingValuesEmptyAnswersAndErrorsAreSwitches) {
  sim.controls().set_missing_bar_values("EP", BarField::Open, {0, 2});
  const Object daily(cel.call("RequestTimedBars", bar_request(cel, "EP", 5, true).dispatch()));
  pump();
  ASSERT_EQ(daily.get("Count").as_int(), 6);
  EXPECT_EQ(daily.item(0).get("Open").as_double(), -2147483648.0);
  EXPECT_NE(daily.item(1).get("Open").as_double(), -2147483648.0);
  EXPECT_EQ(daily.item(2).get("Open").as_double(), -2147483648.0);
  EXPECT_EQ(daily.item(1).get("Timestamp").as_date() - daily.item(0).get("Timestamp").as_date(),
            std::chrono::hours(24));

  sim.controls().set_bars_resolution(AnswerBehaviour::empty());
  const Object empty(cel.call("RequestTimedBars", bar_request(cel, "ENQ", 5, false).dispatch()));
  pump();
  EXPECT_EQ(empty.get("Count").as_int(), 0);
  EXPECT_TRUE(log->named("OnTimedBarsResolved").back().args[1].is_empty());
  sim.controls().set_bars_resolution(AnswerBehaviour::error(9, "no history"));
  cel.call("RequestTimedBars", bar_request(cel, "DD", 5, false).dispatch());
  pump();
  EXPECT_EQ(Object(log->named("OnTimedBarsResolved").back().args[1]).get("Code").as_int(), 9);
}

}  // namespace
}  // namespace orbrix::cqgsim
