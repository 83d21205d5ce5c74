#include "orbrix/core/quote.hpp"

#include "text_form.hpp"

namespace orbrix {

std::string to_text(const Quote& q) {
  return fmt::format(
      "Quote(security={}, exchange={}, datetime={}, last_price={}, bid_price={}, ask_price={}, "
      "open_price={}, high_price={}, low_price={}, prev_close_price={})",
      to_text(q.security()), text_form::optional(q.exchange()), to_text(q.datetime()),
      q.last_price(), q.bid_price(), q.ask_price(), q.open_price(), q.high_price(), q.low_price(),
      q.prev_close_price());
}

}  // namespace orbrix
