#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix::automation {

// Creates an object of a class; runs on the thread that asks for it, so the
// object joins that thread's apartment.
using ClassFactory = std::function<DispatchPtr()>;

// The process's classes by ProgID (the registry's HKCR\<ProgID>).
class ClassRegistry {
 public:
  static ClassRegistry& instance();

  // Registers or replaces a class; returns the factory it replaced (empty if none).
  ClassFactory register_class(std::string prog_id, ClassFactory factory);
  // Registers only when the ProgID is free; returns whether it did.
  bool register_if_absent(std::string prog_id, ClassFactory factory);
  void unregister_class(std::string_view prog_id);
  bool is_registered(std::string_view prog_id) const;

  // Creates an object by ProgID: a class registered here first, then (on
  // Windows) a COM class registered with the system, created in the calling
  // thread's apartment. Throws ClassNotRegisteredError for an unknown
  // ProgID; a factory's own error passes unchanged.
  DispatchPtr create_object(std::string_view prog_id) const;

 private:
  mutable Mutex mutex_;
  std::unordered_map<std::string, ClassFactory> classes_ GUARDED_BY(mutex_);
};

// Registers a class for a scope and puts back what was there before.
class ScopedClassRegistration {
 public:
  ScopedClassRegistration(std::string prog_id, ClassFactory factory);
  ~ScopedClassRegistration();
  ScopedClassRegistration(const ScopedClassRegistration&) = delete;
  ScopedClassRegistration& operator=(const ScopedClassRegistration&) = delete;

 private:
  std::string prog_id_;
  ClassFactory previous_;
};

// Creates an object by ProgID from the process registry.
inline DispatchPtr create_object(std::string_view prog_id) {
  return ClassRegistry::instance().create_object(prog_id);
}

}  // namespace orbrix::automation
