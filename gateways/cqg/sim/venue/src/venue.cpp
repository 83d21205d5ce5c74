#include "venue/venue.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

namespace orbrix::cqgsim::venue {

namespace {

Timestamp checked_start(Timestamp start) {
  if (!in_time_range(start)) {
    throw std::invalid_argument(fmt::format("the venue starts within the years {} to {}, not at {}",
                                            kFirstYear, kLastYear,
                                            start.time_since_epoch().count()));
  }
  return start;
}

}  // namespace

Venue::Venue(VenueConfig config, MarketClock& clock)
    : clock_(clock),
      market_(Catalogue::standard(checked_start(clock.now())), config.seed, clock.now(),
              config.market),
      broker_(market_.catalogue().contracts(), std::move(config.accounts), config.trading) {}

void Venue::advance_to(Timestamp t, VenueObserver& observer) {
  if (t < clock_.now()) {
    throw std::invalid_argument("the venue's time never goes back");
  }
  for (;;) {
    const auto timer = clock_.next_due();
    const auto event = market_.next_event_time();
    const bool timer_due = timer && *timer <= t;
    const bool event_due = event && *event <= t;
    if (!timer_due && !event_due) {
      break;
    }
    if (timer_due && (!event_due || *timer <= *event)) {
      clock_.advance_to(*timer);  // fires the timers due then
      continue;
    }
    // Bring the clock to the event's time (firing nothing: no timer is due
    // before it), then take the event.
    clock_.advance_to(*event);
    const MarketEvent* e = market_.next_event(*event);
    if (!e) {
      continue;
    }
    observer.on_trading(broker_.on_market(e->instrument, e->book, e->time));
    observer.on_market(*e);
  }
  clock_.advance_to(t);
  (void)market_.next_event(t);  // moves the market to t (nothing is due by then)
}

std::optional<Timestamp> Venue::next_scheduled() const {
  const auto timer = clock_.next_due();
  const auto recorded = market_.next_recorded_time();
  if (timer && recorded) {
    return std::min(*timer, *recorded);
  }
  return timer ? timer : recorded;
}

void Venue::jump_to(Timestamp t) {
  if (t < clock_.now()) {
    throw std::invalid_argument("the venue's time never goes back");
  }
  if (const auto timer = clock_.next_due(); timer && *timer <= t) {
    throw std::logic_error(fmt::format("Venue::jump_to: a timer is due at {}, by the jump's end",
                                       timer->time_since_epoch().count()));
  }
  market_.jump_to(t);
  clock_.advance_to(t);  // fires nothing: no timer is due by then
}

}  // namespace orbrix::cqgsim::venue
