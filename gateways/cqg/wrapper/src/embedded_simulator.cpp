#include "embedded_server.hpp"

#include "orbrix/cqgsim/registration.hpp"

namespace orbrix::cqg::detail {

bool embedded_server_by_default() noexcept {
  return true;
}

void register_embedded_server() {
  // A stand-in only: it never replaces a server or library someone else
  // registered.
  cqgsim::register_simulator();
}

bool is_embedded_server(const automation::Dispatch& object) noexcept {
  return cqgsim::is_simulator(object);
}

}  // namespace orbrix::cqg::detail
