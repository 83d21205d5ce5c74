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

using testing::checked;
using testing::text_history;

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
  const auto h = checked(
      "ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n"
      "2026-12-06T20:00:00Z,6040.00,6040.25,5,5,6040.00,2\n"  // yesterday's close
      "2026-12-07T14:29:10Z,6050.00,6050.25,10,12,6050.25,4\n"
      "2026-12-07T14:29:50Z,6050.25,6050.50,11,12,6050.50,1\n"
      "2026-12-07T14:30:00Z,6050.25,6050.50,11,12,,\n"  // at start: plays, but changes nothing
      "2026-12-07T14:30:05Z,6050.25,6050.50,11,12,,\n"  // nothing changed: no event
      "2026-12-07T14:30:20Z,6050.50,6050.75,3,8,6050.75,6\n"
      "2026-12-07T14:31:02Z,6050.00,6050.25,3,8,6050.00,2\n",
      "EP");
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
  const auto h = checked(
      "ts_event,open,high,low,close,volume\n"
      "2026-12-07T14:29:00Z,6050.00,6051.00,6049.50,6050.50,10\n"
      "2026-12-07T14:30:00Z,6050.50,6052.00,6050.00,6051.75,7\n"
      "2026-12-07T14:33:00Z,6051.75,6051.75,6051.75,6051.75,1\n",
      "EP");
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
  const auto quotes = std::make_shared<const HistoryFile>(
      check_history_file(VENUE_MARKET_DATA_DIR "/ep_quotes_sample.csv", "EP"));
  auto reader = HistoryReader::open(VENUE_MARKET_DATA_DIR "/ep_bars_sample.csv");
  ASSERT_EQ(reader.format(), HistoryFormat::MinuteBars);
  std::vector<BarRecord> bars;
  for (HistoryRow row; reader.next(row);) {
    bars.push_back(row.bar);
  }
  const Catalogue c = ep_only();
  // Start in the middle: ten minutes of past, ten of replay.
  Market m(c, 1, at("2026-12-07T14:40:00Z"));
  m.replay(0, quotes);
  const Seen seen = run(m, at("2026-12-07T15:00:00Z"), 0);
  EXPECT_GT(seen.times.size(), 150u);
  EXPECT_TRUE(std::is_sorted(seen.times.begin(), seen.times.end()));
  const BarSeries got = m.bars(0, BarPeriod::OneMinute, 100);
  ASSERT_EQ(got.completed.size(), bars.size());
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const BarRecord& want = bars[i];
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

// What cannot replay is refused before anything changes: a file without
// rows of the instrument, one checked against another tick, and any replay
// once the market has been used.
TEST(VenueMarketReplay, AReplayTheMarketCannotTakeLeavesTheRandomWalkRunning) {
  const Catalogue c = ep_only();
  Market m(c, 1, at("2026-12-07T14:30:00Z"));
  EXPECT_THROW(m.replay(0, checked("ts_event,bid_price,ask_price\n"
                                   "2026-12-07T14:31:00Z,2650.0,2650.1\n",
                                   "GCE")),
               std::invalid_argument);
  auto other_tick = c.contract(0);
  other_tick.tick_size = 0.5;
  Market coarse(Catalogue({other_tick}), 1, at("2026-12-07T14:30:00Z"));
  EXPECT_THROW(coarse.replay(0, checked("ts_event,bid_price,ask_price\n"
                                        "2026-12-07T14:31:00Z,6050.25,6050.50\n",
                                        "EP")),
               std::invalid_argument);
  EXPECT_FALSE(m.replaying(0));
  EXPECT_EQ(m.next_event_time(), at("2026-12-07T14:30:00Z"));
  Market fresh(c, 1, at("2026-12-07T14:30:00Z"));
  EXPECT_EQ(testing::record_run(m, at("2026-12-07T14:31:00Z")),
            testing::record_run(fresh, at("2026-12-07T14:31:00Z")));
  // Once the market runs, a replay can no longer be set up.
  EXPECT_THROW(
      m.replay(0, checked("ts_event,bid_price,ask_price\n2026-12-07T14:35:00Z,1,2\n", "EP")),
      std::logic_error);
}

// Rows are read as the market's time reaches them, never before: a row
// spoilt after the check (the file changed) is met only then, and refused
// with its place, the rows before it played.
TEST(VenueMarketReplay, RowsAreReadOnlyAsTheMarketsTimeReachesThem) {
  const std::string head = "ts_event,bid_price,ask_price\n2026-12-07T14:29:00Z,6050.00,6050.25\n";
  const std::string good = head +
                           "2026-12-07T14:31:00Z,6050.25,6050.50\n"
                           "2026-12-07T14:40:00Z,6050.50,6050.75\n";
  const std::string spoilt = head +
                             "2026-12-07T14:31:00Z,6050.25,6050.50\n"
                             "2026-12-07T14:40:00Z,6050.50,6050.70\n";
  int opened = 0;
  const auto file = std::make_shared<const HistoryFile>(check_history(
      [&]() -> std::unique_ptr<std::istream> {
        return std::make_unique<std::istringstream>(opened++ == 0 ? good : spoilt);
      },
      "changing.csv", "EP"));
  EXPECT_EQ(opened, 1);
  Market m(ep_only(), 1, at("2026-12-07T14:30:00Z"));
  m.replay(0, file);
  EXPECT_EQ(opened, 1);  // opened on first use, not before
  EXPECT_EQ(run(m, at("2026-12-07T14:39:00Z"), 0).times.size(), 1u);
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(m.replayed_rows(), 1u);
  try {
    run(m, at("2026-12-07T14:41:00Z"), 0);
    FAIL() << "the spoilt row was replayed";
  } catch (const HistoryError& e) {
    EXPECT_EQ(e.line(), 4u);
    EXPECT_EQ(e.column(), "ask_price");
  }
}

// A file of several instruments in time order is read once for all of
// them; one listing them one after the other is read once for each; both
// replay as the instruments' own files do.
TEST(VenueMarketReplay, AFileOfSeveralInstrumentsReplaysAsTheirOwnFilesDo) {
  const Catalogue all = Catalogue::standard(at("2026-12-07T00:00:00Z"));
  const auto t0 = at("2026-12-07T14:29:30Z");
  std::string ep = "ts_event,bid_price,ask_price,last_price,last_size\n";
  std::string gce = ep;
  std::string interleaved = "symbol," + ep;
  std::string listed_ep;
  std::string listed_gce;
  for (int i = 0; i < 120; ++i) {
    const auto t = (t0 + i * 1500ms).time_since_epoch().count();
    const std::string e = fmt::format("{},{:.2f},{:.2f},{:.2f},1\n", t, 6050 + (i % 5) * 0.25,
                                      6050.25 + (i % 5) * 0.25, 6050 + (i % 5) * 0.25);
    const std::string g = fmt::format("{},{:.1f},{:.1f},,\n", t + (i % 3 == 0 ? 0 : 700000000),
                                      2650 + (i % 7) * 0.1, 2650.2 + (i % 7) * 0.1);
    ep += e;
    gce += g;
    // Rows of one time in either order, and either spelling of EP.
    interleaved += (i % 3 == 0 && i % 2 ? "GCE," + g + "EPZ26," + e : "EP," + e + "GCE," + g);
    listed_ep += "EP," + e;
    listed_gce += "F.US.GCEG27," + g;
  }
  const auto events =
      [&](std::vector<std::pair<std::string, std::shared_ptr<const HistoryFile>>> replays) {
        Market m(all, 3, at("2026-12-07T14:30:00Z"));
        for (const auto& [symbol, file] : replays) {
          m.replay(*all.resolve(symbol), file);
        }
        return testing::record_run(m, at("2026-12-07T14:34:00Z"),
                                   {*all.resolve("EP"), *all.resolve("GCE")});
      };
  const auto own = events({{"EP", checked(ep, "EP")}, {"GCE", checked(gce, "GCE")}});
  ASSERT_GT(own.size(), 150u);
  const auto one = checked(interleaved, "");
  EXPECT_TRUE(one->in_time_order);
  EXPECT_EQ(events({{"EP", one}, {"GCE", one}}), own);
  const auto listed =
      checked("symbol," + ep.substr(0, ep.find('\n') + 1) + listed_ep + listed_gce, "");
  EXPECT_FALSE(listed->in_time_order);
  EXPECT_EQ(events({{"EP", listed}, {"GCE", listed}}), own);
  // An instrument whose history was replaced keeps its own: the file's
  // rows of it are passed over.
  const auto replaced = events({{"EP", one}, {"GCE", checked(gce, "GCE")}});
  EXPECT_EQ(replaced, own);
}

// With the walks quiet, every event is a replayed row's, the same events the
// replay gives beside the walks; quieting a market in use is refused.
TEST(VenueMarketReplay, QuietWalksLeaveOnlyTheReplays) {
  const Catalogue all = Catalogue::standard(at("2026-12-07T00:00:00Z"));
  const auto file = checked(testing::three_instruments(20), "");
  const auto run = [&](bool quiet) {
    Market m(all, 5, at("2026-12-07T14:30:00Z"));
    for (const char* s : {"EP", "GCE"}) {
      m.replay(*all.resolve(s), file);
    }
    if (quiet) {
      m.quiet_walks();
    }
    std::vector<std::pair<InstrumentId, Timestamp>> replayed;
    std::size_t walked = 0;
    m.advance_to(at("2026-12-07T14:45:00Z"), [&](const MarketEvent& e) {
      if (e.source == MarketEvent::Source::Replay) {
        replayed.emplace_back(e.instrument, e.time);
      } else {
        ++walked;
      }
    });
    EXPECT_THROW(m.quiet_walks(), std::logic_error);
    return std::pair{replayed, walked};
  };
  const auto [beside, walked] = run(false);
  const auto [alone, none] = run(true);
  EXPECT_GT(walked, 1000u);
  EXPECT_EQ(none, 0u);
  ASSERT_GT(alone.size(), 100u);
  EXPECT_EQ(alone, beside);
}

// Most of what the market holds of a replay while it plays: the steps read
// and not played, and the line buffers; the largest seen at any event.
Market::Buffered most_held(int minutes) {
  const Catalogue all = Catalogue::standard(at("2026-12-07T00:00:00Z"));
  const auto file = checked(testing::three_instruments(minutes), "");
  Market m(all, 1, at("2026-12-07T14:30:00Z"));
  for (const char* s : {"EP", "GCE", "CLE"}) {
    m.replay(*all.resolve(s), file);
  }
  Market::Buffered most;
  std::size_t events = 0;
  m.advance_to(at("2026-12-07T14:25:00Z") + std::chrono::minutes(minutes + 1),
               [&](const MarketEvent&) {
                 const auto now = m.buffered();
                 most.steps = std::max(most.steps, now.steps);
                 most.line_bytes = std::max(most.line_bytes, now.line_bytes);
                 ++events;
               });
  EXPECT_GT(events, static_cast<std::size_t>(minutes) * 100);
  EXPECT_TRUE(m.quiet(0));
  return most;
}

// However long the history, the market holds the same: a file's block of
// lines, and the steps of the rows at one time.
TEST(VenueMarketReplay, TheMemoryAReplayHoldsDoesNotGrowWithItsRows) {
  const auto short_run = most_held(10);
  const auto long_run = most_held(80);
  EXPECT_EQ(long_run.steps, short_run.steps);
  EXPECT_LE(long_run.steps, 3u);
  EXPECT_EQ(long_run.line_bytes, short_run.line_bytes);
  EXPECT_LT(long_run.line_bytes, 40u * 1024);
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
