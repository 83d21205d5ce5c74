#include "orbrix/core/snapshot_map.hpp"

#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "orbrix/core/quote.hpp"

namespace orbrix {
namespace {

using QuoteMap = SnapshotMap<Security, Quote>;

Quote make_quote(const Security& s, int n) {
  // Every record satisfies ask == bid + 1 and last == bid + 0.5, so a reader
  // can tell a torn or half-written record.
  return Quote(s, s.exchange(), DateTime{})
      .with({.last_price = n + 0.5, .bid_price = double(n), .ask_price = n + 1.0});
}

TEST(SnapshotMapTest, KeysStartWithNoneAndReadersKeepTheirSnapshot) {
  QuoteMap map;
  const Stock tencent("0700", "Tencent");
  EXPECT_THROW(map.get(tencent), std::out_of_range);
  EXPECT_EQ(map.find(tencent), nullptr);

  EXPECT_TRUE(map.add_key(tencent));
  EXPECT_EQ(map.get(tencent), nullptr);  // present, holding none
  EXPECT_TRUE(map.contains(tencent));

  map.store(tencent, make_quote(tencent, 1));
  const QuoteMap::Snapshot held = map.get(tencent);
  map.store(tencent, make_quote(tencent, 2));
  EXPECT_EQ(held->bid_price(), 1);  // a later store does not touch a held record
  EXPECT_EQ(map.get(tencent)->bid_price(), 2);

  EXPECT_FALSE(map.add_key(tencent));  // an existing record is kept
  EXPECT_EQ(map.get(tencent)->bid_price(), 2);

  // A base key finds the Stock entry it equals.
  EXPECT_EQ(map.get(Security("0700", "Tencent", std::nullopt, Exchange::SEHK))->bid_price(), 2);

  map.store(Futures("ES", "E-mini"), make_quote(Futures("ES", "E-mini"), 3));  // adds the key
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(map.entries().size(), 2u);
  EXPECT_TRUE(map.erase(tencent));
  EXPECT_FALSE(map.erase(tencent));
  EXPECT_EQ(held->bid_price(), 1);  // still alive after its key is gone
}

// A writer's slot reads and writes the key's entry; once the key is erased
// a read through it is a missing key's, and a store adds the key again,
// which the slot then follows; an engine's own re-adding is followed too.
TEST(SnapshotMapTest, SlotsFollowTheirKeyThroughEraseAndReadding) {
  QuoteMap map;
  const Futures es("ES", "E-mini");
  EXPECT_THROW(map.slot(es), std::out_of_range);
  map.add_key(es);
  QuoteMap::Slot slot = map.slot(es);
  EXPECT_EQ(map.get(slot), nullptr);
  map.store(slot, std::make_shared<const Quote>(make_quote(es, 1)));
  EXPECT_EQ(map.get(es)->bid_price(), 1);  // the key's own record
  map.store(es, make_quote(es, 2));
  EXPECT_EQ(map.get(slot)->bid_price(), 2);

  ASSERT_TRUE(map.erase(es));
  EXPECT_THROW(map.get(slot), std::out_of_range);
  map.store(slot, std::make_shared<const Quote>(make_quote(es, 3)));
  EXPECT_EQ(map.get(es)->bid_price(), 3);  // added again
  EXPECT_EQ(map.size(), 1u);
  map.store(es, make_quote(es, 4));
  EXPECT_EQ(map.get(slot)->bid_price(), 4);  // the slot reaches the new entry

  // Erased and added back by the engine before the next store.
  ASSERT_TRUE(map.erase(es));
  map.add_key(es);
  map.store(slot, std::make_shared<const Quote>(make_quote(es, 5)));
  EXPECT_EQ(map.get(es)->bid_price(), 5);
  EXPECT_EQ(map.size(), 1u);
}

TEST(SnapshotMapTest, ConcurrentWritesAndReadsSeeWholeRecordsInOrder) {
  QuoteMap map;
  const std::vector<Security> securities{Stock("0700", "Tencent"), Futures("ES", "E-mini"),
                                         Currency("EUR.USD", "Euro"),
                                         Security("X", "Base", std::nullopt, Exchange::SEHK)};
  for (const Security& s : securities) {
    map.add_key(s);
  }
  constexpr int kWrites = 20000;
  std::atomic<bool> done{false};

  std::thread writer([&] {
    for (int n = 1; n <= kWrites; ++n) {
      for (const Security& s : securities) {
        map.store(s, make_quote(s, n));
      }
    }
    done = true;
  });

  auto reader = [&] {
    std::map<std::string, double> last_seen;
    long reads = 0;
    while (!done || reads == 0) {
      for (const Security& s : securities) {
        const QuoteMap::Snapshot q = map.get(s);
        ++reads;
        if (!q) {
          continue;
        }
        ASSERT_EQ(q->ask_price(), q->bid_price() + 1);
        ASSERT_EQ(q->last_price(), q->bid_price() + 0.5);
        ASSERT_EQ(q->security(), s);
        ASSERT_GE(q->bid_price(), last_seen[s.code()]);  // never goes back in time
        last_seen[s.code()] = q->bid_price();
      }
      for (const auto& [key, q] : map.entries()) {
        ASSERT_TRUE(!q || q->ask_price() == q->bid_price() + 1);
      }
    }
  };
  std::thread r1(reader);
  std::thread r2(reader);
  writer.join();
  r1.join();
  r2.join();

  for (const Security& s : securities) {
    EXPECT_EQ(map.get(s)->bid_price(), kWrites);
  }
}

}  // namespace
}  // namespace orbrix
