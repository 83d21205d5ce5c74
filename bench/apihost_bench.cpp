// Costs of the three hot paths of the API host, each against its floor:
//   BM_ProxyCall      a property read through the marshalled proxy vs a bare
//                     mutex + condition-variable round trip between two threads
//   BM_EventDelivery  an event with three object arguments to a sink handler
//                     by cached id (events per second)
//   BM_Trace          one Trace line to /dev/null vs fwrite + fflush of the
//                     same bytes
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <pthread.h>
#include <sched.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
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

namespace {

using namespace orbrix;
using Clock = std::chrono::steady_clock;

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
      std::lock_guard lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    server_.join();
  }
  int call() {
    std::unique_lock lock(m_);
    request_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return response_; });
    response_ = false;
    return value_;
  }

 private:
  void serve() {
    std::unique_lock lock(m_);
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
  std::mutex m_;
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
  for (auto _ : state) {
    // Interleaved so both see the same machine conditions.
    auto t0 = Clock::now();
    benchmark::DoNotOptimize(bare.call());
    auto t1 = Clock::now();
    benchmark::DoNotOptimize(worker.proxy.invoke(id, automation::InvokeKind::PropertyGet, {}));
    auto t2 = Clock::now();
    bare_ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
    proxy_ns.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count());
  }
  const double bare_median = percentile(bare_ns, 0.5), bare_p99 = percentile(bare_ns, 0.99);
  const double proxy_median = percentile(proxy_ns, 0.5), proxy_p99 = percentile(proxy_ns, 0.99);
  state.counters["bare_median_us"] = bare_median / 1000;
  state.counters["proxy_median_us"] = proxy_median / 1000;
  state.counters["median_ratio"] = proxy_median / bare_median;  // target <= 1.3
  state.counters["p99_ratio"] = proxy_p99 / bare_p99;           // target <= 1.5
}
BENCHMARK(BM_ProxyCall)->Iterations(20000)->UseRealTime();

// Counts OnInstrumentChanged calls.
class CountingSink final : public cqg::CELSinkBase {
 public:
  void OnInstrumentChanged(const cqg::Variant&, const cqg::Variant&, const cqg::Variant&) override {
    ++count;
  }
  std::uint64_t count = 0;
};

void BM_EventDelivery(benchmark::State& state) {
  automation::ComScope com;
  automation::ConnectionPoint events;
  auto sink = std::make_shared<CountingSink>();
  events.advise(sink);
  const auto id = cqg::vendor_type_library()
                      .event_interface(cqg::kCqgEventInterface)
                      .find("OnInstrumentChanged")
                      ->id;
  const std::array<automation::Variant, 3> args{automation::Variant(std::make_shared<Trivial>()),
                                                automation::Variant(std::make_shared<Trivial>()),
                                                automation::Variant(std::make_shared<Trivial>())};
  for (auto _ : state) {
    events.fire(id, args);
  }
  benchmark::DoNotOptimize(sink->count);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));  // target >= 10M/s
}
BENCHMARK(BM_EventDelivery);

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
