#pragma once

// One timed bar of a security. Mutable: the gateway repairs missing values
// by overwriting open/high/low/close/volume in place.
//   Bar bar{.datetime = t, .security = s, .open = 1, .high = 2, .low = 0.5, .close = 1.5,
//           .volume = 10};

#include <string>

#include "orbrix/common/datetime.hpp"
#include "orbrix/core/export.hpp"
#include "orbrix/core/security.hpp"

namespace orbrix {

// One timed bar of a security.
struct Bar {
  DateTime datetime;  // the bar's time stamp, local time
  Security security;  // the security it is of
  double open = 0;    // first trade price
  double high = 0;    // highest trade price
  double low = 0;     // lowest trade price
  double close = 0;   // last trade price
  double volume = 0;  // contracts traded

  // Equal when every field is.
  friend bool operator==(const Bar&, const Bar&) = default;
};

// One line with every field, e.g.
// Bar(datetime=2024-03-05 14:07:00, security=Futures(...), open=1, high=2, low=0.5, close=1.5,
// volume=10).
ORBRIX_SECURITY_API std::string to_text(const Bar& bar);

}  // namespace orbrix
