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

void report_error(std::string_view message) {
  ErrorReporter r;
  {
    MutexLock lock(reporter_mutex);
    r = reporter;
  }
  if (r) {
    r(message);
    return;
  }
  std::string line(message);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace orbrix::automation
