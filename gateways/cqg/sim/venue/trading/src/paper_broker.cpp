// Construction, the order lifecycle outside matching, and lookups.

#include "venue/trading/paper_broker.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

namespace orbrix::cqgsim::venue {

namespace {

// Room for the events of a busy market update, so the buffer rarely grows.
constexpr std::size_t kEventReserve = 64;

// Why a request cannot be taken, or nullopt when it can.
std::optional<std::string> invalid_reason(const OrderRequest& request,
                                          const std::map<AccountId, std::size_t>& accounts,
                                          std::size_t instrument_count, std::int64_t max_quantity) {
  if (request.quantity <= 0) {
    return fmt::format("quantity must be positive, got {}", request.quantity);
  }
  if (request.quantity > max_quantity) {
    return fmt::format("quantity {} is above the maximum of {}", request.quantity, max_quantity);
  }
  if (!accounts.contains(request.account)) {
    return fmt::format("unknown account {}", request.account);
  }
  if (request.instrument >= instrument_count) {
    return fmt::format("unknown instrument {}", request.instrument);
  }
  const bool needs_limit = request.type == OrderType::Limit || request.type == OrderType::StopLimit;
  const bool needs_stop = request.type == OrderType::Stop || request.type == OrderType::StopLimit;
  if (needs_limit && !request.limit_price) {
    return fmt::format("a {} order needs a limit price", to_string(request.type));
  }
  if (needs_stop && !request.stop_price) {
    return fmt::format("a {} order needs a stop price", to_string(request.type));
  }
  return std::nullopt;
}

}  // namespace

PaperBroker::PaperBroker(std::vector<InstrumentSpec> instruments,
                         std::vector<AccountConfig> accounts, TradingOptions options)
    : instruments_(std::move(instruments)), options_(options) {
  for (std::size_t i = 0; i < instruments_.size(); ++i) {
    const InstrumentSpec& instrument = instruments_[i];
    if (!(instrument.tick_size > 0) || !(instrument.tick_value > 0)) {
      throw std::invalid_argument(fmt::format(
          "instrument {} ('{}') needs a positive tick size and tick value", i, instrument.symbol));
    }
  }
  if (options_.slippage_ticks < 0 || options_.commission_per_contract < 0 ||
      options_.max_order_quantity <= 0) {
    throw std::invalid_argument(
        "slippage and commission must not be negative, the maximum quantity must be positive");
  }
  accounts_.reserve(accounts.size());
  for (AccountConfig& config : accounts) {
    if (!account_index_.emplace(config.id, accounts_.size()).second) {
      throw std::invalid_argument(fmt::format("account {} is configured twice", config.id));
    }
    accounts_.push_back(Account{std::move(config)});
  }
  markets_.resize(instruments_.size());
  events_.reserve(kEventReserve);
}

void PaperBroker::check_time(Timestamp now) const {
  if (now_ && now < *now_) {
    throw std::invalid_argument(
        fmt::format("venue time went backwards: {} ns after {} ns since the epoch",
                    now.time_since_epoch().count(), now_->time_since_epoch().count()));
  }
}

std::size_t PaperBroker::index_of(std::string_view order_id) const {
  const auto it = order_index_.find(order_id);
  if (it == order_index_.end()) {
    throw std::out_of_range(fmt::format("unknown order id '{}'", order_id));
  }
  return it->second;
}

PaperBroker::Submitted PaperBroker::submit(OrderRequest request, Timestamp now) {
  check_time(now);
  now_ = now;
  events_.clear();

  const std::size_t index = orders_.size();
  Order& order = orders_.emplace_back();
  order.serial = index + 1;
  order.id = format_order_id(order.serial);
  order.request = std::move(request);
  order.remaining_quantity = order.request.quantity;
  order.submitted_at = now;
  order.updated_at = now;
  order_index_.emplace(order.id, index);
  events_.push_back(OrderAdded{index, now});

  std::optional<std::string> reason = invalid_reason(
      order.request, account_index_, instruments_.size(), options_.max_order_quantity);
  if (reject_next_) {
    // The fault switch wins over the order's own faults: the test that set
    // it expects exactly this reason.
    reason = std::move(reject_next_);
    reject_next_.reset();
  }
  if (reason) {
    finish_rejected(index, std::move(*reason), now);
  } else if (options_.accept_on_submit) {
    place(index, now);
  }
  return {index, events_};
}

std::span<const TradingEvent> PaperBroker::cancel(std::string_view order_id, Timestamp now) {
  const std::size_t index = index_of(order_id);
  Order& order = orders_[index];
  if (is_final(order.status) || order.status == OrderStatus::CancelPending) {
    throw std::invalid_argument(fmt::format("order '{}' cannot be cancelled: it is already {}",
                                            order_id, to_string(order.status)));
  }
  check_time(now);
  now_ = now;
  events_.clear();

  order.status = OrderStatus::CancelPending;
  order.cancel_requested_at = now;
  emit_order_changed(index, now);

  unlist(index);
  order.status = OrderStatus::Cancelled;
  order.final_at = now;
  emit_order_changed(index, now);
  return events_;
}

std::span<const TradingEvent> PaperBroker::accept_order(std::string_view order_id, Timestamp now) {
  const std::size_t index = index_of(order_id);
  if (orders_[index].status != OrderStatus::InTransit) {
    throw std::invalid_argument(fmt::format("order '{}' is not in transit: it is {}", order_id,
                                            to_string(orders_[index].status)));
  }
  check_time(now);
  now_ = now;
  events_.clear();
  place(index, now);
  return events_;
}

std::span<const TradingEvent> PaperBroker::reject_order(std::string_view order_id,
                                                        std::string reason, Timestamp now) {
  const std::size_t index = index_of(order_id);
  if (orders_[index].status != OrderStatus::InTransit) {
    throw std::invalid_argument(fmt::format("order '{}' is not in transit: it is {}", order_id,
                                            to_string(orders_[index].status)));
  }
  check_time(now);
  now_ = now;
  events_.clear();
  finish_rejected(index, std::move(reason), now);
  return events_;
}

void PaperBroker::reject_next_order(std::string reason) {
  reject_next_ = reason.empty() ? std::string("rejected by the venue") : std::move(reason);
}

void PaperBroker::place(std::size_t index, Timestamp now) {
  Order& order = orders_[index];
  order.status = OrderStatus::Working;
  order.placed_at = now;
  order.updated_at = now;
  emit_order_changed(index, now);

  Market& market = markets_[order.request.instrument];
  if (options_.reject_market_without_quote && order.request.type == OrderType::Market) {
    const bool buy = order.request.side == Side::Buy;
    const bool quoted = market.last && (buy ? market.last->ask : market.last->bid).has_value();
    if (!quoted) {
      finish_rejected(index, buy ? "no ask to buy at" : "no bid to sell at", now);
      return;
    }
  }
  market.book.push_back(Resting{index, false});
}

void PaperBroker::finish_rejected(std::size_t index, std::string reason, Timestamp now) {
  Order& order = orders_[index];
  order.status = OrderStatus::Rejected;
  order.reject_reason = std::move(reason);
  order.final_at = now;
  order.updated_at = now;
  emit_order_changed(index, now);
}

void PaperBroker::emit_order_changed(std::size_t index, Timestamp now,
                                     std::optional<std::size_t> fill) {
  Order& order = orders_[index];
  order.updated_at = now;
  events_.push_back(OrderChanged{index, order.status, order.filled_quantity,
                                 order.remaining_quantity, order.average_fill_price(), fill, now});
}

void PaperBroker::unlist(std::size_t index) {
  const InstrumentId instrument = orders_[index].request.instrument;
  if (instrument >= markets_.size()) {
    return;  // a rejected order for an unknown instrument was never listed
  }
  std::erase_if(markets_[instrument].book,
                [index](const Resting& resting) { return resting.order == index; });
}

const Order& PaperBroker::order(std::string_view order_id) const {
  return orders_[index_of(order_id)];
}

const Position* PaperBroker::find_position(AccountId account, InstrumentId instrument) const {
  const auto it = position_index_.find({account, instrument});
  return it == position_index_.end() ? nullptr : &positions_[it->second];
}

const Account& PaperBroker::account(AccountId id) const {
  const auto it = account_index_.find(id);
  if (it == account_index_.end()) {
    throw std::out_of_range(fmt::format("unknown account {}", id));
  }
  return accounts_[it->second];
}

const InstrumentSpec& PaperBroker::instrument(InstrumentId id) const {
  if (id >= instruments_.size()) {
    throw std::out_of_range(
        fmt::format("unknown instrument {} (the venue has {})", id, instruments_.size()));
  }
  return instruments_[id];
}

}  // namespace orbrix::cqgsim::venue
