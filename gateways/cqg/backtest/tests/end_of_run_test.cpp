// What a run says and leaves as it goes and when its data ends: traded
// symbols without a history refused, the traced lines in their file, the
// progress told, and what is still open listed, or closed when asked.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ma_cross.hpp"
#include "orbrix/backtest/backtest.hpp"
#include "orbrix/backtest/report.hpp"
#include "orbrix/backtest/statistics.hpp"
#include "orbrix/core/order.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "quiet_trace.hpp"
#include "sample_run.hpp"
#include "temp_dir.hpp"

namespace orbrix::backtest {
namespace {

using testing::read_file;
using testing::sample_options;

using namespace std::chrono_literals;

// Subscribes its symbols; at its first timer buys one contract of the first
// and rests a sell limit far above the market, which never fills; does
// nothing at its stop.
class BuyAndHold final : public cqg::Engine {
 public:
  explicit BuyAndHold(std::vector<std::string> symbols)
      : symbols_(std::move(symbols)), gateway_(symbols_) {}
  BaseGateway& gateway() override { return gateway_; }
  std::chrono::milliseconds interval() const override { return 1min; }
  void start(cqg::BrokerLink& link) override {
    for (const auto& s : symbols_) {
      link.subscribe_quote(s);
    }
  }
  void on_timer(cqg::BrokerLink& link, TimePoint) override {
    if (timers_++ == 0) {
      const auto& ep = gateway_.securities().front();
      link.place_order(Order(ep, OrderType::MARKET, Direction::LONG, 1));
      link.place_order(Order(ep, OrderType::LIMIT, Direction::SHORT, 1, 7000));
    }
  }

 private:
  std::vector<std::string> symbols_;
  example::CrossGateway gateway_;
  int timers_ = 0;
};

class EndOfRun : public ::testing::Test {
 private:
  orbrix::testing::QuietTrace quiet_;
};

// A symbol the histories do not hold is refused with the reason, not
// traded on the generated market; so are bars of it.
TEST_F(EndOfRun, ATradedSymbolWithoutHistoryIsRefusedWithTheReason) {
  BuyAndHold engine({"EP", "CLE"});
  try {
    run_backtest(engine, sample_options());
    FAIL() << "CLE was traded without a history";
  } catch (const std::exception& e) {
    const std::string why = e.what();
    EXPECT_NE(why.find("CLE has no recorded history"), std::string::npos) << why;
    EXPECT_NE(why.find("the histories hold EP"), std::string::npos) << why;
  }
  class BarsOnly final : public cqg::Engine {
   public:
    BaseGateway& gateway() override { return gateway_; }
    std::chrono::milliseconds interval() const override { return 1min; }
    void start(cqg::BrokerLink& link) override { link.subscribe_bar("GCE", 5, "1Min"); }
    void on_timer(cqg::BrokerLink&, TimePoint) override {}
    example::CrossGateway gateway_{{"GCE"}};
  } bars;
  EXPECT_THROW(run_backtest(bars, sample_options()), std::exception);
  // With only its own symbol, the same engine runs.
  BuyAndHold alone({"EP"});
  EXPECT_FALSE(run_backtest(alone, sample_options()).deals.empty());
}

TEST_F(EndOfRun, TheDefaultSymbolsAreTheHistoriesOwnEachOnce) {
  EXPECT_EQ(history_symbols({{"EP", ORBRIX_SAMPLE_QUOTES}, {"ep", ORBRIX_SAMPLE_QUOTES}}),
            std::vector<std::string>{"EP"});
}

// During the run the traced lines go to the file, not to the sink set
// before, which has them again afterwards.
TEST_F(EndOfRun, TracedLinesGoToTheRunsFileAndThePreviousSinkComesBack) {
  orbrix::testing::TempDir dir;
  std::vector<std::string> outside;
  const auto before =
      cqg::set_trace_sink([&outside](std::string_view line) { outside.emplace_back(line); });
  auto options = sample_options();
  options.trace_log = dir.path() / "report" / "trace.log";
  BuyAndHold engine({"EP"});
  run_backtest(engine, options);
  cqg::Trace("after the run");
  cqg::set_trace_sink(before);
  ASSERT_EQ(outside.size(), 1u) << outside.front();
  EXPECT_NE(outside.front().find("after the run"), std::string::npos);
  const auto log = read_file(options.trace_log);
  EXPECT_GT(std::count(log.begin(), log.end(), '\n'), 5) << log;
  EXPECT_EQ(log.find("after the run"), std::string::npos);
}

// Told as often as asked (here each millisecond of wall time, at most once
// a step) and once at the end: the share and the rows only grow, and the
// end is the whole run.
TEST_F(EndOfRun, ProgressIsToldAsTheRunGoesAndAtItsEnd) {
  std::vector<BacktestProgress> told;
  auto options = sample_options();
  options.progress_every = 1ms;
  options.progress = [&](const BacktestProgress& p) { told.push_back(p); };
  class Slow final : public cqg::Engine {
   public:
    BaseGateway& gateway() override { return inner.gateway(); }
    std::chrono::milliseconds interval() const override { return 1min; }
    void start(cqg::BrokerLink& link) override { inner.start(link); }
    void on_timer(cqg::BrokerLink& link, TimePoint now) override {
      inner.on_timer(link, now);
      std::this_thread::sleep_for(2ms);
    }
    BuyAndHold inner{{"EP"}};
  } engine;
  const auto r = run_backtest(engine, options);
  ASSERT_GE(told.size(), 3u);
  for (std::size_t i = 1; i < told.size(); ++i) {
    EXPECT_GE(told[i].fraction, told[i - 1].fraction);
    EXPECT_GE(told[i].rows, told[i - 1].rows);
    EXPECT_GE(told[i].now, told[i - 1].now);
  }
  EXPECT_GT(told.front().fraction, 0);
  EXPECT_LT(told.front().fraction, 1);
  ASSERT_TRUE(told.front().seconds_left);
  EXPECT_EQ(told.back().fraction, 1);
  EXPECT_EQ(told.back().rows, r.history_rows);
  EXPECT_EQ(told.back().now, r.end);
  EXPECT_EQ(*told.back().seconds_left, 0);

  // What the callback throws ends the run with that error.
  options.progress = [](const BacktestProgress&) { throw std::runtime_error("no display"); };
  BuyAndHold other({"EP"});
  try {
    run_backtest(other, options);
    FAIL() << "the callback's error was dropped";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "no display");
  }
}

// The data ends with a long open and a limit working: both are listed, the
// position marked to the last trade in the figures. Asked to, the run
// cancels the limit and sells the position at the last bid (less the
// slippage) instead.
TEST_F(EndOfRun, WhatIsOpenAtTheEndIsListedAndMarkedOrClosedAtTheLastQuote) {
  BuyAndHold held({"EP"});
  const auto open = run_backtest(held, sample_options());
  ASSERT_EQ(open.account.positions.size(), 1u);
  const auto& p = open.account.positions.front();
  ASSERT_EQ(p.quantity, 1);
  const auto summary = summary_text(open);
  EXPECT_NE(summary.find("open      F.US.EPZ26 long 1 at " + fmt::format("{}", p.average_price)),
            std::string::npos)
      << summary;
  // Marked to the last trade printed: the close of the last bar.
  const double last_trade = open.symbols.front().bars.back().close;
  EXPECT_NE(summary.find(fmt::format("marked {}: {:.2f} USD", last_trade, p.open_trade_equity)),
            std::string::npos)
      << summary;
  EXPECT_NEAR(p.open_trade_equity, (last_trade - p.average_price) * p.tick_value / p.tick_size,
              1e-9);
  EXPECT_NE(summary.find("working   "), std::string::npos) << summary;
  EXPECT_NE(summary.find(" sell 1 limit at 7000 (0 filled)"), std::string::npos) << summary;
  const auto stats = statistics(open, match_trades(open.deals, contract_terms(open.account)));
  EXPECT_NEAR(stats.front().net_pnl, p.open_trade_equity - p.commissions, 1e-9);
  EXPECT_EQ(stats.front().trades, 0u);

  // With an order latency too: the run's own closing is worked at once.
  for (const auto latency : {0ms, 50ms}) {
    SCOPED_TRACE(latency.count());
    auto options = sample_options();
    options.close_at_end = true;
    options.order_latency = latency;
    BuyAndHold closed_engine({"EP"});
    const auto closed = run_backtest(closed_engine, options);
    ASSERT_EQ(closed.deals.size(), 2u);
    const auto& sold = closed.deals.back();
    EXPECT_FALSE(sold.buy);
    EXPECT_EQ(sold.quantity, 1);
    EXPECT_DOUBLE_EQ(sold.price, 6047.25 - 0.25);  // the last row's bid, one tick of slippage
    EXPECT_EQ(closed.account.positions.front().quantity, 0);
    std::size_t cancelled = 0;
    for (const auto& o : closed.orders) {
      cancelled += o.last.status == "cancelled" ? 1 : 0;
    }
    EXPECT_EQ(cancelled, 1u);
    EXPECT_NE(summary_text(closed).find("at end    flat, no order working"), std::string::npos);
    const auto trades = match_trades(closed.deals, contract_terms(closed.account));
    ASSERT_EQ(trades.size(), 1u);
    EXPECT_DOUBLE_EQ(trades.front().exit_price, sold.price);
    EXPECT_NEAR(
        closed.equity.back().net_liquidating_value - closed.equity.front().net_liquidating_value,
        trades.front().pnl, 1e-6);
  }
}

}  // namespace
}  // namespace orbrix::backtest
