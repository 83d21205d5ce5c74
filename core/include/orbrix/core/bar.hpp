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

struct Bar {
  DateTime datetime;
  Security security;
  double open = 0;
  double high = 0;
  double low = 0;
  double close = 0;
  double volume = 0;

  friend bool operator==(const Bar&, const Bar&) = default;
};

// One line with every field, e.g.
// Bar(datetime=2024-03-05 14:07:00, security=Futures(...), open=1, high=2, low=0.5, close=1.5,
// volume=10).
ORBRIX_SECURITY_API std::string to_text(const Bar& bar);

}  // namespace orbrix
