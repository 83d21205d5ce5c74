// What the broker refuses and what it forgets: prices it cannot hold exactly,
// options whose figures would overflow, unknown displayed sizes, and the
// finished orders it keeps for look-up.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "broker_fixture.hpp"
#include "venue/price.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using namespace trading_test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(VenuePrices, CheckedTicksTakesExactPricesOnlyAndSaysWhy) {
  struct Case {
    double price;
    double tick;
    const char* refusal;  // empty: taken
    Ticks ticks;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {6000.25, 0.25, "", 24'001},
      {6000.2, 0.25, "limit price 6000.2 is not on the tick grid of 0.25", 0},
      {0.0067895, 0.0000005, "", 13'579},  // a tiny tick
      {0.00678951, 0.0000005, "not on the tick grid of 5e-07", 0},
      {115.015625, 1.0 / 64, "", 7'361},
      {6000.0 + 0.1 + 0.15, 0.25, "", 24'001},        // arithmetic's rounding is not off the grid
      {250'000'000'000.0, 0.25, "", kMaxPriceTicks},  // the largest price
      {250'000'000'000.25, 0.25, "beyond the largest price", 0},
      {249'999'999'999.5, 0.25, "", kMaxPriceTicks - 2},
      {249'999'999'999.6, 0.25, "not on the tick grid", 0},  // still checked at the bound
      {1e30, 0.25, "limit price 1e+30 is beyond the largest price the venue takes", 0},
      {nan, 0.25, "limit price nan is not a finite number", 0},
      {inf, 0.25, "not a finite number", 0},
      {-inf, 0.25, "not a finite number", 0},
      {-5, 0.25, "limit price -5 is not positive", 0},
      {0, 0.25, "not positive", 0},
      {1e-300, 0.25, "below the smallest price of one tick", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.price);
    const CheckedTicks t = checked_ticks(c.price, c.tick, "limit price");
    if (*c.refusal == '\0') {
      ASSERT_TRUE(t) << t.refusal;
      EXPECT_EQ(t.ticks, c.ticks);
    } else {
      EXPECT_FALSE(t);
      EXPECT_THAT(t.refusal, HasSubstr(c.refusal));
    }
  }
  // Recorded market prices may be zero or below, within the bound.
  EXPECT_EQ(checked_ticks(-37.63, 0.01, "price", PriceSign::Any).ticks, -3'763);
  EXPECT_FALSE(checked_ticks(-1e20, 0.01, "price", PriceSign::Any));
}

TEST(VenuePrices, OrdersWithPricesOutsideTheBoundOrARefusalEndRejected) {
  PaperBroker broker(instruments());
  const auto beyond =
      broker.submit(request(OrderType::Limit, Side::Sell, 1, kMaxPriceTicks + 1), at(1));
  EXPECT_THAT(broker.order_at(beyond.order).reject_reason, HasSubstr("limit price of"));
  const auto low_stop = broker.submit(
      request(OrderType::Stop, Side::Buy, 1, {}, std::numeric_limits<Ticks>::min()), at(1));
  EXPECT_EQ(broker.order_at(low_stop.order).status, OrderStatus::Rejected);
  // The owner's refusal is the reason, before the missing price it caused.
  const auto refused = broker.submit(request(OrderType::Limit, Side::Buy, 1), at(1),
                                     "limit price nan is not a finite number");
  EXPECT_THAT(describe(refused.events), ElementsAre("added 2", "order 2 rejected 0/1"));
  const auto& changed = std::get<OrderChanged>(refused.events.back());
  EXPECT_EQ(changed.reject_reason, "limit price nan is not a finite number");
  // None of them rests: a market far away fills nothing.
  EXPECT_TRUE(broker.on_market(kEP, quote(1, 2, 1), at(2)).empty());
}

TEST(VenueTradingOptions, EveryOptionIsBoundedAndNamedWhenOutOfRange) {
  const auto refused = [](TradingOptions options, const char* name) {
    try {
      PaperBroker broker(instruments(), default_accounts(), options);
      ADD_FAILURE() << name << " accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_THAT(e.what(), HasSubstr(name));
    }
  };
  TradingOptions o;
  o.slippage_ticks = std::numeric_limits<Ticks>::max();
  refused(o, "slippage_ticks");
  o.slippage_ticks = -1;
  refused(o, "slippage_ticks");
  o = {};
  o.commission_per_contract = std::numeric_limits<double>::quiet_NaN();
  refused(o, "commission_per_contract");
  o.commission_per_contract = 1e300;
  refused(o, "commission_per_contract");
  o = {};
  o.max_order_quantity = std::numeric_limits<std::int64_t>::max();
  refused(o, "max_order_quantity");
  o.max_order_quantity = 0;
  refused(o, "max_order_quantity");
  o = {};
  o.finished_orders_kept = kMaxFinishedOrdersKept + 1;
  refused(o, "finished_orders_kept");
  std::vector<InstrumentSpec> bad = instruments();
  bad[0].tick_value = std::numeric_limits<double>::infinity();
  EXPECT_THROW(PaperBroker(bad, default_accounts()), std::invalid_argument);

  // Every option at its bound, every price at its bound: the figures stay
  // exact and finite (the sanitizer build checks the integer arithmetic).
  TradingOptions most;
  most.slippage_ticks = kMaxSlippageTicks;
  most.commission_per_contract = kMaxCommission;
  most.max_order_quantity = kMaxOrderQuantity;
  PaperBroker broker(instruments(), default_accounts(), most);
  broker.submit(request(OrderType::Market, Side::Buy, kMaxOrderQuantity), at(1));
  broker.submit(request(OrderType::Limit, Side::Sell, kMaxOrderQuantity, 1), at(1));
  const auto events =
      broker.on_market(kEP, quote(kMaxPriceTicks - 1, kMaxPriceTicks, kMaxPriceTicks), at(2));
  const auto fills = fills_in(events);
  ASSERT_EQ(fills.size(), 2u);
  EXPECT_EQ(fills[0].price, kMaxPriceTicks + kMaxSlippageTicks);
  EXPECT_EQ(fills[1].price, kMaxPriceTicks - 1 - kMaxSlippageTicks);
  const AccountSummary s = broker.summary(kAccount);
  EXPECT_TRUE(std::isfinite(s.balance));
  EXPECT_TRUE(std::isfinite(s.upl));
  EXPECT_LT(s.profit_loss, 0);  // bought high, sold low
}

TEST(VenueTradingMatching, AnUnknownDisplayedSizeDoesNotCapAFill) {
  TradingOptions options;
  options.cap_fill_at_displayed_size = true;
  PaperBroker broker(instruments(), default_accounts(), options);
  broker.submit(request(OrderType::Market, Side::Buy, 5), at(1));
  broker.submit(request(OrderType::Market, Side::Sell, 3), at(1));
  // A recording without sizes shows 0: unknown, so the whole order fills.
  EXPECT_THAT(fills_in(broker.on_market(kEP, quote(15'000, 15'001, std::nullopt, 0, 0), at(2))),
              ::testing::SizeIs(2));
  EXPECT_EQ(broker.find_position(kAccount, kEP)->quantity, 2);
  // A known size still caps.
  broker.submit(request(OrderType::Market, Side::Buy, 5), at(3));
  const auto capped =
      fills_in(broker.on_market(kEP, quote(15'000, 15'001, std::nullopt, 0, 2), at(4)));
  ASSERT_EQ(capped.size(), 1u);
  EXPECT_EQ(capped[0].quantity, 2);
}

TEST(VenueTradingOrders, FinishedOrdersBeyondTheNumberKeptAreForgottenOldestFirst) {
  TradingOptions options;
  options.finished_orders_kept = 3;
  PaperBroker broker(instruments(), default_accounts(), options);
  const auto working = broker.submit(request(OrderType::Limit, Side::Buy, 1, 100), at(1));
  std::vector<std::string> ids;
  for (int i = 0; i < 10; ++i) {
    const auto s = broker.submit(request(OrderType::Limit, Side::Buy, 1, 100), at(1));
    ids.push_back(broker.order_at(s.order).id);
    broker.cancel(ids.back(), at(1));
  }
  // The working order and the three newest finished ones.
  EXPECT_EQ(broker.kept_count(), 4u);
  EXPECT_EQ(broker.submitted_count(), 11u);
  EXPECT_EQ(broker.order_at(working.order).status, OrderStatus::Working);
  EXPECT_EQ(broker.order(ids[9]).status, OrderStatus::Cancelled);
  EXPECT_EQ(broker.order(ids[7]).status, OrderStatus::Cancelled);
  try {
    broker.order(ids[6]);
    FAIL() << "the oldest finished orders are kept";
  } catch (const std::out_of_range& e) {
    EXPECT_THAT(e.what(), HasSubstr(ids[6]));
  }
  EXPECT_THROW(broker.cancel(ids[0], at(2)), std::out_of_range);
  // A fill finishes an order too; the working one fills on the next quote.
  const auto events = broker.on_market(kEP, quote(99, 100), at(2));
  EXPECT_THAT(fills_in(events), ::testing::SizeIs(1));
  EXPECT_EQ(broker.kept_count(), 3u);
  EXPECT_EQ(broker.order_at(working.order).status, OrderStatus::Filled);
  // Ids that were never written by the venue are unknown too.
  EXPECT_THROW(broker.order("00000000-0000-4000-8000-00000000000a"), std::out_of_range);
  EXPECT_THROW(broker.order("00000000-0000-4000-8000-000000000000"), std::out_of_range);
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
