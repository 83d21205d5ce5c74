#include "orbrix/telegram/dispatcher.hpp"

#include <fmt/format.h>

#include "orbrix/telegram/customed_ext_bot.hpp"

namespace orbrix::telegram {

Dispatcher::Dispatcher(CustomedExtBot& bot, LogSink log)
    : bot_(bot), log_(log ? std::move(log) : LogSink(&write_line)) {}

void Dispatcher::add_handler(std::unique_ptr<Handler> handler) {
  handlers_.push_back(std::move(handler));
}

void Dispatcher::process_update(const Update& update) {
  // Edits would run a command a second time; channel posts come from no
  // operator. Both, and every kind we do not know, are skipped.
  if (update.kind != UpdateKind::message || !update.message)
    return;
  const Message& message = *update.message;

  if (!allowed_chats_.contains(message.chat.id)) {
    log_(fmt::format("telegram: refused update {} from chat {}: not an allowed chat",
                     update.update_id, message.chat.id));
    return;
  }

  const std::optional<std::string> username = bot_.username();
  for (const auto& handler : handlers_) {
    std::optional<std::vector<std::string>> args = handler->check(message, username);
    if (!args)
      continue;
    CallbackContext context{bot_, std::move(*args)};
    try {
      handler->handle(update, context);
    } catch (const std::exception& e) {
      log_(bot_.redact(fmt::format("telegram: handler {} failed on update {}: {}", handler->name(),
                                   update.update_id, e.what())));
    } catch (...) {
      log_(fmt::format("telegram: handler {} failed on update {} with an unknown error",
                       handler->name(), update.update_id));
    }
    return;
  }
}

}  // namespace orbrix::telegram
