#pragma once

#include <chrono>
#include <string>

#include "orbrix/core/order.hpp"

namespace orbrix::cqg {
class BrokerLink;
}  // namespace orbrix::cqg

namespace orbrix::demo {

class Console;
class DemoGateway;

// The demo's strategy: a few orders of each kind on the first symbol, one
// short on the second, the resting limit cancelled; the close-out at the
// end cancels and closes the rest. Engine thread.
class DemoStrategy {
 public:
  DemoStrategy(cqg::BrokerLink& link, DemoGateway& gateway, const Console& console)
      : link_(link), gateway_(gateway), console_(console) {}

  // Acts on the first symbol's book, `elapsed` into the run.
  void step(std::chrono::steady_clock::duration elapsed);

 private:
  std::string place(const Order& order);
  void cancel(const std::string& id);

  cqg::BrokerLink& link_;
  DemoGateway& gateway_;
  const Console& console_;
  int stage_ = 0;
  std::chrono::steady_clock::duration started_{};
  std::string resting_;
};

}  // namespace orbrix::demo
