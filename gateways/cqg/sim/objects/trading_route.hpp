#pragma once

#include "venue/trading/events.hpp"

namespace orbrix::cqgsim {

// Where an order or position event of the venue goes to be told: the
// simulator's fan-out, which holds it while the gateway connection is down.
class TradingRoute {
 public:
  virtual void deliver(const venue::TradingEvent& event) = 0;

 protected:
  ~TradingRoute() = default;
};

}  // namespace orbrix::cqgsim
