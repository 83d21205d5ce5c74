#include <stdexcept>

#include "../embedded_server.hpp"

namespace orbrix::cqg::detail {

// On Windows "CQG.CQGCEL.4" is the vendor's installed server; the simulator
// is not part of this build.
bool embedded_server_by_default() noexcept {
  return false;
}

void register_embedded_server() {
  throw std::logic_error(
      "the CQGCEL simulator is not part of the Windows build: unset ORBRIX_CQG_SIMULATOR (or set "
      "it to off) to use the vendor's installed server");
}

bool is_embedded_server(const automation::Dispatch&) noexcept {
  return false;
}

}  // namespace orbrix::cqg::detail
