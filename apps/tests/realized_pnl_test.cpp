#include "realized_pnl.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace orbrix::report {
namespace {

constexpr auto kBuy = Direction::LONG;
constexpr auto kSell = Direction::SHORT;

TEST(RealizedPnl, AveragesAddsRealizesReductionsAndSplitsAFlip) {
  const auto pnl = realized_pnl({
      {"EP", kBuy, 1, 100},    // long 1 @ 100
      {"EP", kBuy, 3, 104},    // long 4 @ 103
      {"EP", kSell, 2, 106},   // +3 x 2 = 6, long 2 @ 103
      {"EP", kSell, 5, 101},   // closes 2: -2 x 2 = -4; short 3 @ 101
      {"EP", kBuy, 1, 99},     // +2 x 1 = 2, short 2 @ 101
      {"ENQ", kSell, 2, 50},   // short 2 @ 50
      {"ENQ", kBuy, 2, 50.5},  // -0.5 x 2 = -1, flat
  });
  ASSERT_EQ(pnl.size(), 2u);
  const auto& ep = pnl.at("EP");
  EXPECT_DOUBLE_EQ(ep.realized, 6 - 4 + 2);
  EXPECT_DOUBLE_EQ(ep.position, -2);
  // The flip opened the new side at the fill's price, not at the old average.
  EXPECT_DOUBLE_EQ(ep.average_price, 101);
  const auto& enq = pnl.at("ENQ");
  EXPECT_DOUBLE_EQ(enq.realized, -1);
  EXPECT_DOUBLE_EQ(enq.position, 0);
  EXPECT_DOUBLE_EQ(enq.average_price, 0);  // reset when flat
}

TEST(RealizedPnl, RefusesAFillThatIsNotOne) {
  EXPECT_THROW(realized_pnl({{"EP", kBuy, 0, 100}}), std::invalid_argument);
  EXPECT_THROW(realized_pnl({{"EP", kBuy, -1, 100}}), std::invalid_argument);
  EXPECT_THROW(realized_pnl({{"EP", kBuy, 1, std::nan("")}}), std::invalid_argument);
  EXPECT_TRUE(realized_pnl({}).empty());
}

}  // namespace
}  // namespace orbrix::report
