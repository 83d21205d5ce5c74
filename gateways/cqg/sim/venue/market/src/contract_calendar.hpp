#pragma once

// Which dated contract is a future's front month on a given day. Holidays are
// not modelled: business days are Monday to Friday.

#include <chrono>
#include <string>
#include <vector>

namespace orbrix::cqgsim::venue {

// When a contract stops being the front month (its last day as front).
enum class RollRule {
  ThirdFriday,           // equity index: third Friday of the contract month
  MondayBeforeThirdWed,  // FX: two days before the third Wednesday
  EndOfPrecedingMonth,   // rates and metals: last business day before the delivery month
  CrudeOil,              // 3 business days before the 25th of the preceding month
  NaturalGas,            // 3 business days before the first day of the contract month
};

struct ContractCycle {
  RollRule rule;
  std::vector<unsigned> months;  // contract months, 1..12, ascending
};

struct FrontContract {
  std::string code;                // "Z26": month letter and two-digit year
  std::chrono::sys_days last_day;  // the last day it is the front contract
};

// The first contract of the cycle whose last day is on or after `day`.
FrontContract front_contract(const ContractCycle& cycle, std::chrono::sys_days day);

}  // namespace orbrix::cqgsim::venue
