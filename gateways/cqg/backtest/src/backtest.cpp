#include "orbrix/backtest/backtest.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/common/durations.hpp"
#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/common/mutex.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqgsim/simulator.hpp"
#include "src/bar_look_back.hpp"
#include "src/gaps.hpp"
#include "src/progress_meter.hpp"
#include "src/run_results.hpp"
#include "src/trace_file.hpp"

namespace orbrix::backtest {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::nanoseconds kBacktestSpinLimit = std::chrono::milliseconds(2);

// What the venue tells of orders while the run goes (on the worker), read
// by the run's thread when it is over.
class OrderCollector {
 public:
  void add(const cqgsim::OrderReport& report) {
    MutexLock lock(mutex_);
    const auto [it, added] = index_.try_emplace(report.order_id, orders_.size());
    if (added) {
      orders_.push_back({.last = report, .placed = report.time});
    } else {
      orders_[it->second].last = report;
    }
    if (report.fill) {
      const auto& f = *report.fill;
      deals_.push_back({.deal_id = f.fill_id,
                        .order_id = report.order_id,
                        .symbol = report.symbol,
                        .buy = report.buy,
                        .quantity = f.quantity,
                        .price = f.price,
                        .commission = f.commission,
                        .time = report.time});
    }
  }
  std::vector<OrderResult> orders() const {
    MutexLock lock(mutex_);
    return orders_;
  }
  std::vector<Deal> deals() const {
    MutexLock lock(mutex_);
    return deals_;
  }

 private:
  mutable Mutex mutex_;
  std::vector<OrderResult> orders_ GUARDED_BY(mutex_);
  std::map<std::string, std::size_t, std::less<>> index_ GUARDED_BY(mutex_);
  std::vector<Deal> deals_ GUARDED_BY(mutex_);
};

void check(const BacktestOptions& options) {
  if (options.histories.empty() && (!options.start || !options.end)) {
    throw std::invalid_argument("a backtest needs a history, or a start and an end");
  }
  if (options.start && options.end && *options.end <= *options.start) {
    throw std::invalid_argument("the backtest's end must come after its start");
  }
  // Added to the simulated clock's nanoseconds: checked here, once.
  check_duration("BacktestOptions::equity_every", options.equity_every, 1ms,
                 cqg::kMaxEngineInterval);
  check_duration("BacktestOptions::progress_every", options.progress_every, 1ms,
                 cqg::kMaxEngineInterval);
}

// Records stamped with the simulated clock's time (read on the worker, where
// the events are handled), converted to local time as local_now converts
// the wall clock's.
class SimulatedRecordClock final : public cqg::RecordClock {
 public:
  explicit SimulatedRecordClock(std::function<cqgsim::VenueTime()> now) : now_(std::move(now)) {}
  DateTime now() override {
    return local_(std::chrono::time_point_cast<std::chrono::system_clock::duration>(now_()));
  }

 private:
  std::function<cqgsim::VenueTime()> now_;
  LocalTimeCache local_;  // the worker's only
};

EquityPoint equity_of(const cqgsim::AccountReport& a) {
  return {.time = a.time,
          .net_liquidating_value = a.net_liquidating_value,
          .balance = a.balance,
          .realized_pnl = a.realized_pnl - a.commissions,
          .open_trade_equity = a.open_trade_equity,
          .drawdown = 0};
}

}  // namespace

std::vector<std::string> history_symbols(const std::vector<cqgsim::HistorySource>& histories) {
  cqgsim::SimControls controls;
  controls.set_config({.histories = histories});
  std::vector<std::string> out;
  for (auto& s : controls.history_symbols()) {
    if (std::find(out.begin(), out.end(), s) == out.end()) {
      out.push_back(std::move(s));
    }
  }
  return out;
}

BacktestResult run_backtest(cqg::Engine& engine, const BacktestOptions& options) {
  check(options);
  const auto interval = engine.interval();
  check_duration("the engine's interval", interval, 1ms, cqg::kMaxEngineInterval);
  const auto wall_start = std::chrono::steady_clock::now();
  // Destroyed last: the host's and the simulator's last lines go there too.
  std::optional<TraceToFile> trace;
  if (!options.trace_log.empty()) {
    trace.emplace(options.trace_log);
  }
  ProgressMeter meter(options, wall_start);
  const auto say = [&](std::string_view line) {
    if (options.notice) {
      options.notice(line);
    } else {
      std::fprintf(stderr, "backtest: %.*s\n", static_cast<int>(line.size()), line.data());
    }
  };

  cqgsim::ScopedSimulator sim;
  sim.controls().set_config({.seed = options.seed,
                             .start_time = options.start,
                             .start_after_first_record = options.warm_up,
                             .fill_model = options.fill_model,
                             .order_latency = options.order_latency,
                             .manual_clock = true,
                             .histories = options.histories,
                             .history_only = !options.histories.empty()});
  // Every request is answered at once on the simulated clock.
  sim.controls().set_gateway(cqgsim::GatewayBehaviour::after(0ms));
  sim.controls().set_account_reload(cqgsim::AnswerBehaviour::after(0ms));
  const auto span = sim.controls().history_span();
  OrderCollector collector;
  sim.driver().set_order_listener([&](const cqgsim::OrderReport& r) { collector.add(r); });

  cqg::ApiHost host;
  auto link = host.Init<cqg::BrokerLink>(nullptr);
  if (host.errorHappened) {
    throw std::runtime_error("the simulator reported an error at start-up");
  }
  // The run's thread and the worker hand the clock back and forth once per
  // engine interval, each step a few hundred microseconds of work: waiting
  // for the other side with a spin instead of a sleep saves two wake-ups a
  // step, most of a run's time on a machine with a core for each. (The
  // spin adapts down where the other side does not answer within it.)
  automation::call_in_apartment(host.cqgCEL, [&](const automation::Object&) {
    automation::Apartment::current()->set_spin_limit(
        options.spin ? kBacktestSpinLimit : std::chrono::nanoseconds::zero());
  });
  BacktestResult result;
  try {
    auto& gateway = engine.gateway();
    gateway.set_apiHost(&host);
    link->Init(gateway);
    link->set_account_reload_pause(0ms);
    link->set_record_clock(std::make_shared<SimulatedRecordClock>(sim.driver().apartment_clock()));
    if (options.path == EventPath::direct) {
      sim.driver().set_decoded_sink(link->decoded_sink());
    }
    link->Logon("backtest", "backtest");
    link->subscribe_account_and_positions(options.account);
    if (options.with_simulator) {
      options.with_simulator(sim.driver());
    }

    auto& driver = sim.driver();
    result.start = driver.now();
    result.end = options.end ? std::chrono::time_point_cast<std::chrono::nanoseconds>(*options.end)
                             : std::chrono::floor<std::chrono::minutes>(span->second) + 1min;
    if (result.end <= result.start) {
      // Most often a short history under the default warm-up: say which.
      if (!options.start && !options.end && span) {
        throw std::invalid_argument(fmt::format(
            "the history ends at {} minutes after its first minute, before the run's start after a "
            "warm-up of {} minutes: give a shorter warm-up or a longer history",
            std::chrono::duration_cast<std::chrono::minutes>(
                result.end - std::chrono::floor<std::chrono::minutes>(span->first))
                .count(),
            options.warm_up.count()));
      }
      throw std::invalid_argument("the backtest's end must come after its start");
    }
    engine.start(*link);
    // Before the first timer: a bar window the history before the start
    // leaves empty is refused, one it fills in part is said.
    const auto listed = [&](std::string_view symbol) {
      try {
        driver.full_name(symbol);
        return true;
      } catch (const std::invalid_argument&) {
        return false;
      }
    };
    const auto into_history =
        span ? result.start - std::chrono::floor<std::chrono::minutes>(span->first)
             : std::chrono::nanoseconds::max();
    for (const auto& line :
         bar_warm_up_notices(driver.bar_requests(), result.start, into_history, listed)) {
      say(line);
    }

    double peak = 0;
    auto next_sample = result.start;
    const auto sample = [&] {
      const auto account = driver.account_report();
      add_symbol_pnl(result.symbol_pnl, account);
      auto point = equity_of(account);
      peak = result.equity.empty() ? point.net_liquidating_value
                                   : std::max(peak, point.net_liquidating_value);
      point.drawdown = peak - point.net_liquidating_value;
      result.max_drawdown = std::max(result.max_drawdown, point.drawdown);
      result.equity.push_back(point);
    };
    // Gaps are jumped over recorded history only: without one, the random
    // walks are the market.
    const bool jumps = !options.histories.empty();
    auto due = driver.next_scheduled();
    for (auto now = result.start; now < result.end;) {
      if (jumps && gap_to_jump(now, due, result.start, result.end, interval)) {
        // What the engine did at its last timer (an order in transit, say)
        // may be due meanwhile: asked again only when a gap is in sight.
        due = driver.next_scheduled();
        if (const auto jump = gap_to_jump(now, due, result.start, result.end, interval)) {
          say(gap_notice(now, due, result.end, *jump));
          driver.jump_to(jump->to);
          now = jump->to;
          next_sample = next_on_grid(jump->resume, result.start, options.equity_every);
        }
      }
      const auto next = std::min<cqgsim::VenueTime>(now + interval, result.end);
      due = driver.run_until(next);
      now = next;
      engine.on_timer(*link, std::chrono::time_point_cast<TimePoint::duration>(now));
      if (now >= next_sample) {
        sample();
        next_sample =
            next_on_grid(now + std::chrono::nanoseconds(1), result.start, options.equity_every);
      }
      if (meter.due()) {
        meter.tell(result.start, result.end, now, [&] { return driver.replayed_rows(); });
      }
    }
    result.history_rows = driver.replayed_rows();
    meter.tell(result.start, result.end, result.end, [&] { return result.history_rows; });
    engine.stop(*link);
    // What the engine's stop set off (closing orders) is worked on the
    // history's next minute, when it goes on.
    driver.advance(1min);
    if (options.close_at_end) {
      driver.close_out();
    }
    sample();
    result.account = driver.account_report();
    result.orders = collector.orders();
    result.deals = collector.deals();
    result.symbols = symbol_results(result, driver, sim.controls().history_symbols());
    result.round_trips = 0;
    for (const auto& s : result.symbols) {
      result.round_trips += s.round_trips;
    }
    link->Logoff();
  } catch (const ForcedUnwind&) {
    throw;
  } catch (...) {
    host.Shutdown();
    throw;
  }
  host.Shutdown();
  result.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  return result;
}

}  // namespace orbrix::backtest
