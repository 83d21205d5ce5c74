#pragma once

#include <functional>
#include <optional>
#include <string>

#include "orbrix/common/datetime.hpp"
#include "orbrix/common/mutex.hpp"
#include "orbrix/telegram/control_state.hpp"
#include "orbrix/telegram/ext_bot.hpp"

namespace orbrix::telegram {

// The client bot that carries the control state. Handlers (dispatcher
// thread) raise requests on it; the host engine reads and resets them from
// its own thread. One mutex guards the fields, so each getter and setter is
// atomic, and a handler's parameters, written before its flag, are visible to
// any thread that sees the flag raised.
class CustomedExtBot : public ExtBot {
 public:
  using Clock = std::function<DateTime()>;

  // Throws std::invalid_argument for an unusable token. `clock` gives the
  // reply time stamps (default: the local wall clock).
  explicit CustomedExtBot(std::string token, ApiOptions options = {}, Clock clock = {});

  // One getter and one setter per field; any thread, never blocks for long.
#define ORBRIX_TELEGRAM_FIELD_ACCESSORS(type, name, initial) \
  type name() const;                                         \
  void name(type value);
  ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_TELEGRAM_FIELD_ACCESSORS)
#undef ORBRIX_TELEGRAM_FIELD_ACCESSORS

  // Every field at one instant.
  ControlState snapshot() const;

  // Reads a request's parameters and lowers its flag in one step, so a
  // request that arrives while the host serves the previous one is never
  // lost. Nothing (false / nullopt) when the flag is down. Any thread.
  bool take_balance();
  bool take_positions();
  std::optional<OrdersRequest> take_orders();
  std::optional<std::int64_t> take_deals();
  std::optional<CancelOrderRequest> take_cancel_order();
  bool take_cancel_orders();
  std::optional<std::string> take_send_order();
  std::optional<ClosePositionsRequest> take_close_positions();

  // The time a reply is composed at (the injected clock). Any thread.
  DateTime now() const {
    return clock_();
  }

 private:
  Clock clock_;
  mutable Mutex mu_;
  ControlState state_ GUARDED_BY(mu_);
};

}  // namespace orbrix::telegram
