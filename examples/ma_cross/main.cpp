// The moving-average cross, run live over the simulator (or the vendor's
// CQGCEL) or as a backtest over recorded history, without a change to it:
//   orbrix-ma-cross live [SECONDS]
//   orbrix-ma-cross backtest SYMBOL=FILE [OUT_DIR]

#include <cstdio>
#include <exception>
#include <string>

#include "ma_cross.hpp"
#include "orbrix/backtest/backtest.hpp"
#include "orbrix/backtest/live.hpp"
#include "orbrix/backtest/report.hpp"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  try {
    if (mode == "live") {
      example::MovingAverageCross engine({"EP", "ENQ"});
      orbrix::backtest::run_live(
          engine, {.duration = std::chrono::seconds(argc > 2 ? std::stoi(argv[2]) : 20)});
      std::printf("live run done: %zu deals\n", engine.cross_gateway().deals());
      return 0;
    }
    if (mode == "backtest" && argc > 2) {
      const std::string arg = argv[2];
      const auto eq = arg.find('=');
      if (eq == std::string::npos) {
        throw std::invalid_argument("expected SYMBOL=FILE, got " + arg);
      }
      example::MovingAverageCross engine({arg.substr(0, eq)});
      const auto result =
          orbrix::backtest::run_backtest(engine, {.histories = {{arg.substr(0, eq), arg.substr(eq + 1)}}});
      orbrix::backtest::write_report(result, argc > 3 ? argv[3] : "ma-cross-report", {.charts = false});
      std::fputs(orbrix::backtest::summary_text(result).c_str(), stdout);
      return 0;
    }
    std::fprintf(stderr, "usage: orbrix-ma-cross live [SECONDS] | backtest SYMBOL=FILE [OUT_DIR]\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orbrix-ma-cross: %s\n", e.what());
    return 1;
  }
}
