#include "orbrix/core/constants.hpp"

#include <array>
#include <string_view>

#include <fmt/format.h>

namespace orbrix {
namespace {

template <class Enum, std::size_t N>
std::string member_text(Enum value, const std::array<std::string_view, N>& names,
                        std::string_view enum_name) {
  const auto index = static_cast<std::size_t>(value);
  if (index < N) {
    return std::string(names[index]);
  }
  return fmt::format("{}({})", enum_name, index);
}

}  // namespace

std::string to_text(Exchange value) {
  static constexpr std::array<std::string_view, 3> kNames{"SMART", "IDEALPRO", "SEHK"};
  return member_text(value, kNames, "Exchange");
}

std::string to_text(Direction value) {
  static constexpr std::array<std::string_view, 2> kNames{"LONG", "SHORT"};
  return member_text(value, kNames, "Direction");
}

std::string to_text(OrderType value) {
  static constexpr std::array<std::string_view, 3> kNames{"LIMIT", "MARKET", "STOP"};
  return member_text(value, kNames, "OrderType");
}

std::string to_text(OrderStatus value) {
  static constexpr std::array<std::string_view, 5> kNames{"UNKNOWN", "SUBMITTED", "FILLED",
                                                          "CANCELLED", "FAILED"};
  return member_text(value, kNames, "OrderStatus");
}

}  // namespace orbrix
