#include "orbrix/core/order_events.hpp"

#include "text_form.hpp"

namespace orbrix {

std::string to_text(const OrderUpdate& u) {
  const auto& k = OrderUpdate::keys;
  return fmt::format(R"({{"{}": {}, "{}": {}, "{}": {}, "{}": {}, "{}": {}}})", k[0],
                     text_form::quoted(u.order_id), k[1], to_text(u.updated_time), k[2],
                     u.filled_avg_price, k[3], u.filled_quantity, k[4], to_text(u.status));
}

std::string to_text(const Deal& d) {
  const auto& k = Deal::keys;
  return fmt::format(R"({{"{}": {}, "{}": {}, "{}": {}, "{}": {}, "{}": {}}})", k[0],
                     text_form::quoted(d.deal_id), k[1], text_form::quoted(d.order_id), k[2],
                     to_text(d.updated_time), k[3], d.filled_avg_price, k[4], d.filled_quantity);
}

}  // namespace orbrix
