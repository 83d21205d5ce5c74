#include "venue/market/market.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <stdexcept>

#include "test_support.hpp"
#include "venue/price.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using namespace std::chrono_literals;
using testing::at;
using testing::describe;
using testing::record_run;

const Timestamp kStart = at("2026-12-08T14:30:00Z");

Catalogue standard() {
  return Catalogue::standard(kStart);
}

TEST(VenueMarket, TheSameSeedReplaysTheSameEventsAndAnotherSeedDoesNot) {
  Market a(standard(), 42, kStart);
  Market b(standard(), 42, kStart);
  Market c(standard(), 43, kStart);
  const auto run_a = record_run(a, kStart + 2min);
  EXPECT_GT(run_a.size(), 12u * 200);
  EXPECT_EQ(run_a, record_run(b, kStart + 2min));
  const auto run_c = record_run(c, kStart + 2min);
  // The opening events agree (they print the initial prices); what follows does not.
  EXPECT_NE(std::vector(run_a.begin() + 12, run_a.begin() + 200),
            std::vector(run_c.begin() + 12, run_c.begin() + 200));
}

TEST(VenueMarket, AnInstrumentsStreamDoesNotDependOnTheOthers) {
  const Catalogue all = standard();
  const InstrumentId cle = *all.resolve("CLE");
  const Catalogue alone({all.contract(cle)});
  Market full(all, 7, kStart);
  Market single(alone, 7, kStart);
  // Asking about other instruments on the way must not disturb anything.
  std::vector<std::string> from_full;
  full.advance_to(kStart + 90s, [&](const MarketEvent& e) {
    if (e.instrument == cle) {
      from_full.push_back(describe(e).substr(describe(e).find(' ')));
    } else if (e.instrument == 0) {
      full.bars(1, BarPeriod::OneMinute, 50);
      full.state(2);
    }
  });
  std::vector<std::string> from_single;
  // Stepping in small pieces gives the same as one big step.
  for (Timestamp t = kStart; t <= kStart + 90s; t += 7ms) {
    single.advance_to(t, [&](const MarketEvent& e) {
      from_single.push_back(describe(e).substr(describe(e).find(' ')));
    });
  }
  single.advance_to(kStart + 90s, [&](const MarketEvent& e) {
    from_single.push_back(describe(e).substr(describe(e).find(' ')));
  });
  EXPECT_GT(from_full.size(), 100u);
  EXPECT_EQ(from_full, from_single);
}

TEST(VenueMarket, PinsTheFirstEventsSoEveryPlatformGivesTheSamePrices) {
  // These values were produced by this implementation; a platform or
  // compiler that produces others breaks reproducibility across machines.
  const Catalogue all = standard();
  Market m(all, 2026, kStart);
  std::vector<std::string> ep;
  m.advance_to(kStart + 2s, [&](const MarketEvent& e) {
    if (e.instrument == *all.resolve("EP") && ep.size() < 4) {
      ep.push_back(describe(e));
    }
  });
  ASSERT_EQ(ep.size(), 4u);
  EXPECT_EQ(
      ep, (std::vector<std::string>{
              "0 1796740200000000000 | YesterdaySettlement=24200x0 Bid=24200x33 Ask=24201x8 "
              "Trade=24200x2 DayOpen=24200x0 DayHigh=24200x0 DayLow=24200x0 | Bid=24200x33 "
              "Ask=24201x8 Trade=24200x2 | +OneMinute 24200/24200/24200/24200 v2 "
              "+Daily 24200/24200/24200/24200 v2",
              "0 1796740200105286000 | Bid=24200x48 | Bid=24200x48 |",
              "0 1796740200253950000 | Bid=24199x30 Ask=24201x6 Trade=24201x8 DayHigh=24201x0 | "
              "Bid=24199x30 Ask=24201x6 Trade=24201x8 | ~OneMinute 24200/24201/24200/24201 v10 "
              "~Daily 24200/24201/24200/24201 v10",
              "0 1796740200534929000 | Bid=24199x11 Ask=24200x51 | Bid=24199x11 Ask=24200x51 |"}));
}

TEST(VenueMarket, EveryInstrumentOpensAtStartWithItsFullPicture) {
  const Catalogue all = standard();
  Market m(all, 1, kStart);
  std::vector<InstrumentId> opened;
  m.advance_to(kStart, [&](const MarketEvent& e) {
    opened.push_back(e.instrument);
    const InstrumentSpec& contract = all.contract(e.instrument);
    EXPECT_EQ(e.time, kStart);
    ASSERT_TRUE(e.book.trade);
    EXPECT_EQ(e.book.trade->price, contract.initial_price);
    std::set<QuoteType> types;
    for (const QuoteChange& q : e.quotes) {
      types.insert(q.type);
    }
    for (QuoteType t : {QuoteType::Bid, QuoteType::Ask, QuoteType::Trade, QuoteType::DayOpen,
                        QuoteType::DayHigh, QuoteType::DayLow, QuoteType::YesterdaySettlement}) {
      EXPECT_TRUE(types.count(t)) << contract.symbol << " " << to_string(t);
    }
  });
  EXPECT_EQ(opened, (std::vector<InstrumentId>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  const InstrumentState& s = m.state(0);
  EXPECT_EQ(s.price(QuoteType::YesterdaySettlement), all.contract(0).initial_price);
  EXPECT_EQ(s.price(QuoteType::DayOpen), all.contract(0).initial_price);
  EXPECT_FALSE(s.price(QuoteType::ImpliedBid));
}

TEST(VenueMarket, ALongRunKeepsTheBookSaneAndShowsEveryQuoteType) {
  const Catalogue all = standard();
  Market m(all, 99, kStart);
  std::set<QuoteType> seen;
  std::set<QuoteType> withdrawn;
  Timestamp last_time = kStart;
  InstrumentId last_id = 0;
  std::size_t events = 0;
  m.advance_to(kStart + 40min, [&](const MarketEvent& e) {
    ++events;
    ASSERT_TRUE(e.time > last_time || (e.time == last_time && e.instrument >= last_id));
    last_time = e.time;
    last_id = e.instrument;
    ASSERT_TRUE(e.book.bid && e.book.ask);
    ASSERT_LT(*e.book.bid, *e.book.ask) << describe(e);
    ASSERT_GT(*e.book.bid, 0);
    ASSERT_LE(*e.book.ask - *e.book.bid, all.contract(e.instrument).spread_ticks + 2);
    ASSERT_GT(e.book.bid_size, 0);
    ASSERT_GT(e.book.ask_size, 0);
    ASSERT_FALSE(e.quotes.empty());
    std::size_t tick_makers = 0;
    for (const QuoteChange& q : e.quotes) {
      seen.insert(q.type);
      if (!q.valid) {
        withdrawn.insert(q.type);
      }
      tick_makers += tick_type_of(q) ? 1 : 0;
    }
    ASSERT_EQ(e.ticks.size(), tick_makers);
    for (const Tick& t : e.ticks) {
      ASSERT_EQ(t.time, e.time);
    }
    const InstrumentState& s = m.state(e.instrument);
    ASSERT_EQ(s.book.bid, e.book.bid);
    ASSERT_EQ(s.book.ask_size, e.book.ask_size);
    if (e.book.trade) {
      // A trade prints at the touch, inside the day's range.
      ASSERT_TRUE(e.book.trade->price == *e.book.bid || e.book.trade->price == *e.book.ask);
      ASSERT_GT(e.book.trade->size, 0);
      ASSERT_LE(*s.price(QuoteType::DayLow), e.book.trade->price);
      ASSERT_GE(*s.price(QuoteType::DayHigh), e.book.trade->price);
    }
  });
  EXPECT_GT(events, 12u * 6000);
  EXPECT_EQ(seen.size(), kQuoteTypeCount);
  EXPECT_FALSE(withdrawn.empty());
}

TEST(VenueMarket, ANewUtcDaySendsYesterdaysSettlementAndResetsTheDay) {
  const Timestamp before_midnight = at("2026-12-08T23:59:00Z");
  const Catalogue all = standard();
  Market m(all, 5, before_midnight);
  const InstrumentId ep = *all.resolve("EP");
  std::optional<Ticks> last_trade_of_day;
  bool rolled = false;
  m.advance_to(at("2026-12-09T00:01:00Z"), [&](const MarketEvent& e) {
    if (e.instrument != ep) {
      return;
    }
    if (e.time < at("2026-12-09T00:00:00Z")) {
      if (e.book.trade) {
        last_trade_of_day = e.book.trade->price;
      }
      return;
    }
    if (rolled) {
      return;
    }
    rolled = true;
    ASSERT_TRUE(last_trade_of_day);
    ASSERT_FALSE(e.quotes.empty());
    EXPECT_EQ(e.quotes[0],
              (QuoteChange{QuoteType::YesterdaySettlement, *last_trade_of_day, 0, true}));
    const InstrumentState& s = m.state(ep);
    if (e.book.trade) {
      EXPECT_EQ(s.price(QuoteType::DayOpen), e.book.trade->price);
      EXPECT_EQ(s.day_volume, e.book.trade->size);
    } else {
      EXPECT_FALSE(s.price(QuoteType::DayOpen));
      EXPECT_EQ(s.day_volume, 0);
    }
  });
  EXPECT_TRUE(rolled);
}

TEST(VenueMarket, InjectedBatchesComeOutExactlyAtTheirTimeAfterGeneratedEvents) {
  const Catalogue all = standard();
  Market m(all, 3, kStart);
  m.advance_to(kStart + 1s, [](const MarketEvent&) {});
  const InstrumentId nq = *all.resolve("ENQ");
  const Timestamp t = kStart + 1500ms;
  m.inject(nq, t, {{QuoteType::Bid, 86000, 5, true}, {QuoteType::Ask, 86002, 6, true}});
  m.inject(nq, t, {{QuoteType::Trade, 86002, 3, true}, {QuoteType::ImpliedBid, 0, 0, false}});
  std::vector<std::vector<QuoteChange>> quotes;
  std::vector<std::vector<Tick>> ticks;
  std::vector<std::size_t> bar_updates;
  m.advance_to(kStart + 2s, [&](const MarketEvent& e) {
    if (e.source == MarketEvent::Source::Injected) {
      EXPECT_EQ(e.time, t);
      EXPECT_EQ(e.instrument, nq);
      quotes.emplace_back(e.quotes.begin(), e.quotes.end());
      ticks.emplace_back(e.ticks.begin(), e.ticks.end());
      bar_updates.push_back(e.bars.size());
    } else if (e.instrument == nq && e.time == t) {
      EXPECT_TRUE(quotes.empty()) << "an injected batch came before a generated event";
    }
  });
  ASSERT_EQ(quotes.size(), 2u);
  EXPECT_EQ(quotes[0], (std::vector<QuoteChange>{{QuoteType::Bid, 86000, 5, true},
                                                 {QuoteType::Ask, 86002, 6, true}}));
  EXPECT_EQ(ticks[0],
            (std::vector<Tick>{{TickType::Bid, 86000, 5, t}, {TickType::Ask, 86002, 6, t}}));
  EXPECT_EQ(bar_updates[0], 0u);
  EXPECT_EQ(quotes[1], (std::vector<QuoteChange>{{QuoteType::Trade, 86002, 3, true},
                                                 {QuoteType::ImpliedBid, 0, 0, false}}));
  EXPECT_EQ(ticks[1], (std::vector<Tick>{{TickType::Trade, 86002, 3, t}}));
  EXPECT_EQ(bar_updates[1], 2u);  // its minute bar and its day bar
}

TEST(VenueMarket, AnInjectedSideThatCrossesPushesTheOtherAway) {
  const Catalogue all = standard();
  Market m(all, 3, kStart);
  m.advance_to(kStart, [](const MarketEvent&) {});
  const Ticks ask = *m.state(0).book.ask;
  m.inject(0, kStart, {{QuoteType::Bid, ask + 4, 9, true}});
  const MarketEvent* e = m.next_event(kStart);
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(e->quotes.size(), 2u);
  EXPECT_EQ(e->quotes[1].type, QuoteType::Ask);
  EXPECT_EQ(e->quotes[1].price, ask + 5);
  EXPECT_LT(*e->book.bid, *e->book.ask);
}

TEST(VenueMarket, RefusesBadInjectionsAndGoingBack) {
  const Catalogue all = standard();
  Market m(all, 3, kStart);
  m.advance_to(kStart + 1s, [](const MarketEvent&) {});
  EXPECT_THROW(m.inject(0, kStart, {{QuoteType::Bid, 1, 1, true}}), std::invalid_argument);
  EXPECT_THROW(m.inject(0, kStart + 2s, {}), std::invalid_argument);
  EXPECT_THROW(m.inject(0, kStart + 2s, {{QuoteType::Trade, 10, -1, true}}), std::invalid_argument);
  EXPECT_THROW(
      m.inject(0, kStart + 2s, {{QuoteType::Bid, 10, 1, true}, {QuoteType::Ask, 10, 1, true}}),
      std::invalid_argument);
  EXPECT_THROW(m.inject(99, kStart + 2s, {{QuoteType::Bid, 10, 1, true}}), std::out_of_range);
  EXPECT_THROW(m.state(99), std::out_of_range);
  EXPECT_THROW(m.next_event(kStart), std::invalid_argument);
  EXPECT_THROW(m.advance_to(kStart, [](const MarketEvent&) {}), std::invalid_argument);
  EXPECT_EQ(m.now(), kStart + 1s);
  EXPECT_THROW(Market(all, 1, kStart, MarketConfig{.mean_interval = Duration::zero()}),
               std::invalid_argument);
  // A price beyond the venue's bound would overflow the figures built on it.
  EXPECT_THROW(m.inject(0, kStart + 2s, {{QuoteType::Trade, kMaxPriceTicks + 1, 1, true}}),
               std::invalid_argument);
}

TEST(VenueMarket, EveryConfigurationOptionIsBoundedAndNamed) {
  const Catalogue all = standard();
  const auto refused = [&](MarketConfig config, const char* name) {
    try {
      Market m(all, 1, kStart, config);
      ADD_FAILURE() << name << " accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  refused({.mean_interval = std::chrono::hours(24 * 365)}, "mean interval");
  refused({.trade_probability = 1.5}, "trade_probability");
  refused({.size_change_probability = nan}, "size_change_probability");
  refused({.rare_quote_probability = -0.1}, "rare_quote_probability");
  refused({.invalid_quote_probability = 2}, "invalid_quote_probability");
  refused({.mean_book_size = 1e300}, "mean_book_size");
  refused({.mean_trade_size = 0}, "mean_trade_size");
}

TEST(VenueMarket, PricesMoveWithTheInstrumentsVolatility) {
  const Catalogue all = standard();
  for (const char* symbol : {"EP", "NGE"}) {
    const InstrumentSpec& contract = all.contract(*all.resolve(symbol));
    Market m(Catalogue({contract}), 4, kStart);
    m.advance_to(kStart + 6h, [](const MarketEvent&) {});
    const auto bars = m.bars(0, BarPeriod::OneMinute, 6 * 60 - 1).completed;
    ASSERT_EQ(bars.size(), 6u * 60 - 1);
    double sum2 = 0;
    for (std::size_t i = 1; i < bars.size(); ++i) {
      const double r = std::log(double(bars[i].close) / double(bars[i - 1].close));
      sum2 += r * r;
    }
    const double annual = std::sqrt(sum2 / double(bars.size() - 1) * 365.25 * 24 * 60);
    EXPECT_GT(annual, 0.7 * contract.annual_volatility) << symbol;
    EXPECT_LT(annual, 1.4 * contract.annual_volatility) << symbol;
  }
}

TEST(VenueMarket, TheMeanIntervalIsConfigurable) {
  const Catalogue all = standard();
  Market fast(all, 11, kStart, MarketConfig{.mean_interval = 50ms});
  Market slow(all, 11, kStart, MarketConfig{.mean_interval = 2s});
  const double fast_n = double(record_run(fast, kStart + 10min, {0}).size());
  const double slow_n = double(record_run(slow, kStart + 10min, {0}).size());
  EXPECT_NEAR(fast_n, 600.0 / 0.05, 600.0 / 0.05 * 0.05);
  EXPECT_NEAR(slow_n, 600.0 / 2, 600.0 / 2 * 0.2);
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
