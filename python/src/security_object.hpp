#pragma once

// A security record as the Python object of its kind: a base record becomes
// a Security, a futures record a Futures, and so on. The C++ records carry
// their kind as a value (the kinds add no state), so the kind is chosen
// here rather than by C++ type.

#include <pybind11/pybind11.h>

#include "orbrix/core/security.hpp"

namespace orbrix::python {

pybind11::object security_to_py(const Security& security);

}  // namespace orbrix::python
