// Costs of BrokerLink's paths over the simulator, each against a floor
// measured in the same run:
//   BM_RoundTrips      blocking round trips into the worker per operation
//   BM_SubscribeQuote  median subscribe_quote vs a bare proxy property read
//   BM_QuotePath       OnInstrumentChanged with one valid quote, through the
//                      sink dispatch and the simulator's objects, vs the same
//                      record work done directly in C++
//   BM_PlaceOrder      place_order to ctAdded and the id, vs a proxy read
//   BM_TicksAdded      ticks per second through OnTicksAdded (batches of 10,
//                      bid and ask alternating) vs the direct record work
//   BM_BarsData        get_subscribe_bars_data on a window with a missing
//                      value every tenth bar, per bar, for 100 to 10,000 bars
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "apply.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqgsim/simulator.hpp"

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

// The engine side, as light as an engine could make it.
class BenchGateway final : public BaseGateway {
 public:
  void map(const std::string& symbol, const Security& s) { symbols_.insert_or_assign(symbol, s); }
  std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view symbol) override {
    const auto it = symbols_.find(std::string(symbol));
    return it == symbols_.end() ? std::nullopt : std::optional<Security>(it->second);
  }
  std::string get_cqg_symbol_from_eng_security(const Security& s) override { return s.code(); }
  void process_quote(const Quote& q) override { sink_ += q.bid_price(); }
  void process_orderbook(const OrderBook& b) override { sink_ += b.bid_price_1(); }
  void process_order(const OrderUpdate&) override {}
  void process_deal(const Deal&) override {}
  double sink_ = 0;

 private:
  std::unordered_map<std::string, Security> symbols_;
};

// Captures the arguments of the first OnInstrumentChanged so the benchmark
// can deliver the same real event again.
class CapturingLink : public cqg::BrokerLink {
 public:
  void OnInstrumentChanged(const Variant& a, const Variant& b, const Variant& c) override {
    if (captured.empty()) {
      captured = {a, b, c};
    }
    BrokerLink::OnInstrumentChanged(a, b, c);
  }
  std::vector<Variant> captured;
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

void BM_QuotePath(benchmark::State& state) {
  Stack s;
  s.sim.driver().fire_quotes("EP", {{"qtBid", 4000.25, 3}});
  s.sim.driver().fire_quotes("EP", {{"qtAsk", 4000.75, 3}});
  s.link->captured.clear();
  s.sim.driver().fire_quotes("EP", {{"qtBid", 4000.5, 3}});
  const auto event = s.link->get_id_of_name("OnInstrumentChanged");
  const std::vector<Variant> args = s.link->captured;
  constexpr std::size_t n = 100000;  // events per pass
  double sink_ns = 0, direct_ns = 0;
  for (auto _ : state) {
    // Both loops on the worker, where the handler runs.
    automation::call_in_apartment(s.host.cqgCEL, [&](const Object&) {
      auto t0 = Clock::now();
      for (std::size_t i = 0; i < n; ++i) {
        s.link->invoke(event, automation::InvokeKind::Method, args);
      }
      sink_ns = ns_since(t0);
      const std::int64_t bid = cqg::vendor_constant("qtBid");
      t0 = Clock::now();
      for (std::size_t i = 0; i < n; ++i) {
        const auto security = s.gateway.get_eng_security_from_cqg_symbol(s.security->code());
        benchmark::DoNotOptimize(cqg::QuoteType2String(bid));
        const auto stored = s.gateway.cqg_quotes().get(*security);
        auto record = std::make_shared<const Quote>(stored->with(
            {.bid_price = 4000.5 + static_cast<double>(i & 1), .datetime = local_now()}));
        s.gateway.cqg_quotes().store(*security, record);
        s.gateway.process_quote(*record);
      }
      direct_ns = ns_since(t0);
    });
  }
  state.counters["events_per_s"] = static_cast<double>(n) / (sink_ns / 1e9);
  state.counters["direct_per_s"] = static_cast<double>(n) / (direct_ns / 1e9);
  state.counters["ratio"] = sink_ns / direct_ns;  // target <= 3
}
BENCHMARK(BM_QuotePath)->Iterations(1)->UseRealTime();

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

void BM_TicksAdded(benchmark::State& state) {
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
  std::size_t batches = 0;
  const auto t0 = Clock::now();
  for (auto _ : state) {
    link->invoke(event, automation::InvokeKind::Method, args);
    ++batches;
  }
  const double sink_ns = ns_since(t0);
  // The same record work, directly.
  cqg::TicksAdded direct{"EPZ26", {}};
  for (int i = 0; i < 10; ++i) {
    direct.ticks.push_back({i % 2 ? bid : ask, 4000.0 + i * 0.25, 1.0 + i});
  }
  const auto t1 = Clock::now();
  for (std::size_t i = 0; i < batches; ++i) {
    cqg::apply_ticks_added(gateway, direct);
  }
  const double direct_ns = ns_since(t1);
  state.counters["ticks_per_s"] = 10.0 * static_cast<double>(batches) / (sink_ns / 1e9);
  state.counters["direct_ticks_per_s"] = 10.0 * static_cast<double>(batches) / (direct_ns / 1e9);
  state.counters["ratio"] = sink_ns / direct_ns;  // target <= 3
}
BENCHMARK(BM_TicksAdded)->Iterations(20000)->UseRealTime();

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
  double total_ns = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto link = std::make_shared<cqg::BrokerLink>();
    link->Init(gateway);
    link->OnTimedBarsResolved(collection, Variant());
    state.ResumeTiming();
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(link->get_subscribe_bars_data(ep));
    total_ns += ns_since(t0);
  }
  state.counters["ns_per_bar"] =
      total_ns / static_cast<double>(state.iterations()) / static_cast<double>(n);
}
BENCHMARK(BM_BarsData)->Arg(100)->Arg(1000)->Arg(10000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
