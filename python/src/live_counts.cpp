#include "live_counts.hpp"

#include <pybind11/stl.h>

#include <map>
#include <string>

#include "bindings.hpp"

namespace orbrix::python {

LiveCounts& live_counts() noexcept {
  static LiveCounts counts;
  return counts;
}

void bind_live_counts(py::module_& m) {
  m.def(
      "_live_objects",
      [] {
        auto& c = live_counts();
        return std::map<std::string, long>{
            {"hosts", c.hosts.load()}, {"gateways", c.gateways.load()}, {"links", c.links.load()}};
      },
      "Hosts, Python gateways and links not yet released (for leak checks).");
}

}  // namespace orbrix::python
