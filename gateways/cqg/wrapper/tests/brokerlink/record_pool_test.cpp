// Records made from the per-thread block cache: a record keeps its value
// whichever thread releases it, blocks are reused, and records released by
// a thread that has ended or on the way out go back to the heap.

#include "record_pool.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "orbrix/core/quote.hpp"

namespace orbrix::cqg::detail {
namespace {

Quote quote_of(int n) {
  const Futures es("ES", "E-mini");
  return Quote(es, es.exchange(), DateTime{}).with({.bid_price = double(n)});
}

TEST(RecordPool, RecordsCrossThreadsAndBlocksAreReused) {
  // A block released here is the next one made here.
  const void* first = nullptr;
  {
    const auto a = make_record<Quote>(quote_of(1));
    first = a.get();
  }
  const auto b = make_record<Quote>(quote_of(2));
  EXPECT_EQ(b.get(), first);
  EXPECT_EQ(b->bid_price(), 2);

  // Made here, read and released by other threads (one of them the last
  // holder), which end with blocks in their caches; those go to the heap.
  std::vector<std::shared_ptr<const Quote>> made;
  for (int i = 0; i < 600; ++i) {  // more than a cache keeps
    made.push_back(make_record<Quote>(quote_of(i)));
  }
  std::thread reader([held = made] {
    double sum = 0;
    for (const auto& q : held) {
      sum += q->bid_price();
    }
    EXPECT_EQ(sum, 599 * 600 / 2);
  });
  made.clear();  // the reader may hold the last references now
  reader.join();
  // Blocks made on another thread are released here.
  std::thread maker([&made] {
    for (int i = 0; i < 10; ++i) {
      made.push_back(make_record<Quote>(quote_of(i)));
    }
  });
  maker.join();
  EXPECT_EQ(made.back()->bid_price(), 9);
  made.clear();
  EXPECT_EQ(make_record<Quote>(quote_of(7))->bid_price(), 7);
}

}  // namespace
}  // namespace orbrix::cqg::detail
