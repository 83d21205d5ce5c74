#pragma once

// The plug-in instance `bot`, created when the engine loads the plug-in.
//
// Configuration keys (orbrix::config: the file, overridden by the environment):
//   TELEGRAM_TOKEN             the bot token (required)
//   TELEGRAM_CHAT_ID           the operator's chat: send_message's default and
//                              always allowed to command (optional integer)
//   TELEGRAM_ALLOWED_CHAT_IDS  further chats allowed to command, comma-separated
//   TELEGRAM_API_URL           Bot API base URL (default https://api.telegram.org)
//   TELEGRAM_STALE_AFTER_SECONDS  messages sent longer than this before start-up
//                              are confirmed without running (default 300)
//   TELEGRAM_MAX_PENDING_REQUESTS  requests of one kind that may wait for the
//                              engine; more are refused with a reply (default 32)
//   TELEGRAM_CONFIRM_TRADES    true: trading commands wait for Confirm (default false)
//   TELEGRAM_CONFIRM_SECONDS   how long a Confirm is accepted (default 60)

#include <cstddef>
#include <string>

#include "orbrix/config/orbrix_config.hpp"
#include "orbrix/telegram/telegram_bot.hpp"

namespace orbrix::telegram {

// What a bot is made from: its token and its options.
struct BotSettings {
  std::string token;   // the Bot API token (never printed)
  BotOptions options;  // chats, polling, confirmations and limits
};

// Reads the keys above over `base` (which supplies time-outs, clock, log).
// Throws std::invalid_argument naming the key when TELEGRAM_TOKEN is missing
// or empty (and saying where the configuration was read), or
// TELEGRAM_CHAT_ID / TELEGRAM_ALLOWED_CHAT_IDS hold something other than
// integers, a count other than a whole number in its range, or
// TELEGRAM_CONFIRM_TRADES other than true/false (also yes/no, on/off, 1/0).
// An empty key counts as not set; an empty TELEGRAM_CHAT_ID means no
// default chat.
BotSettings settings_from_config(const config::Config& config, BotOptions base = {});

// Creates the plug-in instance from `config` and starts polling. Engine
// thread; returns at once. Throws std::logic_error when already loaded, and
// what settings_from_config and TelegramBot's constructor throw.
TelegramBot& load_plugin(const config::Config& config, BotOptions base = {});

// The plug-in instance. Throws std::logic_error when it is not loaded.
TelegramBot& bot();

// Closes and destroys the plug-in instance (nothing when not loaded). Engine
// thread; blocks as TelegramBot::close().
void unload_plugin();

}  // namespace orbrix::telegram

extern "C" {

// Entry points for an engine that dlopen()s the library. Load reads the
// engine's configuration (orbrix::config::Config::load()) and creates the
// instance; it returns 0 on success, else non-zero with a message (never the
// token) in `error` (when not null), truncated to `error_size` bytes.
int orbrix_plugin_load(char* error, std::size_t error_size);
void orbrix_plugin_unload(void);
}
