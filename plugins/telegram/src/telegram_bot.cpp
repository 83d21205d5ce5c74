#include "orbrix/telegram/telegram_bot.hpp"

#include <set>
#include <stdexcept>

#include "orbrix/telegram/commands.hpp"

namespace orbrix::telegram {

TelegramBot::TelegramBot(std::string token, BotOptions options)
    : default_chat_id_(options.default_chat_id),
      log_(options.log ? std::move(options.log) : LogSink(&write_line)),
      bot_(std::make_unique<CustomedExtBot>(std::move(token), std::move(options.api),
                                            std::move(options.clock))),
      updater_(std::make_unique<Updater>(*bot_, options.polling, log_)) {
  Dispatcher& dispatcher = updater_->dispatcher();

  std::set<std::int64_t> allowed(options.allowed_chat_ids.begin(), options.allowed_chat_ids.end());
  if (default_chat_id_)
    allowed.insert(*default_chat_id_);
  if (allowed.empty() && options.start_polling) {
    log_(
        "telegram: TELEGRAM_CHAT_ID and TELEGRAM_ALLOWED_CHAT_IDS are empty: every chat's "
        "commands will be refused");
  }
  dispatcher.set_allowed_chats(std::move(allowed));

  // First match wins, in this order.
  dispatcher.add_handler(
      std::make_unique<MessageHandler>(filters::text & ~filters::command, &commands::echo, "echo"));
  const std::pair<const char*, HandlerCallback> routes[] = {
      {"stop", &commands::stop},
      {"balance", &commands::balance},
      {"positions", &commands::positions},
      {"orders", &commands::orders},
      {"deals", &commands::deals},
      {"cancel_order", &commands::cancel_order},
      {"cancel_orders", &commands::cancel_orders},
      {"send_order", &commands::send_order},
      {"close_positions", &commands::close_positions},
  };
  for (const auto& [command, callback] : routes) {
    dispatcher.add_handler(std::make_unique<CommandHandler>(command, callback));
  }
  if (options.start_polling)
    updater_->start_polling();
}

TelegramBot::~TelegramBot() {
  close();
}

void TelegramBot::close() {
  updater_->stop();
}

void TelegramBot::get_updates() {
  std::vector<Update> pending = updater_->fetch_pending();
  std::string first = pending.empty() ? std::string() : pending.front().json;
  {
    MutexLock lock(mu_);
    updates_ = std::move(pending);
  }
  if (first.empty())
    throw std::out_of_range("no pending Telegram update");
  log_(first);
}

std::int64_t TelegramBot::get_chat_id() {
  get_updates();
  MutexLock lock(mu_);
  const Update& first = updates_->front();
  if (!first.message || first.kind != UpdateKind::message || !first.message->from_user) {
    throw std::out_of_range("the first pending Telegram update has no message sender");
  }
  return first.message->from_user->id;
}

void TelegramBot::send_message(std::string_view msg) {
  if (!default_chat_id_) {
    throw std::invalid_argument("no chat given and no default chat (TELEGRAM_CHAT_ID is not set)");
  }
  bot_->send_message(*default_chat_id_, msg);
}

void TelegramBot::send_message(std::string_view msg, std::int64_t chat_id) {
  bot_->send_message(chat_id, msg);
}

std::optional<std::vector<Update>> TelegramBot::updates() const {
  MutexLock lock(mu_);
  return updates_;
}

}  // namespace orbrix::telegram
