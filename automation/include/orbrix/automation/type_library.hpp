#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/automation/names.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix::automation {

// An outgoing (event) interface: event names, their ids and parameter counts.
class EventInterface {
 public:
  struct Event {
    std::string name;
    DispId id;
    int param_count;
  };
  explicit EventInterface(std::string name) : name_(std::move(name)) {}
  void add(std::string event_name, DispId id, int param_count);
  const std::string& name() const noexcept { return name_; }
  const std::vector<Event>& events() const noexcept { return events_; }
  // Null when the interface has no such event.
  const Event* find(std::string_view event_name) const;

 private:
  std::string name_;
  std::vector<Event> events_;
  std::unordered_map<std::string, std::size_t, FoldedHash, FoldedEqual> index_;
};

// A type library: its identity, its enumeration constants by name and its
// event interfaces. Immutable once registered.
class TypeLibrary {
 public:
  TypeLibrary(std::string name, std::string guid, int major, int minor)
      : name_(std::move(name)), guid_(std::move(guid)), major_(major), minor_(minor) {}

  void add_constant(std::string name, std::int64_t value);
  void add_event_interface(EventInterface events);

  // A constant's value, the name matched without regard to letter case (as
  // ITypeLib::FindName does); allocates nothing. Throws UnknownNameError
  // naming the constant and the library.
  std::int64_t constant(std::string_view name) const;
  bool has_constant(std::string_view name) const;
  // Throws UnknownNameError.
  const EventInterface& event_interface(std::string_view name) const;

  const std::string& name() const noexcept { return name_; }
  const std::string& guid() const noexcept { return guid_; }
  int major() const noexcept { return major_; }
  int minor() const noexcept { return minor_; }

 private:
  std::string name_, guid_;
  int major_, minor_;
  std::unordered_map<std::string, std::int64_t, FoldedHash, FoldedEqual> constants_;
  std::vector<EventInterface> interfaces_;
};

// The process's registered type libraries (HKCR\TypeLib).
class TypeLibraryRegistry {
 public:
  static TypeLibraryRegistry& instance();

  // Registers a library. A second one with the same GUID and version is
  // ignored, except that a library registered as a fallback (a stand-in
  // such as a simulator's) gives way to one registered without the flag,
  // whichever came first: a fallback never shadows a real registration.
  void register_library(std::shared_ptr<const TypeLibrary> library, bool fallback = false);
  // LoadRegTypeLib: the library of that GUID with that major version and at
  // least that minor version; on Windows one registered with the system is
  // read (ITypeLib, its enumerations and dispinterfaces) when the process
  // registered none. Throws std::runtime_error when none is registered.
  std::shared_ptr<const TypeLibrary> load(std::string_view guid, int major, int minor,
                                          std::uint32_t lcid = 0) const;

 private:
  std::shared_ptr<const TypeLibrary> find(std::string_view guid, int major, int minor) const;
  mutable Mutex mutex_;
  struct Entry {
    std::shared_ptr<const TypeLibrary> library;
    bool fallback;
  };
  std::vector<Entry> libraries_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::automation
