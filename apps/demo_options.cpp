#include "demo_options.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <set>

#include "program_options.hpp"

namespace orbrix::demo {
namespace {

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

// `text` broken at its ", " separators into lines of at most `width`
// characters where it can, joined by `line_break`.
std::string wrapped(std::string_view text, std::size_t width, std::string_view line_break) {
  std::string out;
  std::size_t line = 0;
  while (!text.empty()) {
    const auto comma = text.find(", ");
    const auto piece = text.substr(0, comma == std::string_view::npos ? text.size() : comma + 1);
    if (line > 0 && line + 1 + piece.size() > width) {
      out.append(line_break);
      line = 0;
    } else if (line > 0) {
      out.push_back(' ');
      ++line;
    }
    out.append(piece);
    line += piece.size();
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 2);
  }
  return out;
}

// "2.5" seconds as milliseconds: a finite number from `min_ms` up to a year.
std::chrono::milliseconds seconds_of(std::string_view text, std::string_view what,
                                     std::int64_t min_ms) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    throw std::invalid_argument(
        fmt::format("--drop-gateway-at: {} '{}' is not a number of seconds", what, text));
  }
  const double ms = std::round(value * 1000);
  if (ms < static_cast<double>(min_ms) || value > static_cast<double>(kMaxDemoSeconds)) {
    throw std::invalid_argument(
        fmt::format("--drop-gateway-at: {} '{}' is out of range ({})", what, text,
                    min_ms > 0 ? "above 0 up to a year" : "0 up to a year"));
  }
  return std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

GatewayDrop drop_of(const std::string& text) {
  GatewayDrop drop;
  const auto comma = text.find(',');
  drop.at = seconds_of(std::string_view(text).substr(0, comma), "SECONDS", 0);
  if (comma != std::string::npos) {
    drop.length = seconds_of(std::string_view(text).substr(comma + 1), "FOR_SECONDS", 1);
  }
  return drop;
}

HistoryFile history_of(const std::string& text, const std::vector<std::string>& symbols) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) {
    throw std::invalid_argument(
        fmt::format("--history: '{}' is not SYMBOL=FILE (e.g. EP=ep_quotes.csv)", text));
  }
  HistoryFile h{.symbol = upper(text.substr(0, eq)), .path = text.substr(eq + 1)};
  if (std::find(symbols.begin(), symbols.end(), h.symbol) == symbols.end()) {
    throw std::invalid_argument(
        fmt::format("--history: {} is not one of the traded symbols (--symbols)", h.symbol));
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(h.path, ec)) {
    throw std::invalid_argument(fmt::format("--history: {}: no such file", h.path));
  }
  return h;
}

// The symbols of "--symbols": comma-separated, upper-cased, each once; an
// empty piece (",", "EP,,ENQ", a trailing comma) is refused.
std::vector<std::string> symbols_of(const std::string& text) {
  if (text.empty()) {
    throw std::invalid_argument("--symbols: give at least one symbol");
  }
  std::vector<std::string> out;
  std::set<std::string> seen;
  std::size_t from = 0;
  for (;;) {
    const auto comma = text.find(',', from);
    std::string s = upper(text.substr(from, comma - from));
    if (s.empty()) {
      throw std::invalid_argument(fmt::format(
          "--symbols: an empty symbol in \"{}\" (a comma at an end, or two in a row?)", text));
    }
    if (!seen.insert(s).second) {
      throw std::invalid_argument(fmt::format("--symbols: {} is given twice", s));
    }
    out.push_back(std::move(s));
    if (comma == std::string::npos) {
      return out;
    }
    from = comma + 1;
  }
}

}  // namespace

DemoOptions parse_options(int argc, char** argv) {
  DemoOptions o;
  CLI::App app(
      "A small engine over the CQGCEL simulator: logs on, subscribes quotes, order books and "
      "one-minute bars, trades a tiny strategy, closes out flat at the end and prints a "
      "summary.",
      "orbrix-demo");
  add_version_flag(app, "orbrix-demo");
  app.footer(
      "Examples:\n"
      "  orbrix-demo --seconds 30 --symbols EP,CLE --seed 7\n"
      "  orbrix-demo --quiet --drop-gateway-at 5,3\n"
      "  orbrix-demo --history EP=gateways/cqg/sim/venue/market/data/ep_quotes_sample.csv\n"
      "  orbrix-demo --summary --record run1");
  app.footer(
      fmt::format("{}\n\nSymbols the simulator lists (short, dated as EPZ26 or full as "
                  "F.US.EPZ26, any case):\n  {}",
                  app.get_footer(), wrapped(kSimulatedSymbols, 76, "\n  ")));
  std::int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(o.duration).count();
  app.add_option("--seconds", seconds, "how long to trade, in seconds, before the close-out")
      ->check(CLI::Range(std::int64_t{1}, kMaxDemoSeconds))
      ->capture_default_str();
  // One text, split here: the option library's own splitting drops empty
  // pieces, and a lone "," would leave the option wanting the next word.
  std::string symbols = fmt::format("{}", fmt::join(o.symbols, ","));
  app.add_option("--symbols", symbols,
                 "the instruments to trade, comma-separated; each must be one the simulator "
                 "resolves")
      ->type_name("A,B")
      ->capture_default_str();
  app.add_option("--seed", o.seed, "the simulated market's seed")
      ->check(seed_check())
      ->capture_default_str();
  std::vector<std::string> histories;
  app.add_option("--history", histories,
                 "a recorded history file a traded symbol replays (repeatable)")
      ->type_name("SYMBOL=FILE");
  app.add_option("--account", o.account, "the trading account")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  bool no_strategy = false;
  app.add_flag("--no-strategy", no_strategy, "trade only from the bot");
  bool quiet = false, summary_only = false;
  app.add_flag("--quiet", quiet,
               "only the demo's own lines: orders, deals, balance, positions, connection, "
               "summary");
  app.add_flag("--summary", summary_only, "only the summary");
  std::string drop;
  app.add_option("--drop-gateway-at", drop,
                 "the simulator drops the gateway connection SECONDS into the run and restores "
                 "it FOR_SECONDS later (5 by default); recovery logs on again")
      ->type_name("SECONDS[,FOR_SECONDS]");
  std::string record;
  app.add_option("--record", record,
                 "write orders, deals, balance and bars as CSV files and a chart per symbol "
                 "(PNG, drawn with gnuplot) into DIR")
      ->type_name("DIR");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    throw HelpRequested(app.help());
  } catch (const CLI::CallForVersion& e) {
    throw HelpRequested(std::string(e.what()) + "\n");
  } catch (const CLI::ParseError& e) {
    throw std::invalid_argument(fmt::format("{}\nRun with --help for the options.", e.what()));
  }
  o.duration = std::chrono::seconds(seconds);
  o.strategy = !no_strategy;
  if (quiet && summary_only) {
    throw std::invalid_argument("--quiet and --summary: give one of them");
  }
  o.output = summary_only ? OutputLevel::summary
             : quiet      ? OutputLevel::quiet
                          : OutputLevel::everything;
  o.symbols = symbols_of(symbols);
  for (const auto& text : histories) {
    auto h = history_of(text, o.symbols);
    for (const auto& earlier : o.histories) {
      if (earlier.symbol == h.symbol) {
        throw std::invalid_argument(fmt::format("--history: {} is given twice", h.symbol));
      }
    }
    o.histories.push_back(std::move(h));
  }
  if (!drop.empty()) {
    o.drop_gateway = drop_of(drop);
    if (o.drop_gateway->at >= o.duration) {
      throw std::invalid_argument(fmt::format(
          "--drop-gateway-at: {} is not before the end of the run (--seconds {})", drop, seconds));
    }
  }
  if (!record.empty()) {
    o.record = record;
  }
  return o;
}

}  // namespace orbrix::demo
