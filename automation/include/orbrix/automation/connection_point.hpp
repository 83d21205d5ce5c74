#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix::automation {

// The sinks connected to one outgoing (event) interface of a source object.
// fire() calls every sink's invoke with the event's id and arguments, on the
// calling thread (the source's apartment). A sink that throws is reported
// (report_error) and the other sinks still get the event.
class ConnectionPoint {
 public:
  Cookie advise(DispatchPtr sink);
  void unadvise(Cookie cookie);
  void unadvise_all();
  // Snapshot of the sinks, then one invoke per sink: no allocation per event.
  void fire(DispId event, Args args) const;
  std::size_t size() const;

 private:
  using Sinks = std::vector<std::pair<Cookie, DispatchPtr>>;
  mutable Mutex mutex_;
  std::shared_ptr<const Sinks> sinks_ GUARDED_BY(mutex_) = std::make_shared<const Sinks>();
  Cookie next_cookie_ GUARDED_BY(mutex_) = 1;
};

}  // namespace orbrix::automation
