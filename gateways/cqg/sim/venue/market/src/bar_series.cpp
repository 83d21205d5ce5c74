#include "bar_series.hpp"

#include <algorithm>
#include <cmath>

#include "venue/market/det_math.hpp"

namespace orbrix::cqgsim::venue {

Duration length_of(BarPeriod period) {
  switch (period) {
    case BarPeriod::OneMinute:
      return std::chrono::minutes{1};
    case BarPeriod::Daily:
      return std::chrono::days{1};
  }
  return std::chrono::minutes{1};
}

std::string_view to_string(BarPeriod period) {
  return period == BarPeriod::Daily ? "Daily" : "OneMinute";
}

Timestamp period_start(BarPeriod period, Timestamp t) {
  const Duration len = length_of(period);
  const auto since = t.time_since_epoch();
  auto q = since / len;
  if (since % len < Duration::zero()) {
    --q;
  }
  return Timestamp{q * len};
}

BarUpdate BarBuilder::add_trade(Timestamp t, Ticks price, std::int64_t size) {
  const Timestamp start = period_start(period_, t);
  BarUpdate update;
  update.period = period_;
  if (current_ && current_->start == start) {
    Bar& b = *current_;
    b.high = std::max(b.high, price);
    b.low = std::min(b.low, price);
    b.close = price;
    b.volume = saturating_add(b.volume, size);
    b.tick_volume += 1;
    b.contract_volume = b.commodity_volume = b.volume;
    update.kind = BarUpdate::Kind::Updated;
    update.bar = b;
    return update;
  }
  update.kind = BarUpdate::Kind::Added;
  if (current_) {
    update.finished = *current_;
    finished_.push_back(*current_);
    if (finished_.size() > kMaxBarsPerRequest) {
      finished_.pop_front();
    }
  }
  current_ = Bar{start, price, price, price, price, size, 1, size, size};
  update.bar = *current_;
  return update;
}

std::size_t BarBuilder::completed_count(Timestamp now) const {
  const bool current_done = current_ && current_->start + length_of(period_) <= now;
  return finished_.size() + (current_done ? 1 : 0);
}

void BarBuilder::copy_completed(Timestamp now, std::size_t count, std::vector<Bar>& out) const {
  const bool current_done = current_ && current_->start + length_of(period_) <= now;
  const std::size_t total = finished_.size() + (current_done ? 1 : 0);
  const std::size_t take = std::min(count, total);
  const std::size_t from_finished = current_done ? take - (take > 0 ? 1 : 0) : take;
  out.insert(out.end(), finished_.end() - static_cast<std::ptrdiff_t>(from_finished),
             finished_.end());
  if (current_done && take > 0) {
    out.push_back(*current_);
  }
}

std::optional<Bar> BarBuilder::forming(Timestamp now) const {
  if (current_ && current_->start <= now && now < current_->start + length_of(period_)) {
    return current_;
  }
  return std::nullopt;
}

HistorySynthesis::HistorySynthesis(BarPeriod period, const SynthesisParams& params)
    : period_(period), params_(params), rng_(params.seed) {}

void HistorySynthesis::extend_to(std::size_t count) {
  constexpr double kSecondsPerYear = 365.25 * 86400;
  const double seconds = std::chrono::duration<double>(length_of(period_)).count();
  const double sigma = params_.volatility * std::sqrt(seconds / kSecondsPerYear);
  newest_first_.reserve(count);
  while (newest_first_.size() < count) {
    const Ticks close = newest_first_.empty() ? params_.anchor : newest_first_.back().open;
    const double c = static_cast<double>(close);
    // Walk backwards: the open is the close undone by one period's return.
    const Ticks open = std::max<Ticks>(1, std::llround(c * det_exp(-sigma * rng_.normal())));
    const Ticks up = std::llround(std::abs(rng_.normal()) * 0.5 * sigma * c);
    const Ticks down = std::llround(std::abs(rng_.normal()) * 0.5 * sigma * c);
    Bar b;
    b.start = params_.end - length_of(period_) * static_cast<int>(newest_first_.size() + 1);
    b.open = open;
    b.close = close;
    b.high = std::max(open, close) + up;
    b.low = std::max<Ticks>(1, std::min(open, close) - down);
    b.tick_volume =
        std::max<std::int64_t>(1, std::llround(params_.trades_per_bar * (0.5 + rng_.uniform())));
    b.volume = std::max<std::int64_t>(
        b.tick_volume, std::llround(static_cast<double>(b.tick_volume) * params_.mean_trade_size *
                                    (0.7 + 0.6 * rng_.uniform())));
    b.contract_volume = b.commodity_volume = b.volume;
    newest_first_.push_back(b);
  }
}

void HistorySynthesis::copy_newest(std::size_t count, std::vector<Bar>& out) {
  extend_to(count);
  for (std::size_t i = count; i > 0; --i) {
    out.push_back(newest_first_[i - 1]);
  }
}

}  // namespace orbrix::cqgsim::venue
