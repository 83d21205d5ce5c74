#include "orbrix/backtest/report_time.hpp"

#include <date/tz.h>
#include <fmt/format.h>

#include <stdexcept>

namespace orbrix::backtest {

namespace {

using Micros = std::chrono::microseconds;

// "2026-12-07T14:30:00.000000" of a wall clock's time.
std::string wall_text(std::chrono::sys_time<Micros> wall) {
  const auto day = std::chrono::floor<std::chrono::days>(wall);
  const std::chrono::year_month_day ymd{day};
  const std::chrono::hh_mm_ss hms{wall - day};
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:06}", int(ymd.year()),
                     unsigned(ymd.month()), unsigned(ymd.day()), hms.hours().count(),
                     hms.minutes().count(), hms.seconds().count(), hms.subseconds().count());
}

}  // namespace

ReportTime::ReportTime(std::string_view zone) {
  if (zone.empty() || zone == "UTC") {
    return;
  }
  try {
    zone_ = date::locate_zone(zone);
  } catch (const std::runtime_error&) {
    throw std::invalid_argument(fmt::format(
        "'{}' is not a time zone of the IANA database (such as UTC or Asia/Hong_Kong)", zone));
  }
  name_ = std::string(zone);
}

double ReportTime::wall_seconds(cqgsim::VenueTime t) const {
  const auto utc = std::chrono::floor<Micros>(t);
  const auto wall = zone_ ? utc + zone_->get_info(utc).offset : utc;
  return std::chrono::duration<double>(wall.time_since_epoch()).count();
}

std::string ReportTime::text(cqgsim::VenueTime t) const {
  const auto utc = std::chrono::floor<Micros>(t);
  if (!zone_) {
    return wall_text(utc) + "Z";
  }
  const auto offset = std::chrono::floor<std::chrono::minutes>(zone_->get_info(utc).offset);
  const auto minutes = offset.count() < 0 ? -offset.count() : offset.count();
  return fmt::format("{}{}{:02}:{:02}", wall_text(utc + offset), offset.count() < 0 ? '-' : '+',
                     minutes / 60, minutes % 60);
}

std::string ReportTime::day(cqgsim::VenueTime t) const {
  return text(t).substr(0, 10);
}

}  // namespace orbrix::backtest
