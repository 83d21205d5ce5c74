#pragma once

// What stamps the quotes and order books BrokerLink hands the engine, and
// the positions it lists: the machine's local time live; in a backtest the
// simulated clock's, converted the same way (BrokerLink::set_record_clock).

#include "orbrix/common/datetime.hpp"

namespace orbrix::cqg {

class RecordClock {
 public:
  virtual ~RecordClock() = default;
  // The local date-time to stamp a record of the event being handled with.
  // Called on the API host's worker only, once per event; must not block.
  virtual DateTime now() = 0;
};

}  // namespace orbrix::cqg
