// What the simulator holds of a recorded history: weighed with the C
// library's count of heap bytes in use, so this binary runs alone (nothing
// else allocates meanwhile).

#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>

#include "orbrix/common/sanitizers.hpp"
#include "orbrix/cqgsim/simulator.hpp"
#include "orbrix/cqgsim/synthetic_history.hpp"
#include "temp_dir.hpp"

namespace orbrix::cqgsim {
namespace {

using namespace std::chrono_literals;

std::size_t heap_in_use() {
  return mallinfo2().uordblks;
}

// Bytes the controls hold after checking the history at `path`.
std::size_t held_by_checking(const std::filesystem::path& path) {
  const std::size_t before = heap_in_use();
  SimControls controls;
  controls.set_config({.manual_clock = true, .histories = {{"", path.string()}}});
  EXPECT_EQ(controls.history_symbols().size(), 3u);
  return heap_in_use() - before;
}

// A history is checked whole when it is handed over, but nothing of its
// rows is kept: eight times the rows, the same memory.
TEST(SimHistoryMemory, CheckingAHistoryKeepsNoneOfItsRows) {
  if (kUnderSanitizer) {
    GTEST_SKIP() << "heap bytes are not counted under a sanitizer";
  }
  orbrix::testing::TempDir dir;
  const auto day = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7} + 14h;
  const SyntheticHistory shape{.symbols = {"EP", "GCE", "CLE"}, .from = day, .to = day + 10min};
  auto longer = shape;
  longer.to = day + 80min;
  const auto small = write_synthetic_history(dir.path() / "small.csv", shape);
  const auto large = write_synthetic_history(dir.path() / "large.csv", longer);
  ASSERT_GT(large, 7 * small);
  const std::size_t small_held = held_by_checking(dir.path() / "small.csv");
  const std::size_t large_held = held_by_checking(dir.path() / "large.csv");
  EXPECT_LT(large_held, small_held + 4096)
      << small << " rows hold " << small_held << " bytes, " << large << " rows " << large_held;
  EXPECT_LT(large_held, 64u * 1024);
}

}  // namespace
}  // namespace orbrix::cqgsim
