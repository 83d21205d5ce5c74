#pragma once

// The demo's command line.

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "console.hpp"
#include "orbrix/cqg/risk_limits.hpp"

namespace orbrix::demo {

// The twelve futures the simulator lists, by short symbol, for the help text
// and for the error that refuses a symbol it cannot resolve.
inline constexpr std::string_view kSimulatedSymbols =
    "EP (E-mini S&P 500), ENQ (E-mini Nasdaq-100), DD (E-mini Dow), "
    "TYA (10-Year Treasury Note), USA (Treasury Bond), EU6 (Euro FX), "
    "JY6 (Japanese Yen), BP6 (British Pound), GCE (Gold), SIE (Silver), "
    "CLE (Crude Oil), NGE (Natural Gas)";

// A recorded history (see the simulator's README) an instrument replays.
struct HistoryFile {
  std::string symbol;  // one of the run's symbols
  std::string path;

  friend bool operator==(const HistoryFile&, const HistoryFile&) = default;
};

// The simulator's gateway connection drops `at` after the start of the run
// and is restored `length` later.
struct GatewayDrop {
  std::chrono::milliseconds at{0};
  std::chrono::milliseconds length{std::chrono::seconds(5)};

  friend bool operator==(const GatewayDrop&, const GatewayDrop&) = default;
};

// Limits that suit the demo's few one- and two-lot orders while stopping a
// fat finger: 10 a order, 20 a symbol, 20 working, 20 a second, limits and
// stops within 5 % of the market, 50 000 of loss a day.
inline cqg::RiskLimits demo_risk_limits() {
  return {.max_order_qty = 10,
          .max_position = 20,
          .max_working_orders = 20,
          .max_orders_per_second = 20,
          .price_collar_pct = 5,
          .allow_orders_without_quote = true,
          .max_daily_loss = 50'000};
}

struct DemoOptions {
  std::chrono::milliseconds duration{std::chrono::seconds(20)};
  // Short vendor symbols, upper case, each once.
  std::vector<std::string> symbols{"EP", "ENQ", "GCE"};
  std::uint64_t seed = 1;
  std::vector<HistoryFile> histories;
  // The pre-trade limits the demo's link checks orders against
  // (demo_risk_limits: the configuration's RISK_ keys, else the demo's own).
  cqg::RiskLimits risk = demo_risk_limits();
  OutputLevel output = OutputLevel::everything;
  std::int64_t account = 100001;
  // One-minute bars to look back on.
  std::int64_t bar_lookback = 20;
  // Whether the demo's own strategy trades (off: only the operator does).
  bool strategy = true;
  std::optional<GatewayDrop> drop_gateway;
  // Where --record writes its CSV files and charts.
  std::optional<std::string> record;
  // How long the close-out at the end may wait for the account to be flat
  // (after a drop still running then is over).
  std::chrono::milliseconds close_out_bound{std::chrono::seconds(20)};
  // The gateway's pause between dropping and restoring the account
  // subscription (its own default; tests shorten it).
  std::chrono::milliseconds account_reload_pause{std::chrono::seconds(2)};
};

// The longest run the demo takes: a year.
inline constexpr std::int64_t kMaxDemoSeconds = 365LL * 24 * 3600;

// --help or --version: the text to print before ending successfully.
class HelpRequested : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the command line (see --help). Throws HelpRequested with the help
// text for --help (the defaults shown), the version for --version, and std::invalid_argument naming
// the option and the reason for anything it refuses: an unknown option, a number that is not one or
// is out of range, an empty or repeated symbol, a history for a symbol not traded or given twice or
// whose file does not exist, a drop that starts after the run ends, --quiet with --summary.
DemoOptions parse_options(int argc, char** argv);

}  // namespace orbrix::demo
