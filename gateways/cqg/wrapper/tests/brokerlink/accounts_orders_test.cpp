// Accounts, positions and orders through the API host and the simulator on
// its manual clock.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "orbrix/automation/errors.hpp"
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

// The recorded calls of `all` that start with `prefix`.
Strings starting(const Strings& all, std::string_view prefix) {
  Strings out;
  std::copy_if(all.begin(), all.end(), std::back_inserter(out),
               [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
  return out;
}

class BrokerLinkAccounts : public testing::BrokerLinkOverSimulator {
 protected:
  BrokerLinkAccounts() {
    link->Logon("user", "secret");
    host.cqgCEL.put("AccountSubscriptionLevel", vendor_constant("aslAccountUpdatesAndOrders"));
    drain();
    listed = accounts();
    drain();
    journal().clear();
    mark_lines();
  }
  std::string line(std::size_t i) const {
    return fmt::format("GW Account id: {} name: {}", listed[i].first, listed[i].second);
  }
  // Places market orders and lets the clock move on a second for their
  // fills; returns their ids.
  Strings fill(std::initializer_list<std::tuple<Security, Direction, double>> orders) {
    const auto deals = gateway.records<Deal>().size();
    Strings ids;
    for (const auto& [security, side, quantity] : orders) {
      ids.push_back(link->place_order(Order(security, OrderType::MARKET, side, quantity)));
    }
    sim.driver().advance(1s);
    drain();
    EXPECT_EQ(gateway.records<Deal>().size(), deals + orders.size());
    return ids;
  }
  // The position of `security` in the engine's list, or null.
  const PositionData* position_of(const std::vector<PositionData>& all, const Security& s) {
    const auto it = std::find_if(all.begin(), all.end(),
                                 [&](const PositionData& p) { return p.security == s; });
    return it == all.end() ? nullptr : &*it;
  }

  std::vector<std::pair<std::int64_t, std::string>> listed;
  const Security ep{subscribe("EP")}, enq{subscribe("ENQ")}, tya{subscribe("TYA")},
      dd{subscribe("DD")};
};

TEST_F(BrokerLinkAccounts, SubscriptionSelectsTheAccountAndFillsBalanceAndPositions) {
  ASSERT_GE(listed.size(), 2u);
  const auto second = listed[1].first;
  EXPECT_LE(hops([&] { link->subscribe_account_and_positions(second); }), 4u);
  EXPECT_EQ(caller_lines(),
            (Strings{"Waiting for accounts coming...",
                     fmt::format("Select account {}, subscribe to open positions.", second),
                     line(0), line(1), "[Found] " + line(1), line(0), line(1), "[Found] " + line(1),
                     line(0), line(1), "[Found] " + line(1)}));
  EXPECT_EQ(link->GWAccountID(), second);
  const auto all = calls(/*with_args=*/true);
  EXPECT_EQ(starting(all, "CQGAccount.AutoSubscribeInstruments"),
            Strings{"CQGAccount.AutoSubscribeInstruments(True)"});
  EXPECT_EQ(
      starting(all, "CQGAccount.PositionSubcriptionLevel"),
      Strings{"CQGAccount.PositionSubcriptionLevel(" + k_text("pslSnapshotAndUpdates") + ")"});
  // Each amount from its currency slot: the balance, net liquidating value,
  // profit and loss from the first; collaterals and margin from the second.
  EXPECT_EQ(starting(all, "CQGAccountSummary."),
            (Strings{"CQGAccountSummary.Balance(0)", "CQGAccountSummary.Collaterals(1)",
                     "CQGAccountSummary.NLV(0)", "CQGAccountSummary.MaintenanceMargin(1)",
                     "CQGAccountSummary.ProfitLoss(0)", "CQGAccountSummary.UPL(0)"}));
  {
    cqgsim::CallJournal::Pause pause(journal());
    const auto summary = link->get_account_from_gwaccountid(second).object("Summary");
    const auto amount = [&](const char* name, int slot) {
      return summary.get(name, slot).as_double();
    };
    const AccountBalance b = link->account_balance();
    EXPECT_EQ(b.cash, amount("Balance", 0));
    EXPECT_EQ(b.available_cash, amount("Balance", 0) - amount("Collaterals", 1));
    EXPECT_EQ(b.net_cash_power, amount("NLV", 0));
    EXPECT_EQ(b.maintenance_margin, amount("MaintenanceMargin", 1));
    EXPECT_EQ(b.realized_pnl, amount("ProfitLoss", 0));
    EXPECT_EQ(b.unrealized_pnl, amount("UPL", 0));
    EXPECT_GT(b.cash, 0);
    EXPECT_FALSE(b.cash_by_currency);
    EXPECT_FALSE(b.max_power_short);
  }
  // Updates: one round trip each; a second subscription does not wait.
  EXPECT_EQ(hops([&] { link->update_account_balance(); }), 1u);
  EXPECT_EQ(hops([&] { link->update_positions(); }), 1u);

  // A short, a long, a flat one and one of a symbol the engine does not map.
  const Strings ids = fill({{ep, Direction::SHORT, 3},
                            {enq, Direction::LONG, 1},
                            {tya, Direction::LONG, 1},
                            {dd, Direction::LONG, 2}});
  fill({{tya, Direction::SHORT, 1}});
  gateway.add_symbol("NOT-" + dd.code(), dd);  // the engine no longer maps DD's symbol
  link->update_positions();
  const auto p = link->positions();
  ASSERT_EQ(p.size(), 2u);  // the flat one and the unmapped symbol are left out
  const auto* short_ep = position_of(p, ep);
  ASSERT_TRUE(short_ep);
  EXPECT_EQ(short_ep->direction, Direction::SHORT);
  EXPECT_EQ(short_ep->quantity, 3);
  const auto deals = gateway.records<Deal>();
  const auto ep_deal =
      std::find_if(deals.begin(), deals.end(), [&](const Deal& d) { return d.order_id == ids[0]; });
  ASSERT_NE(ep_deal, deals.end());
  EXPECT_EQ(short_ep->holding_price, ep_deal->filled_avg_price);
  const auto* long_enq = position_of(p, enq);  // the last of the dotted parts names it
  ASSERT_TRUE(long_enq);
  EXPECT_EQ(long_enq->direction, Direction::LONG);
  EXPECT_EQ(long_enq->quantity, 1);

  // Once the accounts were reported ready, a later subscription does not
  // wait for the reload: with the reload still on its way (the vendor empties
  // the list meanwhile) the account is not found, rather than timed out.
  sim.controls().set_account_reload(AnswerBehaviour::after(10s));
  link->set_timeout(50ms);
  EXPECT_THROW(link->subscribe_account_and_positions(listed[0].first), std::invalid_argument);
  sim.controls().set_account_reload(AnswerBehaviour::after(0ms));
  link->subscribe_account_and_positions(listed[0].first);
  EXPECT_TRUE(link->positions().empty());
  link->Logoff();
  EXPECT_EQ(caller_lines().back(), "Successfully logoff account " + listed[0].second);
  journal().clear();
  EXPECT_EQ(hops([&] { link->unsubscribe_account_and_positions(listed[0].first); }), 1u);
  EXPECT_EQ(caller_lines().back(), fmt::format("Unsubscribe account {}.", listed[0].first));
  const auto after = calls(/*with_args=*/true);
  EXPECT_EQ(starting(after, "CQGAccount.AutoSubscribeInstruments"),
            Strings{"CQGAccount.AutoSubscribeInstruments(False)"});
  EXPECT_EQ(starting(after, "CQGCEL.AccountSubscriptionLevel").back(),
            "CQGCEL.AccountSubscriptionLevel(" + k_text("aslNone") + ")");
}

TEST_F(BrokerLinkAccounts, AnUnknownAccountIsNamedAndRemembered) {
  try {
    link->subscribe_account_and_positions(33);
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "GWAccountID 33 can not be found!");
  }
  EXPECT_EQ(link->GWAccountID(), 33);
  link->Logoff();
  EXPECT_EQ(caller_lines().back(), "Successfully logoff; GW account 33 was not found");
}

using BrokerLinkAccountsUnloaded = testing::BrokerLinkOverSimulator;

TEST_F(BrokerLinkAccountsUnloaded, AccountsThatNeverComeTimeOut) {
  link->Logon("user", "secret");
  sim.controls().set_account_reload(AnswerBehaviour::never());
  link->set_timeout(50ms);
  EXPECT_THROW(
      {
        try {
          link->subscribe_account_and_positions(22);
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "Accounts coming timeout!");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_EQ(link->GWAccountID(), std::nullopt);
}

TEST_F(BrokerLinkAccounts, ABalanceErrorIsWrittenWithItsTimeAndSwallowed) {
  link->update_account_balance();  // no account selected
  const auto line = out.lines().back();
  EXPECT_EQ(line.thread, -1);
  EXPECT_TRUE(std::regex_match(
      line.message,
      std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}: no GW account has been selected.*)")))
      << line.message;
  EXPECT_EQ(link->account_balance(), AccountBalance());
  EXPECT_THROW(link->update_positions(), std::invalid_argument);
}

// A position whose side is no order side fails the update whole: the
// engine keeps the list it had, and the next good update replaces it.
TEST_F(BrokerLinkAccounts, AnInvalidSideKeepsThePreviousPositions) {
  link->subscribe_account_and_positions(listed[1].first);
  fill({{ep, Direction::LONG, 1}, {enq, Direction::SHORT, 2}});
  link->update_positions();
  const auto before = link->positions();
  ASSERT_EQ(before.size(), 2u);
  fill({{ep, Direction::LONG, 1}});  // the vendor's EP position grows to 2
  sim.controls().set_invalid_position_sides({"EP"});
  journal().clear();
  try {
    link->update_positions();
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), fmt::format("Return CQG Position Side {} is invalid!",
                                                 vendor_constant("osdUndefined")));
  }
  EXPECT_FALSE(starting(calls(), "CQGPosition.Side").empty());
  EXPECT_EQ(link->positions(), before);
  sim.controls().set_invalid_position_sides({});
  link->update_positions();
  const auto after = link->positions();
  const auto* long_ep = position_of(after, ep);
  ASSERT_TRUE(long_ep);
  EXPECT_EQ(long_ep->direction, Direction::LONG);
  EXPECT_EQ(long_ep->quantity, 2);
}

TEST_F(BrokerLinkAccounts, PositionEventsAreTracedAndTheReloadReleasesTheWait) {
  link->subscribe_account_and_positions(listed[1].first);
  fill({{ep, Direction::LONG, 2}});
  const std::string added = fmt::format(
      "OnAccountChanged - open position is added for {} account - instrument: ", listed[1].second);
  EXPECT_NE(out.text().find(added), std::string::npos) << "the simulator's own report";
  // The line names the position's figures as the vendor gives them.
  Variant account, position;
  std::string expected;
  {
    cqgsim::CallJournal::Pause pause(journal());
    const auto a = link->get_account_from_gwaccountid(listed[1].first);
    const auto pos = automation::Object(a.object("Positions").items().at(0));
    account = Variant(a.dispatch());
    position = Variant(pos.dispatch());
    expected = fmt::format("{}{} average price: {} quantity: {} OTE: {} PL: {}", added,
                           pos.get("InstrumentName").to_text(), pos.get("AveragePrice").to_text(),
                           pos.get("Quantity").to_text(), pos.get("OTE").to_text(),
                           pos.get("ProfitLoss").to_text());
  }
  const auto seen = out.messages().size();
  sim.driver().inject("OnAccountChanged",
                        {Variant(vendor_constant("actPositionAdded")), account, position});
  drain();
  const auto lines = out.messages();
  EXPECT_EQ(Strings(lines.begin() + static_cast<std::ptrdiff_t>(seen), lines.end()),
            Strings{expected});
  link->eventAccountIsReady.clear();
  sim.driver().inject("OnAccountChanged",
                        {Variant(vendor_constant("actAccountsReloaded")), Variant(), Variant()});
  drain();
  EXPECT_TRUE(link->eventAccountIsReady.is_set());
  EXPECT_TRUE(out.contains("OnAccountChanged - Accounts are ready!"));
}

TEST_F(BrokerLinkAccounts, ReadersSeeWholeBalancesAndPositionListsWhileTheyAreRebuilt) {
  link->subscribe_account_and_positions(listed[1].first);
  fill({{ep, Direction::SHORT, 3}, {enq, Direction::LONG, 1}});
  link->update_positions();
  link->update_account_balance();
  const double cash = link->account_balance().cash;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      const auto p = link->positions();
      EXPECT_EQ(p.size(), 2u);
      EXPECT_EQ(link->account_balance().cash, cash);
    }
  });
  for (int i = 0; i < 50; ++i) {
    link->update_positions();
    link->update_account_balance();
  }
  done = true;
  reader.join();
}

class BrokerLinkOrders : public testing::BrokerLinkOverSimulator {
 protected:
  BrokerLinkOrders() {
    log_on_with_account();
    sim.driver().advance(1s);  // the market quotes EP
    drain();
    if (const auto quote = gateway.cqg_quotes().get(ep)) {
      ask = quote->ask_price();
    }
    journal().clear();
  }
  const Security ep{subscribe("EP")};
  double ask = 0;
};

TEST_F(BrokerLinkOrders, TheThreeTypesAreCreatedWithTheirArgumentsAndPlacedManualZero) {
  ASSERT_GT(ask, 0);
  std::string market;
  EXPECT_EQ(
      hops([&] { market = link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 2)); }),
      1u);
  EXPECT_FALSE(market.empty());
  const std::string limit =
      link->place_order(Order(ep, OrderType::LIMIT, Direction::SHORT, 1, ask + 50.25));
  const std::string stop =
      link->place_order(Order(ep, OrderType::STOP, Direction::LONG, 3, ask + 60, ask + 55));
  EXPECT_EQ(std::set<std::string>({market, limit, stop}).size(), 3u);
  const auto all = calls(/*with_args=*/true);
  const Strings creates = starting(all, "CQGCEL.CreateOrder");
  ASSERT_EQ(creates.size(), 3u);
  // Type, instrument, account, quantity, side, then the prices the type has.
  const auto create = [&](std::string_view type, double quantity, std::string_view side,
                          std::vector<double> prices) {
    std::string text = fmt::format("CQGCEL.CreateOrder({},<object>,<object>,{},{}", k_text(type),
                                   Variant(quantity).to_text(), k_text(side));
    for (const double p : prices) {
      text += "," + Variant(p).to_text();
    }
    return text + ")";
  };
  EXPECT_EQ(creates[0], create("otMarket", 2, "osdBuy", {}));
  EXPECT_EQ(creates[1], create("otLimit", 1, "osdSell", {ask + 50.25}));
  EXPECT_EQ(creates[2], create("otStop", 3, "osdBuy", {ask + 60, ask + 55}));
  const Strings placing = starting(all, "CQGOrder.");
  EXPECT_EQ(Strings(placing.begin(), placing.begin() + 2),
            (Strings{"CQGOrder.Manual(0)", "CQGOrder.Place"}));
  EXPECT_EQ(starting(all, "CQGOrder.Manual").size(), 3u);
  EXPECT_EQ(starting(all, "CQGOrder.Place").size(), 3u);
  EXPECT_EQ(link->order_id(), std::nullopt);
  journal().clear();
  EXPECT_EQ(hops([&] { link->cancel_order(limit); }), 1u);
  EXPECT_EQ(starting(calls(), "CQGOrder.Cancel"), Strings{"CQGOrder.Cancel"});
  drain();
  const auto updates = gateway.records<OrderUpdate>();
  ASSERT_FALSE(updates.empty());
  EXPECT_EQ(updates.back().order_id, limit);  // that one, not another
  EXPECT_EQ(updates.back().status, OrderStatus::CANCELLED);
  EXPECT_THROW(link->cancel_order("NOPE"), std::out_of_range);
}

TEST_F(BrokerLinkOrders, BadOrdersSendNothing) {
  const Futures nq({.code = "NQZ23", .security_name = "Nasdaq"});
  gateway.add_symbol("NQZ23", nq);
  try {
    link->place_order(Order(nq, OrderType::MARKET, Direction::LONG, 1));
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "cqg_symbol NQZ23 has not been subscribed.");
  }
  try {
    link->place_order(Order(ep, static_cast<OrderType>(7), Direction::LONG, 1));
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Unsupported order type OrderType(7)");
  }
  try {
    link->place_order(Order(ep, OrderType::LIMIT, static_cast<Direction>(5), 1, 4500.25));
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Unsupported order side Direction(5)");
  }
  // Only the look-ups of the subscribed instrument: nothing created or put.
  for (const auto& c : calls()) {
    EXPECT_TRUE(c == "CQGCEL.Instruments" || c == "CQGInstruments._NewEnum" ||
                c == "CQGInstrument.FullName")
        << c;
  }
}

TEST_F(BrokerLinkOrders, PlacingTimesOutAndTheNextPlacementGetsItsOwnId) {
  sim.controls().set_order_placement(cqgsim::AnnouncementBehaviour::after(1min));
  link->set_timeout(50ms);
  const Order order(ep, OrderType::MARKET, Direction::LONG, 1);
  try {
    link->place_order(order);
    FAIL() << "no time-out";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Order placing timeout!\n" + to_text(order) + " ");
  }
  EXPECT_EQ(starting(calls(), "CQGOrder.Place").size(), 1u);
  // The late announcement lands in the slot; the next placement returns its
  // own id, not that one.
  sim.driver().advance(1min);
  drain();
  const std::optional<std::string> late = link->order_id();
  ASSERT_TRUE(late);
  const Strings listed = unrecorded([&] {
    Strings guids;
    for (const auto& item : host.cqgCEL.object("Orders").items()) {
      guids.push_back(automation::Object(item).get("GUID").as_string());
    }
    return guids;
  });
  EXPECT_EQ(listed, Strings{*late});
  sim.controls().set_order_placement({});
  link->set_timeout(5s);
  const std::string next = link->place_order(order);
  EXPECT_NE(next, *late);
  EXPECT_FALSE(next.empty());
  EXPECT_EQ(starting(calls(), "CQGOrder.Place").size(), 2u);
}

TEST_F(BrokerLinkOrders, ShutdownReleasesAPlacementInFlightAndRefusesOperationsAtOnce) {
  sim.controls().set_order_placement(cqgsim::AnnouncementBehaviour::never());
  // The vendor takes its time to shut down: operations meanwhile must not
  // reach it, nor wait for it.
  sim.controls().set_shutdown_delay(3s);
  link->set_timeout(60s);
  std::string placing_error;
  std::thread placing([&] {
    try {
      link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 1));
    } catch (const automation::DisconnectedError& e) {
      placing_error = e.what();
    }
  });
  EXPECT_TRUE(wait_for_call("CQGOrder.Place"));
  const auto start = std::chrono::steady_clock::now();
  std::atomic<bool> shut{false};
  std::thread shutting([&] {
    host.Shutdown();
    shut = true;
  });
  placing.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_NE(placing_error.find("BrokerLink.place_order"), std::string::npos) << placing_error;
  // The vendor is inside its Shutdown: refused here, without a call.
  EXPECT_TRUE(wait_for_call("CQGCEL.Shutdown"));
  const auto recorded = journal().calls().size();
  try {
    link->subscribe_quote("EP");
    ADD_FAILURE() << "not refused";
  } catch (const automation::DisconnectedError& e) {
    EXPECT_NE(std::string(e.what()).find("BrokerLink.subscribe_quote"), std::string::npos);
  }
  EXPECT_THROW(link->cancel_order("1"), automation::DisconnectedError);
  EXPECT_FALSE(shut.load());
  EXPECT_EQ(journal().calls().size(), recorded);
  shutting.join();
}

TEST_F(BrokerLinkOrders, ConcurrentPlacementsEachGetTheirOwnId) {
  std::vector<std::string> a, b;
  const auto place = [&](std::vector<std::string>& ids) {
    for (int i = 0; i < 20; ++i) {
      ids.push_back(link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 1)));
    }
  };
  std::thread t1(place, std::ref(a)), t2(place, std::ref(b));
  t1.join();
  t2.join();
  std::set<std::string> all(a.begin(), a.end());
  all.insert(b.begin(), b.end());
  EXPECT_EQ(all.size(), 40u);
}

}  // namespace
}  // namespace orbrix::cqg
