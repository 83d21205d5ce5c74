#include "orbrix/telegram/ext_bot.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "orbrix/telegram/errors.hpp"
#include "text.hpp"

namespace orbrix::telegram {

ExtBot::ExtBot(std::string token, ApiOptions options)
    : api_(std::move(token), std::move(options)) {}

User ExtBot::get_me(CancelSource* cancel) {
  User me = api_.get_me(cancel);
  set_username(me.username);
  return me;
}

UpdateBatch ExtBot::get_updates(std::int64_t offset, std::chrono::seconds poll_timeout,
                                std::chrono::milliseconds abandon_after, CancelSource* cancel,
                                const std::vector<std::string>& allowed_updates) {
  return api_.get_updates(offset, poll_timeout, abandon_after, cancel, allowed_updates);
}

void ExtBot::send_message(std::int64_t chat_id, std::string_view message,
                          const InlineKeyboard* keyboard) {
  const std::vector<std::string> pieces = text::split_message(message);
  // Telegram refuses such a text ("message text is empty").
  if (pieces.empty()) {
    throw std::invalid_argument("Telegram message text is empty or blank");
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    send_piece(chat_id, pieces[i], i + 1 == pieces.size() ? keyboard : nullptr);
  }
}

void ExtBot::send_piece(std::int64_t chat_id, std::string_view piece,
                        const InlineKeyboard* keyboard) {
  const ApiOptions& options = api_.options();
  std::chrono::milliseconds waited{0};
  for (int retries = 0;; ++retries) {
    try {
      api_.send_message(chat_id, piece, &replies_, keyboard);
      return;
    } catch (const ApiError& e) {
      // A 429 was refused, not delivered: sending it again cannot make a
      // duplicate. The server says how long the limit lasts.
      if (e.error_code() != 429 || !e.retry_after()) {
        throw;
      }
      const std::int64_t asked = std::max<std::int64_t>(0, *e.retry_after());
      const std::int64_t left_seconds = (options.send_retry_budget - waited).count() / 1000;
      const auto give_up = [&](const std::string& why) {
        return ApiError(fmt::format("{}; not sent again: {}", e.what(), why), e.error_code(),
                        e.description(), e.retry_after());
      };
      if (retries >= options.send_retries) {
        throw give_up(fmt::format("{} retries made", retries));
      }
      if (asked > left_seconds) {
        throw give_up(fmt::format("the wait asked passes the {} s allowed",
                                  options.send_retry_budget.count() / 1000));
      }
      const std::chrono::milliseconds wait = std::chrono::seconds{asked};
      if (replies_.wait_for(wait)) {
        throw Cancelled("Telegram sendMessage cancelled while waiting to send again");
      }
      waited += wait;
    }
  }
}

std::optional<std::string> ExtBot::username() const {
  MutexLock lock(mutex_);
  return username_;
}

void ExtBot::set_username(std::optional<std::string> name) {
  MutexLock lock(mutex_);
  username_ = std::move(name);
}

}  // namespace orbrix::telegram
