#include "venue/market/history.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "test_support.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using testing::at;

History parse(const std::string& text) {
  std::istringstream in(text);
  return parse_history(in, "test.csv");
}

// The refusal of `text`, which must name the file, `line` and `column`.
void expect_refused(const std::string& text, std::size_t line, const std::string& column,
                    const std::string& why) {
  try {
    parse(text);
    ADD_FAILURE() << "accepted:\n" << text;
  } catch (const HistoryError& e) {
    EXPECT_EQ(e.source(), "test.csv");
    EXPECT_EQ(e.line(), line) << e.what();
    EXPECT_EQ(e.column(), column) << e.what();
    const std::string prefix = "test.csv:" + std::to_string(line) + ": column " + column + ": ";
    EXPECT_EQ(std::string(e.what()).rfind(column.empty() ? "test.csv:" : prefix, 0), 0u)
        << e.what();
    EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
  }
}

TEST(VenueMarketHistory, ReadsQuotesWithOptionalSizesAndTrades) {
  const History h = parse(
      "ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\r\n"
      "2026-12-07T14:30:00Z,6050.00,6050.25,12,7,6050.25,3\r\n"
      "2026-12-07T14:30:00.5Z,6050.00,6050.25,12,9,,\r\n"
      "\r\n"
      "1796654400123456789, 6050.25 ,6050.50,,,6050.25,\r\n");
  ASSERT_EQ(h.format, HistoryFormat::QuotesAndTrades);
  ASSERT_EQ(h.quotes.size(), 3u);
  EXPECT_EQ(h.quotes[0].time, at("2026-12-07T14:30:00Z"));
  EXPECT_EQ(h.quotes[0].last_price, 6050.25);
  EXPECT_EQ(h.quotes[0].last_size, 3);
  EXPECT_FALSE(h.quotes[1].last_price);
  EXPECT_EQ(h.quotes[1].ask_size, 9);
  EXPECT_EQ(h.quotes[2].time.time_since_epoch().count(), 1796654400123456789);
  EXPECT_EQ(h.quotes[2].bid, 6050.25);
  EXPECT_FALSE(h.quotes[2].bid_size);
  EXPECT_EQ(h.quotes[2].last_price, 6050.25);
  EXPECT_FALSE(h.quotes[2].last_size);
  EXPECT_EQ(h.quotes[2].line, 5u);

  const History minimal = parse("ts_event,bid_price,ask_price\n2026-12-07T14:30:00Z,1,2\n");
  EXPECT_EQ(minimal.quotes.size(), 1u);
}

TEST(VenueMarketHistory, ReadsMinuteBars) {
  const History h = parse(
      "ts_event,open,high,low,close,volume\n"
      "2026-12-07T14:30:00Z,6050.00,6051.00,6049.75,6050.50,120\n"
      "2026-12-07T14:32:00.000000000Z,6050.50,6050.50,6050.00,6050.00,0\n");
  ASSERT_EQ(h.format, HistoryFormat::MinuteBars);
  ASSERT_EQ(h.bars.size(), 2u);
  EXPECT_EQ(h.bars[1].start, at("2026-12-07T14:32:00Z"));
  EXPECT_EQ(h.bars[0].high, 6051.0);
  EXPECT_EQ(h.bars[0].volume, 120);
}

// Rows of several symbols, interleaved, each symbol's own times in order;
// a symbol column read where one history is expected is refused, and so is
// a multi-symbol read without one.
TEST(VenueMarketHistory, ReadsSeveralSymbolsFromOneFileByItsSymbolColumn) {
  std::istringstream in(
      "symbol,ts_event,bid_price,ask_price\n"
      "EP,2026-12-07T14:30:01Z,6050.00,6050.25\n"
      "GCE,2026-12-07T14:30:00Z,2650.0,2650.1\n"
      "EP,2026-12-07T14:30:02Z,6050.25,6050.50\n");
  const auto all = parse_histories(in, "day.csv");
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].first, "EP");
  EXPECT_EQ(all[1].first, "GCE");
  ASSERT_EQ(all[0].second.quotes.size(), 2u);
  EXPECT_EQ(all[0].second.quotes[1].line, 4u);
  EXPECT_EQ(all[1].second.quotes[0].bid, 2650.0);

  const auto refused = [](const std::string& text, bool several, std::size_t line,
                          const std::string& why) {
    std::istringstream text_in(text);
    try {
      if (several) {
        parse_histories(text_in, "day.csv");
      } else {
        parse_history(text_in, "day.csv");
      }
      ADD_FAILURE() << "accepted:\n" << text;
    } catch (const HistoryError& e) {
      EXPECT_EQ(e.line(), line) << e.what();
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
  };
  const std::string bars = "ts_event,open,high,low,close,volume,symbol\n";
  refused(bars + "2026-12-07T14:30:00Z,1,2,1,2,5,EP\n", false, 1, "multi-symbol");
  refused("ts_event,bid_price,ask_price\n2026-12-07T14:30:00Z,1,2\n", true, 1, "symbol");
  refused(bars + "2026-12-07T14:30:00Z,1,2,1,2,5,\n", true, 2, "missing value");
  // Time goes back within one symbol, not across symbols.
  refused(bars + "2026-12-07T14:31:00Z,1,2,1,2,5,EP\n2026-12-07T14:30:00Z,1,2,1,2,5,GCE\n" +
              "2026-12-07T14:30:00Z,1,2,1,2,5,EP\n",
          true, 4, "time goes back");
}

TEST(VenueMarketHistory, RefusesABadHeaderNamingTheColumn) {
  expect_refused("ts_event,bid_price,bid_size\n", 1, "ask_price", "missing column");
  expect_refused("ts_event,open,high,low,close\n", 1, "volume", "missing column");
  expect_refused("time,bid_price,ask_price\n", 1, "time", "unknown column");
  expect_refused("ts_event,bid_price,ask_price,bid_price\n", 1, "bid_price", "twice");
  expect_refused("ts_event,price,size\n", 1, "", "unknown header");
  expect_refused("", 0, "", "empty file");
  expect_refused("ts_event,bid_price,ask_price\n", 1, "", "no records");
  // A column without a name is named by its place.
  expect_refused("ts_event,bid_price,ask_price,\n", 1, "4 (unnamed)", "without a name");
  expect_refused("ts_event,,bid_price,ask_price\n", 1, "2 (unnamed)", "without a name");
}

TEST(VenueMarketHistory, RefusesTimesOutsideTheYearsTheVenueWorksIn) {
  const std::string q = "ts_event,bid_price,ask_price\n";
  // Readable as times, but a replay's arithmetic on them would overflow.
  expect_refused(q + "1678-01-01T00:00:00Z,1,2\n2261-12-31T00:00:00Z,1,2\n", 2, "ts_event",
                 "outside the years 1970 to 2199");
  expect_refused(q + "2026-12-07T14:30:00Z,1,2\n2200-01-01T00:00:00Z,1,2\n", 3, "ts_event",
                 "2200-01-01T00:00:00Z is outside");
  expect_refused(q + "1969-12-31T23:59:59.999999999Z,1,2\n", 2, "ts_event", "outside");
  const History widest =
      parse(q + "1970-01-01T00:00:00Z,1,2\n2199-12-31T23:59:59.999999999Z,1,2\n");
  EXPECT_EQ(widest.quotes.size(), 2u);
}

TEST(VenueMarketHistory, RefusesBadRowsNamingLineAndColumn) {
  const std::string q = "ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n";
  const std::string ok = "2026-12-07T14:30:00Z,6050.00,6050.25,1,1,,\n";
  expect_refused(q + ok + "2026-12-07T14:30:01Z,6050.00,6050.25,1,1\n", 3, "last_price",
                 "missing value");
  expect_refused(q + ok + "2026-12-07T14:30:01Z,6050.00,6050.25,1,1,,,9\n", 3,
                 "8 (beyond the header)", "fields");
  expect_refused(q + ok + "2026-12-07T14:30:01Z,6050.OO,6050.25,1,1,,\n", 3, "bid_price",
                 "not a number");
  expect_refused(q + ok + "2026-12-07T14:30:01Z,nan,6050.25,1,1,,\n", 3, "bid_price",
                 "not a number");
  expect_refused(q + ok + "2026-12-07T14:30:01Z,,6050.25,1,1,,\n", 3, "bid_price", "missing");
  expect_refused(q + ok + "2026-12-07T14:30:01Z,6050.25,6050.25,1,1,,\n", 3, "ask_price",
                 "not below ask");
  expect_refused(q + ok + "2026-12-07T14:30:01Z,6050.50,6050.25,1,1,,\n", 3, "ask_price",
                 "not below ask");
  expect_refused(q + ok + "2026-12-07T14:30:01Z,6050.00,6050.25,-1,1,,\n", 3, "bid_size",
                 "negative");
  expect_refused(q + ok + "2026-12-07T14:30:01Z,6050.00,6050.25,1,1,6050.25,-2\n", 3, "last_size",
                 "negative");
  expect_refused(q + ok + "2026-12-07T14:30:01Z,6050.00,6050.25,1.5,1,,\n", 3, "bid_size",
                 "whole number");
  expect_refused(q + ok + "2026-12-07T14:30:01Z,6050.00,6050.25,1,1,,4\n", 3, "last_price",
                 "last_size is given");
  expect_refused(q + ok + "2026-12-07T14:29:59.999Z,6050.00,6050.25,1,1,,\n", 3, "ts_event",
                 "time goes back");
  expect_refused(q + ok + "2026-12-07T15:30:01+01:00,6050.00,6050.25,1,1,,\n", 3, "ts_event",
                 "ISO 8601");
  expect_refused(q + ok + "2026-12-07 14:30:01,6050.00,6050.25,1,1,,\n", 3, "ts_event", "ISO 8601");
  expect_refused(q + ok + "2026-02-30T14:30:01Z,6050.00,6050.25,1,1,,\n", 3, "ts_event",
                 "ISO 8601");
  // Beyond what 64-bit nanoseconds hold (found by fuzzing: it overflowed).
  expect_refused(q + "9240-12-07T14:30:04Z,6050.00,6050.25,1,1,,\n", 2, "ts_event", "ISO 8601");
  expect_refused(q + "9223372036854775807,6050.00,6050.25,1,1,,\n", 2, "ts_event", "ISO 8601");

  const std::string b = "ts_event,open,high,low,close,volume\n";
  const std::string bar = "2026-12-07T14:30:00Z,10,12,9,11,5\n";
  expect_refused(b + bar + "2026-12-07T14:31:00Z,10,10.5,9,11,5\n", 3, "high", "below");
  expect_refused(b + bar + "2026-12-07T14:31:00Z,10,12,10.5,11,5\n", 3, "low", "above");
  expect_refused(b + bar + "2026-12-07T14:31:00Z,10,12,9,11,-5\n", 3, "volume", "negative");
  expect_refused(b + bar + "2026-12-07T14:30:00Z,10,12,9,11,5\n", 3, "ts_event", "same minute");
  expect_refused(b + bar + "2026-12-07T14:31:30Z,10,12,9,11,5\n", 3, "ts_event", "whole minute");
}

TEST(VenueMarketHistory, LoadsTheSampleFileAndNamesAMissingFile) {
  const History h = load_history(VENUE_MARKET_DATA_DIR "/ep_quotes_sample.csv");
  EXPECT_EQ(h.format, HistoryFormat::QuotesAndTrades);
  EXPECT_GT(h.quotes.size(), 300u);
  EXPECT_NE(h.source.find("ep_quotes_sample.csv"), std::string::npos);
  try {
    load_history("/nonexistent/prices.csv");
    FAIL();
  } catch (const HistoryError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/prices.csv"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("cannot open"), std::string::npos);
  }
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
