#include "orbrix/cqg/vendor.hpp"

#include "orbrix/cqg/vendor_ids.hpp"

namespace orbrix::cqg {

const automation::TypeLibrary& vendor_type_library() {
  // Loaded once, from whatever registered it: the vendor's installation, or
  // the simulator (ApiHost registers it as the stand-in unless told not to).
  static const std::shared_ptr<const automation::TypeLibrary> library =
      automation::TypeLibraryRegistry::instance().load(kCqgTypeLibGuid, kCqgTypeLibMajor,
                                                       kCqgTypeLibMinor, 0);
  return *library;
}

std::int64_t vendor_constant(std::string_view name) {
  return vendor_type_library().constant(name);
}

}  // namespace orbrix::cqg
