#include "orbrix/automation/marshal.hpp"

#include <fmt/format.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix::automation {
namespace {

// Stands in for an object of another apartment: every call is carried into
// that apartment, run there, and its result (or exception) brought back.
// Objects in arguments and results follow the marshalling rule (marshal_to).
//
// Like a COM proxy it does not own the object: the home apartment holds it
// for the proxy (its export, COM's stub) until the last proxy is released
// or the apartment shuts down. So nothing of an apartment's objects outlives
// the apartment, and a call after that fails with DisconnectedError.
class Proxy final : public Dispatch {
 public:
  Proxy(const DispatchPtr& target, std::shared_ptr<Apartment> home)
      : Dispatch(FreeThreaded{}),
        target_(target),
        raw_(target.get()),
        identity_(target->identity()),
        type_name_(target->type_name()),
        names_anywhere_(target->resolves_names_anywhere()),
        home_(std::move(home)),
        exported_(home_->add_export(target)) {}
  ~Proxy() override {
    if (exported_) {
      home_->release_export(raw_);
    }
  }

  const std::shared_ptr<Apartment>& home() const noexcept { return home_; }
  // The object, or null once its apartment has let it go.
  DispatchPtr target() const noexcept { return target_.lock(); }

  DispId get_id_of_name(std::string_view name) override {
    if (names_anywhere_) {
      // An immutable member table: resolved here, without a round trip.
      return live_target(name)->get_id_of_name(name);
    }
    const std::string key = fold_case(name);
    {
      MutexLock lock(mutex_);
      if (auto it = ids_.find(key); it != ids_.end()) {
        return it->second;
      }
    }
    DispId id = 0;
    run_at_home(name, [&](Dispatch& t) { id = t.get_id_of_name(name); });
    remember(std::string(key), id);
    return id;
  }

  Variant invoke(DispId id, InvokeKind kind, Args args) override {
    std::vector<Variant> storage;
    const Args in = marshal_args(args, storage);
    if (home_->is_current()) {
      // A call on the home thread goes straight through: queueing it to
      // ourselves and waiting would deadlock.
      return live_target(id)->invoke(id, kind, in);
    }
    Variant result;
    run_at_home(id, [&](Dispatch& t) { result = t.invoke(id, kind, in); });
    return marshal_to(Apartment::current(), result);
  }

  Variant invoke_by_name(std::string_view name, InvokeKind kind, Args args) override {
    if (names_anywhere_ || home_->is_current()) {
      return invoke(get_id_of_name(name), kind, args);
    }
    std::string key = fold_case(name);
    if (const auto known = known_id(key)) {
      return invoke(*known, kind, args);
    }
    // A name new to this proxy: resolved and called in the same round trip.
    std::vector<Variant> storage;
    const Args in = marshal_args(args, storage);
    DispId id = 0;
    bool resolved = false;
    Variant result;
    try {
      run_at_home(name, [&](Dispatch& t) {
        id = t.get_id_of_name(name);
        resolved = true;
        result = t.invoke(id, kind, in);
      });
    } catch (const ForcedUnwind&) {
      throw;
    } catch (...) {
      if (resolved) {
        remember(std::move(key), id);
      }
      throw;
    }
    remember(std::move(key), id);
    return marshal_to(Apartment::current(), result);
  }

  std::string_view type_name() const noexcept override { return type_name_; }
  const void* identity() const noexcept override { return identity_; }
  std::string name_of(DispId id) const override {
    const auto t = target_.lock();
    return t ? t->name_of(id) : Dispatch::name_of(id);
  }

  Cookie advise(const DispatchPtr& sink) override {
    const Variant s = marshal_to(home_, Variant(sink));
    Cookie cookie = 0;
    run_at_home("advise", [&](Dispatch& t) { cookie = t.advise(s.as_object()); });
    return cookie;
  }

  void unadvise(Cookie cookie) override {
    run_at_home("unadvise", [&](Dispatch& t) { t.unadvise(cookie); });
  }

  // Runs `fn` with the object on its home thread (directly when that is
  // this thread), naming `member` in a disconnection or time-out error.
  template <class Member, class F>
  void run_at_home(const Member& member, F&& fn) {
    auto body = [&] { fn(*live_target(member)); };
    if (home_->is_current()) {
      body();
      return;
    }
    try {
      home_->call(body);
    } catch (const DisconnectedError& e) {
      throw DisconnectedError(fmt::format("{}: {}", describe(member), e.what()));
    } catch (const CallTimeoutError& e) {
      throw CallTimeoutError(fmt::format("{}: {}", describe(member), e.what()));
    }
  }

 private:
  std::optional<DispId> known_id(const std::string& key) {
    MutexLock lock(mutex_);
    const auto it = ids_.find(key);
    return it == ids_.end() ? std::nullopt : std::optional<DispId>(it->second);
  }
  void remember(std::string key, DispId id) {
    MutexLock lock(mutex_);
    ids_.emplace(std::move(key), id);
  }

  // "CQGCEL.NewInstrument", for a member given by id or by name.
  std::string describe(DispId id) const { return fmt::format("{}.{}", type_name_, name_of(id)); }
  std::string describe(std::string_view member) const {
    return fmt::format("{}.{}", type_name_, member);
  }

  template <class Member>
  DispatchPtr live_target(const Member& member) const {
    auto t = target_.lock();
    if (!t) {
      throw DisconnectedError(fmt::format(
          "{}: the object's apartment has shut down; the call did not reach it", describe(member)));
    }
    return t;
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

  std::weak_ptr<Dispatch> target_;
  const Dispatch* raw_;  // identity only, for the home's export table
  const void* identity_;
  std::string type_name_;
  bool names_anywhere_;
  std::shared_ptr<Apartment> home_;
  bool exported_;
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
    // Back home: the original object, not a proxy of a proxy. An object
    // its apartment has already let go arrives as none.
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

namespace detail {

void run_at_home(const DispatchPtr& object, HomeCallback fn, void* context) {
  if (!object) {
    throw TypeError("expected object, got empty");
  }
  if (auto* proxy = dynamic_cast<Proxy*>(object.get())) {
    proxy->run_at_home("(closure)",
                       [&](Dispatch& target) { fn(context, target.shared_from_this()); });
    return;
  }
  const auto& home = object->apartment();
  if (!home || home->is_current()) {
    fn(context, object);
    return;
  }
  home->call([&] { fn(context, object); });
}

}  // namespace detail

DispatchPtr get_interface_and_release_stream(MarshalStream& stream) {
  if (stream.released_.exchange(true)) {
    throw MarshalError("the marshalling stream has already been released");
  }
  DispatchPtr object = std::move(stream.object_);
  stream.home_.reset();
  return marshal_to(Apartment::current(), Variant(object)).as_object();
}

}  // namespace orbrix::automation
