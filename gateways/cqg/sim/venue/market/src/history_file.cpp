#include "venue/market/history_file.hpp"

#include <fstream>
#include <optional>
#include <stdexcept>

#include <fmt/format.h>

#include "replay.hpp"
#include "spellings.hpp"
#include "venue/market/catalogue.hpp"

namespace orbrix::cqgsim::venue {

const HistorySeries* HistoryFile::find(std::string_view symbol) const {
  for (const HistorySeries& s : series) {
    if (s.symbol == symbol) {
      return &s;
    }
  }
  return nullptr;
}

namespace {

// One instrument as the pass meets it.
struct Checked {
  InstrumentSpec contract;
  HistoryOrder order;
};

}  // namespace

HistoryFile check_history(HistoryOpener open, std::string source, std::string_view symbol) {
  std::optional<InstrumentSpec> given;
  if (!symbol.empty()) {
    given = Catalogue::standard_contract(symbol);
    if (!given) {
      throw std::invalid_argument(
          fmt::format("a history was given for {}, which the simulator does not list", symbol));
    }
  }
  auto in = open();
  if (!in || !*in) {
    throw HistoryError(source, 0, "", "cannot open the file");
  }
  HistoryReader reader(std::move(in), source);
  HistoryFile file{.source = std::move(source),
                   .open = std::move(open),
                   .format = reader.format(),
                   .symbol_column = reader.has_symbol_column(),
                   .series = {}};
  if (given && file.symbol_column) {
    reader.fail("symbol", "a history of several symbols: give it as a multi-symbol history");
  }
  if (!given && !file.symbol_column) {
    reader.fail("symbol", "missing column: a multi-symbol history names each row's symbol");
  }
  // Indexes into `file.series` and `checked`, by the file's spellings.
  Spellings<std::size_t> series_of;
  std::vector<Checked> checked;
  const auto add_series = [&](const InstrumentSpec& contract) {
    for (std::size_t i = 0; i < checked.size(); ++i) {
      if (checked[i].contract.symbol == contract.symbol) {
        return i;  // another spelling of a contract met before
      }
    }
    file.series.push_back({.symbol = contract.symbol,
                           .tick_size = contract.tick_size,
                           .first = {},
                           .last = {},
                           .rows = 0});
    checked.push_back({contract, {}});
    return checked.size() - 1;
  };
  HistoryRow row;
  std::vector<BookStep> steps;
  std::optional<Timestamp> previous;
  while (reader.next(row)) {
    const std::size_t i = given ? add_series(*given) : series_of.get(row.symbol, [&](auto text) {
      const auto contract = Catalogue::standard_contract(text);
      if (!contract) {
        reader.fail("symbol", fmt::format("{} is not an instrument the simulator lists", text));
      }
      return add_series(*contract);
    });
    const Timestamp t = reader.time_of(row);
    checked[i].order.check(reader, t);
    steps.clear();
    append_steps(reader, row, checked[i].contract, steps);
    HistorySeries& s = file.series[i];
    if (s.rows++ == 0) {
      s.first = t;
    }
    s.last = t;
    if (previous && t < *previous) {
      file.in_time_order = false;
    }
    previous = t;
  }
  if (file.series.empty()) {
    reader.fail("", "no records after the header");
  }
  return file;
}

HistoryFile check_history_file(const std::filesystem::path& path, std::string_view symbol) {
  return check_history(
      [path]() -> std::unique_ptr<std::istream> {
        return std::make_unique<std::ifstream>(path, std::ios::binary);
      },
      path.string(), symbol);
}

}  // namespace orbrix::cqgsim::venue
