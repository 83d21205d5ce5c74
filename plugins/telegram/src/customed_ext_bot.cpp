#include "orbrix/telegram/customed_ext_bot.hpp"

namespace orbrix::telegram {

CustomedExtBot::CustomedExtBot(std::string token, ApiOptions options, Clock clock)
    : ExtBot(std::move(token), std::move(options)),
      clock_(clock ? std::move(clock) : Clock(&local_now)) {}

#define ORBRIX_TELEGRAM_FIELD_ACCESSORS(type, name, initial) \
  type CustomedExtBot::name() const {                        \
    MutexLock lock(mu_);                                     \
    return state_.name;                                      \
  }                                                          \
  void CustomedExtBot::name(type value) {                    \
    MutexLock lock(mu_);                                     \
    state_.name = std::move(value);                          \
  }
ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_TELEGRAM_FIELD_ACCESSORS)
#undef ORBRIX_TELEGRAM_FIELD_ACCESSORS

ControlState CustomedExtBot::snapshot() const {
  MutexLock lock(mu_);
  return state_;
}

namespace {

// Lowers `flag` and tells whether it was raised.
bool exchange_false(bool& flag) {
  const bool was = flag;
  flag = false;
  return was;
}

}  // namespace

bool CustomedExtBot::take_balance() {
  MutexLock lock(mu_);
  return exchange_false(state_.get_balance);
}

bool CustomedExtBot::take_positions() {
  MutexLock lock(mu_);
  return exchange_false(state_.get_positions);
}

std::optional<OrdersRequest> CustomedExtBot::take_orders() {
  MutexLock lock(mu_);
  if (!exchange_false(state_.get_orders))
    return std::nullopt;
  return OrdersRequest{state_.active_orders, state_.num_orders_displayed};
}

std::optional<std::int64_t> CustomedExtBot::take_deals() {
  MutexLock lock(mu_);
  if (!exchange_false(state_.get_deals))
    return std::nullopt;
  return state_.num_deals_displayed;
}

std::optional<CancelOrderRequest> CustomedExtBot::take_cancel_order() {
  MutexLock lock(mu_);
  if (!exchange_false(state_.cancel_order))
    return std::nullopt;
  return CancelOrderRequest{state_.cancel_order_id, state_.gateway_name};
}

bool CustomedExtBot::take_cancel_orders() {
  MutexLock lock(mu_);
  return exchange_false(state_.cancel_orders);
}

std::optional<std::string> CustomedExtBot::take_send_order() {
  MutexLock lock(mu_);
  if (!exchange_false(state_.send_order))
    return std::nullopt;
  return state_.order_string;
}

std::optional<ClosePositionsRequest> CustomedExtBot::take_close_positions() {
  MutexLock lock(mu_);
  if (!exchange_false(state_.close_positions))
    return std::nullopt;
  return ClosePositionsRequest{state_.close_positions_gateway_name};
}

}  // namespace orbrix::telegram
