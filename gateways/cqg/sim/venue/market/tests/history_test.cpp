#include "venue/market/history.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "test_support.hpp"
#include "venue/market/history_file.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using testing::at;
using testing::text_history;

// Every row of `text`, read as a replay reads them.
struct Read {
  HistoryFormat format;
  std::vector<QuoteRecord> quotes;
  std::vector<BarRecord> bars;
  std::vector<std::size_t> lines;
};
Read read(const std::string& text) {
  HistoryReader reader(std::make_unique<std::istringstream>(text), "test.csv");
  Read out{reader.format(), {}, {}, {}};
  HistoryRow row;
  while (reader.next(row)) {
    out.quotes.push_back(row.quote);
    out.bars.push_back(row.bar);
    out.lines.push_back(row.line);
  }
  return out;
}

HistoryFile check(const std::string& text, std::string_view symbol = "EP") {
  return check_history(text_history(text), "test.csv", symbol);
}

// The refusal of `text` by the checking pass, which must name the file,
// `line` and `column`.
void expect_refused(const std::string& text, std::size_t line, const std::string& column,
                    const std::string& why, std::string_view symbol = "EP") {
  try {
    check(text, symbol);
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
  const Read h = read(
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
  EXPECT_EQ(h.lines[2], 5u);

  const Read minimal = read("ts_event,bid_price,ask_price\n2026-12-07T14:30:00Z,1,2\n");
  EXPECT_EQ(minimal.quotes.size(), 1u);
}

TEST(VenueMarketHistory, ReadsMinuteBars) {
  const Read h = read(
      "ts_event,open,high,low,close,volume\n"
      "2026-12-07T14:30:00Z,6050.00,6051.00,6049.75,6050.50,120\n"
      "2026-12-07T14:32:00.000000000Z,6050.50,6050.50,6050.00,6050.00,0\n");
  ASSERT_EQ(h.format, HistoryFormat::MinuteBars);
  ASSERT_EQ(h.bars.size(), 2u);
  EXPECT_EQ(h.bars[1].start, at("2026-12-07T14:32:00Z"));
  EXPECT_EQ(h.bars[0].high, 6051.0);
  EXPECT_EQ(h.bars[0].volume, 120);
}

// The checking pass keeps what a replay and a run need of a file (its
// instruments, their first and last times and rows, whether the file is in
// time order), none of its rows.
TEST(VenueMarketHistory, CheckingAFileSumsUpEachInstrument) {
  const HistoryFile one = check(
      "ts_event,open,high,low,close,volume\n"
      "2026-12-07T14:30:00Z,6050.00,6051.00,6049.75,6050.50,120\n"
      "2026-12-07T14:32:00Z,6050.50,6050.50,6050.00,6050.00,0\n",
      "epz26");
  ASSERT_EQ(one.series.size(), 1u);
  EXPECT_EQ(one.series[0].symbol, "EP");
  EXPECT_EQ(one.series[0].tick_size, 0.25);
  EXPECT_EQ(one.series[0].first, at("2026-12-07T14:30:00Z"));
  EXPECT_EQ(one.series[0].last, at("2026-12-07T14:32:00Z"));
  EXPECT_EQ(one.series[0].rows, 2u);
  EXPECT_FALSE(one.symbol_column);
  EXPECT_TRUE(one.in_time_order);
  EXPECT_THROW(check("ts_event,bid_price,ask_price\n2026-12-07T14:30:00Z,1,2\n", "XYZ"),
               std::invalid_argument);
}

// Rows of several symbols, interleaved, each instrument's own times in
// order (its spellings are one instrument); a symbol column where one
// instrument is given is refused, and so is a multi-symbol file without one.
TEST(VenueMarketHistory, ChecksSeveralSymbolsOfOneFileEachOnItsOwn) {
  const HistoryFile day = check(
      "symbol,ts_event,bid_price,ask_price\n"
      "EP,2026-12-07T14:30:01Z,6050.00,6050.25\n"
      "GCE,2026-12-07T14:30:00Z,2650.0,2650.1\n"
      "F.US.EPH27,2026-12-07T14:30:02Z,6050.25,6050.50\n",
      "");
  ASSERT_EQ(day.series.size(), 2u);
  EXPECT_EQ(day.series[0].symbol, "EP");
  EXPECT_EQ(day.series[0].rows, 2u);
  EXPECT_EQ(day.series[1].symbol, "GCE");
  EXPECT_EQ(day.series[1].tick_size, 0.1);
  EXPECT_TRUE(day.symbol_column);
  EXPECT_FALSE(day.in_time_order);  // GCE's row comes after a later EP row

  const std::string bars = "ts_event,open,high,low,close,volume,symbol\n";
  expect_refused(bars + "2026-12-07T14:30:00Z,1,2,1,2,5,EP\n", 1, "symbol", "multi-symbol");
  expect_refused("ts_event,bid_price,ask_price\n2026-12-07T14:30:00Z,1,2\n", 1, "symbol",
                 "missing column", "");
  expect_refused(bars + "2026-12-07T14:30:00Z,1,2,1,2,5,\n", 2, "symbol", "missing value", "");
  expect_refused(bars + "2026-12-07T14:30:00Z,1,2,1,2,5,ZZZ\n", 2, "symbol",
                 "ZZZ is not an instrument", "");
  // Time goes back within one instrument, whatever its spelling; not across
  // instruments.
  expect_refused(bars + "2026-12-07T14:31:00Z,1,2,1,2,5,EP\n2026-12-07T14:30:00Z,1,2,1,2,5,GCE\n" +
                     "2026-12-07T14:30:00Z,1,2,1,2,5,EPZ26\n",
                 4, "ts_event", "time goes back", "");
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
  expect_refused(q + "2199-12-07T14:30:00Z,1,2\n2200-01-01T00:00:00Z,1,2\n", 3, "ts_event",
                 "2200-01-01T00:00:00Z is outside");
  expect_refused(q + "1969-12-31T23:59:59.999999999Z,1,2\n", 2, "ts_event", "outside");
  EXPECT_EQ(check(q + "1970-01-01T00:00:00Z,1,2\n").series[0].rows, 1u);
  EXPECT_EQ(check(q + "2199-12-31T23:59:59.999999999Z,1,2\n").series[0].rows, 1u);
}

// A row more than 31 days from the rows before it in its file is a time
// stamp out of place (a mistyped year), whichever instrument it is of and
// wherever in the file it is; a weekend or a month's pause is not.
TEST(VenueMarketHistory, RefusesARowPlainlyOutOfPlaceNamingBothLines) {
  const std::string q = "ts_event,bid_price,ask_price\n";
  const std::string a = "2026-12-07T14:30:00Z,1,2\n";
  const std::string b = "2026-12-07T14:30:01Z,1,2\n";
  // The last row's year mistyped: nothing after it goes back.
  expect_refused(q + a + b + "2036-12-07T14:30:02Z,1,2\n", 4, "ts_event",
                 "2036-12-07T14:30:02Z is 3653 days after 2026-12-07T14:30:01Z (line 3)");
  // The first row's: the row after it names it.
  expect_refused(q + "2016-12-07T14:30:00Z,1,2\n" + b, 3, "ts_event", "(line 2): a time stamp out");
  // In a file of several symbols, against the rows of every symbol.
  const std::string m = "symbol,ts_event,bid_price,ask_price\n";
  expect_refused(m + "EP," + a + "GCE,2036-12-07T14:30:00Z,1,2\n", 3, "ts_event", "3653 days after",
                 "");
  expect_refused(m + "EP," + a + "GCE,2016-12-07T14:30:00Z,1,2\n", 3, "ts_event",
                 "3652 days before 2026-12-07T14:30:00Z (line 2)", "");
  // Within the bound: a long weekend, a month to the day, a file of several
  // symbols listed one after the other.
  EXPECT_EQ(check(q + a + "2026-12-11T14:30:00Z,1,2\n2027-01-11T14:30:00Z,1,2\n").series[0].rows,
            3u);
  EXPECT_EQ(check(m + "EP,2026-12-07T14:30:00Z,1,2\nEP,2026-12-20T14:30:00Z,1,2\n" +
                      "GCE,2026-12-07T14:30:00Z,1,2\n",
                  "")
                .series.size(),
            2u);
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
  expect_refused(q + ok + "2026-12-07T14:30:01Z,6050.10,6050.25,1,1,,\n", 3, "bid_price",
                 "tick grid");
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

// 4e20 is a whole number of ticks as a double: only the bound catches it.
TEST(VenueMarketHistory, RefusesAPriceBeyondTheVenuesBoundWithItsPlace) {
  expect_refused(
      "ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n"
      "2026-12-07T14:29:00Z,6050.00,6050.25,1,1,,\n"
      "2026-12-07T14:31:00Z,6050.00,6050.25,1,1,400000000000000000000,1\n",
      3, "last_price", "beyond the largest price");
  expect_refused(
      "ts_event,open,high,low,close,volume\n2026-12-07T14:30:00Z,1e20,1e20,1e20,1e20,5\n", 2,
      "open", "beyond the largest price");
  EXPECT_NO_THROW(check("ts_event,bid_price,ask_price\n2026-12-07T14:29:00Z,-0.25,250000000000\n"));
}

TEST(VenueMarketHistory, ChecksTheSampleFileAndNamesAMissingFile) {
  const HistoryFile h = check_history_file(VENUE_MARKET_DATA_DIR "/ep_quotes_sample.csv", "EP");
  EXPECT_EQ(h.format, HistoryFormat::QuotesAndTrades);
  EXPECT_GT(h.series[0].rows, 300u);
  EXPECT_NE(h.source.find("ep_quotes_sample.csv"), std::string::npos);
  try {
    check_history_file("/nonexistent/prices.csv", "EP");
    FAIL();
  } catch (const HistoryError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/prices.csv"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("cannot open"), std::string::npos);
  }
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
