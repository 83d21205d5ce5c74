// Memory and speed of the simulator over a long session, each through the
// gateway (BrokerLink over the simulator, on its manual clock) unless said:
//   BM_PlaceCancel        place+cancel pairs in four equal slices, once the
//                         finished orders kept are at their bound: the rate
//                         of the last slice against the first (a flat rate
//                         is 1), pairs per second
//   BM_FinishedOrderBytes heap bytes per finished order the simulator keeps
//                         for look-up, while it keeps every one
//   BM_TickBytes          heap bytes per tick a tick request keeps (the
//                         simulator's objects alone, Limit 100,000): as it
//                         fills, once it trims (its slots at their steady
//                         size), and gained per tick after that
//   BM_BarBytes           heap bytes per bar a timed-bars request keeps
//                         (the simulator's objects alone, 100,000 bars)
//   BM_SimulatedHours     12 instruments' quotes and order books for 2
//                         simulated hours after 1 of warm-up: heap bytes
//                         gained per simulated hour
// Long runs, printed as they go (not part of scripts/bench):
//   sim_memory_bench --place-cancel-seconds=N   place+cancel for N seconds,
//                    the rate, RSS and heap in use per 10-second slice
//   sim_memory_bench --simulated-hours=N        12 order books for N
//                    simulated hours, RSS and heap in use each hour
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "heap.hpp"
#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/automation/object.hpp"
#include "orbrix/automation/wait.hpp"
#include "orbrix/core/testing/recording_gateway.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/broker_link_constants.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqg/vendor_ids.hpp"
#include "orbrix/cqgsim/simulator.hpp"

namespace {

using namespace orbrix;
using namespace std::chrono_literals;
using automation::Object;
using Clock = std::chrono::steady_clock;

constexpr const char* kSymbols[] = {"EP",  "ENQ", "DD",  "TYA", "USA", "EU6",
                                    "JY6", "BP6", "GCE", "SIE", "CLE", "NGE"};

// Resident set size of this process, in bytes.
double rss_bytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * 4096.0;
}

double mb(double bytes) {
  return bytes / (1024.0 * 1024.0);
}

// The gateway over the simulator on its manual clock, logged on, with an
// account. `finished_kept` is the simulator's number of finished orders kept.
struct Session {
  explicit Session(std::size_t finished_kept = 10'000) {
    cqg::set_output_stream(devnull);
    sim.controls().set_config(
        {.seed = 1, .finished_orders_kept = finished_kept, .manual_clock = true});
    sim.controls().set_gateway(cqgsim::GatewayBehaviour::after(0ms));
    sim.controls().set_account_reload(cqgsim::AnswerBehaviour::after(0ms));
    link = host.Init<cqg::BrokerLink>(nullptr);
    gateway.set_apiHost(&host);
    link->Init(gateway);
    link->set_timeout(10s);
    link->set_account_reload_pause(1ms);
    link->Logon("user", "secret");
    host.cqgCEL.put("AccountSubscriptionLevel", cqg::vendor_constant("aslAccountUpdatesAndOrders"));
    link->eventAccountIsReady.wait_for(5s);
    const auto accounts = host.cqgCEL.object("Accounts").items();
    if (accounts.empty()) {
      throw std::runtime_error("the simulator listed no account");
    }
    link->subscribe_account_and_positions(Object(accounts[0]).get("GWAccountID").as_int());
  }
  ~Session() {
    host.Shutdown();
    cqg::set_output_stream(nullptr);
    std::fclose(devnull);
  }
  // Quotes and the order book of `symbol`, mapped to a security.
  Security subscribe(std::string_view symbol, bool book) {
    link->subscribe_quote(symbol);
    const std::string full =
        link->get_instrument_from_cqg_symbol(symbol).get("FullName").as_string();
    const Futures security(
        {.code = std::string(cqg::symbol_of_full_name(full)), .security_name = full});
    gateway.add_symbol(security.code(), security);
    gateway.cqg_quotes().add_key(security);
    gateway.cqg_orderbooks().add_key(security);
    if (book) {
      // Ticks name the symbol as requested; the recording gateway maps one
      // symbol per security, so the book has a security of its own.
      const Futures by_symbol({.code = std::string(symbol), .security_name = full});
      gateway.add_symbol(std::string(symbol), by_symbol);
      gateway.cqg_orderbooks().add_key(by_symbol);
      link->subscribe_orderbook(symbol);
    }
    return security;
  }
  // One limit order far below the market placed and cancelled. The engine's
  // record of the calls is emptied now and then: it is not the simulator's.
  void place_and_cancel(const Order& order) {
    link->cancel_order(link->place_order(order));
    if (++pairs % 1'000 == 0) {
      gateway.clear_calls();
    }
  }

  std::FILE* devnull = std::fopen("/dev/null", "w");
  cqgsim::ScopedSimulator sim;
  orbrix::testing::RecordingGateway gateway;
  cqg::ApiHost host;
  std::shared_ptr<cqg::BrokerLink> link;
  long pairs = 0;
};

// The simulator's objects alone, on this thread's apartment, started on its
// manual clock.
struct DirectSimulator {
  explicit DirectSimulator(std::chrono::milliseconds mean_interval = 300ms) {
    sim.controls().set_config({.mean_event_interval = mean_interval, .manual_clock = true});
    cel = Object(automation::create_object(cqg::kCqgProgId));
    cel.call("Startup");
    automation::pump_waiting_messages();
  }
  ~DirectSimulator() { cel.call("Shutdown"); }

  automation::ComScope com;
  cqgsim::ScopedSimulator sim;
  Object cel;
};

Order far_limit(const Security& security) {
  return Order(security, OrderType::LIMIT, Direction::LONG, 1, 1000.0);
}

void BM_PlaceCancel(benchmark::State& state) {
  const int per_slice = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Session s;
    const Order order = far_limit(s.subscribe("EP", false));
    // Past the finished orders kept, so the slices see the steady state.
    for (int i = 0; i < 12'000; ++i) {
      s.place_and_cancel(order);
    }
    std::vector<double> rates;
    for (int slice = 0; slice < 4; ++slice) {
      const auto t0 = Clock::now();
      for (int i = 0; i < per_slice; ++i) {
        s.place_and_cancel(order);
      }
      rates.push_back(per_slice / std::chrono::duration<double>(Clock::now() - t0).count());
    }
    state.counters["first_pairs_per_s"] = rates.front();
    state.counters["last_pairs_per_s"] = rates.back();
    state.counters["last_vs_first"] = rates.back() / rates.front();
  }
}
BENCHMARK(BM_PlaceCancel)->Arg(5'000)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

void BM_FinishedOrderBytes(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Session s(static_cast<std::size_t>(n) * 2);
    const Order order = far_limit(s.subscribe("EP", false));
    // Warm-up: the buffers and the allocator's arenas.
    for (int i = 0; i < 2'000; ++i) {
      s.place_and_cancel(order);
    }
    const double before = heap_bytes();
    for (int i = 0; i < n; ++i) {
      s.place_and_cancel(order);
    }
    state.counters["bytes_per_order"] = (heap_bytes() - before) / n;
  }
}
BENCHMARK(BM_FinishedOrderBytes)->Arg(50'000)->Iterations(1)->UseRealTime();

void BM_TickBytes(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  for (auto _ : state) {
    DirectSimulator direct(1ms);  // many ticks in little simulated time
    auto& sim = direct.sim;
    const Object& cel = direct.cel;
    const Object request(cel.call("CreateTicksRequest"));
    request.put("Symbol", "EP");
    request.put("Limit", n);
    const Object ticks(cel.call("RequestTicks", request.dispatch()));
    automation::pump_waiting_messages();
    sim.driver().advance(1s);  // warm-up
    const double count0 = static_cast<double>(ticks.get("Count").as_int());
    const double before = heap_bytes();
    while (ticks.get("Count").as_int() < n) {
      sim.driver().advance(10s);
    }
    const double kept = static_cast<double>(ticks.get("Count").as_int()) - count0;
    state.counters["bytes_per_tick"] = (heap_bytes() - before) / kept;
    // Past the window nothing more is kept, once the collection's slots have
    // grown to their steady size (twice the window: dropped ones are
    // reclaimed lazily).
    sim.driver().advance(200s);
    const double full = heap_bytes();
    state.counters["bytes_per_tick_steady"] = (full - before) / kept;
    sim.driver().advance(200s);
    state.counters["bytes_per_tick_past_the_window"] = (heap_bytes() - full) / kept;
  }
}
BENCHMARK(BM_TickBytes)->Arg(100'000)->Iterations(1)->UseRealTime();

void BM_BarBytes(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  for (auto _ : state) {
    DirectSimulator direct;
    const Object& cel = direct.cel;
    const auto request = [&](std::int64_t count) {
      const Object r(cel.call("CreateTimedBarsRequest"));
      r.put("Symbol", "EP");
      r.put("RangeStart", 0);
      r.put("RangeEnd", -count - 1);
      r.put("IntradayPeriod", cqg::vendor_constant("pfds1Min"));
      const Object bars(cel.call("RequestTimedBars", r.dispatch()));
      automation::pump_waiting_messages();
      return bars;
    };
    // The venue's synthesised history is made (and kept) by the first.
    const Object first = request(n);
    const double before = heap_bytes();
    const Object second = request(n);
    state.counters["bytes_per_bar"] =
        (heap_bytes() - before) / static_cast<double>(second.get("Count").as_int());
  }
}
BENCHMARK(BM_BarBytes)->Arg(100'000)->Iterations(1)->UseRealTime();

// 12 instruments' quotes and order books through the gateway; returns the
// RSS after each simulated hour, the first before any.
struct Usage {
  double rss;
  double heap;
};

std::vector<Usage> simulated_hours(int hours, bool print) {
  Session s;
  for (const char* symbol : kSymbols) {
    s.subscribe(symbol, true);
  }
  std::vector<Usage> usage{{rss_bytes(), heap_bytes()}};
  const auto t0 = Clock::now();
  for (int h = 1; h <= hours; ++h) {
    std::size_t books = 0;
    std::size_t quotes = 0;
    for (int step = 0; step < 60; ++step) {
      s.sim.driver().advance(1min);
      books += s.gateway.records<OrderBook>().size();
      quotes += s.gateway.records<Quote>().size();
      s.gateway.clear_calls();
    }
    usage.push_back({rss_bytes(), heap_bytes()});
    if (books == 0 || quotes == 0) {
      throw std::runtime_error("no order book or quote reached the engine");
    }
    if (print) {
      std::printf(
          "simulated hour %2d: RSS %7.2f MB, heap in use %7.2f MB, %zu order books and %zu quotes "
          "(wall %4.0f s)\n",
          h, mb(usage.back().rss), mb(usage.back().heap), books, quotes,
          std::chrono::duration<double>(Clock::now() - t0).count());
      std::fflush(stdout);
    }
  }
  return usage;
}

void BM_SimulatedHours(benchmark::State& state) {
  for (auto _ : state) {
    const auto usage = simulated_hours(3, false);
    // After one hour of warm-up.
    state.counters["bytes_per_simulated_hour"] = (usage[3].heap - usage[1].heap) / 2;
  }
}
BENCHMARK(BM_SimulatedHours)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

int place_cancel_run(int seconds) {
  Session s;
  const Order order = far_limit(s.subscribe("EP", false));
  std::printf("place+cancel through BrokerLink over the simulator for %d s\n", seconds);
  std::printf("RSS before: %.2f MB\n", mb(rss_bytes()));
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(seconds);
  long total = 0;
  int slice = 0;
  while (Clock::now() < end) {
    const auto slice_end = std::min(end, Clock::now() + 10s);
    const auto t0 = Clock::now();
    long pairs = 0;
    while (Clock::now() < slice_end) {
      s.place_and_cancel(order);
      ++pairs;
    }
    total += pairs;
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf(
        "slice %3d: %7.0f pairs/s, %8ld orders so far, RSS %7.2f MB, heap in use %7.2f MB\n",
        ++slice, static_cast<double>(pairs) / secs, total, mb(rss_bytes()), mb(heap_bytes()));
    std::fflush(stdout);
  }
  std::printf("RSS after: %.2f MB, %ld place+cancel pairs\n", mb(rss_bytes()), total);
  return 0;
}

int simulated_hours_run(int hours) {
  std::printf("12 instruments' quotes and order books through BrokerLink, %d simulated hours\n",
              hours);
  const auto usage = simulated_hours(hours, true);
  std::printf(
      "RSS before: %.2f MB, after the first hour: %.2f MB, after %d hours: %.2f MB; heap in use "
      "after the first hour: %.2f MB, after %d hours: %.2f MB\n",
      mb(usage.front().rss), mb(usage[1].rss), hours, mb(usage.back().rss), mb(usage[1].heap),
      hours, mb(usage.back().heap));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    for (const auto& [flag, run] :
         {std::pair{std::string_view("--place-cancel-seconds="), &place_cancel_run},
          std::pair{std::string_view("--simulated-hours="), &simulated_hours_run}}) {
      if (arg.starts_with(flag)) {
        const int n = std::atoi(argv[i] + flag.size());
        if (n <= 0 || n > 100'000) {
          std::fprintf(stderr, "%s needs a count from 1 to 100000\n", argv[i]);
          return 2;
        }
        return run(n);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
