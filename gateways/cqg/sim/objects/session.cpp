#include "objects/session.hpp"

#include <date/tz.h>
#include <fmt/format.h>

#include <numeric>
#include <stdexcept>
#include <utility>

#include "objects/api_configuration.hpp"
#include "objects/constants.hpp"
#include "objects/sim_history.hpp"
#include "orbrix/automation/apartment.hpp"
#include "src/trading_options_of.hpp"
#include "venue/market/time_text.hpp"

namespace orbrix::cqgsim {
namespace {

using namespace std::chrono_literals;

// How often the market steps on the wall clock.
constexpr auto kStepInterval = 20ms;

// The time zone a TimeZoneCode names.
const date::time_zone* zone_of(std::int64_t code) {
  const auto& k = constants();
  const char* name = "Etc/UTC";
  if (code == k.tzChina) {
    name = "Asia/Shanghai";
  } else if (code == k.tzHongKong) {
    name = "Asia/Hong_Kong";
  } else if (code == k.tzJapan) {
    name = "Asia/Tokyo";
  } else if (code == k.tzCentral) {
    name = "America/Chicago";
  } else if (code == k.tzEastern) {
    name = "America/New_York";
  } else if (code == k.tzPacific) {
    name = "America/Los_Angeles";
  } else if (code == k.tzGreenwich) {
    name = "Europe/London";
  }
  return date::locate_zone(name);
}

}  // namespace

Session::Session(automation::Dispatch& owner, std::shared_ptr<detail::SimSettings> settings,
                 venue::VenueObserver& fan_out)
    : owner_(owner),
      controls_(std::move(settings)),
      fan_out_(fan_out),
      configuration_(std::make_shared<ApiConfiguration>()) {
  if (!owner_.apartment()) {
    throw std::logic_error(
        "CQGCEL answers from an apartment: create it on a thread that called co_initialize");
  }
  // Every call into this simulator's objects runs on this thread.
  detail::bind_thread_journal(controls_->shared_journal());
  clock_view_->thread = std::this_thread::get_id();
}

Session::~Session() {
  clock_view_->clock.store(nullptr, std::memory_order_release);
}

void Session::fire(cqg::CelEvent event, automation::Args args) const {
  events_.fire(event_id(event), args);
}

bool Session::post_event(cqg::CelEvent event, std::vector<automation::Variant> args) {
  // A weak reference: a queued event does not keep a released object alive.
  std::weak_ptr<automation::Dispatch> weak = owner_.weak_from_this();
  return owner_.apartment()->post([this, weak, event, args = std::move(args)] {
    if (const auto strong = weak.lock()) {
      fire(event, args);
    }
  });
}

void Session::emit(automation::Task task) {
  on_apartment_.assert_current();
  outbox_.push_back(std::move(task));
  if (flush_posted_) {
    return;
  }
  flush_posted_ = true;
  std::weak_ptr<automation::Dispatch> weak = owner_.weak_from_this();
  if (!owner_.apartment()->post([this, weak] {
        if (const auto strong = weak.lock()) {
          on_apartment_.assert_current();
          flush_posted_ = false;
          flush();
        }
      })) {
    outbox_.clear();  // the apartment has shut down: nobody can be told any more
  }
}

void Session::flush() {
  on_apartment_.assert_current();
  while (!outbox_.empty()) {
    automation::Task task = std::move(outbox_.front());
    outbox_.pop_front();
    task();
  }
}

void Session::after(std::chrono::milliseconds delay, automation::Task task) {
  on_apartment_.assert_current();
  if (delay.count() <= 0 || !clock_) {
    emit(std::move(task));
    return;
  }
  // The clock is this session's: its timers never outlive it.
  clock_->schedule_after(delay,
                         [this, task = std::move(task)]() mutable { emit(std::move(task)); });
}

namespace {

venue::Timestamp start_time(const detail::Startup& startup) {
  if (const auto start = startup.config.start_time) {
    return std::chrono::time_point_cast<venue::Duration>(*start);
  }
  const auto& histories = startup.histories;
  if (const auto warm_up = startup.config.start_after_first_record; warm_up && !histories.empty()) {
    std::optional<venue::Timestamp> first;
    for (const auto& [symbol, h] : histories) {
      first = first ? std::min(*first, h->series.first) : h->series.first;
    }
    return std::chrono::floor<std::chrono::minutes>(*first) + *warm_up;
  }
  if (!histories.empty()) {
    // Replaying: the venue's time is the recording's, from its middle, so
    // the first half is history (bars to look back on) and the second half
    // plays live.
    const auto first = histories.front().second->series.first;
    const auto last = histories.front().second->series.last;
    // A midpoint that cannot overflow, whatever the two times are.
    const venue::Timestamp middle{venue::Duration{
        std::midpoint(first.time_since_epoch().count(), last.time_since_epoch().count())}};
    return std::chrono::floor<std::chrono::minutes>(middle);
  }
  return std::chrono::time_point_cast<venue::Duration>(std::chrono::system_clock::now());
}

}  // namespace

void Session::start_clock() {
  on_apartment_.assert_current();
  if (clock_ || shut_down_) {
    return;
  }
  startup_ = controls_->startup();
  clock_.emplace(start_time(startup_));
  clock_view_->clock.store(&*clock_, std::memory_order_release);
  wall_start_ = std::chrono::steady_clock::now();
  wall_start_time_ = clock_->now();
}

void Session::open_venue() {
  on_apartment_.assert_current();
  if (venue_ || shut_down_) {
    return;
  }
  start_clock();
  venue::VenueConfig config;
  config.seed = startup_.config.seed;
  config.market.mean_interval = startup_.config.mean_event_interval;
  config.trading = trading_options(startup_.config);
  venue_.emplace(std::move(config), *clock_);
  for (const auto& [symbol, history] : startup_.histories) {
    const auto id = venue_->catalogue().resolve(symbol);
    if (!id) {
      venue_.reset();
      throw std::invalid_argument(
          fmt::format("a history was given for {}, which the simulator does not list", symbol));
    }
    venue_->market().replay(*id, history->file);
  }
  if (startup_.config.history_only) {
    venue_->market().quiet_walks();  // nobody may ask for them
  }
  // The venue's time runs on from when it is ready, not from when its making
  // began.
  wall_start_ = std::chrono::steady_clock::now();
  wall_start_time_ = clock_->now();
  // The market opens at its start: every instrument has quotes before
  // anyone subscribes, so a new subscriber gets them at once.
  venue_->advance_to(venue_->now(), fan_out_);
}

void Session::follow_wall_clock() {
  on_apartment_.assert_current();
  if (startup_.config.manual_clock || !clock_) {
    return;
  }
  std::weak_ptr<automation::Dispatch> weak = owner_.weak_from_this();
  owner_.apartment()->post_after(kStepInterval, [this, weak] {
    if (const auto strong = weak.lock()) {
      on_apartment_.assert_current();
      step();
    }
  });
}

void Session::step() {
  if (shut_down_ || !clock_) {
    return;
  }
  const auto elapsed = std::chrono::steady_clock::now() - wall_start_;
  const auto target = wall_start_time_ + std::chrono::duration_cast<venue::Duration>(elapsed);
  if (target > clock_->now()) {
    flush();
    move_to(target);
  }
  flush();
  // Without a venue the clock runs only for the answers still due on it.
  if (venue_ || clock_->pending() > 0) {
    follow_wall_clock();
  }
}

void Session::move_to(venue::Timestamp t) {
  if (venue_) {
    venue_->advance_to(t, fan_out_);
  } else {
    clock_->advance_to(t);
  }
}

void Session::require_manual_clock(std::string_view what) const {
  if (!startup_.config.manual_clock) {
    throw std::logic_error(fmt::format(
        "{}: the simulator follows the wall clock (configure manual_clock first)", what));
  }
  if (!clock_ || shut_down_) {
    require_started(what);
  }
}

void Session::advance_by(std::chrono::nanoseconds by) {
  on_apartment_.assert_current();
  require_manual_clock("advance");
  // Checked as it enters: past the clock's end the nanoseconds would wrap.
  if (by.count() < 0 || by > venue::kClockEnd - clock_->now()) {
    throw std::invalid_argument(
        fmt::format("advance: {} ns is not within 0 and the time left to the clock's end ({})",
                    by.count(), venue::format_timestamp(venue::kClockEnd)));
  }
  flush();
  move_to(clock_->now() + by);
  flush();
}

venue::Timestamp Session::step_to_next() {
  on_apartment_.assert_current();
  require_manual_clock("step");
  flush();
  std::optional<venue::Timestamp> next = clock_->next_due();
  if (venue_) {
    const auto event = venue_->market().next_event_time();
    if (event && (!next || *event < *next)) {
      next = event;
    }
  }
  if (next && *next <= venue::kClockEnd) {
    move_to(std::max(*next, clock_->now()));
  }
  flush();
  return clock_->now();
}

void Session::run_until(venue::Timestamp t) {
  on_apartment_.assert_current();
  flush();
  move_to(t);
  flush();
}

venue::Venue& Session::venue() {
  on_apartment_.assert_current();
  if (!venue_) {
    throw std::logic_error("CQGCEL has not been started (call Startup first)");
  }
  return *venue_;
}

automation::Date Session::vendor_time(venue::Timestamp t) const {
  static thread_local std::int64_t cached_code = -1;
  static thread_local const date::time_zone* cached_zone = nullptr;
  const std::int64_t code = configuration_->TimeZoneCode;
  if (code != cached_code || !cached_zone) {
    cached_zone = zone_of(code);
    cached_code = code;
  }
  const auto local = cached_zone->to_local(std::chrono::floor<std::chrono::microseconds>(t));
  return automation::Date(local.time_since_epoch());
}

void Session::shut_down_now() {
  on_apartment_.assert_current();
  started_ = false;
  shut_down_ = true;
  outbox_.clear();
  decoded_raw_ = nullptr;
  decoded_.reset();
}

void Session::require_started(std::string_view member) const {
  on_apartment_.assert_current();
  if (shut_down_) {
    throw std::logic_error(fmt::format("CQGCEL.{}: CQGCEL has been shut down", member));
  }
  if (!venue_) {
    throw std::logic_error(fmt::format("CQGCEL.{}: CQGCEL has not been started", member));
  }
}

void Session::require_history(std::optional<venue::InstrumentId> id, std::string_view symbol,
                              std::string_view member) {
  on_apartment_.assert_current();
  require_started(member);
  if (!startup_.config.history_only || !id || venue_->market().replaying(*id)) {
    return;
  }
  std::string recorded;
  for (const auto& [name, history] : startup_.histories) {
    recorded += (recorded.empty() ? "" : ", ") + name;
  }
  throw std::invalid_argument(fmt::format(
      "CQGCEL.{}: {} has no recorded history in this backtest (the histories hold {}); the "
      "simulator's generated market is for live sessions, not for backtests",
      member, symbol, recorded.empty() ? std::string("none") : recorded));
}

}  // namespace orbrix::cqgsim
