#pragma once

// The level-1 picture one market happening leaves behind, before it is
// turned into quote changes: what the random walk draws and what a history
// record says.

#include <cstdint>
#include <optional>

#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

struct BookStep {
  Timestamp time{};
  Ticks bid = 0;
  Ticks ask = 0;
  std::int64_t bid_size = 0;
  std::int64_t ask_size = 0;
  std::optional<TopOfBook::Trade> trade;
};

}  // namespace orbrix::cqgsim::venue
