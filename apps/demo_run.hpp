#pragma once

// One run of the demo engine over the simulator: the whole stack, a tiny
// strategy, the console lines, the close-out and the closing summary.

#include <atomic>
#include <cstdio>

#include "demo_options.hpp"
#include "demo_summary.hpp"

namespace orbrix::telegram {
class TelegramBot;
}  // namespace orbrix::telegram

namespace orbrix::demo {

// Runs the demo until `options.duration` passes, `stop` becomes true (Ctrl-C)
// or the operator sends /stop through `bot` (when given; its requests are
// served from this thread), then closes out (cancels what works, closes
// what is open, waits up to options.close_out_bound for the account to be
// flat), logs off, shuts everything down, prints the summary and, with
// options.record, writes the run's files. Every wait in it is bounded. The
// demo's lines go to `out`; the gateway's traced lines go to their own
// stream (cqg::output_stream()) at OutputLevel::everything and nowhere
// otherwise. The simulator is the run's own (registered for the run), so
// runs in one process share nothing. Throws, after shutting down what it
// started: std::runtime_error for a symbol the simulator cannot resolve, a
// history file it refuses (with the reader's error), no gnuplot for
// --record, no log-on, a recording that cannot be written.
DemoSummary run_demo(const DemoOptions& options, const std::atomic<bool>& stop,
                     telegram::TelegramBot* bot, std::FILE* out = stdout);

}  // namespace orbrix::demo
