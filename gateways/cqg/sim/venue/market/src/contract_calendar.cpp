#include "contract_calendar.hpp"

#include <stdexcept>

namespace orbrix::cqgsim::venue {

namespace {

using namespace std::chrono;

constexpr char kMonthCodes[] = "FGHJKMNQUVXZ";

bool is_business_day(sys_days d) {
  const weekday w{d};
  return w != Saturday && w != Sunday;
}

sys_days business_days_before(sys_days d, int n) {
  while (n > 0) {
    d -= days{1};
    if (is_business_day(d)) {
      --n;
    }
  }
  return d;
}

sys_days last_business_day_before(sys_days d) {
  return business_days_before(d, 1);
}

sys_days nth_weekday(year y, month m, weekday w, unsigned n) {
  return sys_days{year_month_weekday{y, m, w[n]}};
}

sys_days last_day_of(RollRule rule, year y, month m) {
  const sys_days first = sys_days{y / m / 1};
  switch (rule) {
    case RollRule::ThirdFriday:
      return nth_weekday(y, m, Friday, 3);
    case RollRule::MondayBeforeThirdWed:
      return nth_weekday(y, m, Wednesday, 3) - days{2};
    case RollRule::EndOfPrecedingMonth:
      return last_business_day_before(first);
    case RollRule::CrudeOil: {
      const year_month prev = year_month{y, m} - months{1};
      sys_days d = sys_days{prev / 25};
      if (!is_business_day(d)) {
        d = last_business_day_before(d);
      }
      return business_days_before(d, 3);
    }
    case RollRule::NaturalGas:
      return business_days_before(first, 3);
  }
  throw std::logic_error("unknown roll rule");
}

}  // namespace

FrontContract front_contract(const ContractCycle& cycle, sys_days day) {
  const year_month_day today{day};
  year_month ym{today.year(), today.month()};
  // Every contract's last day falls in its own month or the one before, so
  // the search starts at this month; two years covers every cycle.
  for (int i = 0; i < 24; ++i, ym += months{1}) {
    const unsigned mon = unsigned(ym.month());
    bool in_cycle = false;
    for (const unsigned c : cycle.months) {
      in_cycle = in_cycle || c == mon;
    }
    if (!in_cycle) {
      continue;
    }
    const sys_days last = last_day_of(cycle.rule, ym.year(), ym.month());
    if (last >= day) {
      const int yy = int(ym.year()) % 100;
      std::string code(1, kMonthCodes[mon - 1]);
      code += char('0' + yy / 10);
      code += char('0' + yy % 10);
      return {code, last};
    }
  }
  throw std::logic_error("contract cycle has no months");
}

}  // namespace orbrix::cqgsim::venue
