#include "orbrix/telegram/cancel_source.hpp"

#include <algorithm>

namespace orbrix::telegram {

void CancelSource::cancel() {
  MutexLock lock(mutex_);
  cancelled_.store(true, std::memory_order_release);
  for (const Entry& entry : attached_) {
    entry.waker(entry.transfer);
  }
  cv_.notify_all();
}

bool CancelSource::wait_for(std::chrono::milliseconds delay) {
  MutexLock lock(mutex_);
  return cv_.wait_for(lock, delay, [this] { return cancelled_.load(std::memory_order_acquire); });
}

void CancelSource::reset() {
  MutexLock lock(mutex_);
  cancelled_.store(false, std::memory_order_release);
}

bool CancelSource::attach(void* transfer, Waker waker) {
  MutexLock lock(mutex_);
  if (cancelled_.load(std::memory_order_acquire)) {
    return false;
  }
  attached_.push_back(Entry{transfer, waker});
  return true;
}

void CancelSource::detach(void* transfer) {
  MutexLock lock(mutex_);
  std::erase_if(attached_, [transfer](const Entry& e) { return e.transfer == transfer; });
}

}  // namespace orbrix::telegram
