#pragma once

// A run's traced lines into a file, for the run's scope.

#include <filesystem>

#include "orbrix/cqg/trace.hpp"

namespace orbrix::backtest {

// Sends every traced line to `path` (created, with its folder, or
// truncated), one line each, while it lives; then puts back the sink that
// was set before. Lines of several threads are written whole. Throws
// std::runtime_error naming the file when it cannot be opened.
class TraceToFile {
 public:
  explicit TraceToFile(const std::filesystem::path& path);
  ~TraceToFile();
  TraceToFile(const TraceToFile&) = delete;
  TraceToFile& operator=(const TraceToFile&) = delete;

 private:
  cqg::TraceSink previous_;
};

}  // namespace orbrix::backtest
