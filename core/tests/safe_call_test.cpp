#include "orbrix/core/safe_call.hpp"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace orbrix {
namespace {

class SafeCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ =
        set_safe_call_reporter([this](std::string_view what) { reports_.emplace_back(what); });
  }
  void TearDown() override { set_safe_call_reporter(previous_); }

  SafeCallReporter previous_;
  std::vector<std::string> reports_;
};

int divide(int a, int b) {
  if (b == 0) {
    throw std::invalid_argument("division by zero");
  }
  return a / b;
}

TEST_F(SafeCallTest, ReturnsTheResultOrReportsTheFailure) {
  EXPECT_EQ(safe_call(divide, 6, 3), std::optional<int>(2));
  EXPECT_EQ(safe_call(divide, 6, 0), std::nullopt);
  EXPECT_EQ(reports_, std::vector<std::string>{"division by zero"});

  int calls = 0;
  safe_call(
      [&](int n) {
        calls += n;
        throw 42;
      },
      5);
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(reports_.back(), "unknown exception");
}

TEST_F(SafeCallTest, DefaultReporterWritesOneLineAndAThrowingReporterFallsBackToIt) {
  set_safe_call_reporter({});
  ::testing::internal::CaptureStdout();
  safe_call([] { throw std::runtime_error("GW connection timeout!"); });
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "GW connection timeout!\n");

  set_safe_call_reporter([](std::string_view) { throw std::runtime_error("reporter broke"); });
  ::testing::internal::CaptureStdout();
  safe_call([] { throw std::runtime_error("lost?"); });
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "lost?\n");
}

}  // namespace
}  // namespace orbrix
