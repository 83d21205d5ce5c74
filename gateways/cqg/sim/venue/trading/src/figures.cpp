// Marks, open trade equity and account summaries, computed on request
// against the market as last seen.

#include <cstdlib>

#include "venue/trading/paper_broker.hpp"

namespace orbrix::cqgsim::venue {

namespace {

std::optional<double> mid(const std::optional<TopOfBook>& book) {
  if (!book || !book->bid || !book->ask) {
    return std::nullopt;
  }
  return (static_cast<double>(*book->bid) + static_cast<double>(*book->ask)) / 2.0;
}

std::optional<double> as_mark(const std::optional<Ticks>& ticks) {
  if (!ticks) {
    return std::nullopt;
  }
  return static_cast<double>(*ticks);
}

}  // namespace

std::optional<double> PaperBroker::mark(const Position& position) const {
  const Market& market = markets_.at(position.instrument);
  switch (options_.mark) {
    case MarkSource::LastTrade:
      if (market.last_trade) {
        return as_mark(market.last_trade);
      }
      return mid(market.last);
    case MarkSource::Mid:
      if (const auto m = mid(market.last)) {
        return m;
      }
      return as_mark(market.last_trade);
    case MarkSource::Side:
      if (market.last && position.quantity != 0) {
        const auto& side = position.quantity > 0 ? market.last->bid : market.last->ask;
        if (side) {
          return as_mark(side);
        }
      }
      return as_mark(market.last_trade);
  }
  return std::nullopt;
}

double PaperBroker::open_trade_equity(const Position& position) const {
  const std::optional<double> at = mark(position);
  if (!at) {
    return 0.0;
  }
  return venue::open_trade_equity(position, *at, instruments_.at(position.instrument).tick_value);
}

AccountSummary PaperBroker::summary(AccountId id) const {
  const Account& held = account(id);
  AccountSummary out;
  out.account = id;
  out.balance = held.balance();
  out.collateral = held.config.collateral;
  out.profit_loss = held.realized_pnl;
  out.commissions = held.commissions;
  for (const Position& position : positions_) {
    if (position.account != id) {
      continue;
    }
    out.upl += open_trade_equity(position);
    out.maintenance_margin += static_cast<double>(std::llabs(position.quantity)) *
                              instruments_[position.instrument].maintenance_margin;
  }
  out.net_liquidating_value = out.balance + out.upl;
  return out;
}

}  // namespace orbrix::cqgsim::venue
