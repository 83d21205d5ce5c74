#pragma once

// One instrument's random walk: a geometric Brownian fair price in ticks,
// a spread of a few ticks around it, sizes that change, and trades at the
// touch. Draws only from its own generator. Allocates nothing.

#include <vector>

#include "book_step.hpp"
#include "venue/market/market.hpp"
#include "venue/market/random.hpp"

namespace orbrix::cqgsim::venue {

class RandomWalk {
 public:
  RandomWalk(std::uint64_t seed, const InstrumentSpec& contract, const MarketConfig& config,
             Timestamp start);

  Timestamp next_time() const { return next_time_; }

  // The book and trade of the event at next_time(), given the book before
  // it; then draws the time of the following event.
  BookStep step(const TopOfBook& before);

  // Appends, now and then, one of the rarer quote types derived from `book`
  // (and sometimes withdraws one).
  void rare_quotes(const TopOfBook& book, std::vector<QuoteChange>& out);

  // Moves the walk's time on by `d` without a step: a pause (the market
  // closed), after which it goes on where it stopped, `d` later.
  void shift(Duration d) {
    next_time_ += d;
    last_time_ += d;
  }

 private:
  std::int64_t book_size();
  std::int64_t trade_size();

  const InstrumentSpec* spec_;  // owned by the market, which outlives the walk
  const MarketConfig* config_;
  Rng rng_;
  double fair_ = 0;  // ticks
  Timestamp last_time_{};
  Timestamp next_time_{};
  bool opened_ = false;
};

}  // namespace orbrix::cqgsim::venue
