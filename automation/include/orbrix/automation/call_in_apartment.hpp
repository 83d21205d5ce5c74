#pragma once

#include <optional>
#include <type_traits>
#include <utility>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/marshal.hpp"
#include "orbrix/automation/object.hpp"

namespace orbrix::automation {

// Runs `fn(home)` on the thread of the apartment that owns `object` and
// waits for its result: one round trip however many calls `fn` makes, since
// `home` is the object as its own apartment sees it (not a proxy) and every
// call through it is direct. Use it to run a sequence of calls into another
// apartment in one hop.
//
// `fn` runs on the apartment thread and must not wait for anything that
// thread is needed to deliver. It is destroyed on the calling thread, after
// the call. Its result is brought back by value: an Object or a Variant is
// marshalled to the caller (it arrives as a proxy); any other result type
// must not carry the apartment's objects out. An exception `fn` throws is
// re-raised here. Throws DisconnectedError or CallTimeoutError as a proxy
// call does.
template <class F>
auto call_in_apartment(const Object& object, F&& fn) {
  using R = std::remove_cvref_t<std::invoke_result_t<F&, const Object&>>;
  struct Context {
    F* fn;
    std::conditional_t<std::is_void_v<R>, bool, std::optional<R>> result;
  } context{std::addressof(fn), {}};
  detail::run_at_home(
      object.dispatch(),
      [](void* c, const DispatchPtr& home) {
        auto& ctx = *static_cast<Context*>(c);
        if constexpr (std::is_void_v<R>) {
          (*ctx.fn)(Object(home));
        } else {
          ctx.result.emplace((*ctx.fn)(Object(home)));
        }
      },
      &context);
  if constexpr (std::is_same_v<R, Object>) {
    return Object(marshal_to(Apartment::current(), Variant(context.result->dispatch())));
  } else if constexpr (std::is_same_v<R, Variant>) {
    return marshal_to(Apartment::current(), *context.result);
  } else if constexpr (!std::is_void_v<R>) {
    return std::move(*context.result);
  }
}

}  // namespace orbrix::automation
