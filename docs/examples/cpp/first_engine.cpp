// Your first engine in C++: log on to the simulator, subscribe EP's quotes,
// place a market order, print what the hooks hear for a few seconds.
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "orbrix/core/base_gateway.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"

class Engine final : public orbrix::BaseGateway {
 public:
  Engine() { cqg_quotes().add_key(ep); }  // the securities whose quotes the gateway keeps
  // The vendor names a contract "F.US.EPZ26"; the engine knows it as EP.
  std::optional<orbrix::Security> get_eng_security_from_cqg_symbol(std::string_view s) override {
    return s.find("EP") != std::string_view::npos ? std::optional(ep) : std::nullopt;
  }
  std::string get_cqg_symbol_from_eng_security(const orbrix::Security&) override { return "EP"; }
  // The hooks run on the API host's worker thread: keep them short.
  void process_quote(const orbrix::Quote& q) override {
    std::printf("quote %.2f / %.2f\n", q.bid_price(), q.ask_price());
  }
  void process_orderbook(const orbrix::OrderBook&) override {}
  void process_order(const orbrix::OrderUpdate& u) override {
    std::printf("order %s %s\n", u.order_id.c_str(), orbrix::to_text(u.status).c_str());
  }
  void process_deal(const orbrix::Deal& d) override {
    std::printf("deal  %g @ %.2f\n", d.filled_quantity, d.filled_avg_price);
  }

  const orbrix::Security ep = orbrix::Futures("EP", "E-mini S&P 500");
};

int main() {
  orbrix::cqg::ApiHost host;  // starts the worker; the simulator stands in for CQGCEL
  auto link = host.Init<orbrix::cqg::BrokerLink>(nullptr);
  Engine engine;
  engine.set_apiHost(&host);
  link->Init(engine);
  link->Logon("user", "secret");
  link->subscribe_account_and_positions(100001);  // the simulator's paper account
  link->subscribe_quote("EP");
  link->place_order(
      orbrix::Order(engine.ep, orbrix::OrderType::MARKET, orbrix::Direction::LONG, 1));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  link->Logoff();
  host.Shutdown();
}
