#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/cqg/cel_events.hpp"

namespace orbrix::cqg {

using automation::Variant;

// Base of every sink connected to CQGCEL's events: one handler per vendor
// event, each doing nothing, so a concrete sink overrides only the events it
// cares about. As an automation object it receives the vendor's events by
// the ids of the vendor's type library (mapped to handlers once per process)
// and calls the handler of the same name with the event's arguments, on the
// apartment thread that fires them. An exception escaping a handler is
// caught here and written with Trace; the pump goes on.
class CELSinkBase : public automation::Dispatch {
 public:
  // Runs on the thread that connects the sink (the API host's worker). Loads
  // the vendor's type library on first use; throws if it is not available.
  CELSinkBase();
  ~CELSinkBase() override;

#define CEL_P(p) [[maybe_unused]] const Variant& p
#define CEL_EVENT0(name) \
  virtual void name() {}
#define CEL_EVENT1(name, a) \
  virtual void name(CEL_P(a)) {}
#define CEL_EVENT2(name, a, b) \
  virtual void name(CEL_P(a), CEL_P(b)) {}
#define CEL_EVENT3(name, a, b, c) \
  virtual void name(CEL_P(a), CEL_P(b), CEL_P(c)) {}
#define CEL_EVENT4(name, a, b, c, d) \
  virtual void name(CEL_P(a), CEL_P(b), CEL_P(c), CEL_P(d)) {}
#define CEL_EVENT5(name, a, b, c, d, e) \
  virtual void name(CEL_P(a), CEL_P(b), CEL_P(c), CEL_P(d), CEL_P(e)) {}
#include "orbrix/cqg/cel_events.def"
#undef CEL_EVENT0
#undef CEL_EVENT1
#undef CEL_EVENT2
#undef CEL_EVENT3
#undef CEL_EVENT4
#undef CEL_EVENT5
#undef CEL_P

  // Event name (any letter case) -> the vendor's event id.
  automation::DispId get_id_of_name(std::string_view name) override;
  // Delivers the event `id` to its handler. Unknown ids are dropped; a wrong
  // argument count and a handler's exception are written with Trace.
  Variant invoke(automation::DispId id, automation::InvokeKind kind,
                 automation::Args args) override;
  // The sink's own class name ("BrokerLink"), for messages such as
  // "Exception in BrokerLink.OnOrderChanged: ...". Any thread.
  std::string_view type_name() const noexcept override;
  // The event name of a vendor event id.
  std::string name_of(automation::DispId id) const override;
  bool resolves_names_anywhere() const noexcept override {
    return true;
  }

  // Calls the handler of `event` directly (what invoke does after the id
  // lookup); exceptions pass to the caller.
  void dispatch_event(CelEvent event, automation::Args args);

 protected:
  // Runs `body` as invoke runs a handler of `event`: an exception escaping
  // it is written with Trace ("Exception in <sink>.<event>: ...") and goes
  // no further. For a handler reached other than through invoke.
  template <class F>
  void run_guarded(CelEvent event, F&& body) {
    try {
      body();
    } catch (const std::exception& e) {
      trace_handler_error(event, e.what());
    } catch (const ForcedUnwind&) {
      throw;
    } catch (...) {
      trace_handler_error(event, "unknown error");
    }
  }

 private:
  void trace_handler_error(CelEvent event, std::string_view what) const;

  mutable std::once_flag type_name_once_;
  mutable std::string type_name_;
};

}  // namespace orbrix::cqg
