#pragma once

#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "orbrix/automation/object.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "security_lookup.hpp"

namespace orbrix::cqg {

// Vendor objects the engine removed, held (so their identity is not taken by
// a new object) until 64 newer ones of their kind push them out.
class RemovedObjects {
 public:
  bool contains(const automation::Variant& object) const;
  // The same by the object's identity (Dispatch::identity()).
  bool contains(const void* identity) const;
  void add(automation::Object object);
  void erase(const automation::Variant& object);
  bool empty() const noexcept { return objects_.empty(); }

 private:
  std::deque<automation::Object> objects_;
};

// Touched only on the worker (inside hops and handlers): the removed
// instruments, tick and bar requests, whose late events are dropped; the
// quote requests sent and not yet answered, and those withdrawn by
// unsubscribe_quote before their answer, per requested symbol; the unmapped
// tick symbols already reported; the securities of the objects the direct
// path met.
struct BrokerLink::WorkerState {
  RemovedObjects removed_instruments;
  RemovedObjects removed_ticks;
  RemovedObjects removed_bars;
  std::unordered_map<std::string, int> unanswered_quotes;
  std::unordered_map<std::string, int> withdrawn_quotes;
  std::unordered_set<std::string> unmapped_tick_symbols;
  // The engine's security of each instrument, tick and bar request (by the
  // vendor object's identity) a decoded event named: asked once per
  // subscription (forgotten when the object is resolved again or removed),
  // none when the engine maps none. A look-up that raised is not kept.
  detail::SecurityCache securities;
};

}  // namespace orbrix::cqg
