#include "orbrix/cqg/vendor.hpp"

#include "orbrix/cqg/vendor_ids.hpp"
#include "orbrix/cqgsim/simulator.hpp"

namespace orbrix::cqg {

const automation::TypeLibrary& vendor_type_library() {
  // Loaded once; the simulator stands in only where nothing else has
  // registered the vendor's server and library.
  static const std::shared_ptr<const automation::TypeLibrary> library = [] {
    cqgsim::register_simulator();
    return automation::TypeLibraryRegistry::instance().load(kCqgTypeLibGuid, kCqgTypeLibMajor,
                                                            kCqgTypeLibMinor, 0);
  }();
  return *library;
}

std::int64_t vendor_constant(std::string_view name) {
  return vendor_type_library().constant(name);
}

}  // namespace orbrix::cqg
