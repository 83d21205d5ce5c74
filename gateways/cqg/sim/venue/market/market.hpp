#pragma once

// The venue's market: every instrument of a catalogue runs its own seeded
// random walk (or replays recorded history) all the time, whether anyone
// listens or not, and the owner pulls the resulting events in time order.
//
// Venue thread only; nothing blocks and nothing reads the wall clock: the
// owner says what time it is by advancing.
//
// Allocation: producing an event reuses the market's buffers; it allocates
// only when a finished bar is kept (amortised vector growth) or a buffer
// first grows past its reserve (an injected batch larger than 32 changes,
// a history row longer than any before it). inject(), replay() and bars()
// allocate.
//
// How the next event is found: each source keeps its next event where a
// merge finds the earliest in logarithmic time, never by scanning every
// instrument: a heap of the random walks by (time, id), a heap of the
// replaying instruments whose next steps are read, a heap of the open
// history files by the time of their next unread row, and the injected
// batches in time order. A file's rows are read only as the market's time
// reaches them: all rows at one time before any event at that time, so the
// order below holds whichever file a row comes from.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "venue/market/bars.hpp"
#include "venue/market/catalogue.hpp"
#include "venue/market/history_file.hpp"
#include "venue/market/market_event.hpp"
#include "venue/market/quotes.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// Each option has a range (the Market refuses a value outside it): the
// mean interval more than zero and at most kMaxMeanInterval, probabilities 0
// to 1, mean sizes 1 to kMaxMeanSize.
struct MarketConfig {
  // Mean of the exponential time between two events of one instrument.
  Duration mean_interval = std::chrono::milliseconds(300);
  double trade_probability = 0.5;            // an event prints a trade
  double size_change_probability = 0.5;      // an unchanged side shows a new size
  double rare_quote_probability = 0.02;      // one of the rarer quote types changes
  double invalid_quote_probability = 0.004;  // one of the rarer types is withdrawn
  double mean_book_size = 30;                // contracts shown at the bid or ask
  double mean_trade_size = 4;
};
inline constexpr Duration kMaxMeanInterval = std::chrono::hours(1);
inline constexpr double kMaxMeanSize = 1'000'000;

class Market {
 public:
  // Copies the catalogue. Each instrument's random stream is derived from
  // `seed` and its symbol alone, so it is the same whichever other
  // instruments exist. Every instrument's first event is at `start`: it
  // trades at the instrument's initial price and sends yesterday's
  // settlement and the day's open, high and low.
  // Throws std::invalid_argument, naming the option, for a configuration
  // option outside its range.
  Market(const Catalogue& catalogue, std::uint64_t seed, Timestamp start, MarketConfig config = {});
  ~Market();
  Market(const Market&) = delete;
  Market& operator=(const Market&) = delete;

  const Catalogue& catalogue() const;
  Timestamp start() const;
  // The time the market was last advanced to (start() at first).
  Timestamp now() const;

  // Calls `on_event(const MarketEvent&)` for every event with time <= t, in
  // time order across instruments (equal times by InstrumentId, an injected
  // batch after a generated event of the same instrument and time), then
  // sets now() to t. The callback may call inject(), state() and bars().
  // Throws std::invalid_argument when t is before now().
  template <class OnEvent>
  void advance_to(Timestamp t, OnEvent&& on_event) {
    while (const MarketEvent* e = next_event(t)) {
      on_event(*e);
    }
  }

  // The earliest pending event, if it is due by `limit`: the market moves to
  // its time and returns it (valid until the next call). Otherwise moves to
  // `limit` and returns null. Lets an owner merge the market with its timers.
  // Throws std::invalid_argument when `limit` is before now().
  const MarketEvent* next_event(Timestamp limit);
  // Time of the earliest pending event; none when every instrument is quiet.
  // A row read ahead counts at its time even when it turns out to change
  // nothing.
  std::optional<Timestamp> next_event_time() const;

  // Throws std::out_of_range for an unknown id.
  const InstrumentState& state(InstrumentId id) const;

  // Queues an exact batch of quote changes for `id` at `time` (>= now()); it
  // comes out of next_event()/advance_to() like any event: applied to the
  // state in order, with its ticks and bar updates derived, and nothing else
  // added, except that a side left crossed by the batch is moved one tick
  // beyond the other (an extra change). Throws std::invalid_argument for a
  // time before now(), an empty batch, a negative volume, a price beyond
  // kMaxPriceTicks, or a batch whose own valid bid is not below its own valid
  // ask; std::out_of_range for an unknown id.
  void inject(InstrumentId id, Timestamp time, std::vector<QuoteChange> changes);

  // Makes `id` replay its rows of `file` (checked by check_history) instead
  // of its random walk: rows before start() are its past (its state at
  // start and what bars() serves), later ones play at their times; after the
  // last one the instrument is quiet. The file is streamed: it is opened when
  // the market is first used, its past is read then, and each later row when
  // the market's time reaches it, the file holding one line and the steps of
  // the rows at one time (a bar's four). Several instruments of one file in
  // time order share one reading of it; a file out of time order is read
  // once per instrument. Prices are converted to the instrument's ticks.
  // Throws std::invalid_argument when the file holds no rows of the
  // instrument or was checked against another tick size, std::logic_error
  // once the market has been used (an event, a state, bars or a time read),
  // std::out_of_range for an unknown id. Reading throws HistoryError naming
  // file, line and column for a row it refuses (the file changed since it
  // was checked).
  void replay(InstrumentId id, std::shared_ptr<const HistoryFile> file);
  bool replaying(InstrumentId id) const;
  // The instruments that replay no history stay quiet: no random-walk
  // event is produced (a backtest over histories alone, where nobody may
  // ask for them, pays nothing for them). Throws std::logic_error once the
  // market has been used.
  void quiet_walks();
  // A replaying instrument past its last record.
  bool quiet(InstrumentId id) const;
  // Rows of the histories read at or after start(), as the market's time
  // reached them.
  std::size_t replayed_rows() const;
  // What the open history files hold now: steps read and not yet played,
  // and the bytes of their line buffers. Flat however long the files are.
  struct Buffered {
    std::size_t steps = 0;
    std::size_t line_bytes = 0;
  };
  Buffered buffered() const;

  // Time of the earliest recorded or injected event (a row of a history, a
  // batch given to inject()), random walks left out: when it is far off,
  // the market has a gap to jump.
  std::optional<Timestamp> next_recorded_time() const;
  // Moves the market to `t` over a gap in the recorded history: nothing is
  // produced, and every random-walk instrument pauses, its walk resuming at
  // `t` where it stopped (its next event as far after `t` as it was after
  // now()). Throws std::invalid_argument when `t` is before now(),
  // std::logic_error when a recorded or injected event is due by `t`.
  void jump_to(Timestamp t);

  // The `count` completed bars before the one now forming (fewer when the
  // history is shorter), oldest first, and the forming bar if the current
  // period has traded. A random-walk instrument's bars before start() are
  // synthesised from the seed, the symbol and the period; the newest of them
  // closes at the instrument's initial price, which is the first live open.
  // A replaying instrument serves only what its history holds. Completed
  // means the bar's period has ended by now(). Throws std::out_of_range for
  // an unknown id.
  BarSeries bars(InstrumentId id, BarPeriod period, std::size_t count);

 private:
  // The state of `id` as it is (throws std::out_of_range for an unknown id).
  const InstrumentState& state_of(InstrumentId id) const;

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orbrix::cqgsim::venue
