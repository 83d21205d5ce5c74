#include "orbrix/automation/apartment_checker.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "orbrix/automation/apartment.hpp"

namespace orbrix::automation {

ApartmentChecker::ApartmentChecker(std::string_view owner)
    : apartment_(Apartment::current()), thread_(std::this_thread::get_id()), owner_(owner) {}

bool ApartmentChecker::is_current() const noexcept {
  return apartment_ ? apartment_->is_current() : std::this_thread::get_id() == thread_;
}

void ApartmentChecker::assert_current() const {
  if (!is_current()) {
    throw std::logic_error(
        fmt::format("{} was touched off its apartment's thread (a call from another thread must "
                    "go through the apartment)",
                    owner_));
  }
}

}  // namespace orbrix::automation
