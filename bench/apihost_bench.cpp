// Costs of the hot paths of the API host, each against its floor:
//   BM_ProxyCall         a property read through the marshalled proxy vs a bare
//                        mutex + condition-variable round trip between two
//                        threads, with the allocations per call
//   BM_ProxyObjectResult the same for a property whose value is an object
//                        (it arrives as a new proxy)
//   BM_EventDelivery     an event with three object arguments to a sink handler
//                        by cached id vs calling the handler directly
//   BM_PostAndPump       an event posted to the apartment's queue and fired
//                        from its pump, as every simulator event is, vs firing
//                        it directly; allocations per event
//   BM_Trace             one Trace line to /dev/null vs fwrite + fflush of the
//                        same bytes
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <pthread.h>
#include <sched.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/automation/connection_point.hpp"
#include "orbrix/automation/marshal.hpp"
#include "orbrix/automation/object.hpp"
#include "orbrix/automation/wait.hpp"
#include "orbrix/cqg/cel_sink_base.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqg/vendor_ids.hpp"
#include "orbrix/cqgsim/simulator.hpp"

// GCC takes these replacements for a mismatch with the inlined library
// allocator; they are the process's only operator new and delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Every allocation of the process, counted so a benchmark can report how many
// its operation makes (on any thread).
std::atomic<std::uint64_t> g_allocations{0};

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) {
    return p;
  }
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using namespace orbrix;
using Clock = std::chrono::steady_clock;

std::uint64_t allocations() {
  return g_allocations.load(std::memory_order_relaxed);
}

// Pins the calling thread to one CPU. The round-trip benchmarks put the
// caller on CPU 0 and both servers (the bare one and the apartment worker)
// on CPU 1, so both hand-offs cross the same pair of CPUs and neither is
// favoured by where the scheduler happened to park a thread.
void pin_to_cpu(int cpu) {
  if (std::thread::hardware_concurrency() < 2) {
    return;
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// --- floor: request/response between two threads with a mutex and a condvar
class BareRoundTrip {
 public:
  BareRoundTrip()
      : server_([this] {
          pin_to_cpu(1);
          serve();
        }) {}
  ~BareRoundTrip() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    server_.join();
  }
  int call() {
    std::unique_lock lock(mutex_);
    request_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return response_; });
    response_ = false;
    return value_;
  }

 private:
  void serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return request_ || stop_; });
      if (stop_) {
        return;
      }
      request_ = false;
      ++value_;
      response_ = true;
      cv_.notify_all();
    }
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  bool request_ = false, response_ = false, stop_ = false;
  int value_ = 0;
  std::thread server_;
};

// A trivial automation object with one property.
class Trivial final : public automation::AutomationObject<Trivial> {
 public:
  static const automation::ClassInfo& class_info() {
    static const automation::ClassInfo info = [] {
      automation::ClassInfo c("Trivial");
      c.add_property("Value", [](automation::Dispatch&, automation::Args) -> automation::Variant {
        return 42;
      });
      // An object-valued property: the same object every time, so only
      // the marshalling of the result is measured.
      c.add_property("Self",
                     [](automation::Dispatch& self, automation::Args) -> automation::Variant {
                       return self.shared_from_this();
                     });
      return c;
    }();
    return info;
  }
};

// An apartment thread pumping like the API host's worker.
class Worker {
 public:
  Worker() {
    std::promise<std::shared_ptr<automation::MarshalStream>> ready;
    auto f = ready.get_future();
    thread_ = std::thread([this, &ready] {
      pin_to_cpu(1);
      automation::co_initialize();
      ready.set_value(
          automation::marshal_inter_thread_interface_in_stream(std::make_shared<Trivial>()));
      automation::WaitHandle* handles[] = {&stop_};
      for (;;) {
        auto r = automation::msg_wait_for_multiple_objects(handles, false, automation::kInfinite,
                                                           automation::kQsAllEvents);
        if (r == automation::kWaitObject0 ||
            (r == automation::kWaitObject0 + 1 && automation::pump_waiting_messages())) {
          break;
        }
      }
      automation::co_uninitialize();
    });
    proxy = automation::Object(automation::get_interface_and_release_stream(*f.get()));
  }
  ~Worker() {
    stop_.set();
    thread_.join();
  }
  automation::Object proxy;

 private:
  automation::WaitHandle stop_{false, false};
  std::thread thread_;
};

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

void BM_ProxyCall(benchmark::State& state) {
  pin_to_cpu(0);
  Worker worker;
  BareRoundTrip bare;
  const auto id = worker.proxy.id_of("Value");
  std::vector<double> proxy_ns, bare_ns;
  proxy_ns.reserve(state.max_iterations);
  bare_ns.reserve(state.max_iterations);
  std::uint64_t allocs = 0;
  for (auto _ : state) {
    // Interleaved so both see the same machine conditions.
    auto t0 = Clock::now();
    benchmark::DoNotOptimize(bare.call());
    auto t1 = Clock::now();
    const auto a0 = allocations();
    benchmark::DoNotOptimize(worker.proxy.invoke(id, automation::InvokeKind::PropertyGet, {}));
    allocs += allocations() - a0;
    auto t2 = Clock::now();
    bare_ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
    proxy_ns.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count());
  }
  state.counters["allocs_per_call"] =
      static_cast<double>(allocs) / static_cast<double>(state.iterations());  // target 0
  const double bare_median = percentile(bare_ns, 0.5), bare_p99 = percentile(bare_ns, 0.99);
  const double proxy_median = percentile(proxy_ns, 0.5), proxy_p99 = percentile(proxy_ns, 0.99);
  state.counters["bare_median_us"] = bare_median / 1000;
  state.counters["proxy_median_us"] = proxy_median / 1000;
  state.counters["median_ratio"] = proxy_median / bare_median;  // target <= 1.3
  state.counters["p99_ratio"] = proxy_p99 / bare_p99;           // target <= 1.5
}
BENCHMARK(BM_ProxyCall)->Iterations(20000)->UseRealTime();

void BM_ProxyObjectResult(benchmark::State& state) {
  pin_to_cpu(0);
  Worker worker;
  const auto id = worker.proxy.id_of("Self");
  std::uint64_t allocs = 0;
  for (auto _ : state) {
    const auto a0 = allocations();
    {
      auto v = worker.proxy.invoke(id, automation::InvokeKind::PropertyGet, {});
      benchmark::DoNotOptimize(v);
    }  // the result's proxy is released here, as a caller would
    allocs += allocations() - a0;
  }
  // The new proxy and its entry in the home's table of exported objects.
  state.counters["allocs_per_call"] =
      static_cast<double>(allocs) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ProxyObjectResult)->Iterations(20000)->UseRealTime();

// Counts OnInstrumentChanged calls.
class CountingSink final : public cqg::CELSinkBase {
 public:
  void OnInstrumentChanged(const cqg::Variant&, const cqg::Variant&, const cqg::Variant&) override {
    ++count;
  }
  std::uint64_t count = 0;
};

// A connection point with one counting sink, and OnInstrumentChanged's id
// and three object arguments, as the simulator fires the event.
// The vendor's type library (the simulator's) maps the event ids; it is
// registered before any sink is made.
struct SimulatorRegistered {
  SimulatorRegistered() { cqgsim::register_simulator(); }
};

struct EventSetup : SimulatorRegistered {
  EventSetup() {
    id = cqg::vendor_type_library()
             .event_interface(cqg::kCqgEventInterface)
             .find("OnInstrumentChanged")
             ->id;
    events.advise(sink);
  }
  automation::ConnectionPoint events;
  std::shared_ptr<CountingSink> sink = std::make_shared<CountingSink>();
  automation::DispId id = 0;
  std::array<automation::Variant, 3> args{automation::Variant(std::make_shared<Trivial>()),
                                          automation::Variant(std::make_shared<Trivial>()),
                                          automation::Variant(std::make_shared<Trivial>())};
};

void BM_EventDelivery(benchmark::State& state) {
  automation::ComScope com;
  EventSetup setup;
  auto& events = setup.events;
  auto& sink = setup.sink;
  const auto id = setup.id;
  const auto& args = setup.args;
  // Floor: the handler called directly (a virtual call the compiler cannot
  // see through), with the same arguments.
  cqg::CELSinkBase* direct = sink.get();
  benchmark::DoNotOptimize(direct);
  std::vector<double> fire_ns, direct_ns;
  fire_ns.reserve(state.max_iterations);
  direct_ns.reserve(state.max_iterations);
  constexpr int kBatch = 64;  // timed in batches: one event is below the clock's resolution
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      direct->OnInstrumentChanged(args[0], args[1], args[2]);
    }
    auto t1 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      events.fire(id, args);
    }
    auto t2 = Clock::now();
    direct_ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / kBatch);
    fire_ns.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count() / kBatch);
  }
  benchmark::DoNotOptimize(sink->count);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch);
  state.counters["direct_median_ns"] = percentile(direct_ns, 0.5);
  state.counters["fire_median_ns"] = percentile(fire_ns, 0.5);
  state.counters["ratio"] = percentile(fire_ns, 0.5) / percentile(direct_ns, 0.5);
}
BENCHMARK(BM_EventDelivery)->Iterations(20000);

// An event posted into the apartment's queue and fired from its pump, as
// the simulator delivers every event, against firing it directly.
void BM_PostAndPump(benchmark::State& state) {
  automation::ComScope com;
  auto& apartment = *automation::Apartment::current();
  EventSetup setup;
  auto& events = setup.events;
  auto& sink = setup.sink;
  const auto id = setup.id;
  const auto& args = setup.args;
  std::vector<double> posted_ns, direct_ns;
  posted_ns.reserve(state.max_iterations);
  direct_ns.reserve(state.max_iterations);
  constexpr int kBatch = 64;
  std::uint64_t allocs = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      events.fire(id, args);
    }
    auto t1 = Clock::now();
    const auto a0 = allocations();
    for (int i = 0; i < kBatch; ++i) {
      apartment.post([&events, id, &args] { events.fire(id, args); });
    }
    automation::pump_waiting_messages();
    allocs += allocations() - a0;
    auto t2 = Clock::now();
    direct_ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / kBatch);
    posted_ns.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count() / kBatch);
  }
  benchmark::DoNotOptimize(sink->count);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch);
  state.counters["direct_median_ns"] = percentile(direct_ns, 0.5);
  state.counters["posted_median_ns"] = percentile(posted_ns, 0.5);
  state.counters["ratio"] = percentile(posted_ns, 0.5) / percentile(direct_ns, 0.5);
  state.counters["allocs_per_event"] =
      static_cast<double>(allocs) / static_cast<double>(state.iterations() * kBatch);  // target 0
}
BENCHMARK(BM_PostAndPump)->Iterations(20000);

void BM_Trace(benchmark::State& state) {
  std::FILE* devnull = std::fopen("/dev/null", "w");
  auto* previous = cqg::set_output_stream(devnull);
  const std::string message = "Waiting for eventQuoteDone in subscribe_quote(EP)...";
  const std::string line = fmt::format("{}: {}\n", cqg::current_thread_id(), message);
  std::vector<double> trace_ns, bare_ns;
  for (auto _ : state) {
    auto t0 = Clock::now();
    std::fwrite(line.data(), 1, line.size(), devnull);
    std::fflush(devnull);
    auto t1 = Clock::now();
    cqg::Trace(message);
    auto t2 = Clock::now();
    bare_ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
    trace_ns.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count());
  }
  cqg::set_output_stream(previous == stdout ? nullptr : previous);
  std::fclose(devnull);
  state.counters["bare_median_ns"] = percentile(bare_ns, 0.5);
  state.counters["trace_median_ns"] = percentile(trace_ns, 0.5);
  state.counters["ratio"] = percentile(trace_ns, 0.5) / percentile(bare_ns, 0.5);  // target <= 1.5
}
BENCHMARK(BM_Trace)->Iterations(200000);

}  // namespace

BENCHMARK_MAIN();
