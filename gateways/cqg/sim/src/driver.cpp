#include "orbrix/cqgsim/driver.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "objects/cqgcel.hpp"
#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/cqg/vendor_ids.hpp"
#include "venue/market/time_text.hpp"

namespace orbrix::cqgsim {

automation::DispatchPtr SimDriver::started_instance(std::string_view what) const {
  auto target = instance();
  auto* sim = target ? dynamic_cast<CQGCEL*>(target.get()) : nullptr;
  if (!sim || !target->apartment() || !target->apartment()->alive()) {
    throw std::logic_error(fmt::format("{}: no simulator instance is running", what));
  }
  return target;
}

void SimDriver::advance(std::chrono::nanoseconds by) {
  const auto target = started_instance("advance");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->session().advance_by(by); });
}

VenueTime SimDriver::step() {
  const auto target = started_instance("step");
  auto* sim = static_cast<CQGCEL*>(target.get());
  VenueTime now{};
  target->apartment()->call([&] { now = sim->session().step_to_next(); });
  return now;
}

int SimDriver::step_until(const std::function<bool()>& done, int max_steps) {
  const auto target = started_instance("step_until");
  auto* sim = static_cast<CQGCEL*>(target.get());
  int steps = 0;
  target->apartment()->call([&] {
    while (steps < max_steps) {
      const auto before = sim->session().venue().now();
      const auto after = sim->session().step_to_next();
      ++steps;
      if (done() || after == before) {
        return;  // done, or nothing is due any more
      }
    }
  });
  return steps;
}

namespace {

// A time the manual clock may be moved to: not back, not past its end.
void check_target(std::string_view what, VenueTime now, VenueTime t) {
  if (t < now || t > venue::kClockEnd) {
    throw std::invalid_argument(fmt::format(
        "{}: {} is not within now ({}) and the clock's end ({})", what, venue::format_timestamp(t),
        venue::format_timestamp(now), venue::format_timestamp(venue::kClockEnd)));
  }
}

}  // namespace

std::optional<VenueTime> SimDriver::next_scheduled() const {
  const auto target = started_instance("next_scheduled");
  auto* sim = static_cast<CQGCEL*>(target.get());
  std::optional<VenueTime> due;
  target->apartment()->call([&] { due = sim->session().venue().next_scheduled(); });
  return due;
}

std::optional<VenueTime> SimDriver::run_until(VenueTime t) {
  const auto target = started_instance("run_until");
  auto* sim = static_cast<CQGCEL*>(target.get());
  std::optional<VenueTime> due;
  target->apartment()->call([&] {
    auto& session = sim->session();
    const auto now = session.venue().now();
    check_target("run_until", now, t);
    session.advance_by(t - now);  // checks the manual clock
    due = session.venue().next_scheduled();
  });
  return due;
}

void SimDriver::jump_to(VenueTime t) {
  const auto target = started_instance("jump_to");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] {
    auto& session = sim->session();
    check_target("jump_to", session.venue().now(), t);
    session.advance_by(
        std::chrono::nanoseconds(0));  // checks the manual clock, fires what is due now
    session.venue().jump_to(t);
  });
}

std::size_t SimDriver::replayed_rows() const {
  const auto target = started_instance("replayed_rows");
  auto* sim = static_cast<CQGCEL*>(target.get());
  std::size_t rows = 0;
  target->apartment()->call([&] { rows = sim->session().venue().market().replayed_rows(); });
  return rows;
}

VenueTime SimDriver::now() const {
  const auto target = started_instance("now");
  auto* sim = static_cast<CQGCEL*>(target.get());
  VenueTime now{};
  target->apartment()->call([&] { now = sim->session().venue().now(); });
  return now;
}

std::function<VenueTime()> SimDriver::apartment_clock() const {
  const auto target = started_instance("apartment_clock");
  // Set once the session is made, never changed: read here without a hop.
  std::shared_ptr<Session::ClockView> view =
      static_cast<CQGCEL*>(target.get())->session().clock_view();
  return [view = std::move(view)] {
    if (std::this_thread::get_id() != view->thread) {
      throw std::logic_error("apartment_clock: read off the simulator's apartment");
    }
    const auto* clock = view->clock.load(std::memory_order_acquire);
    if (clock == nullptr) {
      throw std::logic_error("apartment_clock: the simulator is gone");
    }
    return clock->now();
  };
}

void SimDriver::set_decoded_sink(std::shared_ptr<cqg::decoded::Sink> sink) {
  const auto target = started_instance("set_decoded_sink");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->session().set_decoded_sink(std::move(sink)); });
}

void SimDriver::fire_quotes(std::string_view symbol, std::vector<QuoteSpec> quotes) {
  const auto target = started_instance("fire_quotes");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->quotes().fire_quotes(symbol, quotes); });
}

void SimDriver::fire_raw_quotes(std::string_view symbol, std::vector<RawQuote> quotes) {
  const auto target = started_instance("fire_raw_quotes");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->quotes().fire_raw_quotes(symbol, quotes); });
}

void SimDriver::drop_gateway() {
  const auto target = started_instance("drop_gateway");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->connection().set_gateway_dropped(true); });
}

void SimDriver::restore_gateway() {
  const auto target = started_instance("restore_gateway");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->connection().set_gateway_dropped(false); });
}

void SimDriver::drop_data() {
  const auto target = started_instance("drop_data");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->connection().set_data_dropped(true); });
}

void SimDriver::restore_data() {
  const auto target = started_instance("restore_data");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->connection().set_data_dropped(false); });
}

int SimDriver::startup_calls() const {
  MutexLock lock(mutex_);
  return startup_calls_;
}

void SimDriver::count_startup() {
  MutexLock lock(mutex_);
  ++startup_calls_;
}

automation::DispatchPtr SimDriver::instance() const {
  MutexLock lock(mutex_);
  return instances_.empty() ? nullptr : instances_.back().lock();
}

std::vector<automation::DispatchPtr> SimDriver::instances() const {
  MutexLock lock(mutex_);
  std::vector<automation::DispatchPtr> live;
  for (const auto& w : instances_) {
    if (auto p = w.lock()) {
      live.push_back(std::move(p));
    }
  }
  return live;
}

void SimDriver::attach(const automation::DispatchPtr& instance) {
  MutexLock lock(mutex_);
  std::erase_if(instances_, [](const auto& w) { return w.expired(); });
  instances_.push_back(instance);
}

bool SimDriver::inject(std::string_view event, std::vector<automation::Variant> args,
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

void SimDriver::set_order_listener(OrderListener listener) {
  MutexLock lock(mutex_);
  has_listener_.store(static_cast<bool>(listener), std::memory_order_release);
  listener_ = std::move(listener);
}

void SimDriver::report_order(const OrderReport& report) {
  OrderListener listener;
  {
    MutexLock lock(mutex_);
    listener = listener_;
  }
  if (listener) {
    listener(report);
  }
}

std::vector<BarReport> SimDriver::minute_bars(std::string_view symbol, std::size_t count) const {
  const auto target = started_instance("minute_bars");
  auto* sim = static_cast<CQGCEL*>(target.get());
  std::vector<BarReport> out;
  target->apartment()->call([&] {
    auto& venue = sim->session().venue();
    const auto id = venue.catalogue().resolve(symbol);
    if (!id) {
      throw std::invalid_argument(
          fmt::format("minute_bars: the simulator does not list {}", symbol));
    }
    const double tick = venue.broker().instrument(*id).tick_size;
    const auto series = venue.market().bars(*id, venue::BarPeriod::OneMinute, count);
    const auto add = [&](const venue::Bar& b) {
      out.push_back({.start = b.start,
                     .open = venue::to_price(b.open, tick),
                     .high = venue::to_price(b.high, tick),
                     .low = venue::to_price(b.low, tick),
                     .close = venue::to_price(b.close, tick),
                     .volume = b.volume});
    };
    for (const auto& b : series.completed) {
      add(b);
    }
    if (series.forming) {
      add(*series.forming);
    }
  });
  return out;
}

void SimDriver::close_out() {
  const auto target = started_instance("close_out");
  auto* sim = static_cast<CQGCEL*>(target.get());
  target->apartment()->call([&] { sim->close_out(); });
}

std::vector<BarRequestReport> SimDriver::bar_requests() const {
  const auto target = started_instance("bar_requests");
  auto* sim = static_cast<CQGCEL*>(target.get());
  std::vector<BarRequestReport> out;
  target->apartment()->call([&] {
    const auto& all = *sim->bars().all_timed_bars();
    for (std::size_t i = 0; i < all.size(); ++i) {
      const auto* bars = dynamic_cast<const TimedBars*>(all.at(i).get());
      if (bars == nullptr) {
        continue;
      }
      const auto& r = *bars->request();
      // RangeStart 0 and RangeEnd -(n + 1) ask for n completed bars.
      const auto span = r.range_start - r.range_end;
      out.push_back({.symbol = r.symbol,
                     .daily = r.historical_period.has_value(),
                     .look_back = span > 1 ? span - 1 : 0,
                     .sent = static_cast<std::int64_t>(bars->appended())});
    }
  });
  return out;
}

namespace {

// One name of an instrument named any way the catalogue resolves, read on
// the simulator's apartment.
std::string instrument_name(const automation::DispatchPtr& target, std::string_view symbol,
                            std::string venue::InstrumentSpec::*name) {
  auto* sim = static_cast<CQGCEL*>(target.get());
  std::string out;
  target->apartment()->call([&] {
    auto& venue = sim->session().venue();
    const auto id = venue.catalogue().resolve(symbol);
    if (!id) {
      throw std::invalid_argument(fmt::format("the simulator does not list {}", symbol));
    }
    out = venue.broker().instrument(*id).*name;
  });
  return out;
}

}  // namespace

std::string SimDriver::full_name(std::string_view symbol) const {
  return instrument_name(started_instance("full_name"), symbol, &venue::InstrumentSpec::full_name);
}

std::string SimDriver::short_symbol(std::string_view symbol) const {
  return instrument_name(started_instance("short_symbol"), symbol, &venue::InstrumentSpec::symbol);
}

AccountReport SimDriver::account_report() const {
  const auto target = started_instance("account_report");
  auto* sim = static_cast<CQGCEL*>(target.get());
  AccountReport out;
  target->apartment()->call([&] {
    auto& venue = sim->session().venue();
    const auto& broker = venue.broker();
    const auto account = broker.accounts().front().config.id;
    const auto summary = broker.summary(account);
    out.time = venue.now();
    out.currency = broker.accounts().front().config.currency;
    out.balance = summary.balance;
    out.net_liquidating_value = summary.net_liquidating_value;
    out.realized_pnl = summary.profit_loss;
    out.open_trade_equity = summary.upl;
    out.commissions = summary.commissions;
    for (const auto& p : broker.positions()) {
      if (p.account != account) {
        continue;
      }
      const auto& contract = broker.instrument(p.instrument);
      out.positions.push_back({.symbol = contract.full_name,
                               .quantity = p.quantity,
                               .average_price = p.average_price * contract.tick_size,
                               .realized_pnl = p.realized_pnl,
                               .commissions = p.commissions,
                               .open_trade_equity = broker.open_trade_equity(p),
                               .tick_size = contract.tick_size,
                               .tick_value = contract.tick_value});
    }
  });
  return out;
}

}  // namespace orbrix::cqgsim
