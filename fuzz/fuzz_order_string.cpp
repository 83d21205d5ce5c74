// The operator's /send_order text.
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
    if (parsed.order.quantity <= 0) {
      __builtin_trap();  // accepted, but not an order anyone can place
    }
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
