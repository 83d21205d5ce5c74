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

namespace {
constexpr std::string_view kIdPrefix = "00000000-0000-4000-8000-";
constexpr std::size_t kSerialDigits = 12;
}  // namespace

std::string format_order_id(std::uint64_t serial) {
  // Version 4 / variant 8 digits make it read as a well-formed GUID; the
  // serial fills the last group, so ids sort like submissions.
  return fmt::format("00000000-0000-4000-8000-{:012X}", serial);
}

std::optional<std::uint64_t> parse_order_id(std::string_view id) {
  if (id.size() != kIdPrefix.size() + kSerialDigits || !id.starts_with(kIdPrefix)) {
    return std::nullopt;
  }
  std::uint64_t serial = 0;
  for (const char c : id.substr(kIdPrefix.size())) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;  // the id is written in upper case only
    }
    serial = serial * 16 + static_cast<std::uint64_t>(digit);
  }
  return serial;
}

}  // namespace orbrix::cqgsim::venue
