#include "orbrix/automation/apartment.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <latch>
#include <string>
#include <vector>

#include "orbrix/automation/apartment_checker.hpp"
#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/event.hpp"
#include "orbrix/automation/wait.hpp"
#include "test_objects.hpp"

namespace orbrix::automation {
namespace {

using namespace std::chrono_literals;

class ThisThreadApartment : public ::testing::Test {
 protected:
  ComScope com;
  WaitHandle shutdown{false, false};
  WaitHandle* handles[1] = {&shutdown};
};

TEST_F(ThisThreadApartment, WaitReportsHandleBeforeMessagesAndResetsAutoHandle) {
  Apartment::current()->post([] {});
  shutdown.set();
  EXPECT_EQ(msg_wait_for_multiple_objects(handles, false, kInfinite, kQsAllEvents), kWaitObject0);
  EXPECT_FALSE(shutdown.is_signalled());  // auto-reset took the signal
  EXPECT_EQ(msg_wait_for_multiple_objects(handles, false, kInfinite, kQsAllEvents),
            kWaitObject0 + 1);
  EXPECT_FALSE(pump_waiting_messages());
  EXPECT_EQ(msg_wait_for_multiple_objects(handles, false, 10, kQsAllEvents), kWaitTimeout);
  EXPECT_EQ(msg_wait_for_multiple_objects(handles, true, 10, kQsAllEvents), kWaitFailed);
}

TEST_F(ThisThreadApartment, QuitMessageEndsThePumpAndLeavesLaterMessagesQueued) {
  std::vector<int> ran;
  auto& apartment = *Apartment::current();
  apartment.post([&] { ran.push_back(1); });
  post_quit_message();
  apartment.post([&] { ran.push_back(2); });
  EXPECT_TRUE(pump_waiting_messages());
  EXPECT_EQ(ran, std::vector<int>{1});
  EXPECT_FALSE(pump_waiting_messages());
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST_F(ThisThreadApartment, TimersWakeTheWaitAndRunInDueOrder) {
  std::vector<int> ran;
  auto& apartment = *Apartment::current();
  // Read the clock before posting: the 30 ms run from the post, not from a later reading.
  const auto start = std::chrono::steady_clock::now();
  apartment.post_after(30ms, [&] { ran.push_back(2); });
  apartment.post_after(10ms, [&] { ran.push_back(1); });
  while (ran.size() < 2) {
    ASSERT_EQ(msg_wait_for_multiple_objects(handles, false, 5000, kQsAllEvents), kWaitObject0 + 1);
    pump_waiting_messages();
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST_F(ThisThreadApartment, AThrowingMessageIsReportedWithWhoPostedItAndThePumpGoesOn) {
  std::vector<std::string> reports;
  set_error_reporter([&](std::string_view m) { reports.emplace_back(m); });
  bool second_ran = false;
  const auto line = SourceLocation::current().line() + 1;
  Apartment::current()->post([] { throw std::runtime_error("boom"); });
  Apartment::current()->post([&] { second_ran = true; });
  EXPECT_FALSE(pump_waiting_messages());
  set_error_reporter(nullptr);
  EXPECT_TRUE(second_ran);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("boom"), std::string::npos);
  EXPECT_NE(reports[0].find(fmt::format("posted at {}:{}", __FILE__, line)), std::string::npos)
      << reports[0];
}

TEST(Apartment, ThreadsWithoutApartmentCannotWaitOrUninitialise) {
  WaitHandle h{false, false};
  WaitHandle* handles[] = {&h};
  EXPECT_EQ(msg_wait_for_multiple_objects(handles, false, 0, kQsAllEvents), kWaitFailed);
  EXPECT_FALSE(pump_waiting_messages());
  EXPECT_THROW(co_uninitialize(), ApartmentError);
}

TEST(Apartment, NestedInitialisationKeepsOneApartmentUntilTheLastUninitialise) {
  co_initialize();
  auto first = Apartment::current();
  co_initialize();
  EXPECT_EQ(Apartment::current(), first);
  co_uninitialize();
  EXPECT_TRUE(first->alive());
  co_uninitialize();
  EXPECT_FALSE(first->alive());
  EXPECT_EQ(Apartment::current(), nullptr);
  EXPECT_FALSE(first->post([] {}));
}

TEST(Apartment, SignalFromAnotherThreadWakesTheWait) {
  ComScope com;
  WaitHandle h{false, false};
  WaitHandle* handles[] = {&h};
  std::thread t([&] {
    std::this_thread::sleep_for(20ms);
    h.set();
  });
  EXPECT_EQ(msg_wait_for_multiple_objects(handles, false, kInfinite, kQsAllEvents), kWaitObject0);
  t.join();
}

TEST(Event, SetClearAndBoundedWait) {
  Event e;
  EXPECT_FALSE(e.wait(0.01));
  std::thread t([&] {
    std::this_thread::sleep_for(20ms);
    e.set();
  });
  EXPECT_TRUE(e.wait(10));
  t.join();
  e.set();  // setting a set event changes nothing
  EXPECT_TRUE(e.is_set());
  EXPECT_TRUE(e.wait(0));
  e.clear();
  EXPECT_FALSE(e.is_set());
  EXPECT_FALSE(e.wait_for(5ms));
}

}  // namespace
}  // namespace orbrix::automation

namespace orbrix::automation {
namespace {

using testing::ApartmentThread;

// Lets the worker finish a message and go back to its wait.
void let_worker_settle(ApartmentThread& worker) {
  worker.run([] {});
  std::this_thread::sleep_for(30ms);
}

TEST(ApartmentTimers, ATimerPostedFromAnotherThreadWakesAPumpWithNoTimerPending) {
  ApartmentThread worker;
  let_worker_settle(worker);
  Event fired;
  worker.apartment()->post_after(20ms, [&] { fired.set(); });
  EXPECT_TRUE(fired.wait(2.0));
}

TEST(ApartmentTimers, AnEarlierTimerPostedAfterALaterOneRunsFirstAndOnTime) {
  ApartmentThread worker;
  Event late, early;
  worker.apartment()->post_after(30s, [&] { late.set(); });
  let_worker_settle(worker);  // now it sleeps until the late timer is due
  worker.apartment()->post_after(20ms, [&] { early.set(); });
  EXPECT_TRUE(early.wait(2.0));
  EXPECT_FALSE(late.is_set());
}

TEST(ApartmentIdentity, ALaterThreadWithTheSameIdIsNotTheDeadApartmentsOwner) {
  std::shared_ptr<Apartment> dead;
  std::thread::id dead_id;
  std::thread([&] {
    co_initialize();
    dead = Apartment::current();
    dead_id = std::this_thread::get_id();
    co_uninitialize();
  }).join();
  EXPECT_FALSE(dead->is_current());
  // The C library hands a finished thread's id to the next thread it makes,
  // as a rule; look for one that got it.
  bool reused = false;
  for (int i = 0; i < 50 && !reused; ++i) {
    std::thread([&] {
      if (std::this_thread::get_id() != dead_id) {
        return;
      }
      reused = true;
      EXPECT_FALSE(dead->is_current());
      bool ran = false;
      EXPECT_THROW(dead->call([&] { ran = true; }), DisconnectedError);
      EXPECT_FALSE(ran);
    }).join();
  }
  if (!reused) {
    GTEST_SKIP() << "no later thread was given the finished thread's id";
  }
}

class ApartmentCallTimeout : public ::testing::Test {
 protected:
  // Keeps the worker busy until release is set.
  void block_worker() {
    std::latch blocked(1);
    worker.apartment()->post([&] {
      blocked.count_down();
      release.wait(10);
    });
    blocked.wait();
  }
  ApartmentThread worker;
  Event release;
};

TEST_F(ApartmentCallTimeout, ACallNotTakenUpInTimeIsWithdrawnNamingTheTaskThatHoldsTheThread) {
  worker.apartment()->set_call_timeout(50ms);
  block_worker();
  bool ran = false;
  try {
    worker.apartment()->call([&] { ran = true; });
    FAIL() << "the call returned although the apartment was blocked";
  } catch (const CallTimeoutError& e) {
    EXPECT_NE(std::string(e.what()).find("within 50 ms"), std::string::npos) << e.what();
    // The task that holds the thread was posted by block_worker.
    EXPECT_NE(std::string(e.what()).find("running a task posted at " __FILE__), std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("block_worker"), std::string::npos) << e.what();
  }
  release.set();
  worker.run([] {});  // everything queued before this has run
  EXPECT_FALSE(ran);
  EXPECT_GE(worker.apartment()->round_trips(), 1u);
}

TEST_F(ApartmentCallTimeout, ACallAlreadyRunningIsWaitedForPastTheTimeOut) {
  worker.apartment()->set_call_timeout(20ms);
  bool ran = false;
  worker.apartment()->call([&] {
    std::this_thread::sleep_for(100ms);
    ran = true;
  });
  EXPECT_TRUE(ran);
}

TEST(Task, HoldsSmallAndLargeClosuresAndReleasesWhatTheyCapture) {
  auto held = std::make_shared<int>(7);
  std::vector<int> out;
  Task small([held, &out] { out.push_back(*held); });
  std::array<char, 200> big{};
  big[0] = 3;
  Task large([big, &out] { out.push_back(big[0]); });
  Task moved(std::move(small));
  EXPECT_FALSE(small);
  moved();
  large();
  EXPECT_EQ(out, (std::vector<int>{7, 3}));
  EXPECT_EQ(held.use_count(), 2);
  moved = std::move(large);  // the small closure is destroyed, the large one moved in
  EXPECT_EQ(held.use_count(), 1);
  moved();
  EXPECT_EQ(out.back(), 3);
}

TEST_F(ThisThreadApartment, ManyMessagesKeepTheirOrderAcrossTheQueuesGrowth) {
  auto& apartment = *Apartment::current();
  std::vector<int> ran;
  int next = 0;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 40; ++i) {
      apartment.post([&ran, n = next++] { ran.push_back(n); });
    }
    pump_waiting_messages();
  }
  ASSERT_EQ(ran.size(), 120u);
  for (int i = 0; i < 120; ++i) {
    EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
  }
}

TEST(ApartmentChecker, PassesOnlyOnItsApartmentsThreadAndNamesItsOwnerElsewhere) {
  ApartmentThread worker;
  std::unique_ptr<ApartmentChecker> checker;
  worker.run([&] { checker = std::make_unique<ApartmentChecker>("the hub's state"); });
  worker.run([&] { EXPECT_NO_THROW(checker->assert_current()); });
  EXPECT_FALSE(checker->is_current());
  try {
    checker->assert_current();
    FAIL() << "passed off its apartment";
  } catch (const std::logic_error& e) {
    EXPECT_NE(std::string(e.what()).find("the hub's state"), std::string::npos) << e.what();
  }
  // Another apartment's thread is not the owner either.
  ApartmentThread other;
  other.run([&] { EXPECT_THROW(checker->assert_current(), std::logic_error); });
}

TEST(ApartmentChecker, WithoutAnApartmentItBelongsToTheThreadThatMadeIt) {
  std::unique_ptr<ApartmentChecker> checker;
  std::thread([&] { checker = std::make_unique<ApartmentChecker>("state"); }).join();
  EXPECT_THROW(checker->assert_current(), std::logic_error);
  const ApartmentChecker mine("state");
  EXPECT_NO_THROW(mine.assert_current());
}

}  // namespace
}  // namespace orbrix::automation

// --- the hand-off between callers and the apartment's thread ---
namespace orbrix::automation {
namespace {

using testing::ApartmentThread;

// Spinning off (every hand-off sleeps and is woken), a short spin (the
// waits often end just as the other side goes to sleep) and the default.
class ApartmentHandOff : public ::testing::TestWithParam<std::chrono::nanoseconds> {
 protected:
  void SetUp() override { worker.apartment()->set_spin_limit(GetParam()); }
  ApartmentThread worker;
};

TEST_P(ApartmentHandOff, ManyCallersAndPostersAreAllServedInTheirOwnOrder) {
  constexpr int kThreads = 4, kEach = 400;
  auto& apartment = *worker.apartment();
  // Touched only on the worker.
  std::array<std::vector<int>, kThreads> seen;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        if (i % 3 == 0) {
          apartment.post([&seen, t, i] { seen[static_cast<std::size_t>(t)].push_back(i); });
        } else {
          apartment.call([&seen, t, i] { seen[static_cast<std::size_t>(t)].push_back(i); });
        }
      }
    });
  }
  for (auto& t : threads) {
    t.join();
  }
  worker.run([] {});  // the last posts have run
  for (const auto& s : seen) {
    ASSERT_EQ(s.size(), static_cast<std::size_t>(kEach));
    EXPECT_TRUE(std::is_sorted(s.begin(), s.end()));
  }
}

TEST_P(ApartmentHandOff, WorkArrivingJustAsTheWorkerGoesToSleepStillWakesIt) {
  // Gaps around the spin bound and the sleep's start: a lost wake-up hangs
  // a call (the test's time-out) or a post (the count below).
  auto& apartment = *worker.apartment();
  int ran = 0;  // on the worker
  std::uint32_t gap = 1;
  for (int i = 0; i < 300; ++i) {
    gap = gap * 1103515245u + 12345u;
    std::this_thread::sleep_for(std::chrono::microseconds(gap % 60));
    if (i % 2 == 0) {
      apartment.call([&ran] { ++ran; });
    } else {
      apartment.post([&ran] { ++ran; });
    }
  }
  EXPECT_EQ(worker.run([&ran] { return ran; }), 300);
}

TEST_P(ApartmentHandOff, AHandleSetAsTheWorkerGoesToSleepEndsItsWait) {
  for (int i = 0; i < 100; ++i) {
    ApartmentThread w;
    w.apartment()->set_spin_limit(GetParam());
    w.run([] {});
    std::this_thread::sleep_for(std::chrono::microseconds(i % 25));
    w.stop();  // sets the handle its pump waits on; a lost wake-up hangs here
  }
}

INSTANTIATE_TEST_SUITE_P(SpinLimits, ApartmentHandOff,
                         ::testing::Values(std::chrono::nanoseconds(0),
                                           std::chrono::nanoseconds(2000),
                                           Apartment::kDefaultSpinLimit));

TEST_F(ThisThreadApartment, APumpRunsOnlyWhatWasQueuedBeforeItAndANestedPumpGoesOnWithIt) {
  auto& apartment = *Apartment::current();
  std::vector<std::string> ran;
  apartment.post([&] {
    ran.push_back("a");
    // Posted from a pumped task: runs in the next pump, not this one.
    apartment.post([&] { ran.push_back("later"); });
    // A nested pump runs the rest of this batch, each message once.
    pump_waiting_messages();
    ran.push_back("a done");
  });
  apartment.post([&] { ran.push_back("b"); });
  apartment.post([&] { ran.push_back("c"); });
  EXPECT_FALSE(pump_waiting_messages());
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c", "a done"}));
  EXPECT_FALSE(pump_waiting_messages());
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c", "a done", "later"}));
}

TEST_F(ApartmentCallTimeout, ACallQueuedInTheSameBatchBehindABlockingTaskIsStillWithdrawn) {
  worker.apartment()->set_call_timeout(50ms);
  // While the worker is held, a blocking task and then a call are queued:
  // the pump takes both in one batch.
  std::latch first_running(1);
  Event release_first;
  worker.apartment()->post([&] {
    first_running.count_down();
    release_first.wait(10);
  });
  first_running.wait();
  worker.apartment()->post([&] { release.wait(10); });
  bool ran = false;
  std::thread caller([&] {
    EXPECT_THROW(worker.apartment()->call([&] { ran = true; }), CallTimeoutError);
  });
  std::this_thread::sleep_for(10ms);  // the call is queued
  release_first.set();
  caller.join();
  release.set();
  worker.run([] {});
  EXPECT_FALSE(ran);
}

TEST(ApartmentHandOff, ACallStillQueuedWhenTheApartmentShutsDownFromATaskIsDisconnected) {
  std::shared_ptr<Apartment> apartment;
  std::latch ready(1);
  Event release;
  std::thread owner([&] {
    co_initialize();
    apartment = Apartment::current();
    ready.count_down();
    // The first task holds the thread until the call is queued behind it,
    // then shuts the apartment down from inside the pump.
    apartment->post([&] {
      release.wait(10);
      co_uninitialize();
    });
    while (apartment->alive()) {
      WaitHandle none{false, false};
      WaitHandle* handles[] = {&none};
      if (msg_wait_for_multiple_objects(handles, false, 5000, kQsAllEvents) == kWaitObject0 + 1) {
        pump_waiting_messages();
      }
    }
  });
  ready.wait();
  std::thread releaser([&] {
    std::this_thread::sleep_for(20ms);
    release.set();
  });
  bool ran = false;
  EXPECT_THROW(apartment->call([&] { ran = true; }), DisconnectedError);
  EXPECT_FALSE(ran);
  releaser.join();
  owner.join();
}

}  // namespace
}  // namespace orbrix::automation
