#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "objects/collection.hpp"
#include "objects/sim_object.hpp"
#include "orbrix/automation/class_info.hpp"
#include "venue/trading/paper_broker.hpp"

namespace orbrix::cqgsim {

class AccountBook;

// An account's summary: amounts indexed by currency slot (0 and 1, the same
// figures), computed against the venue's current marks when read.
class Summary final : public SimObject<Summary> {
 public:
  Summary(std::weak_ptr<AccountBook> book, venue::AccountId account)
      : book_(std::move(book)), account_(account) {}
  static const automation::ClassInfo& class_info();
  venue::AccountSummary figures(std::string_view member, automation::Args args) const;

 private:
  std::weak_ptr<AccountBook> book_;
  venue::AccountId account_;
};

inline constexpr char kPositionsName[] = "CQGPositions";
using Positions = NamedCollection<kPositionsName>;

class Account final : public SimObject<Account> {
 public:
  Account(std::weak_ptr<AccountBook> book, const venue::AccountConfig& config);
  static const automation::ClassInfo& class_info();

  venue::AccountId id() const { return id_; }
  const std::string& name() const { return name_; }
  std::int64_t position_level() const { return position_level_; }
  bool positions_visible() const;
  bool position_updates() const;

 private:
  std::weak_ptr<AccountBook> book_;
  venue::AccountId id_;
  std::string name_;
  std::string currency_;
  bool auto_subscribe_ = false;
  std::int64_t position_level_;
  std::shared_ptr<Summary> summary_;
  std::shared_ptr<Positions> positions_;
};

// A position of an account in an instrument, as the latest position event
// showed it (so a handler reads the figures of the event it handles). It
// refers to its account weakly: the account's Positions collection holds
// the position, and the account book holds both.
class Position final : public SimObject<Position> {
 public:
  Position(std::weak_ptr<AccountBook> book, std::size_t index,
           const std::shared_ptr<Account>& account, std::string instrument_name)
      : book_(std::move(book)),
        index_(index),
        account_id_(account->id()),
        account_(account),
        instrument_name_(std::move(instrument_name)) {}
  static const automation::ClassInfo& class_info();

  venue::AccountId account_id() const { return account_id_; }
  const std::string& instrument_name() const { return instrument_name_; }
  // AveragePrice, Quantity, OTE and ProfitLoss as read now.
  struct Figures {
    double average_price = 0;
    std::int64_t quantity = 0;
    double open_trade_equity = 0;
    double profit_loss = 0;
  };
  Figures figures() const;
  void present(const venue::PositionUpdate& update) {
    quantity_ = update.quantity;
    average_ticks_ = update.average_price;
    realized_ = update.realized_pnl;
  }

 private:
  double open_trade_equity() const;
  double average_price() const;

  std::weak_ptr<AccountBook> book_;
  std::size_t index_;
  venue::AccountId account_id_;
  std::weak_ptr<Account> account_;
  std::string instrument_name_;
  std::int64_t quantity_ = 0;
  double average_ticks_ = 0;
  double realized_ = 0;
};

}  // namespace orbrix::cqgsim
