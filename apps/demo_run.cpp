#include "demo_run.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "bot_request_server.hpp"
#include "close_out.hpp"
#include "demo_gateway.hpp"
#include "demo_link.hpp"
#include "demo_strategy.hpp"
#include "display_time.hpp"
#include "gateway_dropper.hpp"
#include "orbrix/core/safe_call.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqgsim/simulator.hpp"
#include "orbrix/telegram/telegram_bot.hpp"
#include "recorder.hpp"

namespace orbrix::demo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kStep = 100ms;
// How often the balance is sampled for --record's P&L over time.
constexpr auto kBalanceSampleEvery = 1s;

double seconds_of(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void print_bars(const Console& console, const std::string& symbol, const std::vector<Bar>& bars) {
  const auto& last = bars.back();
  console.market(fmt::format(
      "bars   {:<5} {:>3} one-minute bars {} .. {}  last O {:.2f} H {:.2f} L {:.2f} C {:.2f} "
      "V {:.0f}",
      symbol, bars.size(), local_text(utc_of_vendor(bars.front().datetime)),
      local_text(utc_of_vendor(last.datetime)), last.open, last.high, last.low, last.close,
      last.volume));
}

// One quote line and one book line per symbol, at most once a second and
// only when it changed: read from the engine's maps, where each record is
// whole.
class MarketLines {
 public:
  MarketLines(const DemoGateway& gateway, const Console& console)
      : gateway_(gateway), console_(console) {}
  void print() {
    const auto now = Clock::now();
    if (console_.level() != OutputLevel::everything || now - last_ < 1s) {
      return;
    }
    last_ = now;
    for (const auto& s : gateway_.securities()) {
      if (const auto q = gateway_.cqg_quotes().find(s); q && q != quotes_[s.code()]) {
        quotes_[s.code()] = q;
        console_.market(fmt::format("quote  {:<5} bid {:>10.2f}  ask {:>10.2f}  last {:>10.2f}  {}",
                                    s.code(), q->bid_price(), q->ask_price(), q->last_price(),
                                    local_text(utc_of_local(q->datetime()))));
      }
      if (const auto b = gateway_.cqg_orderbooks().find(s); b && b != books_[s.code()]) {
        books_[s.code()] = b;
        console_.market(fmt::format("book   {:<5} {:>10.2f} x {:<4} | {:>10.2f} x {:<4}", s.code(),
                                    b->bid_price_1(), b->bid_volume_1(), b->ask_price_1(),
                                    b->ask_volume_1()));
      }
    }
  }

 private:
  const DemoGateway& gateway_;
  const Console& console_;
  Clock::time_point last_{};
  std::map<std::string, std::shared_ptr<const Quote>> quotes_;
  std::map<std::string, std::shared_ptr<const OrderBook>> books_;
};

void print_account(const cqg::BrokerLink& link, const Console& console) {
  const auto b = link.account_balance();
  console.event(
      fmt::format("balance cash {:.2f}  available {:.2f}  net liquidating {:.2f}  margin {:.2f}  "
                  "realized {:.2f}  unrealized {:.2f}",
                  b.cash, b.available_cash, b.net_cash_power, b.maintenance_margin, b.realized_pnl,
                  b.unrealized_pnl));
  const auto positions = link.positions();
  if (positions.empty()) {
    console.event("position none open");
  }
  for (const auto& p : positions) {
    console.event(fmt::format("position {:<5} {:<5} {:>4} @ {:.2f}", p.security.code(),
                              to_text(p.direction), p.quantity, p.holding_price));
  }
}

// --record: what the run saw, on the engine's thread.
class RunRecord {
 public:
  explicit RunRecord(const DemoOptions& options) : on_(options.record.has_value()) {
    for (const auto& s : options.symbols) {
      recorder_.add_symbol(s);
    }
  }
  bool on() const { return on_; }
  void balance(const AccountBalance& b) {
    if (on_) {
      recorder_.add_balance({.time = utc_now(), .balance = b});
    }
  }
  void bars(const std::string& symbol, const std::vector<Bar>& window) {
    if (!on_) {
      return;
    }
    for (const auto& b : window) {
      recorder_.add_bar({.symbol = symbol,
                         .start = utc_of_vendor(b.datetime),
                         .open = b.open,
                         .high = b.high,
                         .low = b.low,
                         .close = b.close,
                         .volume = b.volume});
    }
  }
  // Orders and deals, then the files. Throws what the recorder throws.
  std::vector<std::filesystem::path> write(const std::string& dir, const DemoGateway& gateway) {
    std::map<std::string, const Order*> by_id;
    const auto records = gateway.order_records();
    for (const auto& r : records) {
      by_id.emplace(r.order.order_id, &r.order);
      const auto& o = r.order;
      recorder_.add_order(
          {.order_id = o.order_id,
           .symbol = o.security.code(),
           .type = o.order_type,
           .direction = o.direction,
           .quantity = o.quantity,
           .price = o.price,
           .stop_price = o.stop_price,
           .status = o.status,
           .filled_quantity = r.filled_quantity,
           .average_fill_price = r.average_fill_price,
           .placed = r.placed,
           .updated = r.updated ? std::optional(utc_of_vendor(*r.updated)) : std::nullopt});
    }
    for (const auto& d : gateway.deals()) {
      const auto it = by_id.find(d.order_id);
      if (it == by_id.end()) {
        continue;  // not an order of this engine: no symbol or side to file it under
      }
      recorder_.add_deal({.deal_id = d.deal_id,
                          .order_id = d.order_id,
                          .symbol = it->second->security.code(),
                          .direction = it->second->direction,
                          .quantity = d.filled_quantity,
                          .price = d.filled_avg_price,
                          .time = utc_of_vendor(d.updated_time)});
    }
    auto files = recorder_.write_csv(dir);
    for (auto& chart : recorder_.draw_charts(dir)) {
      files.push_back(std::move(chart));
    }
    return files;
  }

 private:
  const bool on_;
  report::Recorder recorder_;
};

std::string ended_by(bool operator_stop, bool interrupted) {
  return operator_stop ? "the operator's /stop" : interrupted ? "Ctrl-C" : "the clock";
}

}  // namespace

DemoSummary run_demo(const DemoOptions& options, const std::atomic<bool>& stop,
                     telegram::TelegramBot* bot, std::FILE* out) {
  const Console console(out, options.output);
  // Before the host, so it outlives every thread that traces.
  const TracedLines traced(options.output);
  if (options.record) {
    // Before the run, not after it: a missing program or folder is told at once.
    report::require_gnuplot();
    std::error_code ec;
    std::filesystem::create_directories(*options.record, ec);
    if (ec) {
      throw std::runtime_error(
          fmt::format("--record: cannot make {}: {}", *options.record, ec.message()));
    }
  }
  // The run's own simulator: its seed, histories and drops end with it.
  cqgsim::ScopedSimulator sim;
  cqgsim::SimConfig config{.seed = options.seed};
  sim.controls().set_config(config);
  // One history at a time, so a refusal names the option that gave it.
  for (const auto& h : options.histories) {
    config.histories.push_back({h.symbol, h.path});
    try {
      sim.controls().set_config(config);
    } catch (const std::exception& e) {
      throw std::runtime_error(fmt::format("--history {}={}: {}", h.symbol, h.path, e.what()));
    }
  }

  console.event(fmt::format("demo   seed {}, {} s, symbols {}, account {}; {}", options.seed,
                            std::chrono::duration<double>(options.duration).count(),
                            fmt::join(options.symbols, " "), options.account, zone_note()));
  if (!options.histories.empty()) {
    console.event(
        "demo   the venue replays a recording: its order, deal and bar times are the "
        "recording's, its quotes arrive on this machine's clock");
  }

  cqg::ApiHost host;
  auto link = host.Init<DemoLink>(nullptr);
  if (host.errorHappened) {
    throw std::runtime_error("the vendor library reported an error at start-up");
  }
  DemoGateway gateway(options.symbols, console);
  gateway.set_apiHost(&host);
  link->attach(gateway);
  link->Init(gateway);
  link->set_account_reload_pause(options.account_reload_pause);
  // A log-on attempt that gets no up report within 2 s is followed by the
  // next (the simulator answers at once when it is up).
  link->enable_recovery({.logon_wait = std::chrono::seconds(2)});
  gateway.expect_recovery();
  link->set_risk_limits(options.risk);

  DemoSummary summary;
  RunRecord record(options);
  const auto start = Clock::now();
  Clock::time_point close_out_start{};
  try {
    link->Logon("demo", "demo");
    link->subscribe_account_and_positions(options.account);
    for (const auto& s : options.symbols) {
      link->subscribe_quote(s);
      for (const auto& f : gateway.failures()) {
        if (f.kind == SubscriptionFailure::Kind::quote && f.symbol == s) {
          throw std::runtime_error(
              fmt::format("--symbols: the simulator cannot resolve {} ({}); the symbols it lists "
                          "are {}",
                          s, f.error, kSimulatedSymbols));
        }
      }
    }
    for (const auto& s : options.symbols) {
      link->subscribe_orderbook(s);
      link->subscribe_bar(s, options.bar_lookback, "1Min");
    }
    print_account(*link, console);

    BotRequestServer engine(*link, gateway);
    MarketLines market(gateway, console);
    DemoStrategy strategy(*link, gateway, console);
    GatewayDropper dropper(sim.driver(), options.drop_gateway, gateway, console);
    std::vector<DateTime> last_bar(options.symbols.size());
    std::uint64_t deals_seen = 0;
    auto last_account = Clock::now();
    auto last_sample = Clock::time_point{};
    const auto read_bars = [&] {
      for (std::size_t i = 0; i < options.symbols.size(); ++i) {
        try {
          const auto bars = link->get_subscribe_bars_data(gateway.securities()[i]);
          if (bars && !bars->empty() && bars->back().datetime != last_bar[i]) {
            last_bar[i] = bars->back().datetime;
            print_bars(console, options.symbols[i], *bars);
            record.bars(options.symbols[i], *bars);
          }
        } catch (const std::exception& e) {
          console.event(fmt::format("bars   {:<5} {}", options.symbols[i], e.what()));
        }
      }
    };
    while (!stop.load() && Clock::now() - start < options.duration) {
      const auto elapsed = Clock::now() - start;
      dropper.poll(elapsed);
      if (options.strategy) {
        strategy.step(elapsed);
      }
      market.print();
      read_bars();
      const auto deals = gateway.counts().deals;
      if (gateway.session_ready() && deals != deals_seen && Clock::now() - last_account > 2s) {
        deals_seen = deals;
        last_account = Clock::now();
        link->update_account_balance();
        safe_call([&] { link->update_positions(); });
        print_account(*link, console);
      }
      if (record.on() && gateway.session_ready() &&
          Clock::now() - last_sample >= kBalanceSampleEvery) {
        last_sample = Clock::now();
        link->update_account_balance();
        record.balance(link->account_balance());
      }
      if (bot) {
        engine.serve_requests(*bot);
        if (bot->orbrix_status() == "Terminated") {
          summary.stopped_by_operator = true;
          break;
        }
      }
      std::this_thread::sleep_for(kStep);
    }
    summary.ended_by = ended_by(summary.stopped_by_operator, stop.load());
    if (bot) {
      engine.stop(*bot);
    }

    // Close out: bounded, and longer by what remains of a drop.
    close_out_start = Clock::now();
    const auto deadline =
        close_out_start + dropper.still_down_for(close_out_start - start) + options.close_out_bound;
    console.event("close  cancelling working orders and closing open positions");
    summary.close_out = close_out(
        *link, gateway,
        [&] {
          std::this_thread::sleep_for(kStep);
          dropper.poll(Clock::now() - start);
          return Clock::now() < deadline;
        },
        [&](const std::string& line) { console.event(line); });
    dropper.restore();  // the log-off wants the connection
    summary.close_out_seconds = seconds_of(Clock::now() - close_out_start);

    if (gateway.session_ready()) {
      link->update_account_balance();
      record.balance(link->account_balance());
    }
    summary.account = link->account_balance();
    read_bars();
    for (const auto& s : options.symbols) {
      link->unsubscribe_bar(s);
      link->unsubscribe_orderbook(s);
      link->unsubscribe_quote(s);
    }
    safe_call([&] { link->unsubscribe_account_and_positions(options.account); });
    link->Logoff();
  } catch (...) {
    host.Shutdown();
    throw;
  }
  host.Shutdown();

  summary.run_seconds = seconds_of(Clock::now() - start);
  print_account(*link, console);
  const auto counts = gateway.counts();
  const auto latency = gateway.latency();
  summary.quotes = counts.quotes;
  summary.books = counts.books;
  summary.bars = counts.bars;
  summary.orders = counts.orders;
  summary.deals = counts.deals;
  summary.latency_median_us = latency.median_us;
  summary.latency_p99_us = latency.p99_us;
  summary.latency_samples = latency.samples;
  summary.connection = gateway.connection_events();
  summary.drop = options.drop_gateway;
  summary.recovery = gateway.recovery_times();
  summarise_trading(gateway, summary);
  for (const auto& line : summary_lines(summary)) {
    console.summary(line);
  }
  if (options.record) {
    const auto files = record.write(*options.record, gateway);
    std::string names;
    for (const auto& f : files) {
      names += " " + f.filename().string();
    }
    console.summary(fmt::format("summary recorded in {}:{}", *options.record, names));
  }
  return summary;
}

}  // namespace orbrix::demo
