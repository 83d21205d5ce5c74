// The fast readings of a history's text against the general ones they stand
// in for: prices against std::from_chars, times with the day kept against
// times read alone, and lines read in blocks against the rows they hold.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <random>
#include <sstream>
#include <string>

#include "venue/market/decimal_text.hpp"
#include "venue/market/history.hpp"
#include "venue/market/time_text.hpp"

namespace orbrix::cqgsim::venue {
namespace {

double from_chars_value(const std::string& text) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  EXPECT_TRUE(ec == std::errc{} && end == text.data() + text.size()) << text;
  return v;
}

// Every plain decimal of up to 15 digits is read, to the bit what
// std::from_chars reads; other text is left to it.
TEST(VenueText, PlainDecimalsReadAsFromCharsReadsThem) {
  std::mt19937_64 rng(20261209);
  const auto digits = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      s += static_cast<char>('0' + rng() % 10);
    }
    return s;
  };
  for (int i = 0; i < 200'000; ++i) {
    const int whole = 1 + static_cast<int>(rng() % 10);
    const int fraction = static_cast<int>(rng() % static_cast<unsigned>(std::min(9, 16 - whole)));
    std::string text = (rng() % 4 == 0 ? "-" : "") + digits(whole);
    if (fraction > 0) {
      text += "." + digits(fraction);
    }
    double fast = 0;
    ASSERT_TRUE(parse_plain_decimal(text, fast)) << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(fast),
              std::bit_cast<std::uint64_t>(from_chars_value(text)))
        << text;
  }
  for (const std::string text : {"0", "-0", "0.0", "000123.4500", "999999999999999",
                                 "0.00000000000001", "6050.25", "0.1", "-0.30000000000000"}) {
    double fast = 0;
    ASSERT_TRUE(parse_plain_decimal(text, fast)) << text;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(fast),
              std::bit_cast<std::uint64_t>(from_chars_value(text)))
        << text;
  }
  for (const std::string text :
       {"", "-", ".5", "5.", "1e5", "+1", " 1", "1 ", "1.2.3", "--1", "nan", "inf",
        "9999999999999999", "1.000000000000000", "0.000000000000001", "12345678901234567890"}) {
    double untouched = 42;
    EXPECT_FALSE(parse_plain_decimal(text, untouched)) << text;
    EXPECT_EQ(untouched, 42) << text;
  }
}

// The day kept from the row before gives the same time as the text read
// alone, across midnight, a new month and refused texts between.
TEST(VenueText, TimesWithTheDayKeptReadAsTimesReadAlone) {
  TimestampDay day;
  for (const std::string text :
       {"2026-12-07T14:30:00Z", "2026-12-07T14:30:00.5Z", "2026-12-07T23:59:59.999999999Z",
        "2026-12-08T00:00:00Z", "2026-12-07T25:00:00Z", "2026-12-07T14:60:00Z",
        "2026-12-07T14:30:00.Z", "2026-12-07T14:30:00.1234567890Z", "2026-02-30T00:00:00Z",
        "2026-12-07 14:30:00Z", "2026-12-31T12:00:00z", "2027-01-01T00:00:00.001Z",
        "1796744400000000000", "2026-12-07T14:30:00+01:00", "2026-12-07t01:02:03Z"}) {
    const auto alone = parse_timestamp(text);
    const auto kept = parse_timestamp(text, day);
    EXPECT_EQ(alone.has_value(), kept.has_value()) << text;
    if (alone && kept) {
      EXPECT_EQ(*alone, *kept) << text;
    }
  }
}

// Lines are read in blocks: rows across the blocks' edges, a line longer
// than a block, CRLF ends and a last line without one read as written.
TEST(VenueText, LinesReadInBlocksGiveEveryRow) {
  std::string text = "ts_event,bid_price,ask_price\r\n";
  constexpr int kRows = 5000;
  for (int i = 0; i < kRows; ++i) {
    const bool wide = i == 2500;  // far wider than a block, blanks trimmed
    text += "2026-12-07T14:30:" + std::string(i % 60 < 10 ? "0" : "") + std::to_string(i % 60) +
            "Z," + (wide ? std::string(100'000, ' ') : std::string()) + std::to_string(i) + ".25," +
            std::to_string(i) + ".5" + (i + 1 < kRows ? "\r\n" : "");
  }
  HistoryReader reader(std::make_unique<std::istringstream>(text), "blocks.csv");
  HistoryRow row;
  int n = 0;
  while (reader.next(row)) {
    ASSERT_EQ(row.line, static_cast<std::size_t>(n + 2));
    ASSERT_EQ(row.quote.bid, n + 0.25) << "row " << n;
    ASSERT_EQ(row.quote.ask, n + 0.5) << "row " << n;
    ++n;
  }
  EXPECT_EQ(n, kRows);
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
