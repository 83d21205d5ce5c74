#include "orbrix/cqgsim/simulator.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/object.hpp"
#include "orbrix/automation/wait.hpp"
#include "orbrix/cqg/vendor_ids.hpp"

namespace orbrix::cqgsim {
namespace {

using namespace std::chrono_literals;
using automation::Variant;

// Records events by name, on whatever thread fires them.
class NamedSink final : public automation::Dispatch {
 public:
  NamedSink() : Dispatch(FreeThreaded{}) {}
  automation::DispId get_id_of_name(std::string_view) override { return 0; }
  Variant invoke(automation::DispId id, automation::InvokeKind, automation::Args args) override {
    for (const auto& e : type_library()->event_interface(cqg::kCqgEventInterface).events()) {
      if (e.id == id) {
        events.push_back(e.name);
      }
    }
    last_args.assign(args.begin(), args.end());
    return {};
  }
  std::string_view type_name() const noexcept override { return "NamedSink"; }

  std::vector<std::string> events;
  std::vector<Variant> last_args;
};

// The simulator created on this thread's apartment, with a sink attached.
class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cel = automation::Object(automation::create_object(cqg::kCqgProgId));
    cel.dispatch()->advise(sink);
  }
  // Pumps this thread's messages until `pred` holds or `timeout` passes.
  template <class Pred>
  bool pump_until(Pred pred, std::chrono::milliseconds timeout) {
    automation::WaitHandle never{true, false};
    automation::WaitHandle* handles[] = {&never};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        return false;
      }
      if (automation::msg_wait_for_multiple_objects(
              handles, false, static_cast<std::uint32_t>(left.count()), automation::kQsAllEvents) ==
          automation::kWaitObject0 + 1) {
        automation::pump_waiting_messages();
      }
    }
    return true;
  }

  automation::ComScope com;
  ScopedSimulator sim;
  std::shared_ptr<NamedSink> sink = std::make_shared<NamedSink>();
  automation::Object cel;
};

TEST_F(SimulatorTest, StartupAnswersFromThePumpNotFromInsideTheCall) {
  cel.call("Startup");
  EXPECT_TRUE(sink->events.empty());
  ASSERT_TRUE(pump_until([&] { return sink->events.size() >= 2; }, 2s));
  EXPECT_EQ(sink->events,
            (std::vector<std::string>{"OnCELStarted", "OnDataConnectionStatusChanged"}));
  EXPECT_EQ(sink->last_args.at(0).as_int(), type_library()->constant("csConnectionUp"));
  EXPECT_TRUE(cel.get("IsStarted").as_bool());
  EXPECT_EQ(sim.driver().startup_calls(), 1);
}

TEST_F(SimulatorTest, StartupCanFailWithADataErrorLate) {
  sim.controls().set_startup(StartupBehaviour::data_error(12, "bad login", 30ms));
  const auto start = std::chrono::steady_clock::now();
  cel.call("Startup");
  ASSERT_TRUE(pump_until([&] { return !sink->events.empty(); }, 2s));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
  EXPECT_EQ(sink->events, std::vector<std::string>{"OnDataError"});
  ASSERT_EQ(sink->last_args.size(), 2u);
  automation::Object error(sink->last_args[0]);
  EXPECT_EQ(error.get("Code").as_int(), 12);
  EXPECT_EQ(error.get("Description").as_string(), "bad login");
  EXPECT_EQ(sink->last_args[1].as_string(), "bad login");
}

// On the manual clock every delayed answer is due on the simulator's clock
// alone: start-up and log-on answers minutes late arrive by advance, at once.
TEST_F(SimulatorTest, OnTheManualClockLateAnswersArriveByAdvanceAlone) {
  sim.controls().set_config({.manual_clock = true});
  sim.controls().set_startup(StartupBehaviour::started(2min));
  sim.controls().set_gateway(GatewayBehaviour::after(3min));
  cel.call("Startup");
  automation::pump_waiting_messages();
  sim.driver().advance(2min - 1ms);
  EXPECT_TRUE(sink->events.empty());
  sim.driver().advance(1ms);
  EXPECT_EQ(sink->events,
            (std::vector<std::string>{"OnCELStarted", "OnDataConnectionStatusChanged"}));
  cel.call("GWLogon", "user", "password");
  sim.driver().advance(3min - 1ms);
  EXPECT_EQ(sink->events.size(), 2u);
  sim.driver().advance(1ms);
  EXPECT_EQ(sink->events.back(), "OnGWConnectionStatusChanged");
  EXPECT_EQ(sink->last_args.at(0).as_int(), type_library()->constant("csConnectionUp"));

  // A start-up that fails late fails on the same clock.
  automation::Object second(automation::create_object(cqg::kCqgProgId));
  auto second_sink = std::make_shared<NamedSink>();
  second.dispatch()->advise(second_sink);
  sim.controls().set_startup(StartupBehaviour::data_error(4, "no licence", 1min));
  second.call("Startup");
  automation::pump_waiting_messages();
  sim.driver().advance(1min - 1ms);
  EXPECT_TRUE(second_sink->events.empty());
  sim.driver().advance(1ms);
  EXPECT_EQ(second_sink->events, std::vector<std::string>{"OnDataError"});
}

// A step moves the manual clock straight to what is due next (a market
// event or a late answer) and no further: the answer comes at its time.
TEST_F(SimulatorTest, AStepMovesTheManualClockToWhatIsDueNext) {
  sim.controls().set_config({.manual_clock = true});
  sim.controls().set_gateway(GatewayBehaviour::after(3min));
  cel.call("Startup");
  automation::pump_waiting_messages();
  sim.driver().advance(0ms);
  const auto t0 = sim.driver().now();
  cel.call("GWLogon", "user", "password");
  const auto first = sim.driver().step();
  EXPECT_GT(first, t0);  // the market's first event, well before the answer
  EXPECT_LT(first, t0 + 3min);
  int steps = 1;
  while (sink->events.back() != "OnGWConnectionStatusChanged" && steps < 100000) {
    sim.driver().step();
    ++steps;
  }
  EXPECT_EQ(sim.driver().now(), t0 + 3min);
  EXPECT_GT(steps, 10);

  // The same in one call: steps until the condition holds.
  cel.call("GWLogoff");
  const auto t1 = sim.driver().now();
  const int taken = sim.driver().step_until(
      [&] {
        return sink->events.back() == "OnGWConnectionStatusChanged" &&
               sink->last_args.at(0).as_int() == type_library()->constant("csConnectionDown");
      },
      100000);
  EXPECT_EQ(sim.driver().now(), t1 + 3min);
  EXPECT_GT(taken, 10);
  EXPECT_EQ(sim.driver().step_until([] { return false; }, 3), 3);
}

// A fault plan set whole applies to the next request; one setter changes
// only its own behaviour.
TEST_F(SimulatorTest, AFaultPlanSetWholeAppliesToTheNextRequest) {
  FaultPlan plan;
  plan.startup = StartupBehaviour::silent();
  plan.gateway = GatewayBehaviour::never();
  sim.controls().set_fault_plan(plan);
  sim.controls().set_ticks_resolution(AnswerBehaviour::empty());
  const FaultPlan now = sim.controls().fault_plan();
  EXPECT_EQ(now.gateway.answer, GatewayBehaviour::Answer::Never);
  EXPECT_EQ(now.ticks_resolution.answer, AnswerBehaviour::Answer::Empty);
  EXPECT_EQ(now.account_reload.delay, 100ms);  // untouched: its default
  cel.call("Startup");
  EXPECT_FALSE(pump_until([&] { return !sink->events.empty(); }, 50ms));
}

// Delays are checked as they enter: one of centuries once overflowed the
// clock's nanoseconds and raised the clock's error out of the request that
// used it. The longest allowed is scheduled; the clock refuses to be moved
// past its end.
TEST_F(SimulatorTest, DelaysBeyondTheirRangeAreRefusedNamingTheDelay) {
  const auto centuries =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::hours(24 * 365 * 300));
  const auto refusal = [](auto&& set) {
    try {
      set();
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("taken");
  };
  EXPECT_NE(refusal([&] {
              sim.controls().set_instrument_resolution(AnswerBehaviour::after(centuries));
            }).find("instrument_resolution delay"),
            std::string::npos);
  EXPECT_NE(refusal([&] {
              sim.controls().set_gateway(GatewayBehaviour::after(-1ms));
            }).find("gateway delay"),
            std::string::npos);
  EXPECT_NE(
      refusal([&] {
        sim.controls().set_startup(StartupBehaviour::started(std::chrono::milliseconds::max()));
      }).find("startup delay"),
      std::string::npos);
  EXPECT_NE(refusal([&] { sim.controls().set_shutdown_delay(centuries); }).find("shutdown_delay"),
            std::string::npos);
  FaultPlan plan;
  plan.order_placement = AnnouncementBehaviour::after(centuries);
  EXPECT_NE(refusal([&] { sim.controls().set_fault_plan(plan); }).find("order_placement delay"),
            std::string::npos);
  EXPECT_EQ(sim.controls().fault_plan().order_placement.delay, 0ms);  // nothing changed

  sim.controls().set_config({.manual_clock = true});
  sim.controls().set_gateway(GatewayBehaviour::after(kMaxAnswerDelay));
  cel.call("Startup");
  automation::pump_waiting_messages();
  sim.driver().advance(0ms);
  ASSERT_EQ(sink->events.size(), 2u);
  // Scheduled a year ahead (running the market a year would take long).
  EXPECT_NO_THROW(cel.call("GWLogon", "user", "password"));
  sim.driver().advance(1s);
  EXPECT_EQ(sink->events.size(), 2u);
  EXPECT_NE(refusal([&] {
              sim.driver().advance(std::chrono::hours(24 * 365 * 280));
            }).find("clock's end"),
            std::string::npos);
  EXPECT_NE(refusal([&] { sim.driver().advance(-1ns); }).find("advance"), std::string::npos);
}

// A slow Shutdown holds the simulator's thread for the wall-clock delay,
// then shuts down as ever.
TEST_F(SimulatorTest, ShutdownCanTakeItsTime) {
  cel.call("Startup");
  ASSERT_TRUE(pump_until([&] { return !sink->events.empty(); }, 2s));
  sim.controls().set_shutdown_delay(150ms);
  EXPECT_EQ(sim.controls().fault_plan().shutdown_delay, 150ms);
  const auto start = std::chrono::steady_clock::now();
  cel.call("Shutdown");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  EXPECT_FALSE(cel.get("IsStarted").as_bool());
  EXPECT_THROW(cel.call("GWLogon", "user", "password"), std::logic_error);
}

TEST_F(SimulatorTest, ASilentStartupNeverAnswers) {
  sim.controls().set_startup(StartupBehaviour::silent());
  cel.call("Startup");
  EXPECT_FALSE(pump_until([&] { return !sink->events.empty(); }, 50ms));
}

TEST_F(SimulatorTest, ApiConfigurationHoldsTypedValuesReadableBack) {
  auto c = cel.object("APIConfiguration");
  EXPECT_TRUE(c.get("CollectionsThrowException").as_bool());
  c.put("collectionsthrowexception", false);
  c.put("TimeZoneCode", type_library()->constant("tzChina"));
  EXPECT_FALSE(cel.object("APIConfiguration").get("CollectionsThrowException").as_bool());
  EXPECT_EQ(c.get("TimeZoneCode").as_int(), type_library()->constant("tzChina"));
  EXPECT_THROW(c.put("ReadyStatusCheck", "0"), automation::TypeError);
  EXPECT_THROW(c.put("NoSuchSetting", 1), automation::UnknownNameError);
}

TEST_F(SimulatorTest, InjectedEventsAreCheckedAndFiredFromThePump) {
  sim.driver().inject("OnGWConnectionStatusChanged",
                      {Variant(type_library()->constant("csConnectionUp"))});
  EXPECT_THROW(sim.driver().inject("OnNoSuchEvent", {}), std::logic_error);
  EXPECT_THROW(sim.driver().inject("OnIdle", {Variant(1)}), std::invalid_argument);
  ASSERT_TRUE(pump_until([&] { return !sink->events.empty(); }, 2s));
  EXPECT_EQ(sink->events, std::vector<std::string>{"OnGWConnectionStatusChanged"});
}

TEST_F(SimulatorTest, TheJournalRecordsEachCallWhileItIsOn) {
  auto c = cel.object("APIConfiguration");  // before the journal starts: not recorded
  auto& journal = sim.driver().journal();
  journal.start();
  c.put("TimeZoneCode", type_library()->constant("tzChina"));
  (void)cel.get("isstarted");
  {
    CallJournal::Pause pause(journal);
    (void)cel.get("IsStarted");
  }
  EXPECT_THROW(cel.call("NewInstrument", "EP"), std::logic_error);  // not started: still a call
  journal.stop();
  (void)cel.get("IsStarted");
  const auto calls = journal.calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].object, "APIConfiguration");
  EXPECT_EQ(calls[0].member, "TimeZoneCode");
  EXPECT_EQ(calls[0].kind, automation::InvokeKind::PropertyPut);
  EXPECT_EQ(calls[0].args,
            std::vector<std::string>{std::to_string(type_library()->constant("tzChina"))});
  EXPECT_EQ(calls[1].member, "IsStarted");  // the object's own spelling
  EXPECT_EQ(calls[2].object, "CQGCEL");
  EXPECT_EQ(calls[2].member, "NewInstrument");
  EXPECT_EQ(calls[2].args, std::vector<std::string>{"EP"});
  EXPECT_EQ(calls[2].thread, std::this_thread::get_id());
}

TEST(Simulator, RefusesToLiveOutsideAnApartment) {
  ScopedSimulator sim;
  EXPECT_THROW(automation::create_object(cqg::kCqgProgId), std::logic_error);
  EXPECT_THROW(sim.driver().inject("OnIdle", {}), std::logic_error);  // no instance
}

TEST(SimulatorTypeLibrary, ConstantsAreDistinctAndEveryEventHasAnId) {
  const auto lib = type_library();
  std::set<std::int64_t> values;
  for (auto name : {"qtAsk", "qtBid", "tptAsk", "tptBid", "csConnectionUp", "csConnectionDown",
                    "osFilled", "osBusted", "ctAdded", "fsNormal", "osdBuy", "osdSell", "tzChina",
                    "dsQuotesAndBBA", "actAccountsReloaded", "aslNone", "pslNoPositions"}) {
    EXPECT_TRUE(values.insert(lib->constant(name)).second) << name;
  }
  const auto& events = lib->event_interface(cqg::kCqgEventInterface).events();
  EXPECT_EQ(events.size(), 104u);
  std::set<automation::DispId> ids;
  for (const auto& e : events) {
    EXPECT_TRUE(ids.insert(e.id).second) << e.name;
  }
  EXPECT_THROW(lib->constant("qtNoSuchThing"), automation::UnknownNameError);
}

}  // namespace
}  // namespace orbrix::cqgsim
