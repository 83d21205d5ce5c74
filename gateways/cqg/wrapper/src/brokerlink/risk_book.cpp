#include "risk_book.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace orbrix::cqg::detail {

namespace {

// The per-symbol limit, else the default.
std::optional<double> limit_for(std::string_view symbol, const SymbolLimits& by_symbol,
                                const std::optional<double>& fallback) {
  const auto it = by_symbol.find(symbol);
  return it != by_symbol.end() ? std::optional<double>(it->second) : fallback;
}

double signed_quantity(Direction d, double quantity) {
  return d == Direction::SHORT ? -quantity : quantity;
}

const char* side_text(Direction d) {
  return d == Direction::SHORT ? "sell" : "buy";
}

}  // namespace

RiskBook::RiskBook(Clock clock) : clock_(std::move(clock)) {}

std::chrono::steady_clock::time_point RiskBook::now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

double RiskBook::capacity() const noexcept {
  return limits_.max_orders_per_second ? std::max(1.0, *limits_.max_orders_per_second) : 1.0;
}

void RiskBook::set_clock(Clock clock) {
  clock_ = std::move(clock);
  tokens_ = capacity();
  refilled_ = now();
}

void RiskBook::set_limits(RiskLimits limits) {
  limits_ = std::move(limits);
  tokens_ = capacity();
  refilled_ = now();
  // The symbols the limits name are known from now on: their first order
  // finds them without adding them.
  for (const SymbolLimits* named :
       {&limits_.max_order_qty_by_symbol, &limits_.max_position_by_symbol,
        &limits_.tick_size_by_symbol}) {
    for (const auto& [symbol, value] : *named) {
      exposure(symbol);
    }
  }
  for (auto& [symbol, state] : symbols_) {
    resolve(symbol, state);
  }
}

void RiskBook::resolve(std::string_view symbol, SymbolState& state) const {
  state.max_order_qty = limit_for(symbol, limits_.max_order_qty_by_symbol, limits_.max_order_qty);
  state.max_position = limit_for(symbol, limits_.max_position_by_symbol, limits_.max_position);
  state.tick_size = limit_for(symbol, limits_.tick_size_by_symbol, std::nullopt);
}

const RiskBook::SymbolState& RiskBook::state_for(std::string_view symbol,
                                                 SymbolState& scratch) const {
  const auto it = symbols_.find(symbol);
  if (it != symbols_.end()) {
    return it->second;
  }
  resolve(symbol, scratch);
  return scratch;
}

SymbolExposure RiskBook::exposure_of(std::string_view symbol) const {
  const auto it = symbols_.find(symbol);
  return it != symbols_.end() ? it->second.exposure : SymbolExposure{};
}

std::vector<std::pair<std::string, SymbolExposure>> RiskBook::exposures() const {
  std::vector<std::pair<std::string, SymbolExposure>> out;
  out.reserve(symbols_.size());
  for (const auto& [symbol, state] : symbols_) {
    out.emplace_back(symbol, state.exposure);
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return out;
}

void RiskBook::refill() {
  if (!limits_.max_orders_per_second) {
    return;
  }
  const auto t = now();
  if (t > refilled_) {
    const double seconds = std::chrono::duration<double>(t - refilled_).count();
    tokens_ = std::min(capacity(), tokens_ + seconds * *limits_.max_orders_per_second);
    refilled_ = t;
  }
}

double RiskBook::tokens_now() {
  refill();
  return limits_.max_orders_per_second ? tokens_ : capacity();
}

std::optional<std::string> RiskBook::check_state(const OrderTicket& o, const SymbolState& s) const {
  if (state_ == TradingState::HALTED) {
    return fmt::format("order refused: trading is HALTED ({}) for {}", reason_, o.symbol);
  }
  if (state_ == TradingState::REDUCING) {
    // Reducing: the order and the working orders of its side together
    // bring the position towards flat without passing through it.
    const SymbolExposure& e = s.exposure;
    const bool buy = o.direction != Direction::SHORT;
    const double after =
        buy ? e.position + e.working_buy + o.quantity : e.position - e.working_sell - o.quantity;
    const bool reduces = buy ? e.position < 0 && after <= 0 : e.position > 0 && after >= 0;
    if (!reduces) {
      return fmt::format(
          "order refused: trading is REDUCING ({}) and a {} of {} would not reduce the position "
          "of {} for {}",
          reason_, side_text(o.direction), o.quantity, e.position, o.symbol);
    }
  }
  return std::nullopt;
}

std::optional<std::string> RiskBook::check_collar(const OrderTicket& o, const MarketPrice& m,
                                                  const SymbolState& s) const {
  double price = 0;
  if (o.order_type == OrderType::LIMIT) {
    price = o.price;
  } else if (o.order_type == OrderType::STOP) {
    price = o.stop_price;
  } else {
    return std::nullopt;  // a market order names no price
  }
  const bool by_ticks = limits_.price_collar_ticks && s.tick_size;
  if (!limits_.price_collar_pct && !by_ticks) {
    return std::nullopt;
  }
  // The mid quote when both sides are known, else the last trade.
  const double reference = m.bid > 0 && m.ask > 0 ? (m.bid + m.ask) / 2 : m.last;
  if (!(reference > 0)) {
    if (limits_.allow_orders_without_quote) {
      return std::nullopt;
    }
    return fmt::format(
        "order refused: price {} cannot be checked against the price collar, no quote is known "
        "for {}",
        price, o.symbol);
  }
  const double distance = std::abs(price - reference);
  if (limits_.price_collar_pct) {
    const double pct = distance / reference * 100;
    // A hair of rounding slack, so a price exactly on the bound passes.
    if (pct > *limits_.price_collar_pct * (1 + 1e-9)) {
      return fmt::format(
          "order refused: price {} is {:.4g}% from the reference {} and exceeds the limit of {}% "
          "for {}",
          price, pct, reference, *limits_.price_collar_pct, o.symbol);
    }
  }
  if (by_ticks) {
    const double ticks = distance / *s.tick_size;
    if (ticks > static_cast<double>(*limits_.price_collar_ticks) + 1e-6) {
      return fmt::format(
          "order refused: price {} is {:.4g} ticks from the reference {} and exceeds the limit of "
          "{} ticks for {}",
          price, ticks, reference, *limits_.price_collar_ticks, o.symbol);
    }
  }
  return std::nullopt;
}

std::optional<std::string> RiskBook::check(const OrderTicket& o, const MarketPrice& m) {
  SymbolState scratch;
  const SymbolState& s = state_for(o.symbol, scratch);
  if (auto refused = check_state(o, s)) {
    return refused;
  }
  if (const auto& max = s.max_order_qty; max && o.quantity > *max) {
    return fmt::format("order refused: quantity {} exceeds the limit of {} for {}", o.quantity,
                       *max, o.symbol);
  }
  if (const auto& max = s.max_position) {
    const SymbolExposure& e = s.exposure;
    const double after = o.direction == Direction::SHORT ? e.position - e.working_sell - o.quantity
                                                         : e.position + e.working_buy + o.quantity;
    // An order that brings the position closer to flat is never refused here.
    if (std::abs(after) > *max && std::abs(after) > std::abs(e.position)) {
      return fmt::format("order refused: position {} exceeds the limit of {} for {}", after, *max,
                         o.symbol);
    }
  }
  if (limits_.max_working_orders) {
    const auto working = static_cast<std::int64_t>(working_count()) + 1;
    if (working > *limits_.max_working_orders) {
      return fmt::format("order refused: working orders {} exceeds the limit of {} for {}", working,
                         *limits_.max_working_orders, o.symbol);
    }
  }
  if (auto refused = check_collar(o, m, s)) {
    return refused;
  }
  // Last, so that only an order placed takes a token.
  if (limits_.max_orders_per_second) {
    refill();
    if (tokens_ < 1) {
      return fmt::format("order refused: order rate exceeds the limit of {} per second for {}",
                         *limits_.max_orders_per_second, o.symbol);
    }
    tokens_ -= 1;
  }
  return std::nullopt;
}

SymbolExposure& RiskBook::exposure(std::string_view symbol) {
  auto it = symbols_.find(symbol);
  if (it == symbols_.end()) {
    it = symbols_.emplace(std::string(symbol), SymbolState{}).first;
    resolve(symbol, it->second);
  }
  return it->second.exposure;
}

void RiskBook::add_working(std::string_view symbol, Direction direction, double quantity) {
  SymbolExposure& e = exposure(symbol);
  double& side = direction == Direction::SHORT ? e.working_sell : e.working_buy;
  side = std::max(0.0, side + quantity);
}

void RiskBook::reserve(const OrderTicket& o) {
  release_pending();
  pending_ = Working{std::string(o.symbol), o.direction, o.quantity};
  add_working(o.symbol, o.direction, o.quantity);
}

void RiskBook::release_pending() {
  if (pending_) {
    add_working(pending_->symbol, pending_->direction, -pending_->remaining);
    pending_.reset();
  }
}

void RiskBook::placed(const std::string& order_id) {
  if (!pending_) {
    return;
  }
  working_.insert_or_assign(order_id, std::move(*pending_));
  pending_.reset();
}

void RiskBook::filled(std::string_view order_id, double quantity) {
  const auto it = working_.find(std::string(order_id));
  if (it == working_.end()) {
    return;
  }
  Working& w = it->second;
  const double counted = std::min(quantity, w.remaining);
  w.remaining -= counted;
  add_working(w.symbol, w.direction, -counted);
  exposure(w.symbol).position += signed_quantity(w.direction, quantity);
}

void RiskBook::finished(std::string_view order_id) {
  const auto it = working_.find(std::string(order_id));
  if (it == working_.end()) {
    return;
  }
  add_working(it->second.symbol, it->second.direction, -it->second.remaining);
  working_.erase(it);
}

void RiskBook::set_positions(const std::vector<std::pair<std::string, double>>& positions) {
  for (auto& [symbol, state] : symbols_) {
    state.exposure.position = 0;
  }
  for (const auto& [symbol, quantity] : positions) {
    exposure(symbol).position += quantity;
  }
}

std::optional<TradingStateChange> RiskBook::set_pnl(double realized, double unrealized) {
  pnl_ = realized + unrealized;
  if (!limits_.max_daily_loss || state_ != TradingState::ACTIVE) {
    return std::nullopt;
  }
  const double loss = -*pnl_;
  if (loss > *limits_.max_daily_loss) {
    return set_state(TradingState::REDUCING, fmt::format("daily loss {} exceeds the limit of {}",
                                                         loss, *limits_.max_daily_loss));
  }
  return std::nullopt;
}

std::optional<TradingStateChange> RiskBook::set_state(TradingState state, std::string reason) {
  if (state == state_) {
    return std::nullopt;
  }
  TradingStateChange change{.state = state, .previous = state_, .reason = reason};
  state_ = state;
  reason_ = std::move(reason);
  return change;
}

std::vector<std::string> RiskBook::working_ids() const {
  std::vector<std::string> ids;
  ids.reserve(working_.size());
  for (const auto& [id, w] : working_) {
    ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

}  // namespace orbrix::cqg::detail
