#pragma once

// The trading account's balance. Built with no arguments (all amounts 0,
// optional ones absent) and then filled field by field.

#include <map>
#include <optional>
#include <string>

#include "orbrix/core/export.hpp"

namespace orbrix {

struct AccountBalance {
  double cash = 0;
  std::optional<std::map<std::string, double>> cash_by_currency;  // currency -> cash
  double available_cash = 0;
  std::optional<double> max_power_short;
  double net_cash_power = 0;
  double maintenance_margin = 0;
  double realized_pnl = 0;
  double unrealized_pnl = 0;

  friend bool operator==(const AccountBalance&, const AccountBalance&) = default;
};

// One line with every field; absent ones read "none".
ORBRIX_SECURITY_API std::string to_text(const AccountBalance& balance);

}  // namespace orbrix
