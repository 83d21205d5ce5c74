#include "replay.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "venue/price.hpp"

namespace orbrix::cqgsim::venue {

namespace {

Ticks on_grid(double price, const InstrumentSpec& contract, const History& h, std::size_t line,
              const char* column) {
  // Recorded prices may be zero or negative (some markets have traded below
  // zero); only their size is bounded.
  auto ticks = checked_ticks(price, contract.tick_size, "price", PriceSign::Any);
  if (!ticks) {
    throw HistoryError(h.source, line, column,
                       fmt::format("{} ({})", ticks.refusal, contract.symbol));
  }
  return ticks.ticks;
}

}  // namespace

std::vector<BookStep> replay_steps(const History& h, const InstrumentSpec& contract) {
  std::vector<BookStep> steps;
  if (h.format == HistoryFormat::QuotesAndTrades) {
    steps.reserve(h.quotes.size());
    for (const QuoteRecord& r : h.quotes) {
      BookStep s;
      s.time = r.time;
      s.bid = on_grid(r.bid, contract, h, r.line, "bid_price");
      s.ask = on_grid(r.ask, contract, h, r.line, "ask_price");
      // Absent sizes are unknown and shown as 0.
      s.bid_size = r.bid_size.value_or(0);
      s.ask_size = r.ask_size.value_or(0);
      if (r.last_price) {
        s.trade = TopOfBook::Trade{on_grid(*r.last_price, contract, h, r.line, "last_price"),
                                   r.last_size.value_or(0)};
      }
      steps.push_back(s);
    }
    return steps;
  }
  const Ticks spread = std::max<Ticks>(1, contract.spread_ticks);
  steps.reserve(h.bars.size() * 4);
  for (const BarRecord& r : h.bars) {
    const Ticks path[4] = {
        on_grid(r.open, contract, h, r.line, "open"), on_grid(r.high, contract, h, r.line, "high"),
        on_grid(r.low, contract, h, r.line, "low"), on_grid(r.close, contract, h, r.line, "close")};
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
      steps.push_back(s);
    }
  }
  return steps;
}

}  // namespace orbrix::cqgsim::venue

namespace orbrix::cqgsim::venue {

void replay_check(const History& history, const InstrumentSpec& contract) {
  (void)replay_steps(history, contract);
}

}  // namespace orbrix::cqgsim::venue
