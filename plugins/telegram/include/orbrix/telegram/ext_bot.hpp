#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/common/mutex.hpp"
#include "orbrix/telegram/bot_api.hpp"

namespace orbrix::telegram {

// The client bot: the Bot API plus what the framework learns about the bot
// (its user name) and message splitting. Shared by the updater, the
// dispatcher and the host; every method is thread-safe.
class ExtBot {
 public:
  // Throws std::invalid_argument for an unusable token (see BotApi).
  ExtBot(std::string token, ApiOptions options = {});
  virtual ~ExtBot() = default;
  ExtBot(const ExtBot&) = delete;
  ExtBot& operator=(const ExtBot&) = delete;

  // getMe; remembers the user name for recognising "/cmd@name". Blocks up to
  // the request time-out; raises the BotApi errors.
  User get_me(CancelSource* cancel = nullptr);

  // getUpdates (see BotApi::get_updates).
  UpdateBatch get_updates(std::int64_t offset, std::chrono::seconds poll_timeout,
                          std::chrono::milliseconds abandon_after, CancelSource* cancel = nullptr,
                          const std::vector<std::string>& allowed_updates = {});

  // deleteWebhook (see BotApi::delete_webhook).
  void delete_webhook(CancelSource* cancel = nullptr) { api_.delete_webhook(cancel); }

  // Sends `text` to `chat_id`, split into several messages when it is longer
  // than one message may be (never an empty or blank one); the keyboard, if
  // any, goes with the last. A message refused with 429 and a retry_after is
  // sent again after that wait, at most ApiOptions::send_retries times and
  // send_retry_budget of waiting in all; a wait past the budget is not made
  // and the 429 is raised at once. Nothing else is retried: a 5xx, a network
  // error or a time-out (which may have delivered) never sends twice.
  // Blocks up to the request time-out per message plus those waits; raises
  // std::invalid_argument before sending anything for an empty or blank
  // text, and the BotApi errors (Cancelled while the bot is being closed
  // with a handler still running).
  void send_message(std::int64_t chat_id, std::string_view text,
                    const InlineKeyboard* keyboard = nullptr);

  // answerCallbackQuery (see BotApi). Blocks up to the request time-out.
  void answer_callback_query(const std::string& callback_query_id, std::string_view text) {
    api_.answer_callback_query(callback_query_id, text, &replies_);
  }

  // setMyCommands (see BotApi). Blocks up to the request time-out.
  void set_my_commands(const std::vector<BotCommand>& commands, CancelSource* cancel = nullptr) {
    api_.set_my_commands(commands, cancel);
  }

  // The bot's user name once getMe has answered. Any thread.
  std::optional<std::string> username() const;
  void set_username(std::optional<std::string> name);

  // Abandons replies in flight and makes new ones raise Cancelled until
  // resume_replies(). Any thread; does not block.
  void cancel_replies() { replies_.cancel(); }
  void resume_replies() { replies_.reset(); }

  BotApi& api() noexcept { return api_; }
  std::string redact(std::string text) const { return api_.redact(std::move(text)); }

 private:
  void send_piece(std::int64_t chat_id, std::string_view piece, const InlineKeyboard* keyboard);

  BotApi api_;
  CancelSource replies_;
  mutable Mutex mutex_;
  std::optional<std::string> username_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::telegram
