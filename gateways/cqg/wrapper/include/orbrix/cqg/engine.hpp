#pragma once

// An engine a runner drives through BrokerLink: live over whatever CQGCEL is
// registered (the vendor's, or the simulator), or over recorded history in a
// backtest, with the same calls in the same order:
//
//   gateway()               once, before anything; BrokerLink calls its hooks
//   start(link)             logged on, the account subscribed: subscribe here
//   on_timer(link, now)     every interval() of the run's time
//   stop(link)              once at the end, still logged on
//
// Time. An engine sees the run's time only as the `now` it is handed: live,
// the wall clock's UTC time; in a backtest, the simulated clock's, and
// on_timer is called at exactly every interval() of simulated time, between
// venue events, never while a hook runs, except within a gap of the history
// longer than an hour, which the run jumps (orbrix/backtest/backtest.hpp). The vendor's times in
// the records (quote, order and deal times) are the simulated ones too. An engine that reads
// std::chrono::system_clock itself reads this machine's clock, which a backtest does not move: it
// must not time its decisions by it.
//
// Threads. start, on_timer and stop run on the runner's thread, and may call
// every BrokerLink operation, blocking ones included; the hooks run on the
// API host's worker, as always, and must not block.

#include <chrono>

#include "orbrix/core/base_gateway.hpp"

namespace orbrix::cqg {

class BrokerLink;

// The longest interval between two on_timer calls a run takes.
inline constexpr std::chrono::milliseconds kMaxEngineInterval{std::chrono::hours(24)};

// An engine run_live and run_backtest drive (see the top of this file).
class Engine {
 public:
  // The run's time: the wall clock's live, the simulated clock's in a
  // backtest.
  using TimePoint = std::chrono::system_clock::time_point;

  virtual ~Engine() = default;

  // The gateway object whose hooks BrokerLink calls; lives as long as the
  // engine.
  virtual BaseGateway& gateway() = 0;
  // How often on_timer runs; a second by default, 1 ms to
  // kMaxEngineInterval (a run refuses another with std::invalid_argument).
  virtual std::chrono::milliseconds interval() const { return std::chrono::seconds(1); }

  // Called once, logged on with the account subscribed: subscribe here.
  virtual void start(BrokerLink& link) = 0;
  // Called every interval() of the run's time, `now` being that time.
  virtual void on_timer(BrokerLink& link, TimePoint now) = 0;
  // Called once at the end, still logged on; does nothing unless overridden.
  virtual void stop(BrokerLink& link) { (void)link; }
};

}  // namespace orbrix::cqg
