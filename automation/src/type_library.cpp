#include "orbrix/automation/type_library.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "orbrix/automation/class_info.hpp"
#include "orbrix/automation/errors.hpp"
#include "platform.hpp"

namespace orbrix::automation {

void EventInterface::add(std::string event_name, DispId id, int param_count) {
  index_.emplace(event_name, events_.size());
  events_.push_back(Event{std::move(event_name), id, param_count});
}

const EventInterface::Event* EventInterface::find(std::string_view event_name) const {
  auto it = index_.find(event_name);
  return it == index_.end() ? nullptr : &events_[it->second];
}

void TypeLibrary::add_constant(std::string name, std::int64_t value) {
  if (!constants_.emplace(name, value).second) {
    throw std::logic_error(fmt::format("type library {}: constant {} defined twice", name_, name));
  }
}

void TypeLibrary::add_event_interface(EventInterface events) {
  interfaces_.push_back(std::move(events));
}

std::int64_t TypeLibrary::constant(std::string_view name) const {
  auto it = constants_.find(name);
  if (it == constants_.end()) {
    throw UnknownNameError(fmt::format("type library {} {}.{} has no constant named '{}'", name_,
                                       major_, minor_, name));
  }
  return it->second;
}

bool TypeLibrary::has_constant(std::string_view name) const {
  return constants_.find(name) != constants_.end();
}

const EventInterface& TypeLibrary::event_interface(std::string_view name) const {
  for (const auto& i : interfaces_) {
    if (i.name() == name) {
      return i;
    }
  }
  throw UnknownNameError(
      fmt::format("type library {} has no event interface named '{}'", name_, name));
}

TypeLibraryRegistry& TypeLibraryRegistry::instance() {
  static TypeLibraryRegistry registry;
  return registry;
}

void TypeLibraryRegistry::register_library(std::shared_ptr<const TypeLibrary> library,
                                           bool fallback) {
  MutexLock lock(mutex_);
  for (auto& e : libraries_) {
    const auto& l = *e.library;
    if (equal_folded(l.guid(), library->guid()) && l.major() == library->major() &&
        l.minor() == library->minor()) {
      if (e.fallback && !fallback) {
        e = Entry{std::move(library), false};
      }
      return;
    }
  }
  libraries_.push_back(Entry{std::move(library), fallback});
}

std::shared_ptr<const TypeLibrary> TypeLibraryRegistry::load(std::string_view guid, int major,
                                                             int minor, std::uint32_t lcid) const {
  if (auto library = find(guid, major, minor)) {
    return library;
  }
  // Not registered in this process: the platform's registered libraries
  // (COM's on Windows), read once and kept here.
  if (auto native = detail::load_native_type_library(guid, major, minor, lcid)) {
    const_cast<TypeLibraryRegistry*>(this)->register_library(native);
    if (auto library = find(guid, major, minor)) {
      return library;
    }
  }
  throw std::runtime_error(
      fmt::format("Library not registered: type library {} version {}.{}", guid, major, minor));
}

std::shared_ptr<const TypeLibrary> TypeLibraryRegistry::find(std::string_view guid, int major,
                                                             int minor) const {
  MutexLock lock(mutex_);
  // A real registration wins over a fallback of any minor version.
  std::shared_ptr<const TypeLibrary> best;
  for (const bool fallback : {false, true}) {
    for (const auto& e : libraries_) {
      const auto& l = e.library;
      if (e.fallback == fallback && equal_folded(l->guid(), guid) && l->major() == major &&
          l->minor() >= minor && (!best || l->minor() > best->minor())) {
        best = l;
      }
    }
    if (best) {
      break;
    }
  }
  return best;
}

}  // namespace orbrix::automation
