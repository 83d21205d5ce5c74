#pragma once

// Vendor values across the boundary: a Variant as None, bool, int, float,
// str, datetime or VendorObject, and back.

#include <pybind11/pybind11.h>

#include "orbrix/automation/object.hpp"
#include "orbrix/automation/variant.hpp"

namespace orbrix::python {

pybind11::object variant_to_py(const automation::Variant& value);
// Raises TypeError for a Python value no Variant holds.
automation::Variant variant_from_py(const pybind11::handle& value);

}  // namespace orbrix::python
