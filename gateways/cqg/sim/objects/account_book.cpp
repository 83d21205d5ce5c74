#include "objects/account_book.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <variant>

#include "objects/constants.hpp"

namespace orbrix::cqgsim {

using automation::Variant;

AccountBook::AccountBook(Session& session)
    : session_(session),
      account_level_(constants().aslNone),
      accounts_(std::make_shared<Accounts>()) {}

void AccountBook::set_level(std::int64_t level) {
  const auto& k = constants();
  if (level != k.aslNone && level != k.aslAccountUpdatesAndOrders && level != k.aslAccountUpdates) {
    throw std::invalid_argument(fmt::format(
        "CQGCEL.AccountSubscriptionLevel: {} is not an account subscription level", level));
  }
  const bool was_none = account_level_ == k.aslNone;
  account_level_ = level;
  if (level == k.aslNone) {
    accounts_->clear();
    ++account_generation_;  // a reload still on its way answers nobody
    return;
  }
  if (!was_none || !session_.has_venue()) {
    return;
  }
  const auto b = session_.controls().fault_plan().account_reload;
  if (b.answer == AnswerBehaviour::Answer::Never || b.answer == AnswerBehaviour::Answer::Error) {
    return;
  }
  const auto generation = ++account_generation_;
  session_.after(b.delay, [this, generation] {
    if (generation != account_generation_ || account_level_ == constants().aslNone) {
      return;
    }
    accounts_->clear();
    const auto book = session_.share(*this);
    for (const auto& a : session_.venue().broker().accounts()) {
      auto& object = account_of_[a.config.id];
      if (!object) {
        object = std::make_shared<Account>(book, a.config);
      }
      accounts_->add(object);
    }
    if (auto* sink = session_.decoded_sink()) {
      cqg::decoded::AccountChange reloaded;
      reloaded.change = constants().actAccountsReloaded;
      sink->account_changed(reloaded);
      return;
    }
    const std::array<Variant, 3> args{Variant(constants().actAccountsReloaded), Variant(),
                                      Variant()};
    session_.fire(cqg::CelEvent::OnAccountChanged, args);
  });
}

std::vector<automation::DispatchPtr> AccountBook::positions_of(venue::AccountId account) const {
  std::vector<automation::DispatchPtr> out;
  for (const auto& [index, position] : position_of_) {
    if (position->account_id() == account) {
      out.push_back(position);
    }
  }
  return out;
}

bool AccountBook::side_invalid(std::size_t index) const {
  const auto symbols = session_.controls().fault_plan().invalid_position_sides;
  if (symbols.empty()) {
    return false;
  }
  auto& v = session_.venue();
  const auto instrument = v.broker().positions()[index].instrument;
  return std::any_of(symbols.begin(), symbols.end(),
                     [&](const std::string& s) { return v.catalogue().resolve(s) == instrument; });
}

void AccountBook::deliver(const venue::TradingEvent& event) {
  const auto& k = constants();
  auto& broker = session_.venue().broker();
  const bool added = std::holds_alternative<venue::PositionAdded>(event);
  const auto& update =
      added ? static_cast<const venue::PositionUpdate&>(std::get<venue::PositionAdded>(event))
            : static_cast<const venue::PositionUpdate&>(std::get<venue::PositionChanged>(event));
  const auto& p = broker.positions()[update.position];
  const auto account = this->account(p.account);
  auto& position = position_of_[update.position];
  if (!position) {
    position = std::make_shared<Position>(session_.share(*this), update.position, account,
                                          broker.instrument(p.instrument).full_name);
  }
  position->present(update);
  if (!account->position_updates()) {
    return;
  }
  const auto change = added ? k.actPositionAdded : k.actPositionChanged;
  if (auto* sink = session_.decoded_sink()) {
    const auto f = position->figures();
    sink->account_changed({.change = change,
                           .account_name = account->name(),
                           .instrument_name = position->instrument_name(),
                           .average_price = f.average_price,
                           .quantity = f.quantity,
                           .open_trade_equity = f.open_trade_equity,
                           .profit_loss = f.profit_loss});
    return;
  }
  const std::array<Variant, 3> args{Variant(change), Variant(account), Variant(position)};
  session_.fire(cqg::CelEvent::OnAccountChanged, args);
}

std::shared_ptr<Account> AccountBook::account(venue::AccountId id) {
  auto& object = account_of_[id];
  if (!object) {
    object = std::make_shared<Account>(session_.share(*this),
                                       session_.venue().broker().account(id).config);
  }
  return object;
}

}  // namespace orbrix::cqgsim
