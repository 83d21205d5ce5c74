#pragma once

#include <string_view>

namespace orbrix::cqg {

// Identity of the vendor's automation server and its type library.
inline constexpr std::string_view kCqgProgId = "CQG.CQGCEL.4";
inline constexpr std::string_view kCqgTypeLibGuid = "{51F35562-AEB4-4AB3-99E8-AC9666344B64}";
inline constexpr int kCqgTypeLibMajor = 4;
inline constexpr int kCqgTypeLibMinor = 0;
// The outgoing interface that carries CQGCEL's events.
inline constexpr std::string_view kCqgEventInterface = "_ICQGCELEvents";

}  // namespace orbrix::cqg
