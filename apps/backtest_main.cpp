// orbrix-backtest: an engine over recorded history at machine speed, and its
// report. Standard output gets the summary; the gateway's traced lines go
// to trace.log in the report's folder; on a terminal, standard error shows
// one progress line while the run goes.

#include <fmt/format.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string_view>

#include "backtest_options.hpp"
#include "console.hpp"
#include "demo_backtest_engine.hpp"
#include "ma_cross.hpp"
#include "orbrix/backtest/report.hpp"
#include "orbrix/cqg/trace.hpp"
#include "progress_line.hpp"

namespace {

// The run's notices (gaps jumped, a short warm-up) shown on standard
// error; all of them are in trace.log.
constexpr std::size_t kNoticesShown = 5;

}  // namespace

int main(int argc, char** argv) {
  using namespace orbrix;
  try {
    auto command = demo::parse_backtest_options(argc, argv);
    if (command.answer) {
      std::fputs(command.answer->c_str(), stdout);
      return 0;
    }
    auto& run = command.run;
    if (command.symbols.empty()) {
      command.symbols = backtest::history_symbols(run.histories);
    }
    const auto trace_log = std::filesystem::path(command.out) / "trace.log";
    run.trace_log = trace_log;
    demo::ProgressLine progress(stderr, !command.quiet && ::isatty(::fileno(stderr)) != 0);
    run.progress = [&](const backtest::BacktestProgress& p) { progress.show(p); };
    std::size_t notices = 0;
    run.notice = [&](std::string_view line) {
      const auto text = fmt::format("backtest: {}", line);
      cqg::WriteLine(text);  // into trace.log, while the run goes
      if (++notices <= kNoticesShown) {
        progress.clear();
        std::fprintf(stderr, "%s\n", text.c_str());
      }
    };
    const demo::Console console(stdout, demo::OutputLevel::summary);
    std::unique_ptr<cqg::Engine> engine;
    if (command.engine == "ma-cross") {
      engine = std::make_unique<example::MovingAverageCross>(command.symbols);
    } else {
      engine = std::make_unique<demo::DemoStrategyEngine>(command.symbols, console);
    }
    const auto result = backtest::run_backtest(*engine, run);
    progress.clear();
    if (notices > kNoticesShown) {
      std::fprintf(stderr, "backtest: %zu more notices in %s\n", notices - kNoticesShown,
                   trace_log.c_str());
    }
    const auto files = backtest::write_report(
        result, command.out, {.charts = command.charts, .time_zone = command.time_zone});
    std::fputs(backtest::summary_text(result, command.time_zone).c_str(), stdout);
    std::fputs(backtest::speed_text(result).c_str(), stdout);
    std::printf("report    %zu files in %s (the gateway's traced lines in trace.log)\n",
                files.size() + 1, command.out.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orbrix-backtest: %s\n", e.what());
    return 1;
  }
}
