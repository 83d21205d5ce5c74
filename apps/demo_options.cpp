#include "demo_options.hpp"

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <set>

namespace orbrix::demo {

DemoOptions parse_options(int argc, char** argv) {
  DemoOptions o;
  CLI::App app(
      "A small engine over the CQGCEL simulator: logs on, subscribes quotes, order books and "
      "one-minute bars, trades a tiny strategy and ends with a summary.",
      "orbrix-demo");
  std::int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(o.duration).count();
  app.add_option("--seconds", seconds, "how long to run, in seconds")
      ->check(CLI::Range(std::int64_t{1}, kMaxDemoSeconds))
      ->capture_default_str();
  app.add_option("--symbols", o.symbols, "the instruments to trade, comma-separated")
      ->delimiter(',')
      ->capture_default_str();
  app.add_option("--seed", o.seed, "the simulated market's seed")->capture_default_str();
  std::string history;
  app.add_option("--history", history, "a recorded history file the first symbol replays")
      ->check(CLI::ExistingFile);
  app.add_option("--account", o.account, "the trading account")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  bool no_strategy = false;
  app.add_flag("--no-strategy", no_strategy, "trade only from the bot");
  app.add_flag("--quiet", o.quiet, "only the closing account and the summary");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    throw HelpRequested(app.help());
  } catch (const CLI::ParseError& e) {
    throw std::invalid_argument(fmt::format("{}\nRun with --help for the options.", e.what()));
  }
  o.duration = std::chrono::seconds(seconds);
  o.strategy = !no_strategy;
  if (!history.empty()) {
    o.history = history;
  }
  if (o.symbols.empty()) {
    throw std::invalid_argument("--symbols: give at least one symbol");
  }
  std::set<std::string> seen;
  for (auto& s : o.symbols) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (s.empty()) {
      throw std::invalid_argument("--symbols: an empty symbol (two commas in a row?)");
    }
    if (!seen.insert(s).second) {
      throw std::invalid_argument(fmt::format("--symbols: {} is given twice", s));
    }
  }
  return o;
}

}  // namespace orbrix::demo
