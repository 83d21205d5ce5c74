#pragma once

#include <vector>

#include "objects/session.hpp"
#include "objects/trading_route.hpp"
#include "orbrix/automation/variant.hpp"

namespace orbrix::cqgsim {

// The simulated CQGCEL's connections: Startup and Shutdown, the gateway's
// log-on and log-off, and the gateway and data connections the controls drop
// and restore. While the gateway is down, order and position events wait
// here and follow the up report of the next log-on.
//
// Thread: the session's.
class Connection {
 public:
  Connection(Session& session, TradingRoute& trading) : session_(session), trading_(trading) {}

  void startup();
  // Shuts the session down, after the fault plan's shutdown delay (wall
  // clock, this thread held).
  void shutdown();
  void gw_logon(const automation::Variant& user, const automation::Variant& password);
  void gw_logoff();

  // For the controls.
  void set_gateway_dropped(bool dropped);
  void set_data_dropped(bool dropped);

  bool gateway_dropped() const { return gateway_dropped_; }
  // Quotes, ticks and bars reach a client only over both connections.
  bool carries_market_data() const { return !gateway_dropped_ && !data_dropped_; }
  // While the gateway is down, keeps `event` for after the next log-on and
  // returns true.
  bool hold(const venue::TradingEvent& event);

 private:
  Session& session_;
  TradingRoute& trading_;
  bool logged_on_ = false;  // an up report sent, and no down since
  bool gateway_dropped_ = false;
  bool data_dropped_ = false;
  std::vector<venue::TradingEvent> held_;
};

}  // namespace orbrix::cqgsim
