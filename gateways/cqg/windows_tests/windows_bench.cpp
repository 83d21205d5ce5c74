// Under Wine: a proxy call from the engine thread into the worker (a
// property read of the COM object), and an event delivered from the COM
// server through the worker's pump to BrokerLink's quote handler and on to
// process_quote. Prints one line per figure. A timing program, not a test:
// Google Benchmark is not built for Windows here.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "stack.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

}  // namespace

int main() {
  using namespace orbrix;
  wintest::register_server_keys();
  wintest::Stack<> s;

  constexpr int kCalls = 5000;
  std::vector<double> calls;
  calls.reserve(kCalls);
  const automation::Object& cel = s.host.cqgCEL;
  cel.get("ThreadId");  // the name resolved once, as on a hot path
  for (int i = 0; i < kCalls; ++i) {
    const auto t0 = Clock::now();
    cel.get("ThreadId");
    calls.push_back(micros(Clock::now() - t0));
  }
  std::sort(calls.begin(), calls.end());
  std::printf("proxy_call_from_engine_thread n=%d median_us=%.1f p90_us=%.1f p99_us=%.1f\n", kCalls,
              calls[calls.size() / 2], calls[calls.size() * 9 / 10],
              calls[calls.size() * 99 / 100]);

  s.link->subscribe_quote("EPZ23");
  s.gateway.wait_for_calls(9);
  constexpr int kEvents = 2000;
  // Each event carries three valid quotes, each ending in process_quote.
  const std::size_t want = s.gateway.records<Quote>().size() + 3 * kEvents;
  const auto t0 = Clock::now();
  cel.call("FireQuotes", kEvents);
  while (s.gateway.records<Quote>().size() < want) {
    s.gateway.wait_for_calls(want, std::chrono::milliseconds(10));
    if (Clock::now() - t0 > std::chrono::seconds(60)) {
      std::printf("event_to_brokerlink_handler: not all events arrived\n");
      return 1;
    }
  }
  const double total = micros(Clock::now() - t0);
  std::printf("event_to_brokerlink_handler n=%d mean_us=%.1f events_per_s=%.0f\n", kEvents,
              total / kEvents, kEvents / (total / 1e6));
  return 0;
}
