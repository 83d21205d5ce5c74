#include "orbrix/cqgsim/simulator.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "orbrix/automation/diagnostics.hpp"

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

void SimControls::set_fault_plan(const FaultPlan& plan) {
  MutexLock lock(mutex_);
  faults_ = plan;
}
FaultPlan SimControls::fault_plan() const {
  MutexLock lock(mutex_);
  return faults_;
}
void SimControls::set_startup(StartupBehaviour behaviour) {
  MutexLock lock(mutex_);
  faults_.startup = std::move(behaviour);
}
void SimControls::set_gateway(GatewayBehaviour behaviour) {
  MutexLock lock(mutex_);
  faults_.gateway = behaviour;
}
void SimControls::set_instrument_resolution(AnswerBehaviour behaviour) {
  MutexLock lock(mutex_);
  faults_.instrument_resolution = std::move(behaviour);
}
void SimControls::set_account_reload(AnswerBehaviour behaviour) {
  MutexLock lock(mutex_);
  faults_.account_reload = std::move(behaviour);
}
void SimControls::set_ticks_resolution(AnswerBehaviour behaviour) {
  MutexLock lock(mutex_);
  faults_.ticks_resolution = std::move(behaviour);
}
void SimControls::set_bars_resolution(AnswerBehaviour behaviour) {
  MutexLock lock(mutex_);
  faults_.bars_resolution = std::move(behaviour);
}

void SimControls::set_seed(std::uint64_t seed) {
  MutexLock lock(mutex_);
  seed_ = seed;
}
std::uint64_t SimControls::seed() const {
  MutexLock lock(mutex_);
  return seed_;
}
void SimControls::set_start_time(std::chrono::system_clock::time_point start) {
  const auto t = std::chrono::time_point_cast<venue::Duration>(start);
  if (!venue::in_time_range(t)) {
    throw std::invalid_argument(
        fmt::format("the start time {} is outside the years {} to {} the simulator works in",
                    venue::format_timestamp(t), venue::kFirstYear, venue::kLastYear));
  }
  MutexLock lock(mutex_);
  start_time_ = start;
}
std::optional<std::chrono::system_clock::time_point> SimControls::start_time() const {
  MutexLock lock(mutex_);
  return start_time_;
}
void SimControls::set_mean_event_interval(std::chrono::milliseconds interval) {
  if (interval < std::chrono::milliseconds(1) || interval > std::chrono::hours(1)) {
    throw std::invalid_argument(
        fmt::format("the mean time between market events must be within 1 ms to 1 hour, got {} ms",
                    interval.count()));
  }
  MutexLock lock(mutex_);
  mean_event_interval_ = interval;
}
std::chrono::milliseconds SimControls::mean_event_interval() const {
  MutexLock lock(mutex_);
  return mean_event_interval_;
}
void SimControls::set_fill_model(const FillModel& model) {
  venue::check_options(trading_options(model));
  MutexLock lock(mutex_);
  fill_model_ = model;
}
FillModel SimControls::fill_model() const {
  MutexLock lock(mutex_);
  return fill_model_;
}
void SimControls::set_partial_fills(bool capped) {
  MutexLock lock(mutex_);
  fill_model_.partial_fills = capped;
}
bool SimControls::partial_fills() const {
  MutexLock lock(mutex_);
  return fill_model_.partial_fills;
}

void SimControls::set_finished_orders_kept(std::size_t count) {
  if (count > venue::kMaxFinishedOrdersKept) {
    throw std::invalid_argument(fmt::format("at most {} finished orders can be kept, asked for {}",
                                            venue::kMaxFinishedOrdersKept, count));
  }
  MutexLock lock(mutex_);
  finished_orders_kept_ = count;
}
std::size_t SimControls::finished_orders_kept() const {
  MutexLock lock(mutex_);
  return finished_orders_kept_;
}

void SimControls::replay_history(std::string symbol, const std::string& path) {
  const auto contract = venue::Catalogue::standard_contract(symbol);
  if (!contract) {
    throw std::invalid_argument(
        fmt::format("a history was given for {}, which the simulator does not list", symbol));
  }
  // Read and checked whole, against the instrument's tick grid too, before
  // anything is kept.
  auto history =
      std::make_shared<detail::RecordedHistory>(detail::RecordedHistory{venue::load_history(path)});
  venue::replay_check(history->data, *contract);
  MutexLock lock(mutex_);
  std::erase_if(histories_, [&](const auto& h) { return h.first == symbol; });
  histories_.emplace_back(std::move(symbol), std::move(history));
}

detail::Histories SimControls::histories() const {
  MutexLock lock(mutex_);
  return histories_;
}

void SimControls::use_manual_clock(bool manual) {
  MutexLock lock(mutex_);
  manual_clock_ = manual;
}
bool SimControls::manual_clock() const {
  MutexLock lock(mutex_);
  return manual_clock_;
}

automation::DispatchPtr SimControls::started_instance(std::string_view what) const {
  auto target = instance();
  auto* sim = target ? dynamic_cast<CQGCEL*>(target.get()) : nullptr;
  if (!sim || !target->apartment() || !target->apartment()->alive()) {
    throw std::logic_error(fmt::format("{}: no simulator instance is running", what));
  }
  return target;
}

void SimControls::advance(std::chrono::nanoseconds by) {
  const auto target = started_instance("advance");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->session().advance_by(by); });
}

void SimControls::fire_quotes(std::string_view symbol, std::vector<QuoteSpec> quotes) {
  const auto target = started_instance("fire_quotes");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->quotes().fire_quotes(symbol, quotes); });
}

void SimControls::fire_raw_quotes(std::string_view symbol, std::vector<RawQuote> quotes) {
  const auto target = started_instance("fire_raw_quotes");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->quotes().fire_raw_quotes(symbol, quotes); });
}

void SimControls::drop_gateway() {
  const auto target = started_instance("drop_gateway");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->connection().set_gateway_dropped(true); });
}

void SimControls::restore_gateway() {
  const auto target = started_instance("restore_gateway");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->connection().set_gateway_dropped(false); });
}

void SimControls::drop_data() {
  const auto target = started_instance("drop_data");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->connection().set_data_dropped(true); });
}

void SimControls::restore_data() {
  const auto target = started_instance("restore_data");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->connection().set_data_dropped(false); });
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

int SimControls::startup_calls() const {
  MutexLock lock(mutex_);
  return startup_calls_;
}

void SimControls::count_startup() {
  MutexLock lock(mutex_);
  ++startup_calls_;
}

automation::DispatchPtr SimControls::instance() const {
  MutexLock lock(mutex_);
  return instances_.empty() ? nullptr : instances_.back().lock();
}

std::vector<automation::DispatchPtr> SimControls::instances() const {
  MutexLock lock(mutex_);
  std::vector<automation::DispatchPtr> live;
  for (const auto& w : instances_) {
    if (auto p = w.lock()) {
      live.push_back(std::move(p));
    }
  }
  return live;
}

void SimControls::attach(const automation::DispatchPtr& instance) {
  MutexLock lock(mutex_);
  std::erase_if(instances_, [](const auto& w) { return w.expired(); });
  instances_.push_back(instance);
}

bool SimControls::inject(std::string_view event, std::vector<automation::Variant> args,
                         const automation::DispatchPtr& target) {
  const auto* found = std::find_if(cqg::kCelEvents.begin(), cqg::kCelEvents.end(),
                                   [event](const cqg::CelEventInfo& e) { return e.name == event; });
  if (found == cqg::kCelEvents.end()) {
    throw std::logic_error(fmt::format("CQGCEL has no event named {}", event));
  }
  if (static_cast<std::size_t>(found->params) != args.size()) {
    throw std::invalid_argument(
        fmt::format("{} takes {} arguments ({} given)", event, found->params, args.size()));
  }
  bool ever = false;
  {
    MutexLock lock(mutex_);
    ever = !instances_.empty();
  }
  if (!ever && !target) {
    throw std::logic_error("no simulator instance was made to fire " + std::string(event));
  }
  const auto chosen = target ? target : instance();
  auto* sim = chosen ? dynamic_cast<CQGCEL*>(chosen.get()) : nullptr;
  if (chosen && !sim) {
    throw std::logic_error("inject: the target is not a simulator instance");
  }
  if (!sim || !sim->session().post_event(
                  static_cast<cqg::CelEvent>(found - cqg::kCelEvents.begin()), std::move(args))) {
    automation::report_error(
        fmt::format("cqgsim: {} dropped: the simulator instance has shut down", event));
    return false;
  }
  return true;
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
