#pragma once

// The demo's strategy as an engine a backtest drives: quotes, an order book
// and one-minute bars of each symbol; the demo's few orders on the first
// symbols, timed by the run's clock; at the end every working order
// cancelled and every position given its closing order, which the backtest
// fills on the minute it works after the stop.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console.hpp"
#include "demo_gateway.hpp"
#include "demo_strategy.hpp"
#include "orbrix/cqg/engine.hpp"

namespace orbrix::demo {

class DemoStrategyEngine final : public cqg::Engine {
 public:
  // Lines go to `console`, which must outlive the engine.
  DemoStrategyEngine(std::vector<std::string> symbols, const Console& console);

  // The one-minute bars each symbol's window keeps.
  static constexpr std::int64_t kBarLookBack = 60;

  BaseGateway& gateway() override { return gateway_; }
  void start(cqg::BrokerLink& link) override;
  void on_timer(cqg::BrokerLink& link, TimePoint now) override;
  void stop(cqg::BrokerLink& link) override;

  const DemoGateway& demo_gateway() const { return gateway_; }

 private:
  std::vector<std::string> symbols_;
  const Console& console_;
  DemoGateway gateway_;
  std::optional<DemoStrategy> strategy_;
  std::optional<TimePoint> started_;
};

}  // namespace orbrix::demo
