#pragma once

// What the gateway tells the engine about its connection and about
// subscriptions that failed: the records of BaseGateway's connection hooks.

#include <cstdint>
#include <string>
#include <string_view>

#include "orbrix/core/export.hpp"

namespace orbrix {

// The vendor's gateway connection as the engine hears of it: reported up
// or down by the vendor (with the vendor's status value), and, when
// recovery is on, each step of getting it back.
struct ConnectionEvent {
  // What happened to the connection.
  enum class State : std::uint8_t {
    up,            // the vendor reported the gateway connection up
    down,          // ... reported it down
    reconnecting,  // recovery logs on again: attempt `attempt`
    restored,      // recovery restored every subscription after an up report
    gave_up,       // recovery stopped after `attempt` attempts
  };
  State state = State::down;  // what happened
  // up, down: the vendor's connection status value.
  std::int64_t vendor_status = 0;
  // reconnecting: this attempt (1 for the first); gave_up: attempts made.
  int attempt = 0;
  // Equal when every field is.
  friend bool operator==(const ConnectionEvent&, const ConnectionEvent&) = default;
};

// A subscription the vendor did not resolve: an error, or no answer in time.
struct SubscriptionFailure {
  // The kind of subscription that failed.
  enum class Kind : std::uint8_t { quote, ticks, bars };
  Kind kind = Kind::quote;  // the kind that failed
  std::string symbol;       // the symbol the engine asked for
  // The vendor's error text, or "no answer in N s" after a time-out.
  std::string error;
  // Equal when every field is.
  friend bool operator==(const SubscriptionFailure&, const SubscriptionFailure&) = default;
};

ORBRIX_SECURITY_API std::string_view to_text(ConnectionEvent::State state);
ORBRIX_SECURITY_API std::string_view to_text(SubscriptionFailure::Kind kind);
// "reconnecting (attempt 2)", "down (status 2)".
ORBRIX_SECURITY_API std::string to_text(const ConnectionEvent& event);
// "quote EP: Unknown symbol: EP".
ORBRIX_SECURITY_API std::string to_text(const SubscriptionFailure& failure);

}  // namespace orbrix
