// Construction, the order lifecycle outside matching, and lookups.

#include "venue/trading/paper_broker.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "venue/price.hpp"

namespace orbrix::cqgsim::venue {

namespace {

// Room for the events of a busy market update, so the buffer rarely grows.
constexpr std::size_t kEventReserve = 64;

// Why a request cannot be taken, or nullopt when it can.
std::optional<std::string> invalid_reason(const OrderRequest& request, std::string& refusal,
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
  if (!refusal.empty()) {
    return std::move(refusal);
  }
  const bool needs_limit = request.type == OrderType::Limit || request.type == OrderType::StopLimit;
  const bool needs_stop = request.type == OrderType::Stop || request.type == OrderType::StopLimit;
  if (needs_limit && !request.limit_price) {
    return fmt::format("a {} order needs a limit price", to_string(request.type));
  }
  if (needs_stop && !request.stop_price) {
    return fmt::format("a {} order needs a stop price", to_string(request.type));
  }
  for (const auto& [price, what] :
       {std::pair{request.limit_price, "limit"}, std::pair{request.stop_price, "stop"}}) {
    if (price && (*price < 1 || *price > kMaxPriceTicks)) {
      return fmt::format("{} price of {} ticks is outside 1 to {} ticks", what, *price,
                         kMaxPriceTicks);
    }
  }
  return std::nullopt;
}

template <class T>
void check_range(const char* name, T value, T low, T high) {
  // Written so that a NaN fails too.
  if (!(value >= low && value <= high)) {
    throw std::invalid_argument(fmt::format("the trading option {} must be within {} to {}, got {}",
                                            name, low, high, value));
  }
}

}  // namespace

void check_options(const TradingOptions& options) {
  check_range<Ticks>("slippage_ticks", options.slippage_ticks, 0, kMaxSlippageTicks);
  check_range("commission_per_contract", options.commission_per_contract, 0.0, kMaxCommission);
  check_range<std::int64_t>("max_order_quantity", options.max_order_quantity, 1, kMaxOrderQuantity);
  check_range<std::size_t>("finished_orders_kept", options.finished_orders_kept, 0,
                           kMaxFinishedOrdersKept);
}

PaperBroker::PaperBroker(std::vector<InstrumentSpec> instruments,
                         std::vector<AccountConfig> accounts, TradingOptions options)
    : instruments_(std::move(instruments)), options_(options) {
  for (std::size_t i = 0; i < instruments_.size(); ++i) {
    const InstrumentSpec& instrument = instruments_[i];
    const auto usable = [](double v) { return v > 0 && std::isfinite(v); };
    if (!usable(instrument.tick_size) || !usable(instrument.tick_value)) {
      throw std::invalid_argument(
          fmt::format("instrument {} ('{}') needs a positive finite tick size and tick value", i,
                      instrument.symbol));
    }
  }
  check_options(options_);
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

Order& PaperBroker::stored(std::string_view order_id) {
  return const_cast<Order&>(std::as_const(*this).order(order_id));
}

PaperBroker::Submitted PaperBroker::submit(OrderRequest request, Timestamp now,
                                           std::string refusal) {
  check_time(now);
  now_ = now;
  events_.clear();

  const std::size_t index = next_index_++;
  Order& order = orders_[index];
  order.serial = index + 1;
  order.id = format_order_id(order.serial);
  order.request = std::move(request);
  order.remaining_quantity = order.request.quantity;
  order.submitted_at = now;
  order.updated_at = now;
  events_.emplace_back(std::in_place_type<OrderAdded>, OrderAdded{index, now});

  std::optional<std::string> reason = invalid_reason(
      order.request, refusal, account_index_, instruments_.size(), options_.max_order_quantity);
  if (reject_next_) {
    // The fault switch wins over the order's own faults: the test that set
    // it expects exactly this reason.
    reason = std::move(reject_next_);
    reject_next_.reset();
  }
  if (reason) {
    finish_rejected(order, std::move(*reason), now);
  } else if (options_.accept_on_submit) {
    place(order, now);
  }
  forget_finished();
  return {index, events_};
}

std::span<const TradingEvent> PaperBroker::cancel(std::string_view order_id, Timestamp now) {
  Order& order = stored(order_id);
  if (is_final(order.status) || order.status == OrderStatus::CancelPending) {
    throw std::invalid_argument(fmt::format("order '{}' cannot be cancelled: it is already {}",
                                            order_id, to_string(order.status)));
  }
  check_time(now);
  now_ = now;
  events_.clear();

  order.status = OrderStatus::CancelPending;
  order.cancel_requested_at = now;
  emit_order_changed(order, now);

  unlist(order);
  order.status = OrderStatus::Cancelled;
  order.final_at = now;
  emit_order_changed(order, now);
  retire(order);
  forget_finished();
  return events_;
}

std::span<const TradingEvent> PaperBroker::accept_order(std::string_view order_id, Timestamp now) {
  Order& order = stored(order_id);
  if (order.status != OrderStatus::InTransit) {
    throw std::invalid_argument(
        fmt::format("order '{}' is not in transit: it is {}", order_id, to_string(order.status)));
  }
  check_time(now);
  now_ = now;
  events_.clear();
  place(order, now);
  forget_finished();
  return events_;
}

std::span<const TradingEvent> PaperBroker::reject_order(std::string_view order_id,
                                                        std::string reason, Timestamp now) {
  Order& order = stored(order_id);
  if (order.status != OrderStatus::InTransit) {
    throw std::invalid_argument(
        fmt::format("order '{}' is not in transit: it is {}", order_id, to_string(order.status)));
  }
  check_time(now);
  now_ = now;
  events_.clear();
  finish_rejected(order, std::move(reason), now);
  forget_finished();
  return events_;
}

void PaperBroker::reject_next_order(std::string reason) {
  reject_next_ = reason.empty() ? std::string("rejected by the venue") : std::move(reason);
}

void PaperBroker::place(Order& order, Timestamp now) {
  order.status = OrderStatus::Working;
  order.placed_at = now;
  order.updated_at = now;
  emit_order_changed(order, now);

  Market& market = markets_[order.request.instrument];
  if (options_.reject_market_without_quote && order.request.type == OrderType::Market) {
    const bool buy = order.request.side == Side::Buy;
    const bool quoted = market.last && (buy ? market.last->ask : market.last->bid).has_value();
    if (!quoted) {
      finish_rejected(order, buy ? "no ask to buy at" : "no bid to sell at", now);
      return;
    }
  }
  market.book.push_back(Resting{order.serial - 1, &order, false});
}

void PaperBroker::finish_rejected(Order& order, std::string reason, Timestamp now) {
  order.status = OrderStatus::Rejected;
  order.reject_reason = std::move(reason);
  order.final_at = now;
  order.updated_at = now;
  emit_order_changed(order, now);
  retire(order);
}

void PaperBroker::emit_order_changed(Order& order, Timestamp now, std::optional<Fill> fill) {
  order.updated_at = now;
  OrderChanged changed{order.serial - 1,
                       order.status,
                       order.filled_quantity,
                       order.remaining_quantity,
                       order.average_fill_price(),
                       fill,
                       order.status == OrderStatus::Rejected ? order.reject_reason : std::string(),
                       now};
  events_.emplace_back(std::in_place_type<OrderChanged>, std::move(changed));
}

void PaperBroker::unlist(const Order& order) {
  const InstrumentId instrument = order.request.instrument;
  if (instrument >= markets_.size()) {
    return;  // a rejected order for an unknown instrument was never listed
  }
  std::erase_if(markets_[instrument].book,
                [&order](const Resting& resting) { return resting.order == &order; });
}

void PaperBroker::forget_finished() {
  while (finished_.size() > options_.finished_orders_kept) {
    orders_.erase(finished_.front());
    finished_.pop_front();
  }
}

const Order& PaperBroker::order(std::string_view order_id) const {
  // The id spells the serial: no index of ids is needed.
  const auto serial = parse_order_id(order_id);
  const auto it = serial && *serial > 0 ? orders_.find(*serial - 1) : orders_.end();
  if (it == orders_.end()) {
    throw std::out_of_range(fmt::format(
        "unknown order id '{}' (never submitted, or finished and no longer kept)", order_id));
  }
  return it->second;
}

const Order& PaperBroker::order_at(std::size_t index) const {
  const auto it = orders_.find(index);
  if (it == orders_.end()) {
    throw std::out_of_range(fmt::format(
        "no order at index {} (never submitted, or finished and no longer kept)", index));
  }
  return it->second;
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
