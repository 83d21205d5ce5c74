// Logs on through the installed gateway over its embedded simulator,
// subscribes a quote, waits for one, logs off and shuts down.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "orbrix/core/base_gateway.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/telegram/telegram_bot.hpp"

namespace {

class Engine final : public orbrix::BaseGateway {
 public:
  Engine() { cqg_quotes().add_key(ep); }
  std::optional<orbrix::Security> get_eng_security_from_cqg_symbol(std::string_view s) override {
    return s.rfind("EP", 0) == 0 ? std::optional<orbrix::Security>(ep) : std::nullopt;
  }
  std::string get_cqg_symbol_from_eng_security(const orbrix::Security&) override { return "EP"; }
  void process_quote(const orbrix::Quote&) override { ++quotes; }
  void process_orderbook(const orbrix::OrderBook&) override {}
  void process_order(const orbrix::OrderUpdate&) override {}
  void process_deal(const orbrix::Deal&) override {}

  const orbrix::Security ep = orbrix::Futures("EP", "E-mini S&P 500");
  std::atomic<int> quotes{0};
};

}  // namespace

int main() {
  std::printf("consumer: %s\n", std::string(orbrix::cqg::BrokerLink::description).c_str());
  orbrix::cqg::ApiHost host;
  auto link = host.Init<orbrix::cqg::BrokerLink>(nullptr);
  Engine engine;
  engine.set_apiHost(&host);
  link->Init(engine);
  link->Logon("consumer", "consumer");
  link->subscribe_quote("EP");
  for (int i = 0; i < 100 && engine.quotes == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  link->unsubscribe_quote("EP");
  link->Logoff();
  host.Shutdown();
  std::printf("consumer: %d quotes\n", engine.quotes.load());
  return engine.quotes > 0 ? 0 : 1;
}
