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
#include "orbrix/cqgsim/config.hpp"
#include "orbrix/cqgsim/detail/settings.hpp"
#include "orbrix/cqgsim/driver.hpp"
#include "orbrix/cqgsim/fault_plan.hpp"
#include "orbrix/cqgsim/fill_model.hpp"
#include "orbrix/cqgsim/registration.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"

// The simulated CQGCEL: an in-process automation server registered as
// "CQG.CQGCEL.4" with the vendor's type library. It answers from the
// apartment it was created in: every event is posted to that apartment's
// queue and fired from its pump, never from inside the call that caused it.
namespace orbrix::cqgsim {

// The simulator's controls, shared by the simulator objects created with
// them; thread-safe, any thread. Three parts: the venue's configuration,
// read once when a simulator starts; the fault plan, read whole when a
// request needs it, so a change applies to the next one; and the driver.
class SimControls final : private detail::SimSettings {
 public:
  // The configuration a simulator starts with (Startup). Checked whole, and
  // each history read and checked (every row, every price on its
  // instrument's tick grid and within the venue's bound) by a pass that
  // keeps none of its rows, before anything is kept: throws
  // std::invalid_argument naming the option for a value outside its range or
  // a history for a symbol the simulator does not list, and the reader's
  // HistoryError (naming file, line and column) for a file it refuses. A
  // running simulator reads each file again as its clock reaches the rows.
  void set_config(SimConfig config);
  SimConfig config() const;
  // The time of the earliest and of the latest row of the configured
  // histories, or none without a history.
  std::optional<std::pair<VenueTime, VenueTime>> history_span() const;
  // The instruments of the configured histories (short symbols), in the
  // order given.
  std::vector<std::string> history_symbols() const;

  // The fault plan: set whole, or one behaviour at a time (each setter
  // changes that one). Each throws std::invalid_argument naming the delay
  // for one that is negative or beyond kMaxAnswerDelay (kMaxShutdownDelay
  // for the shutdown), changing nothing.
  void set_fault_plan(const FaultPlan& plan);
  FaultPlan fault_plan() const override;
  void set_startup(StartupBehaviour behaviour);
  void set_gateway(GatewayBehaviour behaviour);
  void set_instrument_resolution(AnswerBehaviour behaviour);
  void set_account_reload(AnswerBehaviour behaviour);
  void set_ticks_resolution(AnswerBehaviour behaviour);
  void set_bars_resolution(AnswerBehaviour behaviour);
  void set_order_placement(AnnouncementBehaviour behaviour);
  void set_shutdown_delay(std::chrono::milliseconds delay);
  void set_invalid_position_sides(std::vector<std::string> symbols);
  // The next order placed is rejected with this reason.
  void reject_next_order(std::string reason);
  // Bars of `symbol` report `field` as missing (INVALID_VALUE) at these
  // indexes of the timed-bars collection, counted from the first bar the
  // request got (0), also after older bars have left the collection.
  void set_missing_bar_values(std::string symbol, BarField field, std::vector<std::size_t> indexes);

  // The clock, exact quotes, dropped connections, injected events and the
  // journal of vendor calls.
  SimDriver& driver() noexcept { return driver_; }
  const SimDriver& driver() const noexcept { return driver_; }

 private:
  // What the simulator's objects reach, through the private interface.
  friend std::shared_ptr<detail::SimSettings> settings_of(
      const std::shared_ptr<SimControls>& controls);
  friend automation::ClassFactory simulator_factory(std::shared_ptr<SimControls> controls);
  void attach(const automation::DispatchPtr& instance) { driver_.attach(instance); }
  detail::Startup startup() const override;
  void count_startup() override { driver_.count_startup(); }
  bool wants_order_reports() const noexcept override { return driver_.wants_order_reports(); }
  void report_order(const OrderReport& report) override { driver_.report_order(report); }
  const std::shared_ptr<CallJournal>& shared_journal() const noexcept override {
    return driver_.journal_;
  }
  std::optional<std::string> take_reject_next() override;
  std::vector<std::size_t> missing_bar_values(std::string_view symbol,
                                              BarField field) const override;

  SimDriver driver_;

  mutable Mutex mutex_;
  detail::Startup startup_ GUARDED_BY(mutex_);
  FaultPlan faults_ GUARDED_BY(mutex_);
  std::optional<std::string> reject_next_ GUARDED_BY(mutex_);
  struct MissingValues {
    std::string symbol;
    BarField field;
    std::vector<std::size_t> indexes;
  };
  std::vector<MissingValues> missing_ GUARDED_BY(mutex_);
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
  SimDriver& driver() { return controls_->driver(); }

 private:
  std::shared_ptr<SimControls> controls_;
  automation::ScopedClassRegistration registration_;
};

}  // namespace orbrix::cqgsim
