// The order in which the market hands out events across instruments, pinned
// on a seeded run of every listed instrument: random walks, replays from a
// file of two instruments (rows of one time in either order, two rows of one
// instrument at one time) and a bars file, and injected batches at the time
// of a generated event of their instrument.

#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.hpp"
#include "venue/market/market.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using namespace std::chrono_literals;
using testing::at;
using testing::checked;

const Timestamp kOrdersStart = at("2026-12-07T14:30:00Z");

// EP every 700 ms, ENQ at every second EP time (written first), now and
// then two EP rows at one time; two minutes of them before the start.
std::string quotes(bool ep, bool enq) {
  const bool both = ep && enq;
  std::string s = both ? "symbol," : "";
  s += "ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n";
  const auto t0 = at("2026-12-07T14:28:00Z");
  for (int i = 0; i < 600; ++i) {
    const auto t = (t0 + i * 700ms).time_since_epoch().count();
    if (enq && i % 2 == 0) {
      const int bid = 84000 + (i * 13 % 17);
      s += fmt::format("{}{},{:.2f},{:.2f},{},{},", both ? "ENQ," : "", t, bid * 0.25,
                       (bid + 1) * 0.25, i % 9 + 1, i % 5 + 1);
      s += i % 4 == 0 ? fmt::format("{:.2f},2\n", (bid + 1) * 0.25) : ",\n";
    }
    if (ep) {
      const int bid = 24200 + (i * 7 % 11);
      const int rows = i % 50 == 0 ? 2 : 1;
      for (int r = 0; r < rows; ++r) {
        s += fmt::format("{}{},{:.2f},{:.2f},{},{},", both ? "EP," : "", t, bid * 0.25,
                         (bid + 1 + i % 2) * 0.25, i % 7 + 1 + r, i % 3 + 1);
        s += i % 3 == 0 ? fmt::format("{:.2f},{}\n", bid * 0.25, i % 4 + 1) : ",\n";
      }
    }
  }
  return s;
}

// GCE one-minute bars from 14:25 to 14:39.
std::string gce_bars() {
  std::string s = "ts_event,open,high,low,close,volume\n";
  const auto t0 = at("2026-12-07T14:25:00Z");
  for (int i = 0; i < 15; ++i) {
    const int o = 26500 + i;
    s += fmt::format("{},{:.1f},{:.1f},{:.1f},{:.1f},{}\n",
                     (t0 + i * 1min).time_since_epoch().count(), o * 0.1, (o + 3) * 0.1,
                     (o - 2) * 0.1, (o + 1) * 0.1, 10 + i);
  }
  return s;
}

// The run's replays and injections, on a market of `catalogue`; `together`
// replays EP and ENQ from one file.
void set_up(Market& m, const Catalogue& catalogue, bool together) {
  const auto id = [&](const char* s) { return catalogue.resolve(s); };
  if (together && id("EP") && id("ENQ")) {
    const auto both = checked(quotes(true, true), "");
    m.replay(*id("EP"), both);
    m.replay(*id("ENQ"), both);
  } else {
    if (id("EP")) {
      m.replay(*id("EP"), checked(quotes(true, false), "EP"));
    }
    if (id("ENQ")) {
      m.replay(*id("ENQ"), checked(quotes(false, true), "ENQ"));
    }
  }
  if (id("GCE")) {
    m.replay(*id("GCE"), checked(gce_bars(), "GCE"));
  }
  // Each at the time of an event of its instrument: a random walk's first
  // (every instrument starts at the start), a replayed row's (twice).
  const auto t200 = at("2026-12-07T14:28:00Z") + 200 * 700ms;
  if (id("CLE")) {
    m.inject(*id("CLE"), kOrdersStart,
             {{QuoteType::Bid, 7000, 5, true}, {QuoteType::Ask, 7002, 5, true}});
  }
  if (id("EP")) {
    m.inject(*id("EP"), t200, {{QuoteType::Bid, 24190, 5, true}});
    m.inject(*id("EP"), t200, {{QuoteType::Ask, 24195, 6, true}});
  }
  if (id("ENQ")) {
    m.inject(*id("ENQ"), kOrdersStart + 61s + 3ms, {{QuoteType::Trade, 84010, 1, true}});
  }
}

std::uint64_t fnv(const std::vector<std::string>& lines) {
  std::uint64_t h = 14695981039346656037ull;
  for (const auto& line : lines) {
    for (const char c : line + "\n") {
      h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
  }
  return h;
}

// The same run as the market gave it when it found the next event by
// scanning every instrument: its 11,538 events, hashed.
TEST(VenueMarketOrder, TheMergeHandsOutEventsInTheOrderTheScanDid) {
  const Catalogue all = Catalogue::standard(at("2026-12-07T00:00:00Z"));
  Market m(all, 28, kOrdersStart);
  set_up(m, all, true);
  const auto lines = testing::record_run(m, at("2026-12-07T14:36:00Z"));
  EXPECT_EQ(lines.size(), 11538u);
  EXPECT_EQ(fnv(lines), 9751099476720254248ull);
}

// The documented order, built independently: each instrument run alone on
// a market of its own (its events do not depend on the others), the runs
// merged by a stable sort on (time, instrument id).
TEST(VenueMarketOrder, EventsComeInTimeOrderThenByInstrumentInjectedAfterGenerated) {
  const Catalogue all = Catalogue::standard(at("2026-12-07T00:00:00Z"));
  Market m(all, 28, kOrdersStart);
  set_up(m, all, true);
  std::vector<std::string> merged;
  m.advance_to(at("2026-12-07T14:36:00Z"),
               [&](const MarketEvent& e) { merged.push_back(testing::describe(e)); });

  struct Alone {
    Timestamp time;
    InstrumentId id;
    std::string line;
  };
  std::vector<Alone> alone;
  for (InstrumentId id = 0; id < all.size(); ++id) {
    const Catalogue one({all.contract(id)});
    Market single(one, 28, kOrdersStart);
    set_up(single, one, false);
    single.advance_to(at("2026-12-07T14:36:00Z"), [&](const MarketEvent& e) {
      std::string line = testing::describe(e);
      line.replace(0, line.find(' '), std::to_string(id));  // its id in the whole catalogue
      alone.push_back({e.time, id, std::move(line)});
    });
  }
  std::stable_sort(alone.begin(), alone.end(), [](const Alone& a, const Alone& b) {
    return a.time != b.time ? a.time < b.time : a.id < b.id;
  });
  ASSERT_EQ(merged.size(), alone.size());
  for (std::size_t i = 0; i < merged.size(); ++i) {
    ASSERT_EQ(merged[i], alone[i].line) << "event " << i;
  }
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
