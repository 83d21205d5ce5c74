#include "orbrix/automation/marshal.hpp"

#include <fmt/format.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix::automation {
namespace {

// Stands in for an object of another apartment: every call is carried into
// that apartment, run there, and its result (or exception) brought back.
// Objects in arguments and results follow the marshalling rule (marshal_to).
class Proxy final : public Dispatch {
 public:
  Proxy(DispatchPtr target, std::shared_ptr<Apartment> home)
      : Dispatch(FreeThreaded{}), target_(std::move(target)), home_(std::move(home)) {}

  const DispatchPtr& target() const noexcept { return target_; }
  const std::shared_ptr<Apartment>& home() const noexcept { return home_; }

  DispId get_id_of_name(std::string_view name) override {
    if (target_->resolves_names_anywhere()) {
      return target_->get_id_of_name(name);
    }
    const std::string key = fold_case(name);
    {
      MutexLock lock(mutex_);
      if (auto it = ids_.find(key); it != ids_.end()) {
        return it->second;
      }
    }
    DispId id = 0;
    run_at_home([&] { id = target_->get_id_of_name(name); });
    MutexLock lock(mutex_);
    ids_.emplace(key, id);
    return id;
  }

  Variant invoke(DispId id, InvokeKind kind, Args args) override {
    if (home_->is_current()) {
      // A call on the home thread goes straight through: queueing it to
      // ourselves and waiting would deadlock.
      std::vector<Variant> storage;
      return target_->invoke(id, kind, marshal_args(args, storage));
    }
    std::vector<Variant> storage;
    const Args in = marshal_args(args, storage);
    Variant result;
    run_at_home([&] { result = target_->invoke(id, kind, in); });
    return marshal_to(Apartment::current(), result);
  }

  std::string_view type_name() const noexcept override { return target_->type_name(); }

  Cookie advise(const DispatchPtr& sink) override {
    const Variant s = marshal_to(home_, Variant(sink));
    Cookie cookie = 0;
    run_at_home([&] { cookie = target_->advise(s.as_object()); });
    return cookie;
  }

  void unadvise(Cookie cookie) override {
    run_at_home([&] { target_->unadvise(cookie); });
  }

 private:
  template <class F>
  void run_at_home(F&& f) {
    if (home_->is_current()) {
      f();
    } else {
      home_->call(std::forward<F>(f));
    }
  }

  // The arguments as the home apartment must see them; copies only when an
  // argument is an object.
  Args marshal_args(Args args, std::vector<Variant>& storage) const {
    bool any_object = false;
    for (const auto& a : args) {
      any_object = any_object || a.is_object();
    }
    if (!any_object) {
      return args;
    }
    storage.reserve(args.size());
    for (const auto& a : args) {
      storage.push_back(marshal_to(home_, a));
    }
    return storage;
  }

  DispatchPtr target_;
  std::shared_ptr<Apartment> home_;
  Mutex mutex_;
  std::unordered_map<std::string, DispId> ids_ GUARDED_BY(mutex_);
};

}  // namespace

bool is_proxy(const Dispatch& object) noexcept {
  return dynamic_cast<const Proxy*>(&object);
}

Variant marshal_to(const std::shared_ptr<Apartment>& destination, const Variant& value) {
  if (!value.is_object()) {
    return value;
  }
  const DispatchPtr& object = value.as_object();
  if (const auto* proxy = dynamic_cast<const Proxy*>(object.get())) {
    // Back home: the original object, not a proxy of a proxy.
    return proxy->home() == destination ? Variant(proxy->target()) : value;
  }
  const auto& home = object->apartment();
  if (!home || home == destination) {
    return value;
  }
  return Variant(std::make_shared<Proxy>(object, home));
}

DispatchPtr make_proxy(const DispatchPtr& object) {
  if (!object || !object->apartment() || is_proxy(*object)) {
    return object;
  }
  return std::make_shared<Proxy>(object, object->apartment());
}

std::shared_ptr<MarshalStream> marshal_inter_thread_interface_in_stream(const DispatchPtr& object) {
  if (!object) {
    throw MarshalError("cannot marshal a null interface");
  }
  const auto& home = object->apartment();
  if (home && !home->is_current() && !is_proxy(*object)) {
    throw MarshalError(fmt::format("cannot marshal {}: it belongs to another thread's apartment",
                                   object->type_name()));
  }
  return std::make_shared<MarshalStream>(object, home);
}

DispatchPtr get_interface_and_release_stream(MarshalStream& stream) {
  if (stream.released_.exchange(true)) {
    throw MarshalError("the marshalling stream has already been released");
  }
  DispatchPtr object = std::move(stream.object_);
  stream.home_.reset();
  return marshal_to(Apartment::current(), Variant(object)).as_object();
}

}  // namespace orbrix::automation
