// Loading from the engine's configuration, the C entry points and the
// stand-alone check program.

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bot_test_support.hpp"
#include "orbrix/telegram/plugin.hpp"

namespace orbrix::telegram::testing {
namespace {

struct ProcessResult {
  int status = -1;
  std::string output;
};

// Runs a shell command line and collects its standard output and error.
ProcessResult run(const std::string& command) {
  ProcessResult r;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    return r;
  }
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    r.output += buffer;
  }
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string bot_command(const FakeBotApi& api, const std::string& chat) {
  return "env -u ORBRIX_CONFIG TELEGRAM_TOKEN='" + api.token() + "' TELEGRAM_API_URL='" +
         api.url() + "' TELEGRAM_CHAT_ID='" + chat + "' TELEGRAM_ALLOWED_CHAT_IDS= '" +
         ORBRIX_BOT_EXE + "'";
}

TEST(StandaloneCheck, SaysHelloClosesAndNeverPrintsTheToken) {
  FakeBotApi api;
  // A command waiting for the engine is neither taken nor answered.
  api.push_text(4242, "/send_order EP,1,l,o,m,CQG,None,None");
  const ProcessResult r = run(bot_command(api, "4242"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Closed.\n"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find(api.token()), std::string::npos) << r.output;
  ASSERT_EQ(api.sent().size(), 1u);
  EXPECT_EQ(api.sent()[0].chat_id, 4242);
  EXPECT_EQ(api.sent()[0].text, "Yes I am here!");
  EXPECT_EQ(api.pending(), 1u);
  EXPECT_TRUE(api.calls("getUpdates").empty());
}

// --version and --help answer without loading the bot (no token needed);
// an unknown option is refused.
TEST(StandaloneCheck, AnswersVersionAndHelpWithoutAToken) {
  const std::string exe =
      std::string("env -u ORBRIX_CONFIG -u TELEGRAM_TOKEN '") + ORBRIX_BOT_EXE + "'";
  ProcessResult r = run(exe + " --version");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.rfind("orbrix-bot ", 0), 0u) << r.output;
  r = run(exe + " --help");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("--version"), std::string::npos) << r.output;
  r = run(exe + " --bogus");
  EXPECT_NE(r.status, 0) << r.output;
}

TEST(StandaloneCheck, FailsClearlyOnABadChatIdOrAnUnknownChat) {
  FakeBotApi api;
  ProcessResult r = run(bot_command(api, "not-a-number"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("TELEGRAM_CHAT_ID must be an integer chat id"), std::string::npos)
      << r.output;

  api.reject_chat(4242);
  r = run(bot_command(api, "4242"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("chat not found"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find(api.token()), std::string::npos) << r.output;
  EXPECT_TRUE(api.sent().empty());
}

TEST(PluginSettings, ReadsTheFourKeys) {
  auto config = config::Config::parse(
      "TELEGRAM_TOKEN=1:abc\nTELEGRAM_CHAT_ID= -1001 \nTELEGRAM_ALLOWED_CHAT_IDS=5, 6,,-7\n"
      "TELEGRAM_API_URL=http://127.0.0.1:9/\n");
  const BotSettings s = settings_from_config(config);
  EXPECT_EQ(s.token, "1:abc");
  EXPECT_EQ(s.options.default_chat_id, -1001);
  EXPECT_EQ(s.options.allowed_chat_ids, (std::vector<std::int64_t>{5, 6, -7}));
  EXPECT_EQ(s.options.api.api_url, "http://127.0.0.1:9/");

  config.set("TELEGRAM_CHAT_ID", "");
  EXPECT_EQ(settings_from_config(config).options.default_chat_id, std::nullopt);
  config.set("TELEGRAM_ALLOWED_CHAT_IDS", "5,x");
  EXPECT_THROW(settings_from_config(config), std::invalid_argument);
  EXPECT_THROW(settings_from_config(config::Config::parse("TELEGRAM_CHAT_ID=1")),
               std::invalid_argument);
}

TEST(PluginSettings, ReadsTheStaleAgeAndSaysWhereAMissingTokenWasLookedFor) {
  auto config = config::Config::parse("TELEGRAM_TOKEN=1:abc\nTELEGRAM_STALE_AFTER_SECONDS= 600\n");
  EXPECT_EQ(settings_from_config(config).options.polling.stale_after, std::chrono::seconds{600});
  EXPECT_EQ(settings_from_config(config::Config::parse("TELEGRAM_TOKEN=1:abc"))
                .options.polling.stale_after,
            PollingOptions{}.stale_after);
  for (const char* bad : {"-1", "5m", "x"}) {
    config.set("TELEGRAM_STALE_AFTER_SECONDS", bad);
    EXPECT_THROW(settings_from_config(config), std::invalid_argument) << bad;
  }

  const auto message = [](const config::Config& c) {
    try {
      settings_from_config(c);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  // Set before any thread exists; restored after.
  const char* saved = std::getenv("TELEGRAM_TOKEN");
  const std::string saved_token = saved ? saved : "";
  ::unsetenv("TELEGRAM_TOKEN");
  const auto dir = std::filesystem::temp_directory_path() / "orbrix_plugin_origin_test";
  std::filesystem::create_directories(dir);
  const auto path = dir / "engine.conf";
  {
    std::ofstream out(path);
    out << "TELEGRAM_CHAT_ID=99\n";
  }
  ::setenv("ORBRIX_CONFIG", path.c_str(), 1);
  std::string text = message(config::Config::load());
  EXPECT_NE(text.find("TELEGRAM_TOKEN is not set"), std::string::npos) << text;
  EXPECT_NE(text.find(path.string()), std::string::npos) << text;

  // No file named and none in the working directory: it says so.
  ::unsetenv("ORBRIX_CONFIG");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  text = message(config::Config::load());
  std::filesystem::current_path(cwd);
  EXPECT_NE(text.find("no configuration file"), std::string::npos) << text;
  EXPECT_NE(text.find((dir / "orbrix.conf").string()), std::string::npos) << text;

  std::filesystem::remove_all(dir);
  if (saved) {
    ::setenv("TELEGRAM_TOKEN", saved_token.c_str(), 1);
  }
}

TEST(PluginSettings, ReadsTheQueueBoundAndTheConfirmation) {
  auto config = config::Config::parse("TELEGRAM_TOKEN=1:abc\n");
  BotSettings s = settings_from_config(config);
  EXPECT_EQ(s.options.max_pending, 32u);
  EXPECT_FALSE(s.options.confirm.enabled);
  EXPECT_EQ(s.options.confirm.timeout, std::chrono::seconds{60});

  config.set("TELEGRAM_MAX_PENDING_REQUESTS", " 5");
  config.set("TELEGRAM_CONFIRM_TRADES", "Yes");
  config.set("TELEGRAM_CONFIRM_SECONDS", "30");
  s = settings_from_config(config);
  EXPECT_EQ(s.options.max_pending, 5u);
  EXPECT_TRUE(s.options.confirm.enabled);
  EXPECT_EQ(s.options.confirm.timeout, std::chrono::seconds{30});
  config.set("TELEGRAM_CONFIRM_TRADES", "off");
  EXPECT_FALSE(settings_from_config(config).options.confirm.enabled);

  for (const auto& [key, bad] :
       std::vector<std::pair<std::string, std::string>>{{"TELEGRAM_MAX_PENDING_REQUESTS", "0"},
                                                        {"TELEGRAM_MAX_PENDING_REQUESTS", "many"},
                                                        {"TELEGRAM_CONFIRM_TRADES", "maybe"},
                                                        {"TELEGRAM_CONFIRM_SECONDS", "0"}}) {
    auto broken = config;
    broken.set(key, bad);
    try {
      settings_from_config(broken);
      ADD_FAILURE() << key << "=" << bad;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(key), std::string::npos) << e.what();
    }
  }
}

TEST(PluginEntryPoints, LoadFromTheConfigFileAndUnload) {
  FakeBotApi api;
  const auto path = std::filesystem::temp_directory_path() / "orbrix_plugin_test.conf";
  {
    std::ofstream out(path);
    out << "# operator chat\nTELEGRAM_TOKEN=" << api.token() << "\nTELEGRAM_API_URL=" << api.url()
        << "\nTELEGRAM_CHAT_ID=99\n";
  }
  // Set before any bot thread exists; the stand-in's threads read no variable.
  ::setenv("ORBRIX_CONFIG", path.c_str(), 1);
  char error[256] = "unset";
  ASSERT_EQ(orbrix_plugin_load(error, sizeof error), 0) << error;
  EXPECT_STREQ(error, "");
  EXPECT_THROW(load_plugin(config::Config::load()), std::logic_error);
  bot().send_message("hello from the plug-in");
  orbrix_plugin_unload();
  EXPECT_THROW(bot(), std::logic_error);
  ASSERT_EQ(api.sent().size(), 1u);
  EXPECT_EQ(api.sent()[0].chat_id, 99);

  {
    std::ofstream out(path);
    out << "TELEGRAM_TOKEN=" << api.token() << "\nTELEGRAM_CHAT_ID=ninety-nine\n";
  }
  EXPECT_EQ(orbrix_plugin_load(error, sizeof error), 1);
  EXPECT_NE(std::string(error).find("TELEGRAM_CHAT_ID"), std::string::npos) << error;
  EXPECT_THROW(bot(), std::logic_error);
  ::unsetenv("ORBRIX_CONFIG");
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace orbrix::telegram::testing
