#include "orbrix/cqgsim/simulator.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "orbrix/automation/diagnostics.hpp"

#include "api_configuration.hpp"
#include "cqgcel.hpp"
#include "orbrix/cqg/vendor_ids.hpp"

namespace orbrix::cqgsim {

void SimControls::set_startup(StartupBehaviour behaviour) {
  MutexLock lock(mutex_);
  startup_ = std::move(behaviour);
}

StartupBehaviour SimControls::startup() const {
  MutexLock lock(mutex_);
  return startup_;
}

int SimControls::startup_calls() const {
  MutexLock lock(mutex_);
  return startup_calls_;
}

void SimControls::count_startup() {
  MutexLock lock(mutex_);
  ++startup_calls_;
}

automation::DispatchPtr SimControls::instance() const {
  MutexLock lock(mutex_);
  return instances_.empty() ? nullptr : instances_.back().lock();
}

std::vector<automation::DispatchPtr> SimControls::instances() const {
  MutexLock lock(mutex_);
  std::vector<automation::DispatchPtr> live;
  for (const auto& w : instances_) {
    if (auto p = w.lock()) {
      live.push_back(std::move(p));
    }
  }
  return live;
}

void SimControls::attach(const automation::DispatchPtr& instance) {
  MutexLock lock(mutex_);
  std::erase_if(instances_, [](const auto& w) { return w.expired(); });
  instances_.push_back(instance);
}

bool SimControls::inject(std::string_view event, std::vector<automation::Variant> args,
                         const automation::DispatchPtr& target) {
  const auto* found = std::find_if(cqg::kCelEvents.begin(), cqg::kCelEvents.end(),
                                   [event](const cqg::CelEventInfo& e) { return e.name == event; });
  if (found == cqg::kCelEvents.end()) {
    throw std::logic_error(fmt::format("CQGCEL has no event named {}", event));
  }
  if (static_cast<std::size_t>(found->params) != args.size()) {
    throw std::invalid_argument(
        fmt::format("{} takes {} arguments ({} given)", event, found->params, args.size()));
  }
  bool ever = false;
  {
    MutexLock lock(mutex_);
    ever = !instances_.empty();
  }
  if (!ever && !target) {
    throw std::logic_error("no simulator instance was made to fire " + std::string(event));
  }
  const auto chosen = target ? target : instance();
  auto* sim = chosen ? dynamic_cast<CQGCEL*>(chosen.get()) : nullptr;
  if (chosen && !sim) {
    throw std::logic_error("inject: the target is not a simulator instance");
  }
  if (!sim || !sim->post_event(static_cast<cqg::CelEvent>(found - cqg::kCelEvents.begin()),
                               std::move(args))) {
    automation::report_error(
        fmt::format("cqgsim: {} dropped: the simulator instance has shut down", event));
    return false;
  }
  return true;
}

bool is_simulator(const automation::Dispatch& object) noexcept {
  return dynamic_cast<const CQGCEL*>(&object) != nullptr;
}

automation::DispatchPtr make_error(std::int64_t code, std::string description) {
  return std::make_shared<CqgError>(code, std::move(description));
}

automation::ClassFactory simulator_factory(std::shared_ptr<SimControls> controls) {
  return [controls = std::move(controls)]() -> automation::DispatchPtr {
    auto sim = std::make_shared<CQGCEL>(controls);
    controls->attach(sim);
    return sim;
  };
}

SimControls& default_controls() {
  static const auto controls = std::make_shared<SimControls>();
  return *controls;
}

void register_simulator() {
  automation::TypeLibraryRegistry::instance().register_library(type_library(), /*fallback=*/true);
  // The default controls live for the whole process; the factory shares them.
  static const std::shared_ptr<SimControls> shared(std::shared_ptr<SimControls>{},
                                                   &default_controls());
  automation::ClassRegistry::instance().register_if_absent(std::string(cqg::kCqgProgId),
                                                           simulator_factory(shared));
}

ScopedSimulator::ScopedSimulator()
    : controls_(std::make_shared<SimControls>()),
      registration_(std::string(cqg::kCqgProgId), simulator_factory(controls_)) {
  automation::TypeLibraryRegistry::instance().register_library(type_library(), /*fallback=*/true);
}

}  // namespace orbrix::cqgsim
