#include "venue/market/random.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "venue/market/det_math.hpp"

namespace orbrix::cqgsim::venue {
namespace {

TEST(VenueMarketRandom, SplitMixMatchesTheReferenceOutput) {
  // The published first outputs of SplitMix64 seeded with 0.
  SplitMix64 sm(0);
  EXPECT_EQ(sm.next(), 0xe220a8397b1dcdafULL);
  EXPECT_EQ(sm.next(), 0x6e789e6aa1b965f4ULL);
}

TEST(VenueMarketRandom, TheSameSeedGivesTheSameStreamAndAnotherSeedAnother) {
  Rng a(7);
  Rng b(7);
  Rng c(8);
  int same_as_c = 0;
  for (int i = 0; i < 1000; ++i) {
    const auto x = a.next();
    ASSERT_EQ(x, b.next());
    same_as_c += x == c.next() ? 1 : 0;
  }
  EXPECT_EQ(same_as_c, 0);
  EXPECT_EQ(a.normal(), b.normal());
  EXPECT_EQ(a.uniform(), b.uniform());
}

TEST(VenueMarketRandom, StreamSeedsAreStableAndDistinctPerKey) {
  EXPECT_EQ(stream_seed(42, "EP"), stream_seed(42, "EP"));
  std::set<std::uint64_t> seeds;
  for (const char* key : {"EP", "ENQ", "DD", "EP/bars/OneMinute", "EP/bars/Daily", "", "PE"}) {
    for (std::uint64_t master : {0ULL, 1ULL, 42ULL}) {
      seeds.insert(stream_seed(master, key));
    }
  }
  EXPECT_EQ(seeds.size(), 21u);
  // Streams of neighbouring keys do not start alike.
  Rng ep(stream_seed(42, "EP"));
  Rng enq(stream_seed(42, "ENQ"));
  EXPECT_NE(ep.next(), enq.next());
}

TEST(VenueMarketRandom, UniformNormalAndExponentialHaveTheirShape) {
  Rng rng(stream_seed(1, "shape"));
  const int n = 200000;
  double sum = 0, sum2 = 0, exp_sum = 0, umin = 1, umax = 0;
  int beyond_two_sigma = 0;
  for (int i = 0; i < n; ++i) {
    const double u = rng.uniform();
    umin = std::min(umin, u);
    umax = std::max(umax, u);
    const double z = rng.normal();
    sum += z;
    sum2 += z * z;
    beyond_two_sigma += std::abs(z) > 2 ? 1 : 0;
    exp_sum += rng.exponential(0.3);
  }
  EXPECT_GE(umin, 0.0);
  EXPECT_LT(umax, 1.0);
  EXPECT_NEAR(sum / n, 0.0, 0.01);
  EXPECT_NEAR(sum2 / n, 1.0, 0.015);
  EXPECT_NEAR(double(beyond_two_sigma) / n, 0.0455, 0.003);
  EXPECT_NEAR(exp_sum / n, 0.3, 0.005);
  for (int i = 0; i < 1000; ++i) {
    const auto k = rng.uniform_int(-2, 2);
    ASSERT_GE(k, -2);
    ASSERT_LE(k, 2);
  }
  EXPECT_THROW(rng.uniform_int(3, 2), std::invalid_argument);
}

TEST(VenueMarketDetMath, LogAndExpAgreeWithTheLibraryToAFewUlps) {
  for (double x :
       {1e-300, 1e-9, 0.001, 0.3, 0.70710678, 1.0, 1.0000001, 2.0, 3.14159, 1e5, 1e300}) {
    EXPECT_NEAR(det_log(x), std::log(x), 4e-16 * std::max(1.0, std::abs(std::log(x)))) << x;
  }
  for (double x : {-700.0, -20.0, -1.0, -1e-8, 0.0, 1e-8, 0.5, 1.0, 10.0, 300.0, 700.0}) {
    EXPECT_NEAR(det_exp(x) / std::exp(x), 1.0, 1e-15) << x;
  }
  EXPECT_EQ(det_log(1.0), 0.0);
  EXPECT_EQ(det_exp(0.0), 1.0);
  EXPECT_TRUE(std::isnan(det_log(-1.0)));
  EXPECT_EQ(det_log(0.0), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(det_exp(1000.0), std::numeric_limits<double>::infinity());
  EXPECT_EQ(det_exp(-1000.0), 0.0);
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
