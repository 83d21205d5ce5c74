#pragma once

// What the automation layer's backend supplies: the portable one
// (src/portable/), or the Windows one over real COM (src/win32/). Private to
// the layer.

#include <cstdint>
#include <memory>
#include <string_view>

#include "orbrix/automation/dispatch.hpp"

namespace orbrix::automation {

class Apartment;
class TypeLibrary;

namespace detail {

// Called by co_initialize on the thread, for its new apartment, and after the
// apartment shut down on that thread. Windows: CoInitialize and the message
// window; CoUninitialize. The portable backend needs neither.
void attach_thread(Apartment& apartment);
void detach_thread(Apartment& apartment) noexcept;

// Creation by ProgID of a class the process did not register with
// ClassRegistry; null when the backend has none of that name (portable: never
// any). Windows: CLSIDFromProgID and CoCreateInstance.
DispatchPtr create_native_object(std::string_view prog_id);

// A type library the process did not register with TypeLibraryRegistry;
// null when the backend has none (portable: never any). Windows:
// LoadRegTypeLib, read into a TypeLibrary.
std::shared_ptr<const TypeLibrary> load_native_type_library(std::string_view guid, int major,
                                                            int minor, std::uint32_t lcid);

}  // namespace detail
}  // namespace orbrix::automation
