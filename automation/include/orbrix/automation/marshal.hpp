#pragma once

#include <atomic>
#include <memory>

#include "orbrix/automation/dispatch.hpp"

namespace orbrix::automation {

// A marshalled interface that another thread can turn into a usable
// reference exactly once (CoMarshalInterThreadInterfaceInStream).
class MarshalStream {
 public:
  MarshalStream(DispatchPtr object, std::shared_ptr<Apartment> home)
      : object_(std::move(object)), home_(std::move(home)) {}

 private:
  friend DispatchPtr get_interface_and_release_stream(MarshalStream& stream);
  DispatchPtr object_;
  std::shared_ptr<Apartment> home_;
  std::atomic<bool> released_{false};
};

// Marshals `object` for use by another thread. The object belongs to the
// calling thread's apartment (or is free-threaded, or is itself a proxy).
std::shared_ptr<MarshalStream> marshal_inter_thread_interface_in_stream(const DispatchPtr& object);

// CoGetInterfaceAndReleaseStream: a proxy when the caller is outside the
// object's apartment, the object itself inside it. A second call on the same
// stream throws MarshalError.
DispatchPtr get_interface_and_release_stream(MarshalStream& stream);

// The marshalling rule every cross-apartment call applies to its values:
// an object crossing into `destination` arrives as a proxy unless it lives
// there (a proxy of an object of `destination` is unwrapped to the object).
Variant marshal_to(const std::shared_ptr<Apartment>& destination, const Variant& value);

// A proxy for `object`, bound to the object's apartment, or `object` itself
// when it needs none (free-threaded, or already a proxy).
DispatchPtr make_proxy(const DispatchPtr& object);

// True when `object` is a proxy created by this layer.
bool is_proxy(const Dispatch& object) noexcept;

namespace detail {
using HomeCallback = void (*)(void* context, const DispatchPtr& home_object);
// Calls fn(context, object as its own apartment sees it) on that apartment's
// thread and waits: through the proxy's home for a proxy, the object's own
// apartment otherwise, directly when that is the calling thread or the
// object is free-threaded. One round trip at most.
void run_at_home(const DispatchPtr& object, HomeCallback fn, void* context);
}  // namespace detail

}  // namespace orbrix::automation
