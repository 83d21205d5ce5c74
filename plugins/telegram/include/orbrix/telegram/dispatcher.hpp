#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "orbrix/telegram/handler.hpp"
#include "orbrix/telegram/log.hpp"

namespace orbrix::telegram {

class CustomedExtBot;

// Routes one update to the first registered handler that takes it. Only new
// messages and button presses (callback queries) are served, and only from
// the allowed chats: edits (which must not run a command twice), channel
// posts and every other kind are skipped.
class Dispatcher {
 public:
  Dispatcher(CustomedExtBot& bot, LogSink log);

  // Registration happens before polling starts (not thread-safe with
  // process_update).
  void add_handler(std::unique_ptr<Handler> handler);

  // What a button press on one of the bot's messages runs (args empty).
  // Set before polling starts.
  void set_callback_query_handler(HandlerCallback callback) {
    callback_query_handler_ = std::move(callback);
  }

  // Chats whose messages are served; any other chat's message is refused
  // with one diagnostic line. Empty: every chat is refused. Set before
  // polling starts.
  void set_allowed_chats(std::set<std::int64_t> chats) { allowed_chats_ = std::move(chats); }
  const std::set<std::int64_t>& allowed_chats() const noexcept { return allowed_chats_; }

  // Runs the matching handler on the calling thread (the dispatcher thread).
  // Never throws: a handler's error is written as a diagnostic line.
  void process_update(const Update& update);

 private:
  bool allowed(const Update& update, std::int64_t chat_id);
  void run(const std::string& name, const HandlerCallback& callback, const Update& update,
           std::vector<std::string> args);

  CustomedExtBot& bot_;
  LogSink log_;
  std::vector<std::unique_ptr<Handler>> handlers_;
  std::set<std::int64_t> allowed_chats_;
  HandlerCallback callback_query_handler_;
};

}  // namespace orbrix::telegram
