#pragma once

// A backtest's progress as one line on a terminal, rewritten in place.

#include <cstdio>
#include <string>

#include "orbrix/backtest/backtest.hpp"

namespace orbrix::demo {

// "backtest  42.0 % of the data, 1,234,567 rows, 81,234 rows/s, 0:05 left"
// ("--:-- left" before an estimate).
std::string progress_text(const backtest::BacktestProgress& progress);

// "0:05", "12:34", "1:02:03": whole seconds, rounded up.
std::string time_left_text(double seconds);

// Writes progress_text to `out` over the line it wrote before (carriage
// return, then clear to the end of the line), when enabled; clear() leaves
// the line empty for what comes next, and so does the destructor.
class ProgressLine {
 public:
  ProgressLine(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}
  ~ProgressLine() { clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void show(const backtest::BacktestProgress& progress);
  void clear();

 private:
  std::FILE* out_;
  bool enabled_;
  bool shown_ = false;
};

}  // namespace orbrix::demo
