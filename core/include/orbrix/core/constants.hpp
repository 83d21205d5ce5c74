#pragma once

// The engine's enumerations. Every to_text gives the member's name on one
// line ("SMART", "LONG", "LIMIT", "FILLED"); for Exchange the name is also the
// member's text value. A value outside the members reads "OrderType(7)", so a
// message about a bad value still names it.

#include <cstdint>
#include <string>

#include "orbrix/core/export.hpp"

namespace orbrix {

enum class Exchange : std::uint8_t { SMART, IDEALPRO, SEHK };
enum class Direction : std::uint8_t { LONG, SHORT };
enum class OrderType : std::uint8_t { LIMIT, MARKET, STOP };
enum class OrderStatus : std::uint8_t { UNKNOWN, SUBMITTED, FILLED, CANCELLED, FAILED };

// Any thread; never blocks; allocates only for the returned text.
ORBRIX_SECURITY_API std::string to_text(Exchange value);
ORBRIX_SECURITY_API std::string to_text(Direction value);
ORBRIX_SECURITY_API std::string to_text(OrderType value);
ORBRIX_SECURITY_API std::string to_text(OrderStatus value);

}  // namespace orbrix
