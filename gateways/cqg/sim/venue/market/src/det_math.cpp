#include "venue/market/det_math.hpp"

#include <cmath>
#include <limits>

namespace orbrix::cqgsim::venue {

namespace {
// ln 2 split so that k * kLn2Hi is exact for the k we meet.
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kInvLn2 = 1.44269504088896338700e+00;
constexpr double kSqrtHalf = 0.70710678118654752440;
}  // namespace

double det_log(double x) {
  if (x < 0 || std::isnan(x)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (x == 0) {
    return -std::numeric_limits<double>::infinity();
  }
  if (std::isinf(x)) {
    return x;
  }
  int e = 0;
  double m = std::frexp(x, &e);  // exact: x = m * 2^e, m in [0.5, 1)
  if (m < kSqrtHalf) {
    m *= 2;  // exact
    --e;
  }
  // ln m = 2 atanh(s), s = (m - 1) / (m + 1), |s| <= 0.1716.
  const double s = (m - 1) / (m + 1);
  const double s2 = s * s;
  double series = 1.0 / 23;
  for (int k = 21; k >= 1; k -= 2) {
    series = 1.0 / k + s2 * series;
  }
  const double ln_m = 2 * s * series;
  const double de = static_cast<double>(e);
  return de * kLn2Hi + (ln_m + de * kLn2Lo);
}

double det_exp(double x) {
  if (std::isnan(x)) {
    return x;
  }
  if (x > 709.0) {
    return std::numeric_limits<double>::infinity();
  }
  if (x < -745.0) {
    return 0.0;
  }
  const double k = std::floor(x * kInvLn2 + 0.5);
  const double r = (x - k * kLn2Hi) - k * kLn2Lo;  // |r| <= 0.35
  // Taylor series of e^r to the 14th power, Horner form.
  double sum = 1.0;
  for (int n = 14; n >= 1; --n) {
    sum = 1.0 + sum * r / n;
  }
  return std::ldexp(sum, static_cast<int>(k));
}

}  // namespace orbrix::cqgsim::venue
