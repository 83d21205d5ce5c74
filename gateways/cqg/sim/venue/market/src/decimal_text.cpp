#include "venue/market/decimal_text.hpp"

#include <cstdint>

namespace orbrix::cqgsim::venue {

bool parse_plain_decimal(std::string_view text, double& value) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  constexpr int kMaxDigits = 15;
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool negative = p != end && *p == '-';
  p += negative ? 1 : 0;
  std::uint64_t whole = 0;
  int digits = 0;
  int fraction = 0;
  const char* const first = p;
  for (; p != end && *p >= '0' && *p <= '9' && digits <= kMaxDigits; ++p, ++digits) {
    whole = whole * 10 + static_cast<unsigned>(*p - '0');
  }
  if (p == first) {
    return false;
  }
  if (p != end && *p == '.') {
    const char* const point = ++p;
    for (; p != end && *p >= '0' && *p <= '9' && digits <= kMaxDigits; ++p, ++digits, ++fraction) {
      whole = whole * 10 + static_cast<unsigned>(*p - '0');
    }
    if (p == point) {
      return false;
    }
  }
  if (p != end || digits > kMaxDigits) {
    return false;
  }
  const double magnitude = static_cast<double>(whole) / kPowers[fraction];
  value = negative ? -magnitude : magnitude;
  return true;
}

}  // namespace orbrix::cqgsim::venue
