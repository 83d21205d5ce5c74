#pragma once

// The whole gateway over the fake vendor: ApiHost, BrokerLink bound to a
// recording gateway, and the worker's apartment to count round trips with.

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "fake_vendor.hpp"
#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/core/security.hpp"
#include "orbrix/core/testing/recording_gateway.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/testing/captured_output.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg::testing {

inline const Futures& ep() {
  static const Futures f({.code = "EPZ23", .security_name = "E-mini S&P 500"});
  return f;
}

struct Stack {
  Stack() {
    link = host.Init<BrokerLink>(nullptr);
    gateway.set_apiHost(&host);
    link->Init(gateway);
    link->set_timeout(std::chrono::seconds(5));
    link->set_account_reload_pause(std::chrono::milliseconds(1));
    worker = automation::call_in_apartment(
        host.cqgCEL, [](const automation::Object&) { return automation::Apartment::current(); });
    gateway.add_symbol("EPZ23", ep());
    gateway.cqg_quotes().add_key(ep());
    gateway.cqg_orderbooks().add_key(ep());
    start_ = caller_lines().size();
  }
  ~Stack() { host.Shutdown(); }

  std::uint64_t trips() const { return worker->round_trips(); }
  // Returns once every event posted to the worker so far has been handled.
  void drain() const {
    automation::call_in_apartment(host.cqgCEL, [](const automation::Object&) {});
  }
  // The calling thread's lines since the stack was up.
  std::vector<std::string> caller_lines() const {
    auto all = out.messages_of(current_thread_id());
    all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(start_, all.size())));
    return all;
  }

  CapturedOutput out;
  FakeVendor vendor;
  orbrix::testing::RecordingGateway gateway;
  ApiHost host;
  std::shared_ptr<BrokerLink> link;
  std::shared_ptr<automation::Apartment> worker;
  std::size_t start_ = 0;
};

// Runs `op` and returns how many round trips into the worker it made.
template <class F>
std::uint64_t hops(const Stack& s, F&& op) {
  const auto before = s.trips();
  op();
  return s.trips() - before;
}

}  // namespace orbrix::cqg::testing
