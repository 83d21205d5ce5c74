#pragma once

#include <cstdint>
#include <string_view>

#include "orbrix/automation/type_library.hpp"

namespace orbrix::cqg {

// The vendor's type library (CQGCEL 4.0) as registered with the automation
// layer (by the vendor's installation, or by the simulator standing in for
// it), loaded on first use and kept. Any thread; throws std::runtime_error
// when no such library is registered.
const automation::TypeLibrary& vendor_type_library();

// A vendor enumeration constant by name (qtAsk, csConnectionUp, tzChina).
// Throws automation::UnknownNameError for a name the library lacks.
std::int64_t vendor_constant(std::string_view name);

}  // namespace orbrix::cqg
