#pragma once

// One instrument's bars for one period: the live series built from trades,
// and, for a random-walk instrument, the history before the market's start
// synthesised on demand.

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "venue/market/bars.hpp"
#include "venue/market/random.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// Builds bars from trades in time order, keeping the newest
// kMaxBarsPerRequest finished bars (older ones are dropped: no request can
// ask for them). add_trade allocates only when a finished bar is appended to
// the kept series (now and then, as the deque takes a new block).
class BarBuilder {
 public:
  explicit BarBuilder(BarPeriod period) : period_(period) {}

  // Adds one trade at `t` (not before the previous trade's time).
  BarUpdate add_trade(Timestamp t, Ticks price, std::int64_t size);

  // The bars whose period ended by `now`, oldest first, and the one forming.
  std::size_t completed_count(Timestamp now) const;
  // Appends up to the last `count` completed bars to `out`, oldest first.
  void copy_completed(Timestamp now, std::size_t count, std::vector<Bar>& out) const;
  std::optional<Bar> forming(Timestamp now) const;

 private:
  BarPeriod period_;
  std::deque<Bar> finished_;
  std::optional<Bar> current_;  // the latest bar opened; completed once its period is over
};

// Parameters of synthesised history.
struct SynthesisParams {
  std::uint64_t seed = 0;       // the stream's own seed
  Ticks anchor = 1;             // close of the newest synthesised bar: the first live open
  Timestamp end{};              // the newest synthesised bar ends here
  double volatility = 0.2;      // annual
  double trades_per_bar = 100;  // mean tick volume
  double mean_trade_size = 4;
};

// Bars before the live series, generated newest first from their own random
// stream, so the n newest bars are the same whatever is asked for.
class HistorySynthesis {
 public:
  HistorySynthesis(BarPeriod period, const SynthesisParams& params);

  // Appends the `count` bars just before the live series to `out`, oldest
  // first. Allocates as the cache grows.
  void copy_newest(std::size_t count, std::vector<Bar>& out);

 private:
  void extend_to(std::size_t count);

  BarPeriod period_;
  SynthesisParams params_;
  Rng rng_;
  std::vector<Bar> newest_first_;
};

}  // namespace orbrix::cqgsim::venue
