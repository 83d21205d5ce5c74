#pragma once

#include <functional>
#include <string_view>

namespace orbrix::telegram {

// Where the bot's diagnostic lines go. Called from the bot's threads (poller,
// dispatcher, host), possibly at once: a sink must be thread-safe.
using LogSink = std::function<void(std::string_view line)>;

// Writes `line` and a line break to standard output in one write, then
// flushes, so lines of different threads never interleave. Thread-safe.
void write_line(std::string_view line);

}  // namespace orbrix::telegram
