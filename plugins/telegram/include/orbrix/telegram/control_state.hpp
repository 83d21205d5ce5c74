#pragma once

// The request fields a chat command raises and the host engine serves.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace orbrix::telegram {

// The kinds of request a command queues for the engine.
enum class RequestKind {
  balance,
  positions,
  orders,
  deals,
  cancel_order,
  cancel_orders,
  send_order,
  close_positions,
  halt,
  reduce,
  resume,
  risk,
};
inline constexpr std::size_t request_kind_count = 12;

// The command that raises `kind`, without '/': "balance", "send_order", ...
const char* command_of(RequestKind kind);

// X(role, type, name, initial, kind), in the order the bot initialises them.
// role: `status` (plain text; its kind is unused), `flag` (raised while a
// request of `kind` is pending), `param` (a parameter of requests of `kind`).
#define ORBRIX_TELEGRAM_CONTROL_FIELDS(X)                                           \
  X(status, std::string, orbrix_status, "Running", balance)                         \
  X(flag, bool, get_balance, false, balance)                                        \
  X(flag, bool, get_positions, false, positions)                                    \
  X(flag, bool, get_orders, false, orders)                                          \
  X(param, bool, active_orders, false, orders)                                      \
  X(param, std::int64_t, num_orders_displayed, 1, orders)                           \
  X(flag, bool, get_deals, false, deals)                                            \
  X(param, std::int64_t, num_deals_displayed, 1, deals)                             \
  X(flag, bool, cancel_order, false, cancel_order)                                  \
  X(param, std::optional<std::string>, cancel_order_id, std::nullopt, cancel_order) \
  X(param, std::optional<std::string>, gateway_name, std::nullopt, cancel_order)    \
  X(flag, bool, cancel_orders, false, cancel_orders)                                \
  X(flag, bool, send_order, false, send_order)                                      \
  X(param, std::string, order_string, "", send_order)                               \
  X(flag, bool, close_positions, false, close_positions)                            \
  X(param, std::optional<std::string>, close_positions_gateway_name, std::nullopt,  \
    close_positions)                                                                \
  X(flag, bool, halt_trading, false, halt)                                          \
  X(param, bool, halt_cancel_all, false, halt)                                      \
  X(param, std::string, halt_reason, "", halt)                                      \
  X(flag, bool, reduce_only, false, reduce)                                         \
  X(param, std::string, reduce_reason, "", reduce)                                  \
  X(flag, bool, resume_trading, false, resume)                                      \
  X(flag, bool, get_risk, false, risk)

// A copy of every field at one instant, as the properties show it.
struct ControlState {
#define ORBRIX_TELEGRAM_DECLARE_FIELD(role, type, name, initial, kind) type name = initial;
  ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_TELEGRAM_DECLARE_FIELD)
#undef ORBRIX_TELEGRAM_DECLARE_FIELD
};

// The parameter fields alone: those in force, or those one request carries.
struct RequestParameters {
#define ORBRIX_TELEGRAM_PARAM_FIELD_status(type, name, initial)
#define ORBRIX_TELEGRAM_PARAM_FIELD_flag(type, name, initial)
#define ORBRIX_TELEGRAM_PARAM_FIELD_param(type, name, initial) type name = initial;
#define ORBRIX_TELEGRAM_PARAM_FIELD(role, type, name, initial, kind) \
  ORBRIX_TELEGRAM_PARAM_FIELD_##role(type, name, initial)
  ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_TELEGRAM_PARAM_FIELD)
#undef ORBRIX_TELEGRAM_PARAM_FIELD
#undef ORBRIX_TELEGRAM_PARAM_FIELD_param
#undef ORBRIX_TELEGRAM_PARAM_FIELD_flag
#undef ORBRIX_TELEGRAM_PARAM_FIELD_status
};

// Parameters of one request, taken together with retiring it.
struct OrdersRequest {
  bool active_orders = false;
  std::int64_t num_orders_displayed = 1;
};

struct CancelOrderRequest {
  std::optional<std::string> cancel_order_id;
  std::optional<std::string> gateway_name;
};

struct ClosePositionsRequest {
  std::optional<std::string> gateway_name;
};

struct HaltRequest {
  bool cancel_all = false;
  std::string reason;
};

}  // namespace orbrix::telegram
