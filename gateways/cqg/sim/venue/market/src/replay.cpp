#include "replay.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "venue/price.hpp"

namespace orbrix::cqgsim::venue {

namespace {

Ticks on_grid(double price, const InstrumentSpec& contract, const HistoryReader& reader,
              const char* column) {
  // Recorded prices may be zero or negative (some markets have traded below
  // zero); only their size is bounded.
  auto ticks = checked_ticks(price, contract.tick_size, "price", PriceSign::Any);
  if (!ticks) {
    reader.fail(column, fmt::format("{} ({})", ticks.refusal, contract.symbol));
  }
  return ticks.ticks;
}

}  // namespace

void append_steps(const HistoryReader& reader, const HistoryRow& row,
                  const InstrumentSpec& contract, std::vector<BookStep>& out) {
  if (reader.format() == HistoryFormat::QuotesAndTrades) {
    const QuoteRecord& r = row.quote;
    BookStep s;
    s.time = r.time;
    s.bid = on_grid(r.bid, contract, reader, "bid_price");
    s.ask = on_grid(r.ask, contract, reader, "ask_price");
    // Absent sizes are unknown and shown as 0.
    s.bid_size = r.bid_size.value_or(0);
    s.ask_size = r.ask_size.value_or(0);
    if (r.last_price) {
      s.trade = TopOfBook::Trade{on_grid(*r.last_price, contract, reader, "last_price"),
                                 r.last_size.value_or(0)};
    }
    out.push_back(s);
    return;
  }
  const BarRecord& r = row.bar;
  const Ticks spread = std::max<Ticks>(1, contract.spread_ticks);
  const Ticks path[4] = {
      on_grid(r.open, contract, reader, "open"), on_grid(r.high, contract, reader, "high"),
      on_grid(r.low, contract, reader, "low"), on_grid(r.close, contract, reader, "close")};
  // The bar's volume shared over its four trades, the remainder to the
  // first ones, so the bar rebuilt from them has the file's volume.
  const std::int64_t share = r.volume / 4;
  const std::int64_t rest = r.volume % 4;
  for (int i = 0; i < 4; ++i) {
    BookStep s;
    s.time = r.start + kBarPathOffsets[i];
    s.bid = path[i] - spread / 2;
    s.ask = s.bid + spread;
    s.trade = TopOfBook::Trade{path[i], share + (i < rest ? 1 : 0)};
    out.push_back(s);
  }
}

}  // namespace orbrix::cqgsim::venue
