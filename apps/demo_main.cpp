// orbrix-demo: a small engine over the CQGCEL simulator. It hosts the vendor
// object, logs on, subscribes an account, quotes, order books and one-minute
// bars, runs a tiny strategy with limit, market and stop orders, prints what
// arrives, and ends after --seconds (20 by default), on Ctrl-C or on the
// operator's /stop, with a summary. With TELEGRAM_TOKEN configured it also
// runs the Telegram control bot and serves its requests through the gateway.
//
//   orbrix-demo [--seconds N] [--symbols EP,ENQ,GCE] [--seed N] [--history FILE]
//               [--account N] [--quiet]
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "demo_run.hpp"
#include "orbrix/config/orbrix_config.hpp"
#include "orbrix/cqg/trace.hpp"
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
  std::FILE* devnull = nullptr;
  if (options.quiet) {
    devnull = std::fopen("/dev/null", "w");
    // The gateway's own trace lines go; the demo's lines and summary stay.
    orbrix::cqg::set_output_stream(devnull);
  }
  int status = 0;
  try {
    const auto config = orbrix::config::Config::load();
    orbrix::telegram::TelegramBot* bot = nullptr;
    if (!config.get("TELEGRAM_TOKEN").value_or("").empty()) {
      bot = &orbrix::telegram::load_plugin(config);
      std::printf("demo: Telegram bot running; the operator's commands are served\n");
    }
    orbrix::demo::run_demo(options, interrupted, bot);
    if (bot) {
      orbrix::telegram::unload_plugin();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orbrix-demo: %s\n", e.what());
    status = 1;
  }
  if (devnull) {
    orbrix::cqg::set_output_stream(nullptr);
    std::fclose(devnull);
  }
  std::fflush(stdout);
  return status;
}
