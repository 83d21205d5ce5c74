#pragma once

// What the API host needs of the simulator: to register it as the stand-in
// for the vendor's server, and to tell it apart from the real one.

namespace orbrix::automation {
class Dispatch;
}  // namespace orbrix::automation

namespace orbrix::cqgsim {

class SimControls;

// Registers the simulator as "CQG.CQGCEL.4" (only if nothing else is) and
// its type library as a fallback (a library someone else registers under the
// same identity wins), with default_controls(). Idempotent; any thread.
void register_simulator();
SimControls& default_controls();

// True when `object` is a simulator instance (not the vendor's CQGCEL).
bool is_simulator(const automation::Dispatch& object) noexcept;

}  // namespace orbrix::cqgsim
