// Pre-trade risk over the simulator: a refused order reaches no vendor
// member, the daily loss turns the link to REDUCING after a fill, and halt
// stops new orders with and without cancelling the working ones.

#include <algorithm>

#include "sim_fixture.hpp"

namespace orbrix::cqg::testing {
namespace {

using Strings = std::vector<std::string>;

class RiskOverSimulator : public BrokerLinkOverSimulator {
 protected:
  // Logged on with an account and EP quoted at 4000 / 4000.50.
  Security ready() {
    log_on_with_account();
    const Security ep = subscribe("EP");
    sim.driver().fire_quotes("EP",
                             {{"qtBid", 4000.0, 5}, {"qtAsk", 4000.5, 5}, {"qtTrade", 4000.25, 1}});
    forget_so_far();
    mark_lines();
    return ep;
  }
  std::string refusal(const Order& order) {
    try {
      link->place_order(order);
    } catch (const OrderRefused& e) {
      return e.what();
    }
    return "placed";
  }
  bool called(std::string_view member) {
    const Strings all = calls();
    return std::find(all.begin(), all.end(), member) != all.end();
  }
};

TEST_F(RiskOverSimulator, ARefusedOrderMakesNoVendorCallAndTracesOneLine) {
  const Security ep = ready();
  link->set_risk_limits({.max_order_qty = 100});
  // The symbol named is the security's code (the simulator's dated one).
  const std::string text = "order refused: quantity 500 exceeds the limit of 100 for " + ep.code();
  EXPECT_EQ(refusal(Order(ep, OrderType::MARKET, Direction::LONG, 500)), text);
  EXPECT_EQ(calls(), Strings{});
  EXPECT_EQ(caller_lines(), Strings{text});
  // A refusal is still std::invalid_argument, as for a bad price.
  EXPECT_THROW(link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 101)),
               std::invalid_argument);
  EXPECT_FALSE(link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 100)).empty());
  EXPECT_TRUE(called("CQGCEL.CreateOrder"));
}

TEST_F(RiskOverSimulator, NoLimitsSetPlacesAsBefore) {
  const Security ep = ready();
  EXPECT_FALSE(link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 5000)).empty());
  EXPECT_EQ(link->trading_state(), TradingState::ACTIVE);
  EXPECT_EQ(gateway.trading_states(), std::vector<TradingStateChange>{});
}

TEST_F(RiskOverSimulator, AFillThatCrossesTheDailyLossTurnsToReducing) {
  const Security ep = ready();
  ASSERT_FALSE(link->place_order(Order(ep, OrderType::MARKET, Direction::LONG, 2)).empty());
  sim.driver().advance(1s);
  drain();
  link->update_account_balance();
  const AccountBalance before = link->account_balance();
  const double loss_so_far = std::max(0.0, -(before.realized_pnl + before.unrealized_pnl));
  link->set_risk_limits({.max_daily_loss = loss_so_far + 50});
  link->update_account_balance();
  EXPECT_EQ(link->trading_state(), TradingState::ACTIVE);
  // The market falls 20 points under the long of 2.
  sim.driver().fire_quotes("EP",
                           {{"qtBid", 3980.0, 5}, {"qtAsk", 3980.5, 5}, {"qtTrade", 3980.25, 1}});
  drain();
  link->update_account_balance();
  ASSERT_EQ(link->trading_state(), TradingState::REDUCING);
  const auto told = gateway.trading_states();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].previous, TradingState::ACTIVE);
  EXPECT_EQ(told[0].state, TradingState::REDUCING);
  EXPECT_EQ(told[0].reason.rfind("daily loss ", 0), 0u) << told[0].reason;
  journal().clear();
  EXPECT_NE(refusal(Order(ep, OrderType::MARKET, Direction::LONG, 1)).find("REDUCING"),
            std::string::npos);
  EXPECT_FALSE(called("CQGCEL.CreateOrder"));
  EXPECT_FALSE(link->place_order(Order(ep, OrderType::MARKET, Direction::SHORT, 1)).empty());
  // Through flat is not reducing: 2 are held and 1 is already working.
  EXPECT_NE(refusal(Order(ep, OrderType::MARKET, Direction::SHORT, 2)).find("REDUCING"),
            std::string::npos);
}

TEST_F(RiskOverSimulator, HaltRefusesNewOrdersAndCancelsWorkingOnesOnlyWhenAsked) {
  const Security ep = ready();
  const std::string resting =
      link->place_order(Order(ep, OrderType::LIMIT, Direction::LONG, 1, 3900));
  drain();
  journal().clear();
  link->halt("operator", /*cancel_all=*/false);
  EXPECT_EQ(link->trading_state(), TradingState::HALTED);
  EXPECT_EQ(refusal(Order(ep, OrderType::MARKET, Direction::SHORT, 1)),
            "order refused: trading is HALTED (operator) for " + ep.code());
  EXPECT_EQ(calls(), Strings{});
  link->cancel_order(resting);  // cancelling is never refused
  EXPECT_TRUE(called("CQGOrder.Cancel"));

  link->resume("operator");
  const std::string second =
      link->place_order(Order(ep, OrderType::LIMIT, Direction::LONG, 1, 3900.25));
  sim.driver().advance(1s);
  drain();
  journal().clear();
  link->halt("runaway loop", /*cancel_all=*/true);
  const Strings cancelling = calls();
  EXPECT_EQ(std::count(cancelling.begin(), cancelling.end(), "CQGOrder.Cancel"), 1);
  sim.driver().advance(1s);
  drain();
  const auto updates = gateway.records<OrderUpdate>();
  EXPECT_TRUE(std::any_of(updates.begin(), updates.end(), [&](const OrderUpdate& u) {
    return u.order_id == second && u.status == OrderStatus::CANCELLED;
  }));
  const auto told = gateway.trading_states();
  ASSERT_EQ(told.size(), 3u);
  EXPECT_EQ(told[0], (TradingStateChange{TradingState::HALTED, TradingState::ACTIVE, "operator"}));
  EXPECT_EQ(told[1], (TradingStateChange{TradingState::ACTIVE, TradingState::HALTED, "operator"}));
  EXPECT_EQ(told[2],
            (TradingStateChange{TradingState::HALTED, TradingState::ACTIVE, "runaway loop"}));
}

}  // namespace
}  // namespace orbrix::cqg::testing
