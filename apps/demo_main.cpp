// orbrix-demo: a small engine over the CQGCEL simulator. It hosts the vendor
// object, logs on with recovery after a dropped connection on, subscribes an
// account, quotes, order books and one-minute bars, runs a tiny strategy
// with limit, market and stop orders, prints what arrives, and after
// --seconds (20 by default), on Ctrl-C or on the operator's /stop closes out
// flat and ends with a summary. With TELEGRAM_TOKEN configured it also runs
// the Telegram control bot and serves its requests through the gateway.
// --help lists the options.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "demo_run.hpp"
#include "orbrix/config/orbrix_config.hpp"
#include "orbrix/telegram/plugin.hpp"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void on_interrupt(int) {
  interrupted.store(true);
}

}  // namespace

int main(int argc, char** argv) {
  orbrix::demo::DemoOptions options;
  try {
    options = orbrix::demo::parse_options(argc, argv);
  } catch (const orbrix::demo::HelpRequested& help) {
    std::fputs(help.what(), stdout);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_interrupt);
  int status = 0;
  try {
    const auto config = orbrix::config::Config::load();
    // Limits from the configuration when it names any, else the demo's own.
    const orbrix::cqg::RiskLimits configured =
        orbrix::cqg::risk_limits_from([&](std::string_view key) { return config.get(key); });
    if (configured.any()) {
      options.risk = configured;
    }
    orbrix::telegram::TelegramBot* bot = nullptr;
    if (!config.get("TELEGRAM_TOKEN").value_or("").empty()) {
      bot = &orbrix::telegram::load_plugin(config);
      if (options.output != orbrix::demo::OutputLevel::summary) {
        // The bot has said why no chat may command it; the demo does not
        // claim otherwise.
        std::printf(bot->serves_commands()
                        ? "demo   Telegram bot running; the operator's commands are served\n"
                        : "demo   Telegram bot running, but no chat may command it: set "
                          "TELEGRAM_CHAT_ID\n");
      }
    }
    orbrix::demo::run_demo(options, interrupted, bot);
    if (bot) {
      orbrix::telegram::unload_plugin();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orbrix-demo: %s\n", e.what());
    status = 1;
  }
  std::fflush(stdout);
  return status;
}
