// The operator's /send_order text.
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "order_string.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orbrix;
  static const Security ep = Futures("EP", "E-mini S&P 500");
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const auto parsed = demo::parse_order_string(
        text,
        [](std::string_view c) { return c == "EP" ? std::optional<Security>(ep) : std::nullopt; },
        "CQG");
    const auto& o = parsed.order;
    if (!(o.quantity > 0) || !std::isfinite(o.quantity)) {
      __builtin_trap();  // accepted, but not an order anyone can place
    }
    // Every price handed on is a finite number above 0, or 0 for none.
    for (const double p : {o.price, o.stop_price}) {
      if (!std::isfinite(p) || p < 0) {
        __builtin_trap();
      }
    }
    if ((o.order_type == OrderType::LIMIT && !(o.price > 0)) ||
        (o.order_type == OrderType::STOP && !(o.stop_price > 0))) {
      __builtin_trap();  // the price the order type needs is missing
    }
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
