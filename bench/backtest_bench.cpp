// A backtest at machine speed: a generated history of twelve symbols (the
// simulator's catalogue, quotes and trades interleaved) replayed through the
// API host, BrokerLink and an engine subscribed to quotes, order books and
// one-minute bars of all twelve. Reports, per run:
//   rows_per_s        history rows per wall second, end to end
//   worker_us_per_row worker CPU per row (the process's CPU less the run's
//                     own thread, which only steps the clock)
//   worker_us_per_hook  the same per engine hook (quote and book hooks)
//   direct_us_per_hook  the record work of one quote hook done directly in
//                     C++ (look up the security, build and store the quote,
//                     call the hook), in batches before and after each run
//   ratio             worker_us_per_hook / direct_us_per_hook
// Goals: 1,000,000 rows per second on one core; ratio <= 2.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "orbrix/backtest/backtest.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/broker_link_constants.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqgsim/registration.hpp"
#include "orbrix/cqgsim/synthetic_history.hpp"

namespace {

using namespace orbrix;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::vector<std::string> kSymbols{"EP",  "ENQ", "DD",  "TYA", "USA", "EU6",
                                        "JY6", "BP6", "GCE", "SIE", "CLE", "NGE"};

// Counts the hooks; the symbol table of the twelve.
class CountingGateway final : public BaseGateway {
 public:
  CountingGateway() {
    for (const auto& s : kSymbols) {
      securities_.push_back(Futures(s, s + " front month"));
      cqg_quotes().add_key(securities_.back());
      cqg_orderbooks().add_key(securities_.back());
    }
  }
  std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view symbol) override {
    const auto dot = symbol.rfind('.');
    if (dot != std::string_view::npos) {
      symbol.remove_prefix(dot + 1);
    }
    for (const auto& s : securities_) {
      const auto& code = s.code();
      if (symbol == code || (symbol.size() == code.size() + 3 && symbol.starts_with(code))) {
        return s;
      }
    }
    return std::nullopt;
  }
  std::string get_cqg_symbol_from_eng_security(const Security& security) override {
    return security.code();
  }
  void process_quote(const Quote&) override { hooks.fetch_add(1, std::memory_order_relaxed); }
  void process_orderbook(const OrderBook&) override {
    hooks.fetch_add(1, std::memory_order_relaxed);
  }
  void process_order(const OrderUpdate&) override {}
  void process_deal(const Deal&) override {}

  std::vector<Security> securities_;
  std::atomic<std::uint64_t> hooks{0};
};

class Subscriber final : public cqg::Engine {
 public:
  BaseGateway& gateway() override { return gateway_; }
  std::chrono::milliseconds interval() const override { return 10s; }
  void start(cqg::BrokerLink& link) override {
    for (const auto& s : kSymbols) {
      link.subscribe_quote(s);
      link.subscribe_orderbook(s);
      link.subscribe_bar(s, 30, "1Min");
    }
  }
  void on_timer(cqg::BrokerLink&, TimePoint) override {}
  CountingGateway gateway_;
};

double cpu_seconds(int who) {
  rusage u{};
  ::getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The record work of one quote hook, directly: microseconds per hook.
double direct_us_per_hook(CountingGateway& g, std::size_t n) {
  const auto& security = g.securities_.front();
  g.cqg_quotes().store(security,
                       std::make_shared<const Quote>(Quote(security, std::nullopt, local_now())));
  const std::int64_t bid = cqg::vendor_constant("qtBid");
  const auto t0 = Clock::now();
  for (std::size_t i = 0; i < n; ++i) {
    const auto found = g.get_eng_security_from_cqg_symbol("F.US.EPZ26");
    benchmark::DoNotOptimize(cqg::QuoteType2String(bid));
    const auto stored = g.cqg_quotes().get(*found);
    auto record = std::make_shared<const Quote>(
        stored->with({.bid_price = 4000.5 + static_cast<double>(i & 1), .datetime = local_now()}));
    g.cqg_quotes().store(*found, record);
    g.process_quote(*record);
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() /
         static_cast<double>(n);
}

void BM_Backtest(benchmark::State& state) {
  cqgsim::register_simulator();  // its type library names the vendor's constants
  std::FILE* null = std::fopen("/dev/null", "w");
  cqg::set_output_stream(null);
  const auto file = std::filesystem::temp_directory_path() / "orbrix_backtest_bench.csv";
  const auto day = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7};
  const auto hours = std::chrono::hours(state.range(0));
  const auto rows = cqgsim::write_synthetic_history(
      file,
      {.symbols = kSymbols, .from = day, .to = day + hours, .mean_interval = 250ms, .seed = 5});
  std::vector<double> rates, per_row, per_hook, direct, ratios;
  for (auto _ : state) {
    Subscriber engine;
    const double before_direct = direct_us_per_hook(engine.gateway_, 200'000);
    engine.gateway_.hooks = 0;
    const double cpu0 = cpu_seconds(RUSAGE_SELF);
    const double own0 = cpu_seconds(RUSAGE_THREAD);
    const auto r =
        backtest::run_backtest(engine, {.histories = {{"", file.string()}}, .warm_up = 10min});
    const double worker_cpu =
        (cpu_seconds(RUSAGE_SELF) - cpu0) - (cpu_seconds(RUSAGE_THREAD) - own0);
    const double after_direct = direct_us_per_hook(engine.gateway_, 200'000);
    const double hooks = static_cast<double>(engine.gateway_.hooks.load());
    const double d = (before_direct + after_direct) / 2;
    rates.push_back(static_cast<double>(r.history_rows) / r.wall_seconds);
    per_row.push_back(worker_cpu * 1e6 / static_cast<double>(r.history_rows));
    per_hook.push_back(worker_cpu * 1e6 / std::max(1.0, hooks));
    direct.push_back(d);
    ratios.push_back(per_hook.back() / d);
    state.counters["hooks_per_row"] = hooks / static_cast<double>(r.history_rows);
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["rows_per_s"] = median(rates);
  state.counters["worker_us_per_row"] = median(per_row);
  state.counters["worker_us_per_hook"] = median(per_hook);
  state.counters["direct_us_per_hook"] = median(direct);
  state.counters["ratio"] = median(ratios);  // goal <= 2
  std::filesystem::remove(file);
  cqg::set_output_stream(stdout);
  std::fclose(null);
}
BENCHMARK(BM_Backtest)->Arg(2)->Iterations(3)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
