#include "demo_run.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "demo_engine.hpp"
#include "demo_gateway.hpp"
#include "demo_link.hpp"
#include "orbrix/core/safe_call.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqgsim/simulator.hpp"
#include "orbrix/telegram/telegram_bot.hpp"

namespace orbrix::demo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using cqg::WriteLine;

constexpr auto kStep = 100ms;

void write_line(const std::string& line) {
  WriteLine(line);
}

void print_bars(const std::string& symbol, const std::vector<Bar>& bars) {
  const auto& last = bars.back();
  WriteLine(
      fmt::format("bars   {:<5} {:>3} one-minute bars {} .. {}  last O {:.2f} H {:.2f} L {:.2f} "
                  "C {:.2f} V {:.0f}",
                  symbol, bars.size(), to_text(bars.front().datetime), to_text(last.datetime),
                  last.open, last.high, last.low, last.close, last.volume));
}

// One quote line and one book line per symbol, at most once a second and
// only when it changed: read from the engine's maps, where each record is
// whole.
class MarketLines {
 public:
  explicit MarketLines(const DemoGateway& gateway) : gateway_(gateway) {}
  void print() {
    const auto now = Clock::now();
    if (now - last_ < 1s) {
      return;
    }
    last_ = now;
    for (const auto& s : gateway_.securities()) {
      if (const auto q = gateway_.cqg_quotes().find(s); q && q != quotes_[s.code()]) {
        quotes_[s.code()] = q;
        WriteLine(fmt::format("quote  {:<5} bid {:>10.2f}  ask {:>10.2f}  last {:>10.2f}  {}",
                              s.code(), q->bid_price(), q->ask_price(), q->last_price(),
                              to_text(truncate_to_seconds(q->datetime()))));
      }
      if (const auto b = gateway_.cqg_orderbooks().find(s); b && b != books_[s.code()]) {
        books_[s.code()] = b;
        WriteLine(fmt::format("book   {:<5} {:>10.2f} x {:<4} | {:>10.2f} x {:<4}", s.code(),
                              b->bid_price_1(), b->bid_volume_1(), b->ask_price_1(),
                              b->ask_volume_1()));
      }
    }
  }

 private:
  const DemoGateway& gateway_;
  Clock::time_point last_{};
  std::map<std::string, std::shared_ptr<const Quote>> quotes_;
  std::map<std::string, std::shared_ptr<const OrderBook>> books_;
};

// After the run, when no other thread writes: straight to standard output,
// so --quiet (which silences the gateway's lines) still shows it.
void print_final(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void print_account(cqg::BrokerLink& link, void (*out)(const std::string&)) {
  const auto b = link.account_balance();
  out(
      fmt::format("balance cash {:.2f}  available {:.2f}  net liquidating {:.2f}  margin {:.2f}  "
                  "realized {:.2f}  unrealized {:.2f}",
                  b.cash, b.available_cash, b.net_cash_power, b.maintenance_margin, b.realized_pnl,
                  b.unrealized_pnl));
  const auto positions = link.positions();
  if (positions.empty()) {
    out("position none open");
  }
  for (const auto& p : positions) {
    out(fmt::format("position {:<5} {:<5} {:>4} @ {:.2f}", p.security.code(), to_text(p.direction),
                    p.quantity, p.holding_price));
  }
}

// The demo's strategy: a few orders of each kind on the first symbol, one
// short on the second, some cancelled, all positions closed before the end.
class Strategy {
 public:
  Strategy(cqg::BrokerLink& link, DemoGateway& gateway, Clock::duration run_for)
      : link_(link), gateway_(gateway), run_for_(run_for) {}

  void step(Clock::duration elapsed) {
    const auto& securities = gateway_.securities();
    const auto book = gateway_.cqg_orderbooks().find(securities.front());
    if (!book || book->bid_price_1() <= 0 || book->ask_price_1() <= book->bid_price_1()) {
      return;  // nothing to price orders against yet
    }
    const double bid = book->bid_price_1();
    // Prices away from the market stay on the tick grid: whole spreads
    // (each a whole number of ticks) below the bid.
    const double spread = book->ask_price_1() - bid;
    const auto below = [&](double fraction) {
      return bid - std::max(1.0, std::round(bid * fraction / spread)) * spread;
    };
    if (stage_ == 0) {
      // A limit well below the market (it rests), a market order (it fills at
      // the touch) and a protective stop below (it waits for its trigger).
      resting_ =
          place(Order(securities.front(), OrderType::LIMIT, Direction::LONG, 1, below(0.01)));
      place(Order(securities.front(), OrderType::MARKET, Direction::LONG, 2));
      stop_ =
          place(Order(securities.front(), OrderType::STOP, Direction::SHORT, 1, 0, below(0.02)));
      stage_ = 1;
      started_ = elapsed;
    } else if (stage_ == 1 && elapsed - started_ > 5s) {
      cancel(resting_);
      if (securities.size() > 1) {
        place(Order(securities[1], OrderType::MARKET, Direction::SHORT, 1));
      }
      stage_ = 2;
    } else if (stage_ == 2 && elapsed > run_for_ - 4s) {
      cancel(stop_);
      close_all();
      stage_ = 3;
    }
  }

 private:
  std::string place(const Order& order) {
    try {
      const auto id = link_.place_order(order);
      gateway_.order_placed(id, order);
      WriteLine(fmt::format("place  {}  {} {} {} {}", id, to_text(order.order_type),
                            to_text(order.direction), order.quantity, order.security.code()));
      return id;
    } catch (const std::exception& e) {
      WriteLine(fmt::format("place  refused: {}", e.what()));
      return {};
    }
  }
  void cancel(const std::string& id) {
    if (id.empty()) {
      return;
    }
    try {
      link_.cancel_order(id);
      WriteLine(fmt::format("cancel {}", id));
    } catch (const std::exception& e) {
      WriteLine(fmt::format("cancel {} refused: {}", id, e.what()));
    }
  }
  void close_all() {
    try {
      link_.update_positions();
    } catch (const std::exception& e) {
      WriteLine(fmt::format("close  cannot read positions: {}", e.what()));
      return;
    }
    for (const auto& p : link_.positions()) {
      place(Order(p.security, OrderType::MARKET,
                  p.direction == Direction::LONG ? Direction::SHORT : Direction::LONG, p.quantity));
    }
  }

  cqg::BrokerLink& link_;
  DemoGateway& gateway_;
  Clock::duration run_for_;
  int stage_ = 0;
  Clock::duration started_{};
  std::string resting_, stop_;
};

}  // namespace

DemoSummary run_demo(const DemoOptions& options, const std::atomic<bool>& stop,
                     telegram::TelegramBot* bot) {
  auto& sim = cqgsim::default_controls();
  sim.set_seed(options.seed);
  if (options.history) {
    sim.replay_history(options.symbols.front(), *options.history);
  }

  cqg::ApiHost host;
  auto link = host.Init<DemoLink>(nullptr);
  if (host.errorHappened) {
    throw std::runtime_error("the vendor library reported an error at start-up");
  }
  DemoGateway gateway(options.symbols, !options.quiet);
  gateway.set_apiHost(&host);
  link->attach(gateway);
  link->Init(gateway);

  DemoSummary summary;
  const auto start = Clock::now();
  try {
    link->Logon("demo", "demo");
    link->subscribe_account_and_positions(options.account);
    for (const auto& s : options.symbols) {
      link->subscribe_quote(s);
      link->subscribe_orderbook(s);
      link->subscribe_bar(s, options.bar_lookback, "1Min");
    }
    if (!options.quiet) {
      print_account(*link, &write_line);
    }

    DemoEngine engine(*link, gateway);
    MarketLines market(gateway);
    Strategy strategy(*link, gateway, options.duration);
    std::vector<DateTime> last_bar(options.symbols.size());
    std::uint64_t deals_seen = 0;
    auto last_account = Clock::now();
    while (!stop.load() && Clock::now() - start < options.duration) {
      if (options.strategy) {
        strategy.step(Clock::now() - start);
      }
      if (!options.quiet) {
        market.print();
      }
      for (std::size_t i = 0; i < options.symbols.size(); ++i) {
        try {
          const auto bars = link->get_subscribe_bars_data(gateway.securities()[i]);
          if (bars && !bars->empty() && bars->back().datetime != last_bar[i]) {
            last_bar[i] = bars->back().datetime;
            if (!options.quiet) {
              print_bars(options.symbols[i], *bars);
            }
          }
        } catch (const std::exception& e) {
          WriteLine(fmt::format("bars   {:<5} {}", options.symbols[i], e.what()));
        }
      }
      const auto deals = gateway.counts().deals;
      if (deals != deals_seen && Clock::now() - last_account > 2s) {
        deals_seen = deals;
        last_account = Clock::now();
        link->update_account_balance();
        safe_call([&] { link->update_positions(); });
        if (!options.quiet) {
          print_account(*link, &write_line);
        }
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
    if (bot) {
      engine.stop(*bot);
    }

    link->update_account_balance();
    safe_call([&] { link->update_positions(); });
    for (const auto& s : options.symbols) {
      link->unsubscribe_bar(s);
      link->unsubscribe_orderbook(s);
      link->unsubscribe_quote(s);
    }
    link->unsubscribe_account_and_positions(options.account);
    link->Logoff();
  } catch (...) {
    host.Shutdown();
    throw;
  }
  host.Shutdown();

  print_account(*link, &print_final);
  const auto counts = gateway.counts();
  const auto latency = gateway.latency();
  summary.quotes = counts.quotes;
  summary.books = counts.books;
  summary.bars = counts.bars;
  summary.orders = counts.orders;
  summary.deals = counts.deals;
  summary.latency_median_us = latency.median_us;
  summary.latency_p99_us = latency.p99_us;
  print_final(
      fmt::format("summary {:.1f} s: quotes {}  books {}  bars {}  order updates {}  deals {}  "
                  "vendor event to hook: median {:.1f} us, p99 {:.1f} us ({} events)",
                  std::chrono::duration<double>(Clock::now() - start).count(), counts.quotes,
                  counts.books, counts.bars, counts.orders, counts.deals, latency.median_us,
                  latency.p99_us, latency.samples));
  return summary;
}

}  // namespace orbrix::demo
