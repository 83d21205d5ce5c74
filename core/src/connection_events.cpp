#include "orbrix/core/connection_events.hpp"

#include <fmt/format.h>

namespace orbrix {

std::string_view to_text(ConnectionEvent::State state) {
  switch (state) {
    case ConnectionEvent::State::up:
      return "up";
    case ConnectionEvent::State::down:
      return "down";
    case ConnectionEvent::State::reconnecting:
      return "reconnecting";
    case ConnectionEvent::State::restored:
      return "restored";
    case ConnectionEvent::State::gave_up:
      return "gave up";
  }
  return "unknown";
}

std::string_view to_text(SubscriptionFailure::Kind kind) {
  switch (kind) {
    case SubscriptionFailure::Kind::quote:
      return "quote";
    case SubscriptionFailure::Kind::ticks:
      return "ticks";
    case SubscriptionFailure::Kind::bars:
      return "bars";
  }
  return "unknown";
}

std::string to_text(const ConnectionEvent& event) {
  switch (event.state) {
    case ConnectionEvent::State::up:
    case ConnectionEvent::State::down:
      return fmt::format("{} (status {})", to_text(event.state), event.vendor_status);
    case ConnectionEvent::State::reconnecting:
      return fmt::format("reconnecting (attempt {})", event.attempt);
    case ConnectionEvent::State::gave_up:
      return fmt::format("gave up after {} attempts", event.attempt);
    case ConnectionEvent::State::restored:
      break;
  }
  return std::string(to_text(event.state));
}

std::string to_text(const SubscriptionFailure& failure) {
  return fmt::format("{} {}: {}", to_text(failure.kind), failure.symbol, failure.error);
}

}  // namespace orbrix
