#include "orbrix/core/order_book.hpp"

#include "text_form.hpp"

namespace orbrix {

std::string to_text(const OrderBook& b) {
  return fmt::format(
      "OrderBook(security={}, exchange={}, datetime={}, bid_price_1={}, ask_price_1={}, "
      "bid_volume_1={}, ask_volume_1={})",
      to_text(b.security()), text_form::optional(b.exchange()), to_text(b.datetime()),
      b.bid_price_1(), b.ask_price_1(), b.bid_volume_1(), b.ask_volume_1());
}

}  // namespace orbrix
