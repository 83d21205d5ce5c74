#pragma once

// The API hosts Python made, and what their Python objects hold.
//
// Ownership, as the garbage collector sees it: the host's Python object
// holds its link's (attribute `_link`), and the link's holds its gateway's
// (`_gateway`), so a cycle through the engine's objects (a gateway that
// keeps its host, a class whose module globals hold the host) is one the
// collector can free. Collecting a host or a link first shuts the host down
// (the worker is joined before the gateway can go), and Shutdown drops both
// references. The link's C++ object keeps the C++ host alive (through its
// holder's deleter), never the other way round.

#include <pybind11/pybind11.h>

#include <memory>

#include "live_counts.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"

namespace orbrix::python {

// The Python object of an API host owns it through this handle: releasing
// the last one shuts the host down with the GIL released.
using HostHandle = std::shared_ptr<cqg::ApiHost>;

// What the link ApiHost.Init returns keeps besides the C++ link.
struct LinkKeeps {
  HostHandle host;
  std::shared_ptr<Counted> counted;
};

// Shuts `host` down (GIL released) unless it is not running; false, with
// nothing done, on the host's own worker, where it cannot. GIL held.
bool shut_down_before_release(const HostHandle& host);

// The host a link made by ApiHost.Init keeps alive, or null (a backtest's
// link keeps none).
HostHandle host_kept_by_link(const std::shared_ptr<cqg::BrokerLink>& link);

// Shuts down every host Python made that is still running, each with the
// GIL released (the module registers it with atexit, so no hook is left
// running when the interpreter finalizes). GIL held.
void shut_down_live_hosts();

}  // namespace orbrix::python
