#pragma once

// safe_call(fn, args...) calls fn(args...) on the calling thread. If the call
// throws, the failure is handed to the reporter (by default: its what() text
// written to standard output as one line) and safe_call returns an empty
// std::optional (or nothing, for a void fn) instead of throwing.
//   auto id = safe_call(&BrokerLink::place_order, link, order);  // std::optional<std::string>

#include <exception>
#include <functional>
#include <optional>
#include <string_view>
#include <type_traits>

#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/core/export.hpp"

namespace orbrix {

using SafeCallReporter = std::function<void(std::string_view what)>;

// Replaces the reporter of every thread's safe_call and returns the previous
// one; an empty function restores the default. Any thread; blocks only for
// a short lock. The reporter may be called from several threads at once.
ORBRIX_SECURITY_API SafeCallReporter set_safe_call_reporter(SafeCallReporter reporter);

// Hands `what` to the current reporter. A throwing reporter is replaced, for
// this one report, by the default; only the unwinding of a thread that is
// being ended passes through.
ORBRIX_SECURITY_API void report_safe_call_failure(std::string_view what);

template <class Fn, class... Args>
auto safe_call(Fn&& fn, Args&&... args) {
  using Result = std::invoke_result_t<Fn, Args...>;
  if constexpr (std::is_void_v<Result>) {
    try {
      std::invoke(std::forward<Fn>(fn), std::forward<Args>(args)...);
    } catch (const std::exception& e) {
      report_safe_call_failure(e.what());
    } catch (const ForcedUnwind&) {
      throw;
    } catch (...) {
      report_safe_call_failure("unknown exception");
    }
  } else {
    using Value = std::remove_cvref_t<Result>;
    try {
      return std::optional<Value>(std::invoke(std::forward<Fn>(fn), std::forward<Args>(args)...));
    } catch (const std::exception& e) {
      report_safe_call_failure(e.what());
    } catch (const ForcedUnwind&) {
      throw;
    } catch (...) {
      report_safe_call_failure("unknown exception");
    }
    return std::optional<Value>();
  }
}

}  // namespace orbrix
