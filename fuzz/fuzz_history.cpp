// A market-history file as a user hands it to the simulator.
#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "venue/market/catalogue.hpp"
#include "venue/market/history.hpp"
#include "venue/market/history_file.hpp"
#include "venue/price.hpp"

namespace {

using namespace orbrix::cqgsim::venue;

// What the reader accepted keeps the promises the replay relies on.
void check_rows(const std::string& text) {
  HistoryReader reader(std::make_unique<std::istringstream>(text), "fuzz.csv");
  HistoryRow row;
  std::optional<Timestamp> earliest, latest;
  while (reader.next(row)) {
    const Timestamp t = reader.time_of(row);
    if (!in_time_range(t) || (latest && t - *latest > kMaxRecordGap) ||
        (earliest && *earliest - t > kMaxRecordGap)) {
      __builtin_trap();
    }
    earliest = earliest ? std::min(*earliest, t) : t;
    latest = latest ? std::max(*latest, t) : t;
    if (reader.format() == HistoryFormat::QuotesAndTrades && !(row.quote.bid < row.quote.ask)) {
      __builtin_trap();
    }
    if (reader.format() == HistoryFormat::MinuteBars &&
        (row.bar.low > row.bar.high || row.bar.volume < 0)) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
  try {
    check_rows(*text);
  } catch (const HistoryError&) {
  }
  // Checked for a coarse and a very fine tick: what passes holds prices the
  // venue can keep in ticks.
  for (const char* symbol : {"EP", "JY6", ""}) {
    try {
      const HistoryFile file = check_history(
          [text] { return std::make_unique<std::istringstream>(*text); }, "fuzz.csv", symbol);
      HistoryReader reader(file.open(), "fuzz.csv");
      HistoryRow row;
      while (reader.next(row)) {
        const auto contract =
            Catalogue::standard_contract(file.symbol_column ? row.symbol : symbol);
        if (!contract) {
          __builtin_trap();
        }
        const auto holds = [&](double price) {
          return static_cast<bool>(
              checked_ticks(price, contract->tick_size, "price", PriceSign::Any));
        };
        const bool held = reader.format() == HistoryFormat::QuotesAndTrades
                              ? holds(row.quote.bid) && holds(row.quote.ask) &&
                                    (!row.quote.last_price || holds(*row.quote.last_price))
                              : holds(row.bar.open) && holds(row.bar.high) && holds(row.bar.low) &&
                                    holds(row.bar.close);
        if (!held) {
          __builtin_trap();
        }
      }
    } catch (const HistoryError&) {
    } catch (const std::invalid_argument&) {
    }
  }
  return 0;
}
