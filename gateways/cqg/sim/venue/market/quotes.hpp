#pragma once

// Quote changes and ticks as the market reports them, in venue terms (prices
// in ticks). The object model maps them to the vendor's quote and tick types.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// The vendor's seventeen quote types.
enum class QuoteType : std::uint8_t {
  Ask,
  Bid,
  CohUndAsk,
  CohUndBid,
  DayHigh,
  DayLow,
  DayOpen,
  ImpliedAsk,
  ImpliedBid,
  IndicativeOpen,
  Marker,
  OutrightAsk,
  OutrightBid,
  Settlement,
  TodayMarker,
  Trade,
  YesterdaySettlement,
};
inline constexpr std::size_t kQuoteTypeCount = 17;

// "Ask", "DayHigh", ... (the enumerator's name).
std::string_view to_string(QuoteType type);

// One quote that changed. `valid == false` means the quote is withdrawn
// (no value now); its price and volume are then 0.
struct QuoteChange {
  QuoteType type = QuoteType::Trade;
  Ticks price = 0;
  std::int64_t volume = 0;
  bool valid = true;
  friend bool operator==(const QuoteChange&, const QuoteChange&) = default;
};

enum class TickType : std::uint8_t { Ask, Bid, Trade, Settlement };

std::string_view to_string(TickType type);

// A tick: the record of an ask, bid, trade or settlement quote change.
struct Tick {
  TickType type = TickType::Trade;
  Ticks price = 0;
  std::int64_t volume = 0;
  Timestamp time{};
  friend bool operator==(const Tick&, const Tick&) = default;
};

// The tick a quote change makes, if its type makes ticks and it is valid.
std::optional<TickType> tick_type_of(const QuoteChange& change);

}  // namespace orbrix::cqgsim::venue
