#pragma once

// The engine's DateTime (a local time without zone, in microseconds) as a
// naive datetime.datetime, both ways. An aware datetime given from Python is
// taken by its wall-clock fields; its zone is not applied.

#include <pybind11/pybind11.h>

#include <datetime.h>

#include <chrono>

#include "orbrix/common/datetime.hpp"

namespace pybind11::detail {

template <>
class type_caster<orbrix::DateTime> {
 public:
  PYBIND11_TYPE_CASTER(orbrix::DateTime, const_name("datetime.datetime"));

  bool load(handle src, bool) {
    if (!src) {
      return false;
    }
    ensure_api();
    if (!PyDateTime_Check(src.ptr())) {
      return false;
    }
    try {
      value = orbrix::make_datetime(
          PyDateTime_GET_YEAR(src.ptr()), static_cast<unsigned>(PyDateTime_GET_MONTH(src.ptr())),
          static_cast<unsigned>(PyDateTime_GET_DAY(src.ptr())),
          static_cast<unsigned>(PyDateTime_DATE_GET_HOUR(src.ptr())),
          static_cast<unsigned>(PyDateTime_DATE_GET_MINUTE(src.ptr())),
          static_cast<unsigned>(PyDateTime_DATE_GET_SECOND(src.ptr())),
          std::chrono::microseconds(PyDateTime_DATE_GET_MICROSECOND(src.ptr())));
    } catch (const std::invalid_argument&) {
      return false;
    }
    return true;
  }

  static handle cast(const orbrix::DateTime& t, return_value_policy, handle) {
    using namespace std::chrono;
    ensure_api();
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<microseconds> hms{floor<microseconds>(t - day)};
    return PyDateTime_FromDateAndTime(
        static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
        static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(hms.hours().count()),
        static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count()),
        static_cast<int>(hms.subseconds().count()));
  }

 private:
  static void ensure_api() {
    if (!PyDateTimeAPI) {
      PyDateTime_IMPORT;
    }
  }
};

}  // namespace pybind11::detail
