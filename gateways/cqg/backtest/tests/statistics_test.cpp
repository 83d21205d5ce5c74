// Trades and statistics of a hand-made run: one symbol whose deals open,
// close part, flip and close, and an equity curve of three days.

#include <gtest/gtest.h>

#include <chrono>

#include "orbrix/backtest/statistics.hpp"
#include "orbrix/backtest/trades.hpp"

namespace orbrix::backtest {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

const std::string kEp = "F.US.EPZ26";
const auto kDay = sys_days(year(2026) / December / 1);

cqgsim::VenueTime at(hours h, minutes m = 0min) {
  return kDay + h + m;
}

Deal deal(const char* id, cqgsim::VenueTime t, bool buy, std::int64_t qty, double price,
          double commission) {
  return {.deal_id = id,
          .order_id = id,
          .symbol = kEp,
          .buy = buy,
          .quantity = qty,
          .price = price,
          .commission = commission,
          .time = t};
}

BacktestResult run() {
  BacktestResult r;
  r.start = at(0h);
  r.end = at(72h);
  r.deals = {
      deal("1", at(1h), true, 2, 6000.00, 2.0),   // long 2
      deal("2", at(2h), false, 1, 6010.00, 1.0),  // closes 1: +40 ticks
      deal("3", at(3h), false, 3, 6005.00, 3.0),  // closes 1 (+20 ticks), short 2
      deal("4", at(5h), true, 2, 6015.00, 2.0),   // closes the short: -40 ticks each
  };
  r.account.currency = "USD";
  r.account.positions = {{.symbol = kEp, .tick_size = 0.25, .tick_value = 12.5}};
  r.symbols = {{.symbol = kEp, .realized_pnl = -250, .commissions = 8, .deals = 4}};
  const auto point = [](cqgsim::VenueTime t, double v) {
    return EquityPoint{.time = t, .net_liquidating_value = v};
  };
  r.equity = {point(at(0h), 100000), point(at(12h), 101000), point(at(23h, 59min), 102000),
              point(at(36h), 99960), point(at(60h), 101959.2)};
  return r;
}

TEST(Trades, AreMatchedFirstInFirstOutWithPartialClosesSplitAndFeesShared) {
  const auto r = run();
  const auto trades = match_trades(r.deals, contract_terms(r.account));
  ASSERT_EQ(trades.size(), 3u);
  // Half of the first lot at 6010, the other half at 6005, then the short.
  EXPECT_TRUE(trades[0].long_side);
  EXPECT_EQ(trades[0].quantity, 1);
  EXPECT_EQ(trades[0].entry_time, at(1h));
  EXPECT_EQ(trades[0].exit_time, at(2h));
  EXPECT_DOUBLE_EQ(trades[0].fees, 2.0);  // 1 of the entry's 2, 1 of the exit's 1
  EXPECT_DOUBLE_EQ(trades[0].pnl, 500 - 2);
  EXPECT_EQ(trades[1].quantity, 1);
  EXPECT_DOUBLE_EQ(trades[1].exit_price, 6005.00);
  EXPECT_DOUBLE_EQ(trades[1].pnl, 250 - 2);
  EXPECT_FALSE(trades[2].long_side);
  EXPECT_EQ(trades[2].quantity, 2);
  EXPECT_EQ(trades[2].entry_time, at(3h));
  EXPECT_DOUBLE_EQ(trades[2].entry_price, 6005.00);
  EXPECT_DOUBLE_EQ(trades[2].fees, 4.0);
  EXPECT_DOUBLE_EQ(trades[2].pnl, -1000 - 4);
  // Their P&L adds up to the symbol's net P&L.
  EXPECT_DOUBLE_EQ(trades[0].pnl + trades[1].pnl + trades[2].pnl, -258);
  EXPECT_THROW(match_trades(r.deals, {}), std::invalid_argument);
}

TEST(Statistics, MatchHandComputedFigures) {
  const auto r = run();
  const auto stats = statistics(r, match_trades(r.deals, contract_terms(r.account)));
  ASSERT_EQ(stats.size(), 2u);
  const Statistics& all = stats[0];
  EXPECT_EQ(all.scope, "all");
  EXPECT_DOUBLE_EQ(all.net_pnl, -258);
  EXPECT_DOUBLE_EQ(all.fees, 8);
  EXPECT_NEAR(*all.total_return_pct, 1.9592, 1e-9);
  EXPECT_NEAR(*all.annual_return_pct, 961.491545776949, 1e-6);  // 1.019592^(365.25/3) - 1
  // Daily returns +2 %, -2 %, +2 %: mean 0.00667, sample sd 0.02309,
  // downside deviation sqrt(0.02^2 / 3).
  EXPECT_NEAR(*all.sharpe, 4.58257569495584, 1e-9);
  EXPECT_NEAR(*all.sortino, 9.16515138991168, 1e-9);
  ASSERT_TRUE(all.max_drawdown);
  EXPECT_DOUBLE_EQ(all.max_drawdown->amount, 2040);
  EXPECT_NEAR(all.max_drawdown->percent, 2.0, 1e-12);
  EXPECT_EQ(all.max_drawdown->start, at(23h, 59min));
  EXPECT_EQ(all.max_drawdown->trough, at(36h));
  EXPECT_FALSE(all.max_drawdown->recovered);
  EXPECT_EQ(all.max_drawdown->duration, at(60h) - at(23h, 59min));
  EXPECT_EQ(all.trades, 3u);
  EXPECT_NEAR(*all.win_rate_pct, 200.0 / 3, 1e-9);
  EXPECT_NEAR(*all.profit_factor, (498.0 + 248) / 1004, 1e-12);
  EXPECT_DOUBLE_EQ(*all.average_win, 373);
  EXPECT_DOUBLE_EQ(*all.average_loss, -1004);
  EXPECT_DOUBLE_EQ(*all.expectancy, -86);
  EXPECT_NEAR(all.exposure_pct, 4.0 / 72 * 100, 1e-9);  // open from 01:00 to 05:00
  const Statistics& ep = stats[1];
  EXPECT_EQ(ep.scope, kEp);
  EXPECT_DOUBLE_EQ(ep.net_pnl, -258);
  EXPECT_EQ(ep.trades, 3u);
  EXPECT_NEAR(ep.exposure_pct, all.exposure_pct, 1e-12);
  EXPECT_FALSE(ep.sharpe);  // the equity curve is the account's
}

TEST(Statistics, RatiosNeedTwoDaysAndADrawdownThatRecoversSaysSo) {
  auto r = run();
  r.equity.resize(3);  // one day only
  r.equity.push_back({.time = at(23h, 59min) + 30s, .net_liquidating_value = 101500});
  r.equity.push_back({.time = at(23h, 59min) + 45s, .net_liquidating_value = 102000});
  auto stats = statistics(r, {});
  EXPECT_EQ(daily_returns(r.equity).size(), 1u);
  EXPECT_FALSE(stats[0].sharpe);
  EXPECT_FALSE(stats[0].sortino);
  ASSERT_TRUE(stats[0].max_drawdown);
  EXPECT_TRUE(stats[0].max_drawdown->recovered);
  EXPECT_DOUBLE_EQ(stats[0].max_drawdown->amount, 500);
  EXPECT_EQ(stats[0].trades, 0u);
  EXPECT_FALSE(stats[0].win_rate_pct);
  // Without losses there is no profit factor; without a fall, no drawdown.
  r.equity = {{.time = at(0h), .net_liquidating_value = 100}};
  stats = statistics(r, {});
  EXPECT_FALSE(stats[0].max_drawdown);
}

}  // namespace
}  // namespace orbrix::backtest
