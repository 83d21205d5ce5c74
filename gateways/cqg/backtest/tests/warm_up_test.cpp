// The warm-up before a run's start and the bar look-back of the engine.

#include <gtest/gtest.h>

#include "ma_cross.hpp"
#include "orbrix/backtest/backtest.hpp"
#include "orbrix/cqgsim/synthetic_history.hpp"
#include "quiet_trace.hpp"
#include "temp_dir.hpp"

namespace orbrix::backtest {
namespace {

using namespace std::chrono_literals;

class BacktestWarmUp : public ::testing::Test {
 protected:
  BacktestWarmUp() {
    // An hour of EP from 14:00, a trade every minute and more.
    const auto day = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7};
    cqgsim::write_synthetic_history(
        history_, {.symbols = {"EP"}, .from = day + 14h, .to = day + 15h, .seed = 2});
  }

  // The moving-average cross (its window looks back 22 one-minute bars)
  // over the hour with `warm_up`; the notices it gave.
  std::vector<std::string> run(std::chrono::minutes warm_up) {
    example::MovingAverageCross engine({"EP"});
    std::vector<std::string> notices;
    result_ = run_backtest(engine, {.histories = {{"", history_.string()}},
                                    .warm_up = warm_up,
                                    .notice = [&](auto line) { notices.emplace_back(line); }});
    return notices;
  }
  BacktestResult result_;

 private:
  orbrix::testing::TempDir dir_;
  std::filesystem::path history_ = dir_.path() / "hour.csv";
  orbrix::testing::QuietTrace quiet_;
};

// No bar before the start: the gateway makes no window and the engine
// would trade blind for the whole run; refused before its first timer,
// saying why and what serves it.
TEST_F(BacktestWarmUp, AWarmUpThatLeavesABarEngineNoBarIsRefusedSayingWhy) {
  try {
    run(0min);
    FAIL() << "a run without a bar window went ahead";
  } catch (const std::invalid_argument& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("EP: the engine's one-minute bars look back 22, and no bar of it lies "
                        "before the start 2026-12-07T14:00:00Z"),
              std::string::npos)
        << what;
    EXPECT_NE(what.find("a warm-up of 22 minutes or more covers it"), std::string::npos) << what;
  }
}

// Fewer bars than the look-back: said in one line, and the run goes on;
// the default warm-up serves the example's look-back in full.
TEST_F(BacktestWarmUp, AWarmUpShorterThanTheLookBackIsSaidInOneLine) {
  const auto thin = run(5min);
  ASSERT_EQ(thin.size(), 1u);
  EXPECT_EQ(thin[0],
            "EP: the engine's one-minute bars look back 22, but the run starts 5 minutes into the "
            "history, at 2026-12-07T14:05:00Z: its bar window starts with fewer and fills as the "
            "run goes (a warm-up of 22 minutes or more covers it)");
  const auto full = run(22min);
  EXPECT_TRUE(full.empty()) << full.front();
  EXPECT_TRUE(run(BacktestOptions{}.warm_up).empty());
  EXPECT_GT(result_.deals.size(), 0u);
}

}  // namespace
}  // namespace orbrix::backtest
