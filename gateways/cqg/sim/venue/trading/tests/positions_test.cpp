// Position arithmetic, P&L, marks and account summaries.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "broker_fixture.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using namespace trading_test;
using ::testing::ElementsAre;

constexpr double kTickValue = 12.5;

TEST(VenueTradingPositions, AddingAveragesReducingKeepsTheAverageClosingResets) {
  Position p;
  EXPECT_EQ(book_fill(p, Side::Buy, 1, 100, kTickValue), 0.0);
  EXPECT_EQ(book_fill(p, Side::Buy, 3, 104, kTickValue), 0.0);
  EXPECT_EQ(p.quantity, 4);
  EXPECT_DOUBLE_EQ(p.average_price, 103.0);

  EXPECT_DOUBLE_EQ(book_fill(p, Side::Sell, 1, 110, kTickValue), 7 * kTickValue);
  EXPECT_DOUBLE_EQ(p.average_price, 103.0);
  EXPECT_EQ(p.side(), PositionSide::Long);

  EXPECT_DOUBLE_EQ(book_fill(p, Side::Sell, 3, 101, kTickValue), -2 * 3 * kTickValue);
  EXPECT_EQ(p.quantity, 0);
  EXPECT_EQ(p.average_price, 0.0);
  EXPECT_EQ(p.side(), PositionSide::Flat);
  EXPECT_DOUBLE_EQ(p.realized_pnl, 7 * kTickValue - 6 * kTickValue);

  // A new trade after the reset averages from scratch.
  book_fill(p, Side::Buy, 1, 50, kTickValue);
  EXPECT_DOUBLE_EQ(p.average_price, 50.0);
}

TEST(VenueTradingPositions, AFlipClosesTheOldSideAndOpensTheRestAtTheFillPrice) {
  Position p;
  book_fill(p, Side::Buy, 2, 100, kTickValue);
  // Only the two closed contracts realise; the three opened ones do not.
  EXPECT_DOUBLE_EQ(book_fill(p, Side::Sell, 5, 90, kTickValue), -10 * 2 * kTickValue);
  EXPECT_EQ(p.quantity, -3);
  EXPECT_EQ(p.side(), PositionSide::Short);
  EXPECT_DOUBLE_EQ(p.average_price, 90.0);
  // And back, from short to long.
  EXPECT_DOUBLE_EQ(book_fill(p, Side::Buy, 4, 95, kTickValue), -5 * 3 * kTickValue);
  EXPECT_EQ(p.quantity, 1);
  EXPECT_DOUBLE_EQ(p.average_price, 95.0);
}

TEST(VenueTradingPositions, ShortSideGainsWhenThePriceFalls) {
  Position p;
  book_fill(p, Side::Sell, 2, 100, kTickValue);
  book_fill(p, Side::Sell, 2, 102, kTickValue);
  EXPECT_EQ(p.quantity, -4);
  EXPECT_DOUBLE_EQ(p.average_price, 101.0);
  EXPECT_DOUBLE_EQ(open_trade_equity(p, 99.0, kTickValue), 2 * 4 * kTickValue);
  EXPECT_DOUBLE_EQ(book_fill(p, Side::Buy, 1, 96, kTickValue), 5 * kTickValue);
}

TEST(VenueTradingPositions, EquityIndexTickValueWorkedExample) {
  // E-mini: 0.25 points = 12.50, so a point is 50.00 a contract.
  const InstrumentSpec ep = instruments()[kEP];
  PaperBroker broker(instruments());
  broker.submit(request(OrderType::Market, Side::Buy, 2), at(1));
  broker.on_market(kEP, quote(to_ticks(4999.75, ep.tick_size), to_ticks(5000.00, ep.tick_size)),
                   at(2));
  broker.submit(request(OrderType::Market, Side::Sell, 2), at(3));
  broker.on_market(kEP, quote(to_ticks(5002.50, ep.tick_size), to_ticks(5002.75, ep.tick_size)),
                   at(4));
  // 2.50 points x 50.00 x 2 contracts.
  EXPECT_DOUBLE_EQ(broker.find_position(kAccount, kEP)->realized_pnl, 250.0);
  EXPECT_DOUBLE_EQ(broker.account(kAccount).realized_pnl, 250.0);
}

TEST(VenueTradingPositions, OpenTradeEquityFollowsTheChosenMark) {
  const auto run = [](MarkSource source, std::int64_t quantity) {
    TradingOptions options;
    options.mark = source;
    PaperBroker broker(instruments(), default_accounts(), options);
    broker.submit(
        request(OrderType::Market, quantity > 0 ? Side::Buy : Side::Sell, std::llabs(quantity)),
        at(1));
    broker.on_market(kEP, quote(100, 100), at(2));  // fills at 100 either way
    broker.on_market(kEP, quote(110, 114, 108), at(3));
    return broker.open_trade_equity(*broker.find_position(kAccount, kEP));
  };
  EXPECT_DOUBLE_EQ(run(MarkSource::LastTrade, 2), 8 * 2 * kTickValue);
  EXPECT_DOUBLE_EQ(run(MarkSource::Mid, 2), 12 * 2 * kTickValue);
  EXPECT_DOUBLE_EQ(run(MarkSource::Side, 2), 10 * 2 * kTickValue);    // a long sells at the bid
  EXPECT_DOUBLE_EQ(run(MarkSource::Side, -2), -14 * 2 * kTickValue);  // a short buys at the ask

  // Before any trade has printed, the last-trade mark falls back to the mid.
  PaperBroker broker(instruments());
  broker.submit(request(OrderType::Market, Side::Buy, 1), at(1));
  broker.on_market(kEP, quote(100, 102), at(2));
  const Position& position = *broker.find_position(kAccount, kEP);
  EXPECT_EQ(broker.mark(position), 101.0);
  EXPECT_DOUBLE_EQ(broker.open_trade_equity(position), -1 * kTickValue);
}

TEST(VenueTradingPositions, CommissionComesOffTheBalanceNotTheAverage) {
  TradingOptions options;
  options.commission_per_contract = 2.25;
  PaperBroker broker(instruments(), default_accounts(), options);
  broker.submit(request(OrderType::Market, Side::Buy, 4), at(1));
  broker.on_market(kEP, quote(100, 101), at(2));
  const Position& position = *broker.find_position(kAccount, kEP);
  EXPECT_DOUBLE_EQ(position.average_price, 101.0);
  EXPECT_DOUBLE_EQ(position.commissions, 9.0);
  EXPECT_DOUBLE_EQ(position.realized_pnl, 0.0);
  const AccountSummary summary = broker.summary(kAccount);
  EXPECT_DOUBLE_EQ(summary.commissions, 9.0);
  EXPECT_DOUBLE_EQ(summary.balance, 100'000.0 - 9.0);
  EXPECT_DOUBLE_EQ(summary.profit_loss, 0.0);
}

TEST(VenueTradingPositions, AccountSummaryFiguresAndPositionEvents) {
  TradingOptions options;
  options.commission_per_contract = 1.0;
  PaperBroker broker(instruments(), default_accounts(), options);
  const AccountId other = 100002;
  broker.submit(request(OrderType::Market, Side::Buy, 3), at(1));
  broker.submit(request(OrderType::Market, Side::Sell, 2, {}, {}, kCL), at(1));
  broker.submit(request(OrderType::Market, Side::Buy, 1, {}, {}, kEP, other), at(1));
  EXPECT_THAT(describe(broker.on_market(kEP, quote(15'000, 15'001), at(2))),
              ElementsAre("order 0 filled 3/0 fill 1", "position+ 0 qty 3 avg 15001 pnl 0",
                          "order 2 filled 1/0 fill 2", "position+ 1 qty 1 avg 15001 pnl 0"));
  broker.on_market(kCL, quote(7'000, 7'002, 7'001), at(2));

  broker.submit(request(OrderType::Market, Side::Sell, 1), at(3));
  EXPECT_THAT(describe(broker.on_market(kEP, quote(15'005, 15'006, 15'004), at(4))),
              ElementsAre("order 3 filled 1/0 fill 4", "position 0 qty 2 avg 15001 pnl 50"));

  // EP: 2 long at 15001 marked at 15004; CL: 2 short at 7000 marked at 7001.
  const AccountSummary s = broker.summary(kAccount);
  EXPECT_EQ(s.account, kAccount);
  EXPECT_DOUBLE_EQ(s.profit_loss, 4 * 12.5);
  EXPECT_DOUBLE_EQ(s.commissions, 6.0);
  EXPECT_DOUBLE_EQ(s.balance, 100'000.0 + 50.0 - 6.0);
  EXPECT_DOUBLE_EQ(s.upl, 3 * 2 * 12.5 - 1 * 2 * 10.0);
  EXPECT_DOUBLE_EQ(s.net_liquidating_value, s.balance + s.upl);
  EXPECT_DOUBLE_EQ(s.maintenance_margin, 2 * 12'000.0 + 2 * 5'000.0);
  EXPECT_DOUBLE_EQ(s.collateral, 0.0);
  EXPECT_DOUBLE_EQ(broker.summary(other).collateral, 50'000.0);

  // A closed position stays, flat, and no longer counts for margin or UPL.
  broker.submit(request(OrderType::Market, Side::Sell, 2), at(5));
  broker.on_market(kEP, quote(15'005, 15'006, 15'005), at(6));
  const Position* closed = broker.find_position(kAccount, kEP);
  ASSERT_NE(closed, nullptr);
  EXPECT_EQ(closed->quantity, 0);
  EXPECT_EQ(broker.summary(kAccount).maintenance_margin, 2 * 5'000.0);
  EXPECT_EQ(broker.positions().size(), 3u);
  EXPECT_EQ(broker.find_position(kAccount, 9), nullptr);
  EXPECT_THROW(broker.summary(1), std::out_of_range);
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
