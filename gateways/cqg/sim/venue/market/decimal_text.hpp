#pragma once

// Prices as a history file writes them, read without std::from_chars's
// general machinery where the text allows.

#include <string_view>

namespace orbrix::cqgsim::venue {

// Reads a decimal written plainly ("6050.25", "-3", "0.0001": an optional
// leading minus, digits, optionally a point and digits) of at most 15
// digits into `value` and returns true; returns false, leaving `value`
// alone, for any other text, which std::from_chars then reads. The digits
// as a whole number are exact in a double and so is the power of ten they
// are divided by, so the division's one rounding gives the correctly
// rounded value std::from_chars gives.
bool parse_plain_decimal(std::string_view text, double& value);

}  // namespace orbrix::cqgsim::venue
