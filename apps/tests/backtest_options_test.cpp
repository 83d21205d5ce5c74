#include "backtest_options.hpp"
#include "command_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbrix::demo {
namespace {

using namespace std::chrono_literals;

// With a history, which every run needs.
BacktestCommand parse(std::vector<std::string> args) {
  args.insert(args.begin(), {"--history", "EP=ep.csv"});
  return ::orbrix::testing::parse_command_line("orbrix-backtest", std::move(args),
                                               parse_backtest_options);
}

std::string refusal(std::vector<std::string> args) {
  args.insert(args.begin(), {"--history", "EP=ep.csv"});
  return ::orbrix::testing::refusal_of("orbrix-backtest", std::move(args), parse_backtest_options);
}

// A time's range is checked before it becomes nanoseconds, which end in
// 2262: a year beyond the simulator's is refused as such, never wrapped.
TEST(BacktestOptions, TimesOutsideTheSimulatorsYearsAreRefusedBeforeConversion) {
  const auto day = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7};
  EXPECT_EQ(parse({"--start", "2026-12-07T14:30Z"}).run.start, day + 14h + 30min);
  EXPECT_EQ(parse({"--end", "2199-12-31T23:59:59Z"}).run.end,
            std::chrono::sys_days{std::chrono::year{2199} / 12 / 31} + 23h + 59min + 59s);
  EXPECT_EQ(parse({"--start", "1970-01-01"}).run.start, std::chrono::sys_days{});
  for (const char* year :
       {"2300-01-01", "2262-04-12T00:00Z", "2200-01-01", "1969-12-31", "9999-12-31T23:59:59Z"}) {
    const auto why = refusal({"--start", year});
    EXPECT_NE(why.find("--start"), std::string::npos) << year << ": " << why;
    EXPECT_NE(why.find("1970 to 2199"), std::string::npos) << year << ": " << why;
  }
  EXPECT_NE(refusal({"--end", "2300-01-01"}).find("--end"), std::string::npos);
  EXPECT_NE(refusal({"--start", "2026-13-01"}).find("is not a UTC time"), std::string::npos);
  EXPECT_NE(refusal({"--start", "2300"}).find("is not a UTC time"), std::string::npos);
}

// A latency the simulator cannot keep (it keeps whole milliseconds) is
// refused, never rounded to nothing.
TEST(BacktestOptions, ALatencyIsKeptInWholeMillisecondsOrRefused) {
  EXPECT_EQ(parse({"--latency-ms", "50"}).run.order_latency, 50ms);
  EXPECT_EQ(parse({"--latency-ms", "2.0"}).run.order_latency, 2ms);
  EXPECT_EQ(parse({}).run.order_latency, 0ms);
  for (const char* bad : {"0.5", "1.25", "nan", "inf", "-1", "3600001", "1e300"}) {
    EXPECT_NE(refusal({"--latency-ms", bad}).find("--latency-ms"), std::string::npos) << bad;
  }
  EXPECT_NE(refusal({"--latency-ms", "0.5"}).find("whole number of milliseconds"),
            std::string::npos);
}

// Unless given, the warm-up is the engine's bar look-back, so its window
// starts full.
TEST(BacktestOptions, TheDefaultWarmUpIsTheEnginesBarLookBack) {
  EXPECT_EQ(parse({"--engine", "ma-cross"}).run.warm_up, 22min);
  EXPECT_EQ(parse({}).run.warm_up, 60min);
  EXPECT_EQ(parse({"--engine", "ma-cross", "--warm-up", "5"}).run.warm_up, 5min);
}

// A zone the database does not know is refused before the run, not after.
TEST(BacktestOptions, TheReportsZoneIsCheckedWhenGiven) {
  EXPECT_EQ(parse({}).time_zone, "");
  EXPECT_EQ(parse({"--tz", "Asia/Hong_Kong"}).time_zone, "Asia/Hong_Kong");
  const auto why = refusal({"--tz", "Asia/Atlantis"});
  EXPECT_NE(why.find("--tz"), std::string::npos) << why;
  EXPECT_NE(why.find("Asia/Atlantis"), std::string::npos) << why;
}

// A negative seed is refused as such, never wrapped to 2^64 - 1; so is one
// beyond 2^64 - 1, never saturated.
TEST(BacktestOptions, ASeedIsAWholeNumberFromZeroTo2To64Less1) {
  EXPECT_EQ(parse({}).run.seed, 1u);
  EXPECT_EQ(parse({"--seed", "0"}).run.seed, 0u);
  EXPECT_EQ(parse({"--seed", "18446744073709551615"}).run.seed, 18446744073709551615u);
  for (const char* bad : {"-1", "18446744073709551616", "1.5", "seven", "+-3"}) {
    const auto why = refusal({"--seed", bad});
    EXPECT_NE(why.find("--seed"), std::string::npos) << bad << ": " << why;
    EXPECT_NE(why.find("not a seed"), std::string::npos) << bad << ": " << why;
  }
  EXPECT_NE(refusal({"--seed=-1"}).find("not a seed"), std::string::npos);
}

// --help and --version answer without a history (they run nothing); the
// help shows the defaults.
TEST(BacktestOptions, HelpShowsTheDefaultsAndVersionTheProjectsVersion) {
  const auto run = [](std::vector<std::string> args) {
    return ::orbrix::testing::parse_command_line("orbrix-backtest", std::move(args),
                                                 parse_backtest_options);
  };
  const auto version = run({"--version"}).answer;
  ASSERT_TRUE(version);
  EXPECT_EQ(*version, std::string("orbrix-backtest ") + ORBRIX_VERSION + "\n");
  const auto help = run({"--help"}).answer;
  ASSERT_TRUE(help);
  for (const char* shown :
       {"=backtest-report", "=demo", "=direct", "--close-at-end", "--quiet", "--version"}) {
    EXPECT_NE(help->find(shown), std::string::npos) << shown << " in\n" << *help;
  }
  EXPECT_FALSE(parse({}).answer);
}

// The symbols default to those of the histories: those of --history are
// known at once; with a file of several, every one of its own, named when
// the run starts.
TEST(BacktestOptions, TheTradedSymbolsDefaultToTheHistories) {
  EXPECT_EQ(parse({"--history", "cle=cle.csv"}).symbols, (std::vector<std::string>{"EP", "CLE"}));
  EXPECT_EQ(parse({"--symbols", "EP"}).symbols, std::vector<std::string>{"EP"});
  const auto file = std::string(ORBRIX_SAMPLE_QUOTES);
  EXPECT_TRUE(parse({"--histories", file}).symbols.empty());
  EXPECT_TRUE(parse({"--close-at-end"}).run.close_at_end);
  EXPECT_FALSE(parse({}).run.close_at_end);
  EXPECT_TRUE(parse({"--quiet"}).quiet);
}

}  // namespace
}  // namespace orbrix::demo
