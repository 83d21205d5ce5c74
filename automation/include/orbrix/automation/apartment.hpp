#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <queue>
#include <span>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "orbrix/automation/detail/adaptive_spin.hpp"
#include "orbrix/automation/detail/ring_queue.hpp"
#include "orbrix/automation/task.hpp"

#include "orbrix/common/mutex.hpp"
#include "orbrix/common/source_location.hpp"

namespace orbrix::automation {

class WaitHandle;
class Dispatch;
struct Win32Apartment;

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

// A single-threaded apartment: the thread that owns it, its message queue,
// its timers, and the objects it exports to proxies in other apartments.
// Other threads reach the apartment's objects only by posting work into the
// queue (proxies do this); the owning thread runs the work while it pumps
// messages. Created by co_initialize on the owning thread.
class Apartment {
  struct Key {
    explicit Key() = default;
  };

 public:
  using Clock = std::chrono::steady_clock;
  using Task = automation::Task;

  // The time-out of cross-apartment calls until the owner sets another.
  static constexpr std::chrono::milliseconds kDefaultCallTimeout{std::chrono::minutes(2)};
  // The spin limit until the owner sets another (see set_spin_limit).
  static constexpr std::chrono::nanoseconds kDefaultSpinLimit{std::chrono::microseconds(20)};

  // Only co_initialize creates apartments.
  explicit Apartment(Key);
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  ~Apartment();

  // The calling thread's apartment, or null when it has none.
  static const std::shared_ptr<Apartment>& current() noexcept;

  // True on the thread this apartment belongs to, while it is initialised:
  // the apartment itself is compared, not a thread id the C library reuses.
  bool is_current() const noexcept;
  // False once the apartment has been uninitialised.
  bool alive() const noexcept;
  std::thread::id thread_id() const noexcept { return thread_; }

  // Queues a task for the apartment thread; any thread. Returns false (and
  // drops the task) when the apartment has shut down. Allocates only when
  // the queue grows past its largest size so far (or for a closure larger
  // than Task::kInlineSize). `from` (the caller, by default) names the task
  // when it throws, or when it holds the thread past a call's time-out.
  bool post(Task task, SourceLocation from = SourceLocation::current());
  // Queues a task to run once `delay` has passed (a timer message). A timer
  // posted from another thread wakes the pump if it is due before the
  // pump's current deadline.
  bool post_after(Clock::duration delay, Task task,
                  SourceLocation from = SourceLocation::current());
  // Queues a quit message: the pump that meets it ends.
  bool post_quit();

  // Runs `fn` on the apartment thread and waits for it; the exception it
  // throws is re-raised here. Called on the apartment thread it runs `fn`
  // directly (queueing and waiting would deadlock). Throws DisconnectedError
  // at once when the apartment has shut down, also when it shuts down with
  // the call still queued, and CallTimeoutError when the apartment has not
  // taken the call up within call_timeout() (the call is then withdrawn and
  // never runs; once it runs, the caller waits for it to finish). Does not
  // allocate.
  void call(FunctionRef fn);

  // The bound of call(); any thread.
  void set_call_timeout(std::chrono::milliseconds timeout) noexcept;
  std::chrono::milliseconds call_timeout() const noexcept;
  // How many calls from other threads have been carried into this
  // apartment (blocking round trips); any thread.
  std::uint64_t round_trips() const noexcept;

  // The longest a thread spins (busy-waits, with the CPU's pause
  // instruction) for the other side of a hand-off before it sleeps: the
  // caller of call() for the call's end, and the apartment's thread, in its
  // wait, for new work. A spin saves the sleep and the wake-up (microseconds
  // each) when the other side answers within it. The spin used adapts below
  // this limit: it grows while the other side answers within the limit and
  // shrinks while it does not, as on a loaded machine, where a spin would
  // take the core the other thread needs. Zero: never spin. Any thread.
  void set_spin_limit(std::chrono::nanoseconds limit) noexcept;
  std::chrono::nanoseconds spin_limit() const noexcept;

  // --- the objects proxies refer to (COM's stubs); used by proxies ---

  // Holds `object` for a proxy in another apartment, until the proxy is
  // released or the apartment shuts down. Returns false (holding nothing)
  // when the apartment has shut down.
  bool add_export(const std::shared_ptr<Dispatch>& object);
  // A proxy of `object` is gone; the last one lets the object go, on the
  // apartment thread. Any thread.
  void release_export(const Dispatch* object) noexcept;

  // --- used by the message wait and pump (owning thread only) ---

  // Waits until a handle is signalled, a message is waiting (when
  // `wake_on_messages`; on Windows any window message too) or the time-out
  // passes. Returns the index of the
  // signalled handle, handles.size() for "messages waiting", or -1 on time-out.
  int wait(std::span<WaitHandle* const> handles, std::chrono::milliseconds timeout, bool infinite,
           bool wake_on_messages);
  // Runs the messages of this queue waiting now (due timers included).
  // Returns true when it met a quit message; the messages behind it stay
  // queued.
  bool pump();

  // Uninitialises: rejects new work, fails every queued call and releases
  // the exported objects (on the calling thread, which is the owner).
  void shut_down();

 private:
  friend class WaitHandle;
  friend struct Win32Apartment;
  friend void co_initialize();
  friend void co_uninitialize();

  struct Message {
    Message() = default;
    Message(Task run_task, Task cancel_task, const void* waiting_call, bool quit_message,
            SourceLocation posted_from = {}) noexcept
        : run(std::move(run_task)),
          cancel(std::move(cancel_task)),
          owner(waiting_call),
          call(waiting_call != nullptr),
          quit(quit_message),
          from(posted_from) {}
    // Moved only while one thread holds the message (under the queue's lock,
    // or taken from the batch by the pump).
    Message(Message&& o) noexcept
        : run(std::move(o.run)),
          cancel(std::move(o.cancel)),
          owner(o.owner.load(std::memory_order_relaxed)),
          call(o.call),
          quit(o.quit),
          from(o.from) {}
    Message& operator=(Message&& o) noexcept {
      run = std::move(o.run);
      cancel = std::move(o.cancel);
      owner.store(o.owner.load(std::memory_order_relaxed), std::memory_order_relaxed);
      call = o.call;
      quit = o.quit;
      from = o.from;
      return *this;
    }

    Task run;
    Task cancel;  // runs instead of `run` when the apartment shuts down
    // The waiting call that queued it. Whoever takes it to null owns the
    // call: the pump to run it, withdraw() or shut_down() to drop it; a
    // call message found null is skipped.
    std::atomic<const void*> owner{nullptr};
    bool call = false;
    bool quit = false;
    SourceLocation from{};  // who posted it (a call: default, empty)
  };
  struct Timer {
    Clock::time_point due;
    std::uint64_t seq;
    Task run;
    SourceLocation from;
    bool operator>(const Timer& o) const { return due != o.due ? due > o.due : seq > o.seq; }
  };
  struct Export {
    std::shared_ptr<Dispatch> object;
    std::size_t proxies = 0;
  };

  bool enqueue(Message message);
  // Queues a message; true when the owning thread sleeps and must be woken.
  bool push(Message message) REQUIRES(mutex_);
  // Withdraws the queued message of a waiting call; false when the pump
  // has already taken it up.
  bool withdraw(const void* owner);
  // Registers this apartment with the handles of a wait, unless it is the
  // set the last wait registered (owning thread only).
  void register_with(std::span<WaitHandle* const> handles);
  // Notes the task the pump runs now, for running_task_text().
  void set_running(const SourceLocation& from) noexcept;
  void move_due_timers() REQUIRES(mutex_);
  // ", running a task posted at ..." when the pump runs a posted task now.
  std::string running_task_text() const;
  bool has_work() const REQUIRES(mutex_);
  // Wakes a wait of the owning thread for a handle (WaitHandle::set).
  void notify();
  // Wakes the owning thread for new work in the queue: its condition
  // variable in the portable build (only while it sleeps), a message to its
  // window on Windows.
  void wake_owner();

  const std::thread::id thread_;
  std::atomic<std::int64_t> call_timeout_ms_{kDefaultCallTimeout.count()};
  std::atomic<std::uint64_t> round_trips_{0};
  std::atomic<std::int64_t> spin_limit_ns_{kDefaultSpinLimit.count()};
  // The spin of callers waiting for a call's end and of the owning thread
  // waiting for new work.
  detail::AdaptiveSpin spin_;
  mutable Mutex mutex_;
  CondVar wake_;
  bool alive_ GUARDED_BY(mutex_) = true;
  // True while the owning thread sleeps in wait(): only then does a post
  // pay for waking it.
  bool sleeping_ GUARDED_BY(mutex_) = false;
  // Counts what may end a wait (posts, timers, exports released), so a
  // spinning owner sees new work without taking the lock.
  std::atomic<std::uint32_t> posted_{0};
  detail::RingQueue<Message> queue_ GUARDED_BY(mutex_);
  // The messages the pump takes one by one without the lock: the whole
  // queue, swapped in at once when the last batch is done. Its slots change
  // only on the owning thread under mutex_ (swap, clear, shut_down), which
  // other threads hold to read it (withdraw); the pump reads it without.
  detail::RingQueue<Message> batch_;
  std::size_t batch_next_ = 0;  // the next message of batch_ to run; owning thread only
  // The handles the last wait registered with, by address and serial
  // number (a new handle at a dead one's address is another handle).
  struct Registered {
    WaitHandle* handle;
    std::uint64_t serial;
    bool operator==(const Registered&) const = default;
  };
  std::vector<Registered> registered_;  // owning thread only
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_ GUARDED_BY(mutex_);
  std::uint64_t timer_seq_ GUARDED_BY(mutex_) = 0;
  std::unordered_map<const Dispatch*, Export> exports_ GUARDED_BY(mutex_);
  // Who posted the task the pump runs now (line 0 between tasks and for
  // calls), for the error of a call that was not taken up in time. Written
  // by the pump alone; the strings are the program's own (static).
  std::atomic<const char*> running_file_{""};
  std::atomic<const char*> running_function_{""};
  std::atomic<std::uint_least32_t> running_line_{0};
#if defined(_WIN32)
  // The owner's message-only window (an HWND) and whether a wake-up message
  // is on its way to it, so a burst of posts sends one message.
  std::atomic<void*> window_{nullptr};
  std::atomic<bool> wake_posted_{false};
#endif
};

// CoInitialize: makes the calling thread a single-threaded apartment, or
// adds a reference when it is one already. On Windows the first call also
// initialises COM on the thread (an STA) and creates the message-only window
// that carries posted work into the pump; it throws ApartmentError when COM
// refuses (the thread is in the multithreaded apartment).
void co_initialize();
// CoUninitialize: drops a reference; the last one shuts the apartment down
// (and on Windows destroys its window and uninitialises COM on the thread).
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
