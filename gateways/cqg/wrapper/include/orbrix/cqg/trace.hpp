#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "orbrix/automation/variant.hpp"

namespace orbrix::cqg {

// Writes "<OS thread id>: <message>" and a line end to standard output and
// flushes, as one locked write, so lines of different threads never
// interleave. Any thread. Throws std::runtime_error when the write or flush
// fails.
void Trace(std::string_view message);
// Writes each message as Trace does, in order, all in one locked write and
// one flush: the lines stay together, and a caller with several pays one
// system call. Any thread. Throws as Trace.
void TraceLines(std::span<const std::string> messages);

// Writes one line to standard output without the thread prefix (the few
// lines the gateway prints directly). `flush` false leaves it buffered.
void WriteLine(std::string_view line, bool flush = true);

// Raises std::runtime_error carrying exactly `message` when `condition` is
// false; returns otherwise. Writes nothing. A null message counts as empty.
void AssertMessage(bool condition, std::string_view message);
inline void AssertMessage(bool condition, const char* message) {
  AssertMessage(condition, message ? std::string_view(message) : std::string_view());
}

// Truth of any value used as a condition: numbers are true when not zero,
// texts and containers when not empty, pointers and optionals when set,
// variants by their own truth.
template <class T>
bool is_true(const T& value) {
  if constexpr (std::is_same_v<T, automation::Variant>) {
    return value.truthy();
  } else if constexpr (std::is_arithmetic_v<T>) {
    return value != T{};
  } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    return !std::string_view(value).empty();
  } else if constexpr (requires { value.empty(); }) {
    return !value.empty();
  } else {
    return static_cast<bool>(value);
  }
}

template <class T>
requires(!std::is_same_v<T, bool>) void AssertMessage(const T& condition,
                                                      std::string_view message) {
  AssertMessage(is_true(condition), message);
}
template <class T>
requires(!std::is_same_v<T, bool>) void AssertMessage(const T& condition, const char* message) {
  AssertMessage(is_true(condition), message);
}

// Where the lines go. Two ways to direct them elsewhere (standard output
// stays the default):
//  - a stream: Trace and WriteLine write to set_output_stream's stream (a
//    run's trace.log, a test reading its lines back); null restores
//    standard output; returns the previous stream;
//  - a sink: each traced message is handed to set_trace_sink's function
//    instead of being written, as it would be written but without its line
//    end ("<thread id>: <message>", the message possibly of several lines;
//    or a WriteLine's text), one call per message, on the thread that
//    traced it (several threads may call it at once; the messages of one
//    TraceLines come in order). What the sink throws is dropped with the
//    message. An empty function restores the stream. A binding routes the
//    lines to its language's logging this way, a backtest to its report's
//    trace.log. Returns the previous sink (empty when there was none), so a
//    scope that sets its own can put the previous one back.
std::FILE* output_stream() noexcept;
std::FILE* set_output_stream(std::FILE* stream) noexcept;
using TraceSink = std::function<void(std::string_view line)>;
TraceSink set_trace_sink(TraceSink sink);

// The OS thread id Trace writes (gettid on Linux, GetCurrentThreadId on
// Windows).
long current_thread_id() noexcept;

}  // namespace orbrix::cqg
