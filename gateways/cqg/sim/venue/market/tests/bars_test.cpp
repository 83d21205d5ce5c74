#include "venue/market/bars.hpp"

#include <gtest/gtest.h>

#include <map>

#include "test_support.hpp"
#include "venue/market/market.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using namespace std::chrono_literals;
using testing::at;

const Timestamp kBarsStart = at("2026-12-08T14:30:20Z");

// Bars rebuilt in the test from the trade ticks, the simple way.
std::map<Timestamp, Bar> bars_from_trades(const std::vector<Tick>& trades, BarPeriod period) {
  std::map<Timestamp, Bar> out;
  for (const Tick& t : trades) {
    const Timestamp start = period_start(period, t.time);
    auto [it, fresh] = out.try_emplace(start);
    Bar& b = it->second;
    if (fresh) {
      b = Bar{start, t.price, t.price, t.price, t.price, 0, 0, 0, 0};
    }
    b.high = std::max(b.high, t.price);
    b.low = std::min(b.low, t.price);
    b.close = t.price;
    b.volume += t.volume;
    b.tick_volume += 1;
    b.contract_volume = b.commodity_volume = b.volume;
  }
  return out;
}

void expect_sane(const Bar& b) {
  EXPECT_LE(b.low, std::min(b.open, b.close));
  EXPECT_GE(b.high, std::max(b.open, b.close));
  EXPECT_GT(b.low, 0);
  EXPECT_GE(b.volume, b.tick_volume);
  EXPECT_GE(b.tick_volume, 1);
  EXPECT_EQ(b.contract_volume, b.volume);
  EXPECT_EQ(b.commodity_volume, b.volume);
}

TEST(VenueMarketBars, PeriodStartsAreMinutesAndUtcDays) {
  EXPECT_EQ(period_start(BarPeriod::OneMinute, at("2026-12-08T14:30:59.999Z")),
            at("2026-12-08T14:30:00Z"));
  EXPECT_EQ(period_start(BarPeriod::Daily, at("2026-12-08T23:59:59Z")), at("2026-12-08T00:00:00Z"));
  EXPECT_EQ(period_start(BarPeriod::OneMinute, at("1969-12-31T23:59:30Z")),
            at("1969-12-31T23:59:00Z"));
}

TEST(VenueMarketBars, LiveBarsAndTheirEventsAgreeWithTheTradesThatMadeThem) {
  const Catalogue all = Catalogue::standard(kBarsStart);
  Market m(all, 17, kBarsStart);
  const InstrumentId ep = *all.resolve("EP");
  std::vector<Tick> trades;
  std::map<Timestamp, Bar> finished_by_event;
  std::map<Timestamp, Bar> forming_by_event;
  m.advance_to(kBarsStart + 10min + 5s, [&](const MarketEvent& e) {
    if (e.instrument != ep) {
      return;
    }
    std::size_t trade_count = 0;
    for (const Tick& t : e.ticks) {
      if (t.type == TickType::Trade) {
        trades.push_back(t);
        ++trade_count;
      }
    }
    ASSERT_EQ(e.bars.size(), 2 * trade_count);
    for (const BarUpdate& u : e.bars) {
      if (u.period != BarPeriod::OneMinute) {
        continue;
      }
      // The bar an event shows equals the bar rebuilt from the trades so far.
      const auto rebuilt = bars_from_trades(trades, BarPeriod::OneMinute);
      ASSERT_EQ(u.bar, rebuilt.rbegin()->second);
      ASSERT_EQ(u.bar.start, period_start(BarPeriod::OneMinute, e.time));
      if (u.kind == BarUpdate::Kind::Added && u.finished) {
        // Released only once its minute is over.
        ASSERT_GE(e.time, u.finished->start + 1min);
        finished_by_event[u.finished->start] = *u.finished;
      }
      forming_by_event[u.bar.start] = u.bar;
    }
  });
  const auto rebuilt = bars_from_trades(trades, BarPeriod::OneMinute);
  ASSERT_EQ(rebuilt.size(), 11u);  // 14:30 (from 14:30:20) to 14:40
  const BarSeries s = m.bars(ep, BarPeriod::OneMinute, 10);
  ASSERT_EQ(s.completed.size(), 10u);
  ASSERT_TRUE(s.forming);
  EXPECT_EQ(*s.forming, rebuilt.rbegin()->second);
  auto it = rebuilt.begin();
  for (const Bar& b : s.completed) {
    EXPECT_EQ(b, it->second);
    EXPECT_EQ(finished_by_event.at(b.start), b);
    expect_sane(b);
    ++it;
  }
  // The day bar holds the whole day's trading, as the day quotes do.
  const BarSeries day = m.bars(ep, BarPeriod::Daily, 0);
  ASSERT_TRUE(day.forming);
  const InstrumentState& st = m.state(ep);
  EXPECT_EQ(day.forming->open, st.price(QuoteType::DayOpen));
  EXPECT_EQ(day.forming->high, st.price(QuoteType::DayHigh));
  EXPECT_EQ(day.forming->low, st.price(QuoteType::DayLow));
  EXPECT_EQ(day.forming->close, st.book.trade->price);
  EXPECT_EQ(day.forming->volume, st.day_volume);
  EXPECT_EQ(day.forming->tick_volume, static_cast<std::int64_t>(trades.size()));
}

TEST(VenueMarketBars, ABarIsCompletedAtItsCloseTimeAndNotBefore) {
  const Catalogue all = Catalogue::standard(kBarsStart);
  Market m(all, 17, kBarsStart);
  m.advance_to(at("2026-12-08T14:30:59.999999999Z"), [](const MarketEvent&) {});
  const auto before = m.bars(0, BarPeriod::OneMinute, 3);
  ASSERT_TRUE(before.forming);
  EXPECT_EQ(before.forming->start, at("2026-12-08T14:30:00Z"));
  m.advance_to(at("2026-12-08T14:31:00Z"), [](const MarketEvent&) {});
  const auto after = m.bars(0, BarPeriod::OneMinute, 3);
  ASSERT_EQ(after.completed.size(), 3u);
  EXPECT_EQ(after.completed.back(), *before.forming);
  EXPECT_FALSE(after.forming && after.forming->start == before.forming->start);
}

TEST(VenueMarketBars, SynthesisedHistoryIsDeterministicAndJoinsTheLiveSeries) {
  const Catalogue all = Catalogue::standard(kBarsStart);
  for (const BarPeriod period : {BarPeriod::OneMinute, BarPeriod::Daily}) {
    SCOPED_TRACE(std::string(to_string(period)));
    Market a(all, 21, kBarsStart);
    Market b(all, 21, kBarsStart);
    Market other(all, 22, kBarsStart);
    a.advance_to(kBarsStart, [](const MarketEvent&) {});
    const InstrumentId gc = *all.resolve("GCE");
    const BarSeries few = a.bars(gc, period, 5);
    const BarSeries many = a.bars(gc, period, 300);
    ASSERT_EQ(few.completed.size(), 5u);
    ASSERT_EQ(many.completed.size(), 300u);
    // The newest bars do not depend on how many were asked for.
    EXPECT_TRUE(std::equal(few.completed.begin(), few.completed.end(), many.completed.end() - 5));
    EXPECT_EQ(b.bars(gc, period, 300).completed, many.completed);
    EXPECT_NE(other.bars(gc, period, 300).completed, many.completed);
    // Contiguous periods, the newest ending where the live series starts,
    // each bar opening at the last one's close, and the last close at the
    // first live open.
    const Duration len = length_of(period);
    for (std::size_t i = 0; i < many.completed.size(); ++i) {
      const Bar& bar = many.completed[i];
      expect_sane(bar);
      if (i + 1 < many.completed.size()) {
        EXPECT_EQ(many.completed[i + 1].start, bar.start + len);
        EXPECT_EQ(many.completed[i + 1].open, bar.close);
      }
    }
    ASSERT_TRUE(many.forming);
    EXPECT_EQ(many.forming->start, period_start(period, kBarsStart));
    EXPECT_EQ(many.completed.back().start + len, many.forming->start);
    EXPECT_EQ(many.completed.back().close, many.forming->open);
    EXPECT_EQ(many.forming->open, all.contract(gc).initial_price);
  }
}

TEST(VenueMarketBars, LiveBarsTakeOverFromSynthesisedOnesAsTimePasses) {
  const Catalogue all = Catalogue::standard(kBarsStart);
  Market m(all, 21, kBarsStart);
  m.advance_to(kBarsStart, [](const MarketEvent&) {});
  const auto at_start = m.bars(3, BarPeriod::OneMinute, 20).completed;
  m.advance_to(kBarsStart + 5min, [](const MarketEvent&) {});
  const auto later = m.bars(3, BarPeriod::OneMinute, 20).completed;
  ASSERT_EQ(later.size(), 20u);
  // The synthesised bars are still there, shifted by the five live ones.
  EXPECT_TRUE(std::equal(at_start.begin() + 5, at_start.end(), later.begin()));
  EXPECT_EQ(later[15].start, period_start(BarPeriod::OneMinute, kBarsStart));
  EXPECT_EQ(m.bars(3, BarPeriod::OneMinute, kMaxBarsPerRequest + 5).completed.size(),
            kMaxBarsPerRequest);
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
