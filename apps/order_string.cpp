#include "order_string.hpp"

#include <fmt/format.h>

#include <array>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace orbrix::demo {
namespace {

constexpr std::array<std::string_view, 8> kPieces{"security_code", "quantity",   "direction",
                                                  "offset",        "order_type", "gateway_name",
                                                  "price",         "stop_price"};

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  return s;
}

[[noreturn]] void refuse(std::size_t i, std::string_view value, std::string_view why) {
  throw std::invalid_argument(fmt::format("piece {} ({}): '{}' {}", i + 1, kPieces[i], value, why));
}

// A finite number, or none for "None" (any case) where that is allowed.
std::optional<double> number(std::size_t i, std::string_view s, bool none_allowed) {
  if (none_allowed && (s == "None" || s == "none" || s == "NONE")) {
    return std::nullopt;
  }
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) {
    refuse(i, s, none_allowed ? "is not a number or None" : "is not a number");
  }
  return v;
}

// A price: a number above 0, or none for "None".
std::optional<double> price(std::size_t i, std::string_view s) {
  const auto v = number(i, s, true);
  if (v && !(*v > 0)) {
    refuse(i, s, "is not a price above 0 or None");
  }
  return v;
}

}  // namespace

ParsedOrder parse_order_string(
    std::string_view text,
    const std::function<std::optional<Security>(std::string_view)>& find_security,
    std::string_view gateway) {
  std::vector<std::string_view> pieces;
  for (std::size_t start = 0;;) {
    const auto comma = text.find(',', start);
    pieces.push_back(
        trim(text.substr(start, comma == std::string_view::npos ? comma : comma - start)));
    if (comma == std::string_view::npos) {
      break;
    }
    start = comma + 1;
  }
  if (pieces.size() != kPieces.size()) {
    throw std::invalid_argument(fmt::format(
        "an order string has 8 comma-separated pieces (security_code, quantity, direction, "
        "offset, order_type, gateway_name, price, stop_price); this one has {}",
        pieces.size()));
  }
  const auto security = find_security(pieces[0]);
  if (pieces[0].empty() || !security) {
    refuse(0, pieces[0], "is not a security this engine trades");
  }
  const double quantity = *number(1, pieces[1], false);
  if (quantity <= 0 || quantity != std::floor(quantity)) {
    refuse(1, pieces[1], "is not a whole number above 0");
  }
  Direction direction;
  if (pieces[2] == "l") {
    direction = Direction::LONG;
  } else if (pieces[2] == "s") {
    direction = Direction::SHORT;
  } else {
    refuse(2, pieces[2], "is not l or s");
  }
  Offset offset;
  if (pieces[3] == "o") {
    offset = Offset::Open;
  } else if (pieces[3] == "c") {
    offset = Offset::Close;
  } else {
    refuse(3, pieces[3], "is not o or c");
  }
  OrderType type;
  if (pieces[4] == "m") {
    type = OrderType::MARKET;
  } else if (pieces[4] == "l") {
    type = OrderType::LIMIT;
  } else if (pieces[4] == "s") {
    type = OrderType::STOP;
  } else {
    refuse(4, pieces[4], "is not m, l or s");
  }
  if (pieces[5] != gateway) {
    refuse(5, pieces[5], fmt::format("is not a gateway of this engine (it has {})", gateway));
  }
  const auto limit = price(6, pieces[6]);
  const auto stop = price(7, pieces[7]);
  if (type == OrderType::LIMIT && !limit) {
    refuse(6, pieces[6], "is missing: a limit order needs a price");
  }
  if (type == OrderType::STOP && !stop) {
    refuse(7, pieces[7], "is missing: a stop order needs a stop price");
  }
  return ParsedOrder{
      Order(*security, type, direction, quantity, limit.value_or(0), stop.value_or(0)), offset,
      std::string(pieces[5])};
}

}  // namespace orbrix::demo
