#include "orbrix/telegram/dispatcher.hpp"

#include <fmt/format.h>

#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/telegram/customed_ext_bot.hpp"

namespace orbrix::telegram {

Dispatcher::Dispatcher(CustomedExtBot& bot, LogSink log)
    : bot_(bot), log_(log ? std::move(log) : LogSink(&write_line)) {}

void Dispatcher::add_handler(std::unique_ptr<Handler> handler) {
  handlers_.push_back(std::move(handler));
}

bool Dispatcher::allowed(const Update& update, std::int64_t chat_id) {
  if (allowed_chats_.contains(chat_id)) {
    return true;
  }
  log_(fmt::format("telegram: refused update {} from chat {}: not an allowed chat",
                   update.update_id, chat_id));
  return false;
}

void Dispatcher::run(const std::string& name, const HandlerCallback& callback, const Update& update,
                     std::vector<std::string> args) {
  CallbackContext context{bot_, std::move(args)};
  try {
    callback(update, context);
  } catch (const std::exception& e) {
    log_(bot_.redact(fmt::format("telegram: handler {} failed on update {}: {}", name,
                                 update.update_id, e.what())));
  } catch (const ForcedUnwind&) {
    throw;
  } catch (...) {
    log_(fmt::format("telegram: handler {} failed on update {} with an unknown error", name,
                     update.update_id));
  }
}

void Dispatcher::process_update(const Update& update) {
  if (update.kind == UpdateKind::callback_query && update.callback_query) {
    const CallbackQuery& query = *update.callback_query;
    // A press on an inline-mode message has no chat to check.
    if (!query.message) {
      log_(fmt::format("telegram: refused update {}: a button press outside any chat",
                       update.update_id));
      return;
    }
    if (callback_query_handler_ && allowed(update, query.message->chat.id)) {
      run("callback query", callback_query_handler_, update, {});
    }
    return;
  }
  // Edits would run a command a second time; channel posts come from no
  // operator. Both, and every kind we do not know, are skipped.
  if (update.kind != UpdateKind::message || !update.message) {
    return;
  }
  const Message& message = *update.message;
  if (!allowed(update, message.chat.id)) {
    return;
  }

  const std::optional<std::string> username = bot_.username();
  for (const auto& handler : handlers_) {
    std::optional<std::vector<std::string>> args = handler->check(message, username);
    if (!args) {
      continue;
    }
    run(
        handler->name(), [&handler](const Update& u, CallbackContext& c) { handler->handle(u, c); },
        update, std::move(*args));
    return;
  }
}

}  // namespace orbrix::telegram
