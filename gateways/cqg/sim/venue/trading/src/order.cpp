#include "venue/trading/order.hpp"

#include <fmt/format.h>

namespace orbrix::cqgsim::venue {

bool is_final(OrderStatus status) {
  return status == OrderStatus::Filled || status == OrderStatus::Cancelled ||
         status == OrderStatus::Rejected;
}

std::string_view to_string(OrderType type) {
  switch (type) {
    case OrderType::Market:
      return "market";
    case OrderType::Limit:
      return "limit";
    case OrderType::Stop:
      return "stop";
    case OrderType::StopLimit:
      return "stop limit";
  }
  return "unknown";
}

std::string_view to_string(Side side) {
  return side == Side::Buy ? "buy" : "sell";
}

std::string_view to_string(OrderStatus status) {
  switch (status) {
    case OrderStatus::InTransit:
      return "in transit";
    case OrderStatus::Working:
      return "working";
    case OrderStatus::Filled:
      return "filled";
    case OrderStatus::CancelPending:
      return "cancel pending";
    case OrderStatus::Cancelled:
      return "cancelled";
    case OrderStatus::Rejected:
      return "rejected";
  }
  return "unknown";
}

std::string format_order_id(std::uint64_t serial) {
  // Version 4 / variant 8 digits make it read as a well-formed GUID; the
  // serial fills the last group, so ids sort like submissions.
  return fmt::format("00000000-0000-4000-8000-{:012X}", serial);
}

}  // namespace orbrix::cqgsim::venue
