#include "history_stream.hpp"

namespace orbrix::cqgsim::venue {

HistoryReader HistoryStream::open(const HistoryFile& file) {
  auto in = file.open();
  if (!in || !*in) {
    throw HistoryError(file.source, 0, "", "cannot open the file");
  }
  return HistoryReader(std::move(in), file.source);
}

HistoryStream::HistoryStream(std::shared_ptr<const HistoryFile> file,
                             std::optional<InstrumentId> only, Resolve resolve)
    : file_(std::move(file)), only_(only), resolve_(std::move(resolve)), reader_(open(*file_)) {
  if (reader_.format() != file_->format || reader_.has_symbol_column() != file_->symbol_column) {
    reader_.fail("", "the file changed since it was checked: its header is not the same");
  }
  advance();
}

void HistoryStream::advance() {
  while ((has_row_ = reader_.next(row_))) {
    if (!file_->symbol_column) {
      target_ = *only_;
      return;
    }
    const auto& id = targets_.get(row_.symbol, resolve_);
    if (id && (!only_ || *id == *only_)) {
      target_ = *id;
      return;
    }
  }
}

std::size_t HistoryStream::line_bytes() const {
  return reader_.buffer_bytes();
}

}  // namespace orbrix::cqgsim::venue
