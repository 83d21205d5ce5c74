#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/common/mutex.hpp"
#include "orbrix/cqg/decoded_events.hpp"
#include "orbrix/cqgsim/call_journal.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"
#include "orbrix/cqgsim/venue_report.hpp"

namespace orbrix::cqgsim {

class SimControls;

// Drives the simulators made with one set of controls, for tests, tools and
// backtests: the manual clock, exact quotes, dropped connections, injected
// events, and the journal of the calls made into the simulator's objects.
// Any thread. A control that acts on a running simulator acts on the latest
// one made and throws std::logic_error when none is running.
class SimDriver {
 public:
  SimDriver(const SimDriver&) = delete;
  SimDriver& operator=(const SimDriver&) = delete;

  // Moves the manual clock on: runs on the simulator's apartment and
  // returns once every answer and market event due by then has been fired.
  // Throws std::logic_error on the wall clock, or before a Startup that
  // answers; std::invalid_argument for a negative step or one past the
  // clock's end (the year 2261), the clock left where it was.
  void advance(std::chrono::nanoseconds by);
  // Moves the manual clock straight to the next time an answer or a market
  // event is due and returns once what is due then has been fired (as a
  // backtest moves from event to event); returns the simulator's time. The
  // clock stays when nothing is due. Throws as advance.
  VenueTime step();
  // Steps as step() does, all on the simulator's apartment in one call,
  // until `done` holds after a step (it runs there, where the vendor's
  // events reach their handlers) or `max_steps` were taken; returns the
  // steps taken. A backtest's loop without a round trip per step.
  int step_until(const std::function<bool()>& done, int max_steps);
  // The simulator's time now.
  VenueTime now() const;
  // A reader of the simulator's time for code that runs on its apartment
  // (a handler of its events): a read, no round trip. The reader throws
  // std::logic_error once the simulator is gone or off the apartment.
  std::function<VenueTime()> apartment_clock() const;

  // The direct path, for an in-process backtest: the running simulator
  // hands its streamed events (instrument changes, ticks added, timed bars,
  // order and account changes) to `sink` decoded, instead of firing them
  // with vendor objects; only `sink` hears them then, on the apartment, in
  // the order they would be fired. Null fires them again. Returns once set
  // on the simulator's apartment; the simulator lets go of `sink` at its
  // Shutdown.
  void set_decoded_sink(std::shared_ptr<cqg::decoded::Sink> sink);

  // For a backtest over recorded history, which jumps over the gaps in it.
  // The next time a recorded row, an injected quote batch or an answer is
  // due (the random walks of the instruments without a history left out);
  // none when nothing is. Throws as advance.
  std::optional<VenueTime> next_scheduled() const;
  // Moves the manual clock to `t` as advance() does, then returns
  // next_scheduled(): one round trip a step. Throws as advance, also for a
  // `t` before now.
  std::optional<VenueTime> run_until(VenueTime t);
  // Moves the manual clock to `t` over a gap: nothing but random walks is
  // due by then, and they pause, resuming at `t` where they stopped;
  // nothing is fired. Throws std::logic_error when anything else is due by
  // `t`, and as run_until.
  void jump_to(VenueTime t);
  // Rows of the histories read at or after the start, as the clock reached
  // them.
  std::size_t replayed_rows() const;
  // At the end of a backtest's data: the first account's working orders
  // are cancelled, and each of its open positions is closed by a market
  // order worked without the order latency and filled at once at the
  // instrument's last quote (a sell at the bid,
  // a buy at the ask, with the fill model's slippage and commission; one
  // whose side has no quote stays working). The client hears of these
  // orders as of its own. Returns once every event of it has been fired.
  // Throws as advance.
  void close_out();

  // Fires an exact OnInstrumentChanged batch for a subscribed instrument
  // (short or full symbol) through the venue, which takes it as its new
  // state; returns once it was fired. Throws std::invalid_argument for an
  // unknown quote type name or a valid quote's price off the tick grid or
  // beyond the venue's bound, std::out_of_range for a symbol that is not
  // subscribed.
  void fire_quotes(std::string_view symbol, std::vector<QuoteSpec> quotes);
  // Fires OnInstrumentChanged for a subscribed instrument with quote objects
  // made as given, bypassing the venue; returns once it was fired.
  void fire_raw_quotes(std::string_view symbol, std::vector<RawQuote> quotes);

  // The gateway connection drops: OnGWConnectionStatusChanged(down) when it
  // was up; until it is restored a log-on gets no answer, Place and Cancel
  // raise, no quotes, ticks or bars are sent, and order and position
  // events are held. Restored, a new log-on is answered as usual, and the
  // held events follow its up report. Working orders keep working. Returns
  // once done on the simulator's apartment.
  void drop_gateway();
  void restore_gateway();
  // The data connection drops (OnDataConnectionStatusChanged(down), no
  // quotes, ticks or bars) and comes back (OnDataConnectionStatusChanged(up)).
  void drop_data();
  void restore_data();

  // Fires a vendor event (by its catalogue name) from a simulator instance
  // (`target`, or else the latest one), posted to its apartment and fired
  // from the pump. Returns false, and writes one line to the error
  // reporter, when the event is dropped because the instance is gone or its
  // apartment has shut down. Throws std::logic_error when no instance was
  // ever made or the event is unknown, std::invalid_argument when the
  // argument count is wrong.
  bool inject(std::string_view event, std::vector<automation::Variant> args,
              const automation::DispatchPtr& target = nullptr);

  // Each change of an order the venue makes, told on the simulator's
  // apartment as it is made (null: none). Set before the run.
  void set_order_listener(OrderListener listener);
  // The first account as the venue books it now, marked at the venue's
  // prices; runs on the simulator's apartment.
  AccountReport account_report() const;
  // The newest `count` completed one-minute bars of an instrument (short or
  // full symbol), oldest first, and the forming one; throws
  // std::invalid_argument for a symbol the simulator does not list.
  std::vector<BarReport> minute_bars(std::string_view symbol, std::size_t count) const;
  // The timed-bars requests made and not removed, as the venue answered
  // them (on either event path): symbol, whether daily, the completed bars
  // asked for and the bars the answer held (the forming one included; 0
  // before or without an answer). Runs on the simulator's apartment.
  std::vector<BarRequestReport> bar_requests() const;
  // The full name of an instrument (short or full symbol, any month);
  // throws std::invalid_argument for a symbol the simulator does not list.
  std::string full_name(std::string_view symbol) const;
  // The short symbol users subscribe with ("EP") of an instrument named
  // any way full_name takes; throws as full_name does.
  std::string short_symbol(std::string_view symbol) const;

  // The calls made into the simulators' objects, while it records (off at
  // first).
  CallJournal& journal() const noexcept { return *journal_; }

  // Number of Startup() calls seen, the latest instance (or null) and every
  // live instance, oldest first.
  int startup_calls() const;
  automation::DispatchPtr instance() const;
  std::vector<automation::DispatchPtr> instances() const;

 private:
  friend class SimControls;
  SimDriver() = default;
  void attach(const automation::DispatchPtr& instance);
  void count_startup();
  bool wants_order_reports() const noexcept {
    return has_listener_.load(std::memory_order_acquire);
  }
  void report_order(const OrderReport& report);
  // The instance a control acts on: started, on its own apartment.
  automation::DispatchPtr started_instance(std::string_view what) const;

  // Constant after construction.
  const std::shared_ptr<CallJournal> journal_ = std::make_shared<CallJournal>();

  mutable Mutex mutex_;
  std::vector<std::weak_ptr<automation::Dispatch>> instances_ GUARDED_BY(mutex_);
  int startup_calls_ GUARDED_BY(mutex_) = 0;
  std::atomic<bool> has_listener_{false};
  OrderListener listener_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::cqgsim
