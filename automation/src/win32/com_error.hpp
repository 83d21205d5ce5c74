#pragma once

#include <string>
#include <string_view>

#include "com.hpp"

namespace orbrix::automation::win32 {

// Raises the exception the portable layer raises for the same failure:
// UnknownNameError for an unknown member, TypeError for a type mismatch,
// std::invalid_argument for bad arguments, DisconnectedError,
// CallTimeoutError, ClassNotRegisteredError, ApartmentError, and otherwise
// std::runtime_error. A server's exception (DISP_E_EXCEPTION) keeps the
// EXCEPINFO description as its whole text; other failures read
// "<context>: <system message> (0x<code>)". The EXCEPINFO strings are freed.
[[noreturn]] void raise_com_error(HRESULT hr, std::string_view context, EXCEPINFO* info = nullptr);

// The system's text for an HRESULT, "0x80020006" when it has none.
std::string describe_hresult(HRESULT hr);

}  // namespace orbrix::automation::win32
