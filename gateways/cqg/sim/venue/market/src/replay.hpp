#pragma once

// Turns recorded history into the book steps an instrument replays.

#include <vector>

#include "book_step.hpp"
#include "venue/market/history.hpp"

namespace orbrix::cqgsim::venue {

// Offsets of a minute bar's open, high, low and close within its minute.
inline constexpr std::chrono::seconds kBarPathOffsets[4] = {
    std::chrono::seconds{0}, std::chrono::seconds{15}, std::chrono::seconds{30},
    std::chrono::seconds{45}};

// One step per quote record (its trade, when it has one), or four per bar
// (open, high, low, close, the volume shared among them, each at the touch
// of a quote the instrument's usual spread wide). Throws HistoryError naming the
// record's line and column for a price off the instrument's tick grid or
// beyond kMaxPriceTicks.
std::vector<BookStep> replay_steps(const History& history, const InstrumentSpec& contract);

}  // namespace orbrix::cqgsim::venue
