#include "realized_pnl.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace orbrix::report {

std::map<std::string, SymbolPnl> realized_pnl(const std::vector<Fill>& fills) {
  std::map<std::string, SymbolPnl> out;
  for (const auto& f : fills) {
    if (!(f.quantity > 0) || !std::isfinite(f.quantity) || !std::isfinite(f.price)) {
      throw std::invalid_argument(
          fmt::format("a fill of {} with quantity {} at price {}", f.symbol, f.quantity, f.price));
    }
    auto& s = out[f.symbol];
    const double signed_qty = f.side == Direction::LONG ? f.quantity : -f.quantity;
    if (s.position == 0 || (s.position > 0) == (signed_qty > 0)) {
      const double held = std::abs(s.position);
      s.average_price = (s.average_price * held + f.price * f.quantity) / (held + f.quantity);
      s.position += signed_qty;
      continue;
    }
    const double closed = std::min(std::abs(s.position), f.quantity);
    s.realized += (f.price - s.average_price) * closed * (s.position > 0 ? 1 : -1);
    s.position += signed_qty;
    if (f.quantity > closed) {
      s.average_price = f.price;  // flipped: the rest opened at this price
    } else if (s.position == 0) {
      s.average_price = 0;
    }
  }
  return out;
}

}  // namespace orbrix::report
