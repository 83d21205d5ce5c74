#include "orbrix/automation/registry.hpp"

#include <fmt/format.h>

#include <utility>

#include "orbrix/automation/errors.hpp"
#include "platform.hpp"

namespace orbrix::automation {

ClassRegistry& ClassRegistry::instance() {
  static ClassRegistry registry;
  return registry;
}

ClassFactory ClassRegistry::register_class(std::string prog_id, ClassFactory factory) {
  MutexLock lock(mutex_);
  auto& slot = classes_[std::move(prog_id)];
  return std::exchange(slot, std::move(factory));
}

bool ClassRegistry::register_if_absent(std::string prog_id, ClassFactory factory) {
  MutexLock lock(mutex_);
  return classes_.try_emplace(std::move(prog_id), std::move(factory)).second;
}

void ClassRegistry::unregister_class(std::string_view prog_id) {
  MutexLock lock(mutex_);
  if (auto it = classes_.find(std::string(prog_id)); it != classes_.end()) {
    classes_.erase(it);
  }
}

bool ClassRegistry::is_registered(std::string_view prog_id) const {
  MutexLock lock(mutex_);
  return classes_.contains(std::string(prog_id));
}

DispatchPtr ClassRegistry::create_object(std::string_view prog_id) const {
  ClassFactory factory;
  {
    MutexLock lock(mutex_);
    if (auto it = classes_.find(std::string(prog_id)); it != classes_.end()) {
      factory = it->second;
    }
  }
  if (!factory) {
    // Not registered in this process: the platform's own classes (COM's
    // registry on Windows) are asked next.
    if (auto object = detail::create_native_object(prog_id)) {
      return object;
    }
    throw ClassNotRegisteredError(
        fmt::format("Invalid class string: no class is registered as \"{}\"", prog_id));
  }
  // The factory runs outside the lock: it may itself look classes up.
  return factory();
}

ScopedClassRegistration::ScopedClassRegistration(std::string prog_id, ClassFactory factory)
    : prog_id_(prog_id),
      previous_(ClassRegistry::instance().register_class(std::move(prog_id), std::move(factory))) {}

ScopedClassRegistration::~ScopedClassRegistration() {
  if (previous_) {
    ClassRegistry::instance().register_class(prog_id_, std::move(previous_));
  } else {
    ClassRegistry::instance().unregister_class(prog_id_);
  }
}

}  // namespace orbrix::automation
