#pragma once

// What the market tells its owner: one event per instrument happening, and
// the state an instrument is in (what a new subscriber is sent first).

#include <array>
#include <optional>
#include <span>

#include "venue/market/bars.hpp"
#include "venue/market/quotes.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// One instrument's state after its latest event.
struct InstrumentState {
  Timestamp time{};  // of the latest event or history record; the market's start before any
  // Bid, ask and their sizes; `trade` is the last trade printed, whenever.
  TopOfBook book;
  // The latest value of every quote type, indexed by QuoteType; valid=false
  // when it never had one or it was withdrawn. Day open, high and low, and
  // yesterday's settlement are read here.
  std::array<QuoteChange, kQuoteTypeCount> quotes{};
  std::int64_t day_volume = 0;  // traded since the UTC day began

  const QuoteChange& quote(QuoteType type) const { return quotes[static_cast<std::size_t>(type)]; }
  // The price of a quote type, or none when it has no valid value.
  std::optional<Ticks> price(QuoteType type) const {
    const QuoteChange& q = quote(type);
    return q.valid ? std::optional<Ticks>(q.price) : std::nullopt;
  }
};

// One market happening of one instrument. The spans point into the market's
// reused buffers: valid until the market produces its next event.
struct MarketEvent {
  enum class Source : std::uint8_t { RandomWalk, Replay, Injected };

  InstrumentId instrument = 0;
  Timestamp time{};
  Source source = Source::RandomWalk;
  std::span<const QuoteChange> quotes;  // in the order they were applied
  std::span<const Tick> ticks;          // one per valid Ask, Bid, Trade, Settlement change
  std::span<const BarUpdate> bars;      // per trade: its one-minute, then its daily update
  // The state after the event; `trade` is set only when this event printed
  // one (the last, if it printed several).
  TopOfBook book;
};

}  // namespace orbrix::cqgsim::venue
