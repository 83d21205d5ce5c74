// Accounts, positions and orders through the API host and the fake vendor.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <atomic>
#include <future>
#include <regex>
#include <set>
#include <thread>

#include "orbrix/automation/errors.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "stack.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using testing::FakeObject;
using testing::Stack;
using Strings = std::vector<std::string>;

class BrokerLinkAccounts : public ::testing::Test {
 protected:
  BrokerLinkAccounts() {
    first = testing::fake_account(11, "first");
    second = testing::fake_account(22, "second");
    auto positions = FakeObject::collection(
        "FakePositions", {testing::fake_position("F.US.EPZ23", "osdSell", 4500.5, -3),
                          testing::fake_position("F.US.EPZ23", "osdBuy", 1, 0),
                          testing::fake_position("F.US.UNKNOWN", "osdBuy", 1, 2),
                          testing::fake_position("F.US.X.NQZ23", "osdBuy", 15000, 1),
                          testing::fake_position("ESU4", "osdBuy", 5000, 4)});
    second->set("Positions", positions);
    s.vendor.add_account(first);
    s.vendor.add_account(second);
    s.gateway.add_symbol("NQZ23", nq);
    s.gateway.add_symbol("ESU4", es);
  }

  Stack s;
  testing::FakePtr first, second;
  const Futures nq{Futures({.code = "NQZ23", .security_name = "Nasdaq"})};
  const Futures es{Futures({.code = "ESU4", .security_name = "E-mini"})};
};

TEST_F(BrokerLinkAccounts, SubscriptionSelectsTheAccountAndFillsBalanceAndPositions) {
  EXPECT_LE(testing::hops(s, [&] { s.link->subscribe_account_and_positions(22); }), 4u);
  EXPECT_EQ(
      s.caller_lines(),
      (Strings{"Waiting for accounts coming...", "Select account 22, subscribe to open positions.",
               "GW Account id: 11 name: first", "GW Account id: 22 name: second",
               "[Found] GW Account id: 22 name: second", "GW Account id: 11 name: first",
               "GW Account id: 22 name: second", "[Found] GW Account id: 22 name: second",
               "GW Account id: 11 name: first", "GW Account id: 22 name: second",
               "[Found] GW Account id: 22 name: second"}));
  EXPECT_EQ(s.link->GWAccountID(), 22);
  EXPECT_TRUE(second->value("AutoSubscribeInstruments").as_bool());
  EXPECT_EQ(second->value("PositionSubcriptionLevel").as_int(),
            vendor_constant("pslSnapshotAndUpdates"));
  // The fake's amount at index i is its base plus i.
  const AccountBalance b = s.link->account_balance();
  EXPECT_EQ(b.cash, 1000);
  EXPECT_EQ(b.available_cash, 1000 - 101);
  EXPECT_EQ(b.net_cash_power, 2000);
  EXPECT_EQ(b.maintenance_margin, 301);
  EXPECT_EQ(b.realized_pnl, 40);
  EXPECT_EQ(b.unrealized_pnl, -5);
  EXPECT_FALSE(b.cash_by_currency);
  EXPECT_FALSE(b.max_power_short);
  const auto p = s.link->positions();
  ASSERT_EQ(p.size(), 3u);  // the zero quantity and the unknown symbol are left out
  EXPECT_EQ(p[0].security, testing::ep());
  EXPECT_EQ(p[0].direction, Direction::SHORT);
  EXPECT_EQ(p[0].quantity, 3);
  EXPECT_EQ(p[0].holding_price, 4500.5);
  EXPECT_EQ(p[1].security, nq);  // the last of several dotted parts
  EXPECT_EQ(p[2].security, es);  // a name without a dot is used whole
  EXPECT_EQ(p[2].direction, Direction::LONG);

  // Updates: one round trip each; a second subscription does not wait.
  EXPECT_EQ(testing::hops(s, [&] { s.link->update_account_balance(); }), 1u);
  EXPECT_EQ(testing::hops(s, [&] { s.link->update_positions(); }), 1u);
  s.vendor.settings().accounts_delay.reset();
  s.link->subscribe_account_and_positions(11);
  EXPECT_TRUE(s.link->positions().empty());
  s.link->Logoff();
  EXPECT_EQ(s.caller_lines().back(), "Successfully logoff account first");
  EXPECT_EQ(testing::hops(s, [&] { s.link->unsubscribe_account_and_positions(11); }), 1u);
  EXPECT_EQ(s.caller_lines().back(), "Unsubscribe account 11.");
  EXPECT_FALSE(first->value("AutoSubscribeInstruments").as_bool());
  EXPECT_EQ(s.vendor.cel_log().back(),
            fmt::format("put AccountSubscriptionLevel={}", vendor_constant("aslNone")));
}

TEST_F(BrokerLinkAccounts, UnknownAccountAndTimeOut) {
  try {
    s.link->subscribe_account_and_positions(33);
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "GWAccountID 33 can not be found!");
  }
  EXPECT_EQ(s.link->GWAccountID(), 33);
  s.link->Logoff();
  EXPECT_EQ(s.caller_lines().back(), "Successfully logoff; GW account 33 was not found");

  Stack t;
  t.vendor.settings().accounts_delay.reset();
  t.link->set_timeout(50ms);
  EXPECT_THROW(
      {
        try {
          t.link->subscribe_account_and_positions(22);
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "Accounts coming timeout!");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_EQ(t.link->GWAccountID(), std::nullopt);
}

TEST_F(BrokerLinkAccounts, ABalanceErrorIsWrittenWithItsTimeAndSwallowed) {
  s.link->update_account_balance();  // no account selected
  const auto line = s.out.lines().back();
  EXPECT_EQ(line.thread, -1);
  EXPECT_TRUE(std::regex_match(
      line.message,
      std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}: no GW account has been selected.*)")))
      << line.message;
  EXPECT_EQ(s.link->account_balance(), AccountBalance());
  EXPECT_THROW(s.link->update_positions(), std::invalid_argument);
}

TEST_F(BrokerLinkAccounts, AnInvalidSideKeepsThePreviousPositions) {
  s.link->subscribe_account_and_positions(22);
  const auto before = s.link->positions();
  auto positions = FakeObject::collection("FakePositions",
                                          {testing::fake_position("ESU4", "osdBuy", 1, 1),
                                           testing::fake_position("ESU4", "osdUndefined", 1, 1)});
  second->set("Positions", positions);
  try {
    s.link->update_positions();
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), fmt::format("Return CQG Position Side {} is invalid!",
                                                 vendor_constant("osdUndefined")));
  }
  EXPECT_EQ(s.link->positions(), before);
}

TEST_F(BrokerLinkAccounts, PositionEventsAreTracedAndTheReloadReleasesTheWait) {
  s.vendor.cel()->fire("OnAccountChanged",
                       {vendor_constant("actPositionAdded"), second,
                        testing::fake_position("F.US.EPZ23", "osdBuy", 4500.25, 2)});
  s.drain();
  EXPECT_TRUE(s.out.contains(
      "OnAccountChanged - open position is added for second account - instrument: F.US.EPZ23 "
      "average price: 4500.25 quantity: 2.0 OTE: 1.5 PL: 2.5"));
  EXPECT_FALSE(s.link->eventAccountIsReady.is_set());
  s.vendor.cel()->fire("OnAccountChanged", {vendor_constant("actAccountsReloaded"), {}, {}});
  s.drain();
  EXPECT_TRUE(s.link->eventAccountIsReady.is_set());
  EXPECT_TRUE(s.out.contains("OnAccountChanged - Accounts are ready!"));
}

TEST_F(BrokerLinkAccounts, ReadersSeeWholeBalancesAndPositionListsWhileTheyAreRebuilt) {
  s.link->subscribe_account_and_positions(22);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      const auto p = s.link->positions();
      EXPECT_EQ(p.size(), 3u);
      EXPECT_EQ(s.link->account_balance().cash, 1000);
    }
  });
  for (int i = 0; i < 50; ++i) {
    s.link->update_positions();
    s.link->update_account_balance();
  }
  done = true;
  reader.join();
}

class BrokerLinkOrders : public ::testing::Test {
 protected:
  BrokerLinkOrders() {
    s.vendor.add_instrument("EPZ23", "F.US.EPZ23");
    s.vendor.add_account(testing::fake_account(22, "second"));
    s.link->subscribe_quote("EPZ23");
    s.link->subscribe_account_and_positions(22);
  }
  Stack s;
};

TEST_F(BrokerLinkOrders, TheThreeTypesAreCreatedWithTheirArgumentsAndPlacedManualZero) {
  const auto& k = [](std::string_view n) { return vendor_constant(n); };
  std::string id;
  EXPECT_EQ(testing::hops(s,
                          [&] {
                            id = s.link->place_order(
                                Order(testing::ep(), OrderType::MARKET, Direction::LONG, 2));
                          }),
            1u);
  EXPECT_EQ(id, "ORD-1");
  s.link->place_order(Order(testing::ep(), OrderType::LIMIT, Direction::SHORT, 1, 4500.25));
  s.link->place_order(Order(testing::ep(), OrderType::STOP, Direction::LONG, 3, 4510, 4505));
  Strings creates;
  for (const auto& line : s.vendor.cel_log()) {
    if (line.rfind("CreateOrder(", 0) == 0) {
      creates.push_back(line);
    }
  }
  ASSERT_EQ(creates.size(), 3u);
  const std::string market = fmt::format(
      "CreateOrder({}, <FakeInstrument object>, <FakeAccount "
      "object>, 2.0, {})",
      k("otMarket"), k("osdBuy"));
  EXPECT_EQ(creates[0], market);
  EXPECT_EQ(creates[1], fmt::format("CreateOrder({}, <FakeInstrument object>, <FakeAccount "
                                    "object>, 1.0, {}, 4500.25)",
                                    k("otLimit"), k("osdSell")));
  EXPECT_EQ(creates[2], fmt::format("CreateOrder({}, <FakeInstrument object>, <FakeAccount "
                                    "object>, 3.0, {}, 4510.0, 4505.0)",
                                    k("otStop"), k("osdBuy")));
  EXPECT_EQ(s.vendor.orders()[0]->log(), (Strings{"put Manual=0", "Place()"}));
  EXPECT_EQ(s.link->order_id(), std::nullopt);
  EXPECT_EQ(testing::hops(s, [&] { s.link->cancel_order("ORD-2"); }), 1u);
  EXPECT_EQ(s.vendor.orders()[1]->log().back(), "Cancel()");
  EXPECT_THROW(s.link->cancel_order("NOPE"), std::out_of_range);
}

TEST_F(BrokerLinkOrders, BadOrdersSendNothing) {
  const Futures nq({.code = "NQZ23", .security_name = "Nasdaq"});
  s.gateway.add_symbol("NQZ23", nq);
  const auto log_size = s.vendor.cel_log().size();
  try {
    s.link->place_order(Order(nq, OrderType::MARKET, Direction::LONG, 1));
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "cqg_symbol NQZ23 has not been subscribed.");
  }
  try {
    s.link->place_order(Order(testing::ep(), static_cast<OrderType>(7), Direction::LONG, 1));
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Unsupported order type OrderType(7)");
  }
  try {
    s.link->place_order(
        Order(testing::ep(), OrderType::LIMIT, static_cast<Direction>(5), 1, 4500.25));
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Unsupported order side Direction(5)");
  }
  EXPECT_EQ(s.vendor.cel_log().size(), log_size);
  EXPECT_TRUE(s.vendor.orders().empty());
}

TEST_F(BrokerLinkOrders, PlacingTimesOutAndTheNextPlacementGetsItsOwnId) {
  s.vendor.settings().announce_orders = false;
  s.link->set_timeout(50ms);
  const Order order(testing::ep(), OrderType::MARKET, Direction::LONG, 1);
  try {
    s.link->place_order(order);
    FAIL() << "no time-out";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Order placing timeout!\n" + to_text(order) + " ");
  }
  // The late announcement lands in the slot; the next placement returns its own id.
  s.vendor.cel()->fire("OnOrderChanged",
                       {vendor_constant("ctAdded"), s.vendor.orders()[0], {}, {}, {}});
  s.drain();
  s.vendor.settings().announce_orders = true;
  s.link->set_timeout(5s);
  EXPECT_EQ(s.link->place_order(order), "ORD-2");
}

TEST_F(BrokerLinkOrders, ShutdownReleasesAPlacementInFlightAndRefusesOperationsAtOnce) {
  s.vendor.settings().announce_orders = false;
  s.link->set_timeout(60s);
  // The vendor takes its time to shut down: operations meanwhile must not
  // reach it, nor wait for it.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  s.vendor.cel()->on("Shutdown", [released](FakeObject&, testing::Args) -> Variant {
    released.wait();
    return {};
  });
  std::string placing_error;
  std::thread placing([&] {
    try {
      s.link->place_order(Order(testing::ep(), OrderType::MARKET, Direction::LONG, 1));
    } catch (const automation::DisconnectedError& e) {
      placing_error = e.what();
    }
  });
  while (s.vendor.orders().empty()) {
    std::this_thread::sleep_for(1ms);
  }
  const auto start = std::chrono::steady_clock::now();
  std::thread shutting([&] { s.host.Shutdown(); });
  placing.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_NE(placing_error.find("BrokerLink.place_order"), std::string::npos) << placing_error;
  // The vendor is still inside its Shutdown: refused here, without a call.
  try {
    s.link->subscribe_quote("EP");
    ADD_FAILURE() << "not refused";
  } catch (const automation::DisconnectedError& e) {
    EXPECT_NE(std::string(e.what()).find("BrokerLink.subscribe_quote"), std::string::npos);
  }
  EXPECT_THROW(s.link->cancel_order("ORD-1"), automation::DisconnectedError);
  release.set_value();
  shutting.join();
}

TEST_F(BrokerLinkOrders, ConcurrentPlacementsEachGetTheirOwnId) {
  std::vector<std::string> a, b;
  const auto place = [&](std::vector<std::string>& ids) {
    for (int i = 0; i < 20; ++i) {
      ids.push_back(
          s.link->place_order(Order(testing::ep(), OrderType::MARKET, Direction::LONG, 1)));
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
