#pragma once

// The API host and BrokerLink over the test server: the server's class
// object registered in the worker's apartment, the simulator off.

#include <chrono>
#include <memory>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/core/testing/recording_gateway.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "test_server.hpp"

namespace orbrix::wintest {

inline cqg::ApiHost::Options host_options(bool register_server = true) {
  cqg::ApiHost::Options options;
  options.use_simulator = false;
  options.startup_timeout = std::chrono::seconds(10);
  options.call_timeout = std::chrono::seconds(10);
  if (register_server) {
    options.worker_scope = [] { return register_class_object(); };
  }
  return options;
}

inline const Futures& ep() {
  static const Futures f({.code = "EPZ23", .security_name = "E-mini S&P 500"});
  return f;
}

// `Link` is BrokerLink or a class derived from it.
template <class Link = cqg::BrokerLink>
struct Stack {
  Stack() {
    link = host.Init<Link>(nullptr);
    gateway.set_apiHost(&host);
    link->Init(gateway);
    link->set_timeout(std::chrono::seconds(5));
    link->set_account_reload_pause(std::chrono::milliseconds(1));
    worker = automation::call_in_apartment(
        host.cqgCEL, [](const automation::Object&) { return automation::Apartment::current(); });
    gateway.add_symbol("EPZ23", ep());
    gateway.cqg_quotes().add_key(ep());
    gateway.cqg_orderbooks().add_key(ep());
  }
  ~Stack() { host.Shutdown(); }
  // Round trips into the worker `op` makes.
  template <class F>
  std::uint64_t hops(F&& op) {
    const auto before = worker->round_trips();
    op();
    return worker->round_trips() - before;
  }

  orbrix::testing::RecordingGateway gateway;
  cqg::ApiHost host{host_options()};
  std::shared_ptr<Link> link;
  std::shared_ptr<automation::Apartment> worker;
};

}  // namespace orbrix::wintest
