#include "display_time.hpp"

#include <fmt/format.h>

#include <ctime>

#include "orbrix/cqg/broker_link_constants.hpp"

namespace orbrix::demo {
namespace {

using namespace std::chrono;

// The vendor's configured zone has been UTC+8 without summer time for
// decades; this offset stands in only where no tz database is installed.
constexpr hours kVendorOffsetWithoutTzData{8};

}  // namespace

UtcTime utc_now() {
  return time_point_cast<microseconds>(system_clock::now());
}

UtcTime utc_of_local(DateTime local) {
  const auto whole = floor<seconds>(local);
  const auto day = floor<days>(whole);
  const year_month_day ymd{day};
  const hh_mm_ss hms{whole - day};
  std::tm tm{};
  tm.tm_year = int(ymd.year()) - 1900;
  tm.tm_mon = int(unsigned(ymd.month())) - 1;
  tm.tm_mday = int(unsigned(ymd.day()));
  tm.tm_hour = int(hms.hours().count());
  tm.tm_min = int(hms.minutes().count());
  tm.tm_sec = int(hms.seconds().count());
  tm.tm_isdst = -1;  // let the zone's rules decide
  const std::time_t tt = std::mktime(&tm);
  return UtcTime{seconds{tt}} + (local - whole);
}

UtcTime utc_of_vendor(DateTime vendor) {
  if (const auto* zone = cqg::TIMEZONE) {
    return zone->to_sys(date::local_time<microseconds>{vendor.time_since_epoch()},
                        date::choose::earliest);
  }
  return UtcTime{vendor.time_since_epoch() - kVendorOffsetWithoutTzData};
}

std::string local_text(UtcTime t) {
  const std::time_t tt = system_clock::to_time_t(floor<seconds>(t));
  std::tm tm{};
  localtime_r(&tt, &tm);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  std::string zone = tm.tm_zone ? tm.tm_zone : "";
  if (zone.empty()) {
    const long minutes = tm.tm_gmtoff / 60;
    zone = fmt::format("{}{:02}{:02}", minutes < 0 ? '-' : '+', std::abs(minutes) / 60,
                       std::abs(minutes) % 60);
  }
  return fmt::format("{} {}", when, zone);
}

std::string zone_note() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  const std::string vendor =
      cqg::TIMEZONE ? std::string(cqg::TIMEZONE->name()) : std::string("UTC+8");
  return fmt::format(
      "times are this machine's local time ({}); the vendor's order, deal and bar times ({}) "
      "are converted to it",
      tm.tm_zone ? tm.tm_zone : "its zone", vendor);
}

}  // namespace orbrix::demo
