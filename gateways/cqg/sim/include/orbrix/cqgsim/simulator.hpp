#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/automation/registry.hpp"
#include "orbrix/automation/type_library.hpp"
#include "orbrix/common/mutex.hpp"

// The simulated CQGCEL: an in-process automation server registered as
// "CQG.CQGCEL.4" with the vendor's type library. It answers from the
// apartment it was created in: every event is posted to that apartment's
// queue and fired from its pump, never from inside the call that caused it.
namespace orbrix::cqgsim {

// How the simulator answers Startup().
struct StartupBehaviour {
  enum class Answer {
    Started,    // OnCELStarted
    DataError,  // OnDataError(error object or none, description)
    Silent,     // nothing at all
  };
  Answer answer = Answer::Started;
  // Delay between Startup() and the answer.
  std::chrono::milliseconds delay{0};
  std::int64_t error_code = 0;
  std::string error_description;
  // False: OnDataError carries none instead of an error object.
  bool with_error_object = true;

  static StartupBehaviour started(std::chrono::milliseconds delay = {}) {
    StartupBehaviour b;
    b.delay = delay;
    return b;
  }
  static StartupBehaviour data_error(std::int64_t code, std::string description,
                                     std::chrono::milliseconds delay = {}) {
    StartupBehaviour b;
    b.answer = Answer::DataError;
    b.error_code = code;
    b.error_description = std::move(description);
    b.delay = delay;
    return b;
  }
  static StartupBehaviour silent() {
    StartupBehaviour b;
    b.answer = Answer::Silent;
    return b;
  }
};

// The test and tooling surface of the simulator: fault switches and event
// injection. Thread-safe; shared by the simulator objects created with it.
class SimControls {
 public:
  void set_startup(StartupBehaviour behaviour);
  StartupBehaviour startup() const;

  // Fires a vendor event (by its catalogue name) from a simulator instance
  // (`target`, or else the latest one made with these controls), posted to
  // its apartment and fired from the pump. Any thread. Returns false, and
  // writes one line to the error reporter, when the event is dropped
  // because the instance is gone or its apartment has shut down. Throws
  // std::logic_error when no instance was ever made or the event is
  // unknown, std::invalid_argument when the argument count is wrong.
  bool inject(std::string_view event, std::vector<automation::Variant> args,
              const automation::DispatchPtr& target = nullptr);

  // Number of Startup() calls seen, the latest instance (or null) and every
  // live instance, oldest first.
  int startup_calls() const;
  automation::DispatchPtr instance() const;
  std::vector<automation::DispatchPtr> instances() const;

  // Called by the simulator objects.
  void attach(const automation::DispatchPtr& instance);
  void count_startup();

 private:
  mutable Mutex mutex_;
  StartupBehaviour startup_ GUARDED_BY(mutex_);
  std::vector<std::weak_ptr<automation::Dispatch>> instances_ GUARDED_BY(mutex_);
  int startup_calls_ GUARDED_BY(mutex_) = 0;
};

// A vendor error object (Code, Description), usable as an event argument.
automation::DispatchPtr make_error(std::int64_t code, std::string description);

// The simulator's CQGCEL type library (constants with distinct values, the
// event interface). Built once.
std::shared_ptr<const automation::TypeLibrary> type_library();

// Registers the simulator as "CQG.CQGCEL.4" (only if nothing else is) and
// its type library as a fallback (a library someone else registers under the
// same identity wins), with default_controls(). Idempotent; any thread.
void register_simulator();
SimControls& default_controls();

// True when `object` is a simulator instance (not the vendor's CQGCEL).
bool is_simulator(const automation::Dispatch& object) noexcept;

// A factory for simulator objects bound to `controls`.
automation::ClassFactory simulator_factory(std::shared_ptr<SimControls> controls);

// Registers a simulator with its own controls as "CQG.CQGCEL.4" for a scope
// and restores the previous registration after.
class ScopedSimulator {
 public:
  ScopedSimulator();
  SimControls& controls() { return *controls_; }

 private:
  std::shared_ptr<SimControls> controls_;
  automation::ScopedClassRegistration registration_;
};

}  // namespace orbrix::cqgsim
