#include "orbrix/backtest/live.hpp"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "orbrix/common/durations.hpp"
#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"

namespace orbrix::backtest {

void run_live(cqg::Engine& engine, const LiveOptions& options, const std::atomic<bool>* stop) {
  using Clock = std::chrono::steady_clock;
  const auto interval = engine.interval();
  check_duration("the engine's interval", interval, std::chrono::milliseconds(1),
                 cqg::kMaxEngineInterval);
  if (options.duration.count() < 0) {
    throw std::invalid_argument("LiveOptions::duration must not be below 0");
  }
  cqg::ApiHost host;
  auto link = host.Init<cqg::BrokerLink>(nullptr);
  if (host.errorHappened) {
    throw std::runtime_error("the vendor library reported an error at start-up");
  }
  try {
    auto& gateway = engine.gateway();
    gateway.set_apiHost(&host);
    link->Init(gateway);
    link->Logon(options.user, options.password);
    link->subscribe_account_and_positions(options.account);
    engine.start(*link);
    const auto begin = Clock::now();
    auto next = begin + interval;
    // A duration too long for the clock runs until `stop`.
    const auto end = deadline_after<Clock>(begin, options.duration);
    const auto stopped = [&] { return stop && stop->load(); };
    while (!stopped() && Clock::now() < end) {
      const auto wake = std::min({next, end, Clock::now() + std::chrono::milliseconds(50)});
      std::this_thread::sleep_until(wake);
      if (Clock::now() >= next) {
        engine.on_timer(*link, std::chrono::system_clock::now());
        next += interval;
      }
    }
    engine.stop(*link);
    link->Logoff();
  } catch (const ForcedUnwind&) {
    throw;
  } catch (...) {
    host.Shutdown();
    throw;
  }
  host.Shutdown();
}

}  // namespace orbrix::backtest
