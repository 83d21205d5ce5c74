// Stand-alone connectivity check: loads the bot from the engine's
// configuration, says hello in the configured chat, closes.

#include <fmt/format.h>

#include <exception>
#include <utility>

#include "orbrix/telegram/plugin.hpp"

int main() {
  using namespace orbrix::telegram;
  try {
    // Commands waiting on the server belong to the engine: this check only
    // sends, it does not poll.
    BotOptions options;
    options.start_polling = false;
    TelegramBot& instance = load_plugin(orbrix::config::Config::load(), std::move(options));
    instance.send_message("Yes I am here!");
    instance.close();
    write_line("Closed.");
    unload_plugin();
    return 0;
  } catch (const std::exception& e) {
    write_line(fmt::format("orbrix-bot: {}", e.what()));
  }
  unload_plugin();
  return 1;
}
