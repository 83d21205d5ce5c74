#pragma once

// The options of orbrix-backtest.

#include <optional>
#include <string>
#include <vector>

#include "orbrix/backtest/backtest.hpp"

namespace orbrix::demo {

struct BacktestCommand {
  backtest::BacktestOptions run;
  std::string engine = "demo";  // "demo" or "ma-cross"
  // Traded by the engine; empty: every symbol of the histories (those of
  // --history are known here, a file of several symbols names its own).
  std::vector<std::string> symbols;
  std::string out = "backtest-report";
  bool charts = true;
  std::string time_zone;  // of the report's times: empty for UTC, or an IANA name
  bool quiet = false;     // no progress line
  // For --help and --version: the text to print; nothing is run then.
  std::optional<std::string> answer;
};

// Throws std::invalid_argument with a message naming the option for a value
// it refuses; sets `answer` for --help and --version.
BacktestCommand parse_backtest_options(int argc, char** argv);

// "2026-12-07T14:30:00Z" (seconds and a fraction optional) as a time point;
// throws std::invalid_argument naming `option`.
backtest::TimePoint parse_utc(const std::string& text, const std::string& option);

}  // namespace orbrix::demo
