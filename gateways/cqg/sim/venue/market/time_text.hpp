#pragma once

// Venue time stamps as text: ISO 8601 in UTC with `Z`, up to nanoseconds.
// Nothing here reads a clock or a time zone database. Any thread.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// "2026-12-08T14:30:00.250Z": the fraction is written with as many digits as
// it needs (none for whole seconds). Allocates the string.
std::string format_timestamp(Timestamp t);

// Reads "YYYY-MM-DDTHH:MM:SS[.fraction up to 9 digits]Z" or a whole number of
// nanoseconds since the epoch ("1796744400000000000"). Anything else,
// including another zone or an impossible date, gives none.
std::optional<Timestamp> parse_timestamp(std::string_view text);

// The day of the last calendar time read, so the rows of one day (a file's
// usual run) skip the calendar's arithmetic.
struct TimestampDay {
  std::array<char, 10> date{};  // "YYYY-MM-DD"
  Duration since_epoch{};
  bool valid = false;
};

// The same, with the day of the text taken from `day` when its date is the
// same, and kept there when it is not.
std::optional<Timestamp> parse_timestamp(std::string_view text, TimestampDay& day);

}  // namespace orbrix::cqgsim::venue
