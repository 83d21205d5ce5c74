#include "orbrix/automation/apartment.hpp"

#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <vector>

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
  apartment.post_after(30ms, [&] { ran.push_back(2); });
  apartment.post_after(10ms, [&] { ran.push_back(1); });
  const auto start = std::chrono::steady_clock::now();
  while (ran.size() < 2) {
    ASSERT_EQ(msg_wait_for_multiple_objects(handles, false, 5000, kQsAllEvents), kWaitObject0 + 1);
    pump_waiting_messages();
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST_F(ThisThreadApartment, AThrowingMessageIsReportedAndThePumpGoesOn) {
  std::vector<std::string> reports;
  set_error_reporter([&](std::string_view m) { reports.emplace_back(m); });
  bool second_ran = false;
  Apartment::current()->post([] { throw std::runtime_error("boom"); });
  Apartment::current()->post([&] { second_ran = true; });
  EXPECT_FALSE(pump_waiting_messages());
  set_error_reporter(nullptr);
  EXPECT_TRUE(second_ran);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("boom"), std::string::npos);
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
