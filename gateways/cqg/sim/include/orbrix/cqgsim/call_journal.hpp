#pragma once

// A journal of the calls made into the simulator's vendor objects: which
// object, which member, how (get, put, method), with what, on which thread.
// Tests switch it on while they drive the gateway and then read what the
// gateway asked of the vendor, in order.

#include <atomic>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix::cqgsim {

struct VendorCall {
  std::string object;  // the object's type name: "CQGCEL", "CQGQuote"
  std::string member;  // the member as the object names it: "NewInstrument", "_Default"
  automation::InvokeKind kind = automation::InvokeKind::Method;
  std::vector<std::string> args;  // each argument's text form
  std::thread::id thread;         // the thread the call ran on (the simulator's)
};

// Thread-safe; any thread. Off until started; a call costs one relaxed load
// while it is off.
class CallJournal {
 public:
  void start() noexcept { on_.store(true, std::memory_order_relaxed); }
  void stop() noexcept { on_.store(false, std::memory_order_relaxed); }
  bool recording() const noexcept { return on_.load(std::memory_order_relaxed); }
  void clear();
  // Every call recorded so far, oldest first.
  std::vector<VendorCall> calls() const;

  // Recorded by the simulator's objects as each call starts.
  void record(std::string_view object, std::string member, automation::InvokeKind kind,
              automation::Args args);

  // Stops the journal for a scope (a test's own look at the objects) and
  // restores what it was.
  class Pause {
   public:
    explicit Pause(CallJournal& journal) : journal_(journal), was_(journal.recording()) {
      journal_.stop();
    }
    ~Pause() {
      if (was_) {
        journal_.start();
      }
    }
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;

   private:
    CallJournal& journal_;
    bool was_;
  };

 private:
  std::atomic<bool> on_{false};
  mutable Mutex mutex_;
  std::vector<VendorCall> calls_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::cqgsim
