#pragma once

// One order as the venue tracks it, from submission to its final status.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "venue/trading/account.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

enum class OrderType : std::uint8_t { Market, Limit, Stop, StopLimit };
enum class Side : std::uint8_t { Buy, Sell };

// Statuses move one way: InTransit -> Working -> Filled, or (from InTransit
// or Working) -> CancelPending -> Cancelled, or -> Rejected. A partial fill
// keeps an order Working.
enum class OrderStatus : std::uint8_t {
  InTransit,
  Working,
  Filled,
  CancelPending,
  Cancelled,
  Rejected,
};

// Filled, Cancelled and Rejected: nothing changes such an order any more.
bool is_final(OrderStatus status);

std::string_view to_string(OrderType type);
std::string_view to_string(Side side);
std::string_view to_string(OrderStatus status);

// What a client asks for. Prices are in ticks of the instrument.
struct OrderRequest {
  AccountId account = 0;
  InstrumentId instrument = 0;
  OrderType type = OrderType::Market;
  Side side = Side::Buy;
  std::int64_t quantity = 0;
  std::optional<Ticks> limit_price;  // Limit and StopLimit
  std::optional<Ticks> stop_price;   // Stop and StopLimit
  std::string user_tag;              // handed back untouched
};

struct Order {
  std::string id;          // GUID-shaped text made from `serial`
  std::uint64_t serial{};  // 1 for the first submission, then counting up
  OrderRequest request;
  OrderStatus status = OrderStatus::InTransit;
  // filled_quantity + remaining_quantity == request.quantity at all times.
  std::int64_t filled_quantity = 0;
  std::int64_t remaining_quantity = 0;
  double filled_value = 0;  // sum of price x quantity over the fills, in ticks
  bool triggered = false;   // a stop whose trigger price has traded
  std::string reject_reason;

  Timestamp submitted_at{};
  Timestamp updated_at{};              // the latest of the times below
  std::optional<Timestamp> placed_at;  // became Working
  std::optional<Timestamp> triggered_at;
  std::optional<Timestamp> last_fill_at;
  std::optional<Timestamp> cancel_requested_at;
  std::optional<Timestamp> final_at;  // became Filled, Cancelled or Rejected

  // Volume-weighted average of the fills in ticks; 0 before the first fill.
  double average_fill_price() const {
    return filled_quantity > 0 ? filled_value / static_cast<double>(filled_quantity) : 0.0;
  }
};

// The id of the order with this serial: "00000000-0000-4000-8000-00000000002A"
// for serial 42. Allocates.
std::string format_order_id(std::uint64_t serial);
// The serial an id spells, exactly as format_order_id writes it; none for
// any other text. Allocates nothing.
std::optional<std::uint64_t> parse_order_id(std::string_view id);

}  // namespace orbrix::cqgsim::venue
