#include "orbrix/cqg/start.hpp"

#include <fmt/format.h>

#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg::detail {

void run_guarded(ApiHost& host, const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    Trace(fmt::format("Exception: {}", e.what()));
  } catch (...) {
    // Not an ordinary error: shut down, then let it go on.
    host.Shutdown();
    throw;
  }
  host.Shutdown();
}

}  // namespace orbrix::cqg::detail
