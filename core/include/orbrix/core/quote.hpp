#pragma once

// The engine's quote of one security: an immutable value. A change is a new
// record made by copy-with-changes:
//   Quote q({.security = s, .exchange = s.exchange(), .datetime = local_now()});
//   Quote q2 = q.with({.bid_price = 99.5, .datetime = local_now()});
// Prices not given are 0.

#include <optional>
#include <string>
#include <utility>

#include "orbrix/common/datetime.hpp"
#include "orbrix/core/constants.hpp"
#include "orbrix/core/export.hpp"
#include "orbrix/core/security.hpp"

namespace orbrix {

struct QuoteFields {
  Security security;
  std::optional<Exchange> exchange = std::nullopt;
  DateTime datetime = {};
  double last_price = 0;
  double bid_price = 0;
  double ask_price = 0;
  double open_price = 0;
  double high_price = 0;
  double low_price = 0;
  double prev_close_price = 0;

  friend bool operator==(const QuoteFields&, const QuoteFields&) = default;
};

// The fields a copy-with-changes sets; the ones left empty are copied.
// Designated initialisers name them in this order (time last).
struct QuoteChanges {
  std::optional<double> last_price = std::nullopt;
  std::optional<double> bid_price = std::nullopt;
  std::optional<double> ask_price = std::nullopt;
  std::optional<double> open_price = std::nullopt;
  std::optional<double> high_price = std::nullopt;
  std::optional<double> low_price = std::nullopt;
  std::optional<double> prev_close_price = std::nullopt;
  std::optional<DateTime> datetime = std::nullopt;
};

class Quote {
 public:
  explicit Quote(QuoteFields fields) : f_(std::move(fields)) {}
  Quote(Security security, std::optional<Exchange> exchange, DateTime datetime)
      : f_{.security = std::move(security), .exchange = exchange, .datetime = datetime} {}

  const Security& security() const noexcept { return f_.security; }
  const std::optional<Exchange>& exchange() const noexcept { return f_.exchange; }
  DateTime datetime() const noexcept { return f_.datetime; }
  double last_price() const noexcept { return f_.last_price; }
  double bid_price() const noexcept { return f_.bid_price; }
  double ask_price() const noexcept { return f_.ask_price; }
  double open_price() const noexcept { return f_.open_price; }
  double high_price() const noexcept { return f_.high_price; }
  double low_price() const noexcept { return f_.low_price; }
  double prev_close_price() const noexcept { return f_.prev_close_price; }
  const QuoteFields& fields() const noexcept { return f_; }

  // A copy with the given fields changed; this record is left as it is.
  // Any thread; throws only on allocation failure.
  Quote with(const QuoteChanges& changes) const {
    QuoteFields f = f_;
    f.last_price = changes.last_price.value_or(f.last_price);
    f.bid_price = changes.bid_price.value_or(f.bid_price);
    f.ask_price = changes.ask_price.value_or(f.ask_price);
    f.open_price = changes.open_price.value_or(f.open_price);
    f.high_price = changes.high_price.value_or(f.high_price);
    f.low_price = changes.low_price.value_or(f.low_price);
    f.prev_close_price = changes.prev_close_price.value_or(f.prev_close_price);
    f.datetime = changes.datetime.value_or(f.datetime);
    return Quote(std::move(f));
  }

  friend bool operator==(const Quote&, const Quote&) = default;

 private:
  QuoteFields f_;
};

// One line with every field: Quote(security=..., exchange=SMART, datetime=..., last_price=0, ...).
ORBRIX_SECURITY_API std::string to_text(const Quote& quote);

}  // namespace orbrix
