// A market-history file as a user hands it to the simulator.
#include <cstdint>
#include <sstream>
#include <string>

#include "venue/market/history.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    const auto h = orbrix::cqgsim::venue::parse_history(in, "fuzz.csv");
    // What was accepted keeps the promises the replay relies on.
    for (std::size_t i = 1; i < h.quotes.size(); ++i) {
      if (h.quotes[i].time < h.quotes[i - 1].time || !(h.quotes[i].bid < h.quotes[i].ask)) {
        __builtin_trap();
      }
    }
    for (const auto& b : h.bars) {
      if (b.low > b.high || b.volume < 0) {
        __builtin_trap();
      }
    }
  } catch (const orbrix::cqgsim::venue::HistoryError&) {
  }
  return 0;
}
