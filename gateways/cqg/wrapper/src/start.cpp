#include "orbrix/cqg/start.hpp"

#include <fmt/format.h>

#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg::detail {

namespace {

// Writes an ordinary error as "Exception: <text>"; a line that cannot be
// written is dropped, as the runner promises not to raise.
void write_exception(const std::exception& e) noexcept {
  try {
    Trace(fmt::format("Exception: {}", e.what()));
  } catch (...) {
  }
}

}  // namespace

void run_guarded(ApiHost& host, const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    write_exception(e);
  } catch (const ForcedUnwind&) {
    throw;
  } catch (...) {
    // Not an ordinary error: shut down, then let it go on.
    try {
      host.Shutdown();
    } catch (...) {
    }
    throw;
  }
  try {
    host.Shutdown();
  } catch (const std::exception& e) {
    write_exception(e);
  }
}

}  // namespace orbrix::cqg::detail
