// A market-history file as a user hands it to the simulator.
#include <cstdint>
#include <sstream>
#include <string>

#include "venue/market/catalogue.hpp"
#include "venue/market/history.hpp"
#include "venue/price.hpp"

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
    // Replayed by a coarse and a very fine tick: what passes holds prices the
    // venue can keep in ticks.
    using namespace orbrix::cqgsim::venue;
    static const auto ep = Catalogue::standard_contract("EP");
    static const auto jy = Catalogue::standard_contract("JY6");
    for (const auto& contract : {ep, jy}) {
      try {
        replay_check(h, *contract);
        const auto holds = [&](double price) {
          return static_cast<bool>(
              checked_ticks(price, contract->tick_size, "price", PriceSign::Any));
        };
        for (const auto& q : h.quotes) {
          if (!holds(q.bid) || !holds(q.ask) || (q.last_price && !holds(*q.last_price))) {
            __builtin_trap();
          }
        }
        for (const auto& b : h.bars) {
          if (!holds(b.open) || !holds(b.high) || !holds(b.low) || !holds(b.close)) {
            __builtin_trap();
          }
        }
      } catch (const HistoryError&) {
      }
    }
  } catch (const orbrix::cqgsim::venue::HistoryError&) {
  }
  return 0;
}
