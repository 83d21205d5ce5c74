#pragma once

// Calls into the engine from a vendor event's handler, each on its own: an
// engine bug in one hook (a lookup of an order id it does not know, say)
// must not cost the hooks after it in the same event, such as the deal that
// follows an order update. The vendor's own values are not guarded here: a
// value the handler cannot read or name still ends the handler.

#include <fmt/format.h>

#include <exception>
#include <optional>
#include <string_view>
#include <type_traits>

#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg::detail {

// Traces "Exception in BrokerLink.<hook>: <what>". Never throws (a line that
// cannot be written is lost).
inline void trace_hook_error(std::string_view hook, std::string_view what) noexcept {
  try {
    Trace(fmt::format("Exception in BrokerLink.{}: {}", hook, what));
  } catch (...) {
  }
}

// Runs `call` (one engine hook). Its exception is traced and swallowed; only
// the unwinding of a thread being ended passes (a binding's interpreter
// finalizing under a hook). Returns whether it returned, or, for a hook with
// a result, the result (none when it raised).
template <class F>
auto call_hook(std::string_view hook, F&& call) {
  using Result = std::invoke_result_t<F>;
  constexpr bool kVoid = std::is_void_v<Result>;
  try {
    if constexpr (kVoid) {
      call();
      return true;
    } else {
      return std::optional<Result>(call());
    }
  } catch (const std::exception& e) {
    trace_hook_error(hook, e.what());
  } catch (const ForcedUnwind&) {
    throw;
  } catch (...) {
    trace_hook_error(hook, "unknown error");
  }
  if constexpr (kVoid) {
    return false;
  } else {
    return std::optional<Result>();
  }
}

}  // namespace orbrix::cqg::detail
