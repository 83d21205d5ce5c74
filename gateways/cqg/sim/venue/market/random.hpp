#pragma once

// Randomness that gives the same numbers on every platform. The standard
// library fixes its engines but not its distributions, so the generator, the
// uniform and the normal transform are all written here, and the logarithm
// they need comes from det_math.hpp rather than the platform's libm.
//
// Nothing here allocates. Not thread-safe: one generator per stream, used on
// the venue's thread.

#include <cstdint>
#include <string_view>

namespace orbrix::cqgsim::venue {

// SplitMix64: used to expand one 64-bit seed into a generator's state and to
// mix seeds. `next()` advances the state by a fixed odd constant and returns
// a well-mixed output.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();

 private:
  std::uint64_t state_;
};

// SplitMix64's output function alone: a bijective mix of one word.
std::uint64_t mix64(std::uint64_t x);

// The seed of an independent stream: one master seed and a key naming the
// stream ("EP", "EP/bars/60"). Distinct keys give unrelated seeds; the same
// master seed and key always give the same seed.
std::uint64_t stream_seed(std::uint64_t master_seed, std::string_view key);

// xoshiro256**: a small, fast generator with 256 bits of state, seeded
// through SplitMix64 (so every seed, including 0, gives a valid state).
class Rng {
 public:
  explicit Rng(std::uint64_t seed);

  std::uint64_t next();
  // Uniform in [0, 1), 53 random bits.
  double uniform();
  // Uniform integer in [lo, hi]; requires lo <= hi.
  std::int64_t uniform_int(std::int64_t lo, std::int64_t hi);
  // True with probability p.
  bool chance(double p) { return uniform() < p; }
  // Standard normal (mean 0, variance 1), Marsaglia's polar method.
  double normal();
  // Exponential with the given mean (> 0).
  double exponential(double mean);

 private:
  std::uint64_t s_[4];
  double spare_ = 0;
  bool has_spare_ = false;
};

}  // namespace orbrix::cqgsim::venue
