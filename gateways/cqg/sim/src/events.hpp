#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace orbrix::cqgsim {

// The vendor's event catalogue as the simulator fires it; the event id of
// entry i is i + 1.
enum class SimEvent : std::uint16_t {
#define CEL_EVENT0(name) name,
#define CEL_EVENT1(name, ...) name,
#define CEL_EVENT2(name, ...) name,
#define CEL_EVENT3(name, ...) name,
#define CEL_EVENT4(name, ...) name,
#define CEL_EVENT5(name, ...) name,
#include "orbrix/cqg/cel_events.def"
#undef CEL_EVENT0
#undef CEL_EVENT1
#undef CEL_EVENT2
#undef CEL_EVENT3
#undef CEL_EVENT4
#undef CEL_EVENT5
  kCount
};

struct SimEventInfo {
  std::string_view name;
  int params;
};

inline constexpr std::array<SimEventInfo, static_cast<std::size_t>(SimEvent::kCount)> kSimEvents{{
#define CEL_EVENT0(name) {#name, 0},
#define CEL_EVENT1(name, ...) {#name, 1},
#define CEL_EVENT2(name, ...) {#name, 2},
#define CEL_EVENT3(name, ...) {#name, 3},
#define CEL_EVENT4(name, ...) {#name, 4},
#define CEL_EVENT5(name, ...) {#name, 5},
#include "orbrix/cqg/cel_events.def"
#undef CEL_EVENT0
#undef CEL_EVENT1
#undef CEL_EVENT2
#undef CEL_EVENT3
#undef CEL_EVENT4
#undef CEL_EVENT5
}};

constexpr std::int32_t event_id(SimEvent e) {
  return static_cast<std::int32_t>(e) + 1;
}

}  // namespace orbrix::cqgsim
