#pragma once

// The engine's first-level order book of one security: an immutable value,
// changed by copy-with-changes like Quote:
//   OrderBook b2 = b.with({.ask_price_1 = 101, .ask_volume_1 = 3, .datetime = local_now()});
// Levels not given are 0.

#include <optional>
#include <string>
#include <utility>

#include "orbrix/common/datetime.hpp"
#include "orbrix/core/constants.hpp"
#include "orbrix/core/export.hpp"
#include "orbrix/core/security.hpp"

namespace orbrix {

struct OrderBookFields {
  Security security;
  std::optional<Exchange> exchange = std::nullopt;
  DateTime datetime = {};
  double bid_price_1 = 0;
  double ask_price_1 = 0;
  double bid_volume_1 = 0;
  double ask_volume_1 = 0;

  friend bool operator==(const OrderBookFields&, const OrderBookFields&) = default;
};

// The fields a copy-with-changes sets; the ones left empty are copied.
// Designated initialisers name them in this order (time last).
struct OrderBookChanges {
  std::optional<double> bid_price_1 = std::nullopt;
  std::optional<double> ask_price_1 = std::nullopt;
  std::optional<double> bid_volume_1 = std::nullopt;
  std::optional<double> ask_volume_1 = std::nullopt;
  std::optional<DateTime> datetime = std::nullopt;
};

class OrderBook {
 public:
  explicit OrderBook(OrderBookFields fields) : f_(std::move(fields)) {}
  OrderBook(Security security, std::optional<Exchange> exchange, DateTime datetime)
      : f_{.security = std::move(security), .exchange = exchange, .datetime = datetime} {}

  const Security& security() const noexcept { return f_.security; }
  const std::optional<Exchange>& exchange() const noexcept { return f_.exchange; }
  DateTime datetime() const noexcept { return f_.datetime; }
  double bid_price_1() const noexcept { return f_.bid_price_1; }
  double ask_price_1() const noexcept { return f_.ask_price_1; }
  double bid_volume_1() const noexcept { return f_.bid_volume_1; }
  double ask_volume_1() const noexcept { return f_.ask_volume_1; }
  const OrderBookFields& fields() const noexcept { return f_; }

  // A copy with the given fields changed; this record is left as it is.
  // Any thread; throws only on allocation failure.
  OrderBook with(const OrderBookChanges& changes) const {
    OrderBookFields f = f_;
    f.bid_price_1 = changes.bid_price_1.value_or(f.bid_price_1);
    f.ask_price_1 = changes.ask_price_1.value_or(f.ask_price_1);
    f.bid_volume_1 = changes.bid_volume_1.value_or(f.bid_volume_1);
    f.ask_volume_1 = changes.ask_volume_1.value_or(f.ask_volume_1);
    f.datetime = changes.datetime.value_or(f.datetime);
    return OrderBook(std::move(f));
  }

  friend bool operator==(const OrderBook&, const OrderBook&) = default;

 private:
  OrderBookFields f_;
};

// One line with every field.
ORBRIX_SECURITY_API std::string to_text(const OrderBook& book);

}  // namespace orbrix
