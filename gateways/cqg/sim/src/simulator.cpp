#include "orbrix/cqgsim/simulator.hpp"

#include <fmt/format.h>

#include <stdexcept>

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
  return instance_.lock();
}

void SimControls::attach(const automation::DispatchPtr& instance) {
  MutexLock lock(mutex_);
  instance_ = instance;
}

void SimControls::inject(std::string_view event, std::vector<automation::Variant> args) {
  const auto* found = std::find_if(cqg::kCelEvents.begin(), cqg::kCelEvents.end(),
                                   [event](const cqg::CelEventInfo& e) { return e.name == event; });
  if (found == cqg::kCelEvents.end()) {
    throw std::logic_error(fmt::format("CQGCEL has no event named {}", event));
  }
  if (static_cast<std::size_t>(found->params) != args.size()) {
    throw std::invalid_argument(
        fmt::format("{} takes {} arguments ({} given)", event, found->params, args.size()));
  }
  auto target = std::static_pointer_cast<CQGCEL>(instance());
  if (!target) {
    throw std::logic_error("no simulator instance is alive to fire " + std::string(event));
  }
  target->post_event(static_cast<cqg::CelEvent>(found - cqg::kCelEvents.begin()), std::move(args));
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
  automation::TypeLibraryRegistry::instance().register_library(type_library());
  // The default controls live for the whole process; the factory shares them.
  static const std::shared_ptr<SimControls> shared(std::shared_ptr<SimControls>{},
                                                   &default_controls());
  automation::ClassRegistry::instance().register_if_absent(std::string(cqg::kCqgProgId),
                                                           simulator_factory(shared));
}

ScopedSimulator::ScopedSimulator()
    : controls_(std::make_shared<SimControls>()),
      registration_(std::string(cqg::kCqgProgId), simulator_factory(controls_)) {
  automation::TypeLibraryRegistry::instance().register_library(type_library());
}

}  // namespace orbrix::cqgsim
