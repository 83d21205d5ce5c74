#include "demo_backtest_engine.hpp"

#include <thread>

#include "close_out.hpp"
#include "orbrix/cqg/broker_link.hpp"

namespace orbrix::demo {

DemoStrategyEngine::DemoStrategyEngine(std::vector<std::string> symbols, const Console& console)
    : symbols_(std::move(symbols)), console_(console), gateway_(symbols_, console) {}

void DemoStrategyEngine::start(cqg::BrokerLink& link) {
  for (const auto& s : symbols_) {
    link.subscribe_quote(s);
    link.subscribe_orderbook(s);
    link.subscribe_bar(s, kBarLookBack, "1Min");
  }
  strategy_.emplace(link, gateway_, console_);
}

void DemoStrategyEngine::on_timer(cqg::BrokerLink&, TimePoint now) {
  if (!started_) {
    started_ = now;
  }
  strategy_->step(std::chrono::duration_cast<std::chrono::steady_clock::duration>(now - *started_));
}

void DemoStrategyEngine::stop(cqg::BrokerLink& link) {
  // Cancels are answered at once; the wait only lets the worker tell the
  // gateway of them. The closing orders fill on the minute the backtest
  // works after the stop (its clock stands still meanwhile): waiting for
  // them here would only pass the machine's time.
  int steps = 0;
  close_out(
      link, gateway_,
      [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return ++steps < 500;
      },
      [&](const std::string& line) { console_.event(line); }, CloseOutUntil::closing_placed);
}

}  // namespace orbrix::demo
