#include "orbrix/telegram/telegram_bot.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "orbrix/telegram/commands.hpp"

namespace orbrix::telegram {

namespace {

// With confirmation on, the Confirm / Cancel presses must be asked for too.
PollingOptions with_presses(PollingOptions polling, bool presses) {
  auto& kinds = polling.allowed_updates;
  if (presses && std::find(kinds.begin(), kinds.end(), "callback_query") == kinds.end()) {
    kinds.emplace_back("callback_query");
  }
  return polling;
}

}  // namespace

TelegramBot::TelegramBot(std::string token, BotOptions options)
    : default_chat_id_(options.default_chat_id),
      log_(options.log ? std::move(options.log) : LogSink(&write_line)),
      bot_(std::make_unique<CustomedExtBot>(std::move(token), std::move(options.api),
                                            std::move(options.clock), options.max_pending,
                                            options.confirm)),
      updater_(std::make_unique<Updater>(
          *bot_, with_presses(options.polling, options.confirm.enabled), log_)) {
  Dispatcher& dispatcher = updater_->dispatcher();

  std::set<std::int64_t> allowed(options.allowed_chat_ids.begin(), options.allowed_chat_ids.end());
  if (default_chat_id_) {
    allowed.insert(*default_chat_id_);
  }
  serves_commands_ = !allowed.empty();
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
      {"halt", &commands::halt},
      {"reduce", &commands::reduce},
      {"resume", &commands::resume},
      {"risk", &commands::risk},
      {"help", &commands::help},
      {"start", &commands::help},
  };
  for (const auto& [command, callback] : routes) {
    dispatcher.add_handler(std::make_unique<CommandHandler>(command, callback));
  }
  dispatcher.set_callback_query_handler(&commands::confirmation);
  updater_->set_commands(commands::menu());
  if (options.start_polling) {
    updater_->start_polling();
  }
}

TelegramBot::~TelegramBot() {
  close();
}

void TelegramBot::close() {
  updater_->stop();
  abandon_pending("the bot was closed before the engine served it");
}

std::size_t TelegramBot::abandon_pending(std::string_view reason) {
  const std::vector<PendingRequest> pending = bot_->take_all_pending();
  bool sending = true;
  for (const PendingRequest& request : pending) {
    const std::string what =
        request.origin.command.empty()
            ? fmt::format("a {} request raised by the host", command_of(request.kind))
            : request.origin.command;
    const std::string text =
        "[" + to_text(bot_->now()) + "] Not carried out (" + std::string(reason) + "): " + what;
    if (request.origin.chat_id && sending) {
      try {
        bot_->send_message(*request.origin.chat_id, text);
        continue;
      } catch (const std::exception& e) {
        // The next would most likely fail the same way, each after a time-out.
        log_(bot_->redact(fmt::format("telegram: could not send a notice: {}", e.what())));
        sending = false;
      }
    }
    log_(request.origin.chat_id
             ? fmt::format("telegram: not told to chat {}: {}", *request.origin.chat_id, text)
             : "telegram: " + text);
  }
  return pending.size();
}

void TelegramBot::get_updates() {
  std::vector<Update> pending = updater_->fetch_pending();
  std::string first = pending.empty() ? std::string() : pending.front().json;
  {
    MutexLock lock(mutex_);
    updates_ = std::move(pending);
  }
  if (first.empty()) {
    throw std::out_of_range("no pending Telegram update");
  }
  log_(first);
}

std::int64_t TelegramBot::get_chat_id() {
  get_updates();
  MutexLock lock(mutex_);
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
  MutexLock lock(mutex_);
  return updates_;
}

}  // namespace orbrix::telegram
