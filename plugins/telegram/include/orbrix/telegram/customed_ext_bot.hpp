#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orbrix/common/datetime.hpp"
#include "orbrix/common/mutex.hpp"
#include "orbrix/telegram/confirmations.hpp"
#include "orbrix/telegram/control_state.hpp"
#include "orbrix/telegram/ext_bot.hpp"
#include "orbrix/telegram/request_queues.hpp"

namespace orbrix::telegram {

// The client bot that carries the control state. Handlers (dispatcher
// thread) queue requests on it; the host engine reads and retires them from
// its own thread. One mutex guards the state, so every getter, setter and
// take_* call is atomic and they all agree with one another.
//
// Requests of each kind wait in arrival order (at most max_pending() of a
// kind; a command beyond that is refused with a reply). The properties show
// the oldest pending request of a kind, so an engine that polls one flag,
// reads its parameters, serves and lowers the flag sees every request in
// turn:
//   flag getter       true while a request of its kind is pending.
//   flag setter false retires the oldest pending request of its kind; the
//                     flag stays raised while more are pending.
//   flag setter true  raises a lowered flag: queues one request with the
//                     parameters in force; a raised flag stays as it is.
//   parameter getter  the oldest pending request's value; with none
//                     pending, the value in force.
//   parameter setter  sets the value in force: what a later command that
//                     does not name the parameter gets (/deals without a
//                     count, /orders without -a, /close_positions without a
//                     gateway). A request already queued keeps the values it
//                     was acknowledged with.
//   take_*            reads the oldest pending request and retires it.
class CustomedExtBot : public ExtBot {
 public:
  using Clock = std::function<DateTime()>;

  // Throws std::invalid_argument for an unusable token or a max_pending of
  // 0. `clock` gives the reply time stamps (default: the local wall clock).
  explicit CustomedExtBot(std::string token, ApiOptions options = {}, Clock clock = {},
                          std::size_t max_pending = RequestQueues::default_limit,
                          ConfirmOptions confirm = {});

  // One getter and one setter per field (see above); any thread, never
  // blocks for long.
#define ORBRIX_TELEGRAM_FIELD_ACCESSORS(role, type, name, initial, kind) \
  type name() const;                                                     \
  void name(type value);
  ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_TELEGRAM_FIELD_ACCESSORS)
#undef ORBRIX_TELEGRAM_FIELD_ACCESSORS

  // Every field at one instant, as the getters show it.
  ControlState snapshot() const;

  // Read the oldest pending request of a kind and retire it in one step.
  // Nothing (false / nullopt) when none is pending. Any thread.
  bool take_balance();
  bool take_positions();
  std::optional<OrdersRequest> take_orders();
  std::optional<std::int64_t> take_deals();
  std::optional<CancelOrderRequest> take_cancel_order();
  bool take_cancel_orders();
  std::optional<std::string> take_send_order();
  std::optional<ClosePositionsRequest> take_close_positions();
  std::optional<HaltRequest> take_halt();
  std::optional<std::string> take_reduce();  // the reason
  bool take_resume();
  bool take_risk();

  // Handlers: applies what the command names (`given`) to the parameters
  // in force and queues a request of `kind` carrying them; returns its
  // parameters, or nullopt (nothing changed) when max_pending() requests of
  // the kind are already waiting. Any thread.
  std::optional<RequestParameters> raise(RequestKind kind,
                                         const std::function<void(RequestParameters&)>& given,
                                         RequestOrigin origin);

  // Number of pending requests of `kind`. Any thread.
  std::size_t pending(RequestKind kind) const;
  std::size_t max_pending() const noexcept {
    return max_pending_;
  }

  // Retires every pending request; returned in arrival order. Any thread.
  std::vector<PendingRequest> take_all_pending();

  // Trading commands waiting for Confirm / Cancel.
  Confirmations& confirmations() noexcept {
    return confirmations_;
  }

  // The time a reply is composed at (the injected clock). Any thread.
  DateTime now() const {
    return clock_();
  }

 private:
  Clock clock_;
  const std::size_t max_pending_;
  Confirmations confirmations_;
  mutable Mutex mutex_;
  std::string orbrix_status_ GUARDED_BY(mutex_) = "Running";
  RequestQueues requests_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::telegram
