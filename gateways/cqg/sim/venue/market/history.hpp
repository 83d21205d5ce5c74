#pragma once

// Recorded market history read from CSV, so an instrument can replay real
// data instead of the random walk. Two formats, told apart by the header:
//   quotes and trades  ts_event,bid_price,ask_price[,bid_size,ask_size][,last_price,last_size]
//   one-minute bars    ts_event,open,high,low,close,volume
// Time stamps: ISO 8601 UTC with Z (up to nanoseconds) or integer
// nanoseconds since the epoch. README.md of the simulator describes both.
//
// The whole file is validated before a History is returned: nothing
// half-read is ever used. Any thread; loading blocks while it reads the file
// and allocates (it is not a hot path).

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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
  std::size_t line = 0;
};

struct BarRecord {
  Timestamp start{};  // start of the minute
  double open = 0;
  double high = 0;
  double low = 0;
  double close = 0;
  std::int64_t volume = 0;
  std::size_t line = 0;
};

struct History {
  std::string source;  // file name, for messages
  HistoryFormat format = HistoryFormat::QuotesAndTrades;
  std::vector<QuoteRecord> quotes;  // QuotesAndTrades
  std::vector<BarRecord> bars;      // MinuteBars
  std::size_t size() const {
    return format == HistoryFormat::MinuteBars ? bars.size() : quotes.size();
  }
};

// Reads and validates a history file. Throws HistoryError naming the file,
// line and column of the first fault: an unknown header, a missing or
// unnamed column, a row with more fields than the header, a value that is
// not a number or time stamp, a time outside the years the venue works in
// (kFirstYear to kLastYear), a bid at or above the ask, a negative size or
// volume, a bar whose high or low does not contain the others, time stamps
// going back, or no records at all. Prices are checked against an
// instrument's tick grid and the venue's price bound by replay_check.
History load_history(const std::filesystem::path& path);

// The same from a stream; `source` names it in messages. A file with a
// symbol column is refused here: it is read by load_histories.
History parse_history(std::istream& in, const std::string& source);

// A history of several instruments: either format with a `symbol` column
// naming each row's instrument (rows of different symbols may interleave;
// each symbol's own times never go back). Checked as load_history checks;
// returns one history per symbol, in the order each first appears, each
// record keeping its line in the file.
std::vector<std::pair<std::string, History>> load_histories(const std::filesystem::path& path);
std::vector<std::pair<std::string, History>> parse_histories(std::istream& in,
                                                             const std::string& source);

// Checks that `history` can be replayed by `contract`: every price on its
// tick grid and within kMaxPriceTicks. Throws HistoryError naming the file,
// line and column of the first price that is not.
void replay_check(const History& history, const InstrumentSpec& contract);

}  // namespace orbrix::cqgsim::venue
