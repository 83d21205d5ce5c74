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

// Appends the steps of the row `reader` just read: one per quote row (its
// trade, when it has one), or four per bar (open, high, low, close, the
// volume shared among them, each at the touch of a quote the instrument's
// usual spread wide), in time order. Throws HistoryError naming the row's
// line and column for a price off the instrument's tick grid or beyond
// kMaxPriceTicks. Allocates only when `out` grows.
void append_steps(const HistoryReader& reader, const HistoryRow& row,
                  const InstrumentSpec& contract, std::vector<BookStep>& out);

}  // namespace orbrix::cqgsim::venue
