#pragma once

// A backtest: an engine (orbrix/cqg/engine.hpp) runs unchanged through the
// API host and BrokerLink over the simulator replaying recorded history, on
// the simulator's manual clock, driven as fast as the worker runs.
//
// How time passes. The run starts the simulator at `start` and moves its
// clock on by the engine's interval at a time; within each step every
// market event and every answer due falls due in time order, each handled
// to the end (hooks included) before the next. Then the engine's on_timer
// runs with the step's time, on the grid `start` + k x interval.
//
// Gaps. A recording pauses (nights, weekends, holidays), and a run does not
// step through a pause of more than an hour (kGapJump): when, over recorded
// history, nothing is due for longer than that (no row of a history, no
// answer of the venue, no order in transit), the run writes one line naming
// the gap to `notice` ("nothing is due from A to B (2 d 0 h): the clock
// jumps over it; the engine's timer resumes at C"), and moves the clock
// straight to the last time on the engine's grid before B, calling no
// on_timer in between; the timers resume at C, the first time on the grid
// at or after B. No equity point is sampled within the gap, and the
// instruments without a history (their random walks) pause for it,
// resuming where they stopped: the whole market is closed. The rest of a
// run after the last row is a gap like any other. A run without a history
// (a span of random walks) has no gaps. A pause of an hour or less is
// stepped through, a timer each interval.
//
// Warm-up and bar look-back. What comes before the start is the past that
// bar requests look back on. The gateway makes an engine's bar window from
// the answer to its request (all its bars but the newest, taken as still
// forming) and then only rolls it: a request the engine makes at its start
// that no bar before the start answers would leave it without a bar of
// that symbol for the whole run, so the run is refused before the first
// timer, naming the symbol, the look-back and what serves it. A look-back
// reaching further back than the run starts into the history is said in
// one line to `notice`; the window fills as the run goes.
//
// History is streamed: each file is read (and checked) whole before the
// run starts, keeping none of its rows, then read again as the clock
// reaches its rows; the run's memory does not grow with the history's
// length.
//
// The venue answers every request at once on the
// simulated clock (log-on, subscriptions, the account's reload, an order's
// acknowledgement), so an operation the engine calls never waits for the
// clock; with an order latency, a placed order is acknowledged at once and
// worked by the venue that much later in simulated time, at the prices of
// then. Nothing waits on the wall clock. A market order rests until the
// next quote of its instrument, so the orders the engine's stop places are
// worked during one more minute of history after the end, when the history
// goes on; what is still open then is reported as open.
//
// In a backtest only the instruments of the histories trade: the engine's
// request for another (a quote subscription, bars or ticks) raises, naming
// it, and so ends the run with that reason if the engine lets it through.
// (The simulator's generated market is for live sessions; a run given no
// history, a span only, trades on it.) At the end of the data, working
// orders and open positions stay as they are, the positions marked to the
// last price, and the summary lists both; with `close_at_end` the run
// cancels the orders and closes the positions at the last quote instead.
//
// The same options, files and seed give the same run: the same orders,
// deals, figures and report, byte for byte, on either path of the events
// (EventPath). Every time the engine receives is the simulated clock's: the
// `now` of its timer, and the time stamps of the quotes, order books and
// positions the gateway hands it (local time, converted as the live
// gateway converts the wall clock's).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/cqg/engine.hpp"
#include "orbrix/cqgsim/config.hpp"
#include "orbrix/cqgsim/driver.hpp"
#include "orbrix/cqgsim/venue_report.hpp"

namespace orbrix::backtest {

using TimePoint = std::chrono::system_clock::time_point;

// How the simulator's events reach BrokerLink: handed over decoded (direct,
// a backtest's own path, which builds no vendor objects per event) or fired
// with the vendor's objects, which the gateway reads member by member as it
// does against the vendor's server (vendor). Both apply the events with the
// same code and give the same run.
enum class EventPath { direct, vendor };

// The longest span with nothing due that a run steps through.
inline constexpr std::chrono::hours kGapJump{1};

// How far a run has come, for a progress display.
struct BacktestProgress {
  std::size_t rows = 0;        // history rows replayed so far
  cqgsim::VenueTime now{};     // the simulated time reached
  cqgsim::VenueTime start{};   // the span run: its start
  cqgsim::VenueTime end{};     // and its end
  double fraction = 0;         // of the simulated span from start to end, 0 to 1
  double wall_seconds = 0;     // since the run began
  double rows_per_second = 0;  // so far
  // At the pace so far (of simulated time); none before any has passed.
  std::optional<double> seconds_left{};
};

// How run_backtest runs an engine.
struct BacktestOptions {
  // Recorded histories: a file per symbol, or a file of several symbols
  // (empty symbol, a symbol column in the file).
  std::vector<cqgsim::HistorySource> histories{};
  // The span run. Unset: from `warm_up` after the minute of the first
  // record (what comes before is the past that quotes start from and bar
  // requests look back on: give at least the engine's bar look-back) to the
  // minute after the last record.
  std::optional<TimePoint> start{};
  std::optional<TimePoint> end{};
  std::chrono::minutes warm_up{30};
  // The seed of the market of the instruments without a history.
  std::uint64_t seed = 1;
  cqgsim::FillModel fill_model{};
  std::chrono::milliseconds order_latency{0};
  // The account the engine trades (the simulator's first, by default).
  std::int64_t account = 100001;
  // How often the account is sampled for the equity curve, in simulated time.
  std::chrono::milliseconds equity_every = std::chrono::minutes(1);
  EventPath path = EventPath::direct;
  // The run's thread and the API host's worker wait for each other's step
  // with a spin before they sleep: on a machine with a core for each, two
  // wake-ups a step saved. Off where other runs share the cores (a sweep's
  // cells, one per core), where a spin takes a core another run needs.
  bool spin = true;
  // For tests and tools: called on the run's thread with the simulator's
  // driver once the gateway is logged on, before the engine starts (to
  // drop the gateway connection during the run, say). The driver serves
  // until the run returns.
  std::function<void(cqgsim::SimDriver&)> with_simulator{};
  // Where the run says what a user should know of it, one line a call (a
  // gap jumped, a bar look-back the warm-up does not serve), on the run's
  // thread. Unset: standard error, as "backtest: <line>".
  std::function<void(std::string_view line)> notice{};
  // At the end of the data: cancel the working orders and close the open
  // positions at the last quote (a sell at the bid, a buy at the ask, with
  // the fill model's slippage and commission), after the engine's stop.
  // Off: they stay, listed by the summary, the positions marked to the last
  // price.
  bool close_at_end = false;
  // Where the library's traced lines (cqg::Trace, the API host's lines) go
  // while the run goes: this file, created (with its folder) or truncated,
  // through cqg::set_trace_sink; the sink set before is put back when the
  // run returns. Empty: they go where they go.
  std::filesystem::path trace_log{};
  // Called on the run's thread about every `progress_every` of wall time
  // while the run goes, and once when the data is done (fraction 1). What
  // it throws ends the run, as the engine's errors do.
  std::function<void(const BacktestProgress&)> progress{};
  std::chrono::milliseconds progress_every = std::chrono::seconds(1);
};

// The instruments (short symbols) of the history files, in the order given,
// each once: those a backtest over them trades by default. Reads and checks
// each file whole as a run does; throws as run_backtest does for a file it
// refuses.
std::vector<std::string> history_symbols(const std::vector<cqgsim::HistorySource>& histories);

// An order as its last change left it.
struct OrderResult {
  cqgsim::OrderReport last{};  // the venue's report of the order after its last change
  cqgsim::VenueTime placed{};  // when it was placed, in simulated time
};

// A fill of the run, as the venue booked it.
struct Deal {
  std::string deal_id{};      // the venue's id of the fill
  std::string order_id{};     // the order it filled
  std::string symbol{};       // full name
  bool buy = true;            // false: a sell
  std::int64_t quantity = 0;  // contracts
  double price = 0;           // the fill price
  double commission = 0;      // in the account's currency
  cqgsim::VenueTime time{};   // in simulated time
};

// One sample of the account's equity curve (every BacktestOptions::equity_every).
struct EquityPoint {
  cqgsim::VenueTime time{};          // in simulated time
  double net_liquidating_value = 0;  // balance plus open trade equity
  double balance = 0;                // cash
  double realized_pnl = 0;           // after commissions
  double open_trade_equity = 0;      // the open positions marked to the market
  double drawdown = 0;               // below the highest net liquidating value so far
};

// A symbol's P&L as the venue books it at one sample of the equity curve.
struct SymbolPnl {
  cqgsim::VenueTime time{};      // in simulated time
  std::string symbol{};          // full name
  double realized_pnl = 0;       // before commissions
  double open_trade_equity = 0;  // its open position marked to the market
  double commissions = 0;        // paid so far
};

// One symbol's outcome at the end of the run.
struct SymbolResult {
  std::string symbol{};                   // full name
  std::string name{};                     // as the engine names it ("EP" for F.US.EPZ26)
  std::int64_t position = 0;              // held at the end: above 0 long, below 0 short
  double realized_pnl = 0;                // before commissions
  double unrealized_pnl = 0;              // the position at the end marked to the last price
  double commissions = 0;                 // paid in all
  std::size_t deals = 0;                  // fills
  std::size_t round_trips = 0;            // times the position went back to flat
  std::vector<cqgsim::BarReport> bars{};  // the run's one-minute bars
};

// What run_backtest returns: the run as data (report.hpp writes it out).
struct BacktestResult {
  cqgsim::VenueTime start{};            // the span run: its start
  cqgsim::VenueTime end{};              // and its end
  std::vector<OrderResult> orders{};    // in placement order
  std::vector<Deal> deals{};            // in execution order
  std::vector<EquityPoint> equity{};    // the account's equity curve
  std::vector<SymbolPnl> symbol_pnl{};  // each traded symbol's at each equity sample
  std::vector<SymbolResult> symbols{};  // every symbol recorded or traded
  cqgsim::AccountReport account{};      // at the end
  double max_drawdown = 0;              // the largest drawdown of the equity curve
  std::size_t round_trips = 0;          // of every symbol
  std::size_t history_rows = 0;         // rows of the histories replayed from the start to the end
  double wall_seconds = 0;              // the run's own time, for its speed only
};

// Runs `engine` over the history. Throws std::invalid_argument for bad
// options (no history and no span, an end before the start) and for a bar
// window the history before the start leaves empty (above), the history
// reader's error for a file it refuses (naming file, line and column; a row
// changed since its check is refused when the run reaches it), and what
// the engine's start or stop throws. The API host and the simulator are the run's own: several runs
// may follow one another in a process, not overlap.
BacktestResult run_backtest(cqg::Engine& engine, const BacktestOptions& options);

}  // namespace orbrix::backtest
