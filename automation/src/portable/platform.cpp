// The portable backend: no platform COM behind the layer.

#include "../platform.hpp"

#include "orbrix/automation/type_library.hpp"

namespace orbrix::automation::detail {

void attach_thread(Apartment&) {}

void detach_thread(Apartment&) noexcept {}

DispatchPtr create_native_object(std::string_view) {
  return nullptr;
}

std::shared_ptr<const TypeLibrary> load_native_type_library(std::string_view, int, int,
                                                            std::uint32_t) {
  return nullptr;
}

}  // namespace orbrix::automation::detail
