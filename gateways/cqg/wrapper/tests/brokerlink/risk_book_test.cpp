// The pre-trade checks on their own: each limit below, at and above its
// bound, the order-rate bucket on a manual clock, the trading states, and
// the limits read from configuration text.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "orbrix/cqg/risk_limits.hpp"
#include "risk_book.hpp"

namespace orbrix::cqg::detail {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

OrderTicket buy(double quantity, OrderType type = OrderType::MARKET, double price = 0) {
  return {.symbol = "EP",
          .order_type = type,
          .direction = Direction::LONG,
          .quantity = quantity,
          .price = price};
}
OrderTicket sell(double quantity) {
  return {.symbol = "EP",
          .order_type = OrderType::MARKET,
          .direction = Direction::SHORT,
          .quantity = quantity};
}

const MarketPrice kMarket{.last = 4500, .bid = 4499.75, .ask = 4500.25};

class RiskBookTest : public ::testing::Test {
 protected:
  RiskBookTest() : book([this] { return now; }) {}
  std::optional<std::string> check(const OrderTicket& t, const MarketPrice& m = kMarket) {
    return book.check(t, m);
  }
  // Checks, reserves and lets the vendor name it: a working order.
  void work(const std::string& id, const OrderTicket& t) {
    ASSERT_EQ(check(t), std::nullopt);
    book.reserve(t);
    book.placed(id);
  }
  Clock::time_point now{};
  RiskBook book;
};

TEST_F(RiskBookTest, NoLimitsAcceptEverything) {
  EXPECT_EQ(check(buy(1e6)), std::nullopt);
  EXPECT_EQ(check(buy(1, OrderType::LIMIT, 1), {}), std::nullopt);
  EXPECT_EQ(book.state(), TradingState::ACTIVE);
}

TEST_F(RiskBookTest, QuantityPerOrderBelowAtAndAboveWithASymbolOverride) {
  book.set_limits({.max_order_qty = 100, .max_order_qty_by_symbol = {{"ZN", 5}}});
  EXPECT_EQ(check(buy(99)), std::nullopt);
  EXPECT_EQ(check(buy(100)), std::nullopt);
  EXPECT_EQ(check(buy(500)), "order refused: quantity 500 exceeds the limit of 100 for EP");
  OrderTicket zn = buy(6);
  zn.symbol = "ZN";
  EXPECT_EQ(check(zn), "order refused: quantity 6 exceeds the limit of 5 for ZN");
  zn.quantity = 5;
  EXPECT_EQ(check(zn), std::nullopt);
}

TEST_F(RiskBookTest, PositionCountsFillsAndSameSideWorkingOrdersButNotTheOtherSide) {
  book.set_limits({.max_position = 5});
  book.set_positions({{"EP", 2}});
  work("w1", buy(1));                      // 2 held + 1 working
  EXPECT_EQ(check(buy(2)), std::nullopt);  // 5: at the bound
  EXPECT_EQ(check(buy(3)), "order refused: position 6 exceeds the limit of 5 for EP");
  work("s1", sell(4));  // a sell does not offset the buys
  EXPECT_NE(check(buy(3)), std::nullopt);
  book.filled("w1", 1);  // the working buy became position
  book.finished("w1");
  EXPECT_EQ(book.exposure_of("EP").position, 3);
  EXPECT_EQ(book.exposure_of("EP").working_buy, 0);
  EXPECT_EQ(check(buy(2)), std::nullopt);
  book.finished("s1");
  EXPECT_EQ(check(sell(8)), std::nullopt);  // 3 - 8 = -5
  EXPECT_EQ(check(sell(9)), "order refused: position -6 exceeds the limit of 5 for EP");
  // Over the limit already (the account listed more): reducing still passes.
  book.set_positions({{"EP", 9}});
  EXPECT_EQ(check(sell(2)), std::nullopt);
  EXPECT_NE(check(buy(1)), std::nullopt);
}

TEST_F(RiskBookTest, WorkingOrdersCountThePendingPlacementAndForgetFinishedOnes) {
  book.set_limits({.max_working_orders = 2});
  work("a", buy(1));
  ASSERT_EQ(check(buy(1)), std::nullopt);
  book.reserve(buy(1));  // in flight: counts already
  EXPECT_EQ(check(buy(1)), "order refused: working orders 3 exceeds the limit of 2 for EP");
  book.release_pending();  // the placement failed
  EXPECT_EQ(check(buy(1)), std::nullopt);
  book.reserve(buy(1));
  book.placed("b");
  EXPECT_NE(check(buy(1)), std::nullopt);
  book.filled("a", 1);
  book.finished("a");
  book.finished("unknown");  // another's order: ignored
  EXPECT_EQ(check(buy(1)), std::nullopt);
  EXPECT_EQ(book.working_ids(), (std::vector<std::string>{"b"}));
}

TEST_F(RiskBookTest, ABurstOverTheRateIsRefusedUntilTheBucketRefills) {
  book.set_limits({.max_orders_per_second = 4});
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(check(buy(1)), std::nullopt) << i;
  }
  EXPECT_EQ(check(buy(1)), "order refused: order rate exceeds the limit of 4 per second for EP");
  now += 249ms;
  EXPECT_NE(check(buy(1)), std::nullopt);
  now += 1ms;  // a quarter second: one token
  EXPECT_EQ(check(buy(1)), std::nullopt);
  EXPECT_NE(check(buy(1)), std::nullopt);
  now += 10s;  // never more than one second's worth
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(check(buy(1)), std::nullopt) << i;
  }
  EXPECT_NE(check(buy(1)), std::nullopt);
}

TEST_F(RiskBookTest, ARefusalByAnotherLimitTakesNoToken) {
  book.set_limits({.max_order_qty = 10, .max_orders_per_second = 1});
  EXPECT_NE(check(buy(11)), std::nullopt);
  EXPECT_EQ(check(buy(1)), std::nullopt);
}

TEST_F(RiskBookTest, CollarInPercentAndTicksFromTheMidElseTheLast) {
  book.set_limits(
      {.price_collar_pct = 1, .price_collar_ticks = 8, .tick_size_by_symbol = {{"EP", 0.25}}});
  // Mid 4500: 8 ticks is 2, 1 % is 45; the narrower decides.
  EXPECT_EQ(check(buy(1, OrderType::LIMIT, 4502)), std::nullopt);
  EXPECT_EQ(check(buy(1, OrderType::LIMIT, 4498)), std::nullopt);
  EXPECT_EQ(check(buy(1, OrderType::LIMIT, 4502.25)),
            "order refused: price 4502.25 is 9 ticks from the reference 4500 and exceeds the "
            "limit of 8 ticks for EP");
  OrderTicket stop = buy(1, OrderType::STOP, 0);
  stop.stop_price = 4400;
  EXPECT_NE(check(stop), std::nullopt);
  EXPECT_EQ(check(buy(1)), std::nullopt);  // a market order names no price
  // Without a tick size only the percentage applies; last trade without a full quote.
  book.set_limits({.price_collar_pct = 1, .price_collar_ticks = 8});
  const MarketPrice last_only{.last = 1000, .bid = 999};
  EXPECT_EQ(check(buy(1, OrderType::LIMIT, 1010), last_only), std::nullopt);
  EXPECT_EQ(check(buy(1, OrderType::LIMIT, 1011), last_only),
            "order refused: price 1011 is 1.1% from the reference 1000 and exceeds the limit of "
            "1% for EP");
}

TEST_F(RiskBookTest, CollarWithoutAQuoteRefusesUnlessAllowed) {
  book.set_limits({.price_collar_pct = 1});
  EXPECT_EQ(check(buy(1, OrderType::LIMIT, 4500), {}),
            "order refused: price 4500 cannot be checked against the price collar, no quote is "
            "known for EP");
  EXPECT_EQ(check(buy(1), {}), std::nullopt);
  book.set_limits({.price_collar_pct = 1, .allow_orders_without_quote = true});
  EXPECT_EQ(check(buy(1, OrderType::LIMIT, 4500), {}), std::nullopt);
}

TEST_F(RiskBookTest, DailyLossBeyondTheLimitTurnsToReducingOnce) {
  book.set_limits({.max_daily_loss = 1000});
  EXPECT_EQ(book.set_pnl(-400, -600), std::nullopt);  // at the bound
  const auto change = book.set_pnl(-400, -601);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->previous, TradingState::ACTIVE);
  EXPECT_EQ(change->state, TradingState::REDUCING);
  EXPECT_EQ(change->reason, "daily loss 1001 exceeds the limit of 1000");
  EXPECT_EQ(book.set_pnl(-2000, 0), std::nullopt);  // already reducing
}

TEST_F(RiskBookTest, ReducingTakesOnlyOrdersTowardsFlatAndHaltedNone) {
  book.set_positions({{"EP", 3}});
  book.set_state(TradingState::REDUCING, "operator");
  EXPECT_EQ(check(buy(1)),
            "order refused: trading is REDUCING (operator) and a buy of 1 would not reduce the "
            "position of 3 for EP");
  EXPECT_EQ(check(sell(3)), std::nullopt);
  EXPECT_NE(check(sell(4)), std::nullopt);  // through flat
  work("s", sell(2));
  EXPECT_NE(check(sell(2)), std::nullopt);  // 2 already working
  book.set_positions({});
  EXPECT_NE(check(sell(1)), std::nullopt);  // flat: nothing reduces
  book.set_state(TradingState::HALTED, "fat finger");
  EXPECT_EQ(check(sell(1)), "order refused: trading is HALTED (fat finger) for EP");
  EXPECT_EQ(book.set_state(TradingState::HALTED, "again"), std::nullopt);
  EXPECT_TRUE(book.set_state(TradingState::ACTIVE, "resumed"));
  EXPECT_EQ(check(buy(1)), std::nullopt);
}

TEST(RiskLimitsText, ConfigurationKeysParseAndBadValuesNameTheirKey) {
  const std::map<std::string, std::string, std::less<>> file = {
      {"RISK_MAX_ORDER_QTY", "100"},
      {"RISK_MAX_ORDER_QTY_BY_SYMBOL", "EP:20, ZN:50"},
      {"RISK_MAX_WORKING_ORDERS", "10"},
      {"RISK_PRICE_COLLAR_TICKS", "40"},
      {"RISK_TICK_SIZE_BY_SYMBOL", "EP:0.25"},
      {"RISK_ALLOW_ORDERS_WITHOUT_QUOTE", "yes"},
      {"RISK_MAX_DAILY_LOSS", ""},
  };
  const auto from = [](const std::map<std::string, std::string, std::less<>>& f) {
    return risk_limits_from([&](std::string_view key) -> std::optional<std::string> {
      const auto it = f.find(key);
      return it == f.end() ? std::nullopt : std::optional<std::string>(it->second);
    });
  };
  const RiskLimits l = from(file);
  EXPECT_EQ(l, (RiskLimits{.max_order_qty = 100,
                           .max_order_qty_by_symbol = {{"EP", 20}, {"ZN", 50}},
                           .max_working_orders = 10,
                           .price_collar_ticks = 40,
                           .tick_size_by_symbol = {{"EP", 0.25}},
                           .allow_orders_without_quote = true}));
  EXPECT_FALSE(from({}).any());
  const auto refused = [&](std::string key, std::string value, std::string_view named) {
    try {
      from({{key, value}});
      ADD_FAILURE() << key << "=" << value;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
    }
  };
  refused("RISK_MAX_ORDER_QTY", "ten", "RISK_MAX_ORDER_QTY");
  refused("RISK_MAX_ORDER_QTY", "-1", "max_order_qty");
  refused("RISK_MAX_POSITION_BY_SYMBOL", "EP", "RISK_MAX_POSITION_BY_SYMBOL");
  refused("RISK_MAX_ORDERS_PER_SECOND", "0", "max_orders_per_second");
  refused("RISK_ALLOW_ORDERS_WITHOUT_QUOTE", "maybe", "RISK_ALLOW_ORDERS_WITHOUT_QUOTE");
}

}  // namespace
}  // namespace orbrix::cqg::detail
