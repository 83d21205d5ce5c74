#pragma once

#include <functional>
#include <string_view>

namespace orbrix::telegram {

// Where the bot's diagnostic lines go.
using LogSink = std::function<void(std::string_view line)>;

// Writes `line` and a line break to standard output in one write, then
// flushes, so lines of different threads never interleave. Thread-safe.
void write_line(std::string_view line);

}  // namespace orbrix::telegram
