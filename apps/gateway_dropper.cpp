#include "gateway_dropper.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "console.hpp"
#include "demo_gateway.hpp"
#include "display_time.hpp"
#include "orbrix/core/safe_call.hpp"
#include "orbrix/cqgsim/driver.hpp"

namespace orbrix::demo {

GatewayDropper::~GatewayDropper() {
  if (state_ == State::dropped) {
    safe_call([this] { sim_.restore_gateway(); });
  }
}

void GatewayDropper::poll(Duration elapsed) {
  if (!drop_) {
    return;
  }
  if (state_ == State::waiting && elapsed >= drop_->at) {
    console_.event(fmt::format("drop   the simulator drops the gateway connection for {:.1f} s",
                               std::chrono::duration<double>(drop_->length).count()));
    sim_.drop_gateway();
    state_ = State::dropped;
  } else if (state_ == State::dropped && elapsed >= drop_->at + drop_->length) {
    restore();
  }
}

void GatewayDropper::restore() {
  if (state_ != State::dropped) {
    return;
  }
  sim_.restore_gateway();
  gateway_.gateway_restored_by_simulator();
  state_ = State::restored;
  console_.event(fmt::format("drop   the simulator restored the gateway connection  {}",
                             local_text(utc_now())));
}

GatewayDropper::Duration GatewayDropper::still_down_for(Duration elapsed) const {
  if (!drop_ || state_ == State::restored) {
    return {};
  }
  return std::max(Duration{}, drop_->at + drop_->length - elapsed);
}

}  // namespace orbrix::demo
