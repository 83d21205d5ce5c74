// orbrix-backtest: an engine over recorded history at machine speed, and its
// report.

#include <fmt/format.h>

#include <cstdio>
#include <exception>
#include <memory>

#include "backtest_options.hpp"
#include "console.hpp"
#include "demo_backtest_engine.hpp"
#include "ma_cross.hpp"
#include "orbrix/backtest/report.hpp"
#include "orbrix/cqg/trace.hpp"

int main(int argc, char** argv) {
  using namespace orbrix;
  try {
    const auto command = demo::parse_backtest_options(argc, argv);
    if (command.help) {
      return 0;
    }
    // The gateway's traced lines would drown the report's: they go nowhere.
    std::FILE* devnull = std::fopen("/dev/null", "w");
    if (devnull) {
      cqg::set_output_stream(devnull);
    }
    const demo::Console console(stdout, demo::OutputLevel::summary);
    std::unique_ptr<cqg::Engine> engine;
    if (command.engine == "ma-cross") {
      engine = std::make_unique<example::MovingAverageCross>(command.symbols);
    } else {
      engine = std::make_unique<demo::DemoStrategyEngine>(command.symbols, console);
    }
    const auto result = backtest::run_backtest(*engine, command.run);
    const auto files = backtest::write_report(
        result, command.out, {.charts = command.charts, .time_zone = command.time_zone});
    std::fputs(backtest::summary_text(result, command.time_zone).c_str(), stdout);
    std::fputs(backtest::speed_text(result).c_str(), stdout);
    std::printf("report    %zu files in %s\n", files.size(), command.out.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orbrix-backtest: %s\n", e.what());
    return 1;
  }
}
