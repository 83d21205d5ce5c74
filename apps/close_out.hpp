#pragma once

// The end of a trading run: every working order cancelled and every open
// position closed, waited for until the account reads flat.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orbrix/core/order.hpp"
#include "orbrix/core/position.hpp"

namespace orbrix::cqg {
class BrokerLink;
}  // namespace orbrix::cqg

namespace orbrix::demo {

class DemoGateway;

struct CloseOutResult {
  // No order the engine placed works and the positions, read after the
  // last of them ended, are none. Never true on a guess: false whenever the
  // positions could not be read then.
  bool flat = false;
  std::vector<Order> working;  // still working at the end
  // Open at the last read; none when no read succeeded since the last
  // change, and then `positions_error` says why.
  std::optional<std::vector<PositionData>> positions;
  std::string positions_error;
};

// Until when close_out waits: the account flat, or the closing orders placed
// (where the clock that fills them does not move while it waits: a backtest's
// stands still during the engine's stop, and works them after it).
enum class CloseOutUntil { flat, closing_placed };

// Cancels the working orders of `gateway`'s records, waits until none
// works, reads the positions, closes each open one with a market order,
// waits for those to fill and reads again, until the account is flat (or,
// with CloseOutUntil::closing_placed, a closing order is placed for every
// open position, which are then left in `working`) or `wait` says the time
// is up. While the session is not ready (the gateway
// dropped and not yet restored) it only waits. A cancel still unanswered
// after 20 waits is sent again. `wait` blocks for one step and returns
// false once the bound is reached; `say` gets one line per action. Engine
// thread; blocks in `wait` and in the gateway's calls; raises nothing the
// gateway raises (each is said and tried again on a later step).
CloseOutResult close_out(cqg::BrokerLink& link, DemoGateway& gateway,
                         const std::function<bool()>& wait,
                         const std::function<void(const std::string&)>& say,
                         CloseOutUntil until = CloseOutUntil::flat);

}  // namespace orbrix::demo
