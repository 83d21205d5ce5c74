// A backtest at machine speed, on each path of the events to BrokerLink
// (0: direct, the simulator's decoded events; 1: vendor, its objects read
// member by member): a generated history of twelve symbols (the
// simulator's catalogue, quotes and trades interleaved) replayed through
// the API host and BrokerLink, with the demo's strategy trading and
// subscribed to the quotes, order books and one-minute bars of all twelve.
// Reports, per path (medians of the runs):
//   rows_per_s          history rows per wall second, end to end
//   worker_us_per_row   worker CPU per row (the process's CPU less the run's
//                       own thread, which only steps the clock)
//   allocs_per_row      allocations per row on the worker from the engine's
//                       start on (the steady state: subscriptions included,
//                       the history's reading before the run not)
//   process_allocs_per_row  every allocation of the run, per row
//   peak_rss_mb         the process's peak resident memory during the run
//   floor_us_per_row    the same record work and hooks done directly: per
//                       quote and order-book record the run handed the
//                       engine, its record built from the stored one, stored
//                       and passed to the demo's hook; in batches before and
//                       after each run, timed in the thread's CPU time as
//                       the worker is (a loaded machine's waits count in
//                       neither)
//   ratio               worker_us_per_row / floor_us_per_row
// Goals (direct path): 1,000,000 rows per second end to end on one idle
// core; ratio <= 2.5; allocations per row <= 0.05.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "console.hpp"
#include "demo_backtest_engine.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/backtest/backtest.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqgsim/registration.hpp"
#include "orbrix/cqgsim/synthetic_history.hpp"
#include "record_pool.hpp"

namespace {

std::atomic<std::uint64_t> g_allocs{0};
std::atomic<std::uint64_t> g_worker_allocs{0};
thread_local bool t_worker = false;

void* counted(std::size_t n) {
  g_allocs.fetch_add(1, std::memory_order_relaxed);
  if (t_worker) {
    g_worker_allocs.fetch_add(1, std::memory_order_relaxed);
  }
  if (void* p = std::malloc(n == 0 ? 1 : n)) {
    return p;
  }
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) {
  return counted(n);
}
void* operator new[](std::size_t n) {
  return counted(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return counted(n);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using namespace orbrix;
using namespace std::chrono_literals;

const std::vector<std::string> kSymbols{"EP",  "ENQ", "DD",  "TYA", "USA", "EU6",
                                        "JY6", "BP6", "GCE", "SIE", "CLE", "NGE"};

// The demo's strategy; its start first marks the worker, whose allocations
// count from then on.
class Measured final : public cqg::Engine {
 public:
  explicit Measured(const demo::Console& console) : inner(kSymbols, console) {}
  BaseGateway& gateway() override { return inner.gateway(); }
  std::chrono::milliseconds interval() const override { return inner.interval(); }
  void start(cqg::BrokerLink& link) override {
    automation::call_in_apartment(link.apiHost()->cqgCEL,
                                  [](const automation::Object&) { t_worker = true; });
    inner.start(link);
  }
  void on_timer(cqg::BrokerLink& link, TimePoint now) override { inner.on_timer(link, now); }
  void stop(cqg::BrokerLink& link) override { inner.stop(link); }
  demo::DemoStrategyEngine inner;
};

// The calling thread's CPU time.
std::chrono::nanoseconds thread_cpu() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

double cpu_seconds(int who) {
  rusage u{};
  ::getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Resets the process's peak resident memory to what it holds now.
void reset_peak_rss() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

double peak_rss_mb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) {
      return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
  }
  return 0;
}

// The direct record work: nanoseconds per quote record and per order-book
// record, each built from the stored one with one change in a block of the
// gateway's record cache, stored and passed to the demo's hook, the twelve
// securities in turn, through their slots in the maps (no key hashed).
struct Floor {
  double quote_ns = 0;
  double book_ns = 0;
};
Floor floor_ns(const demo::Console& console, std::size_t n) {
  demo::DemoGateway g(kSymbols, console);
  std::vector<Security> securities;
  for (const auto& s : kSymbols) {
    securities.push_back(*g.get_eng_security_from_cqg_symbol(s));
    g.cqg_quotes().store(securities.back(),
                         Quote(securities.back(), securities.back().exchange(), local_now()));
    g.cqg_orderbooks().store(
        securities.back(), OrderBook(securities.back(), securities.back().exchange(), local_now()));
  }
  std::vector<BaseGateway::QuoteMap::Slot> quotes;
  std::vector<BaseGateway::OrderBookMap::Slot> books;
  for (const auto& s : securities) {
    quotes.push_back(g.cqg_quotes().slot(s));
    books.push_back(g.cqg_orderbooks().slot(s));
  }
  const DateTime now = local_now();
  Floor f;
  auto t0 = thread_cpu();
  for (std::size_t i = 0; i < n; ++i) {
    auto& slot = quotes[i % quotes.size()];
    const auto stored = g.cqg_quotes().get(slot);
    const auto record = cqg::detail::make_record<Quote>(
        stored->with({.bid_price = 4000.5 + static_cast<double>(i & 1), .datetime = now}));
    g.cqg_quotes().store(slot, record);
    g.process_quote(*record);
  }
  f.quote_ns =
      std::chrono::duration<double, std::nano>(thread_cpu() - t0).count() / static_cast<double>(n);
  t0 = thread_cpu();
  for (std::size_t i = 0; i < n; ++i) {
    auto& slot = books[i % books.size()];
    const auto stored = g.cqg_orderbooks().get(slot);
    const auto record = cqg::detail::make_record<OrderBook>(stored->with(
        {.bid_price_1 = 4000.5 + static_cast<double>(i & 1), .bid_volume_1 = 3, .datetime = now}));
    g.cqg_orderbooks().store(slot, record);
    g.process_orderbook(*record);
  }
  f.book_ns =
      std::chrono::duration<double, std::nano>(thread_cpu() - t0).count() / static_cast<double>(n);
  return f;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Args: path (0 direct, 1 vendor), hours of history.
void BM_Backtest(benchmark::State& state) {
  const auto path = state.range(0) == 0 ? backtest::EventPath::direct : backtest::EventPath::vendor;
  cqgsim::register_simulator();  // its type library names the vendor's constants
  std::FILE* null = std::fopen("/dev/null", "w");
  cqg::set_output_stream(null);
  const demo::Console console(null, demo::OutputLevel::summary);
  const auto file = std::filesystem::temp_directory_path() / "orbrix_backtest_bench.csv";
  const auto day = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7};
  const auto rows =
      cqgsim::write_synthetic_history(file, {.symbols = kSymbols,
                                             .from = day,
                                             .to = day + std::chrono::hours(state.range(1)),
                                             .mean_interval = 250ms,
                                             .seed = 5});
  std::vector<double> rates, per_row, allocs, process_allocs, rss, floors, ratios, hooks;
  for (auto _ : state) {
    Measured engine(console);
    const Floor before = floor_ns(console, 100'000);
    reset_peak_rss();
    const auto worker0 = g_worker_allocs.load();
    const auto allocs0 = g_allocs.load();
    const double cpu0 = cpu_seconds(RUSAGE_SELF);
    const double own0 = cpu_seconds(RUSAGE_THREAD);
    const auto r = backtest::run_backtest(
        engine, {.histories = {{"", file.string()}},
                 .warm_up = 10min,
                 .path = path,
                 .notice = [](std::string_view) {}});  // the short warm-up is meant
    const double worker_cpu =
        (cpu_seconds(RUSAGE_SELF) - cpu0) - (cpu_seconds(RUSAGE_THREAD) - own0);
    const double n = static_cast<double>(r.history_rows);
    process_allocs.push_back(static_cast<double>(g_allocs.load() - allocs0) / n);
    allocs.push_back(static_cast<double>(g_worker_allocs.load() - worker0) / n);
    rss.push_back(peak_rss_mb());
    const Floor after = floor_ns(console, 100'000);
    const auto counts = engine.inner.demo_gateway().counts();
    const double quote_ns = (before.quote_ns + after.quote_ns) / 2;
    const double book_ns = (before.book_ns + after.book_ns) / 2;
    const double floor_us = (static_cast<double>(counts.quotes) * quote_ns +
                             static_cast<double>(counts.books) * book_ns) /
                            1000 / n;
    rates.push_back(n / r.wall_seconds);
    per_row.push_back(worker_cpu * 1e6 / n);
    floors.push_back(floor_us);
    ratios.push_back(per_row.back() / floor_us);
    hooks.push_back(static_cast<double>(counts.quotes + counts.books) / n);
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["rows_per_s"] = median(rates);
  state.counters["worker_us_per_row"] = median(per_row);
  state.counters["allocs_per_row"] = median(allocs);
  state.counters["process_allocs_per_row"] = median(process_allocs);
  state.counters["peak_rss_mb"] = median(rss);
  state.counters["floor_us_per_row"] = median(floors);
  state.counters["ratio"] = median(ratios);
  state.counters["hooks_per_row"] = median(hooks);
  std::filesystem::remove(file);
  cqg::set_output_stream(stdout);
  std::fclose(null);
}
BENCHMARK(BM_Backtest)
    ->Args({0, 6})
    ->Args({1, 6})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
