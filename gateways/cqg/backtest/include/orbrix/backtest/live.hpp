#pragma once

// Runs an engine (orbrix/cqg/engine.hpp) live: through the API host and
// BrokerLink over whatever CQGCEL is registered (the simulator unless the
// vendor's is), on the wall clock: log on, subscribe the account, start,
// on_timer every interval with the wall clock's time, stop, log off.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "orbrix/cqg/engine.hpp"

namespace orbrix::backtest {

// How run_live runs an engine.
struct LiveOptions {
  // How long the engine runs; one too long for the clock runs until stopped.
  std::chrono::milliseconds duration = std::chrono::seconds(20);
  std::int64_t account = 100001;  // the account subscribed before start()
  std::string user = "demo";      // the log-on's user name
  std::string password = "demo";  // the log-on's password (never traced)
};

// Returns after `duration`, or sooner once `stop` is set (checked every
// 50 ms). Throws std::invalid_argument for a negative duration or an
// engine's interval outside 1 ms to kMaxEngineInterval, and what the log-on,
// the engine's start or stop throw.
void run_live(cqg::Engine& engine, const LiveOptions& options,
              const std::atomic<bool>* stop = nullptr);

}  // namespace orbrix::backtest
