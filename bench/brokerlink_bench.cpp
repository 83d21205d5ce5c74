// Costs of BrokerLink's paths over the simulator, each against a floor
// measured in the same run:
//   BM_RoundTrips      blocking round trips into the worker per operation
//   BM_SubscribeQuote  median subscribe_quote vs a bare proxy property read
//   BM_QuoteHandler    the OnInstrumentChanged handler alone, over a captured
//                      simulator event carrying 2 and 3 valid quotes in turn
//                      (2.5 on average, as the simulator's events do),
//                      through the sink dispatch and the simulator's quote
//                      objects, vs the same record work from decoded data; the
//                      two interleaved in batches, the median of the per-batch
//                      ratios with its spread. The simulator's side (making
//                      the event) is left out: BM_MarketToHook has it
//   BM_PlaceOrder      place_order to ctAdded and the id, vs a proxy read
//   BM_PlaceToDeal     market orders one after another, each from place_order
//                      to the engine's process_deal hook (its fill): orders
//                      completed per second of the whole loop (count /
//                      elapsed), the latency's p50, p99 and p99.9, and where
//                      an order's time goes (place_order; the manual clock's
//                      steps with the fill and its events; the order handler's
//                      own time; worker and engine CPU per order). The venue
//                      fills a market order on the next market event of its
//                      manual clock: /S/0 moves the clock from event to event
//                      (of all twelve instruments) on the worker, in one hop,
//                      until the deal (as a backtest does), /S/10 in 10 ms
//                      steps, a hop each (about 30 of them an order, at a mean
//                      300 ms between events of one instrument); S 1 as
//                      configured, 0 with the worker's spinning turned off;
//                      a third argument 1 pins the engine's thread to CPU 0
//                      and the worker to CPU 1 with a spin limit of 200 us
//                      (two idle cores), 0 leaves them to the scheduler with
//                      the default limit
//   BM_TickHandlerOnBenchObjects  the OnTicksAdded handler over minimal tick
//                      objects defined here (batches of 10, bid and ask
//                      alternating) vs the direct record work, interleaved in
//                      batches as BM_QuoteHandler
//   BM_TickHandlerOnSimObjects  the same handler over a batch the simulator
//                      itself fired (its own tick collection and ticks,
//                      captured and delivered again), vs the direct record
//                      work of the same ticks
//   BM_MarketToHook    the simulator's market driven on its manual clock as
//                      fast as it goes, with 1 and 12 instruments subscribed
//                      (quotes and books): events reaching the engine's hooks
//                      per second, wall time and worker CPU per event
//   BM_BarsData        get_subscribe_bars_data on a window with a missing
//                      value every tenth bar, per bar, for 100 to 10,000 bars:
//                      the first read after the resolution, and a re-read of
//                      the same window (the steady state); the heap bytes a
//                      stored bar takes, measured (glibc's bytes in use before
//                      and after the window is made)
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <unordered_map>
#include <vector>

#include "apply.hpp"
#include "heap.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqgsim/simulator.hpp"
#include "pinning.hpp"

namespace {

using namespace orbrix;
using namespace std::chrono_literals;
using automation::Args;
using automation::Dispatch;
using automation::Object;
using automation::Variant;
using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

double ns_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
}

// The spread of a sample: its 10th and 90th percentiles over the median.
void spread(benchmark::State& state, const std::string& name, const std::vector<double>& v) {
  const double m = percentile(v, 0.5);
  state.counters[name + "_p10"] = percentile(v, 0.1) / m;
  state.counters[name + "_p90"] = percentile(v, 0.9) / m;
}

// CPU time of the calling thread, ns.
double thread_cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// The engine side, as light as an engine could make it.
class BenchGateway final : public BaseGateway {
 public:
  void map(const std::string& symbol, const Security& s) { symbols_.insert_or_assign(symbol, s); }
  std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view symbol) override {
    const auto it = symbols_.find(std::string(symbol));
    return it == symbols_.end() ? std::nullopt : std::optional<Security>(it->second);
  }
  std::string get_cqg_symbol_from_eng_security(const Security& s) override { return s.code(); }
  void process_quote(const Quote& q) override {
    sink_ += q.bid_price();
    hooks.fetch_add(1, std::memory_order_relaxed);
  }
  void process_orderbook(const OrderBook& b) override {
    sink_ += b.bid_price_1();
    hooks.fetch_add(1, std::memory_order_relaxed);
  }
  void process_order(const OrderUpdate&) override {}
  void process_deal(const Deal&) override { deals.fetch_add(1, std::memory_order_release); }
  double sink_ = 0;
  std::atomic<std::uint64_t> hooks{0};  // quotes and books heard
  std::atomic<std::uint64_t> deals{0};

 private:
  std::unordered_map<std::string, Security> symbols_;
};

// Captures the arguments of the first OnInstrumentChanged and OnTicksAdded
// so the benchmark can deliver the same real event again, and times the
// order handler (worker thread) for the place-to-deal breakdown.
class CapturingLink : public cqg::BrokerLink {
 public:
  void OnInstrumentChanged(const Variant& a, const Variant& b, const Variant& c) override {
    if (captured.empty()) {
      captured = {a, b, c};
    }
    BrokerLink::OnInstrumentChanged(a, b, c);
  }
  void OnTicksAdded(const Variant& a, const Variant& b) override {
    if (captured_ticks.empty()) {
      captured_ticks = {a, b};
    }
    BrokerLink::OnTicksAdded(a, b);
  }
  void OnOrderChanged(const Variant& a, const Variant& b, const Variant& c, const Variant& d,
                      const Variant& e) override {
    const auto t0 = std::chrono::steady_clock::now();
    BrokerLink::OnOrderChanged(a, b, c, d, e);
    order_handler_ns.fetch_add(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0)
            .count(),
        std::memory_order_relaxed);
    order_events.fetch_add(1, std::memory_order_relaxed);
  }
  std::vector<Variant> captured;
  std::vector<Variant> captured_ticks;
  std::atomic<std::int64_t> order_handler_ns{0};
  std::atomic<std::int64_t> order_events{0};
};

// The gateway over the simulator on a manual clock, logged on, with an
// account and EP subscribed.
struct Stack {
  Stack() {
    cqg::set_output_stream(devnull);
    sim.controls().set_config({.manual_clock = true});
    sim.controls().set_gateway(cqgsim::GatewayBehaviour::after(0ms));
    sim.controls().set_account_reload(cqgsim::AnswerBehaviour::after(0ms));
    link = host.Init<CapturingLink>(nullptr);
    gateway.set_apiHost(&host);
    link->Init(gateway);
    link->set_account_reload_pause(1ms);
    worker = automation::call_in_apartment(
        host.cqgCEL, [](const Object&) { return automation::Apartment::current(); });
    link->Logon("user", "secret");
    host.cqgCEL.put("AccountSubscriptionLevel", cqg::vendor_constant("aslAccountUpdatesAndOrders"));
    link->eventAccountIsReady.wait_for(5s);
    account = Object(host.cqgCEL.object("Accounts").items().at(0)).get("GWAccountID").as_int();
    link->subscribe_account_and_positions(account);
    link->subscribe_quote("EP");
    const std::string full = link->get_instrument_from_cqg_symbol("EP").get("FullName").as_string();
    security =
        Futures({.code = std::string(cqg::symbol_of_full_name(full)), .security_name = full});
    gateway.map(security->code(), *security);
    gateway.map("EP", *security);
    gateway.cqg_quotes().add_key(*security);
    gateway.cqg_orderbooks().add_key(*security);
  }
  ~Stack() {
    host.Shutdown();
    cqg::set_output_stream(nullptr);
    std::fclose(devnull);
  }
  std::uint64_t trips() const { return worker->round_trips(); }
  template <class F>
  double hops(F&& op) {
    const auto before = trips();
    op();
    return static_cast<double>(trips() - before);
  }

  std::FILE* devnull = std::fopen("/dev/null", "w");
  cqgsim::ScopedSimulator sim;
  BenchGateway gateway;
  cqg::ApiHost host;
  std::shared_ptr<CapturingLink> link;
  std::shared_ptr<automation::Apartment> worker;
  std::int64_t account = 0;
  std::optional<Security> security;
};

void BM_RoundTrips(benchmark::State& state) {
  for (auto _ : state) {
    Stack s;
    const Order order(*s.security, OrderType::LIMIT, Direction::LONG, 1, 1.0);
    std::string id;
    state.counters["Logon"] = s.hops([&] { s.link->Logon("user", "secret"); });
    state.counters["subscribe_quote"] = s.hops([&] { s.link->subscribe_quote("EP"); });
    state.counters["get_instrument"] =
        s.hops([&] { s.link->get_instrument_from_cqg_symbol("EP"); });
    state.counters["get_account"] =
        s.hops([&] { s.link->get_account_from_gwaccountid(s.account); });
    state.counters["subscribe_account"] =
        s.hops([&] { s.link->subscribe_account_and_positions(s.account); });
    state.counters["update_balance"] = s.hops([&] { s.link->update_account_balance(); });
    state.counters["update_positions"] = s.hops([&] { s.link->update_positions(); });
    state.counters["place_order"] = s.hops([&] { id = s.link->place_order(order); });
    state.counters["cancel_order"] = s.hops([&] { s.link->cancel_order(id); });
    state.counters["subscribe_bar"] = s.hops([&] { s.link->subscribe_bar("EP", 100); });
    state.counters["subscribe_orderbook"] = s.hops([&] { s.link->subscribe_orderbook("EP"); });
    state.counters["unsubscribe_quote"] = s.hops([&] { s.link->unsubscribe_quote("EP"); });
    state.counters["Logoff"] = s.hops([&] { s.link->Logoff(); });
  }
}
BENCHMARK(BM_RoundTrips)->Iterations(1)->UseRealTime();

void BM_SubscribeQuote(benchmark::State& state) {
  Stack s;
  const auto id = s.host.cqgCEL.id_of("IsStarted");
  std::vector<double> op_ns, bare_ns;
  for (auto _ : state) {
    auto t0 = Clock::now();
    benchmark::DoNotOptimize(s.host.cqgCEL.invoke(id, automation::InvokeKind::PropertyGet, {}));
    bare_ns.push_back(ns_since(t0));
    t0 = Clock::now();
    s.link->subscribe_quote("EP");
    op_ns.push_back(ns_since(t0));
  }
  state.counters["bare_median_us"] = percentile(bare_ns, 0.5) / 1000;
  state.counters["median_us"] = percentile(op_ns, 0.5) / 1000;
  state.counters["median_ratio"] = percentile(op_ns, 0.5) / percentile(bare_ns, 0.5);
}
BENCHMARK(BM_SubscribeQuote)->Iterations(500)->UseRealTime();

void BM_QuoteHandler(benchmark::State& state) {
  Stack s;
  const std::vector<cqgsim::QuoteSpec> two = {{"qtBid", 4000.25, 3}, {"qtAsk", 4000.75, 3}};
  const std::vector<cqgsim::QuoteSpec> three = {
      {"qtBid", 4000.5, 3}, {"qtAsk", 4001.0, 3}, {"qtTrade", 4000.75, 1}};
  s.sim.driver().fire_quotes("EP", two);
  s.link->captured.clear();
  s.sim.driver().fire_quotes("EP", two);
  const std::vector<Variant> args2 = s.link->captured;
  s.link->captured.clear();
  s.sim.driver().fire_quotes("EP", three);
  const std::vector<Variant> args3 = s.link->captured;
  const auto event = s.link->get_id_of_name("OnInstrumentChanged");
  // The same record work from decoded data.
  const std::string full = s.security->security_name();
  auto decoded = [&](const std::vector<cqgsim::QuoteSpec>& specs) {
    cqg::InstrumentChange change{nullptr, full, {}};
    for (const auto& q : specs) {
      change.quotes.push_back({true, cqg::vendor_constant(q.type), q.price});
    }
    return change;
  };
  const cqg::InstrumentChange direct2 = decoded(two), direct3 = decoded(three);
  constexpr int kBatch = 200;  // events per batch, of each path
  std::vector<double> ratios, sink_ns, direct_ns;
  for (auto _ : state) {
    // Both on the worker, where the handler runs.
    automation::call_in_apartment(s.host.cqgCEL, [&](const Object&) {
      for (int round = 0; round < 50; ++round) {
        auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
          s.link->invoke(event, automation::InvokeKind::Method, i % 2 ? args3 : args2);
        }
        const double sink = ns_since(t0);
        t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
          cqg::apply_instrument_change(s.gateway, i % 2 ? direct3 : direct2);
        }
        const double direct = ns_since(t0);
        sink_ns.push_back(sink / kBatch);
        direct_ns.push_back(direct / kBatch);
        ratios.push_back(sink / direct);
      }
    });
  }
  state.counters["events_per_s"] = 1e9 / percentile(sink_ns, 0.5);
  state.counters["direct_per_s"] = 1e9 / percentile(direct_ns, 0.5);
  state.counters["ratio"] = percentile(ratios, 0.5);  // target <= 3
  spread(state, "ratio", ratios);
}
BENCHMARK(BM_QuoteHandler)->Iterations(4)->UseRealTime();

void BM_PlaceOrder(benchmark::State& state) {
  Stack s;
  const Order order(*s.security, OrderType::LIMIT, Direction::LONG, 1, 1.0);
  const auto id = s.host.cqgCEL.id_of("IsStarted");
  std::vector<double> op_ns, bare_ns;
  double hops = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    benchmark::DoNotOptimize(s.host.cqgCEL.invoke(id, automation::InvokeKind::PropertyGet, {}));
    bare_ns.push_back(ns_since(t0));
    const auto before = s.trips();
    t0 = Clock::now();
    benchmark::DoNotOptimize(s.link->place_order(order));
    op_ns.push_back(ns_since(t0));
    hops += static_cast<double>(s.trips() - before);
  }
  state.counters["round_trips"] = hops / static_cast<double>(op_ns.size());
  state.counters["bare_median_us"] = percentile(bare_ns, 0.5) / 1000;
  state.counters["median_us"] = percentile(op_ns, 0.5) / 1000;
  state.counters["p99_us"] = percentile(op_ns, 0.99) / 1000;
  state.counters["median_ratio"] = percentile(op_ns, 0.5) / percentile(bare_ns, 0.5);  // <= 3
  state.counters["p99_ratio"] = percentile(op_ns, 0.99) / percentile(bare_ns, 0.99);
}
BENCHMARK(BM_PlaceOrder)->Iterations(500)->UseRealTime();

double worker_cpu_ns(Stack& s) {
  return automation::call_in_apartment(s.host.cqgCEL,
                                       [](const Object&) { return thread_cpu_ns(); });
}

void BM_PlaceToDeal(benchmark::State& state) {
  // Pinned: the engine's thread on CPU 0, the worker on CPU 1 (two idle
  // cores, if the machine has them); unpinned: wherever the scheduler puts
  // them.
  std::optional<ScopedPin> engine_pin;
  if (state.range(2) != 0) {
    engine_pin.emplace(0);
  }
  Stack s;
  if (state.range(2) != 0) {
    automation::call_in_apartment(s.host.cqgCEL, [](const Object&) { pin_to_cpu(1); });
    // Two idle cores wanted by nothing else: a spin limit above the longest
    // call here (the clock's steps to the fill) keeps every hand-off awake.
    // With the default 20 us such a call is answered after its caller went
    // to sleep, and waking a sleeping vCPU of this VM costs about 100 us.
    s.worker->set_spin_limit(std::chrono::microseconds(200));
  }
  if (state.range(0) == 0) {
    s.worker->set_spin_limit(std::chrono::nanoseconds(0));  // every hand-off sleeps
  }
  const auto step_ms = state.range(1);
  s.sim.driver().fire_quotes("EP", {{"qtBid", 4000.25, 50}, {"qtAsk", 4000.5, 50}});
  std::vector<double> ns, place_ns, fill_ns;
  double steps = 0, hops_to_fill = 0;
  int n = 0;
  const double worker0 = worker_cpu_ns(s), engine0 = thread_cpu_ns();
  const auto handler0 = s.link->order_handler_ns.load(), events0 = s.link->order_events.load();
  const auto start = Clock::now();
  for (auto _ : state) {
    // Long and short in turn, so the position stays near flat.
    const Order order(*s.security, OrderType::MARKET, n++ % 2 ? Direction::SHORT : Direction::LONG,
                      1, 0.0);
    const auto before = s.gateway.deals.load(std::memory_order_acquire);
    const auto t0 = Clock::now();
    s.link->place_order(order);
    const auto placed = Clock::now();
    // The venue fills a market order on the next market event: the clock
    // is moved to it, straight (as a backtest moves) or in 10 ms steps.
    const auto filled = [&] { return s.gateway.deals.load(std::memory_order_acquire) != before; };
    while (!filled()) {
      if (step_ms == 0) {
        // From event to event on the worker, in one hop, to the fill.
        steps += s.sim.driver().step_until(filled, 100000);
        ++hops_to_fill;
      } else {
        s.sim.driver().advance(std::chrono::milliseconds(step_ms));
        ++steps;
        ++hops_to_fill;
      }
      if (ns_since(t0) > 5e9) {
        state.SkipWithError("no deal within 5 s of a market order");
        return;
      }
    }
    const auto done = Clock::now();
    ns.push_back(std::chrono::duration<double, std::nano>(done - t0).count());
    place_ns.push_back(std::chrono::duration<double, std::nano>(placed - t0).count());
    fill_ns.push_back(std::chrono::duration<double, std::nano>(done - placed).count());
  }
  // The real rate: orders completed over the whole loop's wall time.
  const double elapsed = ns_since(start);
  const double orders = static_cast<double>(ns.size());
  const double engine_cpu = thread_cpu_ns() - engine0;
  const double worker_cpu = worker_cpu_ns(s) - worker0;
  state.counters["orders_per_s"] = orders * 1e9 / elapsed;  // goal >= 50,000
  state.counters["mean_us"] = elapsed / orders / 1000;
  state.counters["p50_us"] = percentile(ns, 0.5) / 1000;
  state.counters["p99_us"] = percentile(ns, 0.99) / 1000;
  state.counters["p999_us"] = percentile(ns, 0.999) / 1000;
  // Where an order's time goes.
  state.counters["place_p50_us"] = percentile(place_ns, 0.5) / 1000;
  state.counters["place_mean_us"] =
      std::accumulate(place_ns.begin(), place_ns.end(), 0.0) / orders / 1000;
  state.counters["fill_p50_us"] = percentile(fill_ns, 0.5) / 1000;
  state.counters["fill_mean_us"] =
      std::accumulate(fill_ns.begin(), fill_ns.end(), 0.0) / orders / 1000;
  state.counters["clock_steps_per_order"] = steps / orders;
  state.counters["clock_hops_per_order"] = hops_to_fill / orders;
  state.counters["order_events_per_order"] =
      static_cast<double>(s.link->order_events.load() - events0) / orders;
  state.counters["order_handler_us_per_order"] =
      static_cast<double>(s.link->order_handler_ns.load() - handler0) / orders / 1000;
  state.counters["worker_cpu_us_per_order"] = worker_cpu / orders / 1000;
  state.counters["engine_cpu_us_per_order"] = engine_cpu / orders / 1000;
  spread(state, "latency", ns);
}
BENCHMARK(BM_PlaceToDeal)
    ->Args({1, 0, 1})
    ->Args({1, 0, 0})
    ->Args({0, 0, 0})
    ->Args({1, 10, 0})
    ->Iterations(5000)
    ->UseRealTime();

// The market on the manual clock, driven as fast as it goes: each advance
// fires the events due and returns once they were handled.
void BM_MarketToHook(benchmark::State& state) {
  const auto instruments = static_cast<std::size_t>(state.range(0));
  static const char* const kSymbols[] = {"EP",  "ENQ", "DD",  "TYA", "USA", "EU6",
                                         "JY6", "BP6", "GCE", "SIE", "CLE", "NGE"};
  Stack s;
  for (std::size_t i = 0; i < instruments; ++i) {
    const std::string symbol = kSymbols[i];
    if (symbol != "EP") {
      s.link->subscribe_quote(symbol);
      const std::string full =
          s.link->get_instrument_from_cqg_symbol(symbol).get("FullName").as_string();
      const Futures f({.code = std::string(cqg::symbol_of_full_name(full)), .security_name = full});
      s.gateway.map(f.code(), f);
      s.gateway.map(symbol, f);
      s.gateway.cqg_quotes().add_key(f);
      s.gateway.cqg_orderbooks().add_key(f);
    }
    s.link->subscribe_orderbook(symbol);
  }
  auto worker_cpu = [&] { return worker_cpu_ns(s); };
  std::vector<double> per_event_ns;
  double cpu = 0, events = 0, wall = 0;
  for (auto _ : state) {
    const auto hooks0 = s.gateway.hooks.load();
    const double cpu0 = worker_cpu();
    const auto t0 = Clock::now();
    s.sim.driver().advance(std::chrono::seconds(1));
    const double w = ns_since(t0);
    const double c = worker_cpu() - cpu0;
    const auto n = static_cast<double>(s.gateway.hooks.load() - hooks0);
    if (n > 0) {
      per_event_ns.push_back(w / n);
      cpu += c;
      events += n;
      wall += w;
    }
  }
  if (per_event_ns.empty()) {
    state.SkipWithError("no market event reached a hook");
    return;
  }
  state.counters["events_per_s"] = 1e9 / percentile(per_event_ns, 0.5);  // saturation
  state.counters["wall_ns_per_event"] = percentile(per_event_ns, 0.5);
  state.counters["worker_cpu_ns_per_event"] = cpu / events;
  state.counters["events_per_sim_s"] = events / static_cast<double>(state.iterations());
  spread(state, "per_event", per_event_ns);
}
BENCHMARK(BM_MarketToHook)->Arg(1)->Arg(12)->Iterations(30)->UseRealTime();

// Minimal automation objects for tick and bar collections.
class Item final : public automation::AutomationObject<Item> {
 public:
  explicit Item(std::vector<Variant> values) : values_(std::move(values)) {}
  static const automation::ClassInfo& class_info() {
    static const automation::ClassInfo info = [] {
      automation::ClassInfo c("BenchItem");
      const char* names[] = {"PriceType", "Price", "Volume", "Timestamp",    "Open",
                             "High",      "Low",   "Close",  "ActualVolume", "Symbol"};
      for (std::size_t i = 0; i < std::size(names); ++i) {
        c.add_property(names[i], [i](Dispatch& d, Args) -> Variant {
          return automation::self_as<Item>(d).values_.at(i);
        });
      }
      return c;
    }();
    return info;
  }

 private:
  std::vector<Variant> values_;
};

class Collection final : public automation::AutomationObject<Collection> {
 public:
  Collection(std::vector<Variant> items, Variant request)
      : items_(std::move(items)), request_(std::move(request)) {}
  static const automation::ClassInfo& class_info() {
    static const automation::ClassInfo info = [] {
      automation::ClassInfo c("BenchCollection");
      c.add_property("Count", [](Dispatch& d, Args) -> Variant {
        return static_cast<std::int64_t>(automation::self_as<Collection>(d).items_.size());
      });
      c.add_property("Item", [](Dispatch& d, Args a) -> Variant {
        return automation::self_as<Collection>(d).items_.at(
            static_cast<std::size_t>(a[0].as_int()));
      });
      c.add_property("Request", [](Dispatch& d, Args) -> Variant {
        return automation::self_as<Collection>(d).request_;
      });
      return c;
    }();
    return info;
  }

 private:
  std::vector<Variant> items_;
  Variant request_;
};

Variant request_of(std::string symbol) {
  return std::make_shared<Item>(
      std::vector<Variant>{{}, {}, {}, {}, {}, {}, {}, {}, {}, Variant(std::move(symbol))});
}

void BM_TickHandlerOnBenchObjects(benchmark::State& state) {
  cqgsim::register_simulator();
  const Futures ep({.code = "EPZ26", .security_name = "E-mini"});
  BenchGateway gateway;
  gateway.map("EPZ26", ep);
  gateway.cqg_orderbooks().add_key(ep);
  auto link = std::make_shared<cqg::BrokerLink>();
  link->Init(gateway);
  const std::int64_t ask = cqg::vendor_constant("tptAsk"), bid = cqg::vendor_constant("tptBid");
  std::vector<Variant> ticks;
  for (int i = 0; i < 10; ++i) {
    ticks.push_back(
        std::make_shared<Item>(std::vector<Variant>{i % 2 ? bid : ask, 4000.0 + i * 0.25, 1 + i}));
  }
  const Variant collection = std::make_shared<Collection>(ticks, request_of("EPZ26"));
  const Variant args[] = {collection, Variant(10)};
  const auto event = link->get_id_of_name("OnTicksAdded");
  // The same record work, directly.
  cqg::TicksAdded direct{nullptr, "EPZ26", {}};
  for (int i = 0; i < 10; ++i) {
    direct.ticks.push_back({i % 2 ? bid : ask, 4000.0 + i * 0.25, 1.0 + i});
  }
  constexpr int kBatch = 200;  // events of 10 ticks per batch, of each path
  std::vector<double> ratios, sink_ns, direct_ns;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      link->invoke(event, automation::InvokeKind::Method, args);
    }
    const double sink = ns_since(t0);
    t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      cqg::apply_ticks_added(gateway, direct);
    }
    const double direct_batch = ns_since(t0);
    sink_ns.push_back(sink / (10.0 * kBatch));
    direct_ns.push_back(direct_batch / (10.0 * kBatch));
    ratios.push_back(sink / direct_batch);
  }
  state.counters["ticks_per_s"] = 1e9 / percentile(sink_ns, 0.5);
  state.counters["direct_ticks_per_s"] = 1e9 / percentile(direct_ns, 0.5);
  state.counters["ratio"] = percentile(ratios, 0.5);  // target <= 3
  spread(state, "ratio", ratios);
}
BENCHMARK(BM_TickHandlerOnBenchObjects)->Iterations(200)->UseRealTime();

void BM_TickHandlerOnSimObjects(benchmark::State& state) {
  Stack s;
  s.link->subscribe_orderbook("EP");
  // The market moves until the simulator fires a batch of ticks.
  for (int i = 0; i < 600 && s.link->captured_ticks.empty(); ++i) {
    s.sim.driver().advance(100ms);
  }
  if (s.link->captured_ticks.empty()) {
    state.SkipWithError("the simulator fired no ticks in a minute");
    return;
  }
  const std::vector<Variant> args = s.link->captured_ticks;
  const auto event = s.link->get_id_of_name("OnTicksAdded");
  // The same ticks as decoded data, read on the worker, where they live.
  cqg::TicksAdded direct{nullptr, "EP", {}};
  automation::call_in_apartment(s.host.cqgCEL, [&](const Object&) {
    const Object ticks(args[0]);
    const std::int64_t count = ticks.get("Count").as_int();
    for (std::int64_t i = std::max<std::int64_t>(count - args[1].as_int(), 0); i < count; ++i) {
      const Object tick(ticks.get("Item", i));
      direct.ticks.push_back({tick.get("PriceType").as_int(), tick.get("Price").as_double(),
                              tick.get("Volume").as_double()});
    }
  });
  const double per_event = static_cast<double>(direct.ticks.size());
  constexpr int kBatch = 200;  // events per batch, of each path
  std::vector<double> ratios, sink_ns, direct_ns;
  for (auto _ : state) {
    automation::call_in_apartment(s.host.cqgCEL, [&](const Object&) {
      auto t0 = Clock::now();
      for (int i = 0; i < kBatch; ++i) {
        s.link->invoke(event, automation::InvokeKind::Method, args);
      }
      const double sink = ns_since(t0);
      t0 = Clock::now();
      for (int i = 0; i < kBatch; ++i) {
        cqg::apply_ticks_added(s.gateway, direct);
      }
      const double direct_batch = ns_since(t0);
      sink_ns.push_back(sink / (per_event * kBatch));
      direct_ns.push_back(direct_batch / (per_event * kBatch));
      ratios.push_back(sink / direct_batch);
    });
  }
  state.counters["ticks_per_event"] = per_event;
  state.counters["ticks_per_s"] = 1e9 / percentile(sink_ns, 0.5);
  state.counters["direct_ticks_per_s"] = 1e9 / percentile(direct_ns, 0.5);
  state.counters["ratio"] = percentile(ratios, 0.5);  // target <= 3
  spread(state, "ratio", ratios);
}
BENCHMARK(BM_TickHandlerOnSimObjects)->Iterations(200)->UseRealTime();

void BM_BarsData(benchmark::State& state) {
  cqgsim::register_simulator();
  const auto n = static_cast<std::size_t>(state.range(0));
  const Futures ep({.code = "EPZ26", .security_name = "E-mini"});
  BenchGateway gateway;
  gateway.map("EPZ26", ep);
  std::vector<Variant> bars;
  for (std::size_t i = 0; i <= n; ++i) {  // the last one is forming and not stored
    const double missing = static_cast<double>(cqg::INVALID_VALUE);
    const double open = i % 10 == 5 ? missing : 100.0 + static_cast<double>(i);
    bars.push_back(std::make_shared<Item>(std::vector<Variant>{
        {},
        {},
        {},
        Variant(make_datetime(2026, 1, 1) + std::chrono::minutes(static_cast<int>(i))),
        open,
        101.0,
        99.0,
        100.5,
        10.0}));
  }
  const Variant collection = std::make_shared<Collection>(bars, request_of("EPZ26"));
  double first_ns = 0, reread_ns = 0, stored_bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto link = std::make_shared<cqg::BrokerLink>();
    link->Init(gateway);
    const double heap0 = heap_bytes();
    link->OnTimedBarsResolved(collection, Variant());
    stored_bytes += heap_bytes() - heap0;
    state.ResumeTiming();
    auto t0 = Clock::now();
    benchmark::DoNotOptimize(link->get_subscribe_bars_data(ep));
    first_ns += ns_since(t0);
    // Read again, as a program that redraws the window does.
    t0 = Clock::now();
    benchmark::DoNotOptimize(link->get_subscribe_bars_data(ep));
    reread_ns += ns_since(t0);
  }
  const double reads = static_cast<double>(state.iterations()) * static_cast<double>(n);
  state.counters["ns_per_bar"] = first_ns / reads;
  state.counters["reread_ns_per_bar"] = reread_ns / reads;
  // What a stored window takes on the heap per bar (each bar carries its
  // Security), measured; and the record's own size, for comparison.
  state.counters["bytes_per_bar"] = stored_bytes / reads;
  state.counters["sizeof_bar"] = static_cast<double>(sizeof(Bar));
}
BENCHMARK(BM_BarsData)->Arg(100)->Arg(1000)->Arg(10000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
