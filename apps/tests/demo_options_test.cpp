#include "demo_options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbrix::demo {
namespace {

DemoOptions parse(std::vector<std::string> args) {
  args.insert(args.begin(), "orbrix-demo");
  std::vector<char*> argv;
  for (auto& a : args) {
    argv.push_back(a.data());
  }
  return parse_options(static_cast<int>(argv.size()), argv.data());
}

std::string refusal(std::vector<std::string> args) {
  try {
    parse(std::move(args));
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "accepted";
}

TEST(DemoOptions, ReadsEachOptionAndNormalisesSymbols) {
  const auto o = parse({"--seconds", "30", "--symbols", "ep,CLE", "--seed=7", "--account", "100002",
                        "--no-strategy", "--quiet"});
  EXPECT_EQ(o.duration, std::chrono::seconds(30));
  EXPECT_EQ(o.symbols, (std::vector<std::string>{"EP", "CLE"}));
  EXPECT_EQ(o.seed, 7u);
  EXPECT_EQ(o.account, 100002);
  EXPECT_FALSE(o.strategy);
  EXPECT_TRUE(o.quiet);
  const auto d = parse({});
  EXPECT_EQ(d.duration, std::chrono::seconds(20));
  EXPECT_EQ(d.symbols, (std::vector<std::string>{"EP", "ENQ", "GCE"}));
}

TEST(DemoOptions, RefusesRepeatedSymbolsAndNumbersOutOfRange) {
  // A repeated symbol once crashed the run; any spelling of it is refused.
  EXPECT_NE(refusal({"--symbols", "EP,EP"}).find("EP is given twice"), std::string::npos);
  EXPECT_NE(refusal({"--symbols", "EP,ep"}).find("given twice"), std::string::npos);
  EXPECT_EQ(parse({"--symbols", "EP,,ENQ"}).symbols, (std::vector<std::string>{"EP", "ENQ"}));
  // Beyond the clock's range, or not a number: refused, never clamped.
  EXPECT_NE(refusal({"--seconds", "10000000000"}).find("--seconds"), std::string::npos);
  EXPECT_NE(refusal({"--seconds", "99999999999999999999"}).find("--seconds"), std::string::npos);
  EXPECT_NE(refusal({"--seconds", "0"}).find("--seconds"), std::string::npos);
  EXPECT_NE(refusal({"--seconds", "-5"}).find("--seconds"), std::string::npos);
  EXPECT_NE(refusal({"--seconds", "5x"}).find("--seconds"), std::string::npos);
  EXPECT_NE(refusal({"--account", "0"}).find("--account"), std::string::npos);
  EXPECT_NE(refusal({"--history", "/no/such/file.csv"}).find("--history"), std::string::npos);
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
    for (const char* option : {"--seconds", "--symbols", "--seed", "--history", "--account",
                               "--no-strategy", "--quiet"}) {
      EXPECT_NE(text.find(option), std::string::npos) << option;
    }
  }
}

}  // namespace
}  // namespace orbrix::demo
