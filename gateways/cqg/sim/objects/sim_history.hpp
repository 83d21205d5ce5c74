#pragma once

// The recorded history a control hands the simulator, kept behind an
// opaque type so the controls' header needs no venue types: the checked
// file (none of its rows) and the instrument's part of it.

#include <memory>

#include "orbrix/cqgsim/detail/settings.hpp"
#include "venue/market/history_file.hpp"

namespace orbrix::cqgsim {

struct detail::RecordedHistory {
  std::shared_ptr<const venue::HistoryFile> file;  // shared by the instruments of one file
  venue::HistorySeries series;
};

}  // namespace orbrix::cqgsim
