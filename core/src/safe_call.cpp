#include "orbrix/core/safe_call.hpp"

#include <cstdio>
#include <memory>
#include <string>

#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix {
namespace {

// One fwrite of the whole line, then a flush, so concurrent reports do not
// interleave within a line.
void write_line(std::string_view what) noexcept {
  try {
    std::string line(what);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  } catch (...) {
    // Out of memory while reporting: nothing sensible is left to do.
  }
}

struct ReporterSlot {
  Mutex mutex;
  std::shared_ptr<const SafeCallReporter> reporter GUARDED_BY(mutex);
};

ReporterSlot& slot() {
  static ReporterSlot s;
  return s;
}

}  // namespace

SafeCallReporter set_safe_call_reporter(SafeCallReporter reporter) {
  auto next = reporter ? std::make_shared<const SafeCallReporter>(std::move(reporter)) : nullptr;
  ReporterSlot& s = slot();
  MutexLock lock(s.mutex);
  s.reporter.swap(next);
  return next ? *next : SafeCallReporter();
}

void report_safe_call_failure(std::string_view what) {
  std::shared_ptr<const SafeCallReporter> reporter;
  {
    ReporterSlot& s = slot();
    MutexLock lock(s.mutex);
    reporter = s.reporter;
  }
  if (reporter) {
    try {
      (*reporter)(what);
      return;
    } catch (const ForcedUnwind&) {
      throw;
    } catch (...) {
      // Fall through to the default so the failure is not lost.
    }
  }
  write_line(what);
}

}  // namespace orbrix
