#pragma once

#include <memory>

#include "orbrix/cqg/api_host.hpp"

namespace orbrix::python {

// The Python object of an API host owns it through this handle: releasing
// the last one shuts the host down with the GIL released.
using HostHandle = std::shared_ptr<cqg::ApiHost>;

}  // namespace orbrix::python
