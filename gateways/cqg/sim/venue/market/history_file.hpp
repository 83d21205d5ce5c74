#pragma once

// A history file checked whole before anything replays it, by one pass that
// keeps none of its rows: what the pass found (its instruments, each one's
// first and last time and rows) and how to open it again, which is all a
// replay needs to stream it later.
//
// Any thread; checking blocks while it reads the file.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "venue/market/history.hpp"

namespace orbrix::cqgsim::venue {

// Opens the history from its start (its header), each time it is called.
using HistoryOpener = std::function<std::unique_ptr<std::istream>()>;

// One instrument's rows in a file.
struct HistorySeries {
  std::string symbol;    // the listed contract's short symbol ("EP")
  double tick_size = 0;  // the grid its prices were checked against
  Timestamp first{};     // time of its first row (a bar's start)
  Timestamp last{};      // and of its last
  std::size_t rows = 0;
};

struct HistoryFile {
  std::string source;  // the file's name, for messages
  HistoryOpener open;
  HistoryFormat format = HistoryFormat::QuotesAndTrades;
  bool symbol_column = false;
  // Every row at or after the row before it, whatever its instrument: one
  // reader can feed all its instruments in step with the clock.
  bool in_time_order = true;
  std::vector<HistorySeries> series;  // in the order each first appears

  // The series of the contract `symbol` (short), or null.
  const HistorySeries* find(std::string_view symbol) const;
};

// Reads the whole history once and checks every row as HistoryReader and
// HistoryOrder do, each instrument on its own, and every price against the
// tick grid of the instrument and kMaxPriceTicks. `symbol` names the
// instrument of a history without a symbol column (short, dated in any month
// or full name); empty, the history must have one, and each row names its
// instrument, spellings of one contract ("EP", "EPZ26") counting as one.
// Throws HistoryError naming the line and column of the first fault (also
// for a row naming an instrument the simulator does not list, a symbol
// column where `symbol` is given or none where it is not, and no rows at
// all), std::invalid_argument when `symbol` is not listed.
HistoryFile check_history(HistoryOpener open, std::string source, std::string_view symbol);
// The same for a file, opened again (by name) whenever it is replayed.
HistoryFile check_history_file(const std::filesystem::path& path, std::string_view symbol);

}  // namespace orbrix::cqgsim::venue
