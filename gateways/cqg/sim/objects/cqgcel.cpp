#include "objects/cqgcel.hpp"

#include <date/tz.h>
#include <fmt/format.h>

#include <numeric>
#include <stdexcept>
#include <utility>

#include "objects/account.hpp"
#include "objects/api_configuration.hpp"
#include "objects/constants.hpp"
#include "objects/instrument.hpp"
#include "objects/order.hpp"
#include "objects/sim_history.hpp"
#include "objects/ticks.hpp"
#include "objects/timed_bars.hpp"
#include "orbrix/automation/apartment.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Dispatch;
using automation::Variant;
using namespace std::chrono_literals;

// How often the market steps on the wall clock.
constexpr auto kStepInterval = 20ms;

CQGCEL& self(Dispatch& d) {
  return automation::self_as<CQGCEL>(d);
}

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

CQGCEL::CQGCEL(std::shared_ptr<SimControls> controls)
    : controls_(std::move(controls)),
      configuration_(std::make_shared<ApiConfiguration>()),
      instruments_(std::make_shared<Instruments>()),
      account_level_(constants().aslNone),
      accounts_(std::make_shared<Accounts>()),
      orders_(std::make_shared<Orders>()),
      all_ticks_(std::make_shared<AllTicks>()),
      all_timed_bars_(std::make_shared<AllTimedBars>()) {
  if (!apartment()) {
    throw std::logic_error(
        "CQGCEL answers from an apartment: create it on a thread that called co_initialize");
  }
  // Every call into this simulator's objects runs on this thread.
  detail::bind_thread_journal(controls_->shared_journal());
}

CQGCEL::~CQGCEL() = default;

const automation::ClassInfo& CQGCEL::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGCEL");
    c.add_property("APIConfiguration", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGCEL", "APIConfiguration");
      return self(d).configuration_;
    });
    c.add_property("IsStarted", [](Dispatch& d, Args) -> Variant { return self(d).started_; });
    c.add_method("Startup", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGCEL", "Startup");
      self(d).startup();
      return {};
    });
    c.add_method("Shutdown", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGCEL", "Shutdown");
      self(d).shutdown();
      return {};
    });
    c.add_method("GWLogon", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 2, "CQGCEL", "GWLogon");
      self(d).gw_logon(a[0], a[1]);
      return {};
    });
    c.add_method("GWLogoff", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGCEL", "GWLogoff");
      self(d).gw_logoff();
      return {};
    });
    c.add_property(
        "AccountSubscriptionLevel",
        [](Dispatch& d, Args) -> Variant { return self(d).account_level_; },
        [](Dispatch& d, Args, const Variant& v) { self(d).set_account_level(v.as_int()); });
    c.add_property("Accounts", [](Dispatch& d, Args) -> Variant { return self(d).accounts_; });
    c.add_property("Instruments",
                   [](Dispatch& d, Args) -> Variant { return self(d).instruments_; });
    c.add_property("Orders", [](Dispatch& d, Args) -> Variant { return self(d).orders_; });
    c.add_method("NewInstrument", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 1, "CQGCEL", "NewInstrument");
      self(d).new_instrument(a[0].as_string());
      return {};
    });
    c.add_method("RemoveInstrument", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 1, "CQGCEL", "RemoveInstrument");
      self(d).remove_instrument(a[0]);
      return {};
    });
    c.add_method("CreateOrder",
                 [](Dispatch& d, Args a) -> Variant { return self(d).create_order(a); });
    c.add_method("CreateTicksRequest", [](Dispatch&, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGCEL", "CreateTicksRequest");
      return std::make_shared<TicksRequest>();
    });
    c.add_method("RequestTicks", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 1, "CQGCEL", "RequestTicks");
      return self(d).request_ticks(a[0]);
    });
    c.add_method("RemoveTicks", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 1, "CQGCEL", "RemoveTicks");
      self(d).remove_ticks(a[0]);
      return {};
    });
    c.add_property("AllTicks", [](Dispatch& d, Args) -> Variant { return self(d).all_ticks_; });
    c.add_method("CreateTimedBarsRequest", [](Dispatch&, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGCEL", "CreateTimedBarsRequest");
      return std::make_shared<TimedBarsRequest>();
    });
    c.add_method("RequestTimedBars", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 1, "CQGCEL", "RequestTimedBars");
      return self(d).request_timed_bars(a[0]);
    });
    c.add_method("RemoveTimedBars", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 1, "CQGCEL", "RemoveTimedBars");
      self(d).remove_timed_bars(a[0]);
      return {};
    });
    c.add_property("AllTimedBars",
                   [](Dispatch& d, Args) -> Variant { return self(d).all_timed_bars_; });
    return c;
  }();
  return info;
}

automation::Cookie CQGCEL::advise(const automation::DispatchPtr& sink) {
  return events_.advise(sink);
}

void CQGCEL::unadvise(automation::Cookie cookie) {
  events_.unadvise(cookie);
}

void CQGCEL::fire(cqg::CelEvent event, Args args) const {
  events_.fire(event_id(event), args);
}

bool CQGCEL::post_event(cqg::CelEvent event, std::vector<Variant> args) {
  // A weak reference: a queued event does not keep a released object alive.
  std::weak_ptr<Dispatch> weak = weak_from_this();
  return apartment()->post([weak, event, args = std::move(args)] {
    if (auto strong = weak.lock()) {
      static_cast<const CQGCEL&>(*strong).fire(event, args);
    }
  });
}

venue::Venue& CQGCEL::venue() {
  if (!venue_) {
    throw std::logic_error("CQGCEL has not been started (call Startup first)");
  }
  return *venue_;
}

void CQGCEL::require_started(std::string_view member) const {
  if (shut_down_) {
    throw std::logic_error(fmt::format("CQGCEL.{}: CQGCEL has been shut down", member));
  }
  if (!venue_) {
    throw std::logic_error(fmt::format("CQGCEL.{}: CQGCEL has not been started", member));
  }
}

automation::Date CQGCEL::vendor_time(venue::Timestamp t) const {
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

void CQGCEL::emit(automation::Task task) {
  outbox_.push_back(std::move(task));
  if (flush_posted_) {
    return;
  }
  flush_posted_ = true;
  std::weak_ptr<CQGCEL> weak = std::static_pointer_cast<CQGCEL>(shared_from_this());
  if (!apartment()->post([weak] {
        if (auto strong = weak.lock()) {
          strong->flush_posted_ = false;
          strong->flush();
        }
      })) {
    outbox_.clear();  // the apartment has shut down: nobody can be told any more
  }
}

void CQGCEL::flush() {
  while (!outbox_.empty()) {
    automation::Task task = std::move(outbox_.front());
    outbox_.pop_front();
    task();
  }
}

void CQGCEL::after(std::chrono::milliseconds delay, automation::Task task) {
  if (delay.count() <= 0 || !clock_) {
    emit(std::move(task));
    return;
  }
  // The clock is this object's: its timers never outlive it.
  clock_->schedule_after(delay,
                         [this, task = std::move(task)]() mutable { emit(std::move(task)); });
}

venue::Timestamp CQGCEL::start_time() const {
  if (const auto start = controls_->start_time()) {
    return std::chrono::time_point_cast<venue::Duration>(*start);
  }
  const auto histories = controls_->histories();
  if (!histories.empty() && histories.front().second->data.size() > 0) {
    // Replaying: the venue's time is the recording's, from its middle, so
    // the first half is history (bars to look back on) and the second half
    // plays live.
    const auto& h = histories.front().second->data;
    const bool bars = h.format == venue::HistoryFormat::MinuteBars;
    const auto first = bars ? h.bars.front().start : h.quotes.front().time;
    const auto last = bars ? h.bars.back().start : h.quotes.back().time;
    // A midpoint that cannot overflow, whatever the two times are.
    const venue::Timestamp middle{venue::Duration{
        std::midpoint(first.time_since_epoch().count(), last.time_since_epoch().count())}};
    return std::chrono::floor<std::chrono::minutes>(middle);
  }
  return std::chrono::time_point_cast<venue::Duration>(std::chrono::system_clock::now());
}

void CQGCEL::start_clock() {
  if (clock_) {
    return;
  }
  clock_.emplace(start_time());
  manual_clock_ = controls_->manual_clock();
  wall_start_ = std::chrono::steady_clock::now();
  wall_start_time_ = clock_->now();
}

void CQGCEL::startup() {
  controls_->count_startup();
  const StartupBehaviour b = controls_->startup();
  switch (b.answer) {
    case StartupBehaviour::Answer::Started: {
      if (!venue_ && !shut_down_) {
        start_clock();
        venue::VenueConfig config;
        config.seed = controls_->seed();
        config.market.mean_interval = controls_->mean_event_interval();
        config.trading.cap_fill_at_displayed_size = controls_->partial_fills();
        config.trading.finished_orders_kept = controls_->finished_orders_kept();
        finished_orders_kept_ = config.trading.finished_orders_kept;
        venue_.emplace(std::move(config), *clock_);
        for (const auto& [symbol, history] : controls_->histories()) {
          const auto id = venue_->catalogue().resolve(symbol);
          if (!id) {
            venue_.reset();
            throw std::invalid_argument(fmt::format(
                "a history was given for {}, which the simulator does not list", symbol));
          }
          venue_->market().replay(*id, history->data);
        }
        // The venue's time runs on from when it is ready, not from when its
        // making began.
        wall_start_ = std::chrono::steady_clock::now();
        wall_start_time_ = clock_->now();
        // The market opens at its start: every instrument has quotes before
        // anyone subscribes, so a new subscriber gets them at once.
        venue_->advance_to(venue_->now(), *this);
      }
      started_ = true;
      after(b.delay, [this] {
        fire(cqg::CelEvent::OnCELStarted, {});
        const std::array<Variant, 1> up{Variant(constants().csConnectionUp)};
        fire(cqg::CelEvent::OnDataConnectionStatusChanged, up);
      });
      start_market();
      break;
    }
    case StartupBehaviour::Answer::DataError: {
      Variant error;
      if (b.with_error_object) {
        error = make_error(b.error_code, b.error_description);
      }
      if (!shut_down_) {
        start_clock();
      }
      after(b.delay, [this, args = std::array<Variant, 2>{error, Variant(b.error_description)}] {
        fire(cqg::CelEvent::OnDataError, args);
      });
      start_market();
      break;
    }
    case StartupBehaviour::Answer::Silent:
      break;
  }
}

void CQGCEL::shutdown() {
  started_ = false;
  shut_down_ = true;
  outbox_.clear();
}

void CQGCEL::start_market() {
  if (manual_clock_ || !clock_) {
    return;
  }
  std::weak_ptr<CQGCEL> weak = std::static_pointer_cast<CQGCEL>(shared_from_this());
  apartment()->post_after(kStepInterval, [weak] {
    if (auto strong = weak.lock()) {
      strong->step_market();
    }
  });
}

void CQGCEL::step_market() {
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
    start_market();
  }
}

void CQGCEL::move_to(venue::Timestamp t) {
  if (venue_) {
    venue_->advance_to(t, *this);
  } else {
    clock_->advance_to(t);
  }
}

void CQGCEL::advance_by(std::chrono::nanoseconds by) {
  if (!manual_clock_) {
    throw std::logic_error(
        "advance: the simulator follows the wall clock (use_manual_clock first)");
  }
  if (!clock_ || shut_down_) {
    require_started("advance");
  }
  flush();
  move_to(clock_->now() + by);
  flush();
}

void CQGCEL::on_trading(std::span<const venue::TradingEvent> events) {
  if (events.empty()) {
    return;
  }
  flush();
  for (const auto& e : events) {
    deliver_trading(e);
  }
  flush();
}

void CQGCEL::on_market(const venue::MarketEvent& event) {
  if (gateway_dropped_ || data_dropped_) {
    return;  // nothing reaches a client without its connections
  }
  const auto it = instrument_of_.find(event.instrument);
  const bool quotes = it != instrument_of_.end() && it->second->streaming();
  bool others = false;
  for (const auto& t : ticks_) {
    others = others || (t->resolved() && t->instrument() == event.instrument);
  }
  for (const auto& b : timed_bars_) {
    others = others || (b->live() && b->instrument() == event.instrument);
  }
  if (!quotes && !others) {
    return;  // nobody listens to this instrument
  }
  flush();
  if (quotes) {
    deliver_quotes(*it->second, event);
  }
  if (!event.ticks.empty()) {
    // A copy: a handler may add or remove requests.
    const auto requests = ticks_;
    for (const auto& t : requests) {
      if (t->resolved() && !t->removed() && t->instrument() == event.instrument) {
        deliver_ticks(*t, event);
      }
    }
  }
  if (!event.bars.empty()) {
    const auto requests = timed_bars_;
    for (const auto& b : requests) {
      if (b->live() && b->instrument() == event.instrument) {
        for (const auto& update : event.bars) {
          if (update.period == b->period()) {
            deliver_bars(*b, update);
          }
        }
      }
    }
  }
  flush();
}

void CQGCEL::gw_logon(const Variant& user, const Variant& password) {
  (void)user.as_string();
  (void)password.as_string();
  require_started("GWLogon");
  const auto b = controls_->gateway();
  if (b.answer == GatewayBehaviour::Answer::Never || gateway_dropped_) {
    return;  // a dropped connection answers no log-on
  }
  after(b.delay, [this] {
    if (gateway_dropped_) {
      return;
    }
    logged_on_ = true;
    const std::array<Variant, 1> args{Variant(constants().csConnectionUp)};
    fire(cqg::CelEvent::OnGWConnectionStatusChanged, args);
    // What happened to the orders while the connection was down follows.
    for (const auto& e : std::exchange(held_, {})) {
      deliver_trading(e);
    }
  });
}

void CQGCEL::gw_logoff() {
  require_started("GWLogoff");
  const auto b = controls_->gateway();
  if (b.answer == GatewayBehaviour::Answer::Never) {
    return;
  }
  after(b.delay, [this] {
    logged_on_ = false;
    const std::array<Variant, 1> args{Variant(constants().csConnectionDown)};
    fire(cqg::CelEvent::OnGWConnectionStatusChanged, args);
  });
}

void CQGCEL::set_gateway_dropped(bool dropped) {
  require_started(dropped ? "drop_gateway" : "restore_gateway");
  flush();  // what happened before the drop is told first
  if (dropped && !gateway_dropped_ && logged_on_) {
    logged_on_ = false;
    const std::array<Variant, 1> args{Variant(constants().csConnectionDown)};
    fire(cqg::CelEvent::OnGWConnectionStatusChanged, args);
  }
  gateway_dropped_ = dropped;
}

void CQGCEL::set_data_dropped(bool dropped) {
  require_started(dropped ? "drop_data" : "restore_data");
  flush();
  if (dropped != data_dropped_) {
    data_dropped_ = dropped;
    const auto& k = constants();
    const std::array<Variant, 1> args{Variant(dropped ? k.csConnectionDown : k.csConnectionUp)};
    fire(cqg::CelEvent::OnDataConnectionStatusChanged, args);
  }
}

void CQGCEL::set_account_level(std::int64_t level) {
  const auto& k = constants();
  if (level != k.aslNone && level != k.aslAccountUpdatesAndOrders && level != k.aslAccountUpdates) {
    throw std::invalid_argument(fmt::format(
        "CQGCEL.AccountSubscriptionLevel: {} is not an account subscription level", level));
  }
  const bool was_none = account_level_ == k.aslNone;
  account_level_ = level;
  if (level == k.aslNone) {
    accounts_->clear();
    ++account_generation_;  // a reload still on its way answers nobody
    return;
  }
  if (!was_none || !venue_) {
    return;
  }
  const auto b = controls_->account_reload();
  if (b.answer == AnswerBehaviour::Answer::Never || b.answer == AnswerBehaviour::Answer::Error) {
    return;
  }
  const auto generation = ++account_generation_;
  after(b.delay, [this, generation] {
    if (generation != account_generation_ || account_level_ == constants().aslNone) {
      return;
    }
    accounts_->clear();
    std::weak_ptr<CQGCEL> weak = std::static_pointer_cast<CQGCEL>(shared_from_this());
    for (const auto& a : venue_->broker().accounts()) {
      auto& object = account_of_[a.config.id];
      if (!object) {
        object = std::make_shared<Account>(weak, a.config);
      }
      accounts_->add(object);
    }
    const std::array<Variant, 3> args{Variant(constants().actAccountsReloaded), Variant(),
                                      Variant()};
    fire(cqg::CelEvent::OnAccountChanged, args);
  });
}

std::vector<automation::DispatchPtr> CQGCEL::positions_of(venue::AccountId account) const {
  std::vector<automation::DispatchPtr> out;
  for (const auto& [index, position] : position_of_) {
    if (position->account_id() == account) {
      out.push_back(position);
    }
  }
  return out;
}

}  // namespace orbrix::cqgsim
