// Your first backtest in C++: an orbrix::cqg::Engine that buys one EP
// contract at its first timer and sells it ten minutes later, run over a
// recorded history on the simulator's clock. Usage: first_backtest HISTORY.csv
#include <cstdio>
#include <optional>
#include <string>

#include "orbrix/backtest/backtest.hpp"
#include "orbrix/backtest/report.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/engine.hpp"

namespace {

class Gateway final : public orbrix::BaseGateway {
 public:
  Gateway() { cqg_quotes().add_key(ep); }
  std::optional<orbrix::Security> get_eng_security_from_cqg_symbol(std::string_view s) override {
    return s.find("EP") != std::string_view::npos ? std::optional(ep) : std::nullopt;
  }
  std::string get_cqg_symbol_from_eng_security(const orbrix::Security&) override { return "EP"; }
  void process_quote(const orbrix::Quote&) override {}
  void process_orderbook(const orbrix::OrderBook&) override {}
  void process_order(const orbrix::OrderUpdate&) override {}
  void process_deal(const orbrix::Deal&) override {}

  const orbrix::Security ep = orbrix::Futures("EP", "E-mini S&P 500");
};

class BuyAndHold final : public orbrix::cqg::Engine {
 public:
  orbrix::BaseGateway& gateway() override { return gateway_; }
  std::chrono::milliseconds interval() const override { return std::chrono::minutes(1); }
  void start(orbrix::cqg::BrokerLink& link) override { link.subscribe_quote("EP"); }
  // `now` is the run's time: in a backtest the simulated clock's.
  void on_timer(orbrix::cqg::BrokerLink& link, TimePoint) override {
    if (++minutes_ == 1 || minutes_ == 11) {
      const auto side = minutes_ == 1 ? orbrix::Direction::LONG : orbrix::Direction::SHORT;
      link.place_order(orbrix::Order(gateway_.ep, orbrix::OrderType::MARKET, side, 1));
    }
  }

 private:
  Gateway gateway_;
  int minutes_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: first_backtest HISTORY.csv\n");
    return 2;
  }
  BuyAndHold engine;
  orbrix::backtest::BacktestOptions options;
  options.histories = {{"EP", argv[1]}};
  options.warm_up = std::chrono::minutes(0);
  options.trace_log = "first_backtest_trace.log";
  const auto result = orbrix::backtest::run_backtest(engine, options);
  std::fputs(orbrix::backtest::summary_text(result).c_str(), stdout);
}
