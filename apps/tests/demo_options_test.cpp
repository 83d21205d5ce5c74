#include "demo_options.hpp"
#include "command_line.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include <string>
#include <vector>

namespace orbrix::demo {
namespace {

DemoOptions parse(std::vector<std::string> args) {
  return ::orbrix::testing::parse_command_line("orbrix-demo", std::move(args), parse_options);
}

std::string refusal(std::vector<std::string> args) {
  return ::orbrix::testing::refusal_of("orbrix-demo", std::move(args), parse_options);
}

TEST(DemoOptions, ReadsEachOptionAndNormalisesSymbols) {
  const auto o = parse({"--seconds", "30", "--symbols", "ep,CLE", "--seed=7", "--account", "100002",
                        "--no-strategy", "--quiet"});
  EXPECT_EQ(o.duration, std::chrono::seconds(30));
  EXPECT_EQ(o.symbols, (std::vector<std::string>{"EP", "CLE"}));
  EXPECT_EQ(o.seed, 7u);
  EXPECT_EQ(o.account, 100002);
  EXPECT_FALSE(o.strategy);
  EXPECT_EQ(o.output, OutputLevel::quiet);
  const auto d = parse({});
  EXPECT_EQ(d.duration, std::chrono::seconds(20));
  EXPECT_EQ(d.symbols, (std::vector<std::string>{"EP", "ENQ", "GCE"}));
  EXPECT_EQ(d.output, OutputLevel::everything);
  EXPECT_FALSE(d.drop_gateway);
  EXPECT_FALSE(d.record);
  EXPECT_TRUE(d.histories.empty());
}

TEST(DemoOptions, ReadsTheLevelsTheDropAndTheRecord) {
  EXPECT_EQ(parse({"--summary"}).output, OutputLevel::summary);
  EXPECT_NE(refusal({"--quiet", "--summary"}).find("give one of them"), std::string::npos);

  using std::chrono::milliseconds;
  EXPECT_EQ(parse({"--drop-gateway-at", "3"}).drop_gateway,
            (GatewayDrop{.at = milliseconds(3000), .length = milliseconds(5000)}));
  EXPECT_EQ(parse({"--drop-gateway-at", "2.5,0.25"}).drop_gateway,
            (GatewayDrop{.at = milliseconds(2500), .length = milliseconds(250)}));
  EXPECT_EQ(parse({"--drop-gateway-at", "0,1"}).drop_gateway->at, milliseconds(0));
  for (const char* bad : {"x", "-1", "3,0", "3,", ",3", "3,5,1", "nan", "1e30", "3;5"}) {
    EXPECT_NE(refusal({"--drop-gateway-at", bad}).find("--drop-gateway-at"), std::string::npos)
        << bad;
  }
  // A drop that would start after the run has ended.
  EXPECT_NE(refusal({"--seconds", "10", "--drop-gateway-at", "10"}).find("not before the end"),
            std::string::npos);

  EXPECT_EQ(parse({"--record", "out/run1"}).record, "out/run1");
}

TEST(DemoOptions, TiesEachHistoryToATradedSymbol) {
  const std::string file = ::testing::TempDir() + "demo_options_history.csv";
  std::fclose(std::fopen(file.c_str(), "w"));
  const auto o =
      parse({"--symbols", "EP,ENQ", "--history", "enq=" + file, "--history", "EP=" + file});
  EXPECT_EQ(o.histories, (std::vector<HistoryFile>{{"ENQ", file}, {"EP", file}}));
  // Only a symbol that trades, once, with a file that is there.
  EXPECT_NE(refusal({"--symbols", "EP", "--history", "GCE=" + file})
                .find("GCE is not one of the traded symbols"),
            std::string::npos);
  EXPECT_NE(
      refusal({"--history", "EP=" + file, "--history", "ep=" + file}).find("EP is given twice"),
      std::string::npos);
  EXPECT_NE(refusal({"--history", file}).find("is not SYMBOL=FILE"), std::string::npos);
  EXPECT_NE(refusal({"--history", "EP="}).find("is not SYMBOL=FILE"), std::string::npos);
  EXPECT_NE(refusal({"--history", "EP=/no/such/file.csv"}).find("/no/such/file.csv: no such file"),
            std::string::npos);
  std::remove(file.c_str());
}

TEST(DemoOptions, RefusesRepeatedSymbolsAndNumbersOutOfRange) {
  // A repeated symbol once crashed the run; any spelling of it is refused.
  EXPECT_NE(refusal({"--symbols", "EP,EP"}).find("EP is given twice"), std::string::npos);
  EXPECT_NE(refusal({"--symbols", "EP,ep"}).find("given twice"), std::string::npos);
  // An empty symbol is refused, wherever it stands; a lone comma does not
  // take the next option for a symbol.
  EXPECT_NE(refusal({"--symbols", "EP,,ENQ"}).find("--symbols: an empty symbol"),
            std::string::npos);
  EXPECT_NE(refusal({"--symbols", ",", "--seed", "7"}).find("--symbols: an empty symbol"),
            std::string::npos);
  EXPECT_NE(refusal({"--symbols", "EP,"}).find("an empty symbol"), std::string::npos);
  EXPECT_NE(refusal({"--symbols", ""}).find("--symbols"), std::string::npos);
  EXPECT_EQ(parse({"--symbols", "ep"}).symbols, (std::vector<std::string>{"EP"}));
  // Beyond the clock's range, or not a number: refused, never clamped.
  EXPECT_NE(refusal({"--seconds", "10000000000"}).find("--seconds"), std::string::npos);
  EXPECT_NE(refusal({"--seconds", "99999999999999999999"}).find("--seconds"), std::string::npos);
  EXPECT_NE(refusal({"--seconds", "0"}).find("--seconds"), std::string::npos);
  EXPECT_NE(refusal({"--seconds", "-5"}).find("--seconds"), std::string::npos);
  EXPECT_NE(refusal({"--seconds", "5x"}).find("--seconds"), std::string::npos);
  EXPECT_NE(refusal({"--account", "0"}).find("--account"), std::string::npos);
  EXPECT_NE(refusal({"--bogus"}).find("bogus"), std::string::npos);
  EXPECT_EQ(parse({"--seconds", std::to_string(kMaxDemoSeconds)}).duration,
            std::chrono::seconds(kMaxDemoSeconds));
}

TEST(DemoOptions, HelpListsEveryOption) {
  try {
    parse({"--help"});
    FAIL() << "no help";
  } catch (const HelpRequested& help) {
    const std::string text = help.what();
    for (const char* option :
         {"--seconds", "--symbols", "--seed", "--history", "SYMBOL=FILE", "--account",
          "--no-strategy", "--quiet", "--summary", "--drop-gateway-at", "SECONDS[,FOR_SECONDS]",
          "--record", "gnuplot"}) {
      EXPECT_NE(text.find(option), std::string::npos) << option;
    }
    // The footer names the twelve symbols the simulator lists.
    for (const char* symbol : {"EP (", "ENQ (", "DD (", "TYA (", "USA (", "EU6 (", "JY6 (", "BP6 (",
                               "GCE (", "SIE (", "CLE (", "NGE ("}) {
      EXPECT_NE(text.find(symbol), std::string::npos) << symbol;
    }
  }
}

// The demo's seed is checked as the backtest's: -1 is refused, not wrapped
// to 2^64 - 1. --version answers with the program's name and version.
TEST(DemoOptions, ANegativeSeedIsRefusedAndVersionAnswers) {
  EXPECT_NE(refusal({"--seed", "-1"}).find("--seed: '-1' is not a seed"), std::string::npos)
      << refusal({"--seed", "-1"});
  EXPECT_EQ(parse({"--seed", "18446744073709551615"}).seed, 18446744073709551615u);
  try {
    parse({"--version"});
    FAIL() << "no version";
  } catch (const HelpRequested& version) {
    const std::string text = version.what();
    EXPECT_EQ(text.rfind("orbrix-demo ", 0), 0u) << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  }
}

}  // namespace
}  // namespace orbrix::demo
