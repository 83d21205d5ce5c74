#pragma once

// Recovery of a trading session after the vendor reports the gateway
// connection down without a Logoff: BrokerLink::enable_recovery turns it on
// (off by default).
//
// Design: a small supervisor owned by BrokerLink, with a thread of its own.
// BrokerLink keeps, whether recovery is on or not, what the engine has live
// (quote, order-book and bar subscriptions with their look-back and
// frequency, the selected account) and the credentials of the last Logon,
// in memory only and never traced. When the gateway goes down without a
// Logoff the supervisor waits with back-off (first_delay, doubling, at most
// max_delay), logs on again with those credentials, waits for the vendor's
// up report on a notice of its own (eventGatewayIsUp is never cleared, so it
// cannot tell), and then restores every subscription: each is removed at
// the vendor and requested again, so none is doubled, and the account is
// subscribed again, which refreshes balance and positions. Each step is one
// traced line, and the engine's process_connection hook hears each state:
// down, reconnecting (attempt N), up, restored, or gave up after N attempts.
// A Logoff, the host's Shutdown or the end of BrokerLink stops it.
//
// While the gateway is down place_order is refused at once; an order that
// was working when it dropped is reported by the vendor's events as they
// come back, and nothing is placed again.

#include <chrono>

namespace orbrix::cqg {

// The longest delay or log-on wait an option may ask for.
inline constexpr std::chrono::milliseconds kMaxRecoveryDelay{std::chrono::hours(24)};

// How BrokerLink::enable_recovery gets a dropped gateway connection back.
struct RecoveryOptions {
  // The wait before the first log-on attempt; doubled before each next one.
  // first_delay and max_delay: 1 ms to kMaxRecoveryDelay.
  std::chrono::milliseconds first_delay{std::chrono::seconds(1)};
  // The longest wait between two attempts.
  std::chrono::milliseconds max_delay{std::chrono::seconds(60)};
  // Attempts before giving up; 0 tries for ever.
  int max_attempts = 10;
  // How long an attempt waits for the vendor's up report before the next
  // one is made (at most kMaxRecoveryDelay); 0 waits BrokerLink's time-out
  // (TIMEOUT unless changed).
  std::chrono::milliseconds logon_wait{0};
};

}  // namespace orbrix::cqg
