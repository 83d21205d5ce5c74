#pragma once

// The state BrokerLink's pre-trade checks read: the limits, the trading
// state, the link's working orders and the positions they and the fills
// make, and the order-rate bucket. Plain C++, not thread-safe: BrokerLink
// holds it under its risk mutex (the placing thread checks and reserves,
// the worker books the vendor's order events). Not part of the module's
// interface; tests and benchmarks drive it directly.
//
// What a position check counts: the symbol's position (the account's, as
// last listed, moved by the fills of this link's orders since), plus the
// unfilled quantity of every working order of the same side, plus the
// order. Orders of the other side are not subtracted: they may be
// cancelled at any time, so they cannot be counted on to offset it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "orbrix/core/constants.hpp"
#include "orbrix/core/trading_state.hpp"
#include "orbrix/cqg/risk_limits.hpp"

namespace orbrix::cqg::detail {

// What a check reads of an order.
struct OrderTicket {
  std::string_view symbol = {};
  OrderType order_type = OrderType::MARKET;
  Direction direction = Direction::LONG;
  double quantity = 0;
  double price = 0;
  double stop_price = 0;
};

// The market a collar is measured against; 0 for a price not known.
struct MarketPrice {
  double last = 0;
  double bid = 0;
  double ask = 0;
};

// A symbol's counted position and its working quantity per side.
struct SymbolExposure {
  double position = 0;  // signed: long above 0
  double working_buy = 0;
  double working_sell = 0;
};

class RiskBook {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `clock` paces the order-rate bucket (default: the steady clock).
  explicit RiskBook(Clock clock = {});

  // Replaces the clock and fills the bucket by it.
  void set_clock(Clock clock);
  // Replaces the limits (validated by the caller) and fills the bucket.
  void set_limits(RiskLimits limits);
  const RiskLimits& limits() const noexcept { return limits_; }

  // The refusal of `order` (the text the caller raises), or none when it
  // may be placed; an accepted order takes a token from the bucket. Makes
  // no allocation unless it refuses.
  std::optional<std::string> check(const OrderTicket& order, const MarketPrice& market);

  // The order accepted by check() is being placed: it counts as working
  // until the vendor names it (placed) or the placement failed
  // (release_pending). One placement at a time.
  void reserve(const OrderTicket& order);
  void release_pending();
  // The vendor announced the pending order under `order_id`.
  void placed(const std::string& order_id);
  // A fill of `quantity` of one of this link's orders (others are ignored).
  void filled(std::string_view order_id, double quantity);
  // The order no longer works (filled, cancelled, rejected); others ignored.
  void finished(std::string_view order_id);
  // The account's positions (symbol, signed quantity) replace the counted
  // ones; a symbol not listed is flat.
  void set_positions(const std::vector<std::pair<std::string, double>>& positions);

  // The account's realized and open P&L of the day. A loss beyond
  // max_daily_loss turns ACTIVE to REDUCING; returns that change.
  std::optional<TradingStateChange> set_pnl(double realized, double unrealized);

  TradingState state() const noexcept { return state_; }
  const std::string& state_reason() const noexcept { return reason_; }
  // Moves to `state`; returns the change, none when already there.
  std::optional<TradingStateChange> set_state(TradingState state, std::string reason);

  // The ids of this link's working orders (the pending one has none yet).
  std::vector<std::string> working_ids() const;
  std::size_t working_count() const noexcept { return working_.size() + (pending_ ? 1 : 0); }
  // The counted exposure of a symbol (zeros for one never seen), and of
  // every symbol seen, by symbol.
  SymbolExposure exposure_of(std::string_view symbol) const;
  std::vector<std::pair<std::string, SymbolExposure>> exposures() const;
  // Tokens left in the bucket now (its capacity when no rate is set).
  double tokens_now();
  // The last P&L given: realized plus open.
  std::optional<double> day_pnl() const noexcept { return pnl_; }

 private:
  struct Working {
    std::string symbol;
    Direction direction;
    double remaining;
  };
  // A symbol's exposure with its limits resolved (its own, else the
  // default), so a check finds everything with one look-up.
  struct SymbolState {
    SymbolExposure exposure;
    std::optional<double> max_order_qty;
    std::optional<double> max_position;
    std::optional<double> tick_size;
  };
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  void resolve(std::string_view symbol, SymbolState& state) const;
  std::chrono::steady_clock::time_point now() const;
  void refill();
  double capacity() const noexcept;
  SymbolExposure& exposure(std::string_view symbol);
  // The symbol's state for a check: its own, or, for a symbol never seen,
  // `scratch` resolved (nothing is added, so a check never allocates).
  const SymbolState& state_for(std::string_view symbol, SymbolState& scratch) const;
  void add_working(std::string_view symbol, Direction direction, double quantity);
  std::optional<std::string> check_state(const OrderTicket& order, const SymbolState& s) const;
  std::optional<std::string> check_collar(const OrderTicket& order, const MarketPrice& m,
                                          const SymbolState& s) const;

  Clock clock_;
  RiskLimits limits_;
  TradingState state_ = TradingState::ACTIVE;
  std::string reason_;
  std::optional<double> pnl_;
  double tokens_ = 0;
  std::chrono::steady_clock::time_point refilled_{};
  std::optional<Working> pending_;
  std::unordered_map<std::string, Working> working_;
  std::unordered_map<std::string, SymbolState, TextHash, std::equal_to<>> symbols_;
};

}  // namespace orbrix::cqg::detail
