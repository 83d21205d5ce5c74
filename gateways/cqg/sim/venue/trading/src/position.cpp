#include "venue/trading/position.hpp"

#include <algorithm>

namespace orbrix::cqgsim::venue {

double book_fill(Position& position, Side side, std::int64_t quantity, Ticks price,
                 double tick_value) {
  const std::int64_t direction = side == Side::Buy ? 1 : -1;
  const auto fill_price = static_cast<double>(price);
  const std::int64_t held = position.quantity;

  if (held == 0 || (held > 0) == (direction > 0)) {
    // Opening or adding: weighted average over the old and the new contracts.
    const auto old_size = static_cast<double>(held > 0 ? held : -held);
    const auto added = static_cast<double>(quantity);
    position.average_price =
        (position.average_price * old_size + fill_price * added) / (old_size + added);
    position.quantity = held + direction * quantity;
    return 0.0;
  }

  // Reducing, closing or flipping: the closing part realises against the
  // average; a remainder opens the other side at the fill price.
  const std::int64_t held_size = held > 0 ? held : -held;
  const std::int64_t closed = std::min(held_size, quantity);
  const double held_direction = held > 0 ? 1.0 : -1.0;
  const double realized = (fill_price - position.average_price) * static_cast<double>(closed) *
                          tick_value * held_direction;
  position.realized_pnl += realized;

  const std::int64_t opened = quantity - closed;
  if (opened > 0) {
    position.quantity = direction * opened;
    position.average_price = fill_price;
  } else {
    position.quantity = held + direction * closed;
    if (position.quantity == 0) {
      position.average_price = 0.0;
    }
  }
  return realized;
}

}  // namespace orbrix::cqgsim::venue
