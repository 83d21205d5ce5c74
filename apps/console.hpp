#pragma once

// The demo's console: its own lines at three levels, apart from the
// gateway's traced lines.
//
//   everything  the demo's lines and the gateway's traced lines (default)
//   quiet       the demo's own lines: orders, deals, balance, positions,
//               the connection, the summary; no traced line, no market line
//   summary     only the summary

#include <cstdio>
#include <string_view>

namespace orbrix::demo {

enum class OutputLevel { everything, quiet, summary };

class Console {
 public:
  // Writes to `out` (not owned; it must outlive the console).
  Console(std::FILE* out, OutputLevel level) : out_(out), level_(level) {}

  // Quotes, books, bars: at `everything` only.
  void market(std::string_view line) const;
  // Orders, deals, balance, positions, the connection, refusals: at
  // `everything` and `quiet`.
  void event(std::string_view line) const;
  // The closing summary: at every level.
  void summary(std::string_view line) const;

  OutputLevel level() const noexcept { return level_; }

 private:
  // One line as one write, flushed, so lines of the worker and the
  // engine's thread never mix. Any thread; a failed write is dropped (the
  // console is not worth ending a trading run for).
  void write(std::string_view line) const;

  std::FILE* out_;
  OutputLevel level_;
};

// Sends the gateway's traced lines (Trace, WriteLine) nowhere while it
// lives, unless `level` is `everything`; restores the previous stream
// after. Make it before the API host and end it after the gateway's last
// thread has stopped. Not for two at once.
class TracedLines {
 public:
  explicit TracedLines(OutputLevel level);
  ~TracedLines();
  TracedLines(const TracedLines&) = delete;
  TracedLines& operator=(const TracedLines&) = delete;

 private:
  std::FILE* previous_ = nullptr;
  bool redirected_ = false;
};

}  // namespace orbrix::demo
