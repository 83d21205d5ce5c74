#include "orbrix/telegram/customed_ext_bot.hpp"

namespace orbrix::telegram {

CustomedExtBot::CustomedExtBot(std::string token, ApiOptions options, Clock clock,
                               std::size_t max_pending, ConfirmOptions confirm)
    : ExtBot(std::move(token), std::move(options)),
      clock_(clock ? std::move(clock) : Clock(&local_now)),
      max_pending_(max_pending),
      confirmations_(std::move(confirm)),
      requests_(max_pending) {}

std::string CustomedExtBot::orbrix_status() const {
  MutexLock lock(mutex_);
  return orbrix_status_;
}

void CustomedExtBot::orbrix_status(std::string value) {
  MutexLock lock(mutex_);
  orbrix_status_ = std::move(value);
}

#define ORBRIX_TELEGRAM_ACCESSORS_status(type, name, kind)
#define ORBRIX_TELEGRAM_ACCESSORS_flag(type, name, kind) \
  type CustomedExtBot::name() const {                    \
    MutexLock lock(mutex_);                              \
    return requests_.pending(RequestKind::kind) > 0;     \
  }                                                      \
  void CustomedExtBot::name(type value) {                \
    MutexLock lock(mutex_);                              \
    requests_.set_raised(RequestKind::kind, value);      \
  }
#define ORBRIX_TELEGRAM_ACCESSORS_param(type, name, kind) \
  type CustomedExtBot::name() const {                     \
    MutexLock lock(mutex_);                               \
    return requests_.shown(RequestKind::kind).name;       \
  }                                                       \
  void CustomedExtBot::name(type value) {                 \
    MutexLock lock(mutex_);                               \
    requests_.in_force().name = std::move(value);         \
  }
#define ORBRIX_TELEGRAM_ACCESSORS(role, type, name, initial, kind) \
  ORBRIX_TELEGRAM_ACCESSORS_##role(type, name, kind)
ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_TELEGRAM_ACCESSORS)
#undef ORBRIX_TELEGRAM_ACCESSORS
#undef ORBRIX_TELEGRAM_ACCESSORS_param
#undef ORBRIX_TELEGRAM_ACCESSORS_flag
#undef ORBRIX_TELEGRAM_ACCESSORS_status

ControlState CustomedExtBot::snapshot() const {
  MutexLock lock(mutex_);
  ControlState state;
#define ORBRIX_TELEGRAM_SNAPSHOT_status(name, kind) state.name = orbrix_status_;
#define ORBRIX_TELEGRAM_SNAPSHOT_flag(name, kind) \
  state.name = requests_.pending(RequestKind::kind) > 0;
#define ORBRIX_TELEGRAM_SNAPSHOT_param(name, kind) \
  state.name = requests_.shown(RequestKind::kind).name;
#define ORBRIX_TELEGRAM_SNAPSHOT(role, type, name, initial, kind) \
  ORBRIX_TELEGRAM_SNAPSHOT_##role(name, kind)
  ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_TELEGRAM_SNAPSHOT)
#undef ORBRIX_TELEGRAM_SNAPSHOT
#undef ORBRIX_TELEGRAM_SNAPSHOT_param
#undef ORBRIX_TELEGRAM_SNAPSHOT_flag
#undef ORBRIX_TELEGRAM_SNAPSHOT_status
  return state;
}

bool CustomedExtBot::take_balance() {
  MutexLock lock(mutex_);
  return requests_.take(RequestKind::balance).has_value();
}

bool CustomedExtBot::take_positions() {
  MutexLock lock(mutex_);
  return requests_.take(RequestKind::positions).has_value();
}

std::optional<OrdersRequest> CustomedExtBot::take_orders() {
  MutexLock lock(mutex_);
  auto r = requests_.take(RequestKind::orders);
  if (!r) {
    return std::nullopt;
  }
  return OrdersRequest{r->parameters.active_orders, r->parameters.num_orders_displayed};
}

std::optional<std::int64_t> CustomedExtBot::take_deals() {
  MutexLock lock(mutex_);
  auto r = requests_.take(RequestKind::deals);
  if (!r) {
    return std::nullopt;
  }
  return r->parameters.num_deals_displayed;
}

std::optional<CancelOrderRequest> CustomedExtBot::take_cancel_order() {
  MutexLock lock(mutex_);
  auto r = requests_.take(RequestKind::cancel_order);
  if (!r) {
    return std::nullopt;
  }
  return CancelOrderRequest{std::move(r->parameters.cancel_order_id),
                            std::move(r->parameters.gateway_name)};
}

bool CustomedExtBot::take_cancel_orders() {
  MutexLock lock(mutex_);
  return requests_.take(RequestKind::cancel_orders).has_value();
}

std::optional<std::string> CustomedExtBot::take_send_order() {
  MutexLock lock(mutex_);
  auto r = requests_.take(RequestKind::send_order);
  if (!r) {
    return std::nullopt;
  }
  return std::move(r->parameters.order_string);
}

std::optional<ClosePositionsRequest> CustomedExtBot::take_close_positions() {
  MutexLock lock(mutex_);
  auto r = requests_.take(RequestKind::close_positions);
  if (!r) {
    return std::nullopt;
  }
  return ClosePositionsRequest{std::move(r->parameters.close_positions_gateway_name)};
}

std::optional<HaltRequest> CustomedExtBot::take_halt() {
  MutexLock lock(mutex_);
  auto r = requests_.take(RequestKind::halt);
  if (!r) {
    return std::nullopt;
  }
  return HaltRequest{r->parameters.halt_cancel_all, std::move(r->parameters.halt_reason)};
}

std::optional<std::string> CustomedExtBot::take_reduce() {
  MutexLock lock(mutex_);
  auto r = requests_.take(RequestKind::reduce);
  if (!r) {
    return std::nullopt;
  }
  return std::move(r->parameters.reduce_reason);
}

bool CustomedExtBot::take_resume() {
  MutexLock lock(mutex_);
  return requests_.take(RequestKind::resume).has_value();
}

bool CustomedExtBot::take_risk() {
  MutexLock lock(mutex_);
  return requests_.take(RequestKind::risk).has_value();
}

std::optional<RequestParameters> CustomedExtBot::raise(
    RequestKind kind, const std::function<void(RequestParameters&)>& given, RequestOrigin origin) {
  MutexLock lock(mutex_);
  return requests_.raise(kind, given, std::move(origin));
}

std::size_t CustomedExtBot::pending(RequestKind kind) const {
  MutexLock lock(mutex_);
  return requests_.pending(kind);
}

std::vector<PendingRequest> CustomedExtBot::take_all_pending() {
  MutexLock lock(mutex_);
  return requests_.take_all();
}

}  // namespace orbrix::telegram
