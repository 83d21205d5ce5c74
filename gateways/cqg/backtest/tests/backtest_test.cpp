#include "orbrix/backtest/backtest.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "ma_cross.hpp"
#include "orbrix/backtest/live.hpp"
#include "orbrix/backtest/report.hpp"
#include "orbrix/common/sanitizers.hpp"
#include "orbrix/core/order.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqgsim/synthetic_history.hpp"
#include "quiet_trace.hpp"
#include "sample_run.hpp"
#include "temp_dir.hpp"

namespace orbrix::backtest {
namespace {

using testing::read_file;
using testing::sample_options;

using namespace std::chrono_literals;

using orbrix::testing::TempDir;

// A sanitizer keeps freed memory aside (ASan's quarantine) and runs several
// times slower: the day is thinner there and its memory is not weighed.
constexpr bool kSanitized = kUnderSanitizer;

class Backtest : public ::testing::Test {
 private:
  orbrix::testing::QuietTrace quiet_;
};

// Every `every`-th timer, a market order on each symbol, buying and selling
// in turn; notes the time of each timer and of each placement.
class Alternator final : public cqg::Engine {
 public:
  Alternator(std::vector<std::string> symbols, int every, std::chrono::milliseconds interval = 1s)
      : symbols_(std::move(symbols)), every_(every), interval_(interval), gateway_(symbols_) {}

  BaseGateway& gateway() override { return gateway_; }
  std::chrono::milliseconds interval() const override { return interval_; }
  void start(cqg::BrokerLink& link) override {
    for (const auto& s : symbols_) {
      link.subscribe_quote(s);
    }
  }
  void on_timer(cqg::BrokerLink& link, TimePoint now) override {
    times.push_back(now);
    if (++timers_ % every_ != 0) {
      return;
    }
    const auto side = (timers_ / every_) % 2 ? Direction::LONG : Direction::SHORT;
    for (const auto& security : gateway_.securities()) {
      ids.push_back(link.place_order(Order(security, OrderType::MARKET, side, 1)));
      placed.push_back(now);
    }
  }

  std::vector<TimePoint> times;
  std::vector<TimePoint> placed;
  std::vector<std::string> ids;

 private:
  std::vector<std::string> symbols_;
  int every_;
  std::chrono::milliseconds interval_;
  int timers_ = 0;
  example::CrossGateway gateway_;
};

// The same inputs give the same report, byte for byte, whether the run's
// hand-offs spin or sleep; what it says agrees with itself (fees, P&L per
// symbol and in all, the engine's times).
TEST_F(Backtest, TheSameInputsGiveTheSameReportByteForByte) {
  TempDir a, b;
  Alternator first({"EP"}, 60);
  const auto one = run_backtest(first, sample_options());
  write_report(one, a.path(), {.charts = false});
  Alternator second({"EP"}, 60);
  auto sleeping = sample_options();
  sleeping.spin = false;
  const auto two = run_backtest(second, sleeping);
  write_report(two, b.path(), {.charts = false});
  for (const char* name : {"orders.csv", "deals.csv", "balance.csv", "bars.csv", "summary.txt",
                           "stats.csv", "trades.csv", "pnl.csv"}) {
    const auto text = read_file(a.path() / name);
    EXPECT_GT(text.size(), 60u) << name;
    EXPECT_EQ(text, read_file(b.path() / name)) << name;
  }

  ASSERT_GE(first.ids.size(), 10u);
  EXPECT_EQ(one.orders.size(), first.ids.size());
  // Market orders fill at the touch of the next quote: all but one placed
  // at the very end.
  EXPECT_GE(one.deals.size() + 1, first.ids.size());
  double fees = 0;
  for (const auto& d : one.deals) {
    fees += d.commission;
  }
  EXPECT_DOUBLE_EQ(fees, 2.5 * static_cast<double>(one.deals.size()));
  ASSERT_EQ(one.symbols.size(), 1u);
  const auto& ep = one.symbols.front();
  EXPECT_EQ(ep.deals, one.deals.size());
  EXPECT_EQ(ep.round_trips, one.deals.size() / 2);
  EXPECT_NEAR(ep.realized_pnl, one.account.realized_pnl, 1e-6);
  EXPECT_NEAR(one.account.net_liquidating_value - one.equity.front().net_liquidating_value,
              ep.realized_pnl + ep.unrealized_pnl - ep.commissions, 1e-6);
  EXPECT_FALSE(ep.bars.empty());
  EXPECT_GT(one.history_rows, 200u);
  // The engine's time is the simulated clock's, a second at a time.
  ASSERT_GE(first.times.size(), 2u);
  EXPECT_EQ(first.times.front(), std::chrono::time_point_cast<TimePoint::duration>(one.start) + 1s);
  for (std::size_t i = 1; i < first.times.size(); ++i) {
    EXPECT_EQ(first.times[i] - first.times[i - 1], 1s);
  }
  EXPECT_EQ(first.times.back(), std::chrono::time_point_cast<TimePoint::duration>(one.end));
}

// An order in transit for five simulated minutes is worked then, and the
// run never waits for it on the wall clock (it would time the test out).
TEST_F(Backtest, AnOrderLatencyPassesInSimulatedTimeOnly) {
  auto options = sample_options();
  options.order_latency = 5min;
  options.start = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7} + 14h + 30min;
  options.end = *options.start + 40min;
  Alternator engine({"EP"}, 120, 1s);
  const auto r = run_backtest(engine, options);
  ASSERT_FALSE(engine.placed.empty());
  ASSERT_FALSE(r.deals.empty());
  EXPECT_EQ(r.deals.front().order_id, engine.ids.front());
  // Worked on arrival, filled at the next quote after it.
  const auto filled = std::chrono::time_point_cast<TimePoint::duration>(r.deals.front().time);
  EXPECT_GE(filled, engine.placed.front() + 5min);
  EXPECT_LT(filled, engine.placed.front() + 5min + 30s);
}

// Several symbols from one file; a full synthetic day of twelve: every row
// replayed, each symbol reported, the memory flat over the second half.
TEST_F(Backtest, ADayOfTwelveSymbolsFromOneFileRunsWithFlatMemory) {
  TempDir dir;
  const auto file = dir.path() / "day.csv";
  const std::vector<std::string> symbols{"EP",  "ENQ", "DD",  "TYA", "USA", "EU6",
                                         "JY6", "BP6", "GCE", "SIE", "CLE", "NGE"};
  const auto day = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7};
  const auto rows = cqgsim::write_synthetic_history(file, {.symbols = symbols,
                                                           .from = day,
                                                           .to = day + 24h,
                                                           .mean_interval = kSanitized ? 15s : 4s,
                                                           .seed = 3});
  ASSERT_GT(rows, kSanitized ? 60'000u : 200'000u);

  // The moving-average cross over every symbol, the process's resident
  // memory noted each simulated hour.
  class Sampled final : public cqg::Engine {
   public:
    explicit Sampled(std::vector<std::string> s) : inner(std::move(s), 3, 8) {}
    BaseGateway& gateway() override { return inner.gateway(); }
    std::chrono::milliseconds interval() const override { return inner.interval(); }
    void start(cqg::BrokerLink& link) override { inner.start(link); }
    void on_timer(cqg::BrokerLink& link, TimePoint now) override {
      inner.on_timer(link, now);
      if (++minutes % 60 == 0) {
        long pages = 0, resident = 0;
        std::ifstream("/proc/self/statm") >> pages >> resident;
        rss.push_back(resident * ::sysconf(_SC_PAGESIZE));
      }
    }
    void stop(cqg::BrokerLink& link) override { inner.stop(link); }
    example::MovingAverageCross inner;
    int minutes = 0;
    std::vector<long> rss;
  } engine(symbols);
  const auto r = run_backtest(engine, {.histories = {{"", file.string()}}, .warm_up = 30min});
  // Every row after the first half hour, which is the past.
  EXPECT_LE(r.history_rows, rows);
  EXPECT_GT(r.history_rows, rows - rows / 40);
  ASSERT_EQ(r.symbols.size(), 12u);
  for (const auto& s : r.symbols) {
    // A minute without a trade has no bar.
    EXPECT_GE(s.bars.size(), kSanitized ? 800u : 1350u) << s.symbol;
  }
  EXPECT_GT(r.deals.size(), 12u);
  ASSERT_GE(engine.rss.size(), 22u);
  const long half = engine.rss[engine.rss.size() / 2];
  const long top = *std::max_element(engine.rss.begin() + static_cast<long>(engine.rss.size() / 2),
                                     engine.rss.end());
  if (!kSanitized) {
    EXPECT_LT(top - half, 16l << 20) << "resident memory grew by " << (top - half) << " bytes";
  }
}

// The example strategy's own code, unchanged, live over the simulator and
// in a backtest; a bad span is refused before anything runs.
TEST_F(Backtest, TheExampleRunsLiveAndInABacktestUnchanged) {
  example::MovingAverageCross live({"EP"}, 2, 4, 100ms);
  std::atomic<bool> stop{false};
  run_live(live, {.duration = 600ms}, &stop);

  example::MovingAverageCross tested({"EP"}, 2, 4);
  auto options = sample_options();
  // Ended while the history goes on, so the closing order fills.
  options.end = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7} + 14h + 45min;
  const auto r = run_backtest(tested, options);
  EXPECT_GT(r.deals.size(), 0u);
  EXPECT_EQ(tested.position("EP"), 0);  // closed at the end
  EXPECT_EQ(r.account.positions.front().quantity, 0);

  auto bad = sample_options();
  bad.start = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7};
  bad.end = *bad.start;
  EXPECT_THROW(run_backtest(tested, bad), std::invalid_argument);
  EXPECT_THROW(run_backtest(tested, BacktestOptions{}), std::invalid_argument);
  // Intervals of centuries would wrap the simulated clock's nanoseconds.
  auto slow = sample_options();
  slow.equity_every = std::chrono::hours(24 * 365 * 300);
  try {
    run_backtest(tested, slow);
    ADD_FAILURE() << "an equity interval of centuries was taken";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("equity_every"), std::string::npos);
  }
  // The sample holds minutes: a warm-up of an hour passes its end, and the
  // refusal names the warm-up rather than a start after the end.
  auto long_warm_up = sample_options();
  long_warm_up.warm_up = 60min;
  try {
    run_backtest(tested, long_warm_up);
    ADD_FAILURE() << "a warm-up past the history's end was taken";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("warm-up of 60 minutes"), std::string::npos) << e.what();
  }
  example::MovingAverageCross sleepy({"EP"}, 2, 4, std::chrono::hours(24 * 365 * 300));
  EXPECT_THROW(run_backtest(sleepy, sample_options()), std::invalid_argument);
}

TEST_F(Backtest, TheReportDrawsEachSymbolsChartAndTheEquityCurve) {
  TempDir dir;
  Alternator engine({"EP"}, 90);
  const auto r = run_backtest(engine, sample_options());
  const auto files = write_report(r, dir.path());
  for (const char* name : {"chart_EP.png", "chart_equity.png", "summary.txt"}) {
    EXPECT_TRUE(std::find(files.begin(), files.end(), dir.path() / name) != files.end()) << name;
  }
  const auto summary = read_file(dir.path() / "summary.txt");
  EXPECT_NE(summary.find("maximum drawdown"), std::string::npos) << summary;
  EXPECT_NE(speed_text(r).find("history rows per second"), std::string::npos);
}

}  // namespace
}  // namespace orbrix::backtest
