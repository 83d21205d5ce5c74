// Matching against level-1 quotes: where each order type fills, when, and
// how much.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "broker_fixture.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using namespace trading_test;
using ::testing::ElementsAre;

// The fills of the last call, as "side price x quantity".
std::vector<std::string> fills_of(const PaperBroker&, std::span<const TradingEvent> events) {
  std::vector<std::string> out;
  for (const Fill& fill : fills_in(events)) {
    out.push_back(fmt::format("{} {} x {}", to_string(fill.side), fill.price, fill.quantity));
  }
  return out;
}

TEST(VenueTradingMatching, MarketOrdersFillWholeAtTheTouch) {
  PaperBroker broker(instruments());
  broker.on_market(kEP, quote(15'000, 15'002), at(1));
  const auto buy = broker.submit(request(OrderType::Market, Side::Buy, 3), at(1));
  // The quote already seen at submission does not fill: only the next one.
  EXPECT_TRUE(fills_in(buy.events).empty());
  const auto sell = broker.submit(request(OrderType::Market, Side::Sell, 2), at(1));

  const auto events = broker.on_market(kEP, quote(15'004, 15'006, std::nullopt, 1, 1), at(2));
  EXPECT_THAT(fills_of(broker, events), ElementsAre("buy 15006 x 3", "sell 15004 x 2"));
  EXPECT_EQ(broker.order_at(buy.order).status, OrderStatus::Filled);
  EXPECT_EQ(broker.order_at(sell.order).average_fill_price(), 15'004.0);
  const auto fills = fills_in(events);
  const Fill& first = fills[0];
  EXPECT_EQ(first.id, 1u);
  EXPECT_EQ(first.order, buy.order);
  EXPECT_EQ(first.time, at(2));
  EXPECT_EQ(first.status, FillStatus::Normal);
  EXPECT_EQ(fills[1].id, 2u);
  // Filled orders left the book.
  EXPECT_TRUE(broker.on_market(kEP, quote(15'004, 15'006), at(3)).empty());
}

TEST(VenueTradingMatching, MarketOrderWaitsForTheSideItNeedsUnlessSwitchedToReject) {
  PaperBroker waiting(instruments());
  waiting.submit(request(OrderType::Market, Side::Buy, 1), at(1));
  EXPECT_TRUE(waiting.on_market(kEP, quote(15'000, std::nullopt), at(2)).empty());
  EXPECT_THAT(fills_of(waiting, waiting.on_market(kEP, quote(15'000, 15'001), at(3))),
              ElementsAre("buy 15001 x 1"));

  TradingOptions options;
  options.reject_market_without_quote = true;
  PaperBroker rejecting(instruments(), default_accounts(), options);
  // No market known at submission: rejected at once.
  const auto early = rejecting.submit(request(OrderType::Market, Side::Buy, 1), at(1));
  EXPECT_EQ(rejecting.order_at(early.order).reject_reason, "no ask to buy at");
  // Quoted at submission, but the bid is gone when it meets the market.
  rejecting.on_market(kEP, quote(15'000, 15'001), at(2));
  const auto late = rejecting.submit(request(OrderType::Market, Side::Sell, 1), at(2));
  EXPECT_EQ(rejecting.order_at(late.order).status, OrderStatus::Working);
  rejecting.on_market(kEP, quote(std::nullopt, 15'001), at(3));
  EXPECT_EQ(rejecting.order_at(late.order).reject_reason, "no bid to sell at");
}

TEST(VenueTradingMatching, MarketableLimitTakesTheQuoteButNeverWorseThanItsLimit) {
  PaperBroker broker(instruments());
  broker.submit(request(OrderType::Limit, Side::Buy, 1, 15'010), at(1));
  broker.submit(request(OrderType::Limit, Side::Sell, 1, 14'990), at(1));
  EXPECT_THAT(fills_of(broker, broker.on_market(kEP, quote(15'000, 15'002), at(2))),
              ElementsAre("buy 15002 x 1", "sell 15000 x 1"));

  TradingOptions options;
  options.slippage_ticks = 3;
  PaperBroker slipping(instruments(), default_accounts(), options);
  slipping.submit(request(OrderType::Limit, Side::Buy, 1, 15'010), at(1));
  slipping.submit(request(OrderType::Limit, Side::Buy, 1, 15'004), at(1));
  EXPECT_THAT(fills_of(slipping, slipping.on_market(kEP, quote(15'000, 15'002), at(2))),
              ElementsAre("buy 15005 x 1", "buy 15004 x 1"));
}

TEST(VenueTradingMatching, RestingLimitFillsAtItsOwnPriceOnlyWhenTheQuoteReachesIt) {
  PaperBroker broker(instruments());
  const auto buy = broker.submit(request(OrderType::Limit, Side::Buy, 2, 14'990), at(1));
  EXPECT_TRUE(broker.on_market(kEP, quote(14'994, 14'995), at(2)).empty());
  // A trade at the limit with the ask above it is not a fill.
  EXPECT_TRUE(broker.on_market(kEP, quote(14'989, 14'991, 14'990), at(3)).empty());
  // The ask gaps through the limit: the resting order gets its own price.
  EXPECT_THAT(fills_of(broker, broker.on_market(kEP, quote(14'980, 14'982), at(4))),
              ElementsAre("buy 14990 x 2"));
  EXPECT_EQ(broker.order_at(buy.order).status, OrderStatus::Filled);

  // A limit that first meets no opposite quote has not seen the market: it
  // takes the quote when one comes.
  broker.submit(request(OrderType::Limit, Side::Sell, 1, 14'970), at(5));
  broker.on_market(kEP, quote(std::nullopt, 14'982), at(6));
  EXPECT_THAT(fills_of(broker, broker.on_market(kEP, quote(14'975, 14'982), at(7))),
              ElementsAre("sell 14975 x 1"));
}

TEST(VenueTradingMatching, StopsTriggerOnTradesAndFillAtTheMarketThroughAGap) {
  PaperBroker broker(instruments());
  const auto sell_stop = broker.submit(request(OrderType::Stop, Side::Sell, 1, {}, 14'990), at(1));
  broker.submit(request(OrderType::Stop, Side::Buy, 1, {}, 15'010), at(1));
  // Quotes through the stop without a trade do not trigger it.
  EXPECT_TRUE(broker.on_market(kEP, quote(14'985, 14'987), at(2)).empty());
  EXPECT_FALSE(broker.order_at(sell_stop.order).triggered);
  // The market gaps down: the stop fills at the bid, far below its trigger.
  EXPECT_THAT(fills_of(broker, broker.on_market(kEP, quote(14'970, 14'972, 14'971), at(3))),
              ElementsAre("sell 14970 x 1"));
  EXPECT_EQ(broker.order_at(sell_stop.order).triggered_at, at(3));
  // A trade exactly at a buy stop triggers it.
  EXPECT_THAT(fills_of(broker, broker.on_market(kEP, quote(15'009, 15'011, 15'010), at(4))),
              ElementsAre("buy 15011 x 1"));
}

TEST(VenueTradingMatching, StopLimitTriggersThenFollowsLimitRules) {
  PaperBroker broker(instruments());
  const auto gapped =
      broker.submit(request(OrderType::StopLimit, Side::Buy, 1, 15'012, 15'010), at(1));
  broker.submit(request(OrderType::StopLimit, Side::Buy, 1, 15'020, 15'010), at(1));
  // Triggered; the first is above its limit and rests, the second takes the ask.
  EXPECT_THAT(fills_of(broker, broker.on_market(kEP, quote(15'013, 15'015, 15'014), at(2))),
              ElementsAre("buy 15015 x 1"));
  EXPECT_EQ(broker.order_at(gapped.order).status, OrderStatus::Working);
  EXPECT_TRUE(broker.order_at(gapped.order).triggered);
  EXPECT_THAT(fills_of(broker, broker.on_market(kEP, quote(15'000, 15'008), at(3))),
              ElementsAre("buy 15012 x 1"));
}

TEST(VenueTradingMatching, DisplayedSizeCapsFillsAndIsSharedInSubmissionOrder) {
  TradingOptions options;
  options.cap_fill_at_displayed_size = true;
  PaperBroker broker(instruments(), default_accounts(), options);
  const auto big = broker.submit(request(OrderType::Market, Side::Buy, 10), at(1));
  const auto small = broker.submit(request(OrderType::Market, Side::Buy, 3), at(1));

  auto events = broker.on_market(kEP, quote(15'000, 15'001, std::nullopt, 10, 4), at(2));
  EXPECT_THAT(describe(events), ElementsAre("order 0 working 4/6 fill 1",
                                            "position+ 0 qty 4 avg "
                                            "15001 pnl 0"));
  events = broker.on_market(kEP, quote(15'000, 15'002, std::nullopt, 10, 8), at(3));
  EXPECT_THAT(fills_of(broker, events), ElementsAre("buy 15002 x 6", "buy 15002 x 2"));
  const Order& filled = broker.order_at(big.order);
  EXPECT_EQ(filled.status, OrderStatus::Filled);
  EXPECT_EQ(filled.remaining_quantity, 0);
  EXPECT_DOUBLE_EQ(filled.average_fill_price(), (4 * 15'001.0 + 6 * 15'002.0) / 10);

  events = broker.on_market(kEP, quote(15'000, 15'003, std::nullopt, 10, 50), at(4));
  EXPECT_THAT(fills_of(broker, events), ElementsAre("buy 15003 x 1"));
  const Order& rest = broker.order_at(small.order);
  EXPECT_EQ(rest.filled_quantity + rest.remaining_quantity, 3);
  EXPECT_EQ(rest.status, OrderStatus::Filled);
  // Nothing is left working after exact fills.
  EXPECT_TRUE(broker.on_market(kEP, quote(15'000, 15'003, std::nullopt, 10, 50), at(5)).empty());
  EXPECT_EQ(broker.find_position(kAccount, kEP)->quantity, 13);
}

TEST(VenueTradingMatching, SlippageGoesAgainstTheTrader) {
  TradingOptions options;
  options.slippage_ticks = 2;
  PaperBroker broker(instruments(), default_accounts(), options);
  broker.submit(request(OrderType::Market, Side::Buy, 1), at(1));
  broker.submit(request(OrderType::Market, Side::Sell, 1), at(1));
  broker.submit(request(OrderType::Stop, Side::Sell, 1, {}, 15'000), at(1));
  EXPECT_THAT(fills_of(broker, broker.on_market(kEP, quote(15'000, 15'001, 15'000), at(2))),
              ElementsAre("buy 15003 x 1", "sell 14998 x 1", "sell 14998 x 1"));
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
