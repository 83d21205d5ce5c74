#pragma once

// What the gateway reports to the engine about orders: a status update of an
// order (process_order) and an execution (process_deal). Each is a record
// with a fixed set of keys in a fixed order; `keys` lists them and the text
// form writes them in that order, like a map:
//   {"order_id": "A1", "updated_time": 2024-03-05 14:07:09, ...}

#include <array>
#include <string>
#include <string_view>

#include "orbrix/common/datetime.hpp"
#include "orbrix/core/constants.hpp"
#include "orbrix/core/export.hpp"

namespace orbrix {

// A change of an order's state (process_order).
struct OrderUpdate {
  // The field names, in the order to_text writes them.
  static constexpr std::array<std::string_view, 5> keys{
      "order_id", "updated_time", "filled_avg_price", "filled_quantity", "status"};

  std::string order_id;                       // the vendor's order id
  DateTime updated_time = {};                 // whole seconds
  double filled_avg_price = 0;                // average price of the fills so far
  double filled_quantity = 0;                 // contracts filled so far
  OrderStatus status = OrderStatus::UNKNOWN;  // SUBMITTED, FILLED, CANCELLED or FAILED
  // Equal when every field is.
  friend bool operator==(const OrderUpdate&, const OrderUpdate&) = default;
};

// A fill of an order (process_deal).
struct Deal {
  // The field names, in the order to_text writes them.
  static constexpr std::array<std::string_view, 5> keys{"deal_id", "order_id", "updated_time",
                                                        "filled_avg_price", "filled_quantity"};

  std::string deal_id;          // the vendor's id of the fill
  std::string order_id;         // the order it filled
  DateTime updated_time = {};   // whole seconds
  double filled_avg_price = 0;  // the fill's price
  double filled_quantity = 0;   // contracts filled
  // Equal when every field is.
  friend bool operator==(const Deal&, const Deal&) = default;
};

// One line, the keys in the order of `keys`.
ORBRIX_SECURITY_API std::string to_text(const OrderUpdate& update);
ORBRIX_SECURITY_API std::string to_text(const Deal& deal);

}  // namespace orbrix
