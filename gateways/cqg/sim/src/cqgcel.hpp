#pragma once

#include <memory>
#include <string_view>

#include "event_ids.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/automation/connection_point.hpp"
#include "orbrix/cqgsim/simulator.hpp"

namespace orbrix::cqgsim {

class ApiConfiguration;

// The simulated vendor object. Lives in the apartment of the thread that
// created it; its members run there (other threads reach it by proxy) and
// its events are posted to that apartment and fired from the pump.
class CQGCEL final : public automation::AutomationObject<CQGCEL> {
 public:
  explicit CQGCEL(std::shared_ptr<SimControls> controls);
  static const automation::ClassInfo& class_info();

  automation::Cookie advise(const automation::DispatchPtr& sink) override;
  void unadvise(automation::Cookie cookie) override;

  // Fires an event now, on the calling (apartment) thread.
  void fire(cqg::CelEvent event, automation::Args args) const;
  // Posts an event to be fired from the apartment's pump after `delay`;
  // false when the apartment has shut down (the event is dropped).
  bool post_event(cqg::CelEvent event, std::vector<automation::Variant> args,
                  std::chrono::milliseconds delay = {});

 private:
  void startup();
  void shutdown();

  std::shared_ptr<SimControls> controls_;
  automation::ConnectionPoint events_;
  std::shared_ptr<ApiConfiguration> configuration_;
  bool started_ = false;
};

}  // namespace orbrix::cqgsim
