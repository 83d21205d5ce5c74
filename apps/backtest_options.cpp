#include "backtest_options.hpp"

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "demo_backtest_engine.hpp"
#include "ma_cross.hpp"
#include "orbrix/backtest/report_time.hpp"
#include "orbrix/cqgsim/config.hpp"
#include "program_options.hpp"

namespace orbrix::demo {

backtest::TimePoint parse_utc(const std::string& text, const std::string& option) {
  // 2026-12-07, 2026-12-07T14:30Z, 2026-12-07T14:30:00Z
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, used = 0;
  const char* s = text.c_str();
  const bool day_only = std::sscanf(s, "%4d-%2d-%2d%n", &y, &mo, &d, &used) == 3 &&
                        static_cast<std::size_t>(used) == text.size();
  const bool minutes = !day_only &&
                       std::sscanf(s, "%4d-%2d-%2dT%2d:%2dZ%n", &y, &mo, &d, &h, &mi, &used) == 5 &&
                       static_cast<std::size_t>(used) == text.size();
  const bool seconds =
      !day_only && !minutes &&
      std::sscanf(s, "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &y, &mo, &d, &h, &mi, &sec, &used) == 6 &&
      static_cast<std::size_t>(used) == text.size();
  const std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month(unsigned(mo)),
                                        std::chrono::day(unsigned(d))};
  if (!(day_only || minutes || seconds) || !ymd.ok() || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      sec < 0 || sec > 59) {
    throw std::invalid_argument(
        fmt::format("{}: '{}' is not a UTC time such as 2026-12-07T14:30:00Z", option, text));
  }
  // Checked as a year, before it becomes nanoseconds (which end in 2262).
  if (y < cqgsim::kFirstYear || y > cqgsim::kLastYear) {
    throw std::invalid_argument(
        fmt::format("{}: {} is outside the years {} to {} the simulator "
                    "works in",
                    option, text, cqgsim::kFirstYear, cqgsim::kLastYear));
  }
  return std::chrono::sys_days(ymd) + std::chrono::hours(h) + std::chrono::minutes(mi) +
         std::chrono::seconds(sec);
}

namespace {

// The largest order latency the simulator takes, in milliseconds (an hour).
constexpr double kMaxLatencyMs = 3'600'000;

// A latency in whole milliseconds, which the simulator keeps; another is
// refused rather than rounded (0.5 would be no latency at all).
std::chrono::milliseconds latency_of(double ms) {
  if (!std::isfinite(ms) || ms < 0 || ms > kMaxLatencyMs || ms != std::floor(ms)) {
    throw std::invalid_argument(fmt::format(
        "--latency-ms: {} is not a whole number of milliseconds from 0 to {} (the simulator "
        "keeps an order's latency in whole milliseconds)",
        ms, kMaxLatencyMs));
  }
  return std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

// Minutes of history the engine's bar window looks back: the warm-up that
// fills it.
int bar_look_back_minutes(const std::string& engine) {
  return static_cast<int>(engine == "ma-cross" ? example::MovingAverageCross::kBarLookBack
                                               : DemoStrategyEngine::kBarLookBack);
}

}  // namespace

BacktestCommand parse_backtest_options(int argc, char** argv) {
  BacktestCommand c;
  auto& r = c.run;
  CLI::App app(
      "Runs an engine through the gateway over recorded history on the simulator's clock, as "
      "fast as the machine goes, and writes a report (CSV files, a summary, charts).",
      "orbrix-backtest");
  add_version_flag(app, "orbrix-backtest");
  app.footer(
      "Examples:\n"
      "  orbrix-backtest --history EP=gateways/cqg/sim/venue/market/data/ep_quotes_sample.csv "
      "--warm-up 5 --out report\n"
      "  orbrix-backtest --histories day.csv --engine ma-cross\n"
      "Traced lines of the gateway go to trace.log in the report's folder; on a terminal a "
      "progress line is shown on standard error.\n"
      "History files are described in gateways/cqg/sim/README.md.");
  std::vector<std::string> histories, multi;
  std::optional<std::string> start, end;
  double latency_ms = 0;
  app.add_option("--history", histories, "SYMBOL=FILE: a recorded history of one symbol")
      ->type_name("SYMBOL=FILE");
  app.add_option("--histories", multi, "a history file of several symbols (a symbol column)")
      ->check(CLI::ExistingFile);
  app.add_option("--symbols", c.symbols,
                 "the symbols the engine trades, each with a history (default: every symbol of "
                 "the histories)")
      ->delimiter(',');
  app.add_option("--engine", c.engine, "the engine: demo (the demo's strategy) or ma-cross")
      ->check(CLI::IsMember({"demo", "ma-cross"}))
      ->capture_default_str();
  app.add_option("--start", start,
                 "UTC start (default: the warm-up after the first recorded minute)");
  app.add_option("--end", end, "UTC end (default: the minute after the last record)");
  std::optional<int> warm_up;
  app.add_option("--warm-up", warm_up,
                 "minutes of history before the start, when --start is not given (default: the "
                 "engine's bar look-back, 60 for demo, 22 for ma-cross)")
      ->check(CLI::Range(0, 525'600));
  app.add_option("--seed", r.seed,
                 "seed of the simulator's generated market (instruments without a history, "
                 "which a backtest does not trade)")
      ->check(seed_check())
      ->capture_default_str();
  app.add_option("--slippage-ticks", r.fill_model.slippage_ticks,
                 "ticks against the trader on fills at the touch")
      ->check(CLI::Range(0, 1'000'000))
      ->capture_default_str();
  app.add_option("--commission", r.fill_model.commission_per_contract,
                 "commission per contract per fill")
      ->check(CLI::Range(0.0, 1'000'000.0))
      ->capture_default_str();
  app.add_flag("--partial-fills", r.fill_model.partial_fills,
               "fills take at most the displayed size");
  app.add_option("--latency-ms", latency_ms,
                 "how long an order is in transit, in whole milliseconds (at most an hour)")
      ->capture_default_str();
  std::string path = "direct";
  app.add_option("--path", path,
                 "how the simulator's events reach the gateway: direct (decoded, the default) or "
                 "vendor (the vendor's objects read member by member, as live); the same report")
      ->check(CLI::IsMember({"direct", "vendor"}))
      ->capture_default_str();
  app.add_flag("--close-at-end", r.close_at_end,
               "at the end of the data, cancel the working orders and close the open positions "
               "at the last quote (otherwise they are listed, the positions marked to the last "
               "price)");
  app.add_option("--out", c.out, "the report's folder (trace.log, the gateway's traced lines, too)")
      ->capture_default_str();
  app.add_option("--tz", c.time_zone,
                 "the zone of the report's times, an IANA name such as Asia/Hong_Kong "
                 "(default: UTC); every time says its zone or offset")
      ->type_name("NAME");
  app.add_flag(
      "--no-charts", [&](std::int64_t) { c.charts = false; }, "write no PNG charts");
  app.add_flag("--quiet", c.quiet, "no progress line on standard error");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    c.answer = app.help();
    return c;
  } catch (const CLI::CallForVersion& e) {
    c.answer = std::string(e.what()) + "\n";
    return c;
  } catch (const CLI::ParseError& e) {
    throw std::invalid_argument(e.what());
  }
  for (const auto& h : histories) {
    const auto eq = h.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == h.size()) {
      throw std::invalid_argument(
          fmt::format("--history: '{}' is not SYMBOL=FILE (e.g. EP=ep_quotes.csv)", h));
    }
    std::string symbol = h.substr(0, eq);
    std::transform(symbol.begin(), symbol.end(), symbol.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    r.histories.push_back({symbol, h.substr(eq + 1)});
    // A file of several symbols names its own: read when the run starts.
    if (std::find(c.symbols.begin(), c.symbols.end(), symbol) == c.symbols.end() &&
        app.count("--symbols") == 0 && multi.empty()) {
      c.symbols.push_back(symbol);
    }
  }
  for (const auto& m : multi) {
    r.histories.push_back({"", m});
  }
  if (r.histories.empty()) {
    throw std::invalid_argument("give a recorded history: --history SYMBOL=FILE or --histories");
  }
  if (start) {
    r.start = parse_utc(*start, "--start");
  }
  if (end) {
    r.end = parse_utc(*end, "--end");
  }
  if (!c.time_zone.empty()) {
    try {
      // Refused now rather than after the run.
      [[maybe_unused]] const backtest::ReportTime zone(c.time_zone);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(fmt::format("--tz: {}", e.what()));
    }
  }
  r.order_latency = latency_of(latency_ms);
  r.path = path == "vendor" ? backtest::EventPath::vendor : backtest::EventPath::direct;
  r.warm_up = std::chrono::minutes(warm_up.value_or(bar_look_back_minutes(c.engine)));
  return c;
}

}  // namespace orbrix::demo
