#include "orbrix/automation/dispatch.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "orbrix/automation/apartment.hpp"

namespace orbrix::automation {

Dispatch::Dispatch() : apartment_(Apartment::current()) {}

Dispatch::Dispatch(FreeThreaded) noexcept {}

Dispatch::~Dispatch() = default;

Cookie Dispatch::advise(const DispatchPtr&) {
  throw std::runtime_error(fmt::format("{} has no events to connect to", type_name()));
}

void Dispatch::unadvise(Cookie) {}

Variant Dispatch::invoke_by_name(std::string_view name, InvokeKind kind, Args args) {
  return invoke(get_id_of_name(name), kind, args);
}

std::string Dispatch::name_of(DispId id) const {
  return fmt::format("#{}", id);
}

}  // namespace orbrix::automation
