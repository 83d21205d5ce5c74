#include "random_walk.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "venue/market/det_math.hpp"
#include "venue/price.hpp"

namespace orbrix::cqgsim::venue {

namespace {

constexpr double kSecondsPerYear = 365.25 * 86400;

constexpr std::array<QuoteType, 10> kRareTypes{QuoteType::CohUndAsk,      QuoteType::CohUndBid,
                                               QuoteType::ImpliedAsk,     QuoteType::ImpliedBid,
                                               QuoteType::IndicativeOpen, QuoteType::Marker,
                                               QuoteType::OutrightAsk,    QuoteType::OutrightBid,
                                               QuoteType::Settlement,     QuoteType::TodayMarker};

}  // namespace

RandomWalk::RandomWalk(std::uint64_t seed, const InstrumentSpec& contract,
                       const MarketConfig& config, Timestamp start)
    : spec_(&contract), config_(&config), rng_(seed), next_time_(start) {}

std::int64_t RandomWalk::book_size() {
  const auto mean = std::max<std::int64_t>(1, std::llround(config_->mean_book_size));
  return rng_.uniform_int(1, 2 * mean - 1);
}

std::int64_t RandomWalk::trade_size() {
  const double extra = rng_.exponential(std::max(0.0, config_->mean_trade_size - 1) + 1e-9);
  return 1 + std::min<std::int64_t>(500, static_cast<std::int64_t>(extra));
}

BookStep RandomWalk::step(const TopOfBook& before) {
  BookStep s;
  s.time = next_time_;
  const Ticks base_spread = std::max<Ticks>(1, spec_->spread_ticks);
  if (!opened_) {
    // The opening event prints at the initial price exactly, so synthesised
    // history (which closes there) joins the live series.
    opened_ = true;
    const Ticks p0 = std::max<Ticks>(1, spec_->initial_price);
    s.bid = p0;
    s.ask = p0 + base_spread;
    s.bid_size = book_size();
    s.ask_size = book_size();
    s.trade = TopOfBook::Trade{p0, trade_size()};
    fair_ = static_cast<double>(p0) + static_cast<double>(base_spread) / 2;
  } else {
    const double dt = std::chrono::duration<double>(s.time - last_time_).count() / kSecondsPerYear;
    const double sigma = spec_->annual_volatility;
    fair_ *= det_exp(sigma * std::sqrt(dt) * rng_.normal() - 0.5 * sigma * sigma * dt);
    const double u = rng_.uniform();
    const Ticks spread = base_spread + (u < 0.75 ? 0 : u < 0.93 ? 1 : 2);
    // Kept within the venue's prices: a walk never reaches the bound in
    // practice, but its arithmetic must not depend on that.
    fair_ =
        std::clamp(fair_, static_cast<double>(spread) + 1, static_cast<double>(kMaxPriceTicks / 2));
    s.bid = std::max<Ticks>(1, std::llround(fair_ - static_cast<double>(spread) / 2));
    s.ask = s.bid + spread;

    const bool bid_moved = !before.bid || *before.bid != s.bid;
    const bool ask_moved = !before.ask || *before.ask != s.ask;
    s.bid_size =
        bid_moved || rng_.chance(config_->size_change_probability) ? book_size() : before.bid_size;
    s.ask_size =
        ask_moved || rng_.chance(config_->size_change_probability) ? book_size() : before.ask_size;
    if (rng_.chance(config_->trade_probability)) {
      const bool buyer = rng_.chance(0.5);
      std::int64_t& shown = buyer ? s.ask_size : s.bid_size;
      const std::int64_t size = std::min(trade_size(), shown);
      s.trade = TopOfBook::Trade{buyer ? s.ask : s.bid, size};
      shown -= size;
      if (shown == 0) {
        shown = book_size();  // the level refills
      }
    }
    if (!s.trade && !bid_moved && !ask_moved && s.bid_size == before.bid_size &&
        s.ask_size == before.ask_size) {
      // Every event changes something: show a new size on one side.
      std::int64_t& side = rng_.chance(0.5) ? s.bid_size : s.ask_size;
      const std::int64_t old = side;
      while (side == old) {
        side = book_size();
        if (config_->mean_book_size < 1.5) {
          side = old + 1;
        }
      }
    }
  }
  last_time_ = s.time;
  const double mean_us = std::chrono::duration<double, std::micro>(config_->mean_interval).count();
  const auto gap_us = std::max<std::int64_t>(1, std::llround(rng_.exponential(mean_us)));
  next_time_ = s.time + std::chrono::microseconds{gap_us};
  return s;
}

void RandomWalk::rare_quotes(const TopOfBook& book, std::vector<QuoteChange>& out) {
  if (!book.bid || !book.ask) {
    return;
  }
  const Ticks last = book.trade ? book.trade->price : *book.bid;
  if (rng_.chance(config_->rare_quote_probability)) {
    const QuoteType type = kRareTypes[static_cast<std::size_t>(
        rng_.uniform_int(0, static_cast<std::int64_t>(kRareTypes.size()) - 1))];
    QuoteChange q{type, last, 0, true};
    switch (type) {
      case QuoteType::CohUndAsk:
      case QuoteType::OutrightAsk:
        q.price = *book.ask;
        q.volume = book.ask_size;
        break;
      case QuoteType::CohUndBid:
      case QuoteType::OutrightBid:
        q.price = *book.bid;
        q.volume = book.bid_size;
        break;
      case QuoteType::ImpliedAsk:
        q.price = *book.ask + rng_.uniform_int(0, 2);
        q.volume = book_size();
        break;
      case QuoteType::ImpliedBid:
        q.price = std::max<Ticks>(1, *book.bid - rng_.uniform_int(0, 2));
        q.volume = book_size();
        break;
      default:  // the marker, indicative open and settlement types carry a price only
        break;
    }
    out.push_back(q);
  }
  if (rng_.chance(config_->invalid_quote_probability)) {
    const QuoteType type = kRareTypes[static_cast<std::size_t>(
        rng_.uniform_int(0, static_cast<std::int64_t>(kRareTypes.size()) - 1))];
    out.push_back(QuoteChange{type, 0, 0, false});
  }
}

}  // namespace orbrix::cqgsim::venue
