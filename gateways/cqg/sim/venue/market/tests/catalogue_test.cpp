#include "venue/market/catalogue.hpp"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

#include "test_support.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using testing::at;

std::string front(const char* symbol, const char* day) {
  const Catalogue c = Catalogue::standard(at(std::string(day) + "T12:00:00Z"));
  return c.contract(*c.resolve(symbol)).full_name;
}

TEST(VenueMarketCatalogue, ListsTheStandardFuturesWithTheirFrontContracts) {
  const Catalogue c = Catalogue::standard(at("2026-12-08T14:30:00Z"));
  ASSERT_EQ(c.size(), 12u);
  std::set<std::string> names;
  for (InstrumentId id = 0; id < c.size(); ++id) {
    const InstrumentSpec& s = c.contract(id);
    names.insert(s.full_name);
    EXPECT_EQ(s.full_name.rfind("F.US." + s.symbol, 0), 0u) << s.full_name;
    EXPECT_EQ(s.full_name.size(), 5 + s.symbol.size() + 3) << s.full_name;
    EXPECT_GT(s.initial_price, 10 * s.spread_ticks) << s.symbol;
    EXPECT_GT(s.tick_value, 0) << s.symbol;
    EXPECT_GT(s.maintenance_margin, 0) << s.symbol;
    EXPECT_FALSE(s.description.empty());
  }
  EXPECT_EQ(names,
            (std::set<std::string>{"F.US.EPZ26", "F.US.ENQZ26", "F.US.DDZ26", "F.US.TYAH27",
                                   "F.US.USAH27", "F.US.EU6Z26", "F.US.JY6Z26", "F.US.BP6Z26",
                                   "F.US.GCEG27", "F.US.SIEH27", "F.US.CLEF27", "F.US.NGEF27"}));
  // An E-mini S&P tick: 0.25 points of a $50 multiplier.
  const InstrumentSpec& ep = c.contract(*c.resolve("EP"));
  EXPECT_EQ(ep.tick_size, 0.25);
  EXPECT_EQ(ep.tick_value, 12.5);
  EXPECT_EQ(c.contracts().size(), c.size());
}

TEST(VenueMarketCatalogue, ResolvesShortDatedAndFullNamesIgnoringCase) {
  const Catalogue c = Catalogue::standard(at("2026-12-08T14:30:00Z"));
  const auto ep = c.resolve("EP");
  ASSERT_TRUE(ep);
  for (const char* name : {"ep", "Ep", "EPZ26", "epz26", "F.US.EPZ26", "f.us.epz26"}) {
    EXPECT_EQ(c.resolve(name), ep) << name;
  }
  EXPECT_EQ(c.resolve("ENQ"), c.resolve("F.US.ENQZ26"));
  EXPECT_NE(c.resolve("ENQ"), ep);
  for (const char* name : {"", "XX", "E", "EPH27", "EPZ25", "F.US.EP", "F.US.EPZ26 ", "ESZ26"}) {
    EXPECT_FALSE(c.resolve(name)) << name;
  }
}

TEST(VenueMarketCatalogue, AStandardContractIsFoundByAnyMonthsName) {
  for (const char* name : {"EP", "ep", "EPH27", "F.US.EPH27", "f.us.epz99", "EPZ26"}) {
    const auto contract = Catalogue::standard_contract(name);
    ASSERT_TRUE(contract) << name;
    EXPECT_EQ(contract->symbol, "EP") << name;
    EXPECT_EQ(contract->tick_size, 0.25) << name;
  }
  EXPECT_EQ(Catalogue::standard_contract("ENQM27")->symbol, "ENQ");
  EXPECT_EQ(Catalogue::standard_contract("JY6")->tick_size, 0.0000005);
  for (const char* name : {"", "E", "EPA27", "EPH2", "EPH277", "F.US.", "NOSUCH", "F.EU.EPH27"}) {
    EXPECT_FALSE(Catalogue::standard_contract(name)) << name;
  }
}

TEST(VenueMarketCatalogue, RollsEachFutureTheDayAfterItsLastDay) {
  // Equity index: the third Friday of the contract month (18 Dec 2026).
  EXPECT_EQ(front("EP", "2026-12-18"), "F.US.EPZ26");
  EXPECT_EQ(front("EP", "2026-12-19"), "F.US.EPH27");
  EXPECT_EQ(front("DD", "2027-03-20"), "F.US.DDM27");
  // FX: the Monday before the third Wednesday (16 Dec 2026 -> 14 Dec).
  EXPECT_EQ(front("EU6", "2026-12-14"), "F.US.EU6Z26");
  EXPECT_EQ(front("EU6", "2026-12-15"), "F.US.EU6H27");
  // Rates: the last business day before the delivery month (Mon 30 Nov 2026).
  EXPECT_EQ(front("TYA", "2026-11-30"), "F.US.TYAZ26");
  EXPECT_EQ(front("TYA", "2026-12-01"), "F.US.TYAH27");
  // Metals, on their own cycles.
  EXPECT_EQ(front("GCE", "2027-01-29"), "F.US.GCEG27");
  EXPECT_EQ(front("GCE", "2027-01-30"), "F.US.GCEJ27");
  EXPECT_EQ(front("SIE", "2027-02-27"), "F.US.SIEK27");
  // Crude: 3 business days before 25 Dec 2026 (a Friday) -> Tue 22 Dec.
  EXPECT_EQ(front("CLE", "2026-12-22"), "F.US.CLEF27");
  EXPECT_EQ(front("CLE", "2026-12-23"), "F.US.CLEG27");
  // Crude when the 25th is a Sunday (25 Apr 2027): from Fri 23 Apr -> Tue 20 Apr.
  EXPECT_EQ(front("CLE", "2027-04-20"), "F.US.CLEK27");
  EXPECT_EQ(front("CLE", "2027-04-21"), "F.US.CLEM27");
  // Natural gas: 3 business days before 1 Jan 2027 -> Tue 29 Dec.
  EXPECT_EQ(front("NGE", "2026-12-29"), "F.US.NGEF27");
  EXPECT_EQ(front("NGE", "2026-12-30"), "F.US.NGEG27");
  // Across a decade.
  EXPECT_EQ(front("EP", "2029-12-31"), "F.US.EPH30");

  const Catalogue c = Catalogue::standard(at("2026-12-08T00:00:00Z"));
  EXPECT_EQ(c.last_day(*c.resolve("EP")), std::chrono::sys_days{std::chrono::year{2026} / 12 / 18});
}

TEST(VenueMarketCatalogue, RefusesAmbiguousOrIncompleteInstrumentsAndUnknownIds) {
  InstrumentSpec a;
  a.symbol = "AA";
  a.full_name = "F.US.AAZ26";
  a.initial_price = 100;
  InstrumentSpec b = a;
  b.symbol = "BB";
  EXPECT_THROW(Catalogue({a, b}), std::invalid_argument);  // same full name
  b.full_name = "F.US.AAz26X";
  b.symbol = "aa";
  EXPECT_THROW(Catalogue({a, b}), std::invalid_argument);  // same symbol ignoring case
  b.symbol = "";
  EXPECT_THROW(Catalogue({a, b}), std::invalid_argument);
  b.symbol = "BB";
  b.tick_size = 0;
  EXPECT_THROW(Catalogue({a, b}), std::invalid_argument);

  const Catalogue one({a});
  EXPECT_EQ(one.resolve("aaz26"), InstrumentId{0});
  EXPECT_FALSE(one.last_day(0));
  EXPECT_THROW(one.contract(1), std::out_of_range);
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
