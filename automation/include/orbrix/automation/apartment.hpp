#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <queue>
#include <span>
#include <thread>
#include <type_traits>
#include <vector>

#include "orbrix/common/mutex.hpp"

namespace orbrix::automation {

class WaitHandle;

// A non-owning reference to a callable, for calls that run it before they
// return: no allocation, unlike std::function.
class FunctionRef {
 public:
  template <class F>
  requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> && std::is_invocable_v<F&>)
      FunctionRef(F&& f)
  noexcept  // NOLINT(google-explicit-constructor)
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* o) { (*static_cast<std::remove_reference_t<F>*>(o))(); }) {}
  void operator()() const { call_(object_); }

 private:
  void* object_;
  void (*call_)(void*);
};

// A single-threaded apartment: the thread that owns it, its message queue
// and its timers. Other threads reach the apartment's objects only by posting
// work into the queue (proxies do this); the owning thread runs the work
// while it pumps messages. Created by co_initialize on the owning thread.
class Apartment {
  struct Key {
    explicit Key() = default;
  };

 public:
  using Clock = std::chrono::steady_clock;
  using Task = std::function<void()>;

  // Only co_initialize creates apartments.
  explicit Apartment(Key);
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  ~Apartment();

  // The calling thread's apartment, or null when it has none.
  static const std::shared_ptr<Apartment>& current() noexcept;

  bool is_current() const noexcept;
  // False once the apartment has been uninitialised.
  bool alive() const noexcept;
  std::thread::id thread_id() const noexcept { return thread_; }

  // Queues a task for the apartment thread; any thread. Returns false (and
  // drops the task) when the apartment has shut down.
  bool post(Task task);
  // Queues a task to run once `delay` has passed (a timer message).
  bool post_after(Clock::duration delay, Task task);
  // Queues a quit message: the pump that meets it ends.
  bool post_quit();

  // Runs `fn` on the apartment thread and waits for it; the exception it
  // throws is re-raised here. Called on the apartment thread it runs `fn`
  // directly (queueing and waiting would deadlock). Throws DisconnectedError
  // at once when the apartment has shut down, also when it shuts down with
  // the call still queued.
  void call(FunctionRef fn);

  // --- used by the message wait and pump (owning thread only) ---

  // Waits until a handle is signalled, a message is waiting (when
  // `wake_on_messages`) or the time-out passes. Returns the index of the
  // signalled handle, handles.size() for "messages waiting", or -1 on time-out.
  int wait(std::span<WaitHandle* const> handles, std::chrono::milliseconds timeout, bool infinite,
           bool wake_on_messages);
  // Runs the messages waiting now (due timers included). Returns true when it
  // met a quit message; the messages behind it stay queued.
  bool pump();

  // Uninitialises: rejects new work and fails every queued call.
  void shut_down();

 private:
  friend class WaitHandle;
  friend void co_initialize();

  struct Message {
    Task run;
    Task cancel;  // runs instead of `run` when the apartment shuts down
    bool quit = false;
  };
  struct Timer {
    Clock::time_point due;
    std::uint64_t seq;
    Task run;
    bool operator>(const Timer& o) const { return due != o.due ? due > o.due : seq > o.seq; }
  };

  bool enqueue(Message message);
  void move_due_timers() REQUIRES(mutex_);
  bool has_work() const REQUIRES(mutex_);
  void notify();

  const std::thread::id thread_;
  mutable Mutex mutex_;
  CondVar wake_;
  bool alive_ GUARDED_BY(mutex_) = true;
  std::deque<Message> queue_ GUARDED_BY(mutex_);
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_ GUARDED_BY(mutex_);
  std::uint64_t timer_seq_ GUARDED_BY(mutex_) = 0;
};

// CoInitialize: makes the calling thread a single-threaded apartment, or
// adds a reference when it is one already.
void co_initialize();
// CoUninitialize: drops a reference; the last one shuts the apartment down.
// Throws ApartmentError when the thread has no apartment.
void co_uninitialize();

// Scoped co_initialize / co_uninitialize.
class ComScope {
 public:
  ComScope() { co_initialize(); }
  ~ComScope() { co_uninitialize(); }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
};

}  // namespace orbrix::automation
