#include "orbrix/telegram/ext_bot.hpp"

#include <stdexcept>

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
                                std::chrono::milliseconds abandon_after, CancelSource* cancel) {
  return api_.get_updates(offset, poll_timeout, abandon_after, cancel);
}

void ExtBot::send_message(std::int64_t chat_id, std::string_view message) {
  const std::vector<std::string> pieces = text::split_message(message);
  // Telegram refuses such a text ("message text is empty").
  if (pieces.empty())
    throw std::invalid_argument("Telegram message text is empty or blank");
  for (const std::string& piece : pieces) {
    api_.send_message(chat_id, piece, &replies_);
  }
}

std::optional<std::string> ExtBot::username() const {
  MutexLock lock(mu_);
  return username_;
}

void ExtBot::set_username(std::optional<std::string> name) {
  MutexLock lock(mu_);
  username_ = std::move(name);
}

}  // namespace orbrix::telegram
