// Recovery after a dropped gateway connection, over the simulator on its
// manual clock: the session comes back whole, orders are neither lost nor
// placed twice, and it stops when told or when it gives up.

#include <gtest/gtest.h>

#include <thread>

#include "orbrix/cqg/vendor.hpp"
#include "sim_fixture.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using State = ConnectionEvent::State;

class Recovery : public testing::BrokerLinkOverSimulator {
 protected:
  // The states the engine heard, oldest first.
  std::vector<State> states() {
    std::vector<State> out;
    for (const auto& c : gateway.connections()) {
      out.push_back(c.state);
    }
    return out;
  }
  // Waits (wall clock, bounded) until the engine heard `state`.
  bool heard(State state, std::chrono::milliseconds within = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto s = states();
      if (std::find(s.begin(), s.end(), state) != s.end()) {
        return true;
      }
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }
  std::size_t collection_size(std::string_view name) {
    cqgsim::CallJournal::Pause pause(journal());
    return host.cqgCEL.object(name).items().size();
  }
};

TEST_F(Recovery, ADropMidSessionEndsWithEverythingFlowingAgainAndNothingDoubled) {
  log_on_with_account();
  const Security ep = subscribe("EP");
  // Ticks and bars named by the dated symbol, which the engine maps.
  link->subscribe_orderbook(ep.code());
  link->subscribe_bar(ep.code(), 10);
  link->enable_recovery({.first_delay = 5ms, .max_delay = 20ms, .max_attempts = 50});
  link->set_timeout(100ms);
  ASSERT_TRUE(link->get_subscribe_bars_data(ep));
  // A position the account holds through the drop; recovery refreshes it.
  link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 3));
  sim.driver().advance(1s);
  ASSERT_TRUE(gateway.wait_for_calls(1, 5s));
  EXPECT_TRUE(link->positions().empty());  // not read since the fill

  sim.driver().drop_gateway();
  ASSERT_TRUE(heard(State::reconnecting));
  EXPECT_FALSE(link->gateway_connected());
  // Down, nothing flows.
  gateway.clear_calls();
  sim.driver().advance(10s);
  EXPECT_TRUE(gateway.calls().empty());
  sim.driver().restore_gateway();
  ASSERT_TRUE(heard(State::restored));
  EXPECT_TRUE(link->gateway_connected());

  // The engine heard it in order: down, one or more attempts, up, restored.
  auto s = states();
  ASSERT_GE(s.size(), 5u);
  EXPECT_EQ(s.front(), State::up);  // the first log-on
  EXPECT_EQ(s[1], State::down);
  std::size_t i = 2;
  while (i < s.size() && s[i] == State::reconnecting) {
    ++i;
  }
  EXPECT_GT(i, 2u);
  EXPECT_EQ(std::vector<State>(s.begin() + static_cast<std::ptrdiff_t>(i), s.end()),
            (std::vector<State>{State::up, State::restored}));
  EXPECT_TRUE(out.contains("Recovery: restored"));  // every step, the account's included
  ASSERT_EQ(link->positions().size(), 1u);
  EXPECT_EQ(link->positions()[0].quantity, 3);

  // Quotes, books and bars flow again; no request is doubled.
  gateway.clear_calls();
  const auto window = link->get_subscribe_bars_data(ep);
  ASSERT_TRUE(window);
  sim.driver().advance(3min);
  EXPECT_FALSE(gateway.records<Quote>().empty());
  EXPECT_FALSE(gateway.records<OrderBook>().empty());
  EXPECT_GT(link->get_subscribe_bars_data(ep)->back().datetime, window->back().datetime);
  EXPECT_EQ(collection_size("Instruments"), 1u);
  EXPECT_EQ(collection_size("AllTicks"), 1u);
  EXPECT_EQ(collection_size("AllTimedBars"), 1u);
  EXPECT_EQ(link->GWAccountID(), first_account_id());
}

TEST_F(Recovery, OrdersAreRefusedWhileDownAndAWorkingOrderIsReportedWhenBack) {
  log_on_with_account();
  const Security ep = subscribe("EP");
  link->enable_recovery({.first_delay = 5ms, .max_delay = 20ms, .max_attempts = 50});
  link->set_timeout(100ms);
  // Sent before the drop: it fills while the connection is down.
  const std::string id = link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 1));
  sim.driver().drop_gateway();
  sim.driver().advance(5s);
  const auto start = std::chrono::steady_clock::now();
  try {
    link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 1));
    ADD_FAILURE() << "placed while down";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("gateway connection is down"), std::string::npos);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);  // at once, not after the time-out
  EXPECT_TRUE(gateway.records<Deal>().empty());
  sim.driver().restore_gateway();
  ASSERT_TRUE(heard(State::restored));
  ASSERT_TRUE(gateway.wait_for_calls(1, 5s));
  const auto deals = gateway.records<Deal>();
  ASSERT_EQ(deals.size(), 1u);
  EXPECT_EQ(deals[0].order_id, id);
  EXPECT_EQ(collection_size("Orders"), 1u);  // nothing placed twice
  link->update_positions();
  EXPECT_EQ(link->positions().size(), 1u);
}

TEST_F(Recovery, ADropDuringTheRestoreIsNotToldAsRestoredAndTheNextRecoveryRestores) {
  link->Logon("user", "secret");
  subscribe("EP");
  link->enable_recovery({.first_delay = 2ms, .max_delay = 4ms, .max_attempts = 0});
  link->set_timeout(200ms);
  // The restore's quote request waits for an answer due far on the manual clock.
  sim.controls().set_instrument_resolution(cqgsim::AnswerBehaviour::after(1h));
  sim.driver().drop_gateway();
  ASSERT_TRUE(heard(State::reconnecting));
  journal().clear();
  sim.driver().restore_gateway();
  ASSERT_TRUE(wait_for_call("CQGCEL.NewInstrument"));  // the restore is under way
  sim.driver().drop_gateway();                         // and the gateway drops again
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!out.contains("dropped again during the restore") &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_TRUE(out.contains(
      "Recovery: the gateway connection dropped again during the restore; not restored"));
  auto s = states();
  EXPECT_EQ(std::count(s.begin(), s.end(), State::restored), 0);
  EXPECT_FALSE(link->gateway_connected());

  // Back for good: the recovery the second drop started restores, once.
  sim.controls().set_instrument_resolution(cqgsim::AnswerBehaviour::after(0ms));
  sim.driver().restore_gateway();
  ASSERT_TRUE(heard(State::restored));
  EXPECT_TRUE(link->gateway_connected());
  s = states();
  EXPECT_EQ(std::count(s.begin(), s.end(), State::restored), 1);
  EXPECT_EQ(s.back(), State::restored);
  EXPECT_EQ(s[s.size() - 2], State::up);
  EXPECT_EQ(std::count(s.begin(), s.end(), State::down), 2);
}

TEST_F(Recovery, ADropThatNeverEndsGivesUpAfterTheAttempts) {
  log_on_with_account();
  link->enable_recovery({.first_delay = 2ms, .max_delay = 4ms, .max_attempts = 3});
  link->set_timeout(20ms);
  sim.driver().drop_gateway();
  ASSERT_TRUE(heard(State::gave_up));
  const auto c = gateway.connections();
  ASSERT_EQ(c.size(), 6u);
  EXPECT_EQ(c[2], (ConnectionEvent{.state = State::reconnecting, .attempt = 1}));
  EXPECT_EQ(c[4], (ConnectionEvent{.state = State::reconnecting, .attempt = 3}));
  EXPECT_EQ(c[5], (ConnectionEvent{.state = State::gave_up, .attempt = 3}));
  EXPECT_TRUE(out.contains("Recovery: gave up after 3 attempts"));
}

TEST_F(Recovery, EachAttemptWaitsItsOwnLogOnWaitNotTheTimeOutAndBadOptionsAreRefused) {
  EXPECT_THROW(link->enable_recovery({.logon_wait = -1ms}), std::invalid_argument);
  EXPECT_THROW(link->enable_recovery({.first_delay = 0ms}), std::invalid_argument);
  // Delays of centuries once overflowed into no back-off at all.
  const auto refusal = [&](RecoveryOptions o) {
    try {
      link->enable_recovery(o);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("taken");
  };
  constexpr auto centuries = std::chrono::hours(24 * 365 * 300);
  EXPECT_NE(refusal({.first_delay = centuries}).find("first_delay"), std::string::npos);
  EXPECT_NE(refusal({.max_delay = centuries}).find("max_delay"), std::string::npos);
  EXPECT_NE(refusal({.logon_wait = std::chrono::milliseconds::max()}).find("logon_wait"),
            std::string::npos);
  EXPECT_NE(refusal({.max_attempts = -1}).find("max_attempts"), std::string::npos);
  log_on_with_account();
  link->enable_recovery(
      {.first_delay = 2ms, .max_delay = 4ms, .max_attempts = 2, .logon_wait = 20ms});
  link->set_timeout(std::chrono::seconds(30));  // would hold each attempt 30 s
  const auto start = std::chrono::steady_clock::now();
  sim.driver().drop_gateway();
  ASSERT_TRUE(heard(State::gave_up));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(out.contains("Recovery: no up report within 0.02 s after log-on attempt 1"));
}

TEST_F(Recovery, LogoffDuringRecoveryStopsIt) {
  log_on_with_account();
  link->enable_recovery({.first_delay = 2ms, .max_delay = 4ms, .max_attempts = 0});
  link->set_timeout(20ms);
  sim.driver().drop_gateway();
  ASSERT_TRUE(heard(State::reconnecting));
  link->Logoff();
  std::this_thread::sleep_for(100ms);
  const auto heard_then = gateway.connections().size();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(gateway.connections().size(), heard_then);  // no further attempt
  EXPECT_TRUE(out.contains("Recovery: stopped"));
  const auto s = states();
  EXPECT_EQ(std::count(s.begin(), s.end(), State::restored), 0);
}

TEST_F(Recovery, ADataConnectionDropStopsDataUntilItIsBack) {
  const Security ep = subscribe("EP");
  sim.driver().drop_data();
  gateway.clear_calls();
  sim.driver().advance(10s);
  EXPECT_TRUE(gateway.calls().empty());
  sim.driver().restore_data();
  sim.driver().advance(10s);
  EXPECT_FALSE(gateway.records<Quote>().empty());
  const auto statuses = gateway.data_connections();
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses[statuses.size() - 2], vendor_constant("csConnectionDown"));
  EXPECT_EQ(statuses.back(), vendor_constant("csConnectionUp"));
  EXPECT_EQ(gateway.cqg_quotes().get(ep) != nullptr, true);
}

}  // namespace
}  // namespace orbrix::cqg
