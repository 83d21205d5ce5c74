#include "orbrix/cqg/trace.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "orbrix/cqg/testing/captured_output.hpp"

namespace orbrix::cqg {
namespace {

using testing::CapturedOutput;

TEST(Trace, WritesThreadIdColonBlankAndTheMessageUnchanged) {
  CapturedOutput out;
  Trace("Startup CQGCEL..");
  Trace("");
  Trace("first\nsecond");
  WriteLine("DataConnectionStatus=1");
  // Several lines at once: each as Trace writes it, in order.
  const std::vector<std::string> lines{"GW Account id: 1 name: a", "[Found] GW Account id: 1"};
  TraceLines(lines);
  TraceLines({});
  const std::string id = std::to_string(current_thread_id());
  EXPECT_EQ(out.text(), id + ": Startup CQGCEL..\n" + id + ": \n" + id +
                            ": first\nsecond\nDataConnectionStatus=1\n" + id +
                            ": GW Account id: 1 name: a\n" + id + ": [Found] GW Account id: 1\n");
}

TEST(Trace, ASinkTakesEachMessageInsteadOfTheStreamUntilItIsRemoved) {
  CapturedOutput out;
  std::vector<std::string> got;
  set_trace_sink([&got](std::string_view line) {
    got.emplace_back(line);
    if (line.ends_with("boom")) {
      throw std::runtime_error("a sink that fails");
    }
  });
  Trace("one");
  Trace("two\nlines");
  TraceLines(std::vector<std::string>{"a", "boom", "b"});  // the failing sink costs only its line
  WriteLine("plain");
  set_trace_sink(nullptr);
  Trace("back to the stream");
  const std::string id = std::to_string(current_thread_id());
  EXPECT_EQ(got, (std::vector<std::string>{id + ": one", id + ": two\nlines", id + ": a",
                                           id + ": boom", id + ": b", "plain"}));
  EXPECT_EQ(out.text(), id + ": back to the stream\n");
}

// A scope sets its own sink and puts back the one it found, which goes on
// taking the lines; with none found, the stream has them again.
TEST(Trace, SettingASinkHandsBackThePreviousOneToRestore) {
  CapturedOutput out;
  std::vector<std::string> outer, inner;
  EXPECT_FALSE(set_trace_sink([&outer](std::string_view line) { outer.emplace_back(line); }));
  auto previous = set_trace_sink([&inner](std::string_view line) { inner.emplace_back(line); });
  ASSERT_TRUE(previous);
  Trace("inside");
  EXPECT_TRUE(set_trace_sink(std::move(previous)));
  Trace("outside");
  EXPECT_TRUE(set_trace_sink(nullptr));
  EXPECT_FALSE(set_trace_sink(nullptr));
  Trace("stream");
  const std::string id = std::to_string(current_thread_id());
  EXPECT_EQ(inner, std::vector<std::string>{id + ": inside"});
  EXPECT_EQ(outer, std::vector<std::string>{id + ": outside"});
  EXPECT_EQ(out.text(), id + ": stream\n");
}

TEST(Trace, LinesOfConcurrentThreadsNeverInterleave) {
  CapturedOutput out;
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  std::vector<long> ids(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ids] {
      ids[t] = current_thread_id();
      const std::string message(300, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) {
        Trace(message);
      }
    });
  }
  for (auto& t : threads) {
    t.join();
  }
  EXPECT_EQ(std::set<long>(ids.begin(), ids.end()).size(), std::size_t{kThreads});
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), std::size_t{kThreads * kLines});
  for (const auto& line : lines) {
    const auto t = std::find(ids.begin(), ids.end(), line.thread) - ids.begin();
    ASSERT_LT(t, kThreads) << "line without a known thread prefix";
    EXPECT_EQ(line.message, std::string(300, static_cast<char>('a' + t)));
  }
}

TEST(AssertMessage, RaisesExactlyTheMessageOnAFalseEmptyOrZeroCondition) {
  EXPECT_NO_THROW(AssertMessage(true, "x"));
  EXPECT_NO_THROW(AssertMessage(1, "x"));
  EXPECT_NO_THROW(AssertMessage(automation::Variant("y"), "x"));
  auto message_of = [](auto condition) {
    try {
      AssertMessage(condition, "GW connection timeout!");
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message_of(false), "GW connection timeout!");
  EXPECT_EQ(message_of(0), "GW connection timeout!");
  EXPECT_EQ(message_of(0.0), "GW connection timeout!");
  EXPECT_EQ(message_of(std::string()), "GW connection timeout!");
  EXPECT_EQ(message_of(automation::Variant()), "GW connection timeout!");
  EXPECT_EQ(message_of(std::vector<int>{}), "GW connection timeout!");
  // A null message is an empty one, not undefined behaviour.
  const char* none = nullptr;
  try {
    AssertMessage(false, none);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "");
  }
  EXPECT_THROW(AssertMessage(0, none), std::runtime_error);
}

}  // namespace
}  // namespace orbrix::cqg
