#pragma once

// The recorded history a control hands the simulator, kept behind an
// opaque type so the controls' header needs no venue types.

#include "orbrix/cqgsim/detail/settings.hpp"
#include "venue/market/history.hpp"

namespace orbrix::cqgsim {

struct detail::RecordedHistory {
  venue::History data;
};

}  // namespace orbrix::cqgsim
