#pragma once

#include <chrono>
#include <optional>

#include "demo_options.hpp"

namespace orbrix::cqgsim {
class SimDriver;
}  // namespace orbrix::cqgsim

namespace orbrix::demo {

class Console;
class DemoGateway;

// --drop-gateway-at: drops the simulator's gateway connection at its time
// and restores it after; restores it at the latest when the run ends, so
// the log-off finds it up. Engine thread.
class GatewayDropper {
 public:
  using Duration = std::chrono::steady_clock::duration;

  GatewayDropper(cqgsim::SimDriver& sim, std::optional<GatewayDrop> drop, DemoGateway& gateway,
                 const Console& console)
      : sim_(sim), drop_(drop), gateway_(gateway), console_(console) {}
  GatewayDropper(const GatewayDropper&) = delete;
  GatewayDropper& operator=(const GatewayDropper&) = delete;
  ~GatewayDropper();

  // Drops or restores the connection when `elapsed` into the run calls for it.
  void poll(Duration elapsed);
  // Restores a dropped connection now.
  void restore();
  // How long after `elapsed` the connection is still to be restored.
  Duration still_down_for(Duration elapsed) const;

 private:
  enum class State { waiting, dropped, restored };
  cqgsim::SimDriver& sim_;
  const std::optional<GatewayDrop> drop_;
  DemoGateway& gateway_;
  const Console& console_;
  State state_ = State::waiting;
};

}  // namespace orbrix::demo
