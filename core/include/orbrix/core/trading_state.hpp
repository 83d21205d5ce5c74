#pragma once

// Whether a gateway takes new orders: the engine's record of the trading
// state and of a change of it, as BaseGateway's process_trading_state hook
// hears it.

#include <cstdint>
#include <string>
#include <string_view>

#include "orbrix/core/export.hpp"

namespace orbrix {

enum class TradingState : std::uint8_t {
  ACTIVE,    // every order the limits allow is taken
  REDUCING,  // only an order that brings a position closer to flat is taken
  HALTED,    // no new order is taken; cancels still are
};

// The state moved from `previous` to `state`, for `reason` (the operator's
// words, or the limit that was breached).
struct TradingStateChange {
  // The state the gateway is in now.
  TradingState state = TradingState::ACTIVE;
  // The state it left.
  TradingState previous = TradingState::ACTIVE;
  // Why: the operator's words, or the limit that was breached.
  std::string reason;

  // Equal when every field is.
  friend bool operator==(const TradingStateChange&, const TradingStateChange&) = default;
};

// "ACTIVE", "REDUCING", "HALTED".
ORBRIX_SECURITY_API std::string_view to_text(TradingState state);
// "ACTIVE -> HALTED (operator)".
ORBRIX_SECURITY_API std::string to_text(const TradingStateChange& change);

}  // namespace orbrix
