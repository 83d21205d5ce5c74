#include <gtest/gtest.h>

#include <string>

#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/testing/captured_output.hpp"
#include "orbrix/cqg/testing/recording_sink.hpp"
#include "orbrix/cqgsim/simulator.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using automation::Variant;
using testing::CapturedOutput;
using testing::RecordingSink;

constexpr auto kWait = 5s;

long worker_thread(const CapturedOutput& out) {
  for (const auto& l : out.lines()) {
    if (l.message == "COM framework is initializing...") {
      return l.thread;
    }
  }
  return -1;
}

TEST(CelEvents, CatalogueFamiliesHaveTheirShapes) {
  ASSERT_EQ(kCelEventCount, 104u);
  for (std::size_t i = 0; i < kCelEventCount; ++i) {
    const auto e = static_cast<CelEvent>(i);
    const std::string name(cel_event_name(e));
    auto ends_with = [&](std::string_view s) { return name.ends_with(s); };
    if (ends_with("BarsAdded") || ends_with("YieldsAdded") || ends_with("StudyAdded") ||
        ends_with("ConditionAdded") || ends_with("ExpressionAdded")) {
      EXPECT_EQ(cel_event_param_count(e), 1) << name;
    }
    if (ends_with("Updated") || ends_with("Inserted") || ends_with("Removed")) {
      if (name != "OnTicksRemoved") {
        EXPECT_EQ(cel_event_param_count(e), 2) << name;
      }
    }
  }
  EXPECT_EQ(cel_event_name(CelEvent::OnOrderChanged), "OnOrderChanged");
  EXPECT_EQ(cel_event_param_count(CelEvent::OnOrderChanged), 5);
  EXPECT_EQ(cel_event_param_count(CelEvent::OnIdle), 0);
}

class SinkTest : public ::testing::Test {
 protected:
  cqgsim::ScopedSimulator sim;
  CapturedOutput out;
};

TEST_F(SinkTest, EveryVendorEventReachesTheHandlerOfItsNameOnTheWorker) {
  ApiHost host;
  auto sink = host.Init<RecordingSink>(nullptr);
  for (std::size_t i = 0; i < kCelEventCount; ++i) {
    const auto e = static_cast<CelEvent>(i);
    std::vector<Variant> args;
    for (int a = 0; a < cel_event_param_count(e); ++a) {
      args.emplace_back(static_cast<std::int64_t>(i * 10 + a));
    }
    sim.driver().inject(cel_event_name(e), args);
  }
  ASSERT_TRUE(sink->wait_for("OnStrategyQuoteRequestResolved", 1, kWait));
  const long worker = worker_thread(out);
  const auto calls = sink->calls();
  // Startup's two reports come first (the start, then the data connection),
  // then the injected events in order.
  ASSERT_EQ(calls.size(), kCelEventCount + 2);
  EXPECT_EQ(calls[0].event, "OnCELStarted");
  EXPECT_EQ(calls[1].event, "OnDataConnectionStatusChanged");
  for (std::size_t i = 0; i < kCelEventCount; ++i) {
    const auto& call = calls[i + 2];
    EXPECT_EQ(call.event, cel_event_name(static_cast<CelEvent>(i)));
    EXPECT_EQ(call.thread, worker);
    for (std::size_t a = 0; a < call.args.size(); ++a) {
      EXPECT_EQ(call.args[a].as_int(), static_cast<std::int64_t>(i * 10 + a)) << call.event;
    }
  }
  host.Shutdown();
}

// Fails in one handler; records another.
class ThrowingSink : public RecordingSink {
 public:
  void OnIdle() override { throw std::runtime_error("boom"); }
};

TEST_F(SinkTest, AHandlersExceptionIsTracedAndThePumpGoesOn) {
  ApiHost host;
  auto sink = host.Init<ThrowingSink>(nullptr);
  sim.driver().inject("OnIdle", {});
  sim.driver().inject("OnIsReady", {Variant(true)});
  ASSERT_TRUE(sink->wait_for("OnIsReady", 1, kWait));
  const long worker = worker_thread(out);
  const auto worker_lines = out.messages_of(worker);
  EXPECT_NE(std::find(worker_lines.begin(), worker_lines.end(),
                      "Exception in RecordingSink.OnIdle: boom"),
            worker_lines.end());
}

// A sink that does not name itself: its errors still carry its class name.
class IdleThrower : public CELSinkBase {
 public:
  void OnIdle() override { throw std::runtime_error("boom"); }
  void OnIsReady(const Variant&) override { ready.set(); }
  automation::Event ready;
};

TEST_F(SinkTest, AHandlersErrorIsTracedUnderTheSinksOwnClassName) {
  ApiHost host;
  auto sink = host.Init<IdleThrower>(nullptr);
  sim.driver().inject("OnIdle", {});
  sim.driver().inject("OnIsReady", {Variant(true)});
  ASSERT_TRUE(sink->ready.wait(5));
  EXPECT_EQ(sink->type_name(), "IdleThrower");
  EXPECT_TRUE(out.contains("Exception in IdleThrower.OnIdle: boom"));
}

TEST_F(SinkTest, EventsWithoutOverrideReachTheBaseAndChangeNothing) {
  ApiHost host;
  auto sink = host.Init<CELSinkBase>(nullptr);
  sim.driver().inject("OnTimedBarsAdded", {Variant(1)});
  sim.driver().inject("OnDataError", {Variant(), Variant("late")});
  // A call into the apartment queues behind the injected events: when it
  // returns, they have been delivered.
  host.cqgCEL.get("IsStarted");
  // The internal sink still saw the data error next to the do-nothing base.
  EXPECT_TRUE(host.errorHappened);
}

TEST_F(SinkTest, DataErrorReportsTheErrorObjectSetsTheFlagAndReleasesStart) {
  ApiHost host;
  auto sink = host.Init<RecordingSink>(nullptr);
  EXPECT_FALSE(host.errorHappened);
  sim.driver().inject("OnDataError", {Variant(cqgsim::make_error(5, "x")), Variant("ignored")});
  ASSERT_TRUE(sink->wait_for("OnDataError", 1, kWait));
  EXPECT_TRUE(out.wait_for("SinkInternal: OnDataError: Code: 5 Description: x", kWait));
  EXPECT_TRUE(host.errorHappened);
  EXPECT_TRUE(host.eventCELStarted.is_set());
  // A second start after the error changes neither the flag nor the event.
  sim.driver().inject("OnCELStarted", {});
  ASSERT_TRUE(sink->wait_for("OnCELStarted", 2, kWait));
  EXPECT_TRUE(host.errorHappened);
  EXPECT_TRUE(host.eventCELStarted.is_set());
}

TEST_F(SinkTest, DataErrorWithoutErrorObjectWritesNothingButStillFlags) {
  auto behaviour = cqgsim::StartupBehaviour::data_error(3, "no object");
  behaviour.with_error_object = false;
  sim.controls().set_startup(behaviour);
  ApiHost host;
  host.Init<RecordingSink>(nullptr);
  EXPECT_TRUE(host.errorHappened);
  for (const auto& m : out.messages()) {
    EXPECT_EQ(m.find("OnDataError"), std::string::npos) << m;
  }
}

}  // namespace
}  // namespace orbrix::cqg
