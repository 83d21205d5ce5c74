#include "orbrix/cqg/testing/recording_sink.hpp"

#include <algorithm>

#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg::testing {

void RecordingSink::record(std::string_view event, std::initializer_list<Variant> args) {
  MutexLock lock(mutex_);
  calls_.push_back(Call{std::string(event), std::vector<Variant>(args), current_thread_id()});
  changed_.notify_all();
}

std::vector<RecordingSink::Call> RecordingSink::calls() const {
  MutexLock lock(mutex_);
  return calls_;
}

std::size_t RecordingSink::count_locked(std::string_view event) const {
  return static_cast<std::size_t>(std::count_if(
      calls_.begin(), calls_.end(), [event](const Call& c) { return c.event == event; }));
}

std::size_t RecordingSink::count(std::string_view event) const {
  MutexLock lock(mutex_);
  return count_locked(event);
}

bool RecordingSink::wait_for(std::string_view event, std::size_t times,
                             std::chrono::milliseconds timeout) const {
  MutexLock lock(mutex_);
  return changed_.wait_for(
      lock, timeout, [&]() NO_THREAD_SAFETY_ANALYSIS { return count_locked(event) >= times; });
}

}  // namespace orbrix::cqg::testing
