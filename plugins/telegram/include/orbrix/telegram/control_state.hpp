#pragma once

// The request fields a chat command raises and the host engine serves.

#include <cstdint>
#include <optional>
#include <string>

namespace orbrix::telegram {

// X(type, name, initial value), in the order the bot initialises them.
#define ORBRIX_TELEGRAM_CONTROL_FIELDS(X)                      \
  X(std::string, orbrix_status, "Running")                     \
  X(bool, get_balance, false)                                  \
  X(bool, get_positions, false)                                \
  X(bool, get_orders, false)                                   \
  X(bool, active_orders, false)                                \
  X(std::int64_t, num_orders_displayed, 1)                     \
  X(bool, get_deals, false)                                    \
  X(std::int64_t, num_deals_displayed, 1)                      \
  X(bool, cancel_order, false)                                 \
  X(std::optional<std::string>, cancel_order_id, std::nullopt) \
  X(std::optional<std::string>, gateway_name, std::nullopt)    \
  X(bool, cancel_orders, false)                                \
  X(bool, send_order, false)                                   \
  X(std::string, order_string, "")                             \
  X(bool, close_positions, false)                              \
  X(std::optional<std::string>, close_positions_gateway_name, std::nullopt)

// A copy of every field at one instant.
struct ControlState {
#define ORBRIX_TELEGRAM_DECLARE_FIELD(type, name, initial) type name = initial;
  ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_TELEGRAM_DECLARE_FIELD)
#undef ORBRIX_TELEGRAM_DECLARE_FIELD
};

// Parameters of one request, taken together with lowering its flag.
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

}  // namespace orbrix::telegram
