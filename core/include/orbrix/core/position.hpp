#pragma once

// One open position of the trading account, as the gateway reports it.
//   PositionData{.security = s, .direction = Direction::SHORT, .holding_price = 99,
//                .quantity = 3, .update_time = local_now()}

#include <string>

#include "orbrix/common/datetime.hpp"
#include "orbrix/core/constants.hpp"
#include "orbrix/core/export.hpp"
#include "orbrix/core/security.hpp"

namespace orbrix {

// One open position of the selected account (BrokerLink::positions).
struct PositionData {
  Security security;                      // what is held
  Direction direction = Direction::LONG;  // LONG or SHORT
  double holding_price = 0;               // average price
  double quantity = 0;                    // never negative: the side is in direction
  DateTime update_time = {};              // when the gateway read it

  // Equal when every field is.
  friend bool operator==(const PositionData&, const PositionData&) = default;
};

// One line with every field.
ORBRIX_SECURITY_API std::string to_text(const PositionData& position);

}  // namespace orbrix
