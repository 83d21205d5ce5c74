#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "test_support.hpp"
#include "venue/market/history.hpp"
#include "venue/market/market.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using namespace std::chrono_literals;
using testing::at;

History parse(const std::string& text) {
  std::istringstream in(text);
  return parse_history(in, "replay.csv");
}

Catalogue ep_only() {
  const Catalogue all = Catalogue::standard(at("2026-12-07T00:00:00Z"));
  return Catalogue({all.contract(*all.resolve("EP"))});
}

struct Seen {
  std::vector<Timestamp> times;
  std::vector<Tick> ticks;
  std::map<Timestamp, Bar> finished;
};

Seen run(Market& m, Timestamp until, InstrumentId id) {
  Seen s;
  m.advance_to(until, [&](const MarketEvent& e) {
    if (e.instrument != id) {
      return;
    }
    EXPECT_EQ(e.source, MarketEvent::Source::Replay);
    s.times.push_back(e.time);
    s.ticks.insert(s.ticks.end(), e.ticks.begin(), e.ticks.end());
    for (const BarUpdate& u : e.bars) {
      if (u.period == BarPeriod::OneMinute && u.finished) {
        EXPECT_GE(e.time, u.finished->start + 1min);
        s.finished[u.finished->start] = *u.finished;
      }
    }
  });
  return s;
}

TEST(VenueMarketReplay, QuotesBeforeStartAreThePastAndLaterOnesPlayAtTheirTimes) {
  const History h = parse(
      "ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n"
      "2026-12-06T20:00:00Z,6040.00,6040.25,5,5,6040.00,2\n"  // yesterday's close
      "2026-12-07T14:29:10Z,6050.00,6050.25,10,12,6050.25,4\n"
      "2026-12-07T14:29:50Z,6050.25,6050.50,11,12,6050.50,1\n"
      "2026-12-07T14:30:00Z,6050.25,6050.50,11,12,,\n"  // at start: plays, but changes nothing
      "2026-12-07T14:30:05Z,6050.25,6050.50,11,12,,\n"  // nothing changed: no event
      "2026-12-07T14:30:20Z,6050.50,6050.75,3,8,6050.75,6\n"
      "2026-12-07T14:31:02Z,6050.00,6050.25,3,8,6050.00,2\n");
  const Catalogue c = ep_only();
  Market m(c, 1, at("2026-12-07T14:30:00Z"));
  m.replay(0, h);
  EXPECT_TRUE(m.replaying(0));
  // The state at start is the last record before it.
  const InstrumentState& s = m.state(0);
  EXPECT_EQ(s.book.bid, 24201);
  EXPECT_EQ(s.book.ask_size, 12);
  EXPECT_EQ(s.book.trade->price, 24202);
  EXPECT_EQ(s.price(QuoteType::DayOpen), 24201);
  EXPECT_EQ(s.price(QuoteType::DayLow), 24201);
  EXPECT_EQ(s.price(QuoteType::YesterdaySettlement), 24160);
  EXPECT_EQ(s.day_volume, 5);
  const BarSeries past = m.bars(0, BarPeriod::OneMinute, 10);
  ASSERT_EQ(past.completed.size(), 2u);  // only what the file holds, nothing synthesised
  EXPECT_EQ(past.completed[1],
            (Bar{at("2026-12-07T14:29:00Z"), 24201, 24202, 24201, 24202, 5, 2, 5, 5}));

  std::vector<std::vector<QuoteChange>> events;
  std::vector<Timestamp> times;
  m.advance_to(at("2026-12-07T15:00:00Z"), [&](const MarketEvent& e) {
    events.emplace_back(e.quotes.begin(), e.quotes.end());
    times.push_back(e.time);
  });
  EXPECT_EQ(times,
            (std::vector<Timestamp>{at("2026-12-07T14:30:20Z"), at("2026-12-07T14:31:02Z")}));
  ASSERT_EQ(events.size(), 2u);
  // The first event the owner sees carries yesterday's settlement.
  EXPECT_EQ(events[0], (std::vector<QuoteChange>{{QuoteType::YesterdaySettlement, 24160, 0, true},
                                                 {QuoteType::Bid, 24202, 3, true},
                                                 {QuoteType::Ask, 24203, 8, true},
                                                 {QuoteType::Trade, 24203, 6, true},
                                                 {QuoteType::DayHigh, 24203, 0, true}}));
  EXPECT_EQ(events[1], (std::vector<QuoteChange>{{QuoteType::Bid, 24200, 3, true},
                                                 {QuoteType::Ask, 24201, 8, true},
                                                 {QuoteType::Trade, 24200, 2, true},
                                                 {QuoteType::DayLow, 24200, 0, true}}));
  // After the last record the instrument is quiet.
  EXPECT_TRUE(m.quiet(0));
  EXPECT_FALSE(m.next_event_time());
  const BarSeries after = m.bars(0, BarPeriod::OneMinute, 10);
  EXPECT_EQ(after.completed.size(), 4u);
  EXPECT_FALSE(after.forming);
}

TEST(VenueMarketReplay, ABarsFileBecomesQuotesAndTradesAlongEachBarsPath) {
  const History h = parse(
      "ts_event,open,high,low,close,volume\n"
      "2026-12-07T14:29:00Z,6050.00,6051.00,6049.50,6050.50,10\n"
      "2026-12-07T14:30:00Z,6050.50,6052.00,6050.00,6051.75,7\n"
      "2026-12-07T14:33:00Z,6051.75,6051.75,6051.75,6051.75,1\n");
  const Catalogue c = ep_only();
  Market m(c, 1, at("2026-12-07T14:30:00Z"));
  m.replay(0, h);
  const Seen seen = run(m, at("2026-12-07T14:40:00Z"), 0);
  std::vector<Tick> trades;
  for (const Tick& t : seen.ticks) {
    if (t.type == TickType::Trade) {
      trades.push_back(t);
    }
  }
  const auto t0 = at("2026-12-07T14:30:00Z");
  EXPECT_EQ(std::vector(trades.begin(), trades.begin() + 4),
            (std::vector<Tick>{{TickType::Trade, 24202, 2, t0},
                               {TickType::Trade, 24208, 2, t0 + 15s},
                               {TickType::Trade, 24200, 2, t0 + 30s},
                               {TickType::Trade, 24207, 1, t0 + 45s}}));
  // Every bar, past and replayed, is the file's bar, released at start + 60 s.
  const BarSeries bars = m.bars(0, BarPeriod::OneMinute, 10);
  ASSERT_EQ(bars.completed.size(), 3u);
  EXPECT_EQ(bars.completed[0],
            (Bar{at("2026-12-07T14:29:00Z"), 24200, 24204, 24198, 24202, 10, 4, 10, 10}));
  EXPECT_EQ(bars.completed[1], (Bar{t0, 24202, 24208, 24200, 24207, 7, 4, 7, 7}));
  EXPECT_EQ(bars.completed[2].volume, 1);
  EXPECT_EQ(bars.completed[2].high, 24207);
  EXPECT_EQ(seen.finished.at(t0), bars.completed[1]);
  // A quote at the touch around every trade.
  for (const Tick& t : seen.ticks) {
    if (t.type == TickType::Bid) {
      EXPECT_TRUE(std::any_of(trades.begin(), trades.end(), [&](const Tick& x) {
        return x.time == t.time && x.price == t.price;
      }));
    }
  }
}

TEST(VenueMarketReplay, TheSampleQuotesFileRebuildsTheSampleBarsFile) {
  const History quotes = load_history(VENUE_MARKET_DATA_DIR "/ep_quotes_sample.csv");
  const History bars = load_history(VENUE_MARKET_DATA_DIR "/ep_bars_sample.csv");
  ASSERT_EQ(bars.format, HistoryFormat::MinuteBars);
  const Catalogue c = ep_only();
  // Start in the middle: ten minutes of past, ten of replay.
  Market m(c, 1, at("2026-12-07T14:40:00Z"));
  m.replay(0, quotes);
  const Seen seen = run(m, at("2026-12-07T15:00:00Z"), 0);
  EXPECT_GT(seen.times.size(), 150u);
  EXPECT_TRUE(std::is_sorted(seen.times.begin(), seen.times.end()));
  const BarSeries got = m.bars(0, BarPeriod::OneMinute, 100);
  ASSERT_EQ(got.completed.size(), bars.bars.size());
  for (std::size_t i = 0; i < bars.bars.size(); ++i) {
    const BarRecord& want = bars.bars[i];
    const Bar& b = got.completed[i];
    EXPECT_EQ(b.start, want.start);
    EXPECT_EQ(b.open, to_ticks(want.open, 0.25));
    EXPECT_EQ(b.high, to_ticks(want.high, 0.25));
    EXPECT_EQ(b.low, to_ticks(want.low, 0.25));
    EXPECT_EQ(b.close, to_ticks(want.close, 0.25));
    EXPECT_EQ(b.volume, want.volume);
    if (b.start >= at("2026-12-07T14:40:00Z") && b.start < at("2026-12-07T14:49:00Z")) {
      EXPECT_EQ(seen.finished.at(b.start), b);
    }
  }
}

TEST(VenueMarketReplay, ARefusedHistoryLeavesTheRandomWalkRunning) {
  const Catalogue c = ep_only();
  Market m(c, 1, at("2026-12-07T14:30:00Z"));
  const History h = parse(
      "ts_event,bid_price,ask_price\n"
      "2026-12-07T14:29:00Z,6050.00,6050.25\n"
      "2026-12-07T14:31:00Z,6050.10,6050.25\n");
  try {
    m.replay(0, h);
    FAIL();
  } catch (const HistoryError& e) {
    EXPECT_EQ(e.line(), 3u);
    EXPECT_EQ(e.column(), "bid_price");
    EXPECT_NE(std::string(e.what()).find("tick grid"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(m.replaying(0));
  EXPECT_EQ(m.next_event_time(), at("2026-12-07T14:30:00Z"));
  Market fresh(c, 1, at("2026-12-07T14:30:00Z"));
  EXPECT_EQ(testing::record_run(m, at("2026-12-07T14:31:00Z")),
            testing::record_run(fresh, at("2026-12-07T14:31:00Z")));
  // Once the market runs, a replay can no longer be set up.
  EXPECT_THROW(m.replay(0, parse("ts_event,bid_price,ask_price\n2026-12-07T14:35:00Z,1,2\n")),
               std::logic_error);
}

TEST(VenueMarketReplay, APriceBeyondTheVenuesBoundIsRefusedWithItsPlace) {
  const Catalogue c = ep_only();
  const auto refused = [&](const std::string& text, std::size_t line, const char* column) {
    try {
      replay_check(parse(text), c.contract(0));
      ADD_FAILURE() << "accepted:\n" << text;
    } catch (const HistoryError& e) {
      EXPECT_EQ(e.line(), line) << e.what();
      EXPECT_EQ(e.column(), column) << e.what();
      EXPECT_NE(std::string(e.what()).find("beyond the largest price"), std::string::npos)
          << e.what();
    }
  };
  // 4e20 is a whole number of ticks as a double: only the bound catches it.
  refused(
      "ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n"
      "2026-12-07T14:29:00Z,6050.00,6050.25,1,1,,\n"
      "2026-12-07T14:31:00Z,6050.00,6050.25,1,1,400000000000000000000,1\n",
      3, "last_price");
  refused(
      "ts_event,open,high,low,close,volume\n"
      "2026-12-07T14:30:00Z,1e20,1e20,1e20,1e20,5\n",
      2, "open");
  EXPECT_NO_THROW(replay_check(parse("ts_event,bid_price,ask_price\n"
                                     "2026-12-07T14:29:00Z,-0.25,250000000000\n"),
                               c.contract(0)));
  Market m(c, 1, at("2026-12-07T14:30:00Z"));
  EXPECT_THROW(m.replay(0, parse("ts_event,bid_price,ask_price\n"
                                 "2026-12-07T14:31:00Z,6050.00,1e20\n")),
               HistoryError);
  EXPECT_FALSE(m.replaying(0));
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
