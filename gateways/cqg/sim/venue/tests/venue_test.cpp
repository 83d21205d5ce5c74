#include "venue/venue.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbrix::cqgsim::venue {
namespace {

using namespace std::chrono_literals;

// Notes what the venue tells it, and can act while being told.
struct Recorder final : VenueObserver {
  void on_trading(std::span<const TradingEvent> events) override {
    for (const auto& e : events) {
      if (std::holds_alternative<OrderChanged>(e)) {
        log.push_back("order " + std::string(to_string(std::get<OrderChanged>(e).status)));
      }
    }
  }
  void on_market(const MarketEvent& e) override {
    if (e.instrument == watched) {
      log.push_back("market");
      if (on_watched) {
        on_watched(e);
      }
    }
  }
  InstrumentId watched = 0;
  std::vector<std::string> log;
  std::function<void(const MarketEvent&)> on_watched;
};

const Timestamp kStart = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + 14h;

TEST(Venue, MatchesBeforeDeliveringAndAnOrderSentWhileHandlingWaitsForTheNextEvent) {
  VenueConfig config;
  config.seed = 3;
  MarketClock clock(kStart);
  Venue venue(config, clock);
  Recorder r;
  r.watched = *venue.catalogue().resolve("EP");
  venue.advance_to(kStart, r);  // the opening events
  r.log.clear();
  bool sent = false;
  r.on_watched = [&](const MarketEvent& e) {
    if (!sent) {
      sent = true;  // a market order sent while this event is delivered
      OrderRequest market;
      market.account = 100001;
      market.instrument = r.watched;
      market.quantity = 1;
      venue.broker().submit(market, e.time);
    }
  };
  venue.advance_to(kStart + 10s, r);
  // market (the order is sent), then the next market event fills it: the
  // fill is told before that event, never on the event that was handled.
  ASSERT_GE(r.log.size(), 3u);
  EXPECT_EQ(r.log[0], "market");
  EXPECT_EQ(r.log[1], "order filled");
  EXPECT_EQ(r.log[2], "market");
}

TEST(Venue, TimersAndMarketEventsComeInTimeOrderAndTimeNeverGoesBack) {
  VenueConfig config;
  config.seed = 3;
  MarketClock clock(kStart);
  Venue venue(config, clock);
  Recorder r;
  r.watched = *venue.catalogue().resolve("EP");
  std::vector<Timestamp> seen;
  r.on_watched = [&](const MarketEvent& e) { seen.push_back(e.time); };
  venue.clock().schedule_at(kStart + 2s, [&] { seen.push_back(venue.now()); });
  venue.advance_to(kStart + 5s, r);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_NE(std::find(seen.begin(), seen.end(), kStart + 2s), seen.end());
  EXPECT_EQ(venue.now(), kStart + 5s);
  EXPECT_THROW(venue.advance_to(kStart + 1s, r), std::invalid_argument);
  // A clock the venue could not run on from is refused.
  MarketClock too_late(kTimeLimit);
  EXPECT_THROW(Venue(config, too_late), std::invalid_argument);
  MarketClock too_early(kEarliestTime - 1ns);
  EXPECT_THROW(Venue(config, too_early), std::invalid_argument);
}

// Over a gap the venue jumps: what is scheduled (a recorded row, an
// injected batch, a timer) bounds the jump, and the random walks pause,
// going on after it exactly as they would have from where they stopped.
TEST(Venue, AJumpOverAGapPausesTheRandomWalksAndStopsShortOfWhatIsScheduled) {
  VenueConfig config;
  config.seed = 5;
  MarketClock clock(kStart);
  Venue venue(config, clock);
  MarketClock other_clock(kStart);
  Venue unpaused(config, other_clock);
  Recorder r, u;
  r.watched = u.watched = *venue.catalogue().resolve("GCE");
  std::vector<std::pair<Timestamp, Ticks>> jumped, went_on;
  r.on_watched = [&](const MarketEvent& e) { jumped.push_back({e.time, *e.book.bid}); };
  u.on_watched = [&](const MarketEvent& e) { went_on.push_back({e.time, *e.book.bid}); };
  venue.advance_to(kStart + 1min, r);
  unpaused.advance_to(kStart + 1min, u);
  EXPECT_FALSE(venue.next_scheduled());  // random walks only

  venue.clock().schedule_at(kStart + 3h, [] {});
  EXPECT_EQ(venue.next_scheduled(), kStart + 3h);
  EXPECT_THROW(venue.jump_to(kStart + 3h), std::logic_error);
  venue.market().inject(0, kStart + 2h, {{QuoteType::Bid, 24000, 1, true}});
  EXPECT_EQ(venue.next_scheduled(), kStart + 2h);
  EXPECT_THROW(venue.jump_to(kStart + 2h), std::logic_error);
  EXPECT_THROW(venue.jump_to(kStart), std::invalid_argument);
  const std::size_t before = jumped.size();
  venue.jump_to(kStart + 2h - 1s);
  EXPECT_EQ(venue.now(), kStart + 2h - 1s);
  EXPECT_EQ(jumped.size(), before);  // nothing produced

  // The walk goes on as the unpaused one did, two hours later.
  venue.advance_to(kStart + 2h + 1min, r);
  unpaused.advance_to(kStart + 3min, u);
  ASSERT_GT(jumped.size(), before + 50);
  for (std::size_t i = before; i < jumped.size(); ++i) {
    ASSERT_LT(i, went_on.size());
    EXPECT_EQ(jumped[i].first - went_on[i].first, 2h - 1s - 1min);
    EXPECT_EQ(jumped[i].second, went_on[i].second);
  }
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
