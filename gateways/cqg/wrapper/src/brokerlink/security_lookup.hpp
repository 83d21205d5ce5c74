#pragma once

// The engine's security of a vendor symbol, as the apply functions ask for
// it: per event on the vendor path (as the documents have it), once per
// subscribed object on the direct path.

#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "engine_hooks.hpp"
#include "orbrix/core/base_gateway.hpp"

namespace orbrix::cqg::detail {

// A look-up's answer: the security (null when the engine maps none), or
// that the engine's look-up raised (traced; the caller skips what it was
// for).
struct Resolved {
  const Security* security = nullptr;
  bool raised = false;
};

// The securities of the objects decoded events named, by identity; a null
// record when the engine maps none. Worker only.
using SecurityCache = std::unordered_map<const void*, std::shared_ptr<const Security>>;

// Asks the engine; the answer is kept in `slot`, which the result points into.
inline Resolved look_up(BaseGateway& gateway, std::string_view symbol,
                        std::optional<Security>& slot) {
  auto found = call_hook("get_eng_security_from_cqg_symbol",
                         [&] { return gateway.get_eng_security_from_cqg_symbol(symbol); });
  if (!found) {
    return {nullptr, true};
  }
  slot = std::move(*found);
  return {slot ? &*slot : nullptr, false};
}

// The same for the object `key`: asked once, then answered from `cache`.
// `held` keeps the answer alive while it is used, should a hook unsubscribe
// the object meanwhile.
inline Resolved cached_look_up(BaseGateway& gateway, SecurityCache& cache, const void* key,
                               std::string_view symbol, std::shared_ptr<const Security>& held) {
  if (const auto it = cache.find(key); it != cache.end()) {
    held = it->second;
    return {held.get(), false};
  }
  std::optional<Security> answer;
  const Resolved r = look_up(gateway, symbol, answer);
  if (r.raised) {
    return r;  // asked again next time
  }
  held = answer ? std::make_shared<const Security>(std::move(*answer)) : nullptr;
  cache.emplace(key, held);
  return {held.get(), false};
}

}  // namespace orbrix::cqg::detail
