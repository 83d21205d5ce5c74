#pragma once

// The engine's security of a vendor symbol, as the apply functions ask for
// it: per event on the vendor path (as the documents have it), once per
// subscribed object on the direct path.

#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

#include <fmt/format.h>

#include <stdexcept>

#include "engine_hooks.hpp"
#include "orbrix/core/base_gateway.hpp"

namespace orbrix::cqg::detail {

// A security a subscription resolved to, with its slots in the engine's
// maps (taken on first use): its records are stored without hashing it.
struct Subscribed {
  explicit Subscribed(Security s) : security(std::move(s)) {}
  const Security security;
  BaseGateway::QuoteMap::Slot quote;
  BaseGateway::OrderBookMap::Slot book;
};

// A look-up's answer: the security (null when the engine maps none), or
// that the engine's look-up raised (traced; the caller skips what it was
// for); with the subscription's slots when it came from the cache.
struct Resolved {
  const Security* security = nullptr;
  bool raised = false;
  Subscribed* subscribed = nullptr;
};

// The securities of the objects decoded events named, by identity; null
// when the engine maps none. Worker only.
using SecurityCache = std::unordered_map<const void*, std::shared_ptr<Subscribed>>;

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

// The security of a decoded event's object `key`: asked of the engine once
// per subscription (then answered from `cache`), and of the cache once per
// event (then kept here, alive even should a hook unsubscribe the object
// meanwhile).
class EventSecurity {
 public:
  Resolved get(BaseGateway& gateway, SecurityCache& cache, const void* key,
               std::string_view symbol) {
    if (!known_) {
      if (const auto it = cache.find(key); it != cache.end()) {
        held_ = it->second;
      } else {
        std::optional<Security> answer;
        if (look_up(gateway, symbol, answer).raised) {
          return {nullptr, true, nullptr};  // asked again for the next quote or tick
        }
        held_ = answer ? std::make_shared<Subscribed>(std::move(*answer)) : nullptr;
        cache.emplace(key, held_);
      }
      known_ = true;
    }
    return {held_ ? &held_->security : nullptr, false, held_.get()};
  }

 private:
  std::shared_ptr<Subscribed> held_;
  bool known_ = false;
};

// The stored record of `security` in `map`, through `slot` when there is
// one (taken on first use), else by the key. Throws std::out_of_range
// naming the security and `map_name` when the engine did not add the key.
template <class Map>
typename Map::Snapshot stored_record(Map& map, std::string_view map_name, const Security& security,
                                     typename Map::Slot* slot) {
  try {
    if (slot == nullptr) {
      return map.get(security);
    }
    if (!*slot) {
      *slot = map.slot(security);
    }
    return map.get(*slot);
  } catch (const std::out_of_range&) {
    throw std::out_of_range(
        fmt::format("{} has no key for {}: the engine adds every subscribed security", map_name,
                    to_text(security)));
  }
}

// Stores `record` as the current record of `security`, through `slot`
// when there is one (taken by stored_record).
template <class Map>
void store_record(Map& map, const Security& security, typename Map::Slot* slot,
                  typename Map::Snapshot record) {
  if (slot != nullptr && *slot) {
    map.store(*slot, std::move(record));
  } else {
    map.store(security, std::move(record));
  }
}

}  // namespace orbrix::cqg::detail
