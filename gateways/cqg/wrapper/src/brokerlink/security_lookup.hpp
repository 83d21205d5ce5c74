#pragma once

// The engine's security of a vendor symbol, as the apply functions ask for
// it: per event on the vendor path (as the documents have it), once per
// subscribed object on the direct path.

#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

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

// The securities of the objects decoded events named, by the object's
// identity: a few per subscription, searched in a flat list (a pointer
// compare each). An entry forgotten while a decoded event is handled (a
// hook unsubscribing) lives on until that event's end, as the event may
// still be using it. Worker only.
class SecurityCache {
 public:
  // The entry of `key`: whether there is one, and its security (null when
  // the engine maps none).
  std::pair<bool, Subscribed*> find(const void* key) const {
    for (const auto& [k, entry] : entries_) {
      if (k == key) {
        return {true, entry.get()};
      }
    }
    return {false, nullptr};
  }
  Subscribed* put(const void* key, std::optional<Security> security) {
    forget(key);
    auto& entry = entries_.emplace_back(
        key, security ? std::make_unique<Subscribed>(std::move(*security)) : nullptr);
    return entry.second.get();
  }
  void forget(const void* key) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->first == key) {
        if (depth_ > 0 && it->second) {
          retired_.push_back(std::move(it->second));
        }
        entries_.erase(it);
        return;
      }
    }
  }
  // Marks the handling of one decoded event (nested ones included).
  class InEvent {
   public:
    explicit InEvent(SecurityCache& cache) : cache_(cache) { ++cache_.depth_; }
    ~InEvent() {
      if (--cache_.depth_ == 0) {
        cache_.retired_.clear();
      }
    }
    InEvent(const InEvent&) = delete;
    InEvent& operator=(const InEvent&) = delete;

   private:
    SecurityCache& cache_;
  };

 private:
  std::vector<std::pair<const void*, std::unique_ptr<Subscribed>>> entries_;
  std::vector<std::unique_ptr<Subscribed>> retired_;
  int depth_ = 0;
};

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
// event (then kept here; the cache keeps it alive to the event's end).
class EventSecurity {
 public:
  Resolved get(BaseGateway& gateway, SecurityCache& cache, const void* key,
               std::string_view symbol) {
    if (!known_) {
      const auto [found, entry] = cache.find(key);
      if (found) {
        entry_ = entry;
      } else {
        std::optional<Security> answer;
        if (look_up(gateway, symbol, answer).raised) {
          return {nullptr, true, nullptr};  // asked again for the next quote or tick
        }
        entry_ = cache.put(key, std::move(answer));
      }
      known_ = true;
    }
    return {entry_ ? &entry_->security : nullptr, false, entry_};
  }

 private:
  Subscribed* entry_ = nullptr;
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
