#include "orbrix/cqgsim/simulator.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/common/durations.hpp"

#include "objects/api_configuration.hpp"
#include "objects/cqgcel.hpp"
#include "objects/sim_history.hpp"
#include "orbrix/automation/apartment.hpp"
#include "orbrix/cqg/vendor_ids.hpp"
#include "src/trading_options_of.hpp"
#include "venue/market/catalogue.hpp"
#include "venue/market/time_text.hpp"
#include "venue/trading/options.hpp"

namespace orbrix::cqgsim {

// The public years are the venue's own.
static_assert(kFirstYear == venue::kFirstYear && kLastYear == venue::kLastYear);

namespace {

// Each delay of the plan is checked where it enters: a delay of centuries
// would overflow the clock's nanoseconds when its answer is scheduled.
void check_delay(std::string_view option, std::chrono::milliseconds delay) {
  check_duration(fmt::format("the fault plan's {} delay", option), delay,
                 std::chrono::milliseconds(0), kMaxAnswerDelay);
}

void check_fault_plan(const FaultPlan& plan) {
  check_delay("startup", plan.startup.delay);
  check_delay("gateway", plan.gateway.delay);
  check_delay("instrument_resolution", plan.instrument_resolution.delay);
  check_delay("account_reload", plan.account_reload.delay);
  check_delay("ticks_resolution", plan.ticks_resolution.delay);
  check_delay("bars_resolution", plan.bars_resolution.delay);
  check_delay("order_placement", plan.order_placement.delay);
  check_duration("the fault plan's shutdown_delay", plan.shutdown_delay,
                 std::chrono::milliseconds(0), kMaxShutdownDelay);
}

}  // namespace

void SimControls::set_fault_plan(const FaultPlan& plan) {
  check_fault_plan(plan);
  MutexLock lock(mutex_);
  faults_ = plan;
}
FaultPlan SimControls::fault_plan() const {
  MutexLock lock(mutex_);
  return faults_;
}
void SimControls::set_startup(StartupBehaviour behaviour) {
  check_delay("startup", behaviour.delay);
  MutexLock lock(mutex_);
  faults_.startup = std::move(behaviour);
}
void SimControls::set_gateway(GatewayBehaviour behaviour) {
  check_delay("gateway", behaviour.delay);
  MutexLock lock(mutex_);
  faults_.gateway = behaviour;
}
void SimControls::set_instrument_resolution(AnswerBehaviour behaviour) {
  check_delay("instrument_resolution", behaviour.delay);
  MutexLock lock(mutex_);
  faults_.instrument_resolution = std::move(behaviour);
}
void SimControls::set_account_reload(AnswerBehaviour behaviour) {
  check_delay("account_reload", behaviour.delay);
  MutexLock lock(mutex_);
  faults_.account_reload = std::move(behaviour);
}
void SimControls::set_ticks_resolution(AnswerBehaviour behaviour) {
  check_delay("ticks_resolution", behaviour.delay);
  MutexLock lock(mutex_);
  faults_.ticks_resolution = std::move(behaviour);
}
void SimControls::set_bars_resolution(AnswerBehaviour behaviour) {
  check_delay("bars_resolution", behaviour.delay);
  MutexLock lock(mutex_);
  faults_.bars_resolution = std::move(behaviour);
}
void SimControls::set_order_placement(AnnouncementBehaviour behaviour) {
  check_delay("order_placement", behaviour.delay);
  MutexLock lock(mutex_);
  faults_.order_placement = behaviour;
}
void SimControls::set_shutdown_delay(std::chrono::milliseconds delay) {
  check_duration("the fault plan's shutdown_delay", delay, std::chrono::milliseconds(0),
                 kMaxShutdownDelay);
  MutexLock lock(mutex_);
  faults_.shutdown_delay = delay;
}
void SimControls::set_invalid_position_sides(std::vector<std::string> symbols) {
  MutexLock lock(mutex_);
  faults_.invalid_position_sides = std::move(symbols);
}

namespace {

// Throws std::invalid_argument naming the first option outside its range.
void check_config(const SimConfig& config) {
  if (config.start_time) {
    const auto t = std::chrono::time_point_cast<venue::Duration>(*config.start_time);
    if (!venue::in_time_range(t)) {
      throw std::invalid_argument(
          fmt::format("the start time {} is outside the years {} to {} the simulator works in",
                      venue::format_timestamp(t), venue::kFirstYear, venue::kLastYear));
    }
  }
  if (config.start_after_first_record &&
      (config.start_after_first_record->count() < 0 ||
       *config.start_after_first_record > std::chrono::days(366))) {
    throw std::invalid_argument("the start after the first record must be within 0 to a year");
  }
  const auto interval = config.mean_event_interval;
  if (interval < std::chrono::milliseconds(1) || interval > std::chrono::hours(1)) {
    throw std::invalid_argument(
        fmt::format("the mean time between market events must be within 1 ms to 1 hour, got {} ms",
                    interval.count()));
  }
  if (config.order_latency.count() < 0 || config.order_latency > std::chrono::hours(1)) {
    throw std::invalid_argument(fmt::format(
        "the order latency must be within 0 to 1 hour, got {} ms", config.order_latency.count()));
  }
  if (config.finished_orders_kept > venue::kMaxFinishedOrdersKept) {
    throw std::invalid_argument(fmt::format("at most {} finished orders can be kept, asked for {}",
                                            venue::kMaxFinishedOrdersKept,
                                            config.finished_orders_kept));
  }
  venue::check_options(trading_options(config));
}

// Keeps the instrument's part of a checked file, replacing an earlier
// history of that instrument (under any of its names).
void add_history(detail::Histories& into, const std::shared_ptr<const venue::HistoryFile>& file,
                 const venue::HistorySeries& series) {
  std::erase_if(into, [&](const auto& h) { return h.first == series.symbol; });
  into.emplace_back(series.symbol, std::make_shared<detail::RecordedHistory>(
                                       detail::RecordedHistory{file, series}));
}

}  // namespace

void SimControls::set_config(SimConfig config) {
  check_config(config);
  // Every file read and checked whole, keeping none of its rows, before
  // anything is kept; a replay reads it again as its time comes.
  detail::Startup startup{std::move(config), {}};
  for (const auto& source : startup.config.histories) {
    const auto file = std::make_shared<const venue::HistoryFile>(
        venue::check_history_file(source.path, source.symbol));
    for (const auto& series : file->series) {
      add_history(startup.histories, file, series);
    }
  }
  MutexLock lock(mutex_);
  startup_ = std::move(startup);
}

SimConfig SimControls::config() const {
  MutexLock lock(mutex_);
  return startup_.config;
}

std::optional<std::pair<VenueTime, VenueTime>> SimControls::history_span() const {
  MutexLock lock(mutex_);
  std::optional<std::pair<VenueTime, VenueTime>> span;
  for (const auto& [symbol, history] : startup_.histories) {
    const VenueTime first = history->series.first;
    const VenueTime last = history->series.last;
    span = span ? std::pair{std::min(span->first, first), std::max(span->second, last)}
                : std::pair{first, last};
  }
  return span;
}

std::vector<std::string> SimControls::history_symbols() const {
  MutexLock lock(mutex_);
  std::vector<std::string> out;
  for (const auto& h : startup_.histories) {
    out.push_back(h.first);
  }
  return out;
}

detail::Startup SimControls::startup() const {
  MutexLock lock(mutex_);
  return startup_;
}

void SimControls::reject_next_order(std::string reason) {
  MutexLock lock(mutex_);
  reject_next_ = std::move(reason);
}

std::optional<std::string> SimControls::take_reject_next() {
  MutexLock lock(mutex_);
  return std::exchange(reject_next_, std::nullopt);
}

void SimControls::set_missing_bar_values(std::string symbol, BarField field,
                                         std::vector<std::size_t> indexes) {
  MutexLock lock(mutex_);
  std::erase_if(missing_,
                [&](const MissingValues& m) { return m.symbol == symbol && m.field == field; });
  missing_.push_back(MissingValues{std::move(symbol), field, std::move(indexes)});
}

std::vector<std::size_t> SimControls::missing_bar_values(std::string_view symbol,
                                                         BarField field) const {
  MutexLock lock(mutex_);
  for (const auto& m : missing_) {
    if (m.symbol == symbol && m.field == field) {
      return m.indexes;
    }
  }
  return {};
}

bool is_simulator(const automation::Dispatch& object) noexcept {
  return dynamic_cast<const CQGCEL*>(&object) != nullptr;
}

automation::DispatchPtr make_error(std::int64_t code, std::string description) {
  return std::make_shared<CqgError>(code, std::move(description));
}

std::shared_ptr<detail::SimSettings> settings_of(const std::shared_ptr<SimControls>& controls) {
  // Shares the controls' life; converts to the private base, which only a
  // friend may.
  return std::shared_ptr<detail::SimSettings>(controls,
                                              static_cast<detail::SimSettings*>(controls.get()));
}

automation::ClassFactory simulator_factory(std::shared_ptr<SimControls> controls) {
  return [controls = std::move(controls)]() -> automation::DispatchPtr {
    auto sim = std::make_shared<CQGCEL>(settings_of(controls));
    controls->attach(sim);
    return sim;
  };
}

SimControls& default_controls() {
  static const auto controls = std::make_shared<SimControls>();
  return *controls;
}

void register_simulator() {
  automation::TypeLibraryRegistry::instance().register_library(type_library(), /*fallback=*/true);
  // The default controls live for the whole process; the factory shares them.
  static const std::shared_ptr<SimControls> shared(std::shared_ptr<SimControls>{},
                                                   &default_controls());
  automation::ClassRegistry::instance().register_if_absent(std::string(cqg::kCqgProgId),
                                                           simulator_factory(shared));
}

ScopedSimulator::ScopedSimulator()
    : controls_(std::make_shared<SimControls>()),
      registration_(std::string(cqg::kCqgProgId), simulator_factory(controls_)) {
  automation::TypeLibraryRegistry::instance().register_library(type_library(), /*fallback=*/true);
}

}  // namespace orbrix::cqgsim
