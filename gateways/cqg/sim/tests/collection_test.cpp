// The collection base's bounded window, over items removed from its middle
// and keyed items whose keys must leave with them.

#include "objects/collection.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "orbrix/cqgsim/simulator.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Variant;

inline constexpr char kWindowName[] = "Window";
using Window = NamedCollection<kWindowName>;

TEST(CollectionWindow, KeepsTheNewestItemsAndReleasesTheKeysOfTheOthers) {
  Window w;
  std::vector<automation::DispatchPtr> items;
  for (int i = 0; i < 6; ++i) {
    items.push_back(make_error(i, "item"));
    w.add(items.back(), "k" + std::to_string(i));
  }
  ASSERT_TRUE(w.remove(items[4].get()));  // a hole among the newest
  w.keep_newest(3);
  ASSERT_EQ(w.size(), 3u);
  const std::array<std::size_t, 3> newest{2, 3, 5};
  for (std::size_t i = 0; i < newest.size(); ++i) {
    EXPECT_EQ(w.at(i), items[newest[i]]);
  }
  const std::array<Variant, 1> dropped{Variant("k1")};
  EXPECT_THROW(w.item_by_guid("Window", dropped), std::out_of_range);
  w.add(make_error(9, "again"), "k1");  // its key is free again
  const std::array<Variant, 1> kept{Variant("k5")};
  EXPECT_EQ(w.item_by_guid("Window", kept).as_object(), items[5]);

  w.keep_newest(10);  // fewer held than kept: nothing leaves
  EXPECT_EQ(w.size(), 4u);
  w.keep_newest(0);
  EXPECT_EQ(w.size(), 0u);
}

}  // namespace
}  // namespace orbrix::cqgsim
