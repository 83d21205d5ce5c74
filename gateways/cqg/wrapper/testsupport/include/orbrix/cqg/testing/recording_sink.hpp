#pragma once

#include <chrono>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/common/mutex.hpp"
#include "orbrix/cqg/cel_sink_base.hpp"

namespace orbrix::cqg::testing {

// A sink that records every vendor event it receives (name, arguments,
// receiving thread), generated from the event catalogue. Thread-safe: the
// worker records, the test reads and waits.
class RecordingSink : public CELSinkBase {
 public:
  struct Call {
    std::string event;
    std::vector<Variant> args;
    long thread;
  };

#define CEL_P(p) const Variant& p
#define CEL_EVENT0(name) \
  void name() override { \
    record(#name, {});   \
  }
#define CEL_EVENT1(name, a)      \
  void name(CEL_P(a)) override { \
    record(#name, {a});          \
  }
#define CEL_EVENT2(name, a, b)             \
  void name(CEL_P(a), CEL_P(b)) override { \
    record(#name, {a, b});                 \
  }
#define CEL_EVENT3(name, a, b, c)                    \
  void name(CEL_P(a), CEL_P(b), CEL_P(c)) override { \
    record(#name, {a, b, c});                        \
  }
#define CEL_EVENT4(name, a, b, c, d)                           \
  void name(CEL_P(a), CEL_P(b), CEL_P(c), CEL_P(d)) override { \
    record(#name, {a, b, c, d});                               \
  }
#define CEL_EVENT5(name, a, b, c, d, e)                                  \
  void name(CEL_P(a), CEL_P(b), CEL_P(c), CEL_P(d), CEL_P(e)) override { \
    record(#name, {a, b, c, d, e});                                      \
  }
#include "orbrix/cqg/cel_events.def"
#undef CEL_EVENT0
#undef CEL_EVENT1
#undef CEL_EVENT2
#undef CEL_EVENT3
#undef CEL_EVENT4
#undef CEL_EVENT5
#undef CEL_P

  std::string_view type_name() const noexcept override {
    return "RecordingSink";
  }

  std::vector<Call> calls() const;
  std::size_t count(std::string_view event) const;
  // Waits until `event` was received at least `times` times.
  bool wait_for(std::string_view event, std::size_t times, std::chrono::milliseconds timeout) const;

 private:
  void record(std::string_view event, std::initializer_list<Variant> args);
  std::size_t count_locked(std::string_view event) const REQUIRES(mutex_);

  mutable Mutex mutex_;
  mutable CondVar changed_;
  std::vector<Call> calls_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::cqg::testing
