#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "objects/event_ids.hpp"
#include "orbrix/automation/apartment_checker.hpp"
#include "orbrix/automation/connection_point.hpp"
#include "orbrix/automation/dispatch.hpp"
#include "orbrix/automation/task.hpp"
#include "orbrix/cqg/decoded_events.hpp"
#include "orbrix/cqgsim/detail/settings.hpp"
#include "venue/venue.hpp"

namespace orbrix::cqgsim {

class ApiConfiguration;

// What every feature of the simulated CQGCEL shares: the apartment of the
// object that holds it, the connection point events are fired through, one
// outbox, one clock and the venue on that clock.
//
// Events: an event a call causes goes into the outbox, which is fired, in
// order, by a task posted behind the call (or by the next market step,
// whichever runs first), never from inside the call. Time: every delayed
// answer is a timer on the one clock, which follows the wall clock (stepped
// from the apartment's pump) or, manual, moves only by advance_by.
//
// Thread: the owner's apartment, post_event excepted.
class Session {
 public:
  // `owner` holds the session (its apartment and its life are the
  // session's); `fan_out` is told what the venue does.
  Session(automation::Dispatch& owner, std::shared_ptr<detail::SimSettings> settings,
          venue::VenueObserver& fan_out);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  detail::SimSettings& controls() const { return *controls_; }
  const std::shared_ptr<ApiConfiguration>& configuration() const { return configuration_; }
  // A part of the owner as a weak reference: locked, it keeps the whole
  // simulator alive, as a reference to the owner would.
  template <class T>
  std::weak_ptr<T> share(T& part) const {
    return std::shared_ptr<T>(owner_.shared_from_this(), &part);
  }

  // --- events ---
  automation::ConnectionPoint& events() { return events_; }
  // Fires an event now.
  void fire(cqg::CelEvent event, automation::Args args) const;
  // Posts an event to be fired from the apartment's pump; any thread. False
  // when the apartment has shut down.
  bool post_event(cqg::CelEvent event, std::vector<automation::Variant> args);
  // The direct path: the taker of the streamed events decoded (instrument
  // changes, ticks added, timed bars, order and account changes), which the
  // features hand it instead of firing those events with vendor objects;
  // null (the default) fires them. Only that taker hears them then.
  void set_decoded_sink(std::shared_ptr<cqg::decoded::Sink> sink) {
    on_apartment_.assert_current();
    decoded_ = std::move(sink);
    decoded_raw_ = decoded_.get();
  }
  // Asked by every feature for every event: unchecked (the features run on
  // the apartment, as the setter checks it does).
  cqg::decoded::Sink* decoded_sink() const { return decoded_raw_; }
  // Queues work that fires events, behind what is queued already.
  void emit(automation::Task task);
  // Runs what the outbox holds, in order.
  void flush();
  // Queues `task` into the outbox after `delay` on the clock (at once when
  // `delay` is 0 or the clock has not started).
  void after(std::chrono::milliseconds delay, automation::Task task);
  // How long an order is in transit before the venue works it.
  std::chrono::milliseconds order_latency() const {
    on_apartment_.assert_current();
    return startup_.config.order_latency;
  }

  // --- time and the venue ---
  // Starts the clock at the configured start time, once, unless shut down.
  void start_clock();
  // Makes the venue on the clock and opens its market, once, unless shut
  // down. Throws std::invalid_argument for a history of a symbol the venue
  // does not list.
  void open_venue();
  // On the wall clock, from now on a repeating timer of the apartment moves
  // the clock (and the venue) to the wall clock's time, while there is a
  // venue or an answer due.
  void follow_wall_clock();
  // The manual clock moves by `by`: every answer and market event due by
  // then is fired. Throws std::logic_error on the wall clock, before the
  // clock started or after Shutdown.
  void advance_by(std::chrono::nanoseconds by);
  // The manual clock moves to the next time an answer or a market event is
  // due (not at all when none is, or one is due now) and fires what is due
  // then; returns the clock's time. Throws as advance_by.
  venue::Timestamp step_to_next();
  // Fires the outbox, moves the venue to `t` and fires the outbox again.
  void run_until(venue::Timestamp t);
  venue::Venue& venue();  // throws std::logic_error before Startup
  // The clock as readers on the apartment reach it without a round trip
  // (SimDriver::apartment_clock): shared with them, and let go of (null)
  // when the session ends.
  struct ClockView {
    std::atomic<const venue::MarketClock*> clock{nullptr};
    std::thread::id thread;  // the apartment's: the only one that may read it
  };
  const std::shared_ptr<ClockView>& clock_view() const { return clock_view_; }
  bool has_venue() const {
    on_apartment_.assert_current();
    return venue_.has_value();
  }
  // A venue time as the vendor reports it: in the configured time zone.
  automation::Date vendor_time(venue::Timestamp t) const;

  // --- the object's life ---
  bool started() const {
    on_apartment_.assert_current();
    return started_;
  }
  void set_started() {
    on_apartment_.assert_current();
    started_ = true;
  }
  bool shut_down() const {
    on_apartment_.assert_current();
    return shut_down_;
  }
  // Shutdown: later requests raise, and nothing queued is told any more.
  void shut_down_now();
  // Throws std::logic_error naming `member` before Startup or after Shutdown.
  void require_started(std::string_view member) const;
  // With SimConfig::history_only, a request (`member`) for an instrument
  // without a recorded history throws std::invalid_argument naming `symbol`
  // and the reason; an unknown instrument (`id` none) passes, answered as
  // unknown by the request itself.
  void require_history(std::optional<venue::InstrumentId> id, std::string_view symbol,
                       std::string_view member);

 private:
  void step() REQUIRES(on_apartment_);
  // Throws std::logic_error naming `what` on the wall clock, before the
  // clock started or after Shutdown.
  void require_manual_clock(std::string_view what) const REQUIRES(on_apartment_);
  void move_to(venue::Timestamp t) REQUIRES(on_apartment_);

  // Constant after construction.
  automation::Dispatch& owner_;
  std::shared_ptr<detail::SimSettings> controls_;
  venue::VenueObserver& fan_out_;
  std::shared_ptr<ApiConfiguration> configuration_;

  // Apartment thread only, which on_apartment_ checks.
  automation::ApartmentChecker on_apartment_{"the simulator's session"};
  automation::ConnectionPoint events_;
  const std::shared_ptr<ClockView> clock_view_ = std::make_shared<ClockView>();
  std::shared_ptr<cqg::decoded::Sink> decoded_ GUARDED_BY(on_apartment_);
  cqg::decoded::Sink* decoded_raw_ = nullptr;  // decoded_, for the features' reads
  std::deque<automation::Task> outbox_ GUARDED_BY(on_apartment_);
  bool flush_posted_ GUARDED_BY(on_apartment_) = false;
  bool started_ GUARDED_BY(on_apartment_) = false;
  bool shut_down_ GUARDED_BY(on_apartment_) = false;
  // The configuration, read when the clock starts.
  detail::Startup startup_ GUARDED_BY(on_apartment_);
  // The venue runs on it: declared first.
  std::optional<venue::MarketClock> clock_ GUARDED_BY(on_apartment_);
  std::optional<venue::Venue> venue_ GUARDED_BY(on_apartment_);
  // On the wall clock: when the clock started (or the venue opened), and the
  // clock's time then.
  std::chrono::steady_clock::time_point wall_start_ GUARDED_BY(on_apartment_){};
  venue::Timestamp wall_start_time_ GUARDED_BY(on_apartment_){};
};

}  // namespace orbrix::cqgsim
