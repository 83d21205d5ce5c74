#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "objects/account.hpp"
#include "objects/collection.hpp"
#include "objects/session.hpp"

namespace orbrix::cqgsim {

inline constexpr char kAccountsName[] = "CQGAccounts";
using Accounts = NamedCollection<kAccountsName>;

// Accounts and positions: AccountSubscriptionLevel (leaving aslNone reloads
// the accounts, told by OnAccountChanged), the Accounts collection, and
// OnAccountChanged for each position event of the venue on an account whose
// positions are subscribed with updates.
//
// Thread: the session's.
class AccountBook {
 public:
  explicit AccountBook(Session& session);

  std::int64_t level() const { return account_level_; }
  void set_level(std::int64_t level);
  const std::shared_ptr<Accounts>& accounts() const { return accounts_; }

  // A position event (added or changed): the position shows its figures and,
  // with updates subscribed, OnAccountChanged is fired.
  void deliver(const venue::TradingEvent& event);

  // For the objects: the position objects of an account shown in its
  // Positions collection, and the venue their figures come from.
  std::vector<automation::DispatchPtr> positions_of(venue::AccountId account) const;
  venue::Venue& venue() { return session_.venue(); }
  // The object of `account` (one of the venue's), made on first use.
  std::shared_ptr<Account> account(venue::AccountId id);
  // Whether the fault plan has the position at the broker's `index` report
  // a Side that is no order side.
  bool side_invalid(std::size_t index) const;

 private:
  Session& session_;
  std::int64_t account_level_;
  std::uint64_t account_generation_ = 0;  // a reload answers only the level change it is for
  std::shared_ptr<Accounts> accounts_;
  std::map<venue::AccountId, std::shared_ptr<Account>> account_of_;
  std::map<std::size_t, std::shared_ptr<Position>> position_of_;  // by the broker's index
};

}  // namespace orbrix::cqgsim
