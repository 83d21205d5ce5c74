#include "orbrix/automation/apartment.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/wait.hpp"
#include "platform.hpp"

namespace orbrix::automation {
namespace {

// "file:line (function)" of a poster.
std::string where(const SourceLocation& from) {
  return fmt::format("{}:{} ({})", from.file_name(), from.line(), from.function_name());
}

// " posted at ..." when the message has a poster, else nothing.
std::string posted_at(const SourceLocation& from) {
  return from.line() != 0 ? fmt::format(" posted at {}", where(from)) : std::string();
}

// The calling thread's apartment and its co_initialize count. A thread that
// ends without uninitialising still shuts its apartment down, so no caller
// waits for a pump that will never run again.
struct ThreadApartment {
  std::shared_ptr<Apartment> apartment;
  int refs = 0;
  ~ThreadApartment() {
    if (apartment) {
      apartment->shut_down();
      detail::detach_thread(*apartment);
    }
  }
};
thread_local ThreadApartment this_thread_apartment;

constexpr const char* kDisconnected =
    "the object's apartment has shut down; the call did not reach it";

}  // namespace

Apartment::Apartment(Key) : thread_(std::this_thread::get_id()) {}

Apartment::~Apartment() = default;

const std::shared_ptr<Apartment>& Apartment::current() noexcept {
  return this_thread_apartment.apartment;
}

bool Apartment::is_current() const noexcept {
  return this_thread_apartment.apartment.get() == this;
}

bool Apartment::alive() const noexcept {
  MutexLock lock(mutex_);
  return alive_;
}

void Apartment::set_call_timeout(std::chrono::milliseconds timeout) noexcept {
  call_timeout_ms_.store(timeout.count(), std::memory_order_relaxed);
}

std::chrono::milliseconds Apartment::call_timeout() const noexcept {
  return std::chrono::milliseconds(call_timeout_ms_.load(std::memory_order_relaxed));
}

std::uint64_t Apartment::round_trips() const noexcept {
  return round_trips_.load(std::memory_order_relaxed);
}

bool Apartment::enqueue(Message message) {
  {
    MutexLock lock(mutex_);
    if (!alive_) {
      return false;
    }
    queue_.push_back(std::move(message));
  }
  wake_owner();
  return true;
}

bool Apartment::post(Task task, SourceLocation from) {
  return enqueue(Message{std::move(task), {}, nullptr, false, from});
}

bool Apartment::post_quit() {
  return enqueue(Message{{}, {}, nullptr, true});
}

bool Apartment::post_after(Clock::duration delay, Task task, SourceLocation from) {
  {
    MutexLock lock(mutex_);
    if (!alive_) {
      return false;
    }
    timers_.push(Timer{Clock::now() + delay, timer_seq_++, std::move(task), from});
  }
  // The pump recomputes its deadline on every wake-up, so a timer due
  // before the one it sleeps for is not missed.
  wake_owner();
  return true;
}

bool Apartment::withdraw(const void* owner) {
  MutexLock lock(mutex_);
  for (std::size_t i = 0; i < queue_.size(); ++i) {
    Message& m = queue_[i];
    if (m.owner == owner) {
      // Left in place, empty: the pump skips it.
      m.run.reset();
      m.cancel.reset();
      m.owner = nullptr;
      return true;
    }
  }
  return false;
}

void Apartment::call(FunctionRef fn) {
  if (is_current()) {
    fn();
    return;
  }
  // Lives on this stack: the worker reaches it only through the queued
  // message, which is either run (and then this call waits for it to
  // finish) or withdrawn under the queue's lock before this frame ends.
  struct Pending {
    Mutex mutex;
    CondVar cv;
    bool done GUARDED_BY(mutex) = false;
    // Set when the apartment shut down with the call queued; the caller
    // raises DisconnectedError itself, so no exception object made on the
    // worker is shared with it.
    bool disconnected = false;
    std::exception_ptr error;
    void finish(std::exception_ptr e, bool gone = false) {
      MutexLock lock(mutex);
      error = std::move(e);
      disconnected = gone;
      done = true;
      // Notified under the lock: the waiter owns this object and may destroy
      // it as soon as it sees `done`.
      cv.notify_one();
    }
  } pending;

  round_trips_.fetch_add(1, std::memory_order_relaxed);
  auto run = [fn, p = &pending] {
    std::exception_ptr error;
    try {
      fn();
    } catch (...) {
      error = std::current_exception();
    }
    p->finish(std::move(error));
  };
  auto cancel = [p = &pending] { p->finish(nullptr, /*gone=*/true); };
  const auto timeout = call_timeout();
  if (!enqueue(Message{run, cancel, &pending, false})) {
    throw DisconnectedError(kDisconnected);
  }
  // A time-out beyond a day means "no bound": the deadline must not overflow.
  const bool bounded = timeout > std::chrono::milliseconds(0) && timeout < std::chrono::hours(24);
  const auto deadline = Clock::now() + timeout;
  {
    MutexLock lock(pending.mutex);
    auto done = [&pending]() NO_THREAD_SAFETY_ANALYSIS { return pending.done; };
    if (bounded && !pending.cv.wait_until(lock, deadline, done)) {
      // Not finished in time. Withdraw it if the worker has not taken it up
      // yet; otherwise it is running and this frame must outlive it.
      lock.native().unlock();
      const bool withdrawn = withdraw(&pending);
      lock.native().lock();
      if (withdrawn) {
        throw CallTimeoutError(fmt::format(
            "the call was not taken up by the object's apartment within {} ms (its thread is busy "
            "or blocked{}); it was withdrawn",
            timeout.count(), running_task_text()));
      }
    }
    pending.cv.wait(lock, done);
  }
  if (pending.disconnected) {
    throw DisconnectedError(kDisconnected);
  }
  if (pending.error) {
    std::rethrow_exception(pending.error);
  }
}

bool Apartment::add_export(const std::shared_ptr<Dispatch>& object) {
  MutexLock lock(mutex_);
  if (!alive_) {
    return false;
  }
  auto& e = exports_[object.get()];
  if (e.proxies++ == 0) {
    e.object = object;
  }
  return true;
}

void Apartment::release_export(const Dispatch* object) noexcept {
  std::shared_ptr<Dispatch> last;
  bool posted = false;
  {
    MutexLock lock(mutex_);
    auto it = exports_.find(object);
    if (it == exports_.end() || --it->second.proxies > 0) {
      return;
    }
    last = std::move(it->second.object);
    exports_.erase(it);
    if (!is_current()) {
      // The object goes on its own thread: the message holding the last
      // reference is destroyed by the pump after it ran. If the queue
      // cannot grow, the reference is dropped here instead.
      try {
        queue_.push_back(Message{[held = std::move(last)] {}, {}, nullptr, false});
        posted = true;
      } catch (...) {
      }
    }
  }
  if (posted) {
    wake_owner();
  }
}

void Apartment::move_due_timers() {
  const auto now = Clock::now();
  while (!timers_.empty() && timers_.top().due <= now) {
    // priority_queue::top is const; the task is moved out before pop.
    auto& top = const_cast<Timer&>(timers_.top());
    queue_.push_back(Message{std::move(top.run), {}, nullptr, false, top.from});
    timers_.pop();
  }
}

bool Apartment::has_work() const {
  return !queue_.empty() || (!timers_.empty() && timers_.top().due <= Clock::now());
}

std::string Apartment::running_task_text() const {
  MutexLock lock(mutex_);
  if (!running_posted_) {
    return {};
  }
  return fmt::format(", running a task posted at {}", where(running_from_));
}

bool Apartment::pump() {
  std::size_t waiting;
  {
    MutexLock lock(mutex_);
    move_due_timers();
    waiting = queue_.size();
  }
  // Between tasks nothing is said to run; cleared once per pump, not per
  // message (the pop below sets it under the lock it takes anyway).
  struct ClearRunning {
    Apartment& a;
    bool posted_ran = false;  // a pump of calls only takes no extra lock
    ~ClearRunning() {
      if (posted_ran) {
        MutexLock lock(a.mutex_);
        a.running_posted_ = false;
      }
    }
  } clear_running{*this};
  // Only the messages waiting on entry: a flood of new posts cannot keep the
  // caller from checking its shutdown handle.
  for (; waiting > 0; --waiting) {
    Message message;
    {
      MutexLock lock(mutex_);
      if (queue_.empty()) {
        break;
      }
      message = std::move(queue_.front());
      queue_.pop_front();
      running_from_ = message.from;
      running_posted_ = message.from.line() != 0;
      clear_running.posted_ran = clear_running.posted_ran || running_posted_;
    }
    if (message.quit) {
      return true;
    }
    try {
      message.run();
    } catch (const std::exception& e) {
      report_error(fmt::format("unhandled exception in a queued message{}: {}",
                               posted_at(message.from), e.what()));
    } catch (...) {
      report_error(
          fmt::format("unhandled exception in a queued message{}", posted_at(message.from)));
    }
  }
  return false;
}

void Apartment::shut_down() {
  std::vector<Message> queued;
  decltype(timers_) timers;
  decltype(exports_) exports;
  {
    MutexLock lock(mutex_);
    if (!alive_) {
      return;
    }
    alive_ = false;
    queued = queue_.take_all();
    timers.swap(timers_);
    exports.swap(exports_);
  }
  wake_owner();
  for (auto& message : queued) {
    if (message.cancel) {
      message.cancel();
    }
  }
  // Queued tasks, timers and the exported objects (and what they hold) are
  // released here, outside the lock, on the apartment's own thread.
}

void co_initialize() {
  auto& tls = this_thread_apartment;
  if (tls.refs == 0) {
    auto apartment = std::make_shared<Apartment>(Apartment::Key{});
    detail::attach_thread(*apartment);
    tls.apartment = std::move(apartment);
  }
  ++tls.refs;
}

void co_uninitialize() {
  auto& tls = this_thread_apartment;
  if (tls.refs == 0) {
    throw ApartmentError("co_uninitialize: the thread has no apartment");
  }
  if (--tls.refs == 0) {
    auto apartment = std::move(tls.apartment);
    tls.apartment.reset();
    apartment->shut_down();
    detail::detach_thread(*apartment);
  }
}

}  // namespace orbrix::automation
