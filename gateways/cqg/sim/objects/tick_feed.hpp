#pragma once

#include <memory>
#include <vector>

#include "objects/collection.hpp"
#include "objects/delivery_list.hpp"
#include "objects/session.hpp"
#include "objects/ticks.hpp"

namespace orbrix::cqgsim {

inline constexpr char kAllTicksName[] = "CQGTicksCollection";
using AllTicks = NamedCollection<kAllTicksName>;

// Tick requests: RequestTicks (answered by OnTicksResolved unless removed
// first), RemoveTicks, AllTicks, and OnTicksAdded with each batch the market
// prints for a resolved request's instrument.
//
// Thread: the session's.
class TickFeed {
 public:
  explicit TickFeed(Session& session)
      : session_(session), all_ticks_(std::make_shared<AllTicks>()) {}

  const std::shared_ptr<AllTicks>& all_ticks() const { return all_ticks_; }
  automation::Variant request_ticks(const automation::Variant& request);
  void remove_ticks(const automation::Variant& ticks);

  // Whether a resolved request listens to the instrument of `id`.
  bool listens(venue::InstrumentId id) const;
  // The event's ticks to every live request of its instrument.
  void deliver(const venue::MarketEvent& event);

 private:
  void deliver_to(Ticks& ticks, const venue::MarketEvent& event);

  Session& session_;
  std::shared_ptr<AllTicks> all_ticks_;
  std::vector<std::shared_ptr<Ticks>> ticks_;  // live tick requests, oldest first
  DeliveryList<Ticks> listening_;
};

}  // namespace orbrix::cqgsim
