#pragma once

// The operator's /send_order text: eight comma-separated pieces
//   security_code, quantity, direction (l/s), offset (o/c), order_type (m/l/s),
//   gateway_name, price (or None), stop_price (or None)
// e.g. "EP,2,l,o,l,CQG,6050.25,None".

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "orbrix/core/order.hpp"

namespace orbrix::demo {

enum class Offset { Open, Close };

struct ParsedOrder {
  Order order;
  Offset offset;
  std::string gateway_name;
};

// Parses an order string. `find_security` gives the security of a code or
// none. Throws std::invalid_argument naming the piece at fault ("piece 3
// (direction): 'x' is not l or s"), also for an unknown security, a
// gateway other than `gateway`, or a price or stop price that is not a
// finite number above 0 (or None). Any thread.
ParsedOrder parse_order_string(
    std::string_view text,
    const std::function<std::optional<Security>(std::string_view)>& find_security,
    std::string_view gateway);

}  // namespace orbrix::demo
