#include "orbrix/core/position.hpp"

#include "text_form.hpp"

namespace orbrix {

std::string to_text(const PositionData& p) {
  return fmt::format(
      "PositionData(security={}, direction={}, holding_price={}, quantity={}, update_time={})",
      to_text(p.security), to_text(p.direction), p.holding_price, p.quantity,
      to_text(p.update_time));
}

}  // namespace orbrix
