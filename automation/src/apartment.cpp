#include "orbrix/automation/apartment.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/wait.hpp"

namespace orbrix::automation {
namespace {

// The calling thread's apartment and its co_initialize count. A thread that
// ends without uninitialising still shuts its apartment down, so no caller
// waits for a pump that will never run again.
struct ThreadApartment {
  std::shared_ptr<Apartment> apartment;
  int refs = 0;
  ~ThreadApartment() {
    if (apartment) {
      apartment->shut_down();
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
  return thread_ == std::this_thread::get_id();
}

bool Apartment::alive() const noexcept {
  MutexLock lock(mutex_);
  return alive_;
}

void Apartment::notify() {
  // Taking the mutex orders this wake-up after the waiter's last check.
  { MutexLock lock(mutex_); }
  wake_.notify_all();
}

bool Apartment::enqueue(Message message) {
  {
    MutexLock lock(mutex_);
    if (!alive_) {
      return false;
    }
    queue_.push_back(std::move(message));
  }
  wake_.notify_all();
  return true;
}

bool Apartment::post(Task task) {
  return enqueue(Message{std::move(task), {}, false});
}

bool Apartment::post_quit() {
  return enqueue(Message{{}, {}, true});
}

bool Apartment::post_after(Clock::duration delay, Task task) {
  {
    MutexLock lock(mutex_);
    if (!alive_) {
      return false;
    }
    timers_.push(Timer{Clock::now() + delay, timer_seq_++, std::move(task)});
  }
  wake_.notify_all();
  return true;
}

void Apartment::call(FunctionRef fn) {
  if (is_current()) {
    fn();
    return;
  }
  struct Pending {
    Mutex mutex;
    CondVar cv;
    bool done GUARDED_BY(mutex) = false;
    std::exception_ptr error;
    void finish(std::exception_ptr e) {
      MutexLock lock(mutex);
      error = std::move(e);
      done = true;
      // Notified under the lock: the waiter owns this object and may destroy
      // it as soon as it sees `done`.
      cv.notify_one();
    }
  } pending;

  auto run = [fn, &pending] {
    std::exception_ptr error;
    try {
      fn();
    } catch (...) {
      error = std::current_exception();
    }
    pending.finish(std::move(error));
  };
  auto cancel = [&pending] {
    pending.finish(std::make_exception_ptr(DisconnectedError(kDisconnected)));
  };
  if (!enqueue(Message{run, cancel, false})) {
    throw DisconnectedError(kDisconnected);
  }
  MutexLock lock(pending.mutex);
  pending.cv.wait(lock, [&pending]() NO_THREAD_SAFETY_ANALYSIS { return pending.done; });
  if (pending.error) {
    std::rethrow_exception(pending.error);
  }
}

void Apartment::move_due_timers() {
  const auto now = Clock::now();
  while (!timers_.empty() && timers_.top().due <= now) {
    // priority_queue::top is const; the task is moved out before pop.
    auto& top = const_cast<Timer&>(timers_.top());
    queue_.push_back(Message{std::move(top.run), {}, false});
    timers_.pop();
  }
}

bool Apartment::has_work() const {
  return !queue_.empty() || (!timers_.empty() && timers_.top().due <= Clock::now());
}

int Apartment::wait(std::span<WaitHandle* const> handles, std::chrono::milliseconds timeout,
                    bool infinite, bool wake_on_messages) {
  for (auto* h : handles) {
    h->add_waiter(this);
  }
  const auto deadline = infinite ? Clock::time_point::max() : Clock::now() + timeout;
  int result = -1;
  {
    MutexLock lock(mutex_);
    auto woken = [&]() NO_THREAD_SAFETY_ANALYSIS {
      return (wake_on_messages && has_work()) ||
             std::any_of(handles.begin(), handles.end(),
                         [](const WaitHandle* h) { return h->is_signalled(); });
    };
    for (;;) {
      // Handles first, as the Win32 wait reports them ahead of messages.
      for (std::size_t i = 0; i < handles.size() && result < 0; ++i) {
        if (handles[i]->is_signalled() && handles[i]->acquire()) {
          result = static_cast<int>(i);
        }
      }
      if (result >= 0) {
        break;
      }
      if (wake_on_messages && has_work()) {
        result = static_cast<int>(handles.size());
        break;
      }
      if (!infinite && Clock::now() >= deadline) {
        break;
      }
      auto until = deadline;
      if (wake_on_messages && !timers_.empty() && timers_.top().due < until) {
        until = timers_.top().due;
      }
      if (until == Clock::time_point::max()) {
        wake_.wait(lock, woken);
      } else {
        wake_.wait_until(lock, until, woken);
      }
    }
  }
  for (auto* h : handles) {
    h->remove_waiter(this);
  }
  return result;
}

bool Apartment::pump() {
  std::size_t waiting;
  {
    MutexLock lock(mutex_);
    move_due_timers();
    waiting = queue_.size();
  }
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
    }
    if (message.quit) {
      return true;
    }
    try {
      message.run();
    } catch (const std::exception& e) {
      report_error(fmt::format("unhandled exception in a queued message: {}", e.what()));
    } catch (...) {
      report_error("unhandled exception in a queued message");
    }
  }
  return false;
}

void Apartment::shut_down() {
  std::deque<Message> queued;
  decltype(timers_) timers;
  {
    MutexLock lock(mutex_);
    if (!alive_) {
      return;
    }
    alive_ = false;
    queued.swap(queue_);
    timers.swap(timers_);
  }
  wake_.notify_all();
  for (auto& message : queued) {
    if (message.cancel) {
      message.cancel();
    }
  }
  // Queued tasks and timers (and the objects they hold) are released here,
  // outside the lock.
}

void co_initialize() {
  auto& tls = this_thread_apartment;
  if (tls.refs++ == 0) {
    tls.apartment = std::make_shared<Apartment>(Apartment::Key{});
  }
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
  }
}

}  // namespace orbrix::automation
