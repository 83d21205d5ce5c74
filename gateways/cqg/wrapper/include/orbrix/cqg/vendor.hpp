#pragma once

#include <cstdint>
#include <string_view>

#include "orbrix/automation/type_library.hpp"

namespace orbrix::cqg {

// The vendor's type library (CQGCEL 4.0), made available to the automation
// layer on first use: when nothing else provides "CQG.CQGCEL.4" and its
// library, the embedded simulator is registered. Any thread; throws
// std::runtime_error when the library cannot be loaded.
const automation::TypeLibrary& vendor_type_library();

// A vendor enumeration constant by name (qtAsk, csConnectionUp, tzChina).
// Throws automation::UnknownNameError for a name the library lacks.
std::int64_t vendor_constant(std::string_view name);

}  // namespace orbrix::cqg
