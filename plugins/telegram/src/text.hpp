#pragma once

// Text helpers for Bot API messages: the Bot API counts UTF-16 code units,
// our strings are UTF-8.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbrix::telegram::text {

// The longest text one sendMessage accepts, in UTF-16 code units.
inline constexpr std::size_t max_message_units = 4096;

// Number of UTF-16 code units of `s`. A byte that is not part of valid UTF-8
// counts as one unit (it is sent as U+FFFD).
std::size_t utf16_length(std::string_view s);

// Bytes of the shortest prefix of `s` that covers `units` UTF-16 code units,
// never ending inside a character.
std::size_t utf16_prefix_bytes(std::string_view s, std::size_t units);

// Words of `s` split at any run of Unicode white space (line breaks, tabs,
// no-break and ideographic spaces ...), without empty words.
std::vector<std::string> split_words(std::string_view s);

// Pieces of at most `max_units` UTF-16 units, each holding a character other
// than white space, whose concatenation is `s` less the blank stretches
// dropped between them. A piece ends after its last line break where it has
// one, else at the limit, and never inside a character (so never inside a
// surrogate pair). An empty or blank text gives no piece.
std::vector<std::string> split_message(std::string_view s,
                                       std::size_t max_units = max_message_units);

// A decimal integer with an optional sign ("5", "-5", "+007"); nullopt for
// anything else, including values outside 64 bits.
std::optional<std::int64_t> parse_count(std::string_view s);

std::string ascii_lower(std::string_view s);

}  // namespace orbrix::telegram::text
