#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/automation/registry.hpp"
#include "orbrix/automation/type_library.hpp"
#include "orbrix/common/mutex.hpp"
#include "orbrix/cqgsim/call_journal.hpp"
#include "orbrix/cqgsim/detail/settings.hpp"
#include "orbrix/cqgsim/fault_plan.hpp"
#include "orbrix/cqgsim/fill_model.hpp"
#include "orbrix/cqgsim/registration.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"

// The simulated CQGCEL: an in-process automation server registered as
// "CQG.CQGCEL.4" with the vendor's type library. It answers from the
// apartment it was created in: every event is posted to that apartment's
// queue and fired from its pump, never from inside the call that caused it.
namespace orbrix::cqgsim {

// The test and tooling surface of the simulator: fault switches, the clock
// and event injection. Thread-safe, any thread; shared by the simulator
// objects created with it. Switches are read when the simulator needs them,
// so a change applies to the next request.
class SimControls final : private detail::SimSettings {
 public:
  // The fault plan: set whole, or one behaviour at a time (each setter
  // changes that one); read whole, as a snapshot, by the simulator for each
  // request, so a change applies to the next one.
  void set_fault_plan(const FaultPlan& plan);
  FaultPlan fault_plan() const override;
  void set_startup(StartupBehaviour behaviour);
  void set_gateway(GatewayBehaviour behaviour);
  void set_instrument_resolution(AnswerBehaviour behaviour);
  void set_account_reload(AnswerBehaviour behaviour);
  void set_ticks_resolution(AnswerBehaviour behaviour);
  void set_bars_resolution(AnswerBehaviour behaviour);

  // The venue: its master seed (the same seed gives the same market), the
  // time it starts at (the wall clock's time by default; with a recorded
  // history, the whole minute at the middle of the recording, so its first
  // half is there to look back on), the mean time
  // between two market events of an instrument, whether fills are capped at
  // the displayed size (partial fills), how many finished orders stay in
  // Orders for look-up by id, and a recorded history an instrument replays
  // (a CSV file, see the simulator's README). Read when the simulator
  // starts (Startup). Each setter throws std::invalid_argument, naming the
  // option, for a value outside its range: a start time outside the years
  // 1970 to 2199, a mean interval outside 1 ms to 1 hour, more finished
  // orders than 10,000,000.
  void set_seed(std::uint64_t seed);
  std::uint64_t seed() const override;
  void set_start_time(std::chrono::system_clock::time_point start);
  std::optional<std::chrono::system_clock::time_point> start_time() const override;
  void set_mean_event_interval(std::chrono::milliseconds interval);
  std::chrono::milliseconds mean_event_interval() const override;
  // How orders fill (see FillModel); throws std::invalid_argument naming an
  // option outside its range. set_partial_fills changes that one switch.
  void set_fill_model(const FillModel& model);
  FillModel fill_model() const override;
  void set_partial_fills(bool capped_at_displayed_size);
  bool partial_fills() const;
  // 10,000 by default; the oldest finished orders beyond it are forgotten
  // (ItemByGuid then raises an error naming the id).
  void set_finished_orders_kept(std::size_t count);
  std::size_t finished_orders_kept() const override;
  // Reads the file and checks all of it for the instrument `symbol` names
  // (short, dated in any month, or full name): every row, and every price on
  // its tick grid and within the venue's bound. Throws the reader's
  // HistoryError (naming file, line and column) for a file it refuses, and
  // std::invalid_argument for a symbol the simulator does not list; nothing
  // is kept then.
  void replay_history(std::string symbol, const std::string& path);

  // The simulator's clock, which every delayed answer is due on. By default
  // it follows the wall clock. Manual: it moves only by advance(), which runs
  // on the simulator's apartment and returns once every answer and market
  // event due by then has been fired. Choose before Startup. advance() throws
  // std::logic_error on the wall clock, or before a Startup that answers.
  void use_manual_clock(bool manual = true);
  bool manual_clock() const override;
  void advance(std::chrono::nanoseconds by);

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
  // The next order placed is rejected with this reason.
  void reject_next_order(std::string reason);
  // Bars of `symbol` report `field` as missing (INVALID_VALUE) at these
  // indexes of the timed-bars collection, counted from the first bar the
  // request got (0), also after older bars have left the collection.
  void set_missing_bar_values(std::string symbol, BarField field, std::vector<std::size_t> indexes);

  // Fires a vendor event (by its catalogue name) from a simulator instance
  // (`target`, or else the latest one made with these controls), posted to
  // its apartment and fired from the pump. Any thread. Returns false, and
  // writes one line to the error reporter, when the event is dropped
  // because the instance is gone or its apartment has shut down. Throws
  // std::logic_error when no instance was ever made or the event is
  // unknown, std::invalid_argument when the argument count is wrong.
  bool inject(std::string_view event, std::vector<automation::Variant> args,
              const automation::DispatchPtr& target = nullptr);

  // The calls made into the objects of the simulators made with these
  // controls, while it records (off at first).
  CallJournal& journal() const noexcept { return *journal_; }
  const std::shared_ptr<CallJournal>& shared_journal() const noexcept override { return journal_; }

  // Number of Startup() calls seen, the latest instance (or null) and every
  // live instance, oldest first.
  int startup_calls() const;
  automation::DispatchPtr instance() const;
  std::vector<automation::DispatchPtr> instances() const;

  // The histories given, per symbol, in the order given.
  detail::Histories histories() const override;

 private:
  // What the simulator's objects reach, through the private interface.
  friend std::shared_ptr<detail::SimSettings> settings_of(
      const std::shared_ptr<SimControls>& controls);
  friend automation::ClassFactory simulator_factory(std::shared_ptr<SimControls> controls);
  void attach(const automation::DispatchPtr& instance);
  void count_startup() override;
  std::optional<std::string> take_reject_next() override;
  std::vector<std::size_t> missing_bar_values(std::string_view symbol,
                                              BarField field) const override;

  // The instance a control acts on: started, on its own apartment.
  automation::DispatchPtr started_instance(std::string_view what) const;

  // Constant after construction.
  const std::shared_ptr<CallJournal> journal_ = std::make_shared<CallJournal>();

  mutable Mutex mutex_;
  FaultPlan faults_ GUARDED_BY(mutex_);
  std::uint64_t seed_ GUARDED_BY(mutex_) = 1;
  std::optional<std::chrono::system_clock::time_point> start_time_ GUARDED_BY(mutex_);
  std::chrono::milliseconds mean_event_interval_ GUARDED_BY(mutex_){300};
  FillModel fill_model_ GUARDED_BY(mutex_);
  std::size_t finished_orders_kept_ GUARDED_BY(mutex_) = 10'000;
  bool manual_clock_ GUARDED_BY(mutex_) = false;
  std::optional<std::string> reject_next_ GUARDED_BY(mutex_);
  detail::Histories histories_ GUARDED_BY(mutex_);
  struct MissingValues {
    std::string symbol;
    BarField field;
    std::vector<std::size_t> indexes;
  };
  std::vector<MissingValues> missing_ GUARDED_BY(mutex_);
  std::vector<std::weak_ptr<automation::Dispatch>> instances_ GUARDED_BY(mutex_);
  int startup_calls_ GUARDED_BY(mutex_) = 0;
};

// The private interface the simulator's objects read `controls` through.
std::shared_ptr<detail::SimSettings> settings_of(const std::shared_ptr<SimControls>& controls);

// A factory for simulator objects bound to `controls`.
automation::ClassFactory simulator_factory(std::shared_ptr<SimControls> controls);

// Registers a simulator with its own controls as "CQG.CQGCEL.4" for a scope
// and restores the previous registration after.
class ScopedSimulator {
 public:
  ScopedSimulator();
  SimControls& controls() { return *controls_; }

 private:
  std::shared_ptr<SimControls> controls_;
  automation::ScopedClassRegistration registration_;
};

}  // namespace orbrix::cqgsim
