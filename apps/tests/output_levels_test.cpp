// Which lines each output level prints, on short runs over the simulator.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "demo_runs.hpp"
#include "display_time.hpp"

namespace orbrix::demo {
namespace {

using testing::run_captured;
using testing::short_run;

TEST(DemoOutput, EachLevelPrintsItsLinesAndEveryRunEndsFlat) {
  auto options = short_run();

  options.output = OutputLevel::everything;
  const auto everything = run_captured(options);
  EXPECT_GT(everything.traced_lines(), 10u);
  for (const char* prefix :
       {"demo   ", "connection up", "quote  EP", "book   EP", "bars   EP", "place  ", "order  ",
        "deal   ", "balance ", "position ", "close  ", "summary left: "}) {
    EXPECT_TRUE(everything.has_line_starting(prefix)) << prefix;
  }
  EXPECT_TRUE(everything.summary.flat());

  options.output = OutputLevel::quiet;
  const auto quiet = run_captured(options);
  EXPECT_EQ(quiet.traced_lines(), 0u);
  for (const char* prefix : {"demo   ", "connection up", "place  ", "order  ", "deal   ",
                             "balance ", "position ", "close  ", "summary left: "}) {
    EXPECT_TRUE(quiet.has_line_starting(prefix)) << prefix;
  }
  for (const char* prefix : {"quote", "book", "bars", "DataConnectionStatus"}) {
    EXPECT_FALSE(quiet.has_line_starting(prefix)) << prefix;
  }
  EXPECT_TRUE(quiet.summary.flat());

  options.output = OutputLevel::summary;
  const auto summary = run_captured(options);
  ASSERT_FALSE(summary.lines.empty());
  for (const auto& line : summary.lines) {
    EXPECT_EQ(line.rfind("summary ", 0), 0u) << line;
  }
  EXPECT_TRUE(
      summary.has_line_starting("summary left: no working order, no open position; "
                                "flat: yes"));
  EXPECT_TRUE(summary.summary.flat());
  // The latency is named for what it measures.
  EXPECT_TRUE(summary.has_line_starting(
      "summary latency, vendor event handler start to engine hook: median"));
}

// Every time a line prints carries its zone: the local time's abbreviation.
TEST(DemoOutput, EveryTimeItPrintsCarriesItsZone) {
  auto options = short_run();
  options.output = OutputLevel::quiet;
  const auto run = run_captured(options);
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  const std::string zone = tm.tm_zone;
  const std::regex time(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d( \S+)?)");
  std::size_t times = 0;
  for (const auto& line : run.lines) {
    for (std::sregex_iterator it(line.begin(), line.end(), time), end; it != end; ++it) {
      ++times;
      EXPECT_EQ((*it)[1].str(), " " + zone) << line;
    }
  }
  EXPECT_GT(times, 5u);
}

}  // namespace
}  // namespace orbrix::demo

namespace orbrix::demo {
namespace {

TEST(DisplayTime, TakesTheVendorsTimesAndTheLocalOnesToUtc) {
  using namespace std::chrono;
  const UtcTime t = UtcTime{sys_days{year{2026} / 12 / 8}} + 15h + 44min + 33s + 250ms;
  // The vendor's zone is eight hours ahead of UTC.
  EXPECT_EQ(utc_of_vendor(make_datetime(2026, 12, 8, 23, 44, 33, 250ms)), t);
  EXPECT_EQ(utc_of_vendor(make_datetime(2026, 12, 9, 7, 0, 0)),
            UtcTime{sys_days{year{2026} / 12 / 8}} + 23h);
  // This machine's local fields of `t` come back to `t`.
  const std::time_t tt = system_clock::to_time_t(floor<seconds>(t));
  std::tm tm{};
  localtime_r(&tt, &tm);
  const auto local =
      make_datetime(tm.tm_year + 1900, unsigned(tm.tm_mon + 1), unsigned(tm.tm_mday),
                    unsigned(tm.tm_hour), unsigned(tm.tm_min), unsigned(tm.tm_sec), 250ms);
  EXPECT_EQ(utc_of_local(local), t);
  char fields[32];
  std::strftime(fields, sizeof fields, "%Y-%m-%d %H:%M:%S", &tm);
  EXPECT_EQ(local_text(t), std::string(fields) + " " + tm.tm_zone);
}

}  // namespace
}  // namespace orbrix::demo
