#pragma once

// Recorded market history read from CSV, row by row, so an instrument can
// replay real data instead of the random walk. Two formats, told apart by
// the header:
//   quotes and trades  ts_event,bid_price,ask_price[,bid_size,ask_size][,last_price,last_size]
//   one-minute bars    ts_event,open,high,low,close,volume
// Either may carry a `symbol` column naming each row's instrument. Time
// stamps: ISO 8601 UTC with Z (up to nanoseconds) or integer nanoseconds
// since the epoch. README.md of the simulator describes both.
//
// A row out of place. Besides the rules of each row, a row must lie within
// kMaxRecordGap (31 days) of the rows before it in the file: not more than
// that after the latest of them, nor before the earliest. A recording
// pauses for a weekend or a holiday, never for a month, so a row beyond
// that is a mistyped time stamp (2036 for 2026), which would otherwise make
// a replay run through ten empty years. Each instrument's own times never
// go back (HistoryOrder), which also catches a mistyped month or day that
// is followed by a correct row.
//
// Reading holds the header's layout and one line, never the rows. Any
// thread, one reader per thread; next() blocks while it reads the stream.

#include <array>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "venue/market/time_text.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// A refused history file: what() reads "<file>:<line>: column <name>: <why>"
// (line 0 and no column when the file cannot be read at all).
class HistoryError : public std::runtime_error {
 public:
  HistoryError(std::string source, std::size_t line, std::string column, const std::string& why);
  const std::string& source() const { return source_; }
  std::size_t line() const { return line_; }  // 1-based; the header is line 1
  const std::string& column() const { return column_; }

 private:
  std::string source_;
  std::size_t line_;
  std::string column_;
};

enum class HistoryFormat : std::uint8_t { QuotesAndTrades, MinuteBars };

// The furthest a row may lie from the rows before it in its file.
inline constexpr Duration kMaxRecordGap = std::chrono::days(31);

// Prices as written in the file (decimal); they become ticks when an
// instrument replays them.
struct QuoteRecord {
  Timestamp time{};
  double bid = 0;
  double ask = 0;
  std::optional<std::int64_t> bid_size;
  std::optional<std::int64_t> ask_size;
  std::optional<double> last_price;  // set when a trade printed at this time
  std::optional<std::int64_t> last_size;
};

struct BarRecord {
  Timestamp start{};  // start of the minute
  double open = 0;
  double high = 0;
  double low = 0;
  double close = 0;
  std::int64_t volume = 0;
};

// One row as read: `quote` in a quotes-and-trades file, `bar` in a bars file.
struct HistoryRow {
  std::string_view
      symbol;  // the symbol column's text (empty without one); valid until the next read
  std::size_t line = 0;
  QuoteRecord quote;
  BarRecord bar;
};

class HistoryReader {
 public:
  // Reads and checks the header of `in`; `source` names it in messages.
  // Throws HistoryError for an empty stream, an unknown header, a column
  // unknown to its format, given twice or without a name, or a required
  // column missing.
  HistoryReader(std::unique_ptr<std::istream> in, std::string source);
  // The same for a file; throws HistoryError (line 0) when it cannot be opened.
  static HistoryReader open(const std::filesystem::path& path);

  HistoryReader(HistoryReader&&) noexcept;
  HistoryReader& operator=(HistoryReader&&) noexcept;
  ~HistoryReader();

  const std::string& source() const { return source_; }
  HistoryFormat format() const { return format_; }
  bool has_symbol_column() const;

  // Reads and checks the next row; false after the last one. Throws
  // HistoryError naming the line and column of a row with fewer or more
  // fields than the header, a value that is not a number or time stamp, a
  // time outside the years the venue works in (kFirstYear to kLastYear) or
  // out of place (above), a bid at or above the ask, a negative size or
  // volume, a bar whose high or low does not contain the others or that
  // does not start on a whole minute, an empty symbol, or a read error.
  // Reuses its buffers: no allocation once they are warm.
  bool next(HistoryRow& row);
  // The line last read (the header's before any row).
  std::size_t line() const { return line_; }
  // The bytes held to read a line: its text and its fields.
  std::size_t buffer_bytes() const {
    return buffer_.capacity() + fields_.capacity() * sizeof(std::string_view);
  }
  // The row's time: its quote's, or its bar's start.
  Timestamp time_of(const HistoryRow& row) const {
    return format_ == HistoryFormat::MinuteBars ? row.bar.start : row.quote.time;
  }

  // Throws HistoryError at the line last read.
  [[noreturn]] void fail(std::string_view column, const std::string& why) const;

 private:
  enum Column : int {
    TsEvent,
    BidPrice,
    AskPrice,
    BidSize,
    AskSize,
    LastPrice,
    LastSize,
    Open,
    High,
    Low,
    Close,
    Volume,
    Symbol,
    kColumnCount
  };

  bool read_line(std::string_view& line);
  void read_header();
  void parse_header(const std::vector<std::string_view>& names);
  void check_field_count() const;
  std::string_view field(int c) const;
  Timestamp read_time();
  std::optional<double> read_price(int c, bool required) const;
  std::optional<std::int64_t> read_size(int c, bool required) const;
  void read_quote(QuoteRecord& r);
  void read_bar(BarRecord& r);

  std::unique_ptr<std::istream> in_;
  std::string source_;
  HistoryFormat format_ = HistoryFormat::QuotesAndTrades;
  std::size_t line_ = 0;
  std::size_t columns_ = 0;
  std::array<int, kColumnCount> position_{};
  // The stream is read in blocks: the lines are views into them, the line
  // being read among them.
  std::string buffer_;
  std::size_t begin_ = 0;                 // the next line's first byte
  std::size_t end_ = 0;                   // the end of the bytes read
  bool drained_ = false;                  // the stream has no more bytes
  std::vector<std::string_view> fields_;  // the line's fields
  TimestampDay day_;
  // The span of the rows read so far, for the out-of-place rule.
  std::optional<Timestamp> earliest_;
  std::optional<Timestamp> latest_;
  std::size_t earliest_line_ = 0;
  std::size_t latest_line_ = 0;
};

// The order of one instrument's rows: its times never go back, and two bars
// are never of the same minute. One per instrument of a file.
class HistoryOrder {
 public:
  // Throws HistoryError at the reader's line when `t` breaks the order.
  void check(const HistoryReader& reader, Timestamp t);

 private:
  std::optional<Timestamp> previous_;
};

}  // namespace orbrix::cqgsim::venue
