#include "recorder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>

#include "temp_dir.hpp"

namespace orbrix::report {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

UtcTime at(int hour, int minute, int second, int micro = 0) {
  return UtcTime{sys_days{year{2026} / 12 / 8}} + hours{hour} + minutes{minute} + seconds{second} +
         microseconds{micro};
}

std::vector<std::string> lines_of(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    out.push_back(line);
  }
  return out;
}

using orbrix::testing::TempDir;

// A PNG's width and height from its IHDR chunk (big-endian, bytes 16..23).
std::pair<std::uint32_t, std::uint32_t> png_size(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char head[24] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  EXPECT_EQ(in.gcount(), 24) << path;
  const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  EXPECT_TRUE(std::equal(signature, signature + 8, head)) << path << " is not a PNG";
  EXPECT_EQ(std::string(reinterpret_cast<char*>(head + 12), 4), "IHDR");
  const auto be32 = [&](int i) {
    return std::uint32_t(head[i]) << 24 | std::uint32_t(head[i + 1]) << 16 |
           std::uint32_t(head[i + 2]) << 8 | std::uint32_t(head[i + 3]);
  };
  return {be32(16), be32(20)};
}

Recorder a_run() {
  Recorder r;
  r.add_order({.order_id = "A1",
               .symbol = "EP",
               .type = OrderType::LIMIT,
               .direction = Direction::LONG,
               .quantity = 1,
               .price = 6000.25,
               .status = OrderStatus::SUBMITTED,
               .placed = at(7, 44, 30, 250000)});
  r.add_order({.order_id = "A2",
               .symbol = "EP",
               .type = OrderType::MARKET,
               .direction = Direction::SHORT,
               .quantity = 2,
               .status = OrderStatus::FILLED,
               .filled_quantity = 2,
               .average_fill_price = 6050.5,
               .placed = at(7, 44, 31),
               .updated = at(7, 44, 32)});
  // A later state of A1 replaces the first, in its place.
  r.add_order({.order_id = "A1",
               .symbol = "EP",
               .type = OrderType::LIMIT,
               .direction = Direction::LONG,
               .quantity = 1,
               .price = 6000.25,
               .status = OrderStatus::CANCELLED,
               .placed = at(7, 44, 30, 250000),
               .updated = at(7, 44, 40)});
  r.add_deal({.deal_id = "1",
              .order_id = "A2",
              .symbol = "EP",
              .direction = Direction::SHORT,
              .quantity = 2,
              .price = 6050.5,
              .time = at(7, 44, 32)});
  r.add_balance({.time = at(7, 44, 30), .balance = {}});
  AccountBalance later;
  later.cash = 100000;
  later.realized_pnl = -12.5;
  later.unrealized_pnl = 25;
  r.add_balance({.time = at(7, 44, 35, 500000), .balance = later});
  r.add_bar({.symbol = "EP",
             .start = at(7, 43, 0),
             .open = 1,
             .high = 3,
             .low = 0.5,
             .close = 2,
             .volume = 10});
  r.add_bar({.symbol = "EP",
             .start = at(7, 44, 0),
             .open = 2,
             .high = 2,
             .low = 2,
             .close = 2,
             .volume = 1});
  // The bar still forming, seen again with more in it.
  r.add_bar({.symbol = "EP",
             .start = at(7, 44, 0),
             .open = 2,
             .high = 4,
             .low = 1,
             .close = 3,
             .volume = 7});
  return r;
}

TEST(Recorder, WritesEachFileWithItsHeaderAndOneRowPerThing) {
  TempDir dir;
  const auto r = a_run();
  const auto files = r.write_csv(dir.path() / "run");
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(lines_of(dir.path() / "run" / "orders.csv"),
            (std::vector<std::string>{
                "order_id,symbol,type,direction,quantity,price,stop_price,status,filled_quantity,"
                "average_fill_price,placed_utc,updated_utc",
                "A1,EP,LIMIT,LONG,1,6000.25,0,CANCELLED,0,0,2026-12-08T07:44:30.250000Z,"
                "2026-12-08T07:44:40.000000Z",
                "A2,EP,MARKET,SHORT,2,0,0,FILLED,2,6050.5,2026-12-08T07:44:31.000000Z,"
                "2026-12-08T07:44:32.000000Z"}));
  EXPECT_EQ(lines_of(dir.path() / "run" / "deals.csv"),
            (std::vector<std::string>{"deal_id,order_id,symbol,direction,quantity,price,time_utc",
                                      "1,A2,EP,SHORT,2,6050.5,2026-12-08T07:44:32.000000Z"}));
  EXPECT_EQ(
      lines_of(dir.path() / "run" / "balance.csv"),
      (std::vector<std::string>{"time_utc,cash,available_cash,net_liquidating,margin,realized_pnl,"
                                "unrealized_pnl,pnl",
                                "2026-12-08T07:44:30.000000Z,0,0,0,0,0,0,0",
                                "2026-12-08T07:44:35.500000Z,100000,0,0,0,-12.5,25,12.5"}));
  EXPECT_EQ(lines_of(dir.path() / "run" / "bars.csv"),
            (std::vector<std::string>{"symbol,start_utc,open,high,low,close,volume",
                                      "EP,2026-12-08T07:43:00.000000Z,1,3,0.5,2,10",
                                      "EP,2026-12-08T07:44:00.000000Z,2,4,1,3,7"}));

  // A field with a comma or a quote is quoted, so a row keeps its columns.
  Recorder odd;
  odd.add_deal({.deal_id = "7,8", .order_id = "say \"x\"", .symbol = "EP"});
  odd.write_csv(dir.path());
  EXPECT_EQ(lines_of(dir.path() / "deals.csv").at(1),
            "\"7,8\",\"say \"\"x\"\"\",EP,LONG,0,0,1970-01-01T00:00:00.000000Z");
}

TEST(Recorder, DrawsAPngOfTheAskedSizePerSymbolWithGnuplot) {
  TempDir dir;
  auto r = a_run();
  r.add_symbol("ENQ");  // no bar, no fill: still a chart, saying so
  r.add_symbol("A/B");  // not a file name as it is
  r.write_csv(dir.path());
  const auto charts = r.draw_charts(dir.path(), {.width = 640, .height = 480});
  ASSERT_EQ(charts,
            (std::vector<fs::path>{dir.path() / "chart_A_B.png", dir.path() / "chart_ENQ.png",
                                   dir.path() / "chart_EP.png"}));
  for (const auto& png : charts) {
    EXPECT_EQ(png_size(png), std::make_pair(640u, 480u)) << png;
  }
  EXPECT_TRUE(fs::exists(dir.path() / "charts.gp"));
}

TEST(Recorder, SaysWhenGnuplotIsMissingOrFails) {
  TempDir dir;
  const auto r = a_run();
  r.write_csv(dir.path());
  const auto error_of = [&](const ChartOptions& o) -> std::string {
    try {
      r.draw_charts(dir.path(), o);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "drawn";
  };
  const auto missing = error_of({.gnuplot = "orbrix-no-such-gnuplot"});
  EXPECT_NE(missing.find("install the package gnuplot-nox"), std::string::npos) << missing;
  EXPECT_NE(error_of({.gnuplot = "/no/such/dir/gnuplot"}).find("gnuplot-nox"), std::string::npos);
  EXPECT_THROW(require_gnuplot("orbrix-no-such-gnuplot"), std::runtime_error);
  // A program that runs and fails: its exit is an error, not a chart.
  const auto failed = error_of({.gnuplot = "false"});
  EXPECT_NE(failed.find("gnuplot failed (exit 1)"), std::string::npos) << failed;
  EXPECT_THROW(r.draw_charts(dir.path(), {.width = 0}), std::invalid_argument);
}

}  // namespace
}  // namespace orbrix::report
