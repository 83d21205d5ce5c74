#pragma once

#include <functional>

#include "orbrix/cqg/api_host.hpp"

namespace orbrix::cqg {

namespace detail {
// Runs `body`; an ordinary error is written as "Exception: <text>" and not
// passed on. `host.Shutdown()` runs last in every case, its own ordinary
// error written the same way; any other interruption propagates after it.
void run_guarded(ApiHost& host, const std::function<void()>& body);
}  // namespace detail

// Runs one sink class from start to shutdown: a new ApiHost, Init with the
// class, and unless a start-up error happened the sample's Init(host) and
// Start(). Returns nothing; errors are written, not raised.
template <class Sample>
void Start(const CustomConfiguration& customConfiguration = nullptr) {
  ApiHost apiHost;
  detail::run_guarded(apiHost, [&] {
    auto sample = apiHost.Init<Sample>(customConfiguration);
    if (!apiHost.errorHappened) {
      sample->Init(apiHost);
      sample->Start();
    }
  });
}

}  // namespace orbrix::cqg
