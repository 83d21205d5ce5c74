#pragma once

// The simulator's object model driven as the gateway drives it: on this
// thread's apartment, with the simulator's clock stepped by hand. Shared by
// the object model's tests.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/object.hpp"
#include "orbrix/automation/wait.hpp"
#include "orbrix/cqg/vendor_ids.hpp"
#include "orbrix/cqgsim/simulator.hpp"

namespace orbrix::cqgsim::object_tests {

using automation::Object;
using automation::Variant;

inline std::int64_t k(std::string_view name) {
  return type_library()->constant(name);
}

// Records every event with its arguments.
class EventLog final : public automation::Dispatch {
 public:
  struct Event {
    std::string name;
    std::vector<Variant> args;
  };
  EventLog() : Dispatch(FreeThreaded{}) {}
  automation::DispId get_id_of_name(std::string_view) override { return 0; }
  Variant invoke(automation::DispId id, automation::InvokeKind, automation::Args args) override {
    for (const auto& e : type_library()->event_interface(cqg::kCqgEventInterface).events()) {
      if (e.id == id) {
        events.push_back({e.name, std::vector<Variant>(args.begin(), args.end())});
        if (on_event) {
          on_event(events.back());
        }
      }
    }
    return {};
  }
  std::string_view type_name() const noexcept override { return "EventLog"; }

  std::vector<Event> named(std::string_view name) const {
    std::vector<Event> out;
    for (const auto& e : events) {
      if (e.name == name) {
        out.push_back(e);
      }
    }
    return out;
  }

  std::vector<Event> events;
  std::function<void(const Event&)> on_event;
};

// What a handler reads of OnInstrumentChanged while it handles it (the
// changed-quotes collection is the instrument's, reused from event to event).
struct SeenQuote {
  std::int64_t type;
  double price;
  bool valid;
};
inline std::vector<SeenQuote> read_quotes(const EventLog::Event& e) {
  std::vector<SeenQuote> out;
  for (const auto& q : Object(e.args[1]).items()) {
    const Object quote(q);
    out.push_back({quote.get("Type").as_int(), quote.get("price").as_double(),
                   quote.get("IsValid").as_bool()});
  }
  return out;
}

class ObjectModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimConfig config{.seed = 7,
                     .start_time = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} +
                                   std::chrono::hours(14),
                     .manual_clock = true};
    configure(config);
    sim.controls().set_config(config);
    configure_faults(sim.controls());
    cel = Object(automation::create_object(cqg::kCqgProgId));
    cel.dispatch()->advise(log);
    cel.call("Startup");
    pump();
    log->events.clear();
  }

  // A test's own settings, on top of the fixture's, before Startup.
  virtual void configure(SimConfig&) {}
  virtual void configure_faults(SimControls&) {}

  // Runs what is waiting in this thread's queue (answers posted at once).
  void pump() {
    for (int i = 0; i < 3; ++i) {
      automation::pump_waiting_messages();
    }
  }
  void advance(std::chrono::nanoseconds by) {
    sim.driver().advance(by);
    pump();
  }
  Object subscribe(const std::string& symbol) {
    cel.call("NewInstrument", symbol);
    pump();
    const auto resolved = log->named("OnInstrumentResolved");
    EXPECT_FALSE(resolved.empty());
    Object instrument(resolved.back().args.at(1));
    instrument.put("DataSubscriptionLevel", k("dsQuotesAndBBA"));
    pump();
    return instrument;
  }
  Object first_account() {
    cel.put("AccountSubscriptionLevel", k("aslAccountUpdatesAndOrders"));
    advance(std::chrono::milliseconds(200));
    return Object(cel.object("Accounts").item(0));
  }

  automation::ComScope com;
  ScopedSimulator sim;
  std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
  Object cel;
};

inline Object bar_request(Object& cel, const char* symbol, std::int64_t lookback, bool daily) {
  const Object r(cel.call("CreateTimedBarsRequest"));
  r.put("Symbol", symbol);
  r.put("RangeStart", 0);
  r.put("RangeEnd", -lookback - 1);
  if (daily) {
    r.put("HistoricalPeriod", k("hpDaily"));
  } else {
    r.put("IntradayPeriod", k("pfds1Min"));
  }
  r.put("DailyBarClose", k("dbcLastQuoteOrSettlement"));
  r.put("UpdatesEnabled", true);
  r.call("IncludeOutput", k("tbrContractVolume"), true);
  r.call("IncludeOutput", k("tbrCommodityVolume"), true);
  r.put("SessionsFilter", "all");
  return r;
}

}  // namespace orbrix::cqgsim::object_tests
