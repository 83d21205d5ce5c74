#pragma once

// Module constants of `brokerlink` and its three free conversion functions.

#include <chrono>
#include <cstdint>
#include <string_view>

#include <date/tz.h>

#include "orbrix/common/mutex.hpp"
#include "orbrix/core/constants.hpp"

namespace orbrix::cqg {

// The bound of every wait of BrokerLink for a vendor event (log-on, log-off,
// subscriptions, order placement, the account list).
inline constexpr std::chrono::seconds TIMEOUT{10};

// The exchange's zone, for the engine; nothing in this module reads it.
// Located in the tz database when the library loads; null only when the
// database lacks "Asia/Hong_Kong", and in the Windows build, which has no tz
// database.
extern const date::time_zone* const TIMEZONE;

// The largest look-back subscribe_bar takes (one-minute bars: about ten
// weeks); the smallest is 0.
inline constexpr std::int64_t kMaxBarLookback = 100'000;

// Marks a missing bar value.
inline constexpr std::int64_t INVALID_VALUE = -2147483648LL;

// The one module-wide lock: account balance and positions are published
// under it, and readers copy them under it.
extern Mutex lock;

// The class description of BrokerLink.
inline constexpr std::string_view kBrokerLinkDescription = "CQG Integrated Client API";

// The English name of a vendor quote type (qtAsk gives "Best ask"). Any
// thread. Throws std::out_of_range carrying the value when the type is not
// one of the vendor's 17 quote types, and std::runtime_error when the
// vendor's type library is not available.
std::string_view QuoteType2String(std::int64_t quoteType);

// The English name of a vendor tick price type (tptAsk gives "Ask price").
// Any thread. Throws as QuoteType2String.
std::string_view TickType2String(std::int64_t tickType);

// The part of a vendor full name after its last "." (F.US.EPZ23 gives
// EPZ23); the whole name when it has none. Any thread.
std::string_view symbol_of_full_name(std::string_view full_name) noexcept;

// The engine's status of a vendor order status (osInOrderBook gives
// SUBMITTED). Any thread. Throws std::invalid_argument "Order status <value>
// is not valid to be handled by orbrix." for a value outside the table.
OrderStatus convert_orderstatus_cqg2eng(std::int64_t status);

}  // namespace orbrix::cqg
