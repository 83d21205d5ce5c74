#include "venue/market/random.hpp"

#include <cmath>
#include <stdexcept>

#include "venue/market/det_math.hpp"

namespace orbrix::cqgsim::venue {

std::uint64_t mix64(std::uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

std::uint64_t SplitMix64::next() {
  state_ += 0x9e3779b97f4a7c15ULL;
  return mix64(state_);
}

std::uint64_t stream_seed(std::uint64_t master_seed, std::string_view key) {
  // FNV-1a over the key's bytes, then mixed with the master seed twice so
  // that neither nearby seeds nor nearby keys give related streams.
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const char c : key) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ULL;
  }
  return mix64(mix64(master_seed) ^ mix64(h + 0x9e3779b97f4a7c15ULL));
}

namespace {
std::uint64_t rotl(std::uint64_t x, int k) {
  return (x << k) | (x >> (64 - k));
}
}  // namespace

Rng::Rng(std::uint64_t seed) {
  SplitMix64 sm(seed);
  for (auto& word : s_) {
    word = sm.next();
  }
}

std::uint64_t Rng::next() {
  const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

double Rng::uniform() {
  return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

std::int64_t Rng::uniform_int(std::int64_t lo, std::int64_t hi) {
  if (lo > hi) {
    throw std::invalid_argument("Rng::uniform_int: empty range");
  }
  const std::uint64_t span = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo) + 1;
  if (span == 0) {  // the whole 64-bit range
    return static_cast<std::int64_t>(next());
  }
  // Rejection keeps every value equally likely.
  const std::uint64_t limit = ~std::uint64_t{0} - (~std::uint64_t{0} % span);
  std::uint64_t r = next();
  while (r >= limit) {
    r = next();
  }
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(lo) + r % span);
}

double Rng::normal() {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  double u = 0;
  double v = 0;
  double s = 0;
  do {
    u = 2 * uniform() - 1;
    v = 2 * uniform() - 1;
    s = u * u + v * v;
  } while (s >= 1 || s == 0);
  // std::sqrt is correctly rounded by IEEE 754, so it is the same everywhere.
  const double f = std::sqrt(-2 * det_log(s) / s);
  spare_ = v * f;
  has_spare_ = true;
  return u * f;
}

double Rng::exponential(double mean) {
  return -mean * det_log(1.0 - uniform());
}

}  // namespace orbrix::cqgsim::venue
