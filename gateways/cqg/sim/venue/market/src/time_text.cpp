#include "venue/market/time_text.hpp"

#include <charconv>
#include <cstdio>

namespace orbrix::cqgsim::venue {

std::string format_timestamp(Timestamp t) {
  using namespace std::chrono;
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss hms{t - day};
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d", int(ymd.year()),
                        unsigned(ymd.month()), unsigned(ymd.day()), int(hms.hours().count()),
                        int(hms.minutes().count()), int(hms.seconds().count()));
  long long frac = hms.subseconds().count();
  if (frac != 0) {
    int digits = 9;
    while (frac % 10 == 0) {
      frac /= 10;
      --digits;
    }
    n += std::snprintf(buf + n, sizeof buf - n, ".%0*lld", digits, frac);
  }
  std::snprintf(buf + n, sizeof buf - n, "Z");
  return buf;
}

namespace {

bool all_digits(std::string_view s) {
  if (s.empty()) {
    return false;
  }
  for (const char c : s) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

bool digit(char c) {
  return c >= '0' && c <= '9';
}

int to_int(std::string_view s) {
  int v = 0;
  for (const char c : s) {
    v = v * 10 + (c - '0');
  }
  return v;
}

int two_digits(const char* p) {
  return (p[0] - '0') * 10 + (p[1] - '0');
}

}  // namespace

std::optional<Timestamp> parse_timestamp(std::string_view text) {
  TimestampDay day;
  return parse_timestamp(text, day);
}

std::optional<Timestamp> parse_timestamp(std::string_view text, TimestampDay& day) {
  using namespace std::chrono;
  if (all_digits(text)) {
    long long ns = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ns);
    // Up to the end of 2261, as for the calendar form: later times leave no
    // room for the arithmetic a replay does on them.
    constexpr long long kLast = 9'214'646'399'999'999'999LL;  // 2261-12-31T23:59:59.999999999Z
    if (ec != std::errc{} || end != text.data() + text.size() || ns > kLast) {
      return std::nullopt;
    }
    return Timestamp{nanoseconds{ns}};
  }
  // YYYY-MM-DDTHH:MM:SS is 19 characters, then an optional fraction, then Z.
  if (text.size() < 20 || (text.back() != 'Z' && text.back() != 'z')) {
    return std::nullopt;
  }
  const char* t = text.data();
  if (t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != 't') || t[13] != ':' ||
      t[16] != ':') {
    return std::nullopt;
  }
  for (const int pos : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) {
    if (!digit(t[pos])) {
      return std::nullopt;
    }
  }
  const int hh = two_digits(t + 11);
  const int mm = two_digits(t + 14);
  const int ss = two_digits(t + 17);
  if (hh > 23 || mm > 59 || ss > 59) {
    return std::nullopt;
  }
  if (!day.valid || std::char_traits<char>::compare(day.date.data(), t, day.date.size()) != 0) {
    const year_month_day ymd{year{to_int(text.substr(0, 4))}, month{unsigned(two_digits(t + 5))},
                             std::chrono::day{unsigned(two_digits(t + 8))}};
    // Venue time is nanoseconds in 64 bits: 1678 up to 2261; other years
    // would overflow, so they are not time stamps here.
    if (!ymd.ok() || int(ymd.year()) < 1678 || int(ymd.year()) > 2261) {
      return std::nullopt;
    }
    std::char_traits<char>::copy(day.date.data(), t, day.date.size());
    day.since_epoch = sys_days{ymd}.time_since_epoch();
    day.valid = true;
  }
  long long frac_ns = 0;
  const std::string_view rest = text.substr(19, text.size() - 20);
  if (!rest.empty()) {
    const std::string_view digits = rest.substr(1);
    if (rest[0] != '.' || digits.size() > 9 || !all_digits(digits)) {
      return std::nullopt;
    }
    frac_ns = to_int(digits);
    for (std::size_t i = digits.size(); i < 9; ++i) {
      frac_ns *= 10;
    }
  }
  return Timestamp{day.since_epoch + hours{hh} + minutes{mm} + seconds{ss} + nanoseconds{frac_ns}};
}

}  // namespace orbrix::cqgsim::venue
