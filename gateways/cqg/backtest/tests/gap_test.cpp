// A gap in the history: the clock jumps it instead of stepping through it.

#include <gtest/gtest.h>

#include <fstream>

#include "ma_cross.hpp"
#include "orbrix/backtest/backtest.hpp"
#include "orbrix/core/order.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "quiet_trace.hpp"
#include "temp_dir.hpp"

namespace orbrix::backtest {
namespace {

using namespace std::chrono_literals;
using orbrix::testing::TempDir;
using TimePoint = cqg::Engine::TimePoint;

const auto kGapDay = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7};

// Quotes and trades of EP every two seconds over ten minutes from `from`.
void write_session(std::ofstream& out, TimePoint from, int first_tick) {
  for (int i = 0; i < 300; ++i) {
    const int bid = first_tick + (i % 7);
    out << std::chrono::duration_cast<std::chrono::nanoseconds>((from + i * 2s).time_since_epoch())
               .count()
        << ',' << bid * 0.25 << ',' << (bid + 1) * 0.25 << ",5,5," << bid * 0.25 << ",1\n";
  }
}

// Each timer noted; every 30th within the two sessions of rows (the
// second two days after the first) a market order, buying and selling in
// turn.
class Trader final : public cqg::Engine {
 public:
  Trader() : gateway_({"EP"}) {}
  BaseGateway& gateway() override { return gateway_; }
  void start(cqg::BrokerLink& link) override { link.subscribe_quote("EP"); }
  void on_timer(cqg::BrokerLink& link, TimePoint now) override {
    times.push_back(now);
    const bool open = (now >= kGapDay + 14h + 30min && now < kGapDay + 14h + 40min) ||
                      (now >= kGapDay + 62h + 40min && now < kGapDay + 62h + 50min);
    if (open && times.size() % 30 == 0) {
      const auto side = times.size() % 60 ? Direction::LONG : Direction::SHORT;
      link.place_order(Order(gateway_.securities().front(), OrderType::MARKET, side, 1));
    }
  }
  std::vector<TimePoint> times;

 private:
  example::CrossGateway gateway_;
};

class BacktestGap : public ::testing::Test {
 protected:
  // Two sessions of EP, the second `gap` after the first ends.
  std::filesystem::path two_sessions(std::chrono::seconds gap) {
    const auto path = dir_.path() / "two_sessions.csv";
    std::ofstream out(path);
    out << "ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n";
    write_session(out, kGapDay + 14h + 30min, 24200);
    write_session(out, kGapDay + 14h + 40min + gap, 24300);
    return path;
  }

 private:
  orbrix::testing::QuietTrace quiet_;
  TempDir dir_;
};

// Two days without a row: not 172,800 timers of one second, but one jump;
// the timers resume where the rows do, and the orders placed then fill at
// the prices of then.
TEST_F(BacktestGap, TwoDaysWithoutARowAreJumpedNotSteppedThrough) {
  Trader engine;
  const auto path = two_sessions(48h);
  std::vector<std::string> notices;
  const auto r = run_backtest(engine, {.histories = {{"EP", path.string()}},
                                       .warm_up = 2min,
                                       .notice = [&](auto line) { notices.emplace_back(line); }});
  EXPECT_EQ(notices, std::vector<std::string>{
                         "nothing is due from 2026-12-07T14:39:58Z to 2026-12-09T14:40:00Z (2 d 0 "
                         "h): the clock jumps over it; the engine's timer resumes at "
                         "2026-12-09T14:40:00Z"});
  const TimePoint last_row = kGapDay + 14h + 39min + 58s;
  const TimePoint next_row = kGapDay + 14h + 40min + 48h;
  ASSERT_LT(engine.times.size(), 2'000u);
  std::size_t within = 0;
  for (const auto t : engine.times) {
    within += t > last_row && t < next_row ? 1 : 0;
  }
  EXPECT_EQ(within, 0u);
  EXPECT_EQ(engine.times.back(), TimePoint(kGapDay + 48h + 14h + 50min));
  for (std::size_t i = 1; i < engine.times.size(); ++i) {
    // On the engine's grid, a second apart but across the gap.
    EXPECT_EQ((engine.times[i] - engine.times.front()) % 1s, 0s);
  }
  ASSERT_FALSE(r.deals.empty());
  EXPECT_GT(r.deals.back().price, 24300 * 0.25 - 1);
  for (const auto& p : r.equity) {
    const auto t = std::chrono::time_point_cast<TimePoint::duration>(p.time);
    EXPECT_FALSE(t > last_row && t < next_row) << "an equity point within the gap";
  }
}

// A pause within the hour is stepped through, a timer each interval.
TEST_F(BacktestGap, APauseOfLessThanAnHourIsSteppedThrough) {
  Trader engine;
  const auto path = two_sessions(50min);
  std::vector<std::string> notices;
  run_backtest(engine, {.histories = {{"EP", path.string()}},
                        .warm_up = 2min,
                        .notice = [&](auto line) { notices.emplace_back(line); }});
  EXPECT_TRUE(notices.empty());
  for (std::size_t i = 1; i < engine.times.size(); ++i) {
    ASSERT_EQ(engine.times[i] - engine.times[i - 1], 1s) << i;
  }
}

// An order in transit is due like a row: no jump passes its arrival; the
// span after the last row to a later end is a gap too.
TEST_F(BacktestGap, AnOrderInTransitAndTheRestOfTheRunAreDueLikeRows) {
  Trader engine;
  const auto path = two_sessions(48h);
  std::vector<std::string> notices;
  const auto r = run_backtest(engine, {.histories = {{"EP", path.string()}},
                                       .end = kGapDay + 96h,
                                       .warm_up = 2min,
                                       .order_latency = 1h,
                                       .notice = [&](auto line) { notices.emplace_back(line); }});
  // The last order before the pause (placed at 14:39:30) arrives an hour
  // later, with no quote to fill at: the clock steps to it, then jumps.
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices[0].find("from 2026-12-07T15:39:30Z to 2026-12-09T14:40:00Z (1 d 23 h)"),
            std::string::npos)
      << notices[0];
  // The last order of the second session arrives an hour after it too.
  EXPECT_NE(notices[1].find("from 2026-12-09T15:4"), std::string::npos) << notices[1];
  EXPECT_NE(notices[1].find("to 2026-12-11T00:00:00Z (1 d 8 h, the end of the run)"),
            std::string::npos)
      << notices[1];
  EXPECT_EQ(engine.times.back(), TimePoint(kGapDay + 96h));
  EXPECT_LT(engine.times.size(), 10'000u);
  // It fills on the first quote after the pause.
  const cqgsim::VenueTime placed = kGapDay + 14h + 39min + 30s;
  const auto order = std::find_if(r.orders.begin(), r.orders.end(),
                                  [&](const OrderResult& o) { return o.placed == placed; });
  ASSERT_NE(order, r.orders.end());
  const auto filled = std::find_if(r.deals.begin(), r.deals.end(), [&](const Deal& d) {
    return d.order_id == order->last.order_id;
  });
  ASSERT_NE(filled, r.deals.end());
  EXPECT_EQ(filled->time, cqgsim::VenueTime(kGapDay + 48h + 14h + 40min));
}

}  // namespace
}  // namespace orbrix::backtest
