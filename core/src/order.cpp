#include "orbrix/core/order.hpp"

#include "text_form.hpp"

namespace orbrix {

std::string to_text(const Order& o) {
  return fmt::format(
      "Order(security={}, order_type={}, direction={}, quantity={}, price={}, stop_price={}, "
      "order_id={}, status={})",
      to_text(o.security), to_text(o.order_type), to_text(o.direction), o.quantity, o.price,
      o.stop_price, text_form::quoted(o.order_id), to_text(o.status));
}

}  // namespace orbrix
