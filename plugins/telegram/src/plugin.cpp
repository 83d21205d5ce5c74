#include "orbrix/telegram/plugin.hpp"

#include <cstring>
#include <memory>
#include <stdexcept>

#include "text.hpp"

namespace orbrix::telegram {

namespace {

std::string_view trim_blanks(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
    value.remove_prefix(1);
  }
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
    value.remove_suffix(1);
  }
  return value;
}

std::int64_t parse_chat_id(std::string_view key, std::string_view value) {
  // Chat ids are signed integers; surrounding white space is forgiven.
  value = trim_blanks(value);
  if (auto id = text::parse_count(value)) {
    return *id;
  }
  throw std::invalid_argument(std::string(key) + " must be an integer chat id, not '" +
                              std::string(value) + "'");
}

// A count of at least `least`, or nullopt when the key holds no value.
std::optional<std::int64_t> count_key(const config::Config& config, const char* key,
                                      std::int64_t least, const char* what) {
  auto value = config.get(key);
  if (!value || trim_blanks(*value).empty()) {
    return std::nullopt;
  }
  const auto n = text::parse_count(trim_blanks(*value));
  if (!n || *n < least) {
    throw std::invalid_argument(std::string(key) + " must be " + what + ", not '" + *value + "'");
  }
  return n;
}

// true/false, yes/no, on/off, 1/0 in any letter case; false when not set.
bool switch_key(const config::Config& config, const char* key) {
  auto value = config.get(key);
  if (!value) {
    return false;
  }
  const std::string v = text::ascii_lower(trim_blanks(*value));
  if (v.empty() || v == "0" || v == "false" || v == "no" || v == "off") {
    return false;
  }
  if (v == "1" || v == "true" || v == "yes" || v == "on") {
    return true;
  }
  throw std::invalid_argument(std::string(key) + " must be true or false, not '" + *value + "'");
}

struct Instance {
  Mutex mutex;
  std::unique_ptr<TelegramBot> bot GUARDED_BY(mutex);
};

Instance& instance() {
  static Instance the_instance;
  return the_instance;
}

}  // namespace

BotSettings settings_from_config(const config::Config& config, BotOptions base) {
  BotSettings settings{std::string(), std::move(base)};

  auto token = config.get("TELEGRAM_TOKEN");
  if (!token || token->empty()) {
    throw std::invalid_argument(std::string("TELEGRAM_TOKEN is ") + (token ? "empty" : "not set") +
                                " (read " + config.origin() + ")");
  }
  settings.token = std::move(*token);

  if (auto chat = config.get("TELEGRAM_CHAT_ID"); chat && !chat->empty()) {
    settings.options.default_chat_id = parse_chat_id("TELEGRAM_CHAT_ID", *chat);
  }
  if (auto list = config.get("TELEGRAM_ALLOWED_CHAT_IDS")) {
    std::string_view rest = *list;
    while (!rest.empty()) {
      const auto comma = rest.find(',');
      const std::string_view item = rest.substr(0, comma);
      rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
      if (item.find_first_not_of(" \t") == std::string_view::npos) {
        continue;
      }
      settings.options.allowed_chat_ids.push_back(parse_chat_id("TELEGRAM_ALLOWED_CHAT_IDS", item));
    }
  }
  if (auto url = config.get("TELEGRAM_API_URL"); url && !url->empty()) {
    settings.options.api.api_url = *url;
  }
  if (auto age =
          count_key(config, "TELEGRAM_STALE_AFTER_SECONDS", 0, "a number of seconds (0 or more)")) {
    settings.options.polling.stale_after = std::chrono::seconds{*age};
  }
  if (auto most = count_key(config, "TELEGRAM_MAX_PENDING_REQUESTS", 1,
                            "a number of requests (1 or more)")) {
    settings.options.max_pending = static_cast<std::size_t>(*most);
  }
  settings.options.confirm.enabled = switch_key(config, "TELEGRAM_CONFIRM_TRADES");
  if (auto seconds =
          count_key(config, "TELEGRAM_CONFIRM_SECONDS", 1, "a number of seconds (1 or more)")) {
    settings.options.confirm.timeout = std::chrono::seconds{*seconds};
  }
  return settings;
}

TelegramBot& load_plugin(const config::Config& config, BotOptions base) {
  Instance& inst = instance();
  MutexLock lock(inst.mutex);
  if (inst.bot) {
    throw std::logic_error("the Telegram bot plug-in is already loaded");
  }
  BotSettings settings = settings_from_config(config, std::move(base));
  inst.bot = std::make_unique<TelegramBot>(std::move(settings.token), std::move(settings.options));
  return *inst.bot;
}

TelegramBot& bot() {
  Instance& inst = instance();
  MutexLock lock(inst.mutex);
  if (!inst.bot) {
    throw std::logic_error("the Telegram bot plug-in is not loaded");
  }
  return *inst.bot;
}

void unload_plugin() {
  std::unique_ptr<TelegramBot> bot;
  {
    Instance& inst = instance();
    MutexLock lock(inst.mutex);
    bot = std::move(inst.bot);
  }
  bot.reset();  // closes outside the lock
}

}  // namespace orbrix::telegram

extern "C" int orbrix_plugin_load(char* error, std::size_t error_size) {
  const auto report = [&](const char* message) {
    if (error != nullptr && error_size > 0) {
      std::strncpy(error, message, error_size - 1);
      error[error_size - 1] = '\0';
    }
  };
  try {
    orbrix::telegram::load_plugin(orbrix::config::Config::load());
    report("");
    return 0;
  } catch (const std::exception& e) {
    report(e.what());
  } catch (...) {
    report("unknown error while loading the Telegram bot plug-in");
  }
  return 1;
}

extern "C" void orbrix_plugin_unload(void) {
  orbrix::telegram::unload_plugin();
}
