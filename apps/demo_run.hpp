#pragma once

// One run of the demo engine over the simulator: the whole stack, a tiny
// strategy, the console lines and the closing summary.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "demo_options.hpp"

namespace orbrix::telegram {
class TelegramBot;
}  // namespace orbrix::telegram

namespace orbrix::demo {

struct DemoSummary {
  std::uint64_t quotes = 0, books = 0, bars = 0, orders = 0, deals = 0;
  double latency_median_us = 0, latency_p99_us = 0;
  bool stopped_by_operator = false;
};

// Runs the demo until `options.duration` passes, `stop` becomes true (Ctrl-C)
// or the operator sends /stop through `bot` (when given; its requests are
// served from this thread). Logs on, trades, logs off and shuts everything
// down before it returns; every wait in it is bounded. Throws what the
// gateway throws at start-up (no vendor object, no log-on).
DemoSummary run_demo(const DemoOptions& options, const std::atomic<bool>& stop,
                     telegram::TelegramBot* bot);

}  // namespace orbrix::demo
