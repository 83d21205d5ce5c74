#pragma once

#include "orbrix/automation/event.hpp"
#include "orbrix/cqg/cel_sink_base.hpp"

namespace orbrix::cqg {

class ApiHost;

// The API host's own sink: notices the end of the vendor's start-up
// (OnCELStarted) and records data errors (OnDataError), releasing the
// host's start event in both cases.
class SinkInternal : public CELSinkBase {
 public:
  // Writes "Internal sink ctor". Runs on the API host's worker.
  SinkInternal();

  // Stores the start event and the host; called once on the worker before
  // any event can arrive.
  void Init(automation::Event& eventCELStarted, ApiHost& apiHost);

  void OnCELStarted() override;
  void OnDataError(const Variant& cqgError, const Variant& errorDescription) override;

  std::string_view type_name() const noexcept override { return "SinkInternal"; }

  automation::Event* eventCELStarted = nullptr;
  ApiHost* apiHost = nullptr;
};

}  // namespace orbrix::cqg
