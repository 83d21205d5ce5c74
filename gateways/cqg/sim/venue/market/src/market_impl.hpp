#pragma once

// The market's state and its stepping, behind Market's interface (market.cpp
// holds the interface's members). Internal to the market library.

#include "venue/market/market.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>
#include <string>

#include "bar_series.hpp"
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
    std::vector<BookStep> steps;
    std::size_t next_step = 0;
    std::optional<std::chrono::sys_days> day;  // the UTC day of the day's quotes
    std::optional<Ticks> yesterday;            // settlement of the day before `day`
    bool delivered = false;                    // has produced an event for the owner
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
    due.resize(records.size());
    for (InstrumentId id = 0; id < records.size(); ++id) {
      refresh_due(id);
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

  std::optional<Timestamp> next_time(const Record& r) const {
    if (!r.replaying) {
      return r.walk.next_time();
    }
    if (r.next_step < r.steps.size()) {
      return r.steps[r.next_step].time;
    }
    return std::nullopt;
  }

  // Brings due[id] up to date: after anything that moves the record's walk
  // or its replay on.
  void refresh_due(InstrumentId id) {
    const auto t = next_time(records[id]);
    due[id] = t ? *t : kNone;
  }

  // The instrument whose own event is earliest (ties by id), if any.
  std::optional<InstrumentId> earliest(std::optional<Timestamp>& at) const {
    std::optional<InstrumentId> best;
    for (InstrumentId id = 0; id < due.size(); ++id) {
      const Timestamp t = due[id];
      if (t != kNone && (!at || t < *at)) {
        at = t;
        best = id;
      }
    }
    return best;
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

  const MarketEvent* next(Timestamp limit) {
    if (limit < now) {
      throw std::invalid_argument("Market: cannot go back from " + format_timestamp(now) + " to " +
                                  format_timestamp(limit));
    }
    started = true;
    while (true) {
      std::optional<Timestamp> at;
      const auto id = earliest(at);
      const bool take_injected =
          !injected.empty() && (!id || injected.begin()->first < InjectKey{*at, *id});
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
      if (!id || *at > limit) {
        break;
      }
      now = *at;
      Record& r = records[*id];
      const BookStep s = r.replaying ? r.steps[r.next_step++] : r.walk.step(r.state.book);
      refresh_due(*id);
      if (produce_step(*id, s, true)) {
        r.delivered = true;
        return &event;
      }
    }
    now = limit;
    return nullptr;
  }

  std::optional<Timestamp> next_time() const {
    std::optional<Timestamp> at;
    earliest(at);
    if (!injected.empty() && (!at || injected.begin()->first.first < *at)) {
      at = injected.begin()->first.first;
    }
    return at;
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
  bool started = false;
  std::vector<Record> records;
  // The time of each record's next own event (kNone: none), kept beside the
  // records so the search for the earliest, made on every step of the
  // clock, reads one small array.
  static constexpr Timestamp kNone = Timestamp::max();
  std::vector<Timestamp> due;
  // Injected batches by time and instrument; equal keys keep injection order.
  std::multimap<InjectKey, std::vector<QuoteChange>> injected;
  // Reused for every event.
  std::vector<QuoteChange> quotes;
  std::vector<Tick> ticks;
  std::vector<BarUpdate> bar_updates;
  MarketEvent event;
};

}  // namespace orbrix::cqgsim::venue
