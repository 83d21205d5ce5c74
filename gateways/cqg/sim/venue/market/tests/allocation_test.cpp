// Counts heap allocations while the market produces events, to hold the
// promise that one market event allocates nothing once the buffers are warm,
// a replayed history's rows included.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "test_support.hpp"
#include "venue/market/market.hpp"

// ThreadSanitizer brings its own operator new; there the count is not kept.
#if defined(__SANITIZE_THREAD__)
#define ORBRIX_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORBRIX_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef ORBRIX_COUNTS_ALLOCATIONS
#define ORBRIX_COUNTS_ALLOCATIONS 1
#endif

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

#if ORBRIX_COUNTS_ALLOCATIONS
void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}
// The nothrow forms come from the same malloc, so a buffer std::stable_sort
// takes with nothrow new and gives back with plain delete matches under
// AddressSanitizer too.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
#endif

namespace orbrix::cqgsim::venue {
namespace {

using testing::at;

TEST(VenueMarketAllocation, MarketEventsWithinAMinuteAllocateNothing) {
  if (!ORBRIX_COUNTS_ALLOCATIONS) {
    GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
  }
  const Catalogue all = Catalogue::standard(at("2026-12-08T14:30:00Z"));
  Market m(all, 8, at("2026-12-08T14:30:00Z"));
  std::size_t events = 0;
  m.advance_to(at("2026-12-08T14:32:01Z"), [&](const MarketEvent&) { ++events; });
  const long before = g_allocations.load();
  ASSERT_GT(before, 0);  // the counter sees the set-up
  m.advance_to(at("2026-12-08T14:32:59Z"),
               [&](const MarketEvent& e) { events += e.quotes.size() > 0 ? 1 : 0; });
  EXPECT_EQ(g_allocations.load() - before, 0);
  EXPECT_GT(events, 12u * 500);
}

// Reading a history's rows as they come reuses the reader's and the
// instruments' buffers: minutes of rows, no allocation.
TEST(VenueMarketAllocation, StreamedHistoryRowsAllocateNothing) {
  if (!ORBRIX_COUNTS_ALLOCATIONS) {
    GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
  }
  const Catalogue all = Catalogue::standard(at("2026-12-07T00:00:00Z"));
  const auto file = testing::checked(testing::three_instruments(40), "");
  Market m(all, 8, at("2026-12-07T14:30:00Z"));
  for (const char* s : {"EP", "GCE", "CLE"}) {
    m.replay(*all.resolve(s), file);
  }
  m.advance_to(at("2026-12-07T14:33:01Z"), [](const MarketEvent&) {});
  const long before = g_allocations.load();
  const std::size_t rows = m.replayed_rows();
  m.advance_to(at("2026-12-07T14:33:59Z"), [](const MarketEvent&) {});
  EXPECT_EQ(g_allocations.load() - before, 0);
  EXPECT_GT(m.replayed_rows() - rows, 140u);
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
