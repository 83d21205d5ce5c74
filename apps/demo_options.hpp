#pragma once

// The demo's command line.

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orbrix::demo {

struct DemoOptions {
  std::chrono::milliseconds duration{std::chrono::seconds(20)};
  // Short vendor symbols, upper case, each once.
  std::vector<std::string> symbols{"EP", "ENQ", "GCE"};
  std::uint64_t seed = 1;
  // A recorded history (see the simulator's README) the first symbol replays.
  std::optional<std::string> history;
  // Only the start, the errors and the summary.
  bool quiet = false;
  std::int64_t account = 100001;
  // One-minute bars to look back on.
  std::int64_t bar_lookback = 20;
  // Whether the demo's own strategy trades (off: only the operator does).
  bool strategy = true;
};

// The longest run the demo takes: a year.
inline constexpr std::int64_t kMaxDemoSeconds = 365LL * 24 * 3600;

// --help: the text to print before ending successfully.
class HelpRequested : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the command line (--seconds N, --symbols A,B, --seed N, --history
// FILE, --account N, --no-strategy, --quiet, --help). Throws HelpRequested
// with the help text for --help, and std::invalid_argument naming the
// option and the reason for anything it refuses: an unknown option, a
// number that is not one or is out of range, an empty or repeated symbol.
DemoOptions parse_options(int argc, char** argv);

}  // namespace orbrix::demo
