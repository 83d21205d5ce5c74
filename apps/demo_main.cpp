// orbrix-demo: a small engine over the CQGCEL simulator. It hosts the vendor
// object in its apartment, connects a sink, starts the vendor library and
// shows what arrives. With TELEGRAM_TOKEN configured it also runs the
// Telegram control bot and serves the operator's requests from this thread
// until /stop (or --seconds pass), then shuts everything down.
//
//   orbrix-demo [--seconds N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "demo_engine.hpp"
#include "orbrix/config/orbrix_config.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/telegram/plugin.hpp"

namespace {

using orbrix::cqg::Trace;

// The demo's sink: reports the vendor's start and data errors as they come.
class DemoSink : public orbrix::cqg::CELSinkBase {
 public:
  void OnCELStarted() override { Trace("demo: the vendor library reports it has started"); }
  void OnDataError(const orbrix::cqg::Variant&, const orbrix::cqg::Variant& description) override {
    Trace("demo: data error: " + description.to_text());
  }
  std::string_view type_name() const noexcept override { return "DemoSink"; }
};

// With the bot the demo serves until /stop, or for an hour at most unless
// --seconds says otherwise.
std::chrono::seconds run_time(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string_view(argv[i]) == "--seconds") {
      return std::chrono::seconds(std::strtol(argv[i + 1], nullptr, 10));
    }
  }
  return std::chrono::hours(1);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const auto config = orbrix::config::Config::load();
    const bool has_bot = !config.get("TELEGRAM_TOKEN").value_or("").empty();

    orbrix::cqg::ApiHost host;
    auto sink = host.Init<DemoSink>(nullptr);
    if (host.errorHappened) {
      host.Shutdown();
      std::fprintf(stderr, "orbrix-demo: the vendor library reported an error at start-up\n");
      return 1;
    }

    orbrix::demo::DemoEngine engine;
    if (has_bot) {
      auto& bot = orbrix::telegram::load_plugin(config);
      orbrix::cqg::WriteLine("demo: Telegram bot running; send /balance, /positions or /stop");
      engine.serve_until_stopped(bot, run_time(argc, argv));
      orbrix::telegram::unload_plugin();
    } else {
      orbrix::cqg::WriteLine("demo: TELEGRAM_TOKEN is not set; the Telegram bot is not started");
    }
    host.Shutdown();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orbrix-demo: %s\n", e.what());
    return 1;
  }
}
