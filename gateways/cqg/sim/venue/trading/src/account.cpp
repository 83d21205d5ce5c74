#include "venue/trading/account.hpp"

namespace orbrix::cqgsim::venue {

std::vector<AccountConfig> default_accounts() {
  return {
      {100001, "Paper USD 1", "USD", 100'000.0, 0.0},
      {100002, "Paper USD 2", "USD", 250'000.0, 50'000.0},
      {100003, "Paper EUR", "EUR", 100'000.0, 0.0},
  };
}

}  // namespace orbrix::cqgsim::venue
