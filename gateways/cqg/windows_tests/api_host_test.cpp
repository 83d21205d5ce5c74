// The API host over the COM server: start-up and shutdown on two threads,
// calls carried into the worker, and a missing server.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "orbrix/automation/errors.hpp"
#include "orbrix/cqg/testing/captured_output.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "stack.hpp"

namespace orbrix::wintest {
namespace {

using Strings = std::vector<std::string>;

TEST(WindowsApiHost, StartsAndShutsDownInOrderOnItsTwoThreadsLeavingNoComObject) {
  cqg::testing::CapturedOutput out;
  long worker = 0;
  {
    cqg::ApiHost host(host_options());
    host.Init<cqg::BrokerLink>(nullptr);
    worker = static_cast<long>(host.cqgCEL.get("ThreadId").as_int());
    host.Shutdown();
  }
  const long caller = cqg::current_thread_id();
  ASSERT_NE(worker, caller);
  EXPECT_EQ(
      out.messages_of(worker),
      (Strings{"COM framework is initializing...", "COM framework is initialized!",
               "CQG.CQGCEL.4 creation...", "CQG.CQGCEL.4 created!", "Marshal CQGCEL in stream",
               "CQGCEL is marshaled in stream", "Internal sink subscription to events",
               "Internal sink ctor", "Internal sink subscribed", "Sink subscription to events",
               "Sink subscribed", "Internal sink is initialized", "Starting message pumping..",
               "SinkInternal: CELStarted!", "COM framework is uninitializing...",
               "COM framework is uninitialized!"}));
  EXPECT_EQ(
      out.messages_of(caller),
      (Strings{"Waiting for CQGCEL creation..", "CQGCEL is created!",
               "Marshaled CQGCEL from stream", "CQGCEL is marshaled from stream!",
               "CQGCEL default configuring...", "Startup CQGCEL..", "Waiting for CQGCEL start..",
               "CQGCEL has started.", "CQGCEL is being shut down..", "CQGCEL is shut down."}));
  // The worker released every reference before it uninitialised COM.
  EXPECT_EQ(live_objects(), 0);
}

TEST(WindowsApiHost, EngineThreadCallsRunOnTheWorkerOneRoundTripEach) {
  Stack<> s;
  const auto calls = s.hops([&] {
    for (int i = 0; i < 3; ++i) {
      EXPECT_NE(s.host.cqgCEL.get("ThreadId").as_int(),
                static_cast<std::int64_t>(cqg::current_thread_id()));
    }
  });
  EXPECT_EQ(calls, 3u);
  EXPECT_FALSE(s.host.on_worker_thread());
  // The configuration the host applied reached the COM object.
  EXPECT_EQ(s.host.cqgCEL.object("APIConfiguration").get("TimeZoneCode"),
            automation::Variant(cqg::vendor_constant("tzChina")));
}

TEST(WindowsApiHost, MissingServerReleasesInitWithAnError) {
  {
    // The ProgID is there, but no class object answers for its CLSID.
    cqg::ApiHost host(host_options(/*register_server=*/false));
    EXPECT_THROW(host.Init<cqg::BrokerLink>(nullptr), automation::ClassNotRegisteredError);
  }
  remove_prog_id();
  {
    cqg::ApiHost host(host_options());
    try {
      host.Init<cqg::BrokerLink>(nullptr);
      ADD_FAILURE() << "Init returned without a server";
    } catch (const automation::ClassNotRegisteredError& e) {
      EXPECT_NE(std::string(e.what()).find("CQG.CQGCEL.4"), std::string::npos) << e.what();
    }
  }
  restore_prog_id();
  EXPECT_EQ(live_objects(), 0);
}

TEST(WindowsApiHost, SimulatorIsNotTheDefaultAndCannotBeAskedFor) {
  ASSERT_EQ(std::getenv("ORBRIX_CQG_SIMULATOR"), nullptr);
  EXPECT_FALSE(cqg::simulator_enabled_by_environment());
  cqg::ApiHost::Options options = host_options();
  options.use_simulator = true;
  EXPECT_THROW(cqg::ApiHost{options}, std::logic_error);
}

}  // namespace
}  // namespace orbrix::wintest
