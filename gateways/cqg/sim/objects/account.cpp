#include "objects/account.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "objects/account_book.hpp"
#include "objects/constants.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Dispatch;
using automation::Variant;

// Summary amounts come in two currency slots; both show the account's own.
constexpr std::int64_t kCurrencySlots = 2;

template <double venue::AccountSummary::*Field>
void add_amount(automation::ClassInfo& c, const char* name) {
  c.add_property(name, [name](Dispatch& d, Args a) -> Variant {
    return automation::self_as<Summary>(d).figures(name, a).*Field;
  });
}

}  // namespace

venue::AccountSummary Summary::figures(std::string_view member, Args args) const {
  automation::expect_args(args, 1, "CQGAccountSummary", member);
  const auto slot = args[0].as_int();
  if (slot < 0 || slot >= kCurrencySlots) {
    throw std::out_of_range(fmt::format("CQGAccountSummary.{}: no currency slot {} (0 to {})",
                                        member, slot, kCurrencySlots - 1));
  }
  auto book = book_.lock();
  if (!book) {
    throw std::logic_error("the simulator of this account is gone");
  }
  return book->venue().broker().summary(account_);
}

const automation::ClassInfo& Summary::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGAccountSummary");
    c.add_property("Count", [](Dispatch&, Args) -> Variant { return kCurrencySlots; });
    add_amount<&venue::AccountSummary::balance>(c, "Balance");
    add_amount<&venue::AccountSummary::collateral>(c, "Collaterals");
    add_amount<&venue::AccountSummary::net_liquidating_value>(c, "NLV");
    add_amount<&venue::AccountSummary::maintenance_margin>(c, "MaintenanceMargin");
    add_amount<&venue::AccountSummary::profit_loss>(c, "ProfitLoss");
    add_amount<&venue::AccountSummary::upl>(c, "UPL");
    return c;
  }();
  return info;
}

Account::Account(std::weak_ptr<AccountBook> book, const venue::AccountConfig& config)
    : book_(book),
      id_(config.id),
      name_(config.name),
      currency_(config.currency),
      position_level_(constants().pslNoPositions),
      summary_(std::make_shared<Summary>(book, config.id)),
      positions_(std::make_shared<Positions>()) {}

bool Account::positions_visible() const {
  return position_level_ != constants().pslNoPositions;
}

bool Account::position_updates() const {
  return position_level_ == constants().pslSnapshotAndUpdates;
}

const automation::ClassInfo& Account::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGAccount");
    auto self = [](Dispatch& d) -> Account& { return automation::self_as<Account>(d); };
    c.add_property("GWAccountID", [self](Dispatch& d, Args) -> Variant { return self(d).id_; });
    c.add_property("GWAccountName", [self](Dispatch& d, Args) -> Variant { return self(d).name_; });
    c.add_property("Currency", [self](Dispatch& d, Args) -> Variant { return self(d).currency_; });
    c.add_property(
        "AutoSubscribeInstruments",
        [self](Dispatch& d, Args) -> Variant { return self(d).auto_subscribe_; },
        [self](Dispatch& d, Args, const Variant& v) { self(d).auto_subscribe_ = v.as_bool(); });
    c.add_property(
        "PositionSubcriptionLevel",
        [self](Dispatch& d, Args) -> Variant { return self(d).position_level_; },
        [self](Dispatch& d, Args, const Variant& v) {
          const auto& k = constants();
          const auto level = v.as_int();
          if (level != k.pslNoPositions && level != k.pslSnapshot &&
              level != k.pslSnapshotAndUpdates) {
            throw std::invalid_argument(
                fmt::format("{} is not a position subscription level", level));
          }
          self(d).position_level_ = level;
        });
    c.add_property("Summary", [self](Dispatch& d, Args) -> Variant { return self(d).summary_; });
    c.add_property("Positions", [self](Dispatch& d, Args) -> Variant {
      auto& a = self(d);
      a.positions_->clear();
      if (a.positions_visible()) {
        if (auto book = a.book_.lock()) {
          for (auto& p : book->positions_of(a.id_)) {
            a.positions_->add(std::move(p));
          }
        }
      }
      return a.positions_;
    });
    return c;
  }();
  return info;
}

double Position::open_trade_equity() const {
  auto book = book_.lock();
  if (!book || quantity_ == 0) {
    return 0;
  }
  auto& broker = book->venue().broker();
  const auto& position = broker.positions()[index_];
  const auto mark = broker.mark(position);
  if (!mark) {
    return 0;
  }
  const double tick_value = broker.instrument(position.instrument).tick_value;
  return (*mark - average_ticks_) * static_cast<double>(quantity_) * tick_value;
}

double Position::average_price() const {
  auto book = book_.lock();
  if (!book) {
    return 0.0;
  }
  auto& broker = book->venue().broker();
  const double tick = broker.instrument(broker.positions()[index_].instrument).tick_size;
  return average_ticks_ * tick;
}

Position::Figures Position::figures() const {
  return {.average_price = average_price(),
          .quantity = quantity_,
          .open_trade_equity = open_trade_equity(),
          .profit_loss = realized_};
}

const automation::ClassInfo& Position::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGPosition");
    auto self = [](Dispatch& d) -> Position& { return automation::self_as<Position>(d); };
    c.add_property("InstrumentName",
                   [self](Dispatch& d, Args) -> Variant { return self(d).instrument_name_; });
    c.add_property("Side", [self](Dispatch& d, Args) -> Variant {
      auto& p = self(d);
      if (auto book = p.book_.lock(); book && book->side_invalid(p.index_)) {
        return constants().osdUndefined;
      }
      return p.quantity_ < 0 ? constants().osdSell : constants().osdBuy;
    });
    c.add_property("AveragePrice",
                   [self](Dispatch& d, Args) -> Variant { return self(d).average_price(); });
    c.add_property("Quantity", [self](Dispatch& d, Args) -> Variant { return self(d).quantity_; });
    c.add_property("OTE",
                   [self](Dispatch& d, Args) -> Variant { return self(d).open_trade_equity(); });
    c.add_property("ProfitLoss",
                   [self](Dispatch& d, Args) -> Variant { return self(d).realized_; });
    c.add_property("Account",
                   [self](Dispatch& d, Args) -> Variant { return self(d).account_.lock(); });
    return c;
  }();
  return info;
}

}  // namespace orbrix::cqgsim
