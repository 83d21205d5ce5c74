#include "orbrix/automation/apartment.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "hand_off.hpp"
#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/wait.hpp"
#include "orbrix/common/forced_unwind.hpp"
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

// The states of a waiting call's word: queued (the caller may still be
// spinning), parked (the caller sleeps on the word and must be woken), done.
constexpr std::uint32_t kCallQueued = 0;
constexpr std::uint32_t kCallParked = 1;
constexpr std::uint32_t kCallDone = 2;

// The Windows owner waits in MsgWaitForMultipleObjects, not in wait(), so
// every post sends its wake-up (one per burst, see wake_owner).
#if defined(_WIN32)
constexpr bool kWakeOnEveryPost = true;
#else
constexpr bool kWakeOnEveryPost = false;
#endif

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

void Apartment::set_spin_limit(std::chrono::nanoseconds limit) noexcept {
  spin_limit_ns_.store(std::max<std::int64_t>(limit.count(), 0), std::memory_order_relaxed);
}

std::chrono::nanoseconds Apartment::spin_limit() const noexcept {
  return std::chrono::nanoseconds(spin_limit_ns_.load(std::memory_order_relaxed));
}

bool Apartment::push(Message message) {
  queue_.push_back(std::move(message));
  posted_.fetch_add(1, std::memory_order_release);
  return sleeping_ || kWakeOnEveryPost;
}

bool Apartment::enqueue(Message message) {
  bool wake;
  {
    MutexLock lock(mutex_);
    if (!alive_) {
      return false;
    }
    wake = push(std::move(message));
  }
  if (wake) {
    wake_owner();
  }
  return true;
}

bool Apartment::post(Task task, SourceLocation from) {
  return enqueue(Message{std::move(task), {}, nullptr, false, from});
}

bool Apartment::post_quit() {
  return enqueue(Message{{}, {}, nullptr, true});
}

bool Apartment::post_after(Clock::duration delay, Task task, SourceLocation from) {
  bool wake;
  {
    MutexLock lock(mutex_);
    if (!alive_) {
      return false;
    }
    timers_.push(Timer{Clock::now() + delay, timer_seq_++, std::move(task), from});
    posted_.fetch_add(1, std::memory_order_release);
    wake = sleeping_ || kWakeOnEveryPost;
  }
  // The pump recomputes its deadline on every wake-up, so a timer due
  // before the one it sleeps for is not missed.
  if (wake) {
    wake_owner();
  }
  return true;
}

bool Apartment::withdraw(const void* owner) {
  MutexLock lock(mutex_);
  // In the queue, or in the batch the pump works through: whichever of the
  // pump and this takes the owner to null first has the call.
  auto take = [owner](Message& m) {
    const void* expected = owner;
    return m.call && m.owner.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
  };
  for (std::size_t i = 0; i < queue_.size(); ++i) {
    if (take(queue_[i])) {
      return true;
    }
  }
  for (std::size_t i = 0; i < batch_.size(); ++i) {
    if (take(batch_[i])) {
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
  // finish) or withdrawn before this frame ends.
  struct Pending {
    std::atomic<std::uint32_t> state{kCallQueued};
    // Set when the apartment shut down with the call queued; the caller
    // raises DisconnectedError itself, so no exception object made on the
    // worker is shared with it.
    bool disconnected = false;
    std::exception_ptr error;
    void finish(std::exception_ptr e, bool gone = false) {
      error = std::move(e);
      disconnected = gone;
      // The caller may return (and this frame go) as soon as it sees
      // kCallDone; only a caller that said it sleeps is woken, which is
      // the futex wake of an address, harmless if the frame has gone.
      if (state.exchange(kCallDone, std::memory_order_acq_rel) == kCallParked) {
        detail::wake_one_on(state);
      }
    }
    bool done() const { return state.load(std::memory_order_acquire) == kCallDone; }
  } pending;

  round_trips_.fetch_add(1, std::memory_order_relaxed);
  auto run = [fn, p = &pending] {
    std::exception_ptr error;
    try {
      fn();
    } catch (const ForcedUnwind&) {
      // The thread is being ended: release the caller, then let it end.
      p->finish(nullptr, /*gone=*/true);
      throw;
    } catch (...) {
      error = std::current_exception();
    }
    p->finish(std::move(error));
  };
  auto cancel = [p = &pending] { p->finish(nullptr, /*gone=*/true); };
  const auto timeout = call_timeout();
  const auto limit = spin_limit();
  const auto start = Clock::now();
  if (!enqueue(Message(run, cancel, &pending, false))) {
    throw DisconnectedError(kDisconnected);
  }
  // A short spin first: a worker that is awake answers in about a
  // microsecond, well before a sleep and a wake-up would.
  const auto spin = spin_.budget(limit);
  const bool caught = detail::spin_until([&pending] { return pending.done(); }, spin, start);
  if (!caught) {
    std::uint32_t queued = kCallQueued;
    if (pending.state.compare_exchange_strong(queued, kCallParked, std::memory_order_acq_rel)) {
      // A time-out beyond a day means "no bound": the deadline must not overflow.
      const bool bounded =
          timeout > std::chrono::milliseconds(0) && timeout < std::chrono::hours(24);
      const auto deadline = start + timeout;
      bool timed_out = false;
      while (!pending.done() && !timed_out) {
        timed_out =
            !detail::wait_on_address(pending.state, kCallParked, bounded ? &deadline : nullptr);
      }
      // Not finished in time: withdraw it if the worker has not taken it up
      // yet; otherwise it is running and this frame must outlive it.
      if (!pending.done() && withdraw(&pending)) {
        throw CallTimeoutError(fmt::format(
            "the call was not taken up by the object's apartment within {} ms (its thread is busy "
            "or blocked{}); it was withdrawn",
            timeout.count(), running_task_text()));
      }
      while (!pending.done()) {
        detail::wait_on_address(pending.state, kCallParked, nullptr);
      }
    }
  }
  spin_.learn(spin, caught, Clock::now() - start, limit);
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
  bool wake = false;
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
        wake = push(Message([held = std::move(last)] {}, {}, nullptr, false));
      } catch (...) {
      }
    }
  }
  if (wake) {
    wake_owner();
  }
}

void Apartment::move_due_timers() {
  const auto now = Clock::now();
  while (!timers_.empty() && timers_.top().due <= now) {
    // priority_queue::top is const; the task is moved out before pop.
    auto& top = const_cast<Timer&>(timers_.top());
    queue_.push_back(Message(std::move(top.run), {}, nullptr, false, top.from));
    timers_.pop();
  }
}

bool Apartment::has_work() const {
  return batch_next_ < batch_.size() || !queue_.empty() ||
         (!timers_.empty() && timers_.top().due <= Clock::now());
}

void Apartment::set_running(const SourceLocation& from) noexcept {
  // The line last: a reader that sees it sees the names of the same task,
  // unless the pump moved on meanwhile (the text is a diagnostic).
  running_file_.store(from.file_name(), std::memory_order_relaxed);
  running_function_.store(from.function_name(), std::memory_order_relaxed);
  running_line_.store(from.line(), std::memory_order_release);
}

std::string Apartment::running_task_text() const {
  const auto line = running_line_.load(std::memory_order_acquire);
  if (line == 0) {
    return {};
  }
  return fmt::format(", running a task posted at {}:{} ({})",
                     running_file_.load(std::memory_order_relaxed), line,
                     running_function_.load(std::memory_order_relaxed));
}

bool Apartment::pump() {
  {
    // One lock per batch: due timers join the queue, and once the last
    // batch is done the whole queue becomes the next one (its old slots
    // become the queue's), so producers and the pump meet once per batch.
    MutexLock lock(mutex_);
    move_due_timers();
    if (batch_next_ == batch_.size()) {
      batch_.clear();
      batch_.swap(queue_);
      batch_next_ = 0;
    }
  }
  // Between tasks nothing is said to run; cleared once per pump.
  struct ClearRunning {
    Apartment& a;
    bool posted_ran = false;
    ~ClearRunning() {
      if (posted_ran) {
        a.running_line_.store(0, std::memory_order_release);
      }
    }
  } clear_running{*this};
  // Only this batch, the messages waiting on entry: a flood of new posts
  // cannot keep the caller from checking its shutdown handle. A task that
  // pumps (a nested pump) goes on with the same batch, so batch_next_ is
  // read afresh after every task.
  while (batch_next_ < batch_.size()) {
    Message& slot = batch_[batch_next_++];
    if (slot.quit) {
      return true;
    }
    // A call is taken up here, unless its caller withdrew it first.
    if (slot.call && slot.owner.exchange(nullptr, std::memory_order_acq_rel) == nullptr) {
      continue;
    }
    // Moved out: it runs, and what it holds is released, on this thread,
    // whatever a nested pump does to the batch meanwhile.
    Message message(std::move(slot));
    if (message.from.line() != 0) {
      set_running(message.from);
      clear_running.posted_ran = true;
    } else if (clear_running.posted_ran) {
      running_line_.store(0, std::memory_order_relaxed);
    }
    try {
      message.run();
    } catch (const std::exception& e) {
      report_error(fmt::format("unhandled exception in a queued message{}: {}",
                               posted_at(message.from), e.what()));
    } catch (const ForcedUnwind&) {
      throw;
    } catch (...) {
      report_error(
          fmt::format("unhandled exception in a queued message{}", posted_at(message.from)));
    }
  }
  return false;
}

void Apartment::shut_down() {
  std::vector<Message> queued;
  std::vector<Task> cancels;
  decltype(timers_) timers;
  decltype(exports_) exports;
  {
    MutexLock lock(mutex_);
    if (!alive_) {
      return;
    }
    alive_ = false;
    // What the pump has not run of its batch (shut down from a task), then
    // the queue. A waiting call is claimed here, under the lock withdraw()
    // takes, so exactly one of the two has it; a withdrawn one is a husk.
    auto take = [&](Message& m) {
      if (m.call && m.owner.exchange(nullptr, std::memory_order_acq_rel) != nullptr) {
        cancels.push_back(std::move(m.cancel));
      }
      queued.push_back(std::move(m));
    };
    for (; batch_next_ < batch_.size(); ++batch_next_) {
      take(batch_[batch_next_]);
    }
    for (auto& message : queue_.take_all()) {
      take(message);
    }
    timers.swap(timers_);
    exports.swap(exports_);
  }
  wake_owner();
  // Each claimed call's caller hears the apartment has gone.
  for (auto& cancel : cancels) {
    cancel();
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
