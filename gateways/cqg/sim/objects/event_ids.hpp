#pragma once

#include <cstdint>

#include "orbrix/cqg/cel_events.hpp"

namespace orbrix::cqgsim {

// The simulator's id of each vendor event in its type library: catalogue
// position + 1.
constexpr std::int32_t event_id(cqg::CelEvent event) {
  return static_cast<std::int32_t>(event) + 1;
}

}  // namespace orbrix::cqgsim
