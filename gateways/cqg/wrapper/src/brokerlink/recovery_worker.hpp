#pragma once

// The supervisor behind BrokerLink::enable_recovery (see recovery.hpp): a
// thread that waits for a dropped gateway connection, logs on again with
// back-off and restores what was live.

#include <chrono>
#include <thread>

#include "orbrix/common/mutex.hpp"
#include "orbrix/cqg/broker_link.hpp"

namespace orbrix::cqg {

class BrokerLink::Recovery {
 public:
  Recovery(BrokerLink& link, RecoveryOptions options);
  // Stops the thread and waits for it (an attempt under way ends at its
  // next step). Not on the API host's worker.
  ~Recovery();
  Recovery(const Recovery&) = delete;
  Recovery& operator=(const Recovery&) = delete;

  // Worker thread, from the connection handler: the gateway went down
  // without a Logoff / came up.
  void connection_lost();
  void connection_up();
  // Logoff: the recovery under way, if any, stops.
  void stop();

 private:
  enum class Wake { time, stopped, up };
  void run();
  // One recovery, from the drop to restored or given up.
  void recover();
  // Sleeps `d` or until stopped; false when stopped.
  bool pause(std::chrono::milliseconds d);
  // Waits up to the link's time-out for an up report; false without one.
  Wake wait_for_up();
  bool stopped() const EXCLUDES(mutex_);
  // Whether the gateway dropped since the up report the restore began with.
  bool dropped_again() const EXCLUDES(mutex_);
  std::chrono::milliseconds logon_wait() const;
  void restore();

  BrokerLink& link_;
  const RecoveryOptions options_;

  mutable Mutex mutex_;
  CondVar cv_;
  bool lost_ GUARDED_BY(mutex_) = false;     // a drop not yet recovered from
  bool up_ GUARDED_BY(mutex_) = false;       // an up report since the last log-on attempt
  bool abandon_ GUARDED_BY(mutex_) = false;  // Logoff: the recovery under way stops
  bool ending_ GUARDED_BY(mutex_) = false;   // the destructor
  std::thread thread_;
};

}  // namespace orbrix::cqg
