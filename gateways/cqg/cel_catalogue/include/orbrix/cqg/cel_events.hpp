#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orbrix::cqg {

// The vendor's events in catalogue order (cel_events.def), with their names
// and parameter counts: what both the sinks and the simulator build on.
enum class CelEvent : std::uint16_t {
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
inline constexpr std::size_t kCelEventCount = static_cast<std::size_t>(CelEvent::kCount);

struct CelEventInfo {
  std::string_view name;
  int params;
};

inline constexpr std::array<CelEventInfo, kCelEventCount> kCelEvents{{
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

constexpr std::string_view cel_event_name(CelEvent event) noexcept {
  return kCelEvents[static_cast<std::size_t>(event)].name;
}

constexpr int cel_event_param_count(CelEvent event) noexcept {
  return kCelEvents[static_cast<std::size_t>(event)].params;
}

}  // namespace orbrix::cqg
