// The report's times, names and charts, from a hand-made run: two symbols
// (the engine's EP and CLE), a few deals, an equity curve.

#include "orbrix/backtest/report.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "orbrix/backtest/report_time.hpp"
#include "temp_dir.hpp"

namespace orbrix::backtest {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const auto kDay = sys_days(year(2026) / December / 7);

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> lines_of(const fs::path& p) {
  std::istringstream in(read_file(p));
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    out.push_back(line);
  }
  return out;
}

BacktestResult run() {
  BacktestResult r;
  r.start = kDay + 14h;
  r.end = kDay + 16h;
  const auto deal = [](const char* id, const char* symbol, cqgsim::VenueTime t, bool buy,
                       double price) {
    return Deal{.deal_id = id,
                .order_id = id,
                .symbol = symbol,
                .buy = buy,
                .quantity = 1,
                .price = price,
                .commission = 2.5,
                .time = t};
  };
  r.deals = {deal("1", "F.US.EPZ26", kDay + 14h + 10min + 250ms, true, 6000),
             deal("2", "F.US.CLEF27", kDay + 14h + 20min, false, 70.5),
             deal("3", "F.US.EPZ26", kDay + 15h, false, 6010),
             deal("4", "F.US.CLEF27", kDay + 15h + 30min, true, 70.25)};
  r.orders = {{.last = {.order_id = "1",
                        .symbol = "F.US.EPZ26",
                        .type = "market",
                        .status = "filled",
                        .time = kDay + 14h + 10min + 250ms},
               .placed = kDay + 14h + 10min}};
  r.account.currency = "USD";
  r.account.positions = {{.symbol = "F.US.EPZ26", .tick_size = 0.25, .tick_value = 12.5},
                         {.symbol = "F.US.CLEF27", .tick_size = 0.01, .tick_value = 10}};
  for (const auto& [full, name, price] :
       {std::tuple{"F.US.EPZ26", "EP", 6000.0}, std::tuple{"F.US.CLEF27", "CLE", 70.0}}) {
    SymbolResult s{.symbol = full, .name = name};
    for (int m = 0; m < 120; ++m) {
      s.bars.push_back({.start = r.start + minutes(m),
                        .open = price,
                        .high = price + 1,
                        .low = price - 1,
                        .close = price,
                        .volume = 3});
    }
    r.symbols.push_back(std::move(s));
  }
  for (int m = 0; m <= 120; m += 10) {
    const auto t = r.start + minutes(m);
    r.equity.push_back({.time = t, .net_liquidating_value = 100000.0 + m});
    r.symbol_pnl.push_back({.time = t, .symbol = "F.US.EPZ26", .realized_pnl = m * 1.0});
    r.symbol_pnl.push_back({.time = t, .symbol = "F.US.CLEF27", .realized_pnl = -m * 1.0});
  }
  return r;
}

TEST(ReportTime, WritesUtcWithZAndAZoneWithTheOffsetInForce) {
  const ReportTime utc;
  EXPECT_EQ(utc.name(), "UTC");
  EXPECT_EQ(utc.column_suffix(), "utc");
  EXPECT_EQ(utc.text(kDay + 14h + 30min + 1234567ns), "2026-12-07T14:30:00.001234Z");
  EXPECT_EQ(ReportTime("UTC").text(kDay), "2026-12-07T00:00:00.000000Z");

  const ReportTime hong_kong("Asia/Hong_Kong");
  EXPECT_EQ(hong_kong.name(), "Asia/Hong_Kong");
  EXPECT_EQ(hong_kong.column_suffix(), "local");
  // Across midnight there: the wall clock's date.
  EXPECT_EQ(hong_kong.text(kDay + 16h + 30min), "2026-12-08T00:30:00.000000+08:00");
  EXPECT_EQ(hong_kong.day(kDay + 16h + 30min), "2026-12-08");
  EXPECT_DOUBLE_EQ(hong_kong.wall_seconds(kDay),
                   duration<double>((kDay + 8h).time_since_epoch()).count());

  // West of Greenwich, and the offset of the day: summer time in July.
  const ReportTime new_york("America/New_York");
  EXPECT_EQ(new_york.text(kDay + 3h), "2026-12-06T22:00:00.000000-05:00");
  EXPECT_EQ(new_york.text(sys_days(year(2026) / July / 1) + 12h),
            "2026-07-01T08:00:00.000000-04:00");
  // A zone off the whole hour.
  EXPECT_EQ(ReportTime("Asia/Kolkata").text(kDay), "2026-12-07T05:30:00.000000+05:30");

  EXPECT_THROW(ReportTime("Mars/Olympus_Mons"), std::invalid_argument);
}

TEST(Report, NamesTheZoneAndTheEngineSymbolsWithTheFullNamesBeside) {
  orbrix::testing::TempDir dir;
  const auto r = run();
  write_report(r, dir.path(), {.charts = false, .time_zone = "Asia/Hong_Kong"});
  const auto deals = lines_of(dir.path() / "deals.csv");
  ASSERT_EQ(deals.size(), 5u);
  EXPECT_EQ(deals[0],
            "deal_id,order_id,symbol,full_name,side,quantity,price,commission,time_local");
  EXPECT_EQ(deals[1], "1,1,EP,F.US.EPZ26,buy,1,6000,2.5,2026-12-07T22:10:00.250000+08:00");
  EXPECT_EQ(lines_of(dir.path() / "orders.csv").at(1),
            "1,EP,F.US.EPZ26,market,buy,0,,,filled,0,0,,2026-12-07T22:10:00.000000+08:00,"
            "2026-12-07T22:10:00.250000+08:00");
  EXPECT_EQ(lines_of(dir.path() / "bars.csv").at(1),
            "EP,F.US.EPZ26,2026-12-07T22:00:00.000000+08:00,6000,6001,5999,6000,3");
  EXPECT_EQ(lines_of(dir.path() / "trades.csv").at(1),
            "EP,F.US.EPZ26,long,1,2026-12-07T22:10:00.250000+08:00,6000,"
            "2026-12-07T23:00:00.000000+08:00,6010,495.00,5.00,3000");
  const auto stats = lines_of(dir.path() / "stats.csv");
  ASSERT_EQ(stats.size(), 4u);
  EXPECT_EQ(stats[1].rfind("all,,USD,", 0), 0u) << stats[1];
  EXPECT_EQ(stats[2].rfind("EP,F.US.EPZ26,USD,", 0), 0u) << stats[2];
  EXPECT_EQ(stats[3].rfind("CLE,F.US.CLEF27,USD,", 0), 0u) << stats[3];
  // Each symbol's P&L rows together, in the result's order.
  const auto pnl = lines_of(dir.path() / "pnl.csv");
  ASSERT_EQ(pnl.size(), 27u);
  EXPECT_EQ(pnl[0], "time_local,symbol,full_name,realized_pnl,unrealized_pnl,fees,net_pnl");
  EXPECT_EQ(pnl[13], "2026-12-08T00:00:00.000000+08:00,EP,F.US.EPZ26,120,0,0,120");
  EXPECT_EQ(pnl[14], "2026-12-07T22:00:00.000000+08:00,CLE,F.US.CLEF27,0,0,0,0");
  EXPECT_EQ(lines_of(dir.path() / "balance.csv").at(0).rfind("time_local,", 0), 0u);

  const auto summary = read_file(dir.path() / "summary.txt");
  EXPECT_EQ(summary, summary_text(r, "Asia/Hong_Kong"));
  EXPECT_NE(summary.find("2026-12-07T22:00:00.000000+08:00 to 2026-12-08T00:00:00.000000+08:00"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("times in Asia/Hong_Kong"), std::string::npos);
  EXPECT_NE(summary.find("\nEP       F.US.EPZ26 "), std::string::npos) << summary;
  EXPECT_NE(summary.find("\nCLE      F.US.CLEF27 "), std::string::npos) << summary;

  // In UTC by default, said so; an unknown zone writes nothing.
  orbrix::testing::TempDir utc;
  write_report(r, utc.path(), {.charts = false});
  EXPECT_EQ(lines_of(utc.path() / "deals.csv").at(1),
            "1,1,EP,F.US.EPZ26,buy,1,6000,2.5,2026-12-07T14:10:00.250000Z");
  EXPECT_NE(read_file(utc.path() / "summary.txt").find("times in UTC"), std::string::npos);
  orbrix::testing::TempDir none;
  EXPECT_THROW(write_report(r, none.path() / "r", {.charts = false, .time_zone = "Nowhere/At_All"}),
               std::invalid_argument);
  EXPECT_FALSE(fs::exists(none.path() / "r"));
}

TEST(Report, ChartsShareOneLabelledTimeAxisAndRedrawFromAMovedFolder) {
  orbrix::testing::TempDir dir;
  const auto r = run();
  const auto first = dir.path() / "first";
  const auto files = write_report(r, first, {.time_zone = "Asia/Hong_Kong"});
  for (const char* name : {"chart_EP.png", "chart_CLE.png", "chart_equity.png", "charts.gp"}) {
    EXPECT_NE(std::find(files.begin(), files.end(), first / name), files.end()) << name;
  }
  const auto script = read_file(first / "charts.gp");
  // Data and charts by name only: nothing of the folder it was written in.
  EXPECT_EQ(script.find(dir.path().string()), std::string::npos);
  EXPECT_EQ(script.find("/"), script.find("/Hong_Kong"));
  // Every chart on the run's span, labelled with the zone and the currency.
  std::size_t charts = 0;
  for (std::size_t at = 0; (at = script.find("set xrange [", at)) != std::string::npos; ++at) {
    const std::string span = "set xrange [1796680800.000:1796688000.000]";
    EXPECT_EQ(script.compare(at, span.size(), span), 0) << script.substr(at, span.size());
    ++charts;
  }
  EXPECT_EQ(charts, 3u);
  EXPECT_NE(script.find("set xlabel 'time (Asia/Hong_Kong)'"), std::string::npos);
  EXPECT_NE(script.find("set ylabel 'P&L (USD)'"), std::string::npos);
  EXPECT_NE(script.find("set ylabel 'drawdown (USD)'"), std::string::npos);
  // Each symbol's own fills and P&L: its chart picks its rows by full name.
  const auto ep = script.substr(0, script.find("chart_CLE.png"));
  EXPECT_NE(ep.find("'pnl.csv' skip 1 using (strcol(3) eq 'F.US.EPZ26'"), std::string::npos);
  EXPECT_NE(ep.find("'deals.csv' skip 1 using (strcol(4) eq 'F.US.EPZ26'"), std::string::npos);
  EXPECT_EQ(ep.find("CLEF27"), std::string::npos);

  // Moved, the charts removed: gnuplot run on charts.gp there draws them.
  const auto moved = dir.path() / "moved";
  fs::rename(first, moved);
  for (const char* name : {"chart_EP.png", "chart_CLE.png", "chart_equity.png"}) {
    fs::remove(moved / name);
  }
  const auto command = "cd '" + moved.string() + "' && gnuplot charts.gp";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  for (const char* name : {"chart_EP.png", "chart_CLE.png", "chart_equity.png"}) {
    EXPECT_GT(fs::file_size(moved / name), 1000u) << name;
  }
}

}  // namespace
}  // namespace orbrix::backtest
