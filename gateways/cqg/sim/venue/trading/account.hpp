#pragma once

// Paper accounts: what the owner configures, what trading books against
// them, and the summary figures computed on request.

#include <cstdint>
#include <string>
#include <vector>

namespace orbrix::cqgsim::venue {

// A gateway account number as the vendor shows it (100001).
using AccountId = std::int64_t;

// What the owner configures for one paper account. Amounts are in the
// account's currency; the venue converts nothing between currencies.
struct AccountConfig {
  AccountId id = 0;
  std::string name;
  std::string currency = "USD";
  double starting_balance = 0;
  double collateral = 0;
};

// The accounts a broker opens with when its owner names none: two in USD
// (100001, 100002) and one in EUR (100003). Allocates; any thread.
std::vector<AccountConfig> default_accounts();

// An account as it stands: its configuration plus what trading has booked.
struct Account {
  AccountConfig config;
  double realized_pnl = 0;  // closed trades over all its positions
  double commissions = 0;   // paid so far, never part of an average price

  double balance() const { return config.starting_balance + realized_pnl - commissions; }
};

// An account's figures against the marks at the moment it was computed.
struct AccountSummary {
  AccountId account = 0;
  double balance = 0;                // starting balance + realised P&L - commissions
  double collateral = 0;             // as configured
  double net_liquidating_value = 0;  // balance + open trade equity
  double maintenance_margin = 0;     // sum of |quantity| x the instrument's margin
  double profit_loss = 0;            // realised P&L, before commissions
  double upl = 0;                    // open trade equity over all positions
  double commissions = 0;
};

}  // namespace orbrix::cqgsim::venue
