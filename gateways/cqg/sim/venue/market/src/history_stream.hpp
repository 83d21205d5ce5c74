#pragma once

// One reading of a history file in step with the market's clock: the row
// read ahead (its time tells the market when to read on) and the instrument
// it goes to. Holds the reader's line and nothing of the rows before it.
// Internal to the market library.

#include <functional>
#include <memory>
#include <optional>

#include "spellings.hpp"
#include "venue/market/history_file.hpp"

namespace orbrix::cqgsim::venue {

class HistoryStream {
 public:
  // The instrument a row's symbol names in this market, or none to skip the
  // row. Called once per spelling.
  using Resolve = std::function<std::optional<InstrumentId>(std::string_view symbol)>;

  // Opens `file` and reads ahead to its first row for an instrument: every
  // row goes to `only` in a file without a symbol column; in a file with
  // one, each row goes where `resolve` says, and with `only` set just the
  // rows of `only` are kept. Throws HistoryError when the file cannot be
  // opened or a row is refused.
  HistoryStream(std::shared_ptr<const HistoryFile> file, std::optional<InstrumentId> only,
                Resolve resolve);

  // Whether a row is read ahead (false at the end of the file).
  bool has_row() const { return has_row_; }
  // The row read ahead, its time and its instrument; has_row() only.
  const HistoryRow& row() const { return row_; }
  Timestamp time() const { return reader_.time_of(row_); }
  InstrumentId target() const { return target_; }
  const HistoryReader& reader() const { return reader_; }

  // Reads ahead to the next row for one of its instruments.
  void advance();
  // The bytes of the line buffer: what reading holds besides a row.
  std::size_t line_bytes() const;

 private:
  static HistoryReader open(const HistoryFile& file);

  std::shared_ptr<const HistoryFile> file_;
  std::optional<InstrumentId> only_;
  Resolve resolve_;
  HistoryReader reader_;
  Spellings<std::optional<InstrumentId>> targets_;
  HistoryRow row_;
  InstrumentId target_ = 0;
  bool has_row_ = false;
};

}  // namespace orbrix::cqgsim::venue
