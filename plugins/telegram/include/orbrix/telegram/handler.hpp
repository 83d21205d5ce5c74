#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orbrix/telegram/filters.hpp"
#include "orbrix/telegram/types.hpp"

namespace orbrix::telegram {

class CustomedExtBot;

// What a handler receives besides the update: the client bot that carries
// the control state and sends replies, and the words after the command.
struct CallbackContext {
  CustomedExtBot& bot;
  std::vector<std::string> args;
};

using HandlerCallback = std::function<void(const Update& update, CallbackContext& context)>;

// A route from updates to a callback. check() decides on the dispatcher
// thread whether the update is this handler's and, if so, yields the args.
class Handler {
 public:
  explicit Handler(HandlerCallback callback) : callback_(std::move(callback)) {}
  virtual ~Handler() = default;

  // nullopt when the update is not for this handler. `bot_username` is the
  // bot's own user name once known.
  virtual std::optional<std::vector<std::string>> check(
      const Message& message, const std::optional<std::string>& bot_username) const = 0;
  // A short name for diagnostics.
  virtual std::string name() const = 0;

  void handle(const Update& update, CallbackContext& context) const { callback_(update, context); }

 private:
  HandlerCallback callback_;
};

// Reacts to "/command" (any letter case) and "/command@ThisBot" (user name in
// any letter case) at the start of a text message; args are the following
// words split at Unicode white space.
class CommandHandler : public Handler {
 public:
  CommandHandler(std::string command, HandlerCallback callback);
  std::optional<std::vector<std::string>> check(
      const Message& message, const std::optional<std::string>& bot_username) const override;
  std::string name() const override { return "/" + command_; }

 private:
  std::string command_;  // lower case, without '/'
};

// Reacts to messages that pass the filter; args are empty.
class MessageHandler : public Handler {
 public:
  MessageHandler(Filter filter, HandlerCallback callback, std::string description = "message");
  std::optional<std::vector<std::string>> check(
      const Message& message, const std::optional<std::string>& bot_username) const override;
  std::string name() const override { return description_; }

 private:
  Filter filter_;
  std::string description_;
};

}  // namespace orbrix::telegram
