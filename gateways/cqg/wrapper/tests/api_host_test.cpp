#include "orbrix/cqg/api_host.hpp"

#include <gtest/gtest.h>

#include <future>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/registry.hpp"
#include "orbrix/cqg/start.hpp"
#include "orbrix/cqg/testing/captured_output.hpp"
#include "orbrix/cqg/testing/recording_sink.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqg/vendor_ids.hpp"
#include "orbrix/cqgsim/simulator.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;
using automation::Variant;
using cqgsim::StartupBehaviour;
using testing::CapturedOutput;
using testing::RecordingSink;
using Strings = std::vector<std::string>;

constexpr std::string_view kSimulatorLine =
    "CQG.CQGCEL.4 is the orbrix CQGCEL simulator, not the vendor's server: market data is "
    "simulated and orders are paper-traded (ORBRIX_CQG_SIMULATOR=off turns it off)";

class ApiHostTest : public ::testing::Test {
 protected:
  long thread_of(std::string_view message) const {
    for (const auto& l : out.lines()) {
      if (l.message == message) {
        return l.thread;
      }
    }
    return -1;
  }
  // Index of a message in the whole output, -1 when absent.
  long position_of(std::string_view message) const {
    const auto all = out.messages();
    const auto it = std::find(all.begin(), all.end(), message);
    return it == all.end() ? -1 : it - all.begin();
  }

  cqgsim::ScopedSimulator sim;
  CapturedOutput out;
};

TEST_F(ApiHostTest, NormalStartWritesWorkerAndCallerLinesInOrderThenShutsDown) {
  {
    ApiHost host;
    auto sink = host.Init<RecordingSink>(nullptr);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(host.sink, sink);
    EXPECT_FALSE(host.errorHappened);
    EXPECT_TRUE(host.eventAllPrepared.is_set());
    host.Shutdown();
  }
  const long caller = cqg::current_thread_id();
  const long worker = thread_of("COM framework is initializing...");
  ASSERT_NE(worker, caller);
  EXPECT_EQ(
      out.messages_of(worker),
      (Strings{"COM framework is initializing...", "COM framework is initialized!",
               "CQG.CQGCEL.4 creation...", "CQG.CQGCEL.4 created!", std::string(kSimulatorLine),
               "Marshal CQGCEL in stream", "CQGCEL is marshaled in stream",
               "Internal sink subscription to events", "Internal sink ctor",
               "Internal sink subscribed", "Sink subscription to events", "Sink subscribed",
               "Internal sink is initialized", "Starting message pumping..",
               "SinkInternal: CELStarted!", "COM framework is uninitializing...",
               "COM framework is uninitialized!"}));
  EXPECT_EQ(
      out.messages_of(caller),
      (Strings{"Waiting for CQGCEL creation..", "CQGCEL is created!",
               "Marshaled CQGCEL from stream", "CQGCEL is marshaled from stream!",
               "CQGCEL default configuring...", "Startup CQGCEL..", "Waiting for CQGCEL start..",
               "CQGCEL has started.", "CQGCEL is being shut down..", "CQGCEL is shut down."}));
  // The worker's last lines come before the caller's final one.
  EXPECT_LT(position_of("COM framework is uninitialized!"), position_of("CQGCEL is shut down."));
  EXPECT_LT(position_of("Internal sink is initialized"), position_of("CQGCEL is created!"));
}

TEST_F(ApiHostTest, DataErrorDuringStartReturnsTheSinkWithTheErrorFlag) {
  sim.controls().set_startup(StartupBehaviour::data_error(7, "no licence", 20ms));
  ApiHost host;
  auto sink = host.Init<RecordingSink>(nullptr);
  ASSERT_NE(sink, nullptr);
  EXPECT_TRUE(host.errorHappened);
  const auto caller = out.messages_of(cqg::current_thread_id());
  const Strings tail(caller.end() - 2, caller.end());
  EXPECT_EQ(tail, (Strings{"CQGCEL has started.", "Error happened during CQGCEL start up!"}));
  EXPECT_TRUE(out.contains("SinkInternal: OnDataError: Code: 7 Description: no licence"));
}

TEST_F(ApiHostTest, DefaultAndCustomConfiguration) {
  int custom_calls = 0;
  Variant zone_seen_by_custom;
  ApiHost host;
  host.Init<RecordingSink>([&](const automation::Object& configuration) {
    ++custom_calls;
    // Runs after the fixed values and may override them.
    zone_seen_by_custom = configuration.get("TimeZoneCode");
    configuration.put("ReadyStatusCheck", 3);
  });
  EXPECT_EQ(custom_calls, 1);
  EXPECT_EQ(zone_seen_by_custom.as_int(), vendor_constant("tzChina"));
  const auto c = host.cqgCEL.object("APIConfiguration");
  EXPECT_FALSE(c.get("CollectionsThrowException").as_bool());
  EXPECT_TRUE(c.get("NewInstrumentChangeMode").as_bool());
  EXPECT_EQ(c.get("ReadyStatusCheck").as_int(), 3);
  EXPECT_TRUE(c.get("IncludeOrderTransactions").as_bool());
  EXPECT_TRUE(c.get("UseOrderSide").as_bool());
  const auto caller = out.messages_of(cqg::current_thread_id());
  EXPECT_NE(std::find(caller.begin(), caller.end(), "CQGCEL custom configuring..."), caller.end());
}

TEST_F(ApiHostTest, WithoutCustomConfigurationOnlyTheDefaultStepRuns) {
  ApiHost host;
  host.Init<RecordingSink>(nullptr);
  EXPECT_TRUE(out.contains("CQGCEL default configuring..."));
  EXPECT_FALSE(out.contains("CQGCEL custom configuring..."));
}

TEST_F(ApiHostTest, AQuitMessageEndsThePumpLikeTheShutdownEvent) {
  ApiHost host;
  host.Init<RecordingSink>(nullptr);
  sim.driver().instance()->apartment()->post_quit();
  EXPECT_TRUE(out.wait_for("COM framework is uninitialized!", 5s));
  // The vendor call of Shutdown can no longer reach the ended apartment; the
  // worker is joined all the same.
  EXPECT_THROW(host.Shutdown(), automation::DisconnectedError);
}

TEST_F(ApiHostTest, TheWorkersErrorsReachTheCallerThroughTheProxy) {
  ApiHost host;
  host.Init<RecordingSink>(nullptr);
  EXPECT_THROW(host.cqgCEL.call("NoSuchMethod"), automation::UnknownNameError);
  try {
    host.cqgCEL.call("Startup", 1);
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "CQGCEL.Startup takes 0 arguments (1 given)");
  }
  try {
    host.cqgCEL.object("APIConfiguration").put("UseOrderSide", "yes");
    FAIL();
  } catch (const automation::TypeError& e) {
    EXPECT_STREQ(e.what(), "APIConfiguration.UseOrderSide: expected boolean, got text");
  }
}

TEST_F(ApiHostTest, AnUnknownProgIdFailsInitAtOnceWithTheWorkersError) {
  ApiHost host;
  automation::ClassRegistry::instance().unregister_class(kCqgProgId);
  try {
    host.Init<RecordingSink>(nullptr);
    FAIL() << "Init succeeded without a vendor class";
  } catch (const automation::ClassNotRegisteredError& e) {
    EXPECT_STREQ(e.what(), "Invalid class string: no class is registered as \"CQG.CQGCEL.4\"");
  }
  EXPECT_FALSE(host.eventAllPrepared.is_set());
  // The failed worker still uninitialised its apartment.
  EXPECT_TRUE(out.contains("COM framework is uninitialized!"));
  EXPECT_NO_THROW(host.Shutdown());
}

TEST_F(ApiHostTest, AVendorThatNeverAnswersStartUpFailsInitAfterTheBoundedWait) {
  sim.controls().set_startup(StartupBehaviour::silent());
  ApiHost::Options options;
  options.startup_timeout = 100ms;
  ApiHost host(options);
  const auto start = std::chrono::steady_clock::now();
  try {
    host.Init<RecordingSink>(nullptr);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "CQGCEL start-up timed out: no OnCELStarted or OnDataError within 100 ms");
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_EQ(sim.driver().startup_calls(), 1);
  host.Shutdown();
  EXPECT_TRUE(out.contains("CQGCEL is shut down."));
}

TEST_F(ApiHostTest, ALateStartAnswerIsWaitedForAlsoWithoutALimit) {
  sim.controls().set_startup(StartupBehaviour::started(150ms));
  // Centuries once overflowed into a deadline in the past: Init gave up at
  // once. Too long for the clock, it is no limit; 0 is refused.
  ApiHost::Options options;
  options.startup_timeout = std::chrono::hours(24 * 365 * 300);
  ApiHost::Options none;
  none.startup_timeout = 0ms;
  try {
    ApiHost refused(none);
    ADD_FAILURE() << "a startup_timeout of 0 was taken";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("startup_timeout"), std::string::npos);
  }
  ApiHost host(options);
  const auto start = std::chrono::steady_clock::now();
  host.Init<RecordingSink>(nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  EXPECT_TRUE(host.eventCELStarted.is_set());
}

TEST_F(ApiHostTest, AFailingPumpStillUninitialisesAndCallsFailInsteadOfHanging) {
  std::atomic<bool> break_wait{false};
  ApiHost::Options options;
  options.message_wait = [&](std::span<automation::WaitHandle* const> handles) -> std::uint32_t {
    // Serve the start-up normally, then report a value the pump does not know.
    if (break_wait) {
      return 77;
    }
    return automation::msg_wait_for_multiple_objects(handles, false, automation::kInfinite,
                                                     automation::kQsAllEvents);
  };
  ApiHost host(std::move(options));
  host.Init<RecordingSink>(nullptr);
  break_wait = true;
  while (!out.contains("COM framework is uninitialized!")) {
    try {
      host.cqgCEL.get("IsStarted");  // each call wakes the pump once
    } catch (const automation::DisconnectedError&) {
    }
  }
  EXPECT_TRUE(
      out.contains("cel_threadfunc stopped by an error: unexpected win32wait return value"));
  EXPECT_THROW(host.cqgCEL.get("IsStarted"), automation::DisconnectedError);
  EXPECT_THROW(host.Shutdown(), automation::DisconnectedError);
}

TEST_F(ApiHostTest, ShutdownTwiceAndDestructionWithoutShutdownAreSafe) {
  {
    ApiHost host;
    host.Init<RecordingSink>(nullptr);
  }  // the destructor shuts down
  EXPECT_TRUE(out.contains("CQGCEL is shut down."));
  ApiHost host;
  host.Init<RecordingSink>(nullptr);
  host.Shutdown();
  EXPECT_NO_THROW(host.Shutdown());
}

// Samples for the runner.
struct StartingSample : RecordingSink {
  void Init(ApiHost& host) { this->host = &host; }
  void Start() {
    ran = true;
    if (fail) {
      throw std::runtime_error("sample failed");
    }
  }
  ApiHost* host = nullptr;
  static inline bool ran = false;
  static inline bool fail = false;
};

TEST_F(ApiHostTest, RunnerWritesAFailingStartsErrorThenShutsDownAndReturns) {
  StartingSample::ran = false;
  StartingSample::fail = true;
  EXPECT_NO_THROW(Start<StartingSample>());
  EXPECT_TRUE(StartingSample::ran);
  EXPECT_LT(position_of("Exception: sample failed"), position_of("CQGCEL is being shut down.."));
  EXPECT_TRUE(out.contains("CQGCEL is shut down."));
}

TEST_F(ApiHostTest, RunnerSkipsTheSampleAfterAStartUpError) {
  sim.controls().set_startup(StartupBehaviour::data_error(1, "refused"));
  StartingSample::ran = false;
  StartingSample::fail = false;
  Start<StartingSample>();
  EXPECT_FALSE(StartingSample::ran);
  EXPECT_TRUE(out.contains("CQGCEL is shut down."));
}

TEST_F(ApiHostTest, ASecondShutdownRacingTheFirstReturnsOnlyAfterTheWorkerHasEnded) {
  auto host = std::make_unique<ApiHost>();
  auto sink = host->Init<RecordingSink>(nullptr);
  // Keep the worker busy so the first Shutdown is still waiting for it when
  // the second one comes.
  std::latch busy(1);
  sim.driver().instance()->apartment()->post([&] {
    busy.count_down();
    std::this_thread::sleep_for(200ms);
  });
  busy.wait();
  std::thread first([&] { host->Shutdown(); });
  ASSERT_TRUE(out.wait_for("CQGCEL is being shut down..", 5s));
  host->Shutdown();
  EXPECT_TRUE(out.contains("COM framework is uninitialized!"));
  first.join();
  host.reset();  // and the host goes without terminating the process
  EXPECT_TRUE(out.contains("CQGCEL is shut down."));
}

// Standard output on a full device for the scope.
class FullOutput {
 public:
  FullOutput() : file_(std::fopen("/dev/full", "w")), previous_(set_output_stream(file_)) {}
  ~FullOutput() {
    set_output_stream(previous_);
    std::fclose(file_);
  }

 private:
  std::FILE* file_;
  std::FILE* previous_;
};

TEST_F(ApiHostTest, AnUnwritableOutputNeitherLeavesTheWorkerUnjoinedNorEndsTheProcess) {
  Mutex mutex;
  std::vector<std::string> reports;
  automation::set_error_reporter([&](std::string_view m) {
    MutexLock lock(mutex);
    reports.emplace_back(m);
  });
  {
    ApiHost host;
    host.Init<RecordingSink>(nullptr);
    FullOutput full;
    EXPECT_THROW(host.Shutdown(), std::runtime_error);  // its first line cannot be written
  }  // joined: destroying the host does not terminate
  {
    // The worker ran to its end; its unwritable last lines were reported.
    MutexLock lock(mutex);
    EXPECT_TRUE(std::any_of(reports.begin(), reports.end(), [](const std::string& r) {
      return r.find("COM framework is uninitialized!") != std::string::npos;
    }));
  }
  {
    FullOutput full;
    ApiHost host;
    // The caller's first line fails; the worker's failing lines end it quietly.
    EXPECT_THROW(host.Init<RecordingSink>(nullptr), std::runtime_error);
  }
  automation::set_error_reporter(nullptr);
}

TEST_F(ApiHostTest, ASecondInitAfterAFailedOneIsRefusedAtOnce) {
  ApiHost host;
  automation::ClassRegistry::instance().unregister_class(kCqgProgId);
  EXPECT_THROW(host.Init<RecordingSink>(nullptr), automation::ClassNotRegisteredError);
  cqgsim::ScopedSimulator again;  // a vendor class is there now, but the host is spent
  auto second = std::async(std::launch::async, [&] { host.Init<RecordingSink>(nullptr); });
  ASSERT_EQ(second.wait_for(5s), std::future_status::ready) << "the second Init hangs";
  EXPECT_THROW(second.get(), std::logic_error);
}

// A sink that keeps the vendor object, as a gateway does.
struct KeepingSink : RecordingSink {
  automation::Object cel;
};

TEST_F(ApiHostTest, NothingOfTheVendorObjectOrTheSinksSurvivesShutdown) {
  std::weak_ptr<automation::Dispatch> vendor;
  std::weak_ptr<CELSinkBase> sink_seen;
  {
    ApiHost host;
    auto sink = host.Init<KeepingSink>(nullptr);
    sink->cel = host.cqgCEL;
    vendor = sim.driver().instance();
    sink_seen = sink;
    host.Shutdown();
    EXPECT_TRUE(vendor.expired());
    try {
      sink->cel.call("Startup");
      FAIL();
    } catch (const automation::DisconnectedError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("CQGCEL.Startup: ", 0), 0u) << e.what();
    }
  }
  EXPECT_TRUE(sink_seen.expired());
}

TEST_F(ApiHostTest, ShutdownFromInsideAHandlerIsRefusedInsteadOfJoiningItself) {
  ApiHost host;
  host.Init<RecordingSink>(nullptr);
  EXPECT_FALSE(host.on_worker_thread());
  bool on_worker = false;
  std::string error;
  automation::Apartment& worker = *sim.driver().instance()->apartment();
  worker.call([&] {
    on_worker = host.on_worker_thread();
    try {
      host.Shutdown();
    } catch (const std::logic_error& e) {
      error = e.what();
    }
  });
  EXPECT_TRUE(on_worker);
  EXPECT_NE(error.find("worker thread"), std::string::npos);
  host.Shutdown();
}

TEST_F(ApiHostTest, TheSimulatorStandsInOnlyWhenAllowedAndSaysSo) {
  automation::ClassRegistry::instance().unregister_class(kCqgProgId);
  {
    ApiHost::Options off;
    off.use_simulator = false;
    ApiHost host(off);
    EXPECT_THROW(host.Init<RecordingSink>(nullptr), automation::ClassNotRegisteredError);
  }
  EXPECT_FALSE(out.contains(kSimulatorLine));
  {
    ApiHost host;  // the default: the simulator registers itself as the stand-in
    host.Init<RecordingSink>(nullptr);
    host.Shutdown();
  }
  EXPECT_TRUE(out.contains(kSimulatorLine));
}

TEST_F(ApiHostTest, RunnerWritesAFailingShutdownInsteadOfRaisingIt) {
  struct QuittingSample : RecordingSink {
    void Init(ApiHost& h) { host = &h; }
    // Ends the worker early: the runner's Shutdown then cannot reach the vendor.
    void Start() {
      apartment()->post_quit();
      for (;;) {
        try {
          host->cqgCEL.get("IsStarted");
        } catch (const automation::DisconnectedError&) {
          return;
        }
        std::this_thread::sleep_for(1ms);
      }
    }
    ApiHost* host = nullptr;
  };
  EXPECT_NO_THROW(Start<QuittingSample>());
  const auto all = out.messages();
  EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const std::string& m) {
    return m.rfind("Exception: CQGCEL.Shutdown: ", 0) == 0;
  }));
}

}  // namespace
}  // namespace orbrix::cqg
