#pragma once

// The market's state and its stepping, behind Market's interface (market.cpp
// holds the interface's members). Internal to the market library.

#include "venue/market/market.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "bar_series.hpp"
#include "history_stream.hpp"
#include "random_walk.hpp"
#include "replay.hpp"
#include "venue/market/random.hpp"
#include "venue/market/time_text.hpp"
#include "venue/price.hpp"

namespace orbrix::cqgsim::venue {

namespace market_detail {

inline QuoteChange& slot(InstrumentState& s, QuoteType t) {
  return s.quotes[static_cast<std::size_t>(t)];
}

inline void apply(InstrumentState& s, const QuoteChange& c) {
  slot(s, c.type) = c.valid ? c : QuoteChange{c.type, 0, 0, false};
  switch (c.type) {
    case QuoteType::Bid:
      s.book.bid = c.valid ? std::optional<Ticks>(c.price) : std::nullopt;
      s.book.bid_size = c.valid ? c.volume : 0;
      break;
    case QuoteType::Ask:
      s.book.ask = c.valid ? std::optional<Ticks>(c.price) : std::nullopt;
      s.book.ask_size = c.valid ? c.volume : 0;
      break;
    case QuoteType::Trade:
      if (c.valid) {
        s.book.trade = TopOfBook::Trade{c.price, c.volume};
        s.day_volume = saturating_add(s.day_volume, c.volume);
      } else {
        s.book.trade.reset();
      }
      break;
    default:
      break;
  }
}

// Refuses an option outside its range, naming it; a NaN is outside too.
inline void check_option(const char* name, double value, double low, double high) {
  if (!(value >= low && value <= high)) {
    throw std::invalid_argument("Market: the option " + std::string(name) + " must be within " +
                                std::to_string(low) + " to " + std::to_string(high) + ", got " +
                                std::to_string(value));
  }
}

inline void check(const MarketConfig& c) {
  if (c.mean_interval <= Duration::zero() || c.mean_interval > kMaxMeanInterval) {
    throw std::invalid_argument(
        "Market: the mean interval between events must be positive and at most an hour");
  }
  check_option("trade_probability", c.trade_probability, 0, 1);
  check_option("size_change_probability", c.size_change_probability, 0, 1);
  check_option("rare_quote_probability", c.rare_quote_probability, 0, 1);
  check_option("invalid_quote_probability", c.invalid_quote_probability, 0, 1);
  check_option("mean_book_size", c.mean_book_size, 1, kMaxMeanSize);
  check_option("mean_trade_size", c.mean_trade_size, 1, kMaxMeanSize);
}

}  // namespace market_detail

struct Market::Impl {
  struct Record {
    explicit Record(const RandomWalk& w) : walk(w) {}

    InstrumentState state;
    RandomWalk walk;
    std::array<BarBuilder, kBarPeriodCount> builders{BarBuilder{BarPeriod::OneMinute},
                                                     BarBuilder{BarPeriod::Daily}};
    std::array<std::optional<HistorySynthesis>, kBarPeriodCount> synthesis;
    bool replaying = false;
    // Replaying: the history, the steps read from it and not yet played (in
    // time order, from `head`), and its rows read of those it holds.
    std::shared_ptr<const HistoryFile> file;
    std::vector<BookStep> steps;
    std::size_t head = 0;
    std::size_t rows_read = 0;
    std::size_t rows_total = 0;
    HistoryOrder order;
    std::optional<std::chrono::sys_days> day;  // the UTC day of the day's quotes
    std::optional<Ticks> yesterday;            // settlement of the day before `day`
    bool delivered = false;                    // has produced an event for the owner
  };

  // A source's next event, ordered by time, then by instrument id: the order
  // in which instruments take their turns.
  struct Due {
    Timestamp time;
    InstrumentId id;
    friend bool operator>(const Due& a, const Due& b) {
      return a.time != b.time ? a.time > b.time : a.id > b.id;
    }
  };
  // A history file's next unread row.
  struct RowDue {
    Timestamp time;
    std::size_t stream;
    friend bool operator>(const RowDue& a, const RowDue& b) {
      return a.time != b.time ? a.time > b.time : a.stream > b.stream;
    }
  };
  // A binary heap with the earliest in front (std::push_heap and pop_heap
  // keep a max-heap: the ordering is reversed).
  template <class T>
  struct Heap {
    std::vector<T> items;
    bool empty() const { return items.empty(); }
    const T& front() const { return items.front(); }
    void push(const T& x) {
      items.push_back(x);
      std::push_heap(items.begin(), items.end(), std::greater<>{});
    }
    T pop() {
      std::pop_heap(items.begin(), items.end(), std::greater<>{});
      const T x = items.back();
      items.pop_back();
      return x;
    }
  };

  using InjectKey = std::pair<Timestamp, InstrumentId>;

  Impl(const Catalogue& c, std::uint64_t s, Timestamp t, MarketConfig cfg)
      : catalogue(c), config(cfg), seed(s), start(t), now(t) {
    market_detail::check(config);
    records.reserve(catalogue.size());
    for (const InstrumentSpec& contract : catalogue.contracts()) {
      records.emplace_back(RandomWalk(stream_seed(seed, contract.symbol), contract, config, start));
      records.back().state.time = start;
      // The opening trade is at the initial price, which is also where the
      // synthesised daily history closed yesterday.
      records.back().yesterday = std::max<Ticks>(1, contract.initial_price);
      for (auto& q : records.back().state.quotes) {
        q.valid = false;
      }
      for (std::size_t i = 0; i < kQuoteTypeCount; ++i) {
        records.back().state.quotes[i].type = static_cast<QuoteType>(i);
      }
    }
    quotes.reserve(32);
    ticks.reserve(32);
    bar_updates.reserve(16);
  }

  Record& record(InstrumentId id) {
    if (id >= records.size()) {
      throw std::out_of_range("Market: no instrument " + std::to_string(id));
    }
    return records[id];
  }

  void replay(InstrumentId id, std::shared_ptr<const HistoryFile> file) {
    Record& r = record(id);
    if (prepared) {
      throw std::logic_error("Market::replay: set up replays before the market is used");
    }
    const InstrumentSpec& contract = catalogue.contract(id);
    const HistorySeries* series = file ? file->find(contract.symbol) : nullptr;
    if (!series) {
      throw std::invalid_argument(fmt::format("Market::replay: {} holds no rows of {}",
                                              file ? file->source : "no history", contract.symbol));
    }
    if (series->tick_size != contract.tick_size) {
      throw std::invalid_argument(
          fmt::format("Market::replay: {} was checked against a tick of {}, {} has {}",
                      file->source, series->tick_size, contract.symbol, contract.tick_size));
    }
    Record fresh(r.walk);
    fresh.state.time = start;
    for (std::size_t i = 0; i < kQuoteTypeCount; ++i) {
      fresh.state.quotes[i] = QuoteChange{static_cast<QuoteType>(i), 0, 0, false};
    }
    fresh.replaying = true;
    fresh.rows_total = series->rows;
    fresh.file = std::move(file);
    r = std::move(fresh);
  }

  // Opens the histories, reads their past and sets up the merge: on the
  // market's first use, when every replay is known.
  void prepare() {
    if (prepared) {
      return;
    }
    prepared = true;
    for (InstrumentId id = 0; id < records.size(); ++id) {
      Record& r = records[id];
      if (!r.replaying) {
        if (!walks_quiet) {
          walks.push(Due{r.walk.next_time(), id});
        }
        continue;
      }
      // A file in time order is read once for all its instruments; another
      // once for each (it may hold one instrument's rows long after another's).
      const bool shared = r.file->symbol_column && r.file->in_time_order;
      const bool opened = shared && std::any_of(records.begin(), records.begin() + id,
                                                [&](const Record& o) { return o.file == r.file; });
      if (!opened) {
        open_stream(r.file, shared ? std::nullopt : std::optional<InstrumentId>(id));
      }
    }
    for (std::size_t s = 0; s < streams.size(); ++s) {
      read_past(s);
    }
    for (InstrumentId id = 0; id < records.size(); ++id) {
      Record& r = records[id];
      if (r.replaying && r.head < r.steps.size()) {
        compact(r);
        replays.push(Due{r.steps.front().time, id});
      }
    }
  }

  void open_stream(const std::shared_ptr<const HistoryFile>& file,
                   std::optional<InstrumentId> only) {
    // A row goes to the instrument it names when that instrument replays
    // this file (another history may have replaced the file for it).
    auto resolve = [this, file](std::string_view symbol) -> std::optional<InstrumentId> {
      const auto contract = Catalogue::standard_contract(symbol);
      const auto id = contract ? catalogue.resolve(contract->symbol) : std::nullopt;
      if (id && records[*id].replaying && records[*id].file == file) {
        return id;
      }
      return std::nullopt;
    };
    streams.push_back(std::make_unique<HistoryStream>(file, only, std::move(resolve)));
  }

  // The rows before start are the past: applied silently (they set the
  // state at start and the bars); a bar's steps from start on stay to play.
  void read_past(std::size_t s) {
    HistoryStream& stream = *streams[s];
    while (stream.has_row() && stream.time() < start) {
      const InstrumentId id = stream.target();
      Record& r = records[id];
      take_row(id, stream, false);
      while (r.head < r.steps.size() && r.steps[r.head].time < start) {
        produce_step(id, r.steps[r.head++], false);
      }
      stream.advance();
    }
    if (stream.has_row()) {
      rows.push(RowDue{stream.time(), s});
    }
  }

  // Turns the stream's row into steps of its instrument.
  void take_row(InstrumentId id, const HistoryStream& stream, bool live) {
    Record& r = records[id];
    const Timestamp t = stream.time();
    r.order.check(stream.reader(), t);
    append_steps(stream.reader(), stream.row(), catalogue.contract(id), r.steps);
    ++r.rows_read;
    if (live) {
      ++rows_replayed;
    }
  }

  static void compact(Record& r) {
    if (r.head > 0) {
      r.steps.erase(r.steps.begin(), r.steps.begin() + static_cast<std::ptrdiff_t>(r.head));
      r.head = 0;
    }
  }

  // Reads every row of the next file due at its time: all rows of one time
  // are read before any event of that time is taken.
  void read_rows() {
    const std::size_t s = rows.pop().stream;
    HistoryStream& stream = *streams[s];
    const Timestamp t = stream.time();
    do {
      const InstrumentId id = stream.target();
      Record& r = records[id];
      const bool waiting = r.head < r.steps.size();
      take_row(id, stream, true);
      if (!waiting) {
        replays.push(Due{r.steps[r.head].time, id});
      }
      stream.advance();
    } while (stream.has_row() && stream.time() == t);
    if (stream.has_row()) {
      rows.push(RowDue{stream.time(), s});
    }
  }

  // A new UTC day resets the day's quotes and sends yesterday's settlement,
  // which the first event the owner sees also carries.
  // Returns true when it added yesterday's settlement only because the
  // owner has seen nothing of this instrument yet.
  bool begin_day(Record& r, Timestamp t, bool trades, bool live) {
    const auto day = std::chrono::floor<std::chrono::days>(t);
    if (!r.day || *r.day != day) {
      if (r.day) {
        r.yesterday =
            r.state.book.trade ? std::optional<Ticks>(r.state.book.trade->price) : r.yesterday;
      }
      r.day = day;
      if (r.yesterday) {
        quotes.push_back({QuoteType::YesterdaySettlement, *r.yesterday, 0, true});
      }
      for (const QuoteType q : {QuoteType::DayOpen, QuoteType::DayHigh, QuoteType::DayLow}) {
        if (market_detail::slot(r.state, q).valid && !trades) {
          quotes.push_back({q, 0, 0, false});
        }
        market_detail::slot(r.state, q).valid = false;  // the day's first trade sets them again
      }
      r.state.day_volume = 0;
    } else if (live && !r.delivered && r.yesterday) {
      quotes.push_back({QuoteType::YesterdaySettlement, *r.yesterday, 0, true});
      return true;
    }
    return false;
  }

  // Quote changes that take the book from its state to `s`.
  void book_changes(Record& r, const BookStep& s) {
    const TopOfBook& b = r.state.book;
    if (!b.bid || *b.bid != s.bid || b.bid_size != s.bid_size) {
      quotes.push_back({QuoteType::Bid, s.bid, s.bid_size, true});
    }
    if (!b.ask || *b.ask != s.ask || b.ask_size != s.ask_size) {
      quotes.push_back({QuoteType::Ask, s.ask, s.ask_size, true});
    }
    if (s.trade) {
      const Ticks p = s.trade->price;
      quotes.push_back({QuoteType::Trade, p, s.trade->size, true});
      const auto high = r.state.price(QuoteType::DayHigh);
      const auto low = r.state.price(QuoteType::DayLow);
      if (!r.state.price(QuoteType::DayOpen)) {
        quotes.push_back({QuoteType::DayOpen, p, 0, true});
      }
      if (!high || p > *high) {
        quotes.push_back({QuoteType::DayHigh, p, 0, true});
      }
      if (!low || p < *low) {
        quotes.push_back({QuoteType::DayLow, p, 0, true});
      }
    }
  }

  // Applies the changes in `quotes` and derives the event's ticks and bars.
  void finish(InstrumentId id, Timestamp t, MarketEvent::Source source) {
    Record& r = records[id];
    ticks.clear();
    bar_updates.clear();
    std::optional<TopOfBook::Trade> traded;
    for (const QuoteChange& c : quotes) {
      market_detail::apply(r.state, c);
      if (const auto type = tick_type_of(c)) {
        ticks.push_back(Tick{*type, c.price, c.volume, t});
      }
      if (c.type == QuoteType::Trade && c.valid) {
        traded = TopOfBook::Trade{c.price, c.volume};
        for (BarBuilder& b : r.builders) {
          bar_updates.push_back(b.add_trade(t, c.price, c.volume));
        }
      }
    }
    r.state.time = t;
    event.instrument = id;
    event.time = t;
    event.source = source;
    event.quotes = quotes;
    event.ticks = ticks;
    event.bars = bar_updates;
    event.book = r.state.book;
    event.book.trade = traded;
  }

  // Builds and applies one step of a walk or a replay; false when the step
  // changed nothing (a repeated history record).
  bool produce_step(InstrumentId id, const BookStep& s, bool live) {
    Record& r = records[id];
    quotes.clear();
    const bool reminder = begin_day(r, s.time, s.trade.has_value(), live);
    book_changes(r, s);
    if (!r.replaying) {
      TopOfBook after;
      after.bid = s.bid;
      after.ask = s.ask;
      after.bid_size = s.bid_size;
      after.ask_size = s.ask_size;
      after.trade = s.trade ? s.trade : r.state.book.trade;
      r.walk.rare_quotes(after, quotes);
    }
    if (quotes.empty() || (reminder && quotes.size() == 1)) {
      // Nothing changed: the owner hears nothing (a repeated record).
      r.state.time = s.time;
      return false;
    }
    finish(id, s.time, r.replaying ? MarketEvent::Source::Replay : MarketEvent::Source::RandomWalk);
    return true;
  }

  void produce_injected(std::multimap<InjectKey, std::vector<QuoteChange>>::iterator it) {
    const InstrumentId id = it->first.second;
    const Timestamp t = it->first.first;
    Record& r = records[id];
    quotes.assign(it->second.begin(), it->second.end());
    injected.erase(it);
    // Keep bid below ask: the side the batch did not set makes way.
    std::optional<Ticks> bid = r.state.book.bid;
    std::optional<Ticks> ask = r.state.book.ask;
    bool set_bid = false;
    for (const QuoteChange& c : quotes) {
      if (c.type == QuoteType::Bid) {
        bid = c.valid ? std::optional<Ticks>(c.price) : std::nullopt;
        set_bid = true;
      } else if (c.type == QuoteType::Ask) {
        ask = c.valid ? std::optional<Ticks>(c.price) : std::nullopt;
      }
    }
    if (bid && ask && *bid >= *ask) {
      if (set_bid) {
        quotes.push_back({QuoteType::Ask, *bid + 1, r.state.book.ask_size, true});
      } else {
        quotes.push_back({QuoteType::Bid, *ask - 1, r.state.book.bid_size, true});
      }
    }
    finish(id, t, MarketEvent::Source::Injected);
  }

  // The instrument whose own event (walk or replay) is earliest, ties by id.
  const Due* earliest() const {
    const Due* walk = walks.empty() ? nullptr : &walks.front();
    const Due* replay = replays.empty() ? nullptr : &replays.front();
    if (!walk || !replay) {
      return walk ? walk : replay;
    }
    return *walk > *replay ? replay : walk;
  }

  const MarketEvent* next(Timestamp limit) {
    if (limit < now) {
      throw std::invalid_argument("Market: cannot go back from " + format_timestamp(now) + " to " +
                                  format_timestamp(limit));
    }
    prepare();
    while (true) {
      const Due* due = earliest();
      const bool any_injected = !injected.empty();
      // Rows of a file due by the earliest event are read first.
      if (!rows.empty() && rows.front().time <= limit && (!due || rows.front().time <= due->time) &&
          (!any_injected || rows.front().time <= injected.begin()->first.first)) {
        read_rows();
        continue;
      }
      const bool take_injected =
          any_injected && (!due || injected.begin()->first < InjectKey{due->time, due->id});
      if (take_injected) {
        const Timestamp t = injected.begin()->first.first;
        if (t > limit) {
          break;
        }
        now = t;
        const InstrumentId who = injected.begin()->first.second;
        produce_injected(injected.begin());
        records[who].delivered = true;
        return &event;
      }
      if (!due || due->time > limit) {
        break;
      }
      now = due->time;
      const InstrumentId id = due->id;
      Record& r = records[id];
      BookStep s;
      if (r.replaying) {
        replays.pop();
        s = r.steps[r.head++];
        if (r.head == r.steps.size()) {
          r.steps.clear();
          r.head = 0;
        } else {
          replays.push(Due{r.steps[r.head].time, id});
        }
      } else {
        walks.pop();
        s = r.walk.step(r.state.book);
        walks.push(Due{r.walk.next_time(), id});
      }
      if (produce_step(id, s, true)) {
        r.delivered = true;
        return &event;
      }
    }
    now = limit;
    return nullptr;
  }

  std::optional<Timestamp> next_recorded_time() {
    prepare();
    std::optional<Timestamp> at;
    const auto earlier = [&](Timestamp t) {
      if (!at || t < *at) {
        at = t;
      }
    };
    if (!replays.empty()) {
      earlier(replays.front().time);
    }
    if (!rows.empty()) {
      earlier(rows.front().time);
    }
    if (!injected.empty()) {
      earlier(injected.begin()->first.first);
    }
    return at;
  }

  std::optional<Timestamp> next_time() {
    auto at = next_recorded_time();
    if (!walks.empty() && (!at || walks.front().time < *at)) {
      at = walks.front().time;
    }
    return at;
  }

  void jump_to(Timestamp t) {
    if (t < now) {
      throw std::invalid_argument("Market: cannot jump back from " + format_timestamp(now) +
                                  " to " + format_timestamp(t));
    }
    if (const auto due = next_recorded_time(); due && *due <= t) {
      throw std::logic_error("Market::jump_to: a recorded event is due at " +
                             format_timestamp(*due) + ", by " + format_timestamp(t));
    }
    // The same shift for every walk keeps the heap's order.
    const Duration gap = t - now;
    for (Due& d : walks.items) {
      records[d.id].walk.shift(gap);
      d.time = records[d.id].walk.next_time();
    }
    now = t;
  }

  HistorySynthesis& synthesis(InstrumentId id, BarPeriod period) {
    auto& slot = records[id].synthesis[static_cast<std::size_t>(period)];
    if (!slot) {
      const InstrumentSpec& contract = catalogue.contract(id);
      const double period_s = std::chrono::duration<double>(length_of(period)).count();
      const double mean_s = std::chrono::duration<double>(config.mean_interval).count();
      SynthesisParams p;
      p.seed = stream_seed(seed, contract.symbol + "/bars/" + std::string(to_string(period)));
      p.anchor = std::max<Ticks>(1, contract.initial_price);
      p.end = period_start(period, start);
      p.volatility = contract.annual_volatility;
      p.trades_per_bar = period_s / mean_s * config.trade_probability;
      p.mean_trade_size = config.mean_trade_size;
      slot.emplace(period, p);
    }
    return *slot;
  }

  Catalogue catalogue;
  MarketConfig config;
  std::uint64_t seed;
  Timestamp start;
  Timestamp now;
  // Set on first use: the histories are open and the merge set up.
  bool prepared = false;
  bool walks_quiet = false;  // no random walk produces events
  std::vector<Record> records;
  // The merge: the random walks, the replaying instruments with steps read,
  // and the open files by their next unread row.
  Heap<Due> walks;
  Heap<Due> replays;
  Heap<RowDue> rows;
  std::vector<std::unique_ptr<HistoryStream>> streams;
  std::size_t rows_replayed = 0;
  // Injected batches by time and instrument; equal keys keep injection order.
  std::multimap<InjectKey, std::vector<QuoteChange>> injected;
  // Reused for every event.
  std::vector<QuoteChange> quotes;
  std::vector<Tick> ticks;
  std::vector<BarUpdate> bar_updates;
  MarketEvent event;
};

}  // namespace orbrix::cqgsim::venue
