#include "orbrix/automation/diagnostics.hpp"

#include <cstdio>
#include <string>

#include "orbrix/common/mutex.hpp"

namespace orbrix::automation {
namespace {

Mutex reporter_mutex;
ErrorReporter reporter GUARDED_BY(reporter_mutex);

}  // namespace

void set_error_reporter(ErrorReporter r) {
  MutexLock lock(reporter_mutex);
  reporter = std::move(r);
}

void report_error(std::string_view message) noexcept {
  // Called where nobody can take an exception (a pump, an event source), so
  // neither a throwing reporter nor an unwritable stderr may escape.
  try {
    ErrorReporter r;
    {
      MutexLock lock(reporter_mutex);
      r = reporter;
    }
    if (r) {
      r(message);
      return;
    }
  } catch (...) {
  }
  std::fwrite(message.data(), 1, message.size(), stderr);
  std::fputc('\n', stderr);
}

}  // namespace orbrix::automation
