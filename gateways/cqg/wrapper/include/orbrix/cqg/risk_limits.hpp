#pragma once

// The pre-trade limits BrokerLink checks every order against before
// anything reaches the vendor (BrokerLink::set_risk_limits). A limit left
// empty is not checked; a default-made RiskLimits checks nothing.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orbrix::cqg {

// Symbols are the engine's security codes ("EP").
using SymbolLimits = std::map<std::string, double, std::less<>>;

// The limits of one link, each checked only when set (see
// BrokerLink::set_risk_limits); the configuration's RISK_ keys name the
// same fields in capitals (RISK_MAX_ORDER_QTY).
struct RiskLimits {
  // Largest quantity of one order: per symbol, else the default.
  std::optional<double> max_order_qty = {};
  SymbolLimits max_order_qty_by_symbol = {};
  // Largest absolute position of a symbol once the order and every working
  // order of the same side filled (per symbol, else the default).
  std::optional<double> max_position = {};
  SymbolLimits max_position_by_symbol = {};
  // Most orders working at once (placed by this link, not yet filled,
  // cancelled or rejected), the one being placed included.
  std::optional<std::int64_t> max_working_orders = {};
  // Order submissions per second, as a token bucket per link that holds
  // one second's worth (at least one order).
  std::optional<double> max_orders_per_second = {};
  // Price collar of a limit's price and a stop's trigger: at most this
  // many percent, and at most this many ticks (for a symbol with a tick
  // size below), from the reference price (the mid quote, else the last
  // trade). With both, both apply.
  std::optional<double> price_collar_pct = {};
  std::optional<std::int64_t> price_collar_ticks = {};
  SymbolLimits tick_size_by_symbol = {};
  // Whether a collared order of a symbol with no quote yet is placed
  // (false: it is refused).
  bool allow_orders_without_quote = false;
  // Largest loss of the day (realized plus open, from the account's
  // figures) before the link turns to REDUCING.
  std::optional<double> max_daily_loss = {};

  // Whether any limit is set.
  bool any() const noexcept;

  // Equal when every field is.
  friend bool operator==(const RiskLimits&, const RiskLimits&) = default;
};

// Throws std::invalid_argument naming the field for a limit that is not a
// finite number above 0 (a rate, a collar or a loss), or a quantity that is
// not above 0.
void validate(const RiskLimits& limits);

// One line per limit that is set, "max_order_qty: 100 (EP: 20)".
std::string risk_limits_text(const RiskLimits& limits);

// The limits named by the configuration's keys RISK_<FIELD> (upper case:
// RISK_MAX_ORDER_QTY=100, RISK_MAX_ORDER_QTY_BY_SYMBOL=EP:20,ZN:50,
// RISK_ALLOW_ORDERS_WITHOUT_QUOTE=true), read through `value_of` (the text
// of a key, none when unset). Throws std::invalid_argument naming the key
// for a value that does not parse or fails validate().
RiskLimits risk_limits_from(
    const std::function<std::optional<std::string>(std::string_view key)>& value_of);

// An order a limit or the trading state refused: nothing was sent.
class OrderRefused : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

}  // namespace orbrix::cqg
