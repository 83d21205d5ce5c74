#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/telegram/bot_api.hpp"
#include "orbrix/telegram/control_state.hpp"
#include "orbrix/telegram/customed_ext_bot.hpp"
#include "orbrix/telegram/log.hpp"
#include "orbrix/telegram/updater.hpp"

namespace orbrix::telegram {

// How a TelegramBot is made: its Bot API client, its polling, the chats it
// serves, confirmations and limits.
struct BotOptions {
  ApiOptions api;          // the Bot API's URL, time-outs and retries
  PollingOptions polling;  // long polling and stale commands
  // The chat send_message writes to when no chat is given (TELEGRAM_CHAT_ID).
  std::optional<std::int64_t> default_chat_id;
  // Further chats whose commands are served (TELEGRAM_ALLOWED_CHAT_IDS); the
  // default chat is always allowed, every other chat is refused.
  std::vector<std::int64_t> allowed_chat_ids;
  // Requests of one kind that may wait for the engine; a command beyond
  // this is refused with a reply (TELEGRAM_MAX_PENDING_REQUESTS). At least 1.
  std::size_t max_pending = RequestQueues::default_limit;
  // Confirm / Cancel before /send_order, /cancel_order, /cancel_orders,
  // /close_positions, /halt, /reduce and /resume (TELEGRAM_CONFIRM_TRADES,
  // TELEGRAM_CONFIRM_SECONDS). When on, polling also asks for button presses (callback queries).
  ConfirmOptions confirm;
  // Reply time stamps; default the local wall clock.
  CustomedExtBot::Clock clock;
  // Diagnostic lines; default write_line (standard output).
  LogSink log;
  // False for a bot that only sends (the connectivity check): it must not
  // take, answer and confirm commands meant for the engine.
  bool start_polling = true;
};

// The control bot: polls Telegram from construction until close(), turns chat
// commands into requests on the control state, and lets the host engine read,
// serve and retire them from its own thread.
//
// Host protocol: poll the flags (or the take_* calls, which read a request and
// retire it in one step), carry the request out, answer with send_message,
// and lower the flag. Requests of a kind queue in arrival order and the
// properties show the oldest (see CustomedExtBot for each getter and
// setter), so an engine that serves one request per flag per poll sees every
// one in turn. orbrix_status() == "Terminated" asks the engine to stop; what
// it leaves unserved it hands to abandon_pending().
class TelegramBot {
 public:
  // The bot's description: the command list /help answers with.
  static constexpr std::string_view description =
      "\n"
      "    <Orbrix TelegramBot> Available commands:\"\n"
      "    1. /stop\n"
      "    2. /balance\n"
      "    3. /positions\n"
      "    4. /orders\n"
      "    5. /deals\n"
      "    6. /cancel_order\n"
      "    7. /cancel_orders\n"
      "    8. /send_order\n"
      "    9. /close_positions\n"
      "    10. /help\n"
      "    ";

  // Builds the client bot, the control state and the handlers, and starts
  // polling (unless options.start_polling is false); returns at once. Writes
  // one line when no chat is allowed to command. Throws std::invalid_argument
  // for a token not of the form "<digits>:<secret>" or an unusable API URL,
  // std::system_error when a thread cannot start.
  explicit TelegramBot(std::string token, BotOptions options = {});
  // Closes.
  ~TelegramBot();
  TelegramBot(const TelegramBot&) = delete;
  TelegramBot& operator=(const TelegramBot&) = delete;

  // Stops polling and dispatching and confirms the handled updates to the
  // server (see Updater::stop), then answers each request still pending as
  // abandon_pending() does. Host thread; blocks at most about twice the
  // close time-out, plus the notices; idempotent. Raises std::logic_error
  // when called from a handler (it would wait for itself).
  void close();

  // Retires every pending request and tells the chat each came from, one
  // message per request in arrival order, that it was not carried out and
  // why ("[time] Not carried out (<reason>): /send_order ..."). A request the
  // host raised itself, and every notice after one that failed to send, is
  // a diagnostic line instead. Returns the number of requests retired. Host
  // thread; blocks for the notices (each up to the request time-out).
  std::size_t abandon_pending(std::string_view reason);

  // Fetches the pending updates without confirming them, keeps them in
  // updates() and writes the first as a diagnostic line. Host thread; blocks
  // up to the request time-out. Raises the BotApi errors, and
  // std::out_of_range when nothing is pending.
  void get_updates();

  // get_updates(), then the id of the user who sent the first update's
  // message. Raises as get_updates, and std::out_of_range when the first
  // update has no message or sender.
  std::int64_t get_chat_id();

  // Sends `msg` (split when longer than one message may be, never into an
  // empty or blank piece) to the default chat, or to `chat_id`. A message
  // refused with 429 is sent again after the wait the server names (twice
  // at most, 10 s of waiting in all; see ExtBot::send_message). Any thread;
  // blocks up to the request time-out per message plus those waits; raises
  // the BotApi errors, and std::invalid_argument (before sending anything)
  // when `msg` is empty or blank, or when no chat is given and there is no
  // default chat.
  void send_message(std::string_view msg);
  void send_message(std::string_view msg, std::int64_t chat_id);

  // The updates of the last get_updates() call; nullopt before the first.
  std::optional<std::vector<Update>> updates() const;

  // Control-state properties, one getter and one setter per field, with the
  // meaning CustomedExtBot gives them; any thread; never block for long.
#define ORBRIX_TELEGRAM_BOT_PROPERTY(role, type, name, initial, kind) \
  type name() const {                                                 \
    return bot_->name();                                              \
  }                                                                   \
  void name(type value) {                                             \
    bot_->name(std::move(value));                                     \
  }
  // A getter and a setter per field (orbrix_status, get_balance,
  // order_string, ...), as customed_ext_bot.hpp gives them.
  ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_TELEGRAM_BOT_PROPERTY)
#undef ORBRIX_TELEGRAM_BOT_PROPERTY

  // Requests of `kind` waiting for the engine. Any thread.
  std::size_t pending(RequestKind kind) const {
    return bot_->pending(kind);
  }

  // snapshot() copies the whole control state; each take_...() reads the
  // oldest request of its kind and retires it in one step (false or nullopt
  // when none is pending). Any thread; never block for long.
  ControlState snapshot() const {
    return bot_->snapshot();
  }
  bool take_balance() {
    return bot_->take_balance();
  }
  bool take_positions() {
    return bot_->take_positions();
  }
  std::optional<OrdersRequest> take_orders() {
    return bot_->take_orders();
  }
  std::optional<std::int64_t> take_deals() {
    return bot_->take_deals();
  }
  std::optional<CancelOrderRequest> take_cancel_order() {
    return bot_->take_cancel_order();
  }
  bool take_cancel_orders() {
    return bot_->take_cancel_orders();
  }
  std::optional<std::string> take_send_order() {
    return bot_->take_send_order();
  }
  std::optional<ClosePositionsRequest> take_close_positions() {
    return bot_->take_close_positions();
  }
  std::optional<HaltRequest> take_halt() {
    return bot_->take_halt();
  }
  std::optional<std::string> take_reduce() {
    return bot_->take_reduce();
  }
  bool take_resume() {
    return bot_->take_resume();
  }
  bool take_risk() {
    return bot_->take_risk();
  }

  // False once closed, or after the server refused the token.
  bool polling() const {
    return updater_->running();
  }
  std::optional<std::int64_t> default_chat_id() const noexcept {
    return default_chat_id_;
  }
  // Whether any chat may command the bot (the default chat or an allowed
  // one); without one, every chat's commands are refused.
  bool serves_commands() const noexcept {
    return serves_commands_;
  }

  // The polling updater and the Bot API client underneath, for tests and
  // tools.
  Updater& updater() noexcept {
    return *updater_;
  }
  CustomedExtBot& bot() noexcept {
    return *bot_;
  }

 private:
  std::optional<std::int64_t> default_chat_id_;
  bool serves_commands_ = false;
  LogSink log_;
  std::unique_ptr<CustomedExtBot> bot_;
  std::unique_ptr<Updater> updater_;
  mutable Mutex mutex_;
  std::optional<std::vector<Update>> updates_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::telegram
