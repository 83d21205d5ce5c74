#pragma once

// The trading account's balance. Built with no arguments (all amounts 0,
// optional ones absent) and then filled field by field.

#include <map>
#include <optional>
#include <string>

#include "orbrix/core/export.hpp"

namespace orbrix {

// The selected account's balance, in the account's currency.
struct AccountBalance {
  double cash = 0;                                                // the balance
  std::optional<std::map<std::string, double>> cash_by_currency;  // currency -> cash
  double available_cash = 0;              // the balance less the collateral in use
  std::optional<double> max_power_short;  // buying power for short positions; none from CQG
  double net_cash_power = 0;              // the net liquidating value
  double maintenance_margin = 0;          // the margin the open positions hold
  double realized_pnl = 0;                // profit and loss of closed trades
  double unrealized_pnl = 0;              // of open positions at the market

  // Equal when every field is.
  friend bool operator==(const AccountBalance&, const AccountBalance&) = default;
};

// One line with every field; absent ones read "none".
ORBRIX_SECURITY_API std::string to_text(const AccountBalance& balance);

}  // namespace orbrix
