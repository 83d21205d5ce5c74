#include "cqgcel.hpp"

#include <stdexcept>

#include "api_configuration.hpp"
#include "orbrix/automation/apartment.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Dispatch;
using automation::Variant;

CQGCEL& self(Dispatch& d) {
  return automation::self_as<CQGCEL>(d);
}

}  // namespace

CQGCEL::CQGCEL(std::shared_ptr<SimControls> controls)
    : controls_(std::move(controls)), configuration_(std::make_shared<ApiConfiguration>()) {
  if (!apartment()) {
    throw std::logic_error(
        "CQGCEL answers from an apartment: create it on a thread that called co_initialize");
  }
}

const automation::ClassInfo& CQGCEL::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGCEL");
    c.add_property("APIConfiguration", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGCEL", "APIConfiguration");
      return self(d).configuration_;
    });
    c.add_property("IsStarted", [](Dispatch& d, Args) -> Variant { return self(d).started_; });
    c.add_method("Startup", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGCEL", "Startup");
      self(d).startup();
      return {};
    });
    c.add_method("Shutdown", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGCEL", "Shutdown");
      self(d).shutdown();
      return {};
    });
    return c;
  }();
  return info;
}

automation::Cookie CQGCEL::advise(const automation::DispatchPtr& sink) {
  return events_.advise(sink);
}

void CQGCEL::unadvise(automation::Cookie cookie) {
  events_.unadvise(cookie);
}

void CQGCEL::fire(cqg::CelEvent event, Args args) const {
  events_.fire(event_id(event), args);
}

bool CQGCEL::post_event(cqg::CelEvent event, std::vector<Variant> args,
                        std::chrono::milliseconds delay) {
  // A weak reference: a queued event does not keep a released object alive.
  std::weak_ptr<Dispatch> weak = weak_from_this();
  auto task = [weak, event, args = std::move(args)] {
    if (auto strong = weak.lock()) {
      static_cast<const CQGCEL&>(*strong).fire(event, args);
    }
  };
  return delay.count() > 0 ? apartment()->post_after(delay, std::move(task))
                           : apartment()->post(std::move(task));
}

void CQGCEL::startup() {
  controls_->count_startup();
  const StartupBehaviour b = controls_->startup();
  switch (b.answer) {
    case StartupBehaviour::Answer::Started:
      started_ = true;
      post_event(cqg::CelEvent::OnCELStarted, {}, b.delay);
      break;
    case StartupBehaviour::Answer::DataError: {
      Variant error;
      if (b.with_error_object) {
        error = make_error(b.error_code, b.error_description);
      }
      post_event(cqg::CelEvent::OnDataError, {error, Variant(b.error_description)}, b.delay);
      break;
    }
    case StartupBehaviour::Answer::Silent:
      break;
  }
}

void CQGCEL::shutdown() {
  started_ = false;
}

}  // namespace orbrix::cqgsim
