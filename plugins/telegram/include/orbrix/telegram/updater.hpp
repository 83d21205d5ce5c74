#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "orbrix/common/mutex.hpp"
#include "orbrix/telegram/cancel_source.hpp"
#include "orbrix/telegram/dispatcher.hpp"
#include "orbrix/telegram/log.hpp"
#include "orbrix/telegram/types.hpp"

namespace orbrix::telegram {

class CustomedExtBot;

struct PollingOptions {
  // Server-side long-poll time-out of getUpdates.
  std::chrono::seconds poll_timeout{30};
  // A poll with no answer after poll_timeout + poll_margin is abandoned.
  std::chrono::milliseconds poll_margin{10'000};
  // Back-off after a failed call: starts at backoff_initial, doubles up to
  // backoff_max; each wait is drawn between half the step and the whole step.
  std::chrono::milliseconds backoff_initial{1'000};
  std::chrono::milliseconds backoff_max{30'000};
  // stop() waits this long for a running handler, and as long again for the
  // final confirmation to the server.
  std::chrono::milliseconds close_timeout{5'000};
  // Messages the first polls after start bring that were sent longer than
  // this before the start (by the machine's clock) are confirmed without
  // being run: a /stop or /send_order queued while the engine was down must
  // not act when it comes back. The first poll that brings no such message
  // ends the check.
  std::chrono::seconds stale_after{300};
  // The kinds of update asked for. The server remembers the last list it
  // was given, so it is sent with every getUpdates.
  std::vector<std::string> allowed_updates{"message"};
};

// Long polling on one thread, handlers on another, one update at a time in
// update order. An update is confirmed to the server (by the offset of the
// next getUpdates) only once it has been handled or deliberately skipped (an
// unreadable item, a stale message at start-up), and the next poll waits for
// the current batch to be handled, so an update is never confirmed unhandled.
class Updater {
 public:
  Updater(CustomedExtBot& bot, PollingOptions options, LogSink log);
  // Stops polling (see stop()).
  ~Updater();
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  CustomedExtBot& bot() noexcept { return bot_; }
  Dispatcher& dispatcher() noexcept { return dispatcher_; }

  // The command menu registered at start (setMyCommands); none by default.
  // Set before start_polling().
  void set_commands(std::vector<BotCommand> commands) { commands_ = std::move(commands); }

  // Starts the poller and dispatcher threads and returns at once; the poller
  // first learns the bot's user name (getMe), removes any webhook
  // (deleteWebhook, keeping pending updates) and registers the command menu
  // (setMyCommands: tried once, a failure is one diagnostic line), then polls. The machine's
  // clock at this call is the start against which stale messages are told.
  // Throws std::logic_error when called twice.
  void start_polling();

  // Ends polling and dispatching, lets a running handler finish (up to
  // close_timeout, then its reply is abandoned), and confirms the handled
  // and skipped updates to the server with a getUpdates without wait. Updates not
  // yet handled stay on the server for the next start. Blocks at most about
  // twice close_timeout; idempotent. Raises std::logic_error when called on
  // the dispatcher thread (from a handler), which it would have to join.
  void stop();

  // True while the poller runs: false before start, after stop, and after the
  // server refused the token (401/404).
  bool running() const;

  // The updates pending on the server, without confirming any. While polling,
  // the poller makes the call between two polls, so the bot never competes
  // with itself. Blocks up to the request time-out; raises the BotApi errors.
  std::vector<Update> fetch_pending();

  // Id of the last handled update, if any.
  std::optional<std::int64_t> last_handled() const;

 private:
  void poll_loop();
  void dispatch_loop();
  // getMe, then deleteWebhook, each retried until it succeeds, then
  // setMyCommands. False when polling must end.
  bool prepare();
  // setMyCommands with the menu, when there is one. Raises only Cancelled.
  void register_commands();
  // Queues what a poll with `offset` brought and writes what it skipped.
  // False when the answer was not empty yet confirmed nothing new (a server
  // that ignores offset, an item that cannot be placed): the caller backs off.
  bool take_batch(std::int64_t offset, UpdateBatch batch);
  // How long before start the message of `update` was sent, when that makes
  // it stale (see PollingOptions::stale_after).
  std::optional<std::int64_t> stale_age(const Update& update) const;
  enum class Next { stop, fetch, call };
  // Decides the poller's next step; re-arms poll_cancel_ before a call.
  Next next_step(bool wait_for_dispatch);
  // Makes the getUpdates a fetch_pending() caller asked for.
  void serve_fetch();
  void on_success();
  // Handles a failed call: reports, waits the back-off. False when polling
  // must end (stop requested or the token refused).
  bool recover(const char* method, std::exception_ptr error);
  std::chrono::milliseconds next_backoff();
  // Waits up to `delay`; returns early on stop or a fetch request.
  void pause(std::chrono::milliseconds delay);
  std::chrono::milliseconds abandon_after() const;

  CustomedExtBot& bot_;
  PollingOptions options_;
  LogSink log_;
  std::vector<BotCommand> commands_;
  Dispatcher dispatcher_;
  CancelSource poll_cancel_;
  Mutex fetch_mutex_;  // one fetch_pending() at a time

  // Poller-thread state.
  int failures_ = 0;
  bool conflict_reported_ = false;
  bool rate_limit_reported_ = false;
  bool stall_reported_ = false;
  bool failing_ = false;
  bool startup_ = true;  // the polls that may bring stale messages
  std::minstd_rand rng_;
  // Unix time of start_polling(); written before the poller starts.
  std::int64_t started_at_ = 0;

  mutable Mutex mutex_;
  CondVar cv_;
  bool started_ GUARDED_BY(mutex_) = false;
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool stopped_ GUARDED_BY(mutex_) = false;
  bool polling_ GUARDED_BY(mutex_) = false;
  bool dispatch_stop_ GUARDED_BY(mutex_) = false;
  bool handler_running_ GUARDED_BY(mutex_) = false;
  std::deque<Update> queue_ GUARDED_BY(mutex_);
  std::int64_t next_offset_ GUARDED_BY(mutex_) = 0;       // offset of the next poll
  std::int64_t confirmed_offset_ GUARDED_BY(mutex_) = 0;  // offset of the last answered poll
  std::optional<std::int64_t> last_handled_ GUARDED_BY(mutex_);
  // A fetch_pending() call handed to the poller.
  bool fetch_requested_ GUARDED_BY(mutex_) = false;
  bool fetch_done_ GUARDED_BY(mutex_) = false;
  std::vector<Update> fetch_result_ GUARDED_BY(mutex_);
  std::exception_ptr fetch_error_ GUARDED_BY(mutex_);

  std::thread::id dispatcher_id_ GUARDED_BY(mutex_);
  std::thread poller_;
  std::thread dispatcher_thread_;
};

}  // namespace orbrix::telegram
