#pragma once

// BrokerLink over the simulator on a manual market clock, with the
// simulator's journal of vendor calls on for the whole test. At the end of
// every test each call the gateway (and the API host) made must be one the
// documents name for that object (orbrix/cqg/vendor_members.def).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/core/testing/recording_gateway.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/testing/captured_output.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqg/vendor_members.hpp"
#include "orbrix/cqgsim/simulator.hpp"

namespace orbrix::cqg::testing {

using namespace std::chrono_literals;

// A vendor constant by name, and as the journal writes it in arguments.
inline std::int64_t k(std::string_view name) {
  return vendor_constant(name);
}
inline std::string k_text(std::string_view name) {
  return std::to_string(vendor_constant(name));
}

// The calls of a journal that the documents do not name for their object
// (vendor_members.def), as "Object.Member".
inline std::vector<std::string> undocumented(const std::vector<cqgsim::VendorCall>& calls) {
  std::vector<std::string> out;
  for (const auto& c : calls) {
    if (!is_documented(c.object, c.member)) {
      out.push_back(c.object + "." + c.member);
    }
  }
  return out;
}

// A time in the middle of a minute of a trading day, for tests that count
// the bars a minute brings.
inline std::chrono::system_clock::time_point mid_minute() {
  using namespace std::chrono;
  return sys_days(year(2026) / March / 5) + 15h + 30s;
}

class BrokerLinkOverSimulator : public ::testing::Test {
 protected:
  // The market starts at `start`, or else at the wall clock's time.
  explicit BrokerLinkOverSimulator(
      std::optional<std::chrono::system_clock::time_point> start = std::nullopt) {
    sim.controls().set_config({.start_time = start, .manual_clock = true});
    sim.controls().set_gateway(cqgsim::GatewayBehaviour::after(0ms));
    sim.controls().set_account_reload(cqgsim::AnswerBehaviour::after(0ms));
    sim.driver().journal().start();
    link = host.Init<BrokerLink>(nullptr);
    gateway.set_apiHost(&host);
    link->Init(gateway);
    link->set_timeout(5s);
    link->set_account_reload_pause(1ms);
    worker = automation::call_in_apartment(
        host.cqgCEL, [](const automation::Object&) { return automation::Apartment::current(); });
    mark_lines();
  }
  ~BrokerLinkOverSimulator() override { host.Shutdown(); }

  void TearDown() override {
    EXPECT_EQ(undocumented(journal().calls()), std::vector<std::string>{})
        << "the gateway called vendor members the documents do not name";
  }

  cqgsim::CallJournal& journal() { return sim.driver().journal(); }
  // The calls recorded since the last clear, as "Object.Member" (arguments
  // in brackets when asked for), without the enumerators' own calls (the
  // walk of a collection shows as its _NewEnum).
  std::vector<std::string> calls(bool with_args = false) {
    std::vector<std::string> out;
    for (const auto& c : journal().calls()) {
      if (c.object == "Enumerator") {
        continue;
      }
      std::string line = c.object + "." + c.member;
      if (with_args && !c.args.empty()) {
        line += "(";
        for (std::size_t i = 0; i < c.args.size(); ++i) {
          line += (i ? "," : "") + c.args[i];
        }
        line += ")";
      }
      out.push_back(std::move(line));
    }
    return out;
  }

  // Lets every event already posted to the worker be handled.
  void drain() {
    automation::call_in_apartment(host.cqgCEL, [](const automation::Object&) {});
  }
  // Lets posted events be handled, then forgets what the engine was told
  // and the vendor calls recorded so far.
  void forget_so_far() {
    drain();
    gateway.clear_calls();
    journal().clear();
  }
  // Runs `look` (the test's own look at the vendor's objects) unrecorded.
  template <class F>
  auto unrecorded(F&& look) {
    cqgsim::CallJournal::Pause pause(journal());
    return look();
  }
  // Waits (wall clock, bounded) until the journal holds a call of
  // "Object.Member": another thread's call is then under way, and the
  // manual clock can be moved for its answer.
  bool wait_for_call(std::string_view member, std::chrono::milliseconds within = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto all = calls();
      if (std::find(all.begin(), all.end(), member) != all.end()) {
        return true;
      }
      std::this_thread::yield();
    }
    return false;
  }
  // The lines the calling thread traced since the last mark (the fixture
  // marks once it is up).
  void mark_lines() { lines_seen_ = out.messages_of(current_thread_id()).size(); }
  std::vector<std::string> caller_lines() const {
    auto all = out.messages_of(current_thread_id());
    all.erase(all.begin(),
              all.begin() + static_cast<std::ptrdiff_t>(std::min(lines_seen_, all.size())));
    return all;
  }

  template <class F>
  std::uint64_t hops(F&& op) {
    const auto before = worker->round_trips();
    op();
    return worker->round_trips() - before;
  }
  // Subscribes quotes of a short symbol and maps its dated symbol (and the
  // short one, which tick and bar requests name) to a security the engine
  // keys its maps with.
  Security subscribe(std::string_view symbol) {
    link->subscribe_quote(symbol);
    std::string full;
    {
      cqgsim::CallJournal::Pause pause(journal());
      full = link->get_instrument_from_cqg_symbol(symbol).get("FullName").as_string();
    }
    const Futures security({.code = std::string(symbol_of_full_name(full)), .security_name = full});
    gateway.add_symbol(security.code(), security);
    gateway.cqg_quotes().add_key(security);
    gateway.cqg_orderbooks().add_key(security);
    return security;
  }
  // The vendor's accounts as listed (id, name), once the account
  // subscription level has loaded them.
  std::vector<std::pair<std::int64_t, std::string>> accounts() {
    cqgsim::CallJournal::Pause pause(journal());
    std::vector<std::pair<std::int64_t, std::string>> out;
    for (const auto& item : host.cqgCEL.object("Accounts").items()) {
      const automation::Object account(item);
      out.emplace_back(account.get("GWAccountID").as_int(),
                       account.get("GWAccountName").as_string());
    }
    return out;
  }
  std::int64_t first_account_id() {
    const auto all = accounts();
    return all.empty() ? -1 : all[0].first;
  }
  // Logs on and selects the first account.
  void log_on_with_account() {
    link->Logon("user", "secret");
    EXPECT_THROW(link->subscribe_account_and_positions(-1), std::invalid_argument);
    link->subscribe_account_and_positions(first_account_id());
  }

  cqgsim::ScopedSimulator sim;
  CapturedOutput out;
  orbrix::testing::RecordingGateway gateway;
  ApiHost host;
  std::shared_ptr<BrokerLink> link;
  std::shared_ptr<automation::Apartment> worker;

 private:
  std::size_t lines_seen_ = 0;
};

}  // namespace orbrix::cqg::testing
