// Stand-alone connectivity check: loads the bot from the engine's
// configuration, says hello in the configured chat, closes.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <utility>

#include "orbrix/telegram/plugin.hpp"

int main(int argc, char** argv) {
  using namespace orbrix::telegram;
  CLI::App app(
      "Checks the Telegram control bot's connection: loads the bot from the engine's "
      "configuration (the file ORBRIX_CONFIG names, else ./orbrix.conf, overridden by the "
      "environment: TELEGRAM_TOKEN, TELEGRAM_CHAT_ID, ...), says hello in the configured chat "
      "and closes.",
      "orbrix-bot");
  app.set_version_flag("--version", fmt::format("orbrix-bot {}", ORBRIX_VERSION),
                       "print the version and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::printf("%s\n", e.what());
    return 0;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "orbrix-bot: %s\n", e.what());
    return 2;
  }
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
