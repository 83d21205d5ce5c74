#include "orbrix/core/trading_state.hpp"

#include <fmt/format.h>

namespace orbrix {

std::string_view to_text(TradingState state) {
  switch (state) {
    case TradingState::ACTIVE:
      return "ACTIVE";
    case TradingState::REDUCING:
      return "REDUCING";
    case TradingState::HALTED:
      return "HALTED";
  }
  return "UNKNOWN";
}

std::string to_text(const TradingStateChange& change) {
  return fmt::format("{} -> {} ({})", to_text(change.previous), to_text(change.state),
                     change.reason);
}

}  // namespace orbrix
