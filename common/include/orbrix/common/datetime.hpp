#pragma once

// Local date-time without zone: the one time type handed to the engine and
// written in messages. Vendor time stamps are cut to whole seconds; the
// machine's clock keeps microseconds.

#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <string>

namespace orbrix {

using DateTime = std::chrono::local_time<std::chrono::microseconds>;

// Builds a date-time from calendar fields. Throws std::invalid_argument when
// the fields do not name a real date and time.
inline DateTime make_datetime(int year, unsigned month, unsigned day, unsigned hour = 0,
                              unsigned minute = 0, unsigned second = 0,
                              std::chrono::microseconds fraction = {}) {
  using namespace std::chrono;
  const year_month_day ymd{std::chrono::year{year}, std::chrono::month{month},
                           std::chrono::day{day}};
  if (!ymd.ok() || hour > 23 || minute > 59 || second > 59 || fraction.count() < 0 ||
      fraction >= seconds{1}) {
    throw std::invalid_argument("invalid date-time fields");
  }
  return DateTime{local_days{ymd}.time_since_epoch() + hours{hour} + minutes{minute} +
                  seconds{second} + fraction};
}

// Drops any fraction of a second.
inline DateTime truncate_to_seconds(DateTime t) {
  return std::chrono::floor<std::chrono::seconds>(t);
}

// A UTC time point as the machine's local date-time without zone (the
// machine's time zone and its daylight-saving rules), to the microsecond.
inline DateTime to_local(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const std::time_t tt = system_clock::to_time_t(t);
  std::tm tm{};
#if defined(_WIN32)
  // No tm_gmtoff: the offset is the local fields read back as UTC.
  localtime_s(&tm, &tt);
  const std::time_t local = _mkgmtime(&tm);
#else
  localtime_r(&tt, &tm);
  const std::time_t local = tt + tm.tm_gmtoff;
#endif
  const auto whole = sys_seconds{seconds{tt}};
  const auto frac = duration_cast<microseconds>(t - time_point_cast<microseconds>(whole));
  return DateTime{duration_cast<microseconds>(seconds{local}) +
                  (frac.count() >= 0 ? frac : microseconds{0})};
}

// The machine's current local wall-clock time, without zone.
inline DateTime local_now() {
  return to_local(std::chrono::system_clock::now());
}

// to_local for a stream of times that mostly moves forward (a simulated
// clock): the zone's offset is looked up once per minute of UTC (zones
// change their offset on whole minutes), so a time costs an addition. One
// thread at a time.
class LocalTimeCache {
 public:
  DateTime operator()(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto minute = floor<minutes>(t);
    if (minute != minute_ || !known_) {
      offset_ = to_local(minute).time_since_epoch() -
                duration_cast<microseconds>(minute.time_since_epoch());
      minute_ = minute;
      known_ = true;
    }
    if (t.time_since_epoch().count() < 0) {
      return to_local(t);  // before 1970 to_local clamps fractions; keep its answer
    }
    return DateTime{duration_cast<microseconds>(t.time_since_epoch()) + offset_};
  }

 private:
  std::chrono::sys_time<std::chrono::minutes> minute_{};
  std::chrono::microseconds offset_{};
  bool known_ = false;
};

// "2024-03-05 14:07:09.004211"; the point and fraction are left out when the
// microseconds are exactly zero ("2024-03-05 14:07:09").
inline std::string to_text(DateTime t) {
  using namespace std::chrono;
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss hms{floor<microseconds>(t - day)};
  char buf[40];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", int(ymd.year()),
                        unsigned(ymd.month()), unsigned(ymd.day()), int(hms.hours().count()),
                        int(hms.minutes().count()), int(hms.seconds().count()));
  const auto us = hms.subseconds().count();
  if (us != 0) {
    std::snprintf(buf + n, sizeof buf - n, ".%06lld", static_cast<long long>(us));
  }
  return buf;
}

}  // namespace orbrix
