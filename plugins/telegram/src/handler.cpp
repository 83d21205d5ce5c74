#include "orbrix/telegram/handler.hpp"

#include <algorithm>

#include "text.hpp"

namespace orbrix::telegram {

namespace {

const MessageEntity* leading_command(const Message& message) {
  auto it =
      std::find_if(message.entities.begin(), message.entities.end(), [](const MessageEntity& e) {
        return e.type == "bot_command" && e.offset == 0 && e.length > 1;
      });
  return it == message.entities.end() ? nullptr : &*it;
}

}  // namespace

bool starts_with_command(const Message& message) {
  return message.text.has_value() && leading_command(message) != nullptr;
}

CommandHandler::CommandHandler(std::string command, HandlerCallback callback)
    : Handler(std::move(callback)) {
  if (!command.empty() && command.front() == '/') {
    command.erase(0, 1);
  }
  command_ = text::ascii_lower(command);
}

std::optional<std::vector<std::string>> CommandHandler::check(
    const Message& message, const std::optional<std::string>& bot_username) const {
  if (!message.text) {
    return std::nullopt;
  }
  const MessageEntity* entity = leading_command(message);
  if (entity == nullptr) {
    return std::nullopt;
  }

  const std::string& full = *message.text;
  std::string_view word(full.data(),
                        text::utf16_prefix_bytes(full, static_cast<std::size_t>(entity->length)));
  if (word.empty() || word.front() != '/') {
    return std::nullopt;
  }
  word.remove_prefix(1);

  // "/cmd@SomeBot" is ours only when SomeBot is this bot.
  const auto at = word.find('@');
  if (at != std::string_view::npos) {
    if (!bot_username ||
        text::ascii_lower(word.substr(at + 1)) != text::ascii_lower(*bot_username)) {
      return std::nullopt;
    }
  }
  if (text::ascii_lower(word.substr(0, at)) != command_) {
    return std::nullopt;
  }

  std::vector<std::string> args = text::split_words(full);
  if (!args.empty()) {
    args.erase(args.begin());
  }
  return args;
}

MessageHandler::MessageHandler(Filter filter, HandlerCallback callback, std::string description)
    : Handler(std::move(callback)),
      filter_(std::move(filter)),
      description_(std::move(description)) {}

std::optional<std::vector<std::string>> MessageHandler::check(
    const Message& message, const std::optional<std::string>&) const {
  if (!filter_(message)) {
    return std::nullopt;
  }
  return std::vector<std::string>{};
}

}  // namespace orbrix::telegram
