#pragma once

// The times of a backtest's report, written in one zone and always labelled
// with it: UTC as ISO 8601 ending in "Z" (2026-12-07T14:30:00.000000Z), or a
// zone of the IANA database named by the user, as ISO 8601 with the UTC
// offset in force at that time (2026-12-07T22:30:00.000000+08:00).

#include <string>
#include <string_view>

#include "orbrix/cqgsim/venue_report.hpp"

namespace date {
class time_zone;
}

namespace orbrix::backtest {

class ReportTime {
 public:
  // UTC for an empty name or "UTC"; else the zone of that IANA name
  // ("Asia/Hong_Kong"). Throws std::invalid_argument for a name the zone
  // database does not know.
  explicit ReportTime(std::string_view zone = {});

  // `t` to the microsecond (truncated), with "Z" or its offset.
  std::string text(cqgsim::VenueTime t) const;
  // The zone as the report labels it: "UTC" or the IANA name.
  const std::string& name() const noexcept { return name_; }
  // What ends the name of a time column: "utc", or "local" with a zone
  // (whose offset each value carries).
  std::string_view column_suffix() const noexcept { return zone_ ? "local" : "utc"; }
  // The zone's wall clock at `t` as seconds since 1970-01-01 00:00 of that
  // wall clock: how gnuplot's time axis reads text() without its offset.
  double wall_seconds(cqgsim::VenueTime t) const;
  // The day of the zone's wall clock at `t`, "2026-12-07".
  std::string day(cqgsim::VenueTime t) const;

 private:
  const date::time_zone* zone_ = nullptr;  // none: UTC
  std::string name_ = "UTC";
};

}  // namespace orbrix::backtest
