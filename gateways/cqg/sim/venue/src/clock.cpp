#include "venue/clock.hpp"

#include <stdexcept>
#include <string>

#include "venue/market/time_text.hpp"

namespace orbrix::cqgsim::venue {

void MarketClock::advance_to(Timestamp t) {
  if (advancing_) {
    throw std::logic_error("MarketClock::advance_to called from inside a timer callback");
  }
  if (t < now_) {
    throw std::invalid_argument("MarketClock: cannot go back from " + format_timestamp(now_) +
                                " to " + format_timestamp(t));
  }
  struct Guard {
    bool& flag;
    ~Guard() { flag = false; }
  } guard{advancing_};
  advancing_ = true;
  while (!timers_.empty() && timers_.begin()->first.first <= t) {
    auto node = timers_.extract(timers_.begin());
    due_by_id_.erase(node.key().second);
    now_ = node.key().first;
    node.mapped()();
  }
  now_ = t;
}

void MarketClock::advance(Duration d) {
  if (d < Duration::zero()) {
    throw std::invalid_argument("MarketClock::advance: negative duration");
  }
  advance_to(now_ + d);
}

MarketClock::TimerId MarketClock::schedule_at(Timestamp t, Callback fn) {
  if (!fn) {
    throw std::invalid_argument("MarketClock::schedule_at: empty callback");
  }
  if (t < now_) {
    throw std::invalid_argument("MarketClock::schedule_at: " + format_timestamp(t) +
                                " is before now " + format_timestamp(now_));
  }
  const TimerId id = next_id_++;
  timers_.emplace(Key{t, id}, std::move(fn));
  due_by_id_.emplace(id, t);
  return id;
}

MarketClock::TimerId MarketClock::schedule_after(Duration d, Callback fn) {
  if (d < Duration::zero()) {
    throw std::invalid_argument("MarketClock::schedule_after: negative delay");
  }
  return schedule_at(now_ + d, std::move(fn));
}

bool MarketClock::cancel(TimerId id) {
  const auto it = due_by_id_.find(id);
  if (it == due_by_id_.end()) {
    return false;
  }
  timers_.erase(Key{it->second, id});
  due_by_id_.erase(it);
  return true;
}

std::optional<Timestamp> MarketClock::next_due() const {
  if (timers_.empty()) {
    return std::nullopt;
  }
  return timers_.begin()->first.first;
}

}  // namespace orbrix::cqgsim::venue
