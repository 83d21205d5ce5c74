#pragma once

// The simulated venue as one piece: its market and its paper broker, moved
// through time together on a clock its owner keeps (so the owner's own
// timers and the market share one time line). On every market event the broker
// matches first, then the event is delivered, so an order the client sends
// while handling an event can fill on a later event at the earliest, never
// on the one being delivered.
//
// Venue thread only, like its parts; nothing here reads the wall clock.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "venue/clock.hpp"
#include "venue/market/catalogue.hpp"
#include "venue/market/market.hpp"
#include "venue/trading/paper_broker.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

struct VenueConfig {
  std::uint64_t seed = 1;
  MarketConfig market{};
  TradingOptions trading{};
  std::vector<AccountConfig> accounts = default_accounts();
};

// What the venue tells its owner as time moves.
class VenueObserver {
 public:
  virtual ~VenueObserver() = default;
  // The broker's events caused by one market event, before that event.
  virtual void on_trading(std::span<const TradingEvent> events) = 0;
  virtual void on_market(const MarketEvent& event) = 0;
};

class Venue {
 public:
  // Starts at the clock's time, with the standard catalogue as of then; the
  // clock outlives the venue. Throws std::invalid_argument for a time outside
  // the years the venue works in, and what its parts throw for a bad
  // configuration.
  Venue(VenueConfig config, MarketClock& clock);

  Timestamp now() const { return clock_.now(); }
  const Catalogue& catalogue() const { return market_.catalogue(); }
  MarketClock& clock() { return clock_; }
  Market& market() { return market_; }
  PaperBroker& broker() { return broker_; }

  // Moves the venue to `t`: clock timers and market events in time order (a
  // timer due at the same time as a market event goes first), each market
  // event matched by the broker first and then handed to `observer`. A timer
  // or the observer may schedule timers, inject quotes or submit orders;
  // what falls due by `t` is handled in the same call. Throws
  // std::invalid_argument when `t` is before now().
  void advance_to(Timestamp t, VenueObserver& observer);

  // The next time something other than a random walk is due: a recorded
  // row, an injected batch or a clock timer; none when nothing is.
  std::optional<Timestamp> next_scheduled() const;
  // Moves the venue to `t` over a gap: nothing is due by then but random
  // walks, which pause (Market::jump_to). Throws std::invalid_argument when
  // `t` is before now(), std::logic_error when anything else is due by `t`.
  void jump_to(Timestamp t);

 private:
  MarketClock& clock_;
  Market market_;
  PaperBroker broker_;
};

}  // namespace orbrix::cqgsim::venue
