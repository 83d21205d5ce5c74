// Matching the resting orders of an instrument against its level-1 market,
// and booking the fills into orders, positions and accounts.

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "venue/trading/paper_broker.hpp"

namespace orbrix::cqgsim::venue {

std::span<const TradingEvent> PaperBroker::on_market(InstrumentId instrument, const TopOfBook& book,
                                                     Timestamp now) {
  if (instrument >= markets_.size()) {
    throw std::out_of_range(fmt::format(
        "market update for unknown instrument {} (the venue has {})", instrument, markets_.size()));
  }
  check_time(now);
  now_ = now;
  events_.clear();

  Market& market = markets_[instrument];
  market.last = book;
  if (book.trade) {
    market.last_trade = book.trade->price;
  }
  if (market.book.empty()) {
    return events_;
  }

  // A side showing no size has an unknown size (a recorded history without
  // sizes): it caps nothing.
  const auto shown = [](std::int64_t size) {
    return size > 0 ? std::optional<std::int64_t>(size) : std::nullopt;
  };
  Liquidity free{shown(book.bid_size), shown(book.ask_size)};
  // Matching appends to positions_, never to the book, so the entries stay
  // where they are while we walk them; finished ones go after.
  for (Resting& resting : market.book) {
    match(resting, book, free, now);
  }
  std::erase_if(market.book,
                [](const Resting& resting) { return is_final(resting.order->status); });
  forget_finished();
  return events_;
}

void PaperBroker::match(Resting& resting, const TopOfBook& book, Liquidity& free, Timestamp now) {
  Order& order = *resting.order;
  const OrderRequest& request = order.request;
  const bool buy = request.side == Side::Buy;

  const bool is_stop = request.type == OrderType::Stop || request.type == OrderType::StopLimit;
  if (is_stop && !order.triggered) {
    if (!book.trade) {
      return;
    }
    const Ticks stop = *request.stop_price;
    const bool hit = buy ? book.trade->price >= stop : book.trade->price <= stop;
    if (!hit) {
      return;
    }
    order.triggered = true;
    order.triggered_at = now;
    order.updated_at = now;
    // A stop limit meets the market as a fresh limit on this very update.
    resting.seen_market = false;
  }

  const std::optional<Ticks>& touch = buy ? book.ask : book.bid;
  const Ticks slip = buy ? options_.slippage_ticks : -options_.slippage_ticks;
  const bool takes_market = request.type == OrderType::Market || request.type == OrderType::Stop;
  Ticks price = 0;
  if (takes_market) {
    if (!touch) {
      if (options_.reject_market_without_quote) {
        finish_rejected(order, buy ? "no ask to buy at" : "no bid to sell at", now);
      }
      return;
    }
    price = *touch + slip;
  } else {
    if (!touch) {
      return;  // it has not met the market yet
    }
    const Ticks limit = *request.limit_price;
    const bool marketable = buy ? *touch <= limit : *touch >= limit;
    const bool first_look = !resting.seen_market;
    resting.seen_market = true;
    if (!marketable) {
      return;
    }
    // On its first look it takes the quote; once resting it fills at its
    // own price, never at a better quote that gapped through it.
    price = first_look ? (buy ? std::min(*touch + slip, limit) : std::max(*touch + slip, limit))
                       : limit;
  }

  std::int64_t quantity = order.remaining_quantity;
  std::optional<std::int64_t>& shown = buy ? free.ask : free.bid;
  if (options_.cap_fill_at_displayed_size && shown) {
    quantity = std::min(quantity, std::max<std::int64_t>(*shown, 0));
    *shown -= quantity;
  }
  if (quantity > 0) {
    execute(order, price, quantity, now);
  }
}

void PaperBroker::execute(Order& order, Ticks price, std::int64_t quantity, Timestamp now) {
  const OrderRequest& request = order.request;
  // Callers never ask for more than the remainder; this keeps an overfill
  // impossible even if one did.
  quantity = std::min(quantity, order.remaining_quantity);

  const Fill fill{
      next_fill_id_++, order.serial - 1, request.account,   request.instrument, request.side, now,
      price,           quantity,         FillStatus::Normal};

  order.filled_quantity += quantity;
  order.remaining_quantity -= quantity;
  order.filled_value += static_cast<double>(price) * static_cast<double>(quantity);
  order.last_fill_at = now;
  if (order.remaining_quantity == 0) {
    order.status = OrderStatus::Filled;
    order.final_at = now;
  }
  emit_order_changed(order, now, fill);
  if (order.status == OrderStatus::Filled) {
    retire(order);
  }

  bool added = false;
  const std::size_t position_index = position_for(request.account, request.instrument, now, added);
  Position& position = positions_[position_index];
  const double realized = book_fill(position, request.side, quantity, price,
                                    instruments_[request.instrument].tick_value);
  const double commission = options_.commission_per_contract * static_cast<double>(quantity);
  position.commissions += commission;
  position.updated_at = now;
  Account& account = accounts_[account_index_.at(request.account)];
  account.realized_pnl += realized;
  account.commissions += commission;

  const PositionUpdate update{position_index, position.quantity, position.average_price,
                              position.realized_pnl, now};
  if (added) {
    events_.emplace_back(std::in_place_type<PositionAdded>, PositionAdded{update});
  } else {
    events_.emplace_back(std::in_place_type<PositionChanged>, PositionChanged{update});
  }
}

std::size_t PaperBroker::position_for(AccountId account, InstrumentId instrument, Timestamp now,
                                      bool& added) {
  const auto [it, inserted] = position_index_.try_emplace({account, instrument}, positions_.size());
  added = inserted;
  if (inserted) {
    Position& position = positions_.emplace_back();
    position.account = account;
    position.instrument = instrument;
    position.opened_at = now;
  }
  return it->second;
}

}  // namespace orbrix::cqgsim::venue
