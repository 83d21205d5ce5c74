#include "orbrix/cqg/sink_internal.hpp"

#include <fmt/format.h>

#include "orbrix/cqg/cel_views/views.hpp"

#include "orbrix/automation/object.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg {

SinkInternal::SinkInternal() {
  Trace("Internal sink ctor");
}

void SinkInternal::Init(automation::Event& started, ApiHost& host) {
  eventCELStarted = &started;
  apiHost = &host;
}

void SinkInternal::OnCELStarted() {
  Trace("SinkInternal: CELStarted!");
  if (eventCELStarted) {
    eventCELStarted->set();
  }
}

void SinkInternal::OnDataError(const Variant& cqgError, const Variant&) {
  if (!cqgError.is_empty()) {
    const vendor::Error dispatchedCQGError{automation::Object(cqgError)};
    Trace(fmt::format("SinkInternal: OnDataError: Code: {} Description: {}",
                      dispatchedCQGError.Code().to_text(),
                      dispatchedCQGError.Description().to_text()));
  }
  if (apiHost) {
    apiHost->SetError();
  }
  // Last, so a waiter released by it already sees the error flag.
  if (eventCELStarted) {
    eventCELStarted->set();
  }
}

}  // namespace orbrix::cqg
