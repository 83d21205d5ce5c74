#include "venue/market/quotes.hpp"

namespace orbrix::cqgsim::venue {

std::string_view to_string(QuoteType type) {
  static constexpr std::array<std::string_view, kQuoteTypeCount> names{"Ask",
                                                                       "Bid",
                                                                       "CohUndAsk",
                                                                       "CohUndBid",
                                                                       "DayHigh",
                                                                       "DayLow",
                                                                       "DayOpen",
                                                                       "ImpliedAsk",
                                                                       "ImpliedBid",
                                                                       "IndicativeOpen",
                                                                       "Marker",
                                                                       "OutrightAsk",
                                                                       "OutrightBid",
                                                                       "Settlement",
                                                                       "TodayMarker",
                                                                       "Trade",
                                                                       "YesterdaySettlement"};
  const auto i = static_cast<std::size_t>(type);
  return i < names.size() ? names[i] : std::string_view("?");
}

std::string_view to_string(TickType type) {
  switch (type) {
    case TickType::Ask:
      return "Ask";
    case TickType::Bid:
      return "Bid";
    case TickType::Trade:
      return "Trade";
    case TickType::Settlement:
      return "Settlement";
  }
  return "?";
}

std::optional<TickType> tick_type_of(const QuoteChange& change) {
  if (!change.valid) {
    return std::nullopt;
  }
  switch (change.type) {
    case QuoteType::Ask:
      return TickType::Ask;
    case QuoteType::Bid:
      return TickType::Bid;
    case QuoteType::Trade:
      return TickType::Trade;
    case QuoteType::Settlement:
      return TickType::Settlement;
    default:
      return std::nullopt;
  }
}

}  // namespace orbrix::cqgsim::venue
