#include "progress_line.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace orbrix::demo {
namespace {

using namespace std::chrono_literals;

TEST(ProgressLine, TimeLeftIsWholeSecondsRoundedUpOrUnknown) {
  EXPECT_EQ(time_left_text(0), "0:00");
  EXPECT_EQ(time_left_text(4.2), "0:05");
  EXPECT_EQ(time_left_text(754), "12:34");
  EXPECT_EQ(time_left_text(3723), "1:02:03");
  EXPECT_EQ(time_left_text(-1), "--:--");
  EXPECT_EQ(time_left_text(1.0 / 0.0), "--:--");
}

TEST(ProgressLine, TheLineSaysShareRowsSpeedAndTimeLeft) {
  backtest::BacktestProgress p{.rows = 1'234'567, .fraction = 0.4215, .rows_per_second = 81'234.9};
  EXPECT_EQ(progress_text(p),
            "backtest  42.1 % of the data, 1,234,567 rows, 81,234 rows/s, --:-- left");
  p.seconds_left = 65;
  p.rows = 999;
  EXPECT_NE(progress_text(p).find(" 999 rows, "), std::string::npos);
  EXPECT_NE(progress_text(p).find("1:05 left"), std::string::npos);
}

// Disabled (not a terminal, or --quiet), nothing is written at all;
// enabled, each line overwrites the one before and is cleared at the end.
TEST(ProgressLine, WritesInPlaceOnlyWhenEnabled) {
  for (const bool enabled : {false, true}) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
      ProgressLine line(f, enabled);
      line.show({.rows = 1, .fraction = 0.5});
      line.show({.rows = 2, .fraction = 1});
    }
    std::rewind(f);
    std::string text;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) {
      text.push_back(static_cast<char>(c));
    }
    std::fclose(f);
    if (!enabled) {
      EXPECT_EQ(text, "");
      continue;
    }
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    EXPECT_EQ(text.rfind("\r\033[K"), text.size() - 4) << "not cleared at the end";
    EXPECT_NE(text.find("\r" + progress_text({.rows = 2, .fraction = 1}) + "\033[K"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace orbrix::demo
