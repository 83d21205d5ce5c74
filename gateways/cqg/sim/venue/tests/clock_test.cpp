#include "venue/clock.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "venue/market/tests/test_support.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using namespace std::chrono_literals;
using testing::at;

TEST(VenueClock, FiresDueTimersInTimeOrderAndTiesInSchedulingOrder) {
  MarketClock clock(at("2026-12-08T14:00:00Z"));
  std::vector<std::string> fired;
  const auto note = [&](std::string name) {
    return [&, name] { fired.push_back(name + "@" + format_timestamp(clock.now())); };
  };
  clock.schedule_after(30ms, note("c"));
  clock.schedule_after(10ms, note("a"));
  clock.schedule_after(30ms, note("d"));
  clock.schedule_after(10ms, note("b"));
  clock.schedule_after(31ms, note("late"));

  clock.advance(30ms);
  EXPECT_EQ(fired,
            (std::vector<std::string>{"a@2026-12-08T14:00:00.01Z", "b@2026-12-08T14:00:00.01Z",
                                      "c@2026-12-08T14:00:00.03Z", "d@2026-12-08T14:00:00.03Z"}));
  EXPECT_EQ(clock.now(), at("2026-12-08T14:00:00.030Z"));
  EXPECT_EQ(clock.pending(), 1u);
  EXPECT_EQ(clock.next_due(), at("2026-12-08T14:00:00.031Z"));
}

TEST(VenueClock, TimersScheduledByACallbackFireInTheSameAdvanceWhenDue) {
  MarketClock clock(at("2026-12-08T14:00:00Z"));
  std::vector<std::string> fired;
  clock.schedule_after(10ms, [&] {
    fired.push_back("first");
    clock.schedule_after(0ms, [&] { fired.push_back("now"); });
    clock.schedule_after(5ms, [&] { fired.push_back("chained"); });
    clock.schedule_after(500ms, [&] { fired.push_back("beyond"); });
  });
  clock.schedule_after(12ms, [&] { fired.push_back("second"); });
  clock.advance(100ms);
  EXPECT_EQ(fired, (std::vector<std::string>{"first", "now", "second", "chained"}));
  EXPECT_EQ(clock.pending(), 1u);
}

TEST(VenueClock, RefusesToGoBackAndKeepsItsTime) {
  MarketClock clock(at("2026-12-08T14:00:00Z"));
  bool fired = false;
  clock.schedule_after(1s, [&] { fired = true; });
  clock.advance(500ms);
  try {
    clock.advance_to(at("2026-12-08T13:59:59Z"));
    FAIL() << "went back";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("cannot go back"), std::string::npos) << e.what();
  }
  EXPECT_THROW(clock.advance(-1ns), std::invalid_argument);
  EXPECT_THROW(clock.schedule_at(at("2026-12-08T14:00:00Z"), [] {}), std::invalid_argument);
  EXPECT_THROW(clock.schedule_after(-1ms, [] {}), std::invalid_argument);
  EXPECT_THROW(clock.schedule_after(1ms, {}), std::invalid_argument);
  EXPECT_EQ(clock.now(), at("2026-12-08T14:00:00.5Z"));
  EXPECT_FALSE(fired);
  clock.advance_to(clock.now());  // standing still is allowed
  clock.advance(500ms);
  EXPECT_TRUE(fired);
}

TEST(VenueClock, CancelledTimersNeverFire) {
  MarketClock clock(at("2026-12-08T14:00:00Z"));
  int fired = 0;
  const auto a = clock.schedule_after(10ms, [&] { fired += 1; });
  const auto b = clock.schedule_after(10ms, [&] { fired += 10; });
  EXPECT_TRUE(clock.cancel(a));
  EXPECT_FALSE(clock.cancel(a));
  EXPECT_FALSE(clock.cancel(12345));
  clock.advance(20ms);
  EXPECT_EQ(fired, 10);
  EXPECT_FALSE(clock.cancel(b));  // already fired
}

TEST(VenueClock, ACallbackCanCancelALaterTimerButNotAdvance) {
  MarketClock clock(at("2026-12-08T14:00:00Z"));
  MarketClock::TimerId later = 0;
  bool later_fired = false;
  std::string error;
  clock.schedule_after(1ms, [&] {
    clock.cancel(later);
    try {
      clock.advance(1ms);
    } catch (const std::logic_error& e) {
      error = e.what();
    }
  });
  later = clock.schedule_after(2ms, [&] { later_fired = true; });
  clock.advance(10ms);
  EXPECT_FALSE(later_fired);
  EXPECT_NE(error.find("inside a timer callback"), std::string::npos);
}

TEST(VenueClock, AThrowingCallbackLeavesTheOtherTimersScheduled) {
  MarketClock clock(at("2026-12-08T14:00:00Z"));
  bool second = false;
  clock.schedule_after(1ms, [] { throw std::runtime_error("boom"); });
  clock.schedule_after(2ms, [&] { second = true; });
  EXPECT_THROW(clock.advance(10ms), std::runtime_error);
  EXPECT_EQ(clock.now(), at("2026-12-08T14:00:00.001Z"));
  EXPECT_FALSE(second);
  clock.advance(10ms);  // not stuck in "advancing"
  EXPECT_TRUE(second);
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
