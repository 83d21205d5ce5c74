#pragma once

// The recorded history a control hands the simulator, kept behind the
// controls' opaque type so their public header needs no venue types.

#include "orbrix/cqgsim/simulator.hpp"
#include "venue/market/history.hpp"

namespace orbrix::cqgsim {

struct SimControls::History {
  venue::History data;
};

}  // namespace orbrix::cqgsim
