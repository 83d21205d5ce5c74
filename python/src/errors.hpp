#pragma once

// Errors across the boundary. C++ errors reaching Python become: an invalid
// value ValueError, a type error TypeError, a missing key KeyError, a
// disconnection DisconnectedError (a ConnectionError), a time-out, an
// assertion or a misuse RuntimeError. A Python error raised in a hook
// becomes the matching C++ error, so the gateway treats it like its own (a
// KeyError from get_cqg_symbol_from_eng_security is the std::out_of_range
// it expects) and a Python caller gets the same kind back.

#include <pybind11/pybind11.h>

namespace orbrix::python {

// Throws the C++ error matching the Python error `e` carries. Call it with
// the GIL held.
[[noreturn]] void rethrow_as_cpp(const pybind11::error_already_set& e);

}  // namespace orbrix::python
