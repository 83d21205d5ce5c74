#pragma once

// The venue's clock and timer wheel: the time the venue believes it is, moved
// only by its owner (from real time in a running simulator, in steps in a test
// or a backtest: a delay is `advance(30ms)`, not a sleep), with timers that
// fire when it passes their due time. The simulator keeps one, and every
// delayed answer it gives is a timer on it.
//
// Venue thread only; nothing blocks. Scheduling allocates a map node (and the
// callback only when its closure is larger than Task's inline storage);
// advancing allocates nothing of its own.

#include <cstdint>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

#include "orbrix/common/task.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

class MarketClock {
 public:
  using TimerId = std::uint64_t;
  using Callback = orbrix::Task;  // move-only: a timer may own what it answers with

  explicit MarketClock(Timestamp start) : now_(start) {}
  MarketClock(const MarketClock&) = delete;
  MarketClock& operator=(const MarketClock&) = delete;

  Timestamp now() const { return now_; }

  // Fires every timer due at or before `t`, in due-time order (equal times in
  // the order they were scheduled), with now() set to each timer's due time
  // while it runs, then sets now() to `t`. Timers scheduled by a callback
  // that fall due by `t` fire in the same call, in order.
  // Throws std::invalid_argument when `t` is before now() (time never goes
  // back) and std::logic_error when called from inside a timer callback. An
  // exception from a callback propagates with that timer consumed and now()
  // at its due time; the remaining timers stay scheduled.
  void advance_to(Timestamp t);

  // advance_to(now() + d); throws std::invalid_argument for a negative d.
  void advance(Duration d);

  // Schedules `fn` at `t` (>= now(); a timer due now fires on the next
  // advance, even advance(0)). Returns an id for cancel(). Throws
  // std::invalid_argument for a time in the past or an empty callback.
  TimerId schedule_at(Timestamp t, Callback fn);

  // schedule_at(now() + d); throws std::invalid_argument for a negative d.
  TimerId schedule_after(Duration d, Callback fn);

  // Removes a pending timer. Returns false when it already fired, was
  // cancelled, or never existed.
  bool cancel(TimerId id);

  // Due time of the earliest pending timer, or none.
  std::optional<Timestamp> next_due() const;
  std::size_t pending() const { return timers_.size(); }

 private:
  using Key = std::pair<Timestamp, TimerId>;  // ids grow, so ties keep scheduling order

  Timestamp now_;
  TimerId next_id_ = 1;
  bool advancing_ = false;
  std::map<Key, Callback> timers_;
  std::unordered_map<TimerId, Timestamp> due_by_id_;  // lookup only, never iterated
};

}  // namespace orbrix::cqgsim::venue
