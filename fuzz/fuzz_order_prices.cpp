// The price pieces of the operator's /send_order text, for every order type:
// what is accepted is always a finite price above 0 where the type needs one.
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "order_string.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orbrix;
  static const Security ep = Futures("EP", "E-mini S&P 500");
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The input is "<price>\n<stop price>"; no comma may split it further.
  const auto newline = input.find('\n');
  const std::string_view price = input.substr(0, newline);
  const std::string_view stop =
      newline == std::string_view::npos ? std::string_view("None") : input.substr(newline + 1);
  if (price.find(',') != std::string_view::npos || stop.find(',') != std::string_view::npos) {
    return 0;
  }
  for (const char type : {'m', 'l', 's'}) {
    const std::string text =
        "EP,1,s,o," + std::string(1, type) + ",CQG," + std::string(price) + "," + std::string(stop);
    try {
      const auto o = demo::parse_order_string(
                         text,
                         [](std::string_view c) {
                           return c == "EP" ? std::optional<Security>(ep) : std::nullopt;
                         },
                         "CQG")
                         .order;
      for (const double p : {o.price, o.stop_price}) {
        if (!std::isfinite(p) || p < 0) {
          __builtin_trap();
        }
      }
      if ((type == 'l' && !(o.price > 0)) || (type == 's' && !(o.stop_price > 0))) {
        __builtin_trap();
      }
    } catch (const std::invalid_argument&) {
    }
  }
  return 0;
}
