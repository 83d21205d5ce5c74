#pragma once

#include "orbrix/automation/dispatch.hpp"

namespace orbrix::cqg::detail {

// The stand-in vendor server built into this build of the API host: the
// simulator in the portable build, none in the Windows build (there the
// vendor's installed COM server answers "CQG.CQGCEL.4").

// Whether the stand-in is used when nothing says otherwise.
bool embedded_server_by_default() noexcept;
// Registers the stand-in under "CQG.CQGCEL.4" unless another class is
// registered there. Throws std::logic_error when this build has none.
void register_embedded_server();
// True when `object` is the stand-in (the API host then says so).
bool is_embedded_server(const automation::Dispatch& object) noexcept;

}  // namespace orbrix::cqg::detail
