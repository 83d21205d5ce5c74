// The moving-average cross, run live over the simulator (or the vendor's
// CQGCEL) or as a backtest over recorded history, without a change to it:
//   orbrix-ma-cross live [--seconds SECONDS] [--symbols EP,ENQ]
//   orbrix-ma-cross backtest SYMBOL=FILE [OUT_DIR] [--fast N] [--slow M]
//                            [--warm-up MINUTES] [--close-at-end]
// --help lists the options with their defaults.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "ma_cross.hpp"
#include "orbrix/backtest/backtest.hpp"
#include "orbrix/backtest/live.hpp"
#include "orbrix/backtest/report.hpp"

int main(int argc, char** argv) {
  CLI::App app("A moving-average cross on one-minute bars, live or over recorded history.",
               "orbrix-ma-cross");
  app.require_subcommand(1);
  int seconds = 20;
  std::vector<std::string> live_symbols{"EP", "ENQ"};
  auto* live = app.add_subcommand("live", "trade over the simulator (or the vendor's CQGCEL)");
  live->add_option("--seconds", seconds, "how long to trade, in seconds")
      ->check(CLI::Range(1, 86'400))
      ->capture_default_str();
  live->add_option("--symbols", live_symbols, "the symbols traded")
      ->delimiter(',')
      ->capture_default_str();

  std::string history;
  std::string out = "ma-cross-report";
  orbrix::backtest::BacktestOptions options;
  auto* backtest = app.add_subcommand("backtest", "run over a recorded history");
  backtest->add_option("history", history, "the recorded history of one symbol")
      ->type_name("SYMBOL=FILE")
      ->required();
  backtest->add_option("out", out, "the report's folder (trace.log, the traced lines, too)")
      ->capture_default_str();
  int fast = example::MovingAverageCross::kFast;
  int slow = example::MovingAverageCross::kSlow;
  backtest->add_option("--fast", fast, "one-minute bars of the fast mean")
      ->check(CLI::Range(1, 1'000))
      ->capture_default_str();
  backtest->add_option("--slow", slow, "one-minute bars of the slow mean")
      ->check(CLI::Range(2, 1'000))
      ->capture_default_str();
  int warm_up = 8;
  backtest
      ->add_option("--warm-up", warm_up,
                   "minutes of history before the start (its bars are the first the strategy "
                   "looks back on)")
      ->check(CLI::Range(0, 525'600))
      ->capture_default_str();
  backtest->add_flag("--close-at-end", options.close_at_end,
                     "close what is open at the last quote when the data ends");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  try {
    if (live->parsed()) {
      example::MovingAverageCross engine(live_symbols);
      orbrix::backtest::run_live(engine, {.duration = std::chrono::seconds(seconds)});
      std::printf("live run done: %zu deals\n", engine.cross_gateway().deals());
      return 0;
    }
    const auto eq = history.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == history.size()) {
      throw std::invalid_argument("history: expected SYMBOL=FILE, got " + history);
    }
    if (fast >= slow) {
      throw std::invalid_argument("--fast " + std::to_string(fast) + " and --slow " +
                                  std::to_string(slow) + ": the fast mean needs fewer bars");
    }
    const std::string symbol = history.substr(0, eq);
    example::MovingAverageCross engine({symbol}, fast, slow);
    options.histories = {{symbol, history.substr(eq + 1)}};
    options.warm_up = std::chrono::minutes(warm_up);
    options.trace_log = std::filesystem::path(out) / "trace.log";
    const auto result = orbrix::backtest::run_backtest(engine, options);
    orbrix::backtest::write_report(result, out, {.charts = false});
    std::fputs(orbrix::backtest::summary_text(result).c_str(), stdout);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orbrix-ma-cross: %s\n", e.what());
    return 1;
  }
}
